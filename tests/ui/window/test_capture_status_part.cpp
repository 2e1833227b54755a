// The status bar: the capture's state, time, datagrams, bytes and losses, against a simulated
// device's stream with a datagram lost on the way and datagrams dropped by the endpoint.

#include <QFile>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include "sim/sim_device.h"
#include "tests/ui/capture_test_support.h"
#include "ui/window/CaptureStatusPart.h"

namespace uitest {
namespace {

QString field(const char* name) {
    QLabel* l = component<QLabel>(name);
    return l ? l->text() : QString();
}

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

class CaptureStatus : public CaptureTest {};

TEST_F(CaptureStatus, CountsAStreamWithALostDatagram) {
    EXPECT_EQ(field("stState"), QStringLiteral("Ожидание"));
    EXPECT_EQ(frmMain->statusBar()->geometry().bottom(), frmMain->rect().bottom());
    endpoint->fakeStats.droppedQueueFull = 5;  // before this capture: not counted
    frmMain->actOSCstartExecute();
    EXPECT_EQ(field("stState"), QStringLiteral("Захват"));

    // 127 bit periods a datagram: a lost one leaves the next period without its strobe edge.
    osc::sim::DeviceOptions options;
    options.pairsPerDatagram = 254;
    osc::sim::SimulatedDevice device("127.0.0.5", options);
    std::uint64_t bytes = 0;
    int delivered = 0;
    for (int i = 0; i < 20; ++i) {
        std::vector<std::uint8_t> d = device.nextDatagram();
        if (i == 7) {
            continue;  // lost on the way
        }
        bytes += d.size();
        ++delivered;
        endpoint->inject(std::move(d));
    }
    settle();
    endpoint->fakeStats.droppedQueueFull = 7;  // two dropped by the endpoint meanwhile
    endpoint->fakeStats.droppedEmpty = 9;      // empty ones carry nothing: no loss
    frmMain->captureStatus().refresh();
    EXPECT_EQ(field("stDatagrams"), QStringLiteral("Посылки: %1").arg(delivered));
    EXPECT_EQ(field("stBytes"), text(osc::byteCountText(bytes)));
    EXPECT_EQ(frmMain->captureStatus().stats().streamBreaks(), 1u);
    EXPECT_EQ(frmMain->captureStatus().stats().receiverDrops(), 2u);
    EXPECT_EQ(field("stLost"), QStringLiteral("Потери: 3"));
    const QString tip = component<QLabel>("stLost")->toolTip();
    EXPECT_TRUE(tip.contains(QStringLiteral("потока отсчётов: 1;"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("компьютером: 2."))) << tip.toStdString();

    frmMain->actOSCstopExecute();
    EXPECT_EQ(field("stState"), QStringLiteral("Останов"));
    // A device selection runs the stop action again: the stopped capture stays as it was.
    frmMain->ComboBox1Change();
    EXPECT_EQ(field("stState"), QStringLiteral("Останов"));
    EXPECT_EQ(field("stDatagrams"), QStringLiteral("Посылки: %1").arg(delivered));

    // The next start counts from 0 again.
    frmMain->actOSCstartExecute();
    EXPECT_EQ(field("stDatagrams"), QStringLiteral("Посылки: 0"));
    EXPECT_EQ(field("stLost"), QStringLiteral("Потери: 0"));
}

TEST_F(CaptureStatus, ReplayIsShownAsSuch) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.osc"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // Two datagrams; the second goes back in time within the period: one break.
        f.write("23 08 00 00 00 00 00 00 04 00 04 C8 \r\n23 08 00 00 00 00 00 00 44 10 \r\n");
    }
    QStringList seen;
    QTimer::singleShot(0, frmMain, [&] { seen << field("stState"); });
    frmMain->LoadOscFile(file);
    EXPECT_EQ(seen, QStringList{QStringLiteral("Воспроизведение")});
    EXPECT_EQ(field("stState"), QStringLiteral("Останов"));
    EXPECT_EQ(field("stDatagrams"), QStringLiteral("Посылки: 2"));
    EXPECT_EQ(field("stLost"), QStringLiteral("Потери: 1"));
    EXPECT_EQ(frmMain->focusWidget(), Chart1()) << "the plot has the keys after a load";
    EXPECT_TRUE(messages.empty());
}

// The part alone, on a clock of its own: the time runs from the start and stops with the stop.
TEST(CaptureStatusPart, TimeRunsFromStartToStop) {
    app();
    QStatusBar bar;
    std::int64_t clock = 1000;
    std::uint64_t drops = 0;
    ui::CaptureStatusPart part(
        &bar, {.clockMs = [&] { return clock; }, .receiverDrops = [&] { return drops; }});
    const auto shown = [&](const char* name) {
        return bar.findChild<QLabel*>(QString::fromLatin1(name))->text();
    };
    EXPECT_EQ(shown("stElapsed"), QStringLiteral("0:00:00"));
    part.started(false);
    clock = 8999;
    part.refresh();
    EXPECT_EQ(shown("stElapsed"), QStringLiteral("0:00:07"));
    part.stopped();
    clock = 3'700'000;
    part.refresh();
    EXPECT_EQ(shown("stElapsed"), QStringLiteral("0:00:07"));
    drops = 4;
    part.refresh();
    EXPECT_EQ(shown("stLost"), QStringLiteral("Потери: 4"));
    part.started(true);
    EXPECT_EQ(shown("stState"), QStringLiteral("Воспроизведение"));
    drops = 9;  // a replay takes nothing from the endpoint
    part.refresh();
    EXPECT_EQ(shown("stLost"), QStringLiteral("Потери: 0"));
}

}  // namespace
}  // namespace uitest
