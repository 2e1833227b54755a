#include "core/frames/bit_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace osc {
namespace {

// Channel 2 (levels 3 and 4): upper level 4 reads 1, lower level 3 reads 0.
ChannelTraces tracesWith(int channel, const std::vector<std::pair<Tick, std::uint8_t>>& points) {
    ChannelTraces traces;
    for (const auto& [x, y] : points) {
        traces[static_cast<std::size_t>(channel)].add(x, y);
    }
    return traces;
}

// Points every 256 ticks from `from`, upper level for '1', lower for '0', then a closing point.
ChannelTraces bitsTrace(Tick from, const std::string& bits) {
    std::vector<std::pair<Tick, std::uint8_t>> points;
    Tick x = from;
    for (char c : bits) {
        points.push_back({x, c == '1' ? 4 : 3});
        x += 256;
    }
    points.push_back({x, 4});
    return tracesWith(2, points);
}

BitStreamOptions opts(int n, bool reverse = false, bool invert = false, bool unstuff = false) {
    return {n, reverse, invert, unstuff};
}

struct DecodeRow {
    const char* name;
    BitStreamOptions options;
    const char* bitText;
    const char* valueText;
};

TEST(DecodeBitStream, WorkedExample) {
    // Levels 4, 3, 4, 4, 4, 4, 4, 3, 4, 4, 3, 3, 4 from 10240 every 256 ticks.
    const ChannelTraces traces = bitsTrace(10240, "101111101100");
    const DecodeRow rows[] = {
        {"n = 4", opts(4), "1011 1110 1100  ", "D 7 3 "},
        {"reverse", opts(4, true), "1011 1110 1100  ", "B E C "},
        {"invert", opts(4, false, true), "0100 0001 0011  ", "2 8 C "},
        {"unstuff", opts(4, false, false, true), "1011 1111 100 ", "D F "},
        {"n = 8", opts(8), "10111110 1100 ", "7D "},
        {"n = 6", opts(6), "101111 101100  ", "3D 0D "},
    };
    for (const DecodeRow& r : rows) {
        const BitStreamResult res = DecodeBitStream(traces, 2, 10240, 13312, r.options);
        EXPECT_EQ(res.status, BitStreamStatus::Decoded) << r.name;
        EXPECT_EQ(res.bitText, r.bitText) << r.name;
        EXPECT_EQ(res.valueText, r.valueText) << r.name;
    }
}

struct FailRow {
    const char* name;
    int channel;
    double marker, cursor;
};

TEST(DecodeBitStream, Failures) {
    // Channel 2 has points every 256 ticks from 256 to 256 + 300 * 256; channel 1 one at 300.
    std::vector<std::pair<Tick, std::uint8_t>> points;
    for (Tick k = 1; k <= 301; ++k) {
        points.push_back({k * 256, 4});
    }
    ChannelTraces traces = tracesWith(2, points);
    traces[1].add(300, 5);
    traces[1].add(512, 6);
    const FailRow rows[] = {
        {"span 65792", 2, 512, 512 + 65792},
        {"span far over the limit", 2, 256, 1e300},
        {"no marker", 2, 0, 512},
        {"no channel", -1, 256, 512},
        {"channel out of range", 4, 256, 512},
        {"marker not on a point", 2, 300, 512},
        {"cursor not on a point", 2, 256, 513},
        {"cursor with a fraction", 2, 256, 512.5},
        {"marker on another trace only", 2, 300, 768},
        {"NaN cursor", 2, 256, std::nan("")},
    };
    for (const FailRow& r : rows) {
        for (int n : {8, 0}) {  // failures come before the group width is looked at
            const BitStreamResult res =
                DecodeBitStream(traces, r.channel, r.marker, r.cursor, opts(n));
            EXPECT_EQ(res.status, BitStreamStatus::Failed) << r.name;
            EXPECT_EQ(res.bitText, "?") << r.name;
            EXPECT_EQ(res.valueText, "?") << r.name;
        }
    }
    // The marker's X is also on the trace under the mouse: it decodes.
    EXPECT_EQ(DecodeBitStream(traces, 1, 300, 512, opts(8)).status, BitStreamStatus::Decoded);
}

TEST(DecodeBitStream, SpanLimit) {
    // Points every 256 ticks from 256; the cursor's point 65791 ticks after the marker's.
    std::vector<std::pair<Tick, std::uint8_t>> points;
    for (Tick k = 1; k <= 260; ++k) {
        points.push_back({k * 256, 4});
    }
    ChannelTraces traces = tracesWith(2, points);
    traces[2].add(256 + 65791, 3);
    traces[2].add(256 + 65792, 3);
    const BitStreamResult ok = DecodeBitStream(traces, 2, 256, 256 + 65791, opts(8));
    ASSERT_EQ(ok.status, BitStreamStatus::Decoded);
    std::string expected;
    for (int g = 0; g < 32; ++g) {  // 257 bits: 32 full groups and one bit
        expected += "11111111 ";
    }
    expected += "1 ";
    EXPECT_EQ(ok.bitText, expected);
    EXPECT_EQ(DecodeBitStream(traces, 2, 256, 256 + 65792, opts(8)).status,
              BitStreamStatus::Failed);
}

TEST(DecodeBitStream, Sampling) {
    struct Row {
        const char* name;
        std::vector<std::pair<Tick, std::uint8_t>> points;
        double marker, cursor;
        const char* bitText;
    };
    const Row rows[] = {
        {"marker at 100 is not sampled",
         {{100, 3}, {255, 4}, {511, 3}, {600, 4}},
         100,
         600,
         "10 "},  // 255 and 511 taken; the cursor's own point never
        {"marker at 254 is not sampled, 255 would be",
         {{254, 3}, {300, 4}, {600, 4}},
         254,
         600,
         "1 "},
        {"closer than a bit period is skipped",
         {{1000, 4}, {1100, 3}, {1255, 3}, {1256, 3}, {1400, 4}},
         1000,
         1400,
         "10 "},
        {"only the marker point, at 100", {{100, 4}, {200, 3}}, 100, 200, " "},
        {"many points on one X",
         {{256, 4}, {256, 3}, {256, 3}, {300, 3}, {512, 3}, {512, 4}, {768, 4}},
         256,
         768,
         "10 "},
        {"marker and cursor share the X of the first point",
         {{256, 4}, {256, 3}, {512, 4}},
         256,
         512,
         "1 "},
    };
    for (const Row& r : rows) {
        const ChannelTraces traces = tracesWith(2, r.points);
        const BitStreamResult res = DecodeBitStream(traces, 2, r.marker, r.cursor, opts(8));
        EXPECT_EQ(res.status, BitStreamStatus::Decoded) << r.name;
        EXPECT_EQ(res.bitText, r.bitText) << r.name;
    }
}

TEST(DecodeBitStream, LevelsOfEveryChannel) {
    // Even levels (bit clear) read 1, odd levels (bit set) read 0.
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelInfo& info = kChannels[static_cast<std::size_t>(c)];
        const ChannelTraces traces =
            tracesWith(c, {{256, info.levelClear}, {512, info.levelSet}, {768, info.levelClear}});
        EXPECT_EQ(DecodeBitStream(traces, c, 256, 768, opts(8)).bitText, "10 ") << c;
    }
}

TEST(DecodeBitStream, Stuffing) {
    const DecodeRow rows[] = {
        {"0 after five 1s is dropped", opts(16, false, false, true), "11111 ", ""},
        {"0 after six 1s stays", opts(16, false, false, true), "1111110 ", ""},
        {"only the first 0 goes", opts(16, false, false, true), "111110 ", ""},
        {"inversion first", opts(16, false, true, true), "11111 ", ""},
    };
    const char* inputs[] = {"111110", "1111110", "1111100", "000001"};
    for (std::size_t k = 0; k < std::size(rows); ++k) {
        const ChannelTraces traces = bitsTrace(256, inputs[k]);
        const Tick cursor = 256 + 256 * static_cast<Tick>(std::string(inputs[k]).size());
        const BitStreamResult res = DecodeBitStream(traces, 2, 256, cursor, rows[k].options);
        EXPECT_EQ(res.bitText, rows[k].bitText) << rows[k].name;
        EXPECT_EQ(res.valueText, rows[k].valueText) << rows[k].name;
    }
    // The count restarts with every 0: 11110 11111 0 drops only the last 0.
    const ChannelTraces traces = bitsTrace(256, "11110111110");
    EXPECT_EQ(DecodeBitStream(traces, 2, 256, 256 + 11 * 256, opts(16, false, false, true)).bitText,
              "1111011111 ");
}

TEST(DecodeBitStream, GroupWidths) {
    struct Row {
        const char* name;
        const char* bits;
        BitStreamOptions options;
        const char* bitText;
        const char* valueText;
    };
    const Row rows[] = {
        {"n = 1", "101", opts(1), "1 0 1  ", "1 0 1 "},
        {"n = 16 all ones", "1111111111111111", opts(16), "1111111111111111  ", "FFFF "},
        {"n = 16 reversed", "1000000000000001", opts(16, true), "1000000000000001  ", "8001 "},
        {"n = 9 has three digits", "111111111", opts(9), "111111111  ", "1FF "},
        {"n = 13 has four digits", "0000000000001", opts(13, true), "0000000000001  ", "0001 "},
        {"n = 20: bits 16 to 19 set nothing", "11111111111111111111", opts(20),
         "11111111111111111111  ", "0FFFF "},
        {"n = 20 reversed: the first four bits are 19..16", "11110000000000000001", opts(20, true),
         "11110000000000000001  ", "00001 "},
        {"n = -3, L >= 3: nothing", "1011", opts(-3), "", ""},
        {"n = -3, L = 3: nothing", "101", opts(-3), "", ""},
        {"n = -5, L < 5: one empty group", "1011", opts(-5), " ", ""},
        {"n far above the bits", "1011", opts(1000000), "1011 ", ""},
        {"no bits", "", opts(8), " ", ""},
    };
    for (const Row& r : rows) {
        const std::string bits = r.bits;
        const ChannelTraces traces = bitsTrace(256, bits);
        const double cursor = 256 + 256 * static_cast<double>(bits.size());
        const BitStreamResult res = DecodeBitStream(traces, 2, 256, cursor, r.options);
        EXPECT_EQ(res.status, BitStreamStatus::Decoded) << r.name;
        EXPECT_EQ(res.bitText, r.bitText) << r.name;
        EXPECT_EQ(res.valueText, r.valueText) << r.name;
    }
}

TEST(DecodeBitStream, WrappingBitNumbers) {
    // n = 40: bit numbers 32..39 wrap round to 0..7.
    std::string bits(40, '0');
    bits[0] = '1';   // bit 0
    bits[33] = '1';  // bit 33 -> 1
    bits[20] = '1';  // bit 20: nothing
    const ChannelTraces traces = bitsTrace(256, bits);
    const BitStreamResult res = DecodeBitStream(traces, 2, 256, 256 + 40 * 256, opts(40));
    EXPECT_EQ(res.valueText, "0000000003 ");
}

TEST(DecodeBitStream, ZeroWidthAbortsAndLeavesTheLabels) {
    const ChannelTraces traces = bitsTrace(256, "1010");
    const BitStreamResult res = DecodeBitStream(traces, 2, 256, 256 + 4 * 256, opts(0));
    EXPECT_EQ(res.status, BitStreamStatus::Aborted);
}

}  // namespace
}  // namespace osc
