// Where frames lie on the time axis: the frames in a window against a linear scan, the cells of
// a frame, the window that shows a frame, and a frame's bits against the bit-stream decoder
// between its start and end on the trace it came from.
#include "core/view/frame_view.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "core/frames/bit_stream.h"
#include "core/trace/trace_completion.h"

namespace osc {
namespace {

using Bits = std::vector<std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

const Bits kFlag{0, 1, 1, 1, 1, 1, 1, 0};

Frame frameAt(Tick start, Tick end, Bytes bytes = {}, FrameError error = FrameError::None) {
    Frame f;
    f.start = start;
    f.end = end;
    f.bitCount = static_cast<std::uint32_t>(8 * bytes.size());
    f.bytes = std::move(bytes);
    f.error = error;
    f.check = FrameCheck::X25;
    f.status = error == FrameError::None ? CheckStatus::Good : CheckStatus::None;
    return f;
}

TEST(FrameView, FramesInWindowAgreeWithAScan) {
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        FrameSequence frames;
        Tick t = static_cast<Tick>(rng() % 5000);
        const int n = static_cast<int>(rng() % 30);
        for (int i = 0; i < n; ++i) {
            const Tick length = 256 * (16 + static_cast<Tick>(rng() % 40));
            frames.push_back(frameAt(t, t + length));
            // Neighbours may share a flag.
            t += rng() % 3 == 0 ? length - 2048 : length + static_cast<Tick>(rng() % 9000);
        }
        for (int w = 0; w < 20; ++w) {
            const double min = static_cast<double>(rng() % static_cast<unsigned>(t + 10000)) - 500;
            const double max = min + static_cast<double>(rng() % 20000);
            FrameRange expected{0, 0};
            bool found = false;
            for (std::size_t i = 0; i < frames.size(); ++i) {
                const bool in = static_cast<double>(frames[i].end) > min &&
                                static_cast<double>(frames[i].start) < max;
                if (in && !found) {
                    expected.first = i;
                    found = true;
                }
                if (in) {
                    expected.last = i + 1;
                }
            }
            const FrameRange got = framesInWindow(frames, min, max);
            if (!found) {
                EXPECT_EQ(got.size(), 0u) << "round " << round;
            } else {
                EXPECT_EQ(got, expected) << "round " << round << " window " << min << ".." << max;
            }
            const std::size_t from = rng() % (frames.size() + 1);
            std::size_t next = from;
            while (next < frames.size() && static_cast<double>(frames[next].start) < min) {
                ++next;
            }
            EXPECT_EQ(firstFrameFrom(frames, from, min), next);
        }
    }
}

TEST(FrameView, CellsCoverTheFrame) {
    struct Row {
        const char* name;
        Frame frame;
        std::vector<FrameCell> cells;
    };
    Frame checked = frameAt(1000, 1000 + 8 * 256 * 5, {0xA1, 0x03, 0x5C});  // flags and 3 bytes
    checked.status = CheckStatus::Good;
    Frame misaligned = frameAt(0, 8 * 256 * 2 + 12 * 256, {0x01, 0x02}, FrameError::Misaligned);
    misaligned.bitCount = 12;
    const std::vector<Row> rows = {
        {"three bytes, two of them check",
         checked,
         {{1000, 3048, FramePart::Flag, 0},
          {3048, 5096, FramePart::Payload, 0},
          {5096, 7144, FramePart::Check, 1},
          {7144, 9192, FramePart::Check, 2},
          {9192, 11240, FramePart::Flag, 0}}},
        {"misaligned: 12 bits, the second byte holds 4",
         misaligned,
         {{0, 2048, FramePart::Flag, 0},
          {2048, 4096, FramePart::Payload, 0},
          {4096, 5120, FramePart::Payload, 1},
          {5120, 7168, FramePart::Flag, 0}}},
        {"unfinished: no closing flag",
         frameAt(512, 512 + 2048 + 4096, {0x11, 0x22}, FrameError::Unfinished),
         {{512, 2560, FramePart::Flag, 0},
          {2560, 4608, FramePart::Payload, 0},
          {4608, 6656, FramePart::Payload, 1}}},
        {"shorter than a flag",
         frameAt(0, 1000, {}, FrameError::Abort),
         {{0, 1000, FramePart::Flag, 0}}},
        {"empty", frameAt(500, 500), {}},
    };
    std::vector<FrameCell> cells;
    for (const Row& row : rows) {
        frameCells(row.frame, cells);
        EXPECT_EQ(cells, row.cells) << row.name;
    }

    // Stuffed bits spread evenly: the cells still tile the frame, in order.
    Frame stuffed = frameAt(256, 256 + 256 * (16 + 8 * 7 + 3), Bytes(7, 0xFF));
    stuffed.status = CheckStatus::Good;
    frameCells(stuffed, cells);
    ASSERT_EQ(cells.size(), 9u);
    EXPECT_EQ(cells.front().start, stuffed.start);
    EXPECT_EQ(cells.back().end, stuffed.end);
    for (std::size_t i = 1; i < cells.size(); ++i) {
        EXPECT_EQ(cells[i].start, cells[i - 1].end);
        EXPECT_GT(cells[i].end, cells[i].start);
    }
    EXPECT_EQ(cells[5].part, FramePart::Payload);
    EXPECT_EQ(cells[6].part, FramePart::Check);
}

TEST(FrameView, WindowShowingAFrame) {
    struct Row {
        const char* name;
        AxisRange window;
        Tick start, end;
        AxisRange expected;
    };
    const Row rows[] = {
        {"inside: unchanged", {0, 25600}, 1000, 5000, {0, 25600}},
        {"edges inside count", {1000, 5000}, 1000, 5000, {1000, 5000}},
        {"right of it: centred, width kept", {0, 25600}, 50000, 52000, {38200, 63800}},
        {"left of it", {100000, 125600}, 1000, 3000, {-10800, 14800}},
        {"partly out", {0, 25600}, 25000, 26000, {12700, 38300}},
        {"wider than the window: zoomed out to it", {0, 2560}, 10000, 30000, {9000, 31000}},
        {"a short frame gets a bit period on each side", {0, 1000}, 10000, 11024, {9744, 11280}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(windowShowingFrame(row.window, row.start, row.end), row.expected) << row.name;
    }
}

// The link as the tests of the decoder build it: stuffed bytes between flags.
Bits dataBits(const Bytes& bytes, BitOrder order, bool stuffing) {
    Bits bits;
    int ones = 0;
    for (const std::uint8_t byte : bytes) {
        for (int k = 0; k < 8; ++k) {
            const int bit = (byte >> (order == BitOrder::LsbFirst ? k : 7 - k)) & 1;
            bits.push_back(static_cast<std::uint8_t>(bit));
            ones = bit != 0 ? ones + 1 : 0;
            if (stuffing && ones == 5) {
                bits.push_back(0);
                ones = 0;
            }
        }
    }
    return bits;
}

// Every frame that ends on a flag, whatever its error: its bits as frameLineBits gives them,
// grouped, equal what the bit-stream decoder reads between its start and end with the decoder
// set as the frames were decoded.
TEST(FrameView, LineBitsEqualTheBitStreamBetweenStartAndEnd) {
    std::mt19937 rng(17);
    int compared = 0;
    int longOnes = 0;
    int fiveOnes = 0;
    std::array<int, kFrameErrorCount> kinds{};
    for (int round = 0; round < 40; ++round) {
        FrameOptions o;
        o.invert = rng() % 3 == 0;
        o.order = rng() % 2 == 0 ? BitOrder::MsbFirst : BitOrder::LsbFirst;
        o.check = rng() % 2 == 0 ? FrameCheck::X25 : FrameCheck::Crc32;
        o.maxLength = 40;
        Bits line(12, 1);
        for (int piece = 0; piece < 30; ++piece) {
            Bytes payload(rng() % 8);
            for (auto& b : payload) {
                b = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
            }
            if (rng() % 2 == 0) {  // a check that fits, or not
                const std::uint16_t c = crc16X25(payload);
                payload.push_back(static_cast<std::uint8_t>(c));
                payload.push_back(static_cast<std::uint8_t>(c >> 8));
            }
            Bits data = dataBits(payload, o.order, true);
            const unsigned kind = rng() % 6;
            switch (kind) {
                case 0:  // loose bits: misaligned
                    data.push_back(0);
                    data.push_back(1);
                    break;
                case 1:  // longer than the decoder's span limit of 256 bits
                case 3:  // longer than the longest frame
                    for (int k = 0; k < (kind == 1 ? 30 : 50); ++k) {
                        const Bits more = dataBits({0x55}, o.order, true);
                        data.insert(data.end(), more.begin(), more.end());
                    }
                    break;
                case 2:  // an abort inside
                    data.insert(data.end(), 8, 1);
                    break;
                default:
                    break;
            }
            line.insert(line.end(), kFlag.begin(), kFlag.end());
            line.insert(line.end(), data.begin(), data.end());
            line.insert(line.end(), kFlag.begin(), kFlag.end());
            line.insert(line.end(), rng() % 20, 1);
        }
        ChannelTrace trace;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const int bit = (line[i] != 0) != o.invert ? 1 : 0;
            if (i == 0 || line[i] != line[i - 1]) {
                trace.add(static_cast<Tick>(i + 1) * 256, bit != 0 ? 6 : 5);
            }
        }
        trace.add(static_cast<Tick>(line.size() + 1) * 256, 6);
        CompleteTrace(trace);
        ChannelFrameDecoder decoder(1, o);
        for (const TracePoint p : trace.points()) {
            decoder.addPoint(p.x, p.y);
        }
        decoder.finish();
        ChannelTraces traces;
        traces[1] = trace;
        BitStreamOptions b;
        b.reverse = o.order == BitOrder::MsbFirst;
        b.invert = o.invert;
        b.unstuff = o.stuffing;
        b.spanLimit = 1e18;
        for (const Frame& f : decoder.frames()) {
            ++kinds[static_cast<std::size_t>(f.error)];
            if (!endsWithFlag(f)) {
                continue;
            }
            // Bits that end in exactly five 1s before the closing flag (no sender stuffs so, a
            // damaged frame may): the bit-stream decoder takes the flag's first 0 for a
            // stuffed bit there, the frame decoder rightly for the flag's.
            const std::string bits = frameLineBits(f, o.order);
            const std::string data = bits.substr(7, bits.size() - 15);
            if (data.size() >= 6 && data.substr(data.size() - 6) == "011111") {
                ++fiveOnes;
                continue;
            }
            const BitStreamResult read = DecodeBitStream(traces, 1, static_cast<double>(f.start),
                                                         static_cast<double>(f.end), b);
            const BitStreamResult own = GroupBitText(bits, b);
            ASSERT_EQ(read.status, BitStreamStatus::Decoded);
            EXPECT_EQ(own.bitText, read.bitText)
                << "round " << round << " frame at " << f.start << " " << frameErrorName(f.error);
            EXPECT_EQ(own.valueText, read.valueText);

            ++compared;
            longOnes += f.end - f.start >= 257 * 256 ? 1 : 0;
        }
    }
    EXPECT_GT(compared, 500);
    EXPECT_GT(longOnes, 20);
    EXPECT_LT(fiveOnes, compared / 10);
    for (const FrameError e : {FrameError::None, FrameError::BadCheck, FrameError::Misaligned,
                               FrameError::TooLong, FrameError::Abort, FrameError::TooShort}) {
        EXPECT_GT(kinds[static_cast<std::size_t>(e)], 0) << frameErrorName(e);
    }
}

}  // namespace
}  // namespace osc
