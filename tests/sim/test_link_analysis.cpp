// The link analysis of the engine against what the simulated polled link reports having sent:
// every answer found with its response time, every lost answer a poll without one, every
// damaged answer neither, a poll sent again after a lost answer a retransmission, and no gap
// where the link counted right.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <vector>

#include "core/frames/frame_decoder.h"
#include "core/link/link_analysis.h"
#include "sim/serial_link.h"

namespace osc::sim {
namespace {

struct Row {
    const char* name;
    LinkFaults faults;
    std::uint64_t seed;
};

class SimulatedLink : public testing::TestWithParam<Row> {};

TEST_P(SimulatedLink, AnalysisAgreesWithTheLog) {
    LinkOptions options;
    options.seed = GetParam().seed;
    options.faults = GetParam().faults;
    SerialLink link(options);
    link.keepLog(true);
    std::array<std::vector<std::uint8_t>, 3> bits;
    for (int i = 0; i < 300'000; ++i) {
        const PeriodBits p = link.nextPeriod();
        bits[0].push_back(p.transmit);
        bits[1].push_back(p.receive1);
        bits[2].push_back(p.receive2);
    }
    const std::uint64_t periods = link.periodsGenerated();

    // The lines' frames in ticks, a bit period 256 of them: channel 1 the transmit line.
    std::array<FrameSequence, kChannelCount> lists;
    for (std::size_t line = 0; line < 3; ++line) {
        FrameBitDecoder decoder;
        decoder.feed(bits[line]);
        decoder.finish();
        for (Frame f : decoder.frames()) {
            f.channel = static_cast<int>(line) + 1;
            f.start *= kTicksPerBit;
            f.end *= kTicksPerBit;
            lists[line + 1].push_back(f);
        }
    }
    LinkAnalyser analyser;
    LinkAnalyser::Lists view{};
    for (int c = 0; c < kChannelCount; ++c) {
        view[static_cast<std::size_t>(c)] = &lists[static_cast<std::size_t>(c)];
    }
    analyser.read(view, static_cast<Tick>(periods) * kTicksPerBit, true);

    // Each frame of the log on the line: its channel and index among that channel's frames.
    std::map<const SentFrame*, FrameRef> refs;
    std::array<std::size_t, kChannelCount> seen{};
    const std::vector<SentFrame>& log = link.log();
    for (const SentFrame& s : log) {
        if (s.onLine() && s.end <= periods) {
            const int channel = static_cast<int>(s.line) + 1;
            const std::size_t i = seen[static_cast<std::size_t>(channel)]++;
            ASSERT_EQ(lists[static_cast<std::size_t>(channel)][i].start,
                      static_cast<Tick>(s.start) * kTicksPerBit);
            refs[&s] = {channel, i};
        }
    }
    std::map<LinkFault, int> checked;
    const SentFrame* command = nullptr;  // the latest good command
    bool repeatDue = false;              // its answer was lost: the next command repeats it
    int repeats = 0;
    int lateAnswers = 0;  // of polls whose repeat was damaged
    for (std::size_t k = 0; k < log.size(); ++k) {
        const SentFrame& s = log[k];
        if (s.end > periods) {
            break;
        }
        if (s.line == LinkLine::Transmit) {
            if (s.fault == LinkFault::BitError) {
                continue;
            }
            const LinkInfo info = analyser.info(1, refs.at(&s).index);
            // A poll that repeats an I frame whose answer was lost.
            if (repeatDue && command != nullptr && (s.bytes[1] & 1) == 0 &&
                s.bytes == command->bytes) {
                EXPECT_TRUE(info.has(LinkIssue::Retransmission)) << "frame " << k;
                ++repeats;
            }
            repeatDue = false;
            command = &s;
            continue;
        }
        if (command == nullptr || k == 0 || log[k - 1].line != LinkLine::Transmit ||
            log[k - 1].fault == LinkFault::BitError) {
            continue;  // not the first frame after a good command
        }
        const LinkInfo asked = analyser.info(1, refs.at(command).index);
        // A poll whose answer is lost or damaged has none, unless the primary's next frame is
        // damaged too: the station's answer to that one (REJ) is then the poll's answer.
        const bool repeatDamaged = k + 1 < log.size() && log[k + 1].line == LinkLine::Transmit &&
                                   log[k + 1].fault == LinkFault::BitError;
        switch (s.fault) {
            case LinkFault::Lost:
            case LinkFault::BitError:
                EXPECT_EQ(asked.has(LinkIssue::NoAnswer), s.fault == LinkFault::Lost)
                    << "frame " << k;
                if (asked.partner().valid()) {
                    EXPECT_TRUE(repeatDamaged) << "frame " << k;
                    ++lateAnswers;
                }
                repeatDue = s.fault == LinkFault::Lost;
                break;
            case LinkFault::None:
            case LinkFault::Late: {
                const FrameRef answer = refs.at(&s);
                ASSERT_EQ(asked.partner(), answer) << "frame " << k;
                const LinkInfo info = analyser.info(answer.channel, answer.index);
                EXPECT_EQ(info.partner(), refs.at(command)) << "frame " << k;
                EXPECT_FALSE(info.has(LinkIssue::Unsolicited)) << "frame " << k;
                const Frame& a = lists[static_cast<std::size_t>(answer.channel)][answer.index];
                const Frame& c = lists[1][refs.at(command).index];
                EXPECT_EQ(a.start - c.end,
                          static_cast<Tick>(s.start - command->end) * kTicksPerBit);
                break;
            }
        }
        ++checked[s.fault];
    }
    // The link counts right: no gaps, whatever the faults.
    std::uint64_t answers = 0;
    for (const StationStats& st : analyser.stations()) {
        EXPECT_EQ(st.sequenceGap, 0u) << "station " << st.address;
        answers += st.answers;
    }
    EXPECT_EQ(answers, static_cast<std::uint64_t>(checked[LinkFault::None] +
                                                  checked[LinkFault::Late] + lateAnswers));
    EXPECT_GT(checked[LinkFault::None], 300);
    if (GetParam().faults.loss > 0) {
        EXPECT_GT(checked[LinkFault::Lost], 10);
        EXPECT_GT(repeats, 3);
    }
    if (GetParam().faults.bitErrors > 0) {
        EXPECT_GT(checked[LinkFault::BitError], 5);
    }
    if (GetParam().faults.late > 0) {
        EXPECT_GT(checked[LinkFault::Late], 10);
    }
}

const Row kRows[] = {
    {"Clean", {}, 3},
    {"Faulty", {0.06, 0.05, 0.06}, 4},
    {"Demo", kDemoFaults, 5},
};
INSTANTIATE_TEST_SUITE_P(Faults, SimulatedLink, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace osc::sim
