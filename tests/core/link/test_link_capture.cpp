// The link analysis over the frames of growing channel traces, as a live capture feeds it:
// how far the frame decoders can say their frames are settled, and the analysis read at any
// moment against the one of the finished capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "core/frames/capture_frames.h"
#include "core/link/link_analysis.h"

namespace osc {
namespace {

using Bits = std::vector<std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

// The line bits of a frame: flag, the bytes and their X.25 check least significant bit first
// with a 0 stuffed after five 1s, flag.
Bits frameBits(Bytes bytes) {
    const std::uint16_t c = crc16X25(bytes);
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    Bits bits{0, 1, 1, 1, 1, 1, 1, 0};
    int ones = 0;
    for (const std::uint8_t b : bytes) {
        for (int k = 0; k < 8; ++k) {
            const std::uint8_t bit = (b >> k) & 1;
            bits.push_back(bit);
            ones = bit != 0 ? ones + 1 : 0;
            if (ones == 5) {
                bits.push_back(0);
                ones = 0;
            }
        }
    }
    bits.insert(bits.end(), {0, 1, 1, 1, 1, 1, 1, 0});
    return bits;
}

// Three data lines of a polled link: the primary polls stations 1 and 2 in turn on line 1; a
// station answers on its line after a while, or not at all, now and then with a damaged frame,
// a frame cut short by 1s (an abort) or a line held low for a while. Line 3 goes silent for
// the last third. One bit per period, 1 idle.
std::array<Bits, kChannelCount> conversation(std::mt19937& rng, std::size_t polls) {
    std::array<Bits, kChannelCount> lines;
    auto idleTo = [&](std::size_t n) {
        for (int c = 1; c < kChannelCount; ++c) {
            lines[static_cast<std::size_t>(c)].resize(n, 1);
        }
    };
    std::size_t t = 20;
    int ns = 0;
    for (std::size_t k = 0; k < polls; ++k) {
        idleTo(t);
        const int station = 1 + static_cast<int>(k % 2);
        const Bits poll = frameBits(
            {static_cast<std::uint8_t>(station), static_cast<std::uint8_t>(ns << 1 | 0x10)});
        if (rng() % 5 != 0) {
            ns = (ns + 1) % 8;
        }
        lines[1].insert(lines[1].end(), poll.begin(), poll.end());
        t += poll.size();
        idleTo(t);
        const auto line = static_cast<std::size_t>(station + 1);
        const bool silent = line == 3 && k > polls * 2 / 3;
        const int fate = static_cast<int>(rng() % 10);
        if (!silent && fate != 0) {
            lines[line].resize(t + rng() % 30, 1);
            Bytes answer{static_cast<std::uint8_t>(station), 0x11};
            for (std::size_t n = rng() % 12; n > 0; --n) {
                answer.push_back(static_cast<std::uint8_t>(rng()));
            }
            Bits bits = frameBits(answer);
            if (fate == 1) {
                bits[12] ^= 1;  // damaged
            } else if (fate == 2) {
                bits.resize(30);  // cut short: the 1s after it abort it
            } else if (fate == 3) {
                bits.insert(bits.end(), 40, 0);  // the line held low after the frame
            }
            lines[line].insert(lines[line].end(), bits.begin(), bits.end());
            t = std::max(t, lines[line].size());
        }
        t += rng() % 50;
    }
    idleTo(t + 40);
    return lines;
}

struct Point {
    Tick x;
    int channel;
    std::uint8_t level;
};

// The points of the lines as a capture has them: the first at 0 on the level of a set bit, then
// one where a line changes, 128 ticks into its period; in order of X.
std::vector<Point> pointsOf(const std::array<Bits, kChannelCount>& lines) {
    std::vector<Point> out;
    for (int c = 1; c < kChannelCount; ++c) {
        const ChannelInfo& info = kChannels[static_cast<std::size_t>(c)];
        out.push_back({0, c, info.levelSet});
        int last = -1;
        const Bits& bits = lines[static_cast<std::size_t>(c)];
        for (std::size_t p = 0; p < bits.size(); ++p) {
            if (bits[p] != last) {
                out.push_back({static_cast<Tick>(p + 1) * 256 + 128, c,
                               bits[p] != 0 ? info.levelClear : info.levelSet});
                last = bits[p];
            }
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Point& a, const Point& b) { return a.x < b.x; });
    return out;
}

void close(ChannelTraces& traces, Tick end) {
    for (int c = 1; c < kChannelCount; ++c) {
        ChannelTrace& t = traces[static_cast<std::size_t>(c)];
        t.add(end, t.y(static_cast<std::ptrdiff_t>(t.count() - 1)));
    }
}

// Every frame that a decoder reports after saying it is settled up to S starts at or after S;
// and a line that has gone quiet says so before its next point.
TEST(LinkCapture, DecoderSettledStartHolds) {
    std::mt19937 rng(3);
    for (int round = 0; round < 20; ++round) {
        const std::array<Bits, kChannelCount> lines = conversation(rng, 40);
        const std::vector<Point> points = pointsOf(lines);
        for (int c = 1; c < kChannelCount; ++c) {
            std::vector<Point> mine;
            for (const Point& p : points) {
                if (p.channel == c) {
                    mine.push_back(p);
                }
            }
            FrameOptions options;
            options.invert = round % 4 == 3;
            ChannelFrameDecoder plain(c, options);
            ChannelFrameDecoder decoder(c, options);
            std::vector<std::pair<std::size_t, Tick>> claims;  // frames known, settled start
            for (std::size_t i = 0; i < mine.size(); ++i) {
                plain.addPoint(mine[i].x, mine[i].level);
                decoder.addPoint(mine[i].x, mine[i].level);
                // Any time up to the next point may be the caller's settled time (the gap after
                // the last one is not completed).
                const Tick next = i + 1 < mine.size() ? mine[i + 1].x : mine[i].x;
                const Tick quiet =
                    mine[i].x +
                    static_cast<Tick>(rng() % static_cast<std::uint64_t>(next - mine[i].x + 1));
                if (rng() % 2 == 0) {
                    decoder.readQuiet(quiet);
                }
                const Tick settled = decoder.settledStart(quiet);
                EXPECT_LE(settled, quiet);
                claims.emplace_back(decoder.frames().size(), settled);
            }
            plain.finish();
            decoder.finish();
            const FrameSequence& frames = decoder.frames();
            ASSERT_EQ(frames, plain.frames()) << "round " << round << " channel " << c;
            for (const auto& [known, settled] : claims) {
                for (std::size_t k = known; k < frames.size(); ++k) {
                    ASSERT_GE(frames[k].start, settled)
                        << "round " << round << " channel " << c << " frame " << k;
                }
            }
        }
    }
    // A line idle after its last frame: settled up to the time given once 16 periods have
    // passed, not before.
    const Bits idle = [] {
        Bits b(10, 1);
        const Bits f = frameBits({1, 2, 3});
        b.insert(b.end(), f.begin(), f.end());
        b.insert(b.end(), 5, 1);
        return b;
    }();
    ChannelFrameDecoder decoder(1);
    std::array<Bits, kChannelCount> lines{};
    lines[1] = idle;
    Tick last = 0;
    for (const Point& p : pointsOf(lines)) {
        if (p.channel == 1) {
            decoder.addPoint(p.x, p.level);
            last = p.x;
        }
    }
    ASSERT_EQ(decoder.frames().size(), 1u);
    EXPECT_LT(decoder.settledStart(last + 15 * 256), last);
    EXPECT_EQ(decoder.settledStart(last + 16 * 256), last + 16 * 256);
}

// The analysis of a capture read while it grows, whenever the window might ask, equals that of
// the finished capture; what it has read is final but for the open command; and a silent line
// does not hold it back.
TEST(LinkCapture, LiveEqualsWholeCapture) {
    std::mt19937 rng(7);
    for (int round = 0; round < 12; ++round) {
        const std::array<Bits, kChannelCount> lines = conversation(rng, 150);
        const std::vector<Point> points = pointsOf(lines);
        Tick end = 0;
        for (const Bits& b : lines) {
            end = std::max(end, static_cast<Tick>(b.size() + 1) * 256);
        }
        LinkOptions options;
        options.answerTimeout = round % 2 == 0 ? 0 : 60;

        ChannelTraces full;
        for (const Point& p : points) {
            full[static_cast<std::size_t>(p.channel)].add(p.x, p.level);
        }
        close(full, end);
        CaptureFrames wholeFrames;
        wholeFrames.setEnabled(true);
        wholeFrames.restart();
        wholeFrames.finish(full);
        LinkAnalysis whole(wholeFrames);
        whole.setOptions(options);
        const LinkAnalyser& all = whole.analyser();
        ASSERT_GT(all.stations().size(), 1u);

        ChannelTraces growing;
        CaptureFrames liveFrames;
        liveFrames.setEnabled(true);
        liveFrames.restart();
        LinkAnalysis live(liveFrames);
        live.setOptions(options);
        std::size_t i = 0;
        Tick lastAsked = 0;
        while (i < points.size()) {
            const std::size_t n = 1 + rng() % 40;
            for (std::size_t k = 0; k < n && i < points.size(); ++k, ++i) {
                growing[static_cast<std::size_t>(points[i].channel)].add(points[i].x,
                                                                         points[i].level);
            }
            const Tick upTo = points[i - 1].x;
            liveFrames.follow(growing, upTo);
            if (rng() % 3 != 0) {
                continue;
            }
            lastAsked = upTo;
            const LinkAnalyser& now = live.analyser();
            for (int c = 1; c < kChannelCount; ++c) {
                for (std::size_t f = 0; f < now.analysed(c); ++f) {
                    if (now.openCommand() == FrameRef{c, f}) {
                        continue;
                    }
                    ASSERT_EQ(now.info(c, f), all.info(c, f))
                        << "round " << round << " channel " << c << " frame " << f;
                }
            }
        }
        // Up to the last point asked for, everything that ended 40 periods before it is read,
        // the silent line notwithstanding.
        const LinkAnalyser& before = live.analyser();
        for (int c = 1; c < kChannelCount; ++c) {
            const FrameSequence& f = wholeFrames.frames(c);
            std::size_t ended = 0;
            while (ended < f.size() && f[ended].end < lastAsked - 40 * 256) {
                ++ended;
            }
            EXPECT_GE(before.analysed(c), ended) << "round " << round << " channel " << c;
        }
        close(growing, end);
        liveFrames.finish(growing);
        const LinkAnalyser& done = live.analyser();
        for (int c = 1; c < kChannelCount; ++c) {
            ASSERT_EQ(liveFrames.frames(c), wholeFrames.frames(c)) << "round " << round;
            ASSERT_EQ(done.analysed(c), all.analysed(c));
            for (std::size_t f = 0; f < all.analysed(c); ++f) {
                ASSERT_EQ(done.info(c, f), all.info(c, f)) << "round " << round;
            }
        }
        EXPECT_EQ(done.stations(), all.stations()) << "round " << round;
        EXPECT_EQ(done.lines(), all.lines()) << "round " << round;
    }
}

}  // namespace
}  // namespace osc
