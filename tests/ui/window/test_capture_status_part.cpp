// The status bar: the capture's state, time, datagrams, bytes and losses, against a simulated
// device's stream with a datagram lost on the way and datagrams dropped by the endpoint.

#include <QApplication>
#include <QFile>
#include <QLabel>
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

// A file with a long name on a narrow window: the name is cut (whole in its tooltip), and the
// counts and the buttons beside it keep the room their texts need instead of being squeezed.
TEST_F(CaptureStatus, ALongNameLeavesTheStatusBarReadable) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QString(120, QLatin1Char('n')) + QStringLiteral(".osc"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("23 08 00 00 00 00 00 00 04 00 \r\n");
    }
    frmMain->resize(800, 436);
    frmMain->show();
    frmMain->LoadOscFile(file);
    QApplication::processEvents();
    auto* bar = frmMain->findChild<QStatusBar*>();
    ASSERT_NE(bar, nullptr);
    int checked = 0;
    for (QWidget* w : bar->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!w->isVisible() || w->objectName() == QStringLiteral("stShown") ||
            w->objectName().isEmpty()) {
            continue;
        }
        EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 5);
    EXPECT_TRUE(frmMain->findChild<QLabel*>(QStringLiteral("stShown"))->toolTip().contains(file));
}

std::vector<std::uint8_t> identityReply(const osc::DeviceId& id) {
    std::vector<std::uint8_t> reply(2 + id.size(), 0);
    reply[0] = 'G';
    std::copy(id.begin(), id.end(), reply.begin() + 2);
    return reply;
}

// Once a device is chosen, datagrams of other senders are counted in "Чужие" (the last sender
// in the tooltip) and neither traced, decoded nor taken as the identity. With the setting that
// accepts any sender they are traced and decoded, and the identity is still the device's.
TEST_F(CaptureStatus, ForeignDatagramsAreCountedAndLeftOutUnlessAnySenderIsAccepted) {
    const osc::net::SenderAddress device{{10, 0, 0, 5}, 971};
    const osc::net::SenderAddress stranger{{10, 0, 0, 9}, 5000};
    const osc::DeviceId id{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    const osc::DeviceId spoofed{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
    endpoint->senders = std::vector<osc::net::SenderAddress>{device};
    ComboBox1()->addItem(QStringLiteral("КП-1 (IP:10.0.0.5)"));
    ComboBox1()->setCurrentIndex(0);
    frmMain->ComboBox1Change();
    endpoint->inject(identityReply(spoofed), stranger);
    endpoint->inject(identityReply(id), device);
    settle();
    ASSERT_EQ(frmMain->engine().state.FDeviceId, id);

    cbTraceEnabled()->setChecked(true);
    frmMain->actOSCstartExecute();
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x04, 0}), device);
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x00, 0}), stranger);  // spoofed samples
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x04, 0}), stranger);
    endpoint->inject(identityReply(spoofed), stranger);
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x00, 0}), device);
    settle();
    frmMain->captureStatus().refresh();
    EXPECT_EQ(field("stForeign"), QStringLiteral("Чужие: 3"));
    EXPECT_EQ(component<QLabel>("stForeign")->toolTip(),
              QStringLiteral("Посылки не от выбранного устройства: только считаются, в захват не "
                             "идут.\nПоследний отправитель: 10.0.0.9:5000"));
    EXPECT_EQ(field("stDatagrams"), QStringLiteral("Посылки: 2"));
    EXPECT_EQ(frmMain->traceLog().text(), QByteArray("23 08 00 00 00 00 00 00 04 00 \r\n"
                                                     "23 08 00 00 00 00 00 00 00 00 \r\n"));
    EXPECT_EQ(frmMain->engine().traces[0].count(), 3u);  // the first point and two strobe edges
    EXPECT_EQ(frmMain->engine().state.FDeviceId, id);

    // Any sender, set in the dialog of the action: traced and decoded, never the identity.
    {
        ui::ScopedModalHook hook([](QDialog& d) {
            auto& dialog = dynamic_cast<ui::ReceptionDialog&>(d);
            dialog.setAcceptAnySender(true);
            dialog.accept();
            return dialog.result();
        });
        component<QAction>("actReception")->trigger();
    }
    EXPECT_TRUE(frmMain->acquisition().acceptAnySender());
    endpoint->inject(identityReply(spoofed), stranger);
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x04, 0}), stranger);
    settle();
    frmMain->captureStatus().refresh();
    EXPECT_EQ(field("stForeign"), QStringLiteral("Чужие: 5"));
    EXPECT_TRUE(component<QLabel>("stForeign")
                    ->toolTip()
                    .startsWith(QStringLiteral(
                        "Посылки не от выбранного устройства: принимаются, как от него (приём от "
                        "всех отправителей).")));
    EXPECT_EQ(field("stDatagrams"), QStringLiteral("Посылки: 4"));
    EXPECT_EQ(frmMain->traceLog().lineCount(), 4);
    EXPECT_EQ(frmMain->engine().traces[0].count(), 4u);
    EXPECT_EQ(frmMain->engine().state.FDeviceId, id);

    // Kept for the next run. A listening address that cannot be one is refused, and so kept.
    {
        ui::ScopedModalHook hook([](QDialog& d) {
            auto& dialog = dynamic_cast<ui::ReceptionDialog&>(d);
            dialog.setListenAddress(QStringLiteral("10.0.0.1 10.0.0.2"));
            dialog.accept();
            return dialog.result();
        });
        component<QAction>("actReception")->trigger();
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Адрес приёма — адрес этого компьютера, например "
                                               "192.168.1.10, его имя или пусто для всех адресов"));
    EXPECT_EQ(ui::loadReceptionSettings(frmMain->formStorage().key()),
              (ui::ReceptionSettings{QString(), true}));
    EXPECT_EQ(unexpectedDialogs, 0);
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

// "Устройство молчит" shows only while the source says so; "Чужие" counts what it is given.
TEST(CaptureStatusPart, SilenceAndForeignFieldsFollowTheirSources) {
    app();
    QStatusBar bar;
    bool silent = false;
    ui::CaptureStatusPart::ForeignDatagrams foreign;
    ui::CaptureStatusPart part(&bar, {.clockMs = [] { return std::int64_t{0}; },
                                      .receiverDrops = [] { return std::uint64_t{0}; },
                                      .foreign = [&] { return foreign; },
                                      .deviceSilent = [&] { return silent; }});
    QLabel* silence = bar.findChild<QLabel*>(QStringLiteral("stSilence"));
    QLabel* strangers = bar.findChild<QLabel*>(QStringLiteral("stForeign"));
    EXPECT_TRUE(silence->isHidden());
    EXPECT_EQ(strangers->text(), QStringLiteral("Чужие: 0"));
    EXPECT_EQ(strangers->toolTip(), QStringLiteral("Посылки не от выбранного устройства: только "
                                                   "считаются, в захват не идут."));
    silent = true;
    foreign = {1234567, osc::PeerAddress{{192, 168, 1, 20}, 971}, false};
    part.refresh();
    EXPECT_FALSE(silence->isHidden());
    EXPECT_EQ(silence->text(), QStringLiteral("Устройство молчит"));
    EXPECT_EQ(silence->toolTip(), QStringLiteral("Нет посылок от устройства 2 с и дольше"));
    EXPECT_EQ(strangers->text(), QStringLiteral("Чужие: 1\u00A0234\u00A0567"));
    EXPECT_TRUE(
        strangers->toolTip().endsWith(QStringLiteral("\nПоследний отправитель: 192.168.1.20:971")));
    silent = false;
    part.refresh();
    EXPECT_TRUE(silence->isHidden());
}

}  // namespace
}  // namespace uitest
