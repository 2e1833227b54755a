#include "core/view/plot_labels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace osc {
namespace {

TEST(LeftAxisLabel, NamesAtTheLowerLevelOfEachPair) {
    const char* expected[10] = {"", "Приём2", "", "Приём1", "", "Передача", "", "Строб", "", ""};
    for (int v = 0; v <= 9; ++v) {
        EXPECT_EQ(leftAxisLabel(v), expected[v]) << v;
    }
    EXPECT_EQ(leftAxisLabel(-1), "");
    EXPECT_EQ(leftAxisLabel(11), "");
}

struct BottomRow {
    double ticks;
    const char* text;
};

TEST(BottomAxisLabel, WholeBits) {
    const double inf = std::numeric_limits<double>::infinity();
    const BottomRow rows[] = {
        {0, ""},        {2560, "10"},
        {25600, "100"}, {-2560, "-10"},
        {0.4, ""},      {255.5, "1"},
        {255.4, "0"},   {-255.5, "-1"},
        {300, "1"},     {1e30, "36028797018963967"},
        {inf, ""},      {std::nan(""), ""},
    };
    for (const BottomRow& r : rows) {
        EXPECT_EQ(bottomAxisLabel(r.ticks), r.text) << r.ticks;
    }
}

struct HitRow {
    double y;
    int channel;
};

TEST(ChannelAtY, ClosedBandsOnly) {
    const HitRow rows[] = {
        {2, 3},      {1, 3},    {2.5, -1},   {3, 2},  {4, 2},
        {4.5, -1},   {5, 1},    {6, 1},      {7, 0},  {8, 0},
        {8.001, -1}, {0.5, -1}, {0.999, -1}, {9, -1}, {std::nan(""), -1},
    };
    for (const HitRow& r : rows) {
        EXPECT_EQ(channelAtY(r.y), r.channel) << r.y;
    }
}

struct TextRow {
    Tick v;
    const char* text;
};

TEST(TicksToBitText, WholeBitsAndPositiveFractions) {
    const TextRow rows[] = {
        {0, "0"},
        {1, "0 + 1/256"},
        {255, "0 + 255/256"},
        {256, "1"},
        {300, "1 + 44/256"},
        {511, "1 + 255/256"},
        {-1, "0"},
        {-256, "-1"},
        {-257, "-1"},
        {-300, "-1"},
        {65791, "256 + 255/256"},
        {std::numeric_limits<Tick>::min(), "-36028797018963968"},
    };
    for (const TextRow& r : rows) {
        EXPECT_EQ(TicksToBitText(r.v), r.text) << r.v;
    }
}

TEST(TruncateToTick, TowardZeroAndSaturating) {
    EXPECT_EQ(truncateToTick(1000.9), 1000);
    EXPECT_EQ(truncateToTick(-1.9), -1);
    EXPECT_EQ(truncateToTick(-0.5), 0);
    EXPECT_EQ(truncateToTick(1e300), std::numeric_limits<Tick>::max());
    EXPECT_EQ(truncateToTick(-1e300), std::numeric_limits<Tick>::min());
    EXPECT_EQ(truncateToTick(std::nan("")), 0);
}

}  // namespace
}  // namespace osc
