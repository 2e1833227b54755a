#include "core/view/plot_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace osc {
namespace {

PlotWindow windowOf(double min, double max) {
    PlotWindow w;
    w.setMinMax(min, max);
    return w;
}

TEST(PlotWindow, StartsAtHundredBitsAndOrdersBounds) {
    const PlotWindow w;
    EXPECT_EQ(w.minimum(), 0);
    EXPECT_EQ(w.maximum(), 25600);
    const PlotWindow swapped = windowOf(700, -300);
    EXPECT_EQ(swapped.minimum(), -300);
    EXPECT_EQ(swapped.maximum(), 700);
}

TEST(PlotWindow, SingleBoundsRefuseToCross) {
    PlotWindow w = windowOf(100, 200);
    EXPECT_THROW(w.setMinimum(200.5), std::invalid_argument);
    EXPECT_THROW(w.setMaximum(99.5), std::invalid_argument);
    EXPECT_EQ(w, windowOf(100, 200));
    w.setMinimum(200);  // equal bounds are allowed
    w.setMaximum(200);
    EXPECT_EQ(w, windowOf(200, 200));
}

struct FollowRow {
    const char* name;
    double min, max;
    Tick timeBase;
    double largestX;
    bool moved;
    double newMin, newMax;
};

TEST(FollowTimeBase, ShiftsOnlyWhenTimeAndDataPassTheMaximum) {
    const FollowRow rows[] = {
        {"time and data past the maximum", 0, 25600, 30000, 30000, true, 4400, 30000},
        {"data not past the maximum", 0, 25600, 30000, 25600, false, 0, 25600},
        {"time base on the maximum", 0, 25600, 25600, 30000, false, 0, 25600},
        {"scrolled back during a capture", 0, 2560, 40000, 40000, true, 37440, 40000},
    };
    for (const FollowRow& r : rows) {
        PlotWindow w = windowOf(r.min, r.max);
        EXPECT_EQ(followTimeBase(w, r.timeBase, r.largestX), r.moved) << r.name;
        EXPECT_EQ(w, windowOf(r.newMin, r.newMax)) << r.name;
    }
}

struct ScrollRow {
    const char* name;
    double min, max;
    ScrollBarState state;
};

TEST(ScrollBarFor, TruncatesAndClamps) {
    const ScrollRow rows[] = {
        {"plain", 2560, 28160, {0, 28160, 2560}},
        {"fractions truncated", 100.9, 25700.9, {0, 25700, 100}},
        {"negative minimum clamped to 0", -5000, 20600, {0, 20600, 0}},
        {"window left of 0: empty range", -30000, -4400, {0, 0, 0}},
        {"NaN is 0", std::nan(""), std::nan(""), {0, 0, 0}},
    };
    for (const ScrollRow& r : rows) {
        PlotWindow w;
        if (std::isnan(r.min)) {
            w.shift(std::nan(""));
        } else {
            w = windowOf(r.min, r.max);
        }
        const ScrollBarState s = scrollBarFor(w);
        EXPECT_EQ(s.minimum, r.state.minimum) << r.name;
        EXPECT_EQ(s.maximum, r.state.maximum) << r.name;
        EXPECT_EQ(s.position, r.state.position) << r.name;
    }
}

struct BitsRow {
    const char* name;
    double min, max, bits;
    double newMin, newMax;
};

TEST(ApplyWindowBits, KeepsTheLeftEdge) {
    const BitsRow rows[] = {
        {"5120 with 50 bits", 5120, 30720, 50, 5120, 17920},
        {"fraction of a bit dropped", 0, 25600, 10.9, 0, 2560},
        {"negative count ends at the old minimum", 5120, 30720, -10, 2560, 5120},
        {"zero width", 5120, 30720, 0, 5120, 5120},
        {"no overflow for a huge count", 0, 1, 1e30, 0, 9.2e18 * 256},
    };
    for (const BitsRow& r : rows) {
        PlotWindow w = windowOf(r.min, r.max);
        applyWindowBits(w, r.bits);
        EXPECT_EQ(w, windowOf(r.newMin, r.newMax)) << r.name;
    }
}

TEST(ApplyScrollPosition, KeepsTheWholeWidth) {
    PlotWindow w = windowOf(0, 25600.7);
    applyScrollPosition(w, 2560);
    EXPECT_EQ(w, windowOf(2560, 28160));
    PlotWindow narrow = windowOf(10, 10.5);
    applyScrollPosition(narrow, 300);
    EXPECT_EQ(narrow, windowOf(300, 300));
}

TEST(StartWindow, MinimumFirstThenMaximum) {
    PlotWindow w = windowOf(40000, 65600);
    startWindow(w, 100);
    EXPECT_EQ(w, windowOf(0, 25600));

    // A negative count: the minimum is set, the maximum refused.
    PlotWindow neg = windowOf(100, 200);
    EXPECT_THROW(startWindow(neg, -1), std::invalid_argument);
    EXPECT_EQ(neg, windowOf(0, 200));

    // A window entirely left of 0: already the minimum fails.
    PlotWindow left = windowOf(-5120, -2560);
    EXPECT_THROW(startWindow(left, 100), std::invalid_argument);
    EXPECT_EQ(left, windowOf(-5120, -2560));
}

}  // namespace
}  // namespace osc
