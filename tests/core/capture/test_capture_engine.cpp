#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/files/osc_file.h"

#include "tests/core/core_test_support.h"

namespace osc {
namespace {

using test_support::Bytes;
using test_support::Point;
using test_support::Points;
using test_support::points;
using test_support::sample;

// n periods of strobe edges at time byte 0, starting from a clear strobe.
Bytes periods(int n) {
    Bytes d{0x23, 0x08, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < n; ++i) {
        d.push_back(i % 2 == 0 ? 0x04 : 0x00);
        d.push_back(0);
    }
    return d;
}

void start(CaptureEngine& e) {
    e.resetTimeBase();
    e.restartTraces();
}

TEST(CaptureEngine, StartRestartsTracesWhateverTheLastStatus) {
    CaptureEngine e;
    e.state.FLastStatus = 0xD4;
    e.state.FLastStrobe = 0x04;
    e.state.FTimeBase = 9999;
    e.traces[2].add(5, 4);
    start(e);
    EXPECT_EQ(e.state.FTimeBase, 0);
    EXPECT_EQ(e.state.FLastStatus, 0xD4);
    const int levels[] = {7, 5, 3, 1};
    for (int c = 0; c < kChannelCount; ++c) {
        EXPECT_EQ(points(e.traces[static_cast<std::size_t>(c)]), (Points{{0, levels[c]}}));
    }
}

TEST(CaptureEngine, StopClosesAtTheTimeBaseAndCompletesAllButTheStrobe) {
    CaptureEngine e;
    start(e);
    e.decodeDatagram(sample({{0x04, 0}, {0x44, 17}, {0x40, 0}}));
    e.closeTraces();
    e.completeTraces();
    EXPECT_EQ(points(e.traces[0]), (Points{{0, 7}, {256, 7}, {512, 8}, {512, 8}}));
    EXPECT_EQ(points(e.traces[1]), (Points{{0, 5}, {256, 5}, {273, 5}, {512, 5}}));
    EXPECT_EQ(points(e.traces[2]), (Points{{0, 3}, {256, 3}, {512, 4}}));
    EXPECT_EQ(points(e.traces[3]), (Points{{0, 1}, {256, 1}, {512, 2}}));
}

TEST(CaptureEngine, ClosingPointBeforeTheLastPointTakesItsPlaceByX) {
    CaptureEngine e;
    start(e);
    e.decodeDatagram(sample({{0x40, 200}}));  // no period: the time base stays 0
    e.closeTraces();
    EXPECT_EQ(points(e.traces[1]), (Points{{0, 5}, {0, 5}, {200, 5}}));
}

TEST(CaptureEngine, StopTwiceAddsASecondSetOfClosingPoints) {
    CaptureEngine e;
    start(e);
    e.decodeDatagram(periods(3));
    e.closeTraces();
    e.completeTraces();
    const Points once = points(e.traces[1]);
    e.closeTraces();
    e.completeTraces();
    Points twice = once;
    twice.emplace_back(768, 6);
    EXPECT_EQ(points(e.traces[1]), twice);
    EXPECT_EQ(points(e.traces[0]).size(), 1u + 3u + 2u);
}

TEST(CaptureEngine, DatagramAfterStopAppendsAfterTheClosingPoints) {
    CaptureEngine e;
    start(e);
    e.decodeDatagram(periods(2));  // time base 512, strobe clear
    e.closeTraces();
    e.completeTraces();
    e.decodeDatagram(sample({{0x04, 0}, {0x44, 3}}));
    EXPECT_EQ(points(e.traces[0]).back(), (Point{768, 7}));
    EXPECT_EQ(points(e.traces[1]), (Points{{0, 5}, {256, 5}, {512, 6}, {771, 5}}));
}

TEST(CaptureEngine, WindowFollowsTheTimeBase) {
    struct Row {
        const char* name;
        int periods;
        double scrolledTo;  // the window's minimum set by the user before the datagram; <0: none
        double min, max;
    };
    const Row rows[] = {
        {"inside the window", 50, -1, 0, 25600},
        {"exactly at the maximum", 100, -1, 0, 25600},
        {"one period past", 101, -1, 256, 25856},
        {"far past", 300, -1, 200 * 256, 300 * 256},
        {"scrolled back", 300, 1000, 200 * 256, 300 * 256},
    };
    for (const Row& row : rows) {
        CaptureEngine e;
        start(e);
        if (row.scrolledTo >= 0) {
            e.decodeDatagram(periods(row.periods));
            e.window.setMinMax(row.scrolledTo, row.scrolledTo + 25600);
            e.decodeDatagram(sample({}));  // no pair: the window still follows
        } else {
            e.decodeDatagram(periods(row.periods));
        }
        EXPECT_EQ(e.window.minimum(), row.min) << row.name;
        EXPECT_EQ(e.window.maximum(), row.max) << row.name;
    }
}

TEST(CaptureEngine, IgnoredDatagramsLeaveTheWindow) {
    CaptureEngine e;
    start(e);
    e.decodeDatagram(periods(150));
    const PlotWindow before = e.window;
    e.window.setMinMax(0, 25600);
    e.decodeDatagram(Bytes{0x23, 0x0A, 0, 0, 0, 0, 0, 0});
    e.decodeDatagram(Bytes{'G', 0, 1, 2, 3, 4, 5, 6});
    EXPECT_EQ(e.window.maximum(), 25600);
    EXPECT_NE(before.maximum(), 25600);
}

TEST(CaptureEngine, ReplayRunsStartDatagramsAndStop) {
    CaptureEngine e;
    e.traces[0].add(12345, 8);  // left from an earlier capture
    int datagrams = 0;
    e.replayOscText("23 08 00 00 00 00 00 00 04 00 44 11 40 00 \r\n47 00 00 1A 2B 3C 4D 5E \r\n",
                    [&] { ++datagrams; });
    EXPECT_EQ(datagrams, 2);
    EXPECT_EQ(e.state.FDeviceId, (DeviceId{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(points(e.traces[0]), (Points{{0, 7}, {256, 7}, {512, 8}, {512, 8}}));
    EXPECT_EQ(points(e.traces[2]), (Points{{0, 3}, {256, 3}, {512, 4}}));
}

TEST(CaptureEngine, ReplayOfAnEmptyTextStillStartsAndStops) {
    CaptureEngine e;
    e.replayOscText("");
    for (int c = 0; c < kChannelCount; ++c) {
        EXPECT_EQ(e.traces[static_cast<std::size_t>(c)].count(), 2u) << c;
    }
}

TEST(CaptureEngine, ReplayStopsAtABadGroupWithoutTheStop) {
    CaptureEngine e;
    try {
        e.replayOscText("23 08 00 00 00 00 00 00 04 00 \r\n2G 08 \r\n23 08 ");
        FAIL() << "no error";
    } catch (const OscFormatError& error) {
        EXPECT_STREQ(error.what(), "'$2G' is not a valid integer value");
    }
    EXPECT_EQ(points(e.traces[0]), (Points{{0, 7}, {256, 7}}));  // no closing point
    EXPECT_EQ(points(e.traces[1]), (Points{{0, 5}}));
}

TEST(CaptureEngine, LongCaptureBeyondThirtyTwoBitTicksStaysOrdered) {
    CaptureEngine e;
    start(e);
    e.state.FTimeBase = (Tick{1} << 31) - 512;
    e.decodeDatagram(periods(6));
    e.closeTraces();
    const ChannelTrace& strobe = e.traces[0];
    for (std::size_t i = 1; i < strobe.count(); ++i) {
        EXPECT_LE(strobe.x(i - 1), strobe.x(i));
    }
    EXPECT_EQ(e.traces[0].lastX(), (Tick{1} << 31) + 1024);
    EXPECT_EQ(e.window.maximum(), static_cast<double>((Tick{1} << 31) + 1024));
}

}  // namespace
}  // namespace osc
