#include "core/link/link_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Control bytes, modulo 8.
std::uint8_t I(int ns, int nr, bool pf = false) {
    return static_cast<std::uint8_t>(nr << 5 | (pf ? 0x10 : 0) | ns << 1);
}
std::uint8_t S(LinkCommand kind, int nr, bool pf = false) {
    const int k = static_cast<int>(kind) - static_cast<int>(LinkCommand::RR);
    return static_cast<std::uint8_t>(nr << 5 | (pf ? 0x10 : 0) | k << 2 | 1);
}
std::uint8_t U(std::uint8_t code, bool pf = false) {
    return static_cast<std::uint8_t>(code | (pf ? 0x10 : 0));
}
constexpr std::uint8_t kSNRM = 0x83, kUA = 0x63, kUI = 0x03;

// A good frame of 32 bit periods from `start` (in bits), with a two-byte check.
Frame frame(int channel, Tick start, Bytes payload, Tick length = 32) {
    Frame f;
    f.channel = channel;
    f.start = start * kTicksPerBit;
    f.end = (start + length) * kTicksPerBit;
    payload.push_back(0x12);
    payload.push_back(0x34);
    f.bytes = payload;
    f.bitCount = static_cast<std::uint32_t>(payload.size() * 8);
    f.status = CheckStatus::Good;
    return f;
}
Frame cmd(Tick start, std::uint8_t address, std::uint8_t control) {
    return frame(1, start, {address, control});
}
Frame rsp(int channel, Tick start, std::uint8_t address, std::uint8_t control) {
    return frame(channel, start, {address, control});
}
Frame bad(int channel, Tick start, FrameError error = FrameError::BadCheck) {
    Frame f = frame(channel, start, {0x01, 0x10});
    f.error = error;
    f.status = error == FrameError::BadCheck ? CheckStatus::Bad : CheckStatus::None;
    return f;
}

struct Capture {
    std::vector<Frame> frames;  // in order of start
    Tick end = 0;               // ticks
    std::array<FrameSequence, kChannelCount> lists;
    std::vector<FrameRef> refs;  // of frames[k]

    Capture(std::vector<Frame> f, Tick endBits)
        : frames(std::move(f)), end(endBits * kTicksPerBit) {
        for (const Frame& x : frames) {
            refs.push_back({x.channel, lists[static_cast<std::size_t>(x.channel)].size()});
            lists[static_cast<std::size_t>(x.channel)].push_back(x);
        }
        if (end == 0) {
            for (const Frame& x : frames) {
                end = std::max(end, x.end + 1000 * kTicksPerBit);
            }
        }
    }
    LinkAnalyser::Lists all() const {
        LinkAnalyser::Lists l{};
        for (int c = 0; c < kChannelCount; ++c) {
            l[static_cast<std::size_t>(c)] = &lists[static_cast<std::size_t>(c)];
        }
        return l;
    }
    int number(FrameRef ref) const {
        for (std::size_t k = 0; k < refs.size(); ++k) {
            if (refs[k] == ref) {
                return static_cast<int>(k) + 1;
            }
        }
        return 0;
    }
    // "2:no_answer 3:retransmission>4 4:>3": each frame (numbered from 1 in the list) that has
    // issues or a partner.
    std::string summary(const LinkAnalyser& a) const {
        std::string out;
        for (std::size_t k = 0; k < frames.size(); ++k) {
            const LinkInfo& i = a.info(refs[k].channel, refs[k].index);
            if (i.issues == 0 && !i.partner().valid()) {
                continue;
            }
            out += out.empty() ? "" : " ";
            out += std::to_string(k + 1) + ":";
            std::string names;
            for (const LinkIssue issue : kLinkIssues) {
                if (i.has(issue)) {
                    names += names.empty() ? "" : ",";
                    names += linkIssueName(issue);
                }
            }
            out += names;
            if (i.partner().valid()) {
                out += ">" + std::to_string(number(i.partner()));
            }
        }
        return out;
    }
};

LinkAnalyser whole(const Capture& c, const LinkOptions& o) {
    LinkAnalyser a(o);
    a.read(c.all(), c.end, true);
    return a;
}

// The capture as a live one sees it: each frame arrives when it ends (a long frame on one line
// after shorter, later ones on another), and the analysis is settled up to where no line has a
// frame open. Reads at every arrival (or, with `sparse`, at some of them). Checks on the way
// that whatever was read is final except the open command, and returns the analysis after the
// end.
LinkAnalyser live(const Capture& c, const LinkOptions& o, const LinkAnalyser& final,
                  std::mt19937* sparse = nullptr) {
    std::vector<std::size_t> byEnd(c.frames.size());
    for (std::size_t k = 0; k < byEnd.size(); ++k) {
        byEnd[k] = k;
    }
    std::stable_sort(byEnd.begin(), byEnd.end(), [&](std::size_t a, std::size_t b) {
        return c.frames[a].end < c.frames[b].end;
    });
    std::array<FrameSequence, kChannelCount> lists;
    LinkAnalyser::Lists view{};
    for (int ch = 0; ch < kChannelCount; ++ch) {
        view[static_cast<std::size_t>(ch)] = &lists[static_cast<std::size_t>(ch)];
    }
    LinkAnalyser a(o);
    std::vector<bool> arrived(c.frames.size(), false);
    for (std::size_t step = 0; step < byEnd.size(); ++step) {
        const std::size_t k = byEnd[step];
        const Tick now = c.frames[k].end;
        arrived[k] = true;
        lists[static_cast<std::size_t>(c.frames[k].channel)].push_back(c.frames[k]);
        if (sparse != nullptr && (*sparse)() % 3 != 0) {
            continue;
        }
        // Settled: the start of the earliest frame still open on any line, or now.
        Tick settled = now;
        for (std::size_t j = 0; j < c.frames.size(); ++j) {
            if (!arrived[j]) {
                settled = std::min(settled, c.frames[j].start);
            }
        }
        a.read(view, settled);
        for (int ch = 0; ch < kChannelCount; ++ch) {
            for (std::size_t i = 0; i < a.analysed(ch); ++i) {
                if (a.openCommand() == FrameRef{ch, i}) {
                    continue;
                }
                EXPECT_EQ(a.info(ch, i), final.info(ch, i))
                    << "channel " << ch << " frame " << i << " at " << now;
            }
        }
    }
    a.read(view, c.end, true);
    return a;
}

struct Scenario {
    const char* name;
    std::vector<Frame> frames;
    const char* expected;
    LinkOptions options = {};
    Tick end = 0;  // bits; 0: 1000 after the last frame
};

TEST(LinkAnalysis, NamedScenarios) {
    LinkOptions timeout;
    timeout.answerTimeout = 50;
    LinkOptions modulo128;
    modulo128.modulo = 128;
    LinkOptions primary3;
    primary3.primary = 3;
    const Scenario scenarios[] = {
        {"answered polls",
         {cmd(0, 1, I(0, 0, true)), rsp(2, 40, 1, I(0, 1, true)), cmd(100, 2, I(0, 0, true)),
          rsp(3, 140, 2, I(0, 1, true))},
         "1:>2 2:>1 3:>4 4:>3"},
        {"a lost answer: the poll sent again",
         {cmd(0, 1, I(0, 0, true)), cmd(100, 1, I(0, 0, true)), rsp(2, 140, 1, I(0, 1, true))},
         "1:no_answer 2:retransmission>3 3:>2"},
        {"a retransmission after an answer",
         {cmd(0, 1, I(0, 0, true)), rsp(2, 40, 1, S(LinkCommand::RR, 1, true)),
          cmd(100, 1, I(1, 0, true)), rsp(2, 140, 1, S(LinkCommand::RR, 2, true)),
          cmd(200, 1, I(1, 0, true)), rsp(2, 240, 1, S(LinkCommand::RR, 2, true))},
         "1:>2 2:>1 3:>4 4:>3 5:retransmission>6 6:>5"},
        {"a corrupted answer is an answer of sorts: no no_answer, no partner",
         {cmd(0, 1, I(0, 0, true)), bad(2, 40), cmd(100, 1, I(1, 0, true)),
          rsp(2, 140, 1, I(0, 2, true))},
         "3:>4 4:>3"},
        {"an aborted answer too",
         {cmd(0, 1, I(0, 0, true)), bad(2, 40, FrameError::Abort), cmd(100, 1, I(1, 0, true))},
         ""},
        {"a REJ of a corrupted command and the frame sent again",
         {cmd(0, 1, I(0, 0, true)), rsp(2, 40, 1, S(LinkCommand::RR, 1, true)), bad(1, 100),
          rsp(2, 140, 1, S(LinkCommand::REJ, 1, true)), cmd(200, 1, I(1, 0, true)),
          rsp(2, 240, 1, S(LinkCommand::RR, 2, true))},
         "1:>2 2:>1 5:>6 6:>5"},
        {"a lost answer, and the poll sent again damaged: the REJ answers the first poll",
         {cmd(0, 1, I(0, 0, true)), bad(1, 100), rsp(2, 140, 1, S(LinkCommand::REJ, 0, true)),
          cmd(200, 1, I(0, 0, true)), rsp(2, 240, 1, S(LinkCommand::RR, 1, true))},
         "1:no_answer>3 3:>1 4:retransmission>5 5:>4"},
        {"a REJ of a good command and the frame sent again",
         {cmd(0, 1, I(0, 0, true)), rsp(2, 40, 1, S(LinkCommand::RR, 1, true)),
          cmd(100, 1, I(1, 0, true)), rsp(2, 140, 1, S(LinkCommand::REJ, 1, true)),
          cmd(200, 1, I(1, 0, true)), rsp(2, 240, 1, S(LinkCommand::RR, 2, true))},
         "1:>2 2:>1 3:>4 4:>3 5:retransmission>6 6:>5"},
        {"a REJ asks for an older frame: going back is no gap",
         {cmd(0, 1, I(0, 0)), cmd(40, 1, I(1, 0)), cmd(80, 1, I(2, 0, true)),
          rsp(2, 120, 1, S(LinkCommand::REJ, 1, true)), cmd(200, 1, I(1, 0)),
          cmd(240, 1, I(2, 0, true)), rsp(2, 280, 1, S(LinkCommand::RR, 3, true))},
         "3:>4 4:>3 6:>7 7:>6"},
        {"a gap, and SNRM starting the count again",
         {cmd(0, 1, I(0, 0, true)), rsp(2, 40, 1, I(0, 1, true)), cmd(100, 1, I(2, 1, true)),
          rsp(2, 140, 1, I(2, 3, true)), cmd(200, 1, U(kSNRM, true)), rsp(2, 240, 1, U(kUA, true)),
          cmd(300, 1, I(0, 0, true)), rsp(2, 340, 1, I(0, 1, true))},
         "1:>2 2:>1 3:sequence_gap>4 4:sequence_gap>3 5:>6 6:>5 7:>8 8:>7"},
        {"modulo 128 counts past 7 and wraps",
         {frame(1, 0, {1, 0xFE, 0x00}), frame(1, 100, {1, 0x00, 0x00}),
          frame(1, 200, {1, 0x02, 0x00}), frame(1, 300, {1, 0x10, 0x00})},
         "4:sequence_gap",
         modulo128},
        {"unsolicited answers",
         {rsp(2, 0, 3, I(0, 0, true)), cmd(100, 1, I(0, 0, true)), rsp(2, 140, 1, I(0, 1, true)),
          rsp(3, 180, 2, I(0, 1, true)), cmd(300, 1, I(1, 0, false)),
          rsp(2, 340, 1, I(1, 2, true))},
         "1:unsolicited 2:>3 3:>2 4:unsolicited 6:unsolicited"},
        {"a broadcast without poll",
         {cmd(0, 0xFF, U(kUI)), cmd(100, 1, I(0, 0, true)), rsp(2, 140, 1, I(0, 1, true)),
          cmd(200, 0xFF, U(kUI))},
         "2:>3 3:>2"},
        {"a response of another station keeps no_answer away",
         {cmd(0, 1, I(0, 0, true)), rsp(3, 40, 2, I(0, 0, true)), cmd(100, 1, I(1, 0, true))},
         "2:unsolicited"},
        {"the answer is the first response; the others of the poll are not unsolicited",
         {cmd(0, 1, I(0, 0, true)), rsp(2, 40, 1, I(0, 1)), rsp(2, 80, 1, I(1, 1, true))},
         "1:>2 2:>1"},
        {"a response that starts before the command ends answers nothing",
         {cmd(0, 1, I(0, 0, true)), rsp(2, 20, 1, I(0, 1, true)), cmd(100, 1, I(1, 0))},
         "1:no_answer 2:unsolicited"},
        {"the answer timeout closes the window",
         {cmd(0, 1, I(0, 0, true)), rsp(2, 100, 1, I(0, 1, true)), cmd(200, 1, I(1, 0, true))},
         "1:no_answer 3:no_answer",
         timeout,
         300},
        {"the end of the capture before the timeout",
         {cmd(0, 1, I(0, 0, true)), rsp(2, 40, 1, I(0, 1, true)), cmd(200, 1, I(1, 0, true))},
         "1:>2 2:>1",
         timeout,
         281},
        {"a command at the end without a timeout", {cmd(0, 1, I(0, 0, true))}, ""},
        {"the primary on another line",
         {frame(3, 0, {4, I(0, 0, true)}), frame(1, 40, {4, I(0, 1, true)}),
          frame(3, 100, {4, I(1, 1, true)}), frame(2, 100, {5, I(0, 0, true)})},
         "1:>2 2:>1 4:unsolicited",
         primary3},
    };
    for (const Scenario& s : scenarios) {
        const Capture capture(s.frames, s.end);
        const LinkAnalyser all = whole(capture, s.options);
        EXPECT_EQ(capture.summary(all), s.expected) << s.name;
        const LinkAnalyser step = live(capture, s.options, all);
        EXPECT_EQ(capture.summary(step), s.expected) << s.name << " (live)";
        EXPECT_EQ(step.stations(), all.stations()) << s.name;
        EXPECT_EQ(step.lines(), all.lines()) << s.name;
    }
}

TEST(LinkAnalysis, StationStatistics) {
    // Station 1 answers 20 polls after 1 to 20 bits (and once half a bit more); station 2 answers
    // nothing; channel 2 has a bad frame and an abort.
    std::vector<Frame> frames;
    Tick t = 0;
    for (int k = 0; k < 20; ++k) {
        frames.push_back(cmd(t, 1, I(k % 8, 0, true)));
        Frame r = rsp(2, t + 32 + (k + 1), 1, S(LinkCommand::RR, (k + 1) % 8, true));
        if (k == 19) {
            r.start += 128;
        }
        frames.push_back(r);
        t += 200;
    }
    frames.push_back(cmd(t, 2, U(kSNRM, true)));
    frames.push_back(cmd(t + 200, 2, U(kSNRM, true)));
    frames.push_back(bad(3, t + 300));
    frames.push_back(bad(3, t + 400, FrameError::Abort));
    frames.push_back(frame(2, t + 500, {}));  // good, but no address and control
    const Capture capture(frames, 0);
    const LinkAnalyser a = whole(capture, {});
    const std::vector<StationStats> st = a.stations();
    ASSERT_EQ(st.size(), 2u);
    StationStats one;
    one.address = 1;
    one.frames = 40;
    one.bytes = 160;
    one.commands = 20;
    one.responses = 20;
    one.iFrames = 20;
    one.sFrames = 20;
    one.polls = 20;
    one.answers = 20;
    one.retransmission = 0;
    one.responseMin = 1 * kTicksPerBit;
    one.responseMax = 20 * kTicksPerBit + 128;
    one.responseMean = (210.0 * kTicksPerBit + 128) / 20;
    one.responseP95 = 19 * kTicksPerBit;  // the 19th of 20
    EXPECT_EQ(st[0], one);
    StationStats two;
    two.address = 2;
    two.frames = 2;
    two.bytes = 8;
    two.commands = 2;
    two.uFrames = 2;
    two.polls = 2;
    two.noAnswer = 1;  // the second one is at the end, without a timeout
    EXPECT_EQ(st[1], two);
    EXPECT_EQ(a.lines()[1], (LineStats{22, 22, 0, 0, 0}));
    EXPECT_EQ(a.lines()[2], (LineStats{21, 21, 0, 0, 1}));
    EXPECT_EQ(a.lines()[3], (LineStats{2, 0, 2, 1, 0}));
    EXPECT_EQ(a.openCommand(), (FrameRef{1, 21}));

    // Without an address field every frame is one station's.
    LinkOptions none;
    none.address = AddressMode::None;
    const std::vector<StationStats> anon = whole(capture, none).stations();
    ASSERT_EQ(anon.size(), 1u);
    EXPECT_FALSE(anon[0].hasAddress);
}

// Random conversations: bad frames, polls without answers, answers from the wrong station,
// resets and rejects, frames of different lengths so that frames end out of the order they
// start in. Reading them live, whenever some frames arrived, gives the same as one pass.
TEST(LinkAnalysis, LiveEqualsWholeOnRandomConversations) {
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        LinkOptions o;
        o.modulo = round % 3 == 0 ? 128 : 8;
        o.answerTimeout = round % 2 == 0 ? 0 : 20 + rng() % 60;
        o.primary = 1 + static_cast<int>(rng() % 3);
        std::vector<Frame> frames;
        std::array<Tick, kChannelCount> free{};
        for (int k = 0; k < 120; ++k) {
            const int channel = 1 + static_cast<int>(rng() % 3);
            const Tick length = 16 + static_cast<Tick>(rng() % 80);
            const Tick start =
                free[static_cast<std::size_t>(channel)] + static_cast<Tick>(rng() % 60);
            free[static_cast<std::size_t>(channel)] = start + length;
            Bytes payload{static_cast<std::uint8_t>(1 + rng() % 3)};
            const int kind = static_cast<int>(rng() % 10);
            if (kind < 5) {
                payload.push_back(
                    I(static_cast<int>(rng() % 8), static_cast<int>(rng() % 8), rng() % 2 == 0));
            } else if (kind < 8) {
                payload.push_back(S(static_cast<LinkCommand>(1 + rng() % 4),
                                    static_cast<int>(rng() % 8), rng() % 2 == 0));
            } else {
                payload.push_back(U(rng() % 2 == 0 ? kSNRM : kUA, rng() % 2 == 0));
            }
            if (o.modulo == 128 && (payload[1] & 3) != 3) {
                payload.push_back(static_cast<std::uint8_t>(rng()));
            }
            Frame f = frame(channel, start, payload, length);
            if (rng() % 12 == 0) {
                f.error = rng() % 2 == 0 ? FrameError::BadCheck : FrameError::Abort;
            }
            frames.push_back(f);
        }
        std::stable_sort(frames.begin(), frames.end(), [&](const Frame& a, const Frame& b) {
            if (a.start != b.start) {
                return a.start < b.start;
            }
            return (a.channel == o.primary) > (b.channel == o.primary) ||
                   ((a.channel == o.primary) == (b.channel == o.primary) && a.channel < b.channel);
        });
        const Capture capture(frames, 0);
        const LinkAnalyser all = whole(capture, o);
        const LinkAnalyser step = live(capture, o, all, round % 2 == 0 ? &rng : nullptr);
        EXPECT_EQ(capture.summary(step), capture.summary(all)) << "round " << round;
        EXPECT_EQ(step.stations(), all.stations()) << "round " << round;
        EXPECT_EQ(step.lines(), all.lines()) << "round " << round;
    }
}

}  // namespace
}  // namespace osc
