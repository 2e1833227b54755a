#include "core/channel_trace.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace osc
