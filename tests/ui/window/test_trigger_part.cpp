// The trigger panel over the window's capture of a simulated link with damaged frames: each
// mode against the faults the link injected, the duration's stop, a click on an event, and the
// fields kept between runs.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>

#include <set>

#include "core/capture/capture_engine.h"
#include "sim/sim_device.h"
#include "tests/ui/capture_test_support.h"
#include "ui/plot/PlotState.h"
#include "ui/window/CaptureStatusPart.h"
#include "ui/window/TriggerPart.h"

namespace uitest {
namespace {

using osc::Tick;

// Period p of the simulated link lies at this tick of a capture that began with it.
Tick tickOfPeriod(std::uint64_t p) {
    return static_cast<Tick>(p + 1) * osc::kTicksPerBit + osc::kTicksPerBit / 2;
}

struct Link {
    std::vector<std::vector<std::uint8_t>> datagrams;
    std::vector<Tick> damaged;  // the frames sent with a bit flipped: their start
    std::vector<Tick> damagedEnd;
    std::uint64_t periods = 0;
};

Link damagedLink(int count) {
    osc::sim::DeviceOptions options;
    options.bitRate = 9600;
    options.pairsPerDatagram = 96;
    options.link.seed = 7;
    options.link.faults = {0, 0.05, 0};
    osc::sim::SimulatedDevice device("10.0.0.5", options);
    device.link().keepLog(true);
    device.setStreaming(true);
    Link link;
    for (int i = 0; i < count; ++i) {
        link.datagrams.push_back(device.nextDatagram());
    }
    link.periods = device.bitPeriodsGenerated();
    for (const osc::sim::SentFrame& f : device.link().log()) {
        if (f.fault == osc::sim::LinkFault::BitError) {
            link.damaged.push_back(tickOfPeriod(f.start));
            link.damagedEnd.push_back(tickOfPeriod(f.end));
        }
    }
    return link;
}

class Triggers : public CaptureTest {
  protected:
    ui::TriggerPart& part() { return frmMain->triggers(); }
    template <class T>
    T* field(const char* name) {
        return component<T>(name);
    }
    void setFields(const QString& condition, int mode, const QString& folder = {}) {
        field<QLineEdit>("edTriggerCondition")->setText(condition);
        field<QCheckBox>("cbTriggerOn")->setChecked(true);
        field<QLineEdit>("edTriggerPre")->setText(QStringLiteral("500b"));
        field<QLineEdit>("edTriggerPost")->setText(QStringLiteral("800 bits"));
        field<QComboBox>("cmbTriggerMode")->setCurrentIndex(mode);
        field<QLineEdit>("edTriggerFolder")->setText(folder);
    }
    // Starts, hands the datagrams in one at a time with an evaluation after each (as the
    // timer does), and stops unless a trigger stopped the capture. Returns how many were
    // decoded before the stop.
    std::size_t capture(const Link& link) {
        frmMain->actOSCstartExecute();
        std::size_t decoded = 0;
        for (const auto& d : link.datagrams) {
            if (!frmMain->acquisition().capturing()) {
                break;
            }
            const std::uint64_t before = frmMain->captureStatus().stats().datagrams();
            endpoint->inject(d);
            for (int i = 0; i < 100 && frmMain->captureStatus().stats().datagrams() == before;
                 ++i) {
                settle();
            }
            ++decoded;
            part().evaluateNow();
        }
        if (frmMain->acquisition().capturing()) {
            frmMain->actOSCstopExecute();
        }
        return decoded;
    }
};

TEST_F(Triggers, EachModeAgainstTheLinksDamagedFrames) {
    const Link link = damagedLink(400);
    ASSERT_GT(link.damaged.size(), 5u);
    // Decided for certain: the damaged frames well before the end.
    std::vector<Tick> expected;
    for (Tick t : link.damaged) {
        if (t + 600 * osc::kTicksPerBit < tickOfPeriod(link.periods)) {
            expected.push_back(t);
        }
    }
    QTemporaryDir folder;
    struct Row {
        const char* name;
        int mode;
    };
    for (const Row row : {Row{"mark", 0}, Row{"stop", 1}, Row{"save each", 2}}) {
        SCOPED_TRACE(row.name);
        // Every damaged frame: a flipped bit may also end a frame early (an abort).
        setFields(QStringLiteral("error != none"), row.mode, folder.path());
        QSignalSpy stops(&part(), &ui::TriggerPart::stopRequested);
        const std::size_t decoded = capture(link);
        const std::vector<osc::CaptureEvent>& events = part().triggers().events();
        ASSERT_FALSE(events.empty());
        const auto* table = field<QTableView>("TriggerEvents");
        EXPECT_EQ(table->model()->rowCount(), static_cast<int>(events.size()));
        EXPECT_EQ(table->model()->index(0, 1).data().toString(), QStringLiteral("кадр"));
        EXPECT_TRUE(table->model()->index(0, 2).data().toString().startsWith(QStringLiteral("№ ")));
        if (row.mode == 1) {
            // Stopped by the first event once the window after it had passed, at the first
            // datagram that took the time base past it.
            EXPECT_EQ(stops.count(), 1);
            EXPECT_LT(decoded, link.datagrams.size());
            const Tick due = events.front().event.to + 800 * osc::kTicksPerBit;
            const Tick stoppedAt = frmMain->engine().state.FTimeBase;
            EXPECT_GT(stoppedAt, due);
            EXPECT_LE(stoppedAt, due + 96 * osc::kTicksPerBit);
            EXPECT_EQ(events.front().event.from, link.damaged.front());
            continue;
        }
        EXPECT_EQ(stops.count(), 0);
        // One event for each damaged frame, and none outside them (a flipped bit may cut a
        // frame in two: its tail is damaged too) ...
        std::set<Tick> fired;
        for (const osc::CaptureEvent& e : events) {
            fired.insert(e.event.from);
            bool inside = false;
            for (std::size_t i = 0; i < link.damaged.size(); ++i) {
                inside = inside ||
                         (e.event.from >= link.damaged[i] && e.event.from < link.damagedEnd[i]);
            }
            // ... and the frame that the stop cut off.
            inside = inside || e.event.frame->error == osc::FrameError::Unfinished;
            EXPECT_TRUE(inside) << e.event.from << " " << e.event.detail;
        }
        EXPECT_EQ(fired.size(), events.size());
        for (Tick t : expected) {
            EXPECT_TRUE(fired.contains(t)) << t;
        }
        if (row.mode == 0) {
            EXPECT_TRUE(events.front().file.empty());
            continue;
        }
        // A file for each event's window that replays with the damaged frame in it.
        std::set<std::filesystem::path> files;
        for (const osc::CaptureEvent& e : events) {
            ASSERT_TRUE(std::filesystem::exists(e.file)) << e.file;
            files.insert(e.file);
            osc::CaptureEngine replay;
            replay.frames.setEnabled(true);
            replay.replayOscFile(e.file);
            bool found = false;
            for (const osc::Frame& f : replay.frames.frames(e.event.frame->channel)) {
                found = found || (!f.good() && f.bytes == e.event.frame->bytes);
            }
            EXPECT_TRUE(found) << e.file;
        }
        EXPECT_EQ(QDir(folder.path()).entryList({QStringLiteral("*.osc")}, QDir::Files).size(),
                  static_cast<qsizetype>(files.size()));
        EXPECT_TRUE(QDir(folder.path()).entryList({QStringLiteral("*.part")}).isEmpty());
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(Triggers, AClickOnAnEventCentresThePlotOnIt) {
    const Link link = damagedLink(200);
    setFields(QStringLiteral("status == bad"), 0);
    capture(link);
    const auto& events = part().triggers().events();
    ASSERT_GE(events.size(), 2u);
    frmMain->engine().window.setMinMax(0, 25600);
    auto* table = field<QTableView>("TriggerEvents");
    const auto first = static_cast<int>(
        std::min_element(events.begin(), events.end(),
                         [](const auto& a, const auto& b) { return a.event.from < b.event.from; }) -
        events.begin());
    table->setCurrentIndex(table->model()->index(first, 0));
    const osc::TriggerEvent& e = events[static_cast<std::size_t>(first)].event;
    const double centre =
        (frmMain->engine().window.minimum() + frmMain->engine().window.maximum()) / 2;
    EXPECT_NEAR(centre, static_cast<double>(e.from + (e.to - e.from) / 2), 1.0);
    EXPECT_DOUBLE_EQ(frmMain->engine().window.maximum() - frmMain->engine().window.minimum(),
                     25600);
    // F8 from there: the next event along the line.
    part().nextEvent(1);
    const double next =
        (frmMain->engine().window.minimum() + frmMain->engine().window.maximum()) / 2;
    EXPECT_GT(next, centre);
}

TEST_F(Triggers, WrongFieldsAreMarkedAndTheCaptureRunsWithout) {
    setFields(QStringLiteral("status = bad"), 0);
    auto* condition = field<QLineEdit>("edTriggerCondition");
    EXPECT_TRUE(condition->toolTip().startsWith(QStringLiteral("позиция 8")))
        << condition->toolTip().toStdString();
    field<QLineEdit>("edTriggerPost")->setText(QStringLiteral("soon"));
    EXPECT_TRUE(field<QLineEdit>("edTriggerPost")->toolTip().contains(QStringLiteral("soon")));
    capture(damagedLink(50));
    EXPECT_TRUE(part().triggers().events().empty());
    EXPECT_FALSE(part().armed());
    // The page fits a window narrower than designed, whatever the message.
    field<QLineEdit>("edTriggerCondition")->setText(QString(300, QLatin1Char('(')));
    EXPECT_LE(part().page()->minimumSizeHint().width(), 480);
}

TEST_F(Triggers, FieldsAreKeptBetweenRuns) {
    setFields(QStringLiteral("silent(rx1) > 2s"), 2, QStringLiteral("/tmp/events here"));
    field<QLineEdit>("edTriggerDuration")->setText(QStringLiteral("15m"));
    frmMain->close();
    ui::destroyForms();
    startUp();
    EXPECT_EQ(field<QLineEdit>("edTriggerCondition")->text(), QStringLiteral("silent(rx1) > 2s"));
    EXPECT_TRUE(field<QCheckBox>("cbTriggerOn")->isChecked());
    EXPECT_EQ(field<QLineEdit>("edTriggerPre")->text(), QStringLiteral("500b"));
    EXPECT_EQ(field<QLineEdit>("edTriggerPost")->text(), QStringLiteral("800 bits"));
    EXPECT_EQ(field<QComboBox>("cmbTriggerMode")->currentText(),
              QStringLiteral("Сохранять каждое"));
    EXPECT_EQ(field<QLineEdit>("edTriggerFolder")->text(), QStringLiteral("/tmp/events here"));
    EXPECT_EQ(frmMain->triggers().durationMs(), 15 * 60 * 1000);
}

// The duration stops a capture with the triggers off, once, by the part's clock.
TEST(TriggerPartAlone, DurationStopsOnceByItsClock) {
    app();
    QWidget window;
    osc::CaptureEngine engine;
    ui::PlotState plot(engine.window);
    std::int64_t now = 1000;
    ui::TriggerPart part(engine, plot, &window, {.clockMs = [&] { return now; }});
    part.page()
        ->findChild<QLineEdit*>(QStringLiteral("edTriggerDuration"))
        ->setText(QStringLiteral("1.5s"));
    QSignalSpy stops(&part, &ui::TriggerPart::stopRequested);
    part.started(false);
    EXPECT_FALSE(part.armed());
    now += 1499;
    part.evaluateNow();
    EXPECT_EQ(stops.count(), 0);
    now += 1;
    part.evaluateNow();
    part.evaluateNow();
    EXPECT_EQ(stops.count(), 1);
    // A replay runs no duration.
    part.stopped();
    part.started(true);
    now += 10000;
    part.evaluateNow();
    EXPECT_EQ(stops.count(), 1);
}

}  // namespace
}  // namespace uitest
