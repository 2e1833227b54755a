#include "core/channel_trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace osc {
namespace {

ChannelTrace traceOf(std::initializer_list<Tick> xs) {
    ChannelTrace t;
    std::uint8_t y = 1;
    for (Tick x : xs) {
        t.add(x, y++);
    }
    return t;
}

TEST(ChannelTrace, InsertsAfterEqualX) {
    ChannelTrace t = traceOf({0, 10, 10, 20});  // levels 1, 2, 3, 4
    t.add(10, 9);
    t.add(5, 8);
    ASSERT_EQ(t.count(), 6u);
    EXPECT_EQ(t.x(1), 5);
    EXPECT_EQ(t.y(1), 8);
    EXPECT_EQ(t.y(2), 2);
    EXPECT_EQ(t.y(3), 3);
    EXPECT_EQ(t.y(4), 9);  // after both existing points at 10
    EXPECT_EQ(t.x(5), 20);
}

TEST(ChannelTrace, IndexOutsideTheTraceIsAnError) {
    ChannelTrace t = traceOf({0, 10});
    EXPECT_THROW(t.x(-1), std::out_of_range);
    EXPECT_THROW(t.y(2), std::out_of_range);
    EXPECT_THROW(t.setX(2, 0), std::out_of_range);
    ChannelTrace empty;
    EXPECT_THROW(empty.x(0), std::out_of_range);
}

TEST(ChannelTrace, LocateFindsTheFirstEqualPoint) {
    ChannelTrace t = traceOf({0, 10, 10, 20});
    EXPECT_EQ(t.locate(10), 1);
    EXPECT_EQ(t.locate(0), 0);
    EXPECT_EQ(t.locate(15), -1);
    EXPECT_EQ(t.locate(25), -1);
    EXPECT_EQ(ChannelTrace{}.locate(0), -1);
}

struct VisibleRow {
    const char* name;
    double min, max;
    std::ptrdiff_t first, last;
};

TEST(ChannelTrace, VisibleIndices) {
    const ChannelTrace t = traceOf({0, 1000, 3000});
    const VisibleRow rows[] = {
        {"all visible", 0, 25600, 0, 2},
        {"window from 1500", 1500, 27100, 2, 2},
        {"maximum on a point", 0, 1000, 0, 1},
        {"maximum between points", 0, 999.5, 0, 1},
        {"trace ends left of the window", 3000.5, 5000, -1, -1},
        {"minimum on the last point", 3000, 5000, 2, 2},
    };
    for (const VisibleRow& r : rows) {
        EXPECT_EQ(t.firstVisible(r.min), r.first) << r.name;
        EXPECT_EQ(t.lastVisible(r.min, r.max), r.last) << r.name;
    }
    EXPECT_EQ(ChannelTrace{}.firstVisible(0), -1);
    EXPECT_EQ(ChannelTrace{}.lastVisible(0, 10), -1);
}

TEST(ChannelTrace, LocateExactTakesOnlyWholeTicks) {
    ChannelTrace t = traceOf({0, 10, 10, 20});
    struct Row {
        double x;
        std::ptrdiff_t index;
    };
    const Row rows[] = {
        {10, 1},
        {10.5, -1},
        {0, 0},
        {-0.0, 0},
        {20, 3},
        {21, -1},
        {-1, -1},
        {std::nan(""), -1},
        {1e300, -1},
        {-1e300, -1},
        {9223372036854775808.0, -1},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(t.locateExact(r.x), r.index) << r.x;
    }
}

TEST(ChannelTrace, AssignReplacesThePointsAndCountsAsAChange) {
    ChannelTrace t = traceOf({0, 10});
    const auto before = t.revision();
    t.assign({5, 6, 7}, {1, 2, 3});
    EXPECT_GT(t.revision(), before);
    ASSERT_EQ(t.count(), 3u);
    EXPECT_EQ(t.x(2), 7);
    EXPECT_EQ(t.y(0), 1);
    EXPECT_THROW(t.assign({1, 2}, {1}), std::invalid_argument);
    EXPECT_EQ(t.count(), 3u);
}

TEST(ChannelTrace, MemoryIsNineBytesAPointWhenReservedExactly) {
    ChannelTrace t;
    t.reserve(1000);
    for (Tick x = 0; x < 1000; ++x) {
        t.add(x, 1);
    }
    EXPECT_EQ(t.memoryBytes(), 9000u);
}

}  // namespace
}  // namespace osc
