// The polled link against the frame decoder and against a replay of the conversation that
// counts sequence numbers as the two ends must.
#include "sim/serial_link.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "core/frames/frame_decoder.h"
#include "sim/hdlc.h"

namespace osc::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ControlField, StandardEncodings) {
    struct Row {
        const char* name;
        std::uint8_t got;
        std::uint8_t expected;
    };
    const Row rows[] = {
        {"I 3/5 P", iControl(3, 5, true), 0xB6},
        {"I 0/0", iControl(0, 0, false), 0x00},
        {"I 7/7 F", iControl(7, 7, true), 0xFE},
        {"I 9/8 wraps", iControl(9, 8, false), 0x02},
        {"RR 2 P", sControl(Supervisory::RR, 2, true), 0x51},
        {"RNR 0", sControl(Supervisory::RNR, 0, false), 0x05},
        {"REJ 7 F", sControl(Supervisory::REJ, 7, true), 0xF9},
        {"SREJ 1", sControl(Supervisory::SREJ, 1, false), 0x2D},
        {"SNRM P", uControl(kSnrm, true), 0x93},
        {"UA F", uControl(kUa, true), 0x73},
        {"DISC P", uControl(kDisc, true), 0x53},
        {"DM F", uControl(kDm, true), 0x1F},
        {"FRMR", uControl(kFrmr, false), 0x87},
        {"UI", uControl(kUi, false), 0x03},
        {"UA with P cleared", uControl(kUa | kPollFinal, false), 0x63},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.got, row.expected) << row.name;
    }
}

// --- Running a link ---------------------------------------------------------------------

struct LinkTake {
    std::array<Bytes, 3> lines;  // bits by LinkLine
    std::vector<SentFrame> log;
    std::uint64_t periods = 0;
    std::size_t closedFrom = SIZE_MAX;  // the first frame of the log made after close()
};

LinkTake runLink(LinkOptions options, std::uint64_t periods, bool closeAtEnd = false) {
    SerialLink link(std::move(options));
    link.keepLog(true);
    LinkTake run;
    const auto take = [&] {
        const PeriodBits p = link.nextPeriod();
        run.lines[0].push_back(p.transmit);
        run.lines[1].push_back(p.receive1);
        run.lines[2].push_back(p.receive2);
    };
    for (std::uint64_t i = 0; i < periods; ++i) {
        take();
    }
    if (closeAtEnd) {
        run.closedFrom = link.log().size();
        link.close();
        for (int i = 0; i < 100'000 && !link.closed(); ++i) {
            take();
        }
        EXPECT_TRUE(link.closed());
    }
    run.periods = link.periodsGenerated();
    run.log = link.log();
    return run;
}

// What the control field says, read here by its bits.
struct Control {
    char type = '?';  // 'I', 'S', 'U'
    unsigned ns = 0, nr = 0;
    unsigned kind = 0;          // S: 0 RR, 1 RNR, 2 REJ, 3 SREJ
    std::uint8_t modifier = 0;  // U: the control field without the P/F bit
    bool pf = false;
};
Control control(const Bytes& bytes) {
    const std::uint8_t c = bytes.at(1);
    Control r;
    r.pf = (c & 0x10) != 0;
    if ((c & 1) == 0) {
        r.type = 'I';
        r.ns = (c >> 1) & 7;
        r.nr = c >> 5;
    } else if ((c & 3) == 1) {
        r.type = 'S';
        r.kind = (c >> 2) & 3;
        r.nr = c >> 5;
    } else {
        r.type = 'U';
        r.modifier = c & 0xEF;
    }
    return r;
}
bool isU(const Bytes& b, std::uint8_t modifier) {
    return control(b).type == 'U' && control(b).modifier == modifier;
}
bool isS(const Bytes& b, unsigned kind) {
    return control(b).type == 'S' && control(b).kind == kind;
}

struct FaultRow {
    const char* name;
    LinkFaults faults;
    std::uint64_t seed;
};
const FaultRow kFaultRows[] = {
    {"Clean", {}, 3},
    {"Faulty", {0.06, 0.05, 0.06}, 4},
    {"Demo", kDemoFaults, 5},
};
constexpr std::uint64_t kPeriods = 400'000;

class LinkRun : public testing::TestWithParam<FaultRow> {
  protected:
    static LinkOptions optionsOf(const FaultRow& row) {
        LinkOptions o;
        o.seed = row.seed;
        o.faults = row.faults;
        return o;
    }
};

// Every frame the link reports as sent decodes on its line, in order, at its periods: good
// with the same bytes, or bad where a bit was flipped; nothing else is found.
TEST_P(LinkRun, FrameDecoderFindsWhatWasSent) {
    const LinkTake run = runLink(optionsOf(GetParam()), kPeriods);
    std::map<LinkFault, int> faults;
    for (std::size_t line = 0; line < 3; ++line) {
        FrameBitDecoder decoder;
        decoder.feed(run.lines[line]);
        decoder.finish();
        std::vector<const SentFrame*> sent;
        for (const SentFrame& f : run.log) {
            if (f.onLine() && static_cast<std::size_t>(f.line) == line && f.end <= run.periods) {
                sent.push_back(&f);
            }
        }
        const FrameSequence& found = decoder.frames();
        ASSERT_GE(found.size(), sent.size()) << "line " << line;
        ASSERT_LE(found.size(), sent.size() + 1) << "line " << line;  // one cut by the end
        ASSERT_GT(sent.size(), 500u) << "line " << line;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const SentFrame& s = *sent[i];
            const Frame& f = found[i];
            ++faults[s.fault];
            ASSERT_EQ(f.start, static_cast<Tick>(s.start)) << "line " << line << " frame " << i;
            ASSERT_EQ(f.end, static_cast<Tick>(s.end)) << "line " << line << " frame " << i;
            if (s.fault == LinkFault::BitError) {
                EXPECT_TRUE(f.error == FrameError::BadCheck || f.error == FrameError::Misaligned)
                    << "line " << line << " frame " << i << ": " << frameErrorName(f.error);
                EXPECT_EQ(run.lines[line][s.start + s.flippedBit], 0);
            } else {
                ASSERT_TRUE(f.good()) << "line " << line << " frame " << i;
                EXPECT_EQ(Bytes(f.bytes.begin(), f.bytes.end() - 2), s.bytes)
                    << "line " << line << " frame " << i;
            }
        }
        if (found.size() > sent.size()) {
            EXPECT_EQ(found.back().error, FrameError::Unfinished);
        }
    }
    for (const SentFrame& f : run.log) {
        faults[f.fault] += f.onLine() ? 0 : 1;
    }
    const LinkFaults& shares = GetParam().faults;
    for (const auto& [fault, share] :
         {std::pair{LinkFault::Lost, shares.loss}, std::pair{LinkFault::BitError, shares.bitErrors},
          std::pair{LinkFault::Late, shares.late}}) {
        if (share == 0) {
            EXPECT_EQ(faults[fault], 0) << linkFaultName(fault);
        } else {
            EXPECT_GE(faults[fault], 10) << linkFaultName(fault);
        }
    }
}

// The conversation replayed from the log: who speaks when, and every sequence number as the
// receiving end counts it.
TEST_P(LinkRun, ConversationKeepsTheRules) {
    const LinkOptions options = optionsOf(GetParam());
    const LinkTake run = runLink(options, kPeriods, true);
    const std::vector<SentFrame>& log = run.log;
    ASSERT_GE(log.size(), 8u);

    // Opening and closing: SNRM and UA for each station in turn.
    const bool clean = GetParam().faults.loss == 0 && GetParam().faults.bitErrors == 0;
    for (std::size_t k = 0; clean && k < 2; ++k) {
        EXPECT_EQ(log[2 * k].bytes, (Bytes{options.addresses[k], 0x93})) << k;
        EXPECT_EQ(log[2 * k + 1].bytes, (Bytes{options.addresses[k], 0x73})) << k;
        const SentFrame& disc = log[log.size() - 4 + 2 * k];
        EXPECT_TRUE(isU(disc.bytes, 0x43)) << k;
        EXPECT_EQ(log[log.size() - 3 + 2 * k].bytes, (Bytes{disc.bytes[0], 0x73})) << k;
    }
    EXPECT_NE(log[log.size() - 4].bytes, log[log.size() - 2].bytes);
    EXPECT_EQ(log[0].start, static_cast<std::uint64_t>(options.idleBits));

    struct End {
        bool up = false;    // set up by SNRM (the station) or by UA (the primary)
        unsigned vr = 0;    // the next N(S) it takes
        bool sent = false;  // an I frame sent since the set-up
        unsigned lastNs = 0;
        Bytes lastInfo;
        unsigned heardNr = 0;  // the last N(R) it received
    };
    std::array<End, 2> primary{}, station{};
    // Checks an I frame's N(S) against its sender: the same frame again, or the next one once
    // the last was acknowledged.
    const auto checkNs = [](End& from, const Bytes& bytes, std::size_t i) {
        const Control c = control(bytes);
        const Bytes info(bytes.begin() + 2, bytes.end());
        if (!from.sent) {
            EXPECT_EQ(c.ns, 0u) << "frame " << i;
        } else if (c.ns == from.lastNs) {
            EXPECT_EQ(info, from.lastInfo) << "frame " << i << ": a repeat with other bytes";
        } else {
            EXPECT_EQ(c.ns, (from.lastNs + 1) % 8) << "frame " << i;
            EXPECT_EQ(from.heardNr, c.ns) << "frame " << i << ": the last one not acknowledged";
        }
        from.sent = true;
        from.lastNs = c.ns;
        from.lastInfo = info;
    };
    std::map<std::string, int> seen;
    const auto count = [&](const char* what) { ++seen[what]; };
    const std::uint64_t timeout = static_cast<std::uint64_t>(options.replyTimeoutBits);
    int failures = 0;  // of the station polled, in a row
    for (std::size_t i = 0; i < log.size();) {
        const SentFrame& cmd = log[i];
        ASSERT_EQ(cmd.line, LinkLine::Transmit) << "frame " << i;
        ASSERT_TRUE(cmd.onLine());
        const Control cc = control(cmd.bytes);
        EXPECT_TRUE(cc.pf) << "frame " << i << ": a command without P";
        const std::size_t s = cmd.bytes[0] == options.addresses[0] ? 0 : 1;
        ASSERT_EQ(cmd.bytes[0], options.addresses[s]) << "frame " << i;
        const bool cmdGood = cmd.fault == LinkFault::None;
        EXPECT_NE(cmd.fault, LinkFault::Late);

        // The station takes a good command.
        bool rejectedI = false;
        if (cmdGood && isU(cmd.bytes, 0x83)) {
            station[s] = End{};
            station[s].up = true;
        } else if (cmdGood && isU(cmd.bytes, 0x43)) {
            station[s] = End{};
        } else if (cmdGood && cc.type != 'U') {
            station[s].heardNr = cc.nr;
        }
        if (cc.type != 'U') {
            EXPECT_EQ(cc.nr, primary[s].vr) << "frame " << i << ": the primary's N(R)";
        }
        if (cc.type == 'I') {
            checkNs(primary[s], cmd.bytes, i);
        }

        const SentFrame* ans =
            i + 1 < log.size() && log[i + 1].line != LinkLine::Transmit ? &log[i + 1] : nullptr;
        const std::size_t next = i + (ans != nullptr ? 2 : 1);
        const SentFrame* following = next < log.size() ? &log[next] : nullptr;
        bool failed = true;
        if (ans == nullptr) {
            count(cmdGood ? "no answer to a good command" : "no answer to a damaged command");
            EXPECT_FALSE(cmdGood && station[s].up) << "frame " << i << ": a station kept quiet";
            if (following != nullptr) {
                EXPECT_EQ(following->start, cmd.end + timeout) << "frame " << next;
            }
        } else {
            ASSERT_EQ(ans->line, s == 0 ? LinkLine::Receive1 : LinkLine::Receive2) << i + 1;
            ASSERT_EQ(ans->bytes[0], options.addresses[s]) << "frame " << i + 1;
            const Control ac = control(ans->bytes);
            EXPECT_TRUE(ac.pf) << "frame " << i + 1 << ": an answer without F";
            const std::uint64_t delay = ans->start - cmd.end;
            if (ans->fault == LinkFault::Late) {
                count("late answer");
                EXPECT_GE(delay, timeout / 2) << "frame " << i + 1;
                EXPECT_LT(delay, timeout) << "frame " << i + 1;
            } else {
                EXPECT_GE(delay, static_cast<std::uint64_t>(options.answerDelayBits));
                EXPECT_LE(delay, 2u * static_cast<std::uint64_t>(options.answerDelayBits));
            }
            if (following != nullptr) {
                EXPECT_EQ(following->start,
                          ans->onLine() ? ans->end + static_cast<std::uint64_t>(options.idleBits)
                                        : cmd.end + timeout)
                    << "frame " << next;
            }
            if (!cmdGood) {
                EXPECT_TRUE(isS(ans->bytes, 2)) << "frame " << i + 1 << ": no REJ";
                EXPECT_EQ(ac.nr, station[s].vr) << "frame " << i + 1;
                if (cc.type == 'I') {
                    rejectedI = true;
                }
            } else if (cc.type == 'U') {
                EXPECT_TRUE(isU(ans->bytes, 0x63)) << "frame " << i + 1 << ": no UA";
            } else {
                if (cc.type == 'I' && cc.ns == station[s].vr && !isS(ans->bytes, 1)) {
                    station[s].vr = (station[s].vr + 1) % 8;
                }
                EXPECT_NE(ac.type, 'U') << "frame " << i + 1;
                EXPECT_EQ(ac.nr, station[s].vr) << "frame " << i + 1 << ": the station's N(R)";
            }
            if (ac.type == 'I') {
                checkNs(station[s], ans->bytes, i + 1);
            }
            // The primary takes a good answer.
            if (ans->fault == LinkFault::None || ans->fault == LinkFault::Late) {
                if (isU(ans->bytes, 0x63)) {
                    failed = false;
                    primary[s] = End{};
                    primary[s].up = isU(cmd.bytes, 0x83);
                } else if (ac.type != 'U') {
                    primary[s].heardNr = ac.nr;
                    if (ac.type == 'I' && ac.ns == primary[s].vr) {
                        primary[s].vr = (primary[s].vr + 1) % 8;
                    }
                    failed = isS(ans->bytes, 2) || isU(cmd.bytes, 0x83) || isU(cmd.bytes, 0x43);
                }
            }
            if (ans->fault == LinkFault::Lost) {
                count("lost answer");
            }
        }
        failures = failed ? failures + 1 : 0;

        // What follows a failure: the same station again, until four failures in a row.
        if (following != nullptr && failed && next < run.closedFrom) {
            if (failures == 4) {
                count("station left after four failures");
                EXPECT_NE(following->bytes[0], options.addresses[s]) << "frame " << next;
                failures = 0;
            } else {
                ASSERT_EQ(following->bytes[0], options.addresses[s]) << "frame " << next;
                const bool lost = ans == nullptr || !ans->onLine();
                const bool damagedAnswer = ans != nullptr && ans->fault == LinkFault::BitError;
                if (lost) {
                    count("the same frame after silence");
                    EXPECT_EQ(following->bytes, cmd.bytes) << "frame " << next;
                } else if (damagedAnswer && primary[s].up) {
                    count("REJ after a damaged answer");
                    EXPECT_TRUE(isS(following->bytes, 2)) << "frame " << next;
                    EXPECT_EQ(control(following->bytes).nr, primary[s].vr);
                } else if (rejectedI && control(ans->bytes).nr == cc.ns) {
                    count("the same I frame after REJ");
                    EXPECT_EQ(following->bytes, cmd.bytes) << "frame " << next;
                }
            }
        }
        // A station I frame damaged, then the REJ from the primary: the station sends it again
        // unless it is busy.
        if (ans != nullptr && ans->fault == LinkFault::BitError &&
            control(ans->bytes).type == 'I' && following != nullptr && isS(following->bytes, 2) &&
            next + 1 < log.size() && log[next + 1].line != LinkLine::Transmit &&
            log[next].fault == LinkFault::None && !isS(log[next + 1].bytes, 1)) {
            count("the station's I frame again after REJ");
            EXPECT_EQ(log[next + 1].bytes, ans->bytes) << "frame " << next + 1;
        }
        i = next;
    }
    if (GetParam().faults.loss > 0.05) {
        for (const char* scenario : {"lost answer", "late answer", "the same frame after silence",
                                     "REJ after a damaged answer", "the same I frame after REJ",
                                     "the station's I frame again after REJ"}) {
            EXPECT_GE(seen[scenario], 5) << scenario;
        }
    }
    if (GetParam().faults.loss == 0 && GetParam().faults.bitErrors == 0) {
        EXPECT_EQ(seen.size(), 0u) << seen.begin()->first;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, LinkRun, testing::ValuesIn(kFaultRows),
                         [](const testing::TestParamInfo<FaultRow>& info) {
                             return info.param.name;
                         });

// Every answer lost: the primary tries to set up each station four times, then the other.
TEST(SerialLink, EveryAnswerLostLeavesEachStationInTurn) {
    LinkOptions o;
    o.faults.loss = 1;
    const LinkTake run = runLink(o, 20'000);
    std::vector<Bytes> commands;
    for (const SentFrame& f : run.log) {
        if (f.line == LinkLine::Transmit) {
            commands.push_back(f.bytes);
        } else {
            EXPECT_EQ(f.fault, LinkFault::Lost);
        }
    }
    ASSERT_GE(commands.size(), 16u);
    for (std::size_t i = 0; i < commands.size(); ++i) {
        EXPECT_EQ(commands[i], (Bytes{o.addresses[(i / 4) % 2], 0x93})) << i;
    }
}

// One seed, one conversation, bit for bit; another seed, another one. Shares of 0 leave the
// conversation as it is up to the first fault.
TEST(SerialLink, DeterminedByTheSeed) {
    LinkOptions a;
    a.seed = 77;
    a.faults = {0.1, 0.1, 0.1};
    const LinkTake first = runLink(a, 50'000);
    const LinkTake again = runLink(a, 50'000);
    EXPECT_EQ(first.lines, again.lines);
    EXPECT_EQ(first.log, again.log);
    LinkOptions b = a;
    b.seed = 78;
    EXPECT_NE(runLink(b, 50'000).lines, first.lines);

    LinkOptions clean = a;
    clean.faults = {};
    const LinkTake c = runLink(clean, 50'000);
    std::size_t same = 0;
    while (same < first.log.size() && first.log[same] == c.log[same]) {
        ++same;
    }
    ASSERT_LT(same, first.log.size());
    EXPECT_NE(first.log[same].fault, LinkFault::None) << "diverged before a fault";
}

// A restart drops what was under way and sets the stations up again; text fills every I frame.
TEST(SerialLink, RestartOpensANewSession) {
    LinkOptions o;
    o.text = "Hi";
    SerialLink link(o);
    link.keepLog(true);
    for (int i = 0; i < 5000; ++i) {
        link.nextPeriod();
    }
    bool sawI = false;
    for (const SentFrame& f : link.log()) {
        if (control(f.bytes).type == 'I') {
            sawI = true;
            EXPECT_EQ(Bytes(f.bytes.begin() + 2, f.bytes.end()), (Bytes{'H', 'i'}));
        }
    }
    EXPECT_TRUE(sawI);
    link.clearLog();
    link.restart();
    const std::uint64_t at = link.periodsGenerated();
    for (int i = 0; i < 400; ++i) {
        link.nextPeriod();
    }
    ASSERT_GE(link.log().size(), 4u);
    EXPECT_EQ(link.log()[0].start, at + static_cast<std::uint64_t>(o.idleBits));
    EXPECT_EQ(link.log()[0].bytes, (Bytes{5, 0x93}));
    EXPECT_EQ(link.log()[2].bytes, (Bytes{9, 0x93}));
}

}  // namespace
}  // namespace osc::sim
