// The trigger conditions live: their texts, each kind on a named line scenario with the moment
// it is decided, and a long faulty link where the stream monitor, starting its analysis over
// again and again, gives the events of one pass over the whole capture, one for every fault the
// simulated link injected.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/capture/stream_monitor.h"
#include "core/files/frame_export.h"
#include "core/trigger/trigger_condition.h"
#include "core/trigger/trigger_monitor.h"
#include "sim/sim_device.h"
#include "tests/core/trigger/trigger_scenarios.h"

namespace osc {
namespace {

using test_support::Bytes;
using test_support::datagramsOf;
using test_support::Lines;
using test_support::tickOf;

std::vector<TriggerCondition> conditions(const std::vector<std::string>& texts,
                                         std::optional<double> bitRate = std::nullopt) {
    std::vector<TriggerCondition> out;
    FilterSettings settings;
    settings.bitRate = bitRate;
    for (const std::string& t : texts) {
        TriggerParse p = parseTrigger(t, settings);
        EXPECT_TRUE(p.ok()) << t << ": " << p.error;
        if (p.ok()) {
            out.push_back(*p.condition);
        }
    }
    return out;
}

TEST(TriggerCondition, TextsAndSpans) {
    struct Row {
        const char* name;
        const char* text;
        std::optional<TriggerKind> kind;  // nothing: an error
        const char* error;                // a part of it
    };
    const std::vector<Row> rows{
        {"filter", "status == bad", TriggerKind::Frame, ""},
        {"filter with link", "address == 5 && type == S", TriggerKind::Frame, ""},
        {"loss in any case", "  LoSS ", TriggerKind::Loss, ""},
        {"silence", "silent(rx1) > 2s", TriggerKind::Silence, ""},
        {"silence by Russian name", "silent( Приём2 )>500ms", TriggerKind::Silence, ""},
        {"silence in bits", "silent(3) > 4096 bits", TriggerKind::Silence, ""},
        {"empty", "  ", std::nullopt, "an empty trigger"},
        {"bad filter", "status = bad", std::nullopt, "position 8"},
        {"unknown line", "silent(rx7) > 1s", std::nullopt, "takes a line"},
        {"operator inside the line", "silent(1 || 2) > 1s", std::nullopt, "takes a line"},
        {"no closing paren", "silent(rx1 > 1s", std::nullopt, "closing"},
        {"at least, not longer", "silent(rx1) >= 1s", std::nullopt, "'> SPAN'"},
        {"bad span", "silent(rx1) > soon", std::nullopt, "is not a span"},
        {"span too long", "silent(rx1) > 400d", std::nullopt, "is not a span"},
        {"rt_ms without a rate", "rt_ms > 5", std::nullopt, "bit rate"},
    };
    for (const Row& row : rows) {
        const TriggerParse p = parseTrigger(row.text);
        ASSERT_EQ(p.ok(), row.kind.has_value()) << row.name << ": " << p.error;
        if (row.kind) {
            EXPECT_EQ(p.condition->kind, *row.kind) << row.name;
        } else {
            EXPECT_NE(p.error.find(row.error), std::string::npos) << row.name << ": " << p.error;
        }
    }
    // The same errors in Russian, as the window's trigger field shows them: each its own text,
    // none of them left in English.
    for (const Row& row : rows) {
        if (row.kind) {
            continue;
        }
        const TriggerParse ru = parseTrigger(row.text, {}, FilterLanguage::Russian);
        ASSERT_FALSE(ru.ok()) << row.name;
        EXPECT_NE(ru.error, parseTrigger(row.text).error) << row.name;
        EXPECT_TRUE(ru.error.find('\xD0') != std::string::npos ||
                    ru.error.find('\xD1') != std::string::npos)
            << row.name << ": " << ru.error;
    }
    EXPECT_EQ(parseTrigger("silent(Приём2) > 500ms").condition->channel, 3);
    EXPECT_EQ(parseTrigger("silent(rx1) > 2.5s").condition->silence, TimeSpan::milliseconds(2500));

    struct Span {
        const char* text;
        std::optional<TimeSpan> span;
    };
    const std::vector<Span> spans{
        {"30", TimeSpan::seconds(30)},
        {" 1.5 s ", TimeSpan::milliseconds(1500)},
        {"15m", TimeSpan::seconds(900)},
        {"15MIN", TimeSpan::seconds(900)},
        {"2h", TimeSpan::seconds(7200)},
        {"7d", TimeSpan::seconds(7 * 86400)},
        {"4096b", TimeSpan::bits(4096)},
        {"4096 bits", TimeSpan::bits(4096)},
        {".5ms", TimeSpan::milliseconds(0.5)},
        {"", std::nullopt},
        {"-1s", std::nullopt},
        {"1.2.3", std::nullopt},
        {"5 parsecs", std::nullopt},
        {"366d", std::nullopt},
        {"2000000000000b", std::nullopt},
        {"s", std::nullopt},
    };
    for (const Span& s : spans) {
        EXPECT_EQ(parseTimeSpan(s.text), s.span) << s.text;
    }
    EXPECT_EQ(TimeSpan::seconds(2).ticks(9600), 2 * 9600 * kTicksPerBit);
    EXPECT_EQ(TimeSpan::seconds(2).ticks(), std::nullopt);
    EXPECT_EQ(parseTimeSpan("100", TimeSpan::Unit::Bits), TimeSpan::bits(100));
}

// Runs datagrams through a stream monitor (received 10 ms apart) and keeps what each datagram
// decided.
struct StreamRun {
    std::vector<TriggerEvent> events;
    std::vector<RingEntry> entries;  // without bytes
};
StreamRun runStream(const std::vector<Bytes>& datagrams, std::vector<TriggerCondition> conds,
                    std::optional<double> bitRate = std::nullopt,
                    StreamMonitorSettings settings = {}) {
    StreamMonitor monitor(TriggerMonitor(std::move(conds), bitRate), settings);
    monitor.start(0);
    StreamRun run;
    std::int64_t ms = 0;
    for (const Bytes& d : datagrams) {
        ms += 10;
        monitor.consume(d, ms);
        RingEntry e = monitor.ring().newest();
        e.bytes = {};
        run.entries.push_back(e);
        for (TriggerEvent& ev : monitor.takeEvents()) {
            run.events.push_back(std::move(ev));
        }
    }
    return run;
}

// The datagram that first carries stream tick t.
std::uint64_t carrying(const StreamRun& run, Tick t) {
    for (const RingEntry& e : run.entries) {
        if (e.tickAfter >= t) {
            return e.sequence;
        }
    }
    return run.entries.size();
}

TEST(TriggerMonitor, EachConditionOnItsScenario) {
    Lines lines;
    // A poll answered, a poll not answered (no_answer once the next command is read), a
    // damaged answer, and a long quiet spell on Приём2 after its one frame.
    const std::size_t poll1 = 20;
    const std::size_t poll1End = lines.put(1, poll1, {0x05, 0x11});
    const std::size_t answer1 = poll1End + 6;
    const std::size_t answer1End = lines.put(2, answer1, {0x05, 0x11});
    const std::size_t poll2 = answer1End + 24;
    const std::size_t poll2End = lines.put(1, poll2, {0x09, 0x11});
    const std::size_t poll3 = poll2End + 200;
    const std::size_t poll3End = lines.put(1, poll3, {0x05, 0x11});
    const std::size_t bad = poll3End + 6;
    const std::size_t badEnd = lines.put(2, bad, {0x05, 0x01, 0x42}, 20);
    const std::size_t rx2 = badEnd + 10;
    const std::size_t rx2End = lines.put(3, rx2, {0x09, 0x11});
    lines.idleTo(rx2End + 3000);
    const std::vector<Bytes> datagrams = datagramsOf(lines, 16);  // 8 bit periods each

    const StreamRun run = runStream(datagrams, conditions({"status == bad", "issue == no_answer",
                                                           "silent(rx2) > 1000b", "rt > 100"}));
    ASSERT_EQ(run.events.size(), 3u);
    // The damaged answer: decided by the datagram carrying its end, before the silence.
    const TriggerEvent* badEvent = nullptr;
    const TriggerEvent* noAnswer = nullptr;
    const TriggerEvent* silence = nullptr;
    for (const TriggerEvent& e : run.events) {
        (e.condition == 0 ? badEvent : e.condition == 1 ? noAnswer : silence) = &e;
        EXPECT_EQ(e.number, static_cast<std::uint64_t>(&e - run.events.data()) + 1);
    }
    ASSERT_TRUE(badEvent && noAnswer && silence);
    ASSERT_TRUE(badEvent->frame);
    EXPECT_EQ(badEvent->kind, TriggerKind::Frame);
    EXPECT_EQ(badEvent->frame->channel, 2);
    EXPECT_FALSE(badEvent->frame->good());
    EXPECT_EQ(badEvent->from, tickOf(bad));
    EXPECT_EQ(badEvent->to, badEvent->frame->end);
    EXPECT_EQ(badEvent->at, badEvent->to);
    EXPECT_EQ(badEvent->frameNumber, 5u);  // poll 1, answer 1, poll 2, poll 3, then this one
    EXPECT_EQ(badEvent->datagram, carrying(run, badEvent->to));
    EXPECT_NE(badEvent->detail.find("bad check frame on Приём1"), std::string::npos)
        << badEvent->detail;

    // No answer to the poll of station 9: known once the next command (poll 3) has been read,
    // that is by the datagram carrying poll 3's end, not before.
    ASSERT_TRUE(noAnswer->frame);
    EXPECT_EQ(noAnswer->from, tickOf(poll2));
    EXPECT_EQ(noAnswer->fields.address, 9u);
    EXPECT_EQ(noAnswer->frameNumber, 3u);
    EXPECT_EQ(noAnswer->datagram, carrying(run, tickOf(poll3End)));
    EXPECT_LT(noAnswer->datagram, badEvent->datagram);

    // Приём2 quiet for 1000 bits after its frame's closing flag: `at` is where the span ran out,
    // decided by the datagram that carries that tick; once, until the line changes again.
    EXPECT_EQ(silence->kind, TriggerKind::Silence);
    EXPECT_EQ(silence->from, tickOf(rx2End));
    EXPECT_EQ(silence->at, silence->from + 1000 * kTicksPerBit);
    EXPECT_EQ(silence->datagram, carrying(run, silence->at + 1));
}

TEST(TriggerMonitor, SilenceInReceptionTimeAndLosses) {
    Lines lines;
    const std::size_t end = lines.put(3, 10, {0x09, 0x11});
    lines.idleTo(2000);
    std::vector<Bytes> datagrams = datagramsOf(lines, 2);  // one bit period each
    // Datagram 100 lost on the way: an odd number of periods, so the rhythm breaks.
    datagrams.erase(datagrams.begin() + 100);
    StreamMonitor monitor(TriggerMonitor(conditions({"silent(rx2) > 55ms", "loss"})), {});
    monitor.start(0);
    std::vector<TriggerEvent> events;
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        monitor.consume(datagrams[i], static_cast<std::int64_t>(i) * 10);
        if (i == 500) {
            monitor.setReceiverDrops(3);
        }
        for (TriggerEvent& e : monitor.takeEvents()) {
            events.push_back(std::move(e));
        }
    }
    ASSERT_EQ(events.size(), 4u);
    // Quiet from the start: the frame on Приём2 begins at datagram 10, 100 ms in.
    EXPECT_EQ(events[0].kind, TriggerKind::Silence);
    EXPECT_EQ(events[0].from, 0);
    EXPECT_EQ(events[0].datagram, 6u);
    // Приём2's last change (after its closing flag) came with datagram `end`; 55 ms later is
    // decided by the first datagram that arrived more than that after it.
    const TriggerEvent& silence = events[1];
    EXPECT_EQ(silence.kind, TriggerKind::Silence);
    EXPECT_EQ(silence.from, tickOf(end));
    EXPECT_EQ(silence.decidedMs, static_cast<std::int64_t>(end) * 10 + 60);
    EXPECT_EQ(silence.datagram, end + 6);
    EXPECT_EQ(events[2].kind, TriggerKind::Loss);
    EXPECT_EQ(events[2].datagram, 100u);
    EXPECT_NE(events[2].detail.find("1 datagram lost or out of order"), std::string::npos)
        << events[2].detail;
    EXPECT_EQ(events[3].kind, TriggerKind::Loss);
    EXPECT_NE(events[3].detail.find("3 datagrams dropped by this computer"), std::string::npos)
        << events[3].detail;
}

// The frames' faults that the simulated link injected, as the events should find them.
struct Injected {
    std::vector<Tick> bad;         // damaged frames: their start
    std::vector<Tick> unanswered;  // commands whose answer was lost: their start
    std::vector<Tick> late;        // late answers (not damaged): their start
};
Injected injected(const std::vector<sim::SentFrame>& log, std::uint64_t periods) {
    Injected out;
    const auto tick = [](std::uint64_t p) { return tickOf(static_cast<std::size_t>(p)); };
    // The command before frame i and the one after it.
    const auto command = [&](std::size_t i, int step) -> const sim::SentFrame* {
        for (std::size_t k = i; k < log.size();
             k = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(k) + step)) {
            if (k != i && log[k].line == sim::LinkLine::Transmit) {
                return &log[k];
            }
            if (k == 0 && step < 0) {
                break;
            }
        }
        return nullptr;
    };
    for (std::size_t i = 0; i < log.size(); ++i) {
        const sim::SentFrame& f = log[i];
        if (f.end + 400 > periods) {
            break;  // too near the end to be decided
        }
        if (f.fault == sim::LinkFault::BitError) {
            out.bad.push_back(tick(f.start));
        } else if (f.fault == sim::LinkFault::Lost) {
            // The analysis tells it on the command, once the next good command closes its
            // window; a damaged command in between is no command to it, and the station's
            // answer to that one counts as the answer.
            const sim::SentFrame* before = command(i, -1);
            const sim::SentFrame* after = command(i, 1);
            if (before != nullptr && before->fault == sim::LinkFault::None &&
                (after == nullptr || after->fault == sim::LinkFault::None)) {
                out.unanswered.push_back(tick(before->start));
            }
        } else if (f.fault == sim::LinkFault::Late) {
            // An answer to a damaged command answers nothing the analysis knows of.
            const sim::SentFrame* before = command(i, -1);
            if (before != nullptr && before->fault == sim::LinkFault::None) {
                out.late.push_back(tick(f.start));
            }
        }
    }
    return out;
}

TEST(StreamMonitor, RolledAnalysisMissesNothingOfAFaultyLink) {
    sim::DeviceOptions options;
    options.bitRate = 9600;
    options.pairsPerDatagram = 96;
    options.link.seed = 11;
    options.link.faults = {0.06, 0.04, 0.06};
    sim::SimulatedDevice device("10.0.0.5", options);
    device.link().keepLog(true);
    device.setStreaming(true);
    std::vector<Bytes> datagrams;
    for (int i = 0; i < 6000; ++i) {
        datagrams.push_back(device.nextDatagram());
    }
    const std::vector<std::string> texts{"error != none", "issue == no_answer", "rt > 30",
                                         "bytes ~ \"09 ?? 48\"", "loss"};

    // One pass, as the window evaluates its capture after every datagram.
    CaptureEngine engine;
    engine.frames.setEnabled(true);
    engine.restartTraces();
    TriggerMonitor whole(conditions(texts));
    const TriggerSource source{engine.frames, engine.link, engine.traces, 0};
    whole.start(source, 0, 0);
    std::vector<TriggerEvent> expected;
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        engine.decodeDatagram(datagrams[i]);
        whole.datagram(source, engine.state.FTimeBase, static_cast<std::int64_t>(i), i);
        whole.evaluate(source);
        for (TriggerEvent& e : whole.takeEvents()) {
            expected.push_back(std::move(e));
        }
    }

    // Rolled every few thousand bit periods, reading 2048 bits again each time.
    StreamMonitorSettings settings;
    settings.rollBytes = 48 << 10;
    settings.rewind = 2048 * kTicksPerBit;
    settings.evaluateEveryMs = 0;  // as the reference, after every datagram
    StreamMonitor stream(TriggerMonitor(conditions(texts)), settings);
    stream.start(0);
    std::vector<TriggerEvent> got;
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        stream.consume(datagrams[i], static_cast<std::int64_t>(i));
        for (TriggerEvent& e : stream.takeEvents()) {
            got.push_back(std::move(e));
        }
    }
    EXPECT_GT(stream.rolls(), 10u);
    EXPECT_LT(stream.analysisBytes(), 2 * settings.rollBytes);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const TriggerEvent& a = got[i];
        const TriggerEvent& b = expected[i];
        EXPECT_EQ(a.condition, b.condition) << i;
        EXPECT_EQ(a.from, b.from) << i;
        EXPECT_EQ(a.to, b.to) << i;
        EXPECT_EQ(a.datagram, b.datagram) << i;
        EXPECT_EQ(a.frameNumber, b.frameNumber) << i;
        EXPECT_EQ(a.answerTo, b.answerTo) << i;
        EXPECT_EQ(a.detail, b.detail) << i;
        EXPECT_EQ(a.frame.has_value(), b.frame.has_value()) << i;
        if (a.frame && b.frame) {
            EXPECT_EQ(a.frame->bytes, b.frame->bytes) << i;
        }
    }

    // Every fault the link injected has its event.
    const Injected faults = injected(device.link().log(), device.bitPeriodsGenerated());
    ASSERT_GT(faults.bad.size(), 10u);
    ASSERT_GT(faults.unanswered.size(), 10u);
    ASSERT_GT(faults.late.size(), 10u);
    const auto found = [&](std::size_t condition, Tick from) {
        return std::any_of(got.begin(), got.end(), [&](const TriggerEvent& e) {
            return e.condition == condition && e.from == from;
        });
    };
    for (const Tick t : faults.bad) {
        EXPECT_TRUE(found(0, t)) << "damaged frame at " << t;
    }
    for (const Tick t : faults.unanswered) {
        EXPECT_TRUE(found(1, t)) << "unanswered command at " << t;
    }
    for (const Tick t : faults.late) {
        EXPECT_TRUE(found(2, t)) << "late answer at " << t;
    }
    // Nothing else fired: no damaged frame but the injected ones, and no loss.
    std::vector<Tick> damaged;
    for (const sim::SentFrame& f : device.link().log()) {
        if (f.fault == sim::LinkFault::BitError) {
            damaged.push_back(tickOf(f.start));
        }
    }
    for (const TriggerEvent& e : got) {
        if (e.condition == 0) {
            EXPECT_NE(std::find(damaged.begin(), damaged.end(), e.from), damaged.end()) << e.from;
        }
    }
    EXPECT_EQ(std::count_if(got.begin(), got.end(),
                            [](const TriggerEvent& e) { return e.condition == 4; }),
              0);
}

}  // namespace
}  // namespace osc
