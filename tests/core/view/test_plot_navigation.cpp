#include "core/view/plot_navigation.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace osc {
namespace {

TEST(PlotNavigation, CaptureExtentOverAllChannels) {
    ChannelTraces traces;
    EXPECT_FALSE(captureExtent(traces));
    traces[2].add(512, 3);
    EXPECT_FALSE(captureExtent(traces)) << "a single X has no width";
    traces[0].add(256, 7);
    traces[0].add(1000, 8);
    traces[3].add(300, 1);
    traces[3].add(90000, 2);
    EXPECT_EQ(captureExtent(traces), (AxisRange{256, 90000}));
    // Completion points count: the last point stays the last stored one.
    traces[1].add(0, 5);
    traces[1].add(100000, 5);
    traces[1].complete();
    EXPECT_EQ(captureExtent(traces), (AxisRange{0, 100000}));
}

TEST(PlotNavigation, WindowSteps) {
    const AxisRange w{1000, 3000};
    struct Row {
        const char* name;
        std::optional<AxisRange> got, want;
    };
    const Row rows[] = {
        {"zoom in halves about the middle", zoomWindowStep(w, 0.5), AxisRange{1500, 2500}},
        {"zoom out doubles about the middle", zoomWindowStep(w, 2), AxisRange{0, 4000}},
        {"no zoom below one tick", zoomWindowStep({0, 1}, 0.5), std::nullopt},
        {"pan right a tenth", panWindow(w, 0.1), AxisRange{1200, 3200}},
        {"page left", panWindow(w, -1), AxisRange{-1000, 1000}},
        {"centred on a tick", windowCentredAt(w, 10000), AxisRange{9000, 11000}},
        {"not left of 0 from a window that was not", windowCentredAt(w, 256), AxisRange{0, 2000}},
        {"left of 0 when it was already", windowCentredAt({-500, 500}, 100), AxisRange{-400, 600}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.got, r.want) << r.name;
    }
}

TEST(PlotNavigation, WindowBitsAndBitUnderAPosition) {
    struct Row {
        double min, max;
        int bits;
    };
    const Row rows[] = {
        {0, 25600, 100},
        {5120, 17920, 50},
        {0, 25727, 100},
        {0, 25728, 101},
        {0, 1, 1},
        {100, 100, 0},
        {100, 50, 0},
        {0, 1e15, INT_MAX},
        {0, 256.0 * 7.49, 7},
        {-2560, 0, 10},
        {0, std::nan(""), 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(windowBitsOf({r.min, r.max}), r.bits) << r.min << ".." << r.max;
    }
    EXPECT_EQ(bitAt(0), 0);
    EXPECT_EQ(bitAt(255), 0);
    EXPECT_EQ(bitAt(256), 1);
    EXPECT_EQ(bitAt(-257), -1);
    EXPECT_EQ(bitAt(1e30), INT64_MAX);
    EXPECT_EQ(bitAt(-std::numeric_limits<double>::infinity()), INT64_MIN);
    EXPECT_EQ(bitAt(std::nan("")), INT64_MIN);
}

}  // namespace
}  // namespace osc
