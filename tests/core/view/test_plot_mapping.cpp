#include "core/view/plot_mapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace osc {
namespace {

PlotMapping mappingOf(double min, double max, double columns = 700, double height = 360) {
    PlotMapping m;
    m.windowMin = min;
    m.windowMax = max;
    m.left = 60;
    m.columns = columns;
    m.top = 8;
    m.height = height;
    return m;
}

TEST(PlotMapping, EdgesOfTheRectangle) {
    const PlotMapping m = mappingOf(0, 25600);
    EXPECT_EQ(m.tickAt(60), 0);
    EXPECT_DOUBLE_EQ(m.tickAt(760), 25600);
    EXPECT_DOUBLE_EQ(m.levelAt(8), 9);
    EXPECT_DOUBLE_EQ(m.levelAt(368), 0);
    EXPECT_DOUBLE_EQ(m.pixelForLevel(4.5), 188);
    EXPECT_EQ(m.pixelForTick(12800), 410);
    // An empty or reversed window puts every tick on the left edge.
    EXPECT_EQ(mappingOf(5120, 5120).pixelForTick(9999), 60);
    EXPECT_EQ(mappingOf(5120, 2560).pixelForTick(9999), 60);
}

// Random windows and rectangles: the conversions invert each other, a wheel step keeps the
// tick under the pointer, a pan moves the content with the mouse, and a rectangle zoom puts
// the rectangle's edges on the plot's edges.
TEST(PlotMapping, PropertiesOverRandomWindows) {
    std::mt19937_64 rng(12);
    std::uniform_real_distribution<double> start(-1e9, 1e9), width(1, 1e9), unit(0, 1);
    for (int i = 0; i < 5000; ++i) {
        const double min = std::round(start(rng));
        const double w = std::round(width(rng));
        const PlotMapping m = mappingOf(min, min + w, 100 + std::round(unit(rng) * 1800));
        const double px = m.left + unit(rng) * m.columns;
        const double tol = w * 1e-9 + 1e-6;

        EXPECT_NEAR(m.pixelForTick(m.tickAt(px)), px, 1e-6);
        const double level = unit(rng) * 9;
        EXPECT_NEAR(m.levelAt(m.pixelForLevel(level)), level, 1e-9);

        const double factor = 0.25 + unit(rng) * 4;
        if (const auto z = zoomWindowAbout({m.windowMin, m.windowMax}, m.tickAt(px), factor)) {
            const PlotMapping zoomed = mappingOf(z->minimum, z->maximum, m.columns);
            EXPECT_NEAR(zoomed.tickAt(px), m.tickAt(px), tol * 4);
            EXPECT_NEAR(z->maximum - z->minimum, w * factor, tol * 4);
        }

        const double dx = (unit(rng) - 0.5) * 400;
        const double shift = panOffsetForPixels(m, dx);
        const PlotMapping panned = mappingOf(m.windowMin + shift, m.windowMax + shift, m.columns);
        EXPECT_NEAR(panned.tickAt(px + dx), m.tickAt(px), tol);

        const double rl = m.left + unit(rng) * m.columns / 2, rw = 1 + unit(rng) * m.columns / 2;
        const auto r = zoomWindowToPixels(m, rl, rw);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->minimum, m.tickAt(rl));
        EXPECT_EQ(r->maximum, m.tickAt(rl + rw));
    }
}

TEST(PlotMapping, ZoomsThatGiveNoProperRangeAreRefused) {
    const PlotMapping m = mappingOf(0, 25600);
    EXPECT_FALSE(zoomWindowToPixels(m, 100, 0));
    EXPECT_FALSE(zoomWindowToPixels(m, 100, -5));
    EXPECT_FALSE(zoomWindowToPixels(mappingOf(7, 7), 100, 50));  // both edges on one tick
    EXPECT_EQ(zoomLevelsToPixels(m, 8, 40), (AxisRange{8, 9}));
    EXPECT_FALSE(zoomLevelsToPixels(m, 8, 0));
    struct Row {
        const char* name;
        AxisRange window;
        double tick, factor;
        std::optional<AxisRange> result;
    };
    const Row rows[] = {
        {"zoom in about the middle", {0, 1000}, 500, 0.5, AxisRange{250, 750}},
        {"zoom out about the left edge", {0, 1000}, 0, 2, AxisRange{0, 2000}},
        {"factor 0", {0, 1000}, 500, 0, std::nullopt},
        {"negative factor", {0, 1000}, 500, -1, std::nullopt},
        {"NaN factor", {0, 1000}, 500, std::nan(""), std::nullopt},
        {"narrower than one tick", {0, 1.5}, 0.5, 0.5, std::nullopt},
        {"wider than 1e15 ticks", {0, 1e15}, 0, 2, std::nullopt},
        {"infinite", {0, 1e15}, INFINITY, 0.5, std::nullopt},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(zoomWindowAbout(r.window, r.tick, r.factor), r.result) << r.name;
    }
}

TEST(BottomLabelStep, SmallestReadableMultipleOfTenBits) {
    struct Row {
        const char* name;
        double min, max, columns;
        double step;
    };
    const Row rows[] = {
        {"100 bits on 700 pixels", 0, 25600, 700, 2560},
        {"1000 bits: 2560 is 7 pixels, 5120 is 14", 0, 256000, 700, 5120},
        {"10000 bits", 0, 2560000, 700, 51200},
        {"empty window", 100, 100, 700, 2560},
        {"reversed window", 200, 100, 700, 2560},
        {"infinite window", -INFINITY, INFINITY, 700, 2560},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(bottomLabelStep(mappingOf(r.min, r.max, r.columns), 12), r.step) << r.name;
    }
    // Whatever the width, the labels are at least the spacing apart and a multiple of 2560.
    for (double w = 1; w < 1e18; w *= 3.7) {
        const PlotMapping m = mappingOf(0, w, 1000);
        const double step = bottomLabelStep(m, 12);
        EXPECT_EQ(std::fmod(step, 2560.0), 0.0) << w;
        EXPECT_GE(step * m.columns / w, 12) << w;
    }
}

}  // namespace
}  // namespace osc
