// Acquisition control in the window: device selection, start, stop, the status panel, failed
// activation and sends, and the hand-over of received datagrams.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QTest>

#include "core/protocol/datagram.h"
#include "net/udp_endpoint.h"
#include "netsim/udp_device_server.h"
#include "tests/ui/capture_test_support.h"

namespace uitest {
namespace {

const auto kGD = bytes({'G', 'D'});
const osc::DeviceId kId{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

std::vector<std::uint8_t> toVector(std::span<const std::uint8_t> s) {
    return {s.begin(), s.end()};
}

class Acquisition : public CaptureTest {
  protected:
    void addDevices() {
        ComboBox1()->addItem(QStringLiteral("КП-1 (IP:10.0.0.5)"));
        ComboBox1()->addItem(QStringLiteral("КП-4"));
    }
    void select(int index) {
        ComboBox1()->setCurrentIndex(index);
        ui::guarded(frmMain, [] { frmMain->ComboBox1Change(); });
    }
    void identify(const osc::DeviceId& id) {
        std::vector<std::uint8_t> reply{'G', 0};
        reply.insert(reply.end(), id.begin(), id.end());
        endpoint->inject(reply);
        settle();
    }
};

TEST_F(Acquisition, SelectionStopsThePreviousDeviceAndAsksForTheIdentity) {
    addDevices();
    select(0);
    ASSERT_EQ(endpoint->sent.size(), 2u);
    EXPECT_EQ(endpoint->sent[0].address, "");  // the stop for the previous (no) device
    EXPECT_EQ(endpoint->sent[0].bytes, toVector(osc::stopCommand({})));
    EXPECT_EQ(endpoint->sent[1].address, "10.0.0.5");
    EXPECT_EQ(endpoint->sent[1].bytes, kGD);
    EXPECT_EQ(frmMain->acquisition().deviceAddress(), QStringLiteral("10.0.0.5"));

    frmMain->Timer1Timer();
    EXPECT_EQ(Panel1()->text(), QStringLiteral("???"));
    identify(kId);
    frmMain->Timer1Timer();
    EXPECT_EQ(Panel1()->text(), QStringLiteral("IP=10.0.0.5 MAC=00:1A:2B:3C:4D:5E"));

    // The next selection stops this device with its identity, then forgets it.
    select(1);
    EXPECT_EQ(endpoint->sent[2].address, "10.0.0.5");
    EXPECT_EQ(endpoint->sent[2].bytes, toVector(osc::stopCommand(kId)));
    EXPECT_EQ(endpoint->sent[3].address, "");  // an entry without an address part
    EXPECT_TRUE(osc::isZero(frmMain->engine().state.FDeviceId));
}

TEST_F(Acquisition, StartWithoutIdentityRunsTheSelectionFirst) {
    addDevices();
    ComboBox1()->setCurrentIndex(0);
    cbTraceEnabled()->setChecked(true);
    frmMain->traceLog().appendLine(QStringLiteral("23 "));
    frmMain->measurement().setMarkerX(512);
    frmMain->actOSCstartExecute();
    ASSERT_EQ(endpoint->sent.size(), 3u);
    EXPECT_EQ(endpoint->sent[0].bytes, toVector(osc::stopCommand({})));
    EXPECT_EQ(endpoint->sent[1].bytes, kGD);
    EXPECT_EQ(endpoint->sent[2].address, "10.0.0.5");
    EXPECT_EQ(endpoint->sent[2].bytes, bytes({0x44, 0x44, 0, 0, 0, 0, 0, 0, 0x36}));
    // Traces restarted with their first points, log cleared, marker reset, window 0..100 bits.
    for (int c = 0; c < 4; ++c) {
        const osc::ChannelTrace& t = frmMain->engine().traces[static_cast<std::size_t>(c)];
        ASSERT_EQ(t.count(), 1u) << c;
        EXPECT_EQ(t.x(0), 0);
        EXPECT_EQ(t.y(0), osc::kChannels[static_cast<std::size_t>(c)].levelSet);
    }
    EXPECT_EQ(frmMain->traceLog().lineCount(), 0);
    EXPECT_EQ(frmMain->measurement().markerX(), 0);
    EXPECT_EQ(frmMain->engine().window.minimum(), 0);
    EXPECT_EQ(frmMain->engine().window.maximum(), 25600);

    // With the identity known, start sends only the start command.
    identify(kId);
    frmMain->actOSCstartExecute();
    ASSERT_EQ(endpoint->sent.size(), 4u);
    EXPECT_EQ(endpoint->sent[3].bytes, toVector(osc::startCommand(kId)));
}

TEST_F(Acquisition, StopTwiceGivesTwoSetsOfClosingPoints) {
    frmMain->actOSCstartExecute();
    // Two periods with the transmit bit set in the second.
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x04, 0, 0x44, 0}));
    settle();
    frmMain->actOSCstopExecute();
    frmMain->actOSCstopExecute();
    const osc::ChannelTrace& strobe = frmMain->engine().traces[0];
    ASSERT_EQ(strobe.count(), 4u);  // first point, the strobe edge, two closing points
    EXPECT_EQ(strobe.x(2), 256);
    EXPECT_EQ(strobe.x(3), 256);
    EXPECT_EQ(frmMain->engine().traces[1].lastX(), 256);
    EXPECT_EQ(frmMain->engine().traces[1].y(
                  static_cast<std::ptrdiff_t>(frmMain->engine().traces[1].count()) - 1),
              5);
    EXPECT_TRUE(pbPanel()->isHidden());
    int stops = 0;
    for (const SentDatagram& d : endpoint->sent) {
        stops += d.bytes == toVector(osc::stopCommand({})) ? 1 : 0;
    }
    EXPECT_EQ(stops, 3);  // one inside the start's selection, then the two stops
}

// After the stop the plot shows the closed and completed traces by itself: a paint of a part
// of it (the progress panel going away) does not count as the whole picture.
TEST_F(Acquisition, PlotRepaintsWholeAfterStopWithoutInput) {
    OscPlot* chart = Chart1();
    using Snapshot = std::vector<double>;
    const auto snapshot = [] {
        Snapshot s;
        for (const osc::ChannelTrace& t : frmMain->engine().traces) {
            s.push_back(static_cast<double>(t.revision()));
        }
        s.push_back(frmMain->engine().window.minimum());
        s.push_back(frmMain->engine().window.maximum());
        return s;
    };
    struct Recorder : QObject {
        std::function<Snapshot()> take;
        QWidget* chart = nullptr;
        std::optional<Snapshot> lastWhole;
        int partial = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) {
                const QRegion painted = static_cast<QPaintEvent*>(e)->region();
                if (QRegion(chart->rect()).subtracted(painted).isEmpty()) {
                    lastWhole = take();
                } else {
                    ++partial;
                }
            }
            return false;
        }
    } recorder;
    recorder.take = snapshot;
    recorder.chart = chart;
    chart->installEventFilter(&recorder);

    frmMain->actOSCstartExecute();
    for (int period = 0; period < 40; ++period) {
        const int strobe = period % 2 ? 0 : 0x04;
        const int data = period % 3 ? 0x40 : 0x80;
        endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, strobe, 0, strobe | data, 128}));
    }
    settle();
    // Waits are for the work to be done, never for a fixed time.
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.lastWhole == snapshot(); }, 10000));
    frmMain->actOSCstopExecute();
    // No mouse, no key: the whole plot is painted with the stopped traces.
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.lastWhole == snapshot(); }, 10000));
    EXPECT_TRUE(pbPanel()->isHidden());
    chart->removeEventFilter(&recorder);
}

TEST_F(Acquisition, FailedActivationKeepsAddressAndIdentity) {
    addDevices();
    select(0);
    identify(kId);
    auto fresh = std::make_unique<RecordingEndpoint>();
    fresh->activationError = "Address already in use";
    RecordingEndpoint* failing = fresh.get();
    frmMain->setEndpoint(std::move(fresh));
    messages.clear();
    select(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Ошибка"));
    EXPECT_EQ(messages[0].text, QStringLiteral("Не удалось открыть UDP-порт для обмена. Возможно "
                                               "запущена программа настроки Morvel-IP"));
    EXPECT_EQ(messages[0].detail, QStringLiteral("Address already in use"));
    EXPECT_EQ(frmMain->acquisition().deviceAddress(), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(frmMain->engine().state.FDeviceId, kId);
    EXPECT_TRUE(failing->sent.empty());

    // The start action ends there as well, with nothing cleared.
    frmMain->measurement().setMarkerX(300);
    frmMain->actOSCstartExecute();
    EXPECT_EQ(frmMain->measurement().markerX(), 300);
    EXPECT_EQ(messages.size(), 2u);
}

TEST_F(Acquisition, FailedSendsEndTheHandlersWhereTheyStand) {
    addDevices();
    select(0);
    identify(kId);
    // The stop command to the previous device fails inside the next selection: the previous
    // address and identity stay, and the error is the default report.
    endpoint->failSendTo = "10.0.0.5";
    messages.clear();
    select(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, ui::MessageKind::Exception);
    EXPECT_EQ(messages[0].text, QStringLiteral("Cannot resolve host name '10.0.0.5': test."));
    EXPECT_EQ(frmMain->acquisition().deviceAddress(), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(frmMain->engine().state.FDeviceId, kId);

    // A failed start command leaves the traces and the log cleared.
    cbTraceEnabled()->setChecked(true);
    frmMain->traceLog().appendLine(QStringLiteral("47 "));
    ui::guarded(frmMain, [] { frmMain->actOSCstartExecute(); });
    EXPECT_EQ(frmMain->traceLog().lineCount(), 0);
    EXPECT_EQ(frmMain->engine().traces[0].count(), 1u);

    // A failed stop command adds no closing points.
    ui::guarded(frmMain, [] { frmMain->actOSCstopExecute(); });
    EXPECT_EQ(frmMain->engine().traces[0].count(), 1u);
    EXPECT_TRUE(pbPanel()->isHidden());
}

TEST_F(Acquisition, ReceivedDatagramsAreTracedAndDecodedInOrderNeverNested) {
    cbTraceEnabled()->setChecked(true);
    frmMain->actOSCstartExecute();
    // Each sample datagram's decoder processes pending events, which is where a nested
    // hand-over would run: all three must come one after the other, in order.
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x04, 0}));
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x00, 0}));
    endpoint->inject(bytes({0x23, 0x08, 0x0A}));
    settle();
    EXPECT_EQ(frmMain->traceLog().text(), QByteArray("23 08 00 00 00 00 00 00 04 00 \r\n"
                                                     "23 08 00 00 00 00 00 00 00 00 \r\n"
                                                     "23 08 0A \r\n"));
    const osc::ChannelTrace& strobe = frmMain->engine().traces[0];
    ASSERT_EQ(strobe.count(), 3u);
    EXPECT_EQ(strobe.x(1), 256);
    EXPECT_EQ(strobe.x(2), 512);
    EXPECT_EQ(ScrollBar1()->maximum(), 25600);
}

// The window against a simulated device over real UDP on loopback, on test ports.
TEST_F(Acquisition, CaptureFromASimulatedDeviceOverLoopback) {
    osc::net::DeviceServerOptions deviceOptions;
    deviceOptions.endpoint.bindAddress = "127.0.0.2";
    deviceOptions.endpoint.port = 0;
    deviceOptions.device.bitRate = 20000;
    osc::net::UdpDeviceServer device(deviceOptions);
    device.start();
    osc::net::UdpEndpointOptions options;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    options.devicePort = device.localPort();
    frmMain->setEndpoint(std::make_unique<osc::net::UdpEndpoint>(options));
    ComboBox1()->addItem(QStringLiteral("КП (IP:127.0.0.2)"));
    select(0);
    // Waits for the reply, not for a time (the bound only keeps a lost one from hanging).
    static_cast<void>(
        QTest::qWaitFor([] { return !osc::isZero(frmMain->engine().state.FDeviceId); }, 30000));
    EXPECT_EQ(frmMain->engine().state.FDeviceId, device.identity());
    frmMain->Timer1Timer();
    EXPECT_EQ(Panel1()->text(), QStringLiteral("IP=127.0.0.2 MAC=") +
                                    QString::fromStdString(osc::deviceIdText(device.identity())));
    frmMain->actOSCstartExecute();
    static_cast<void>(
        QTest::qWaitFor([] { return frmMain->engine().state.FTimeBase >= 2560; }, 30000));
    frmMain->actOSCstopExecute();
    EXPECT_GE(frmMain->engine().state.FTimeBase, 2560);
    EXPECT_GT(frmMain->engine().traces[0].count(), 10u);
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
}

}  // namespace
}  // namespace uitest
