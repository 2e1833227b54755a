// The frame list writers over a capture's frames as they are walked: the walk in order of start
// against CaptureFrames::byStart (the list that the text was made from before the writers
// streamed), stretches keeping the frames' numbers, sinks of any size, cancel, and frames
// decoded anew under a walk.

#include "core/files/frame_export.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace osc {
namespace {

// Line bits of a frame, idle 1s around it: flag, payload and X.25 check least significant bit
// first with a 0 after five 1s, flag. With `cut`, the frame stops after that many bits.
void appendFrameBits(std::vector<int>& line, std::vector<std::uint8_t> payload,
                     std::size_t cut = SIZE_MAX) {
    const std::uint16_t crc = crc16X25(payload);
    payload.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    payload.push_back(static_cast<std::uint8_t>(crc >> 8));
    auto flag = [&] {
        for (const int b : {0, 1, 1, 1, 1, 1, 1, 0}) {
            line.push_back(b);
        }
    };
    flag();
    std::size_t bits = 0;
    int ones = 0;
    for (const std::uint8_t byte : payload) {
        for (int k = 0; k < 8 && bits < cut; ++k, ++bits) {
            const int b = (byte >> k) & 1;
            line.push_back(b);
            ones = b != 0 ? ones + 1 : 0;
            if (ones == 5) {
                line.push_back(0);
                ones = 0;
            }
        }
    }
    if (bits == payload.size() * 8) {
        flag();
    }
    for (int k = 0; k < 12; ++k) {
        line.push_back(1);
    }
}

// A capture with frames on the three data lines: random payloads at random distances, the
// same frames on Приём1 and Приём2 now and then (equal starts), some of them cut short.
ChannelTraces randomCapture(std::mt19937& rng) {
    std::array<std::vector<int>, kChannelCount> lines;
    const int frames = 5 + static_cast<int>(rng() % 40);
    for (int n = 0; n < frames; ++n) {
        std::vector<std::uint8_t> payload(1 + rng() % 6);
        for (std::uint8_t& b : payload) {
            b = static_cast<std::uint8_t>(rng());
        }
        const std::size_t cut = rng() % 8 == 0 ? rng() % 20 : SIZE_MAX;
        const int c = 1 + static_cast<int>(rng() % 3);
        auto& line = lines[static_cast<std::size_t>(c)];
        line.resize(line.size() + rng() % 30, 1);
        if (c == 2 && rng() % 2 == 0 && lines[3].size() <= line.size()) {
            lines[3].resize(line.size(), 1);
            appendFrameBits(lines[3], payload, cut);
        }
        appendFrameBits(line, payload, cut);
    }
    ChannelTraces traces;
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        const std::uint8_t set = kChannels[c].levelSet;
        for (std::size_t k = 0; k < lines[c].size(); ++k) {
            const int bit = lines[c][k];
            traces[c].add(static_cast<Tick>(k + 1) * kTicksPerBit,
                          static_cast<std::uint8_t>(set + (set + 1 + bit) % 2));
        }
    }
    return traces;
}

CaptureFrames decoded(const ChannelTraces& traces) {
    CaptureFrames frames;
    frames.setEnabled(true);
    frames.setOptions({}, kDataChannels);
    frames.restart();
    frames.finish(traces);
    return frames;
}

std::vector<std::pair<std::uint64_t, Frame>> walked(FrameWalk& walk) {
    std::vector<std::pair<std::uint64_t, Frame>> out;
    std::uint64_t n = 0;
    while (const Frame* f = walk.next(n)) {
        out.emplace_back(n, *f);
    }
    return out;
}

TEST(FrameExport, CaptureWalkFollowsTheOrderOfStart) {
    std::mt19937 rng(515);
    int ties = 0;
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        const ChannelTraces traces = randomCapture(rng);
        const CaptureFrames frames = decoded(traces);
        const std::vector<Frame> all = frames.byStart();
        ASSERT_FALSE(all.empty());
        for (std::size_t k = 1; k < all.size(); ++k) {
            ties += all[k].start == all[k - 1].start ? 1 : 0;
        }
        CaptureFrameWalk walk(frames);
        EXPECT_EQ(walk.total(), all.size());
        const auto got = walked(walk);
        ASSERT_EQ(got.size(), all.size());
        for (std::size_t k = 0; k < all.size(); ++k) {
            EXPECT_EQ(got[k].first, k + 1);
            EXPECT_EQ(got[k].second, all[k]);
        }
        for (const FrameListFormat format :
             {FrameListFormat::Text, FrameListFormat::Csv, FrameListFormat::Json}) {
            CaptureFrameWalk again(frames);
            EXPECT_EQ(collectText([&](OutputSink& s) { writeFrameList(again, format, s); }),
                      formatFrames(all, format));
        }
        // A stretch: the frames that start in it, with their numbers among all.
        const Tick last = all.back().start;
        const Tick from = static_cast<Tick>(rng() % static_cast<std::uint64_t>(last + 1));
        const Tick to = from + static_cast<Tick>(rng() % static_cast<std::uint64_t>(last / 2 + 2));
        CaptureFrameWalk part(frames, ExportStretch{from, to});
        std::vector<std::pair<std::uint64_t, Frame>> expected;
        for (std::size_t k = 0; k < all.size(); ++k) {
            if (all[k].start >= from && all[k].start < to) {
                expected.emplace_back(k + 1, all[k]);
            }
        }
        EXPECT_EQ(part.total(), expected.size());
        EXPECT_EQ(walked(part), expected);
        if (!expected.empty()) {
            CaptureFrameWalk json(frames, ExportStretch{from, to});
            const std::string text =
                collectText([&](OutputSink& s) { writeFrameList(json, FrameListFormat::Json, s); });
            EXPECT_EQ(text.rfind("[\n{\"index\":" + std::to_string(expected[0].first) + ",", 0), 0u)
                << text;
        }
    }
    EXPECT_GT(ties, 5);  // the rule for equal starts was exercised
}

// The bytes do not depend on the sink's size; the progress grows to 1 and cancels.
TEST(FrameExport, SinksOfAnySizeAndCancel) {
    std::mt19937 rng(77);
    const ChannelTraces traces = randomCapture(rng);
    const std::vector<Frame> some = decoded(traces).byStart();
    std::vector<Frame> many;
    many.reserve(10000);
    for (int k = 0; k < 10000; ++k) {
        many.push_back(some[static_cast<std::size_t>(k) % some.size()]);
    }
    const std::string whole = formatFrames(many, FrameListFormat::Csv);
    for (const std::size_t capacity : {1, 333, 1 << 20}) {
        SpanFrameWalk walk(many);
        std::string joined;
        std::size_t deliveries = 0;
        OutputSink sink(
            [&](std::string_view b) {
                joined += b;
                ++deliveries;
            },
            capacity);
        std::vector<double> shares;
        ASSERT_TRUE(writeFrameList(walk, FrameListFormat::Csv, sink, [&](double share) {
            shares.push_back(share);
            return true;
        }));
        EXPECT_EQ(joined, whole);
        EXPECT_GE(deliveries, whole.size() / (capacity + 200)) << capacity;
        ASSERT_EQ(shares.size(), 3u);  // at 4096 and 8192 frames, and at the end
        EXPECT_DOUBLE_EQ(shares[0], 4096.0 / 10000);
        EXPECT_EQ(shares.back(), 1.0);
    }
    SpanFrameWalk walk(many);
    std::string joined;
    OutputSink sink([&](std::string_view b) { joined += b; }, 1000);
    EXPECT_FALSE(
        writeFrameList(walk, FrameListFormat::Csv, sink, [](double share) { return share < 0.3; }));
    EXPECT_LT(joined.size(), whole.size() / 2);  // stopped at the first step
}

// Frames decoded anew under a walk (a restart) end it with an error, never a stale read.
TEST(FrameExport, FramesDecodedAnewEndTheWalk) {
    std::mt19937 rng(3);
    const ChannelTraces traces = randomCapture(rng);
    CaptureFrames frames = decoded(traces);
    CaptureFrameWalk walk(frames);
    std::uint64_t n = 0;
    ASSERT_NE(walk.next(n), nullptr);
    frames.restart();
    EXPECT_THROW(while (walk.next(n)){}, std::runtime_error);
}

}  // namespace
}  // namespace osc
