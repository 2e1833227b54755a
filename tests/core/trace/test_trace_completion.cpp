#include "core/trace/trace_completion.h"
#include "tests/oracles/completion_by_passes.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace osc {
namespace {

struct Point {
    Tick x;
    std::uint8_t y;
    bool operator==(const Point&) const = default;
};

ChannelTrace traceOf(const std::vector<Point>& points) {
    ChannelTrace t;
    for (const Point& p : points) {
        t.add(p.x, p.y);
    }
    return t;
}

template <class Trace>
std::vector<Point> pointsOf(const Trace& t) {
    std::vector<Point> out;
    for (std::size_t i = 0; i < t.count(); ++i) {
        out.push_back({t.x(i), t.y(i)});
    }
    return out;
}

std::vector<Tick> stepsOf(const ChannelTrace& t) {
    std::vector<Tick> out;
    for (std::size_t i = 1; i < t.count(); ++i) {
        out.push_back(t.x(i) - t.x(i - 1));
    }
    return out;
}

using Completion = std::size_t (*)(ChannelTrace&, const std::function<void()>&);

struct GapRow {
    const char* name;
    Tick gap;
    std::vector<Tick> added;  // offsets from x0, in the order of the trace
    std::vector<Tick> steps;
};

// Both procedures, so that the reference is checked against the same table.
class Completions : public ::testing::TestWithParam<Completion> {};

TEST_P(Completions, OneGap) {
    const GapRow rows[] = {
        {"256 stays", 256, {}, {256}},
        {"0 stays", 0, {}, {0}},
        {"257", 257, {256}, {256, 1}},
        {"512", 512, {256}, {256, 256}},
        {"513", 513, {256, 257}, {256, 1, 256}},
        {"768", 768, {256, 512}, {256, 256, 256}},
        {"1000", 1000, {256, 512, 744}, {256, 256, 232, 256}},
        {"700", 700, {256, 444}, {256, 188, 256}},
        {"769", 769, {256, 512, 513}, {256, 256, 1, 256}},
    };
    for (const GapRow& r : rows) {
        const Tick x0 = 5000;
        ChannelTrace t = traceOf({{x0, 3}, {x0 + r.gap, 4}});
        GetParam()(t, {});
        std::vector<Point> expected{{x0, 3}};
        for (Tick a : r.added) {
            expected.push_back({x0 + a, 3});  // the level of the gap's left point
        }
        expected.push_back({x0 + r.gap, 4});
        EXPECT_EQ(pointsOf(t), expected) << r.name;
        EXPECT_EQ(stepsOf(t), r.steps) << r.name;
        EXPECT_FALSE(t.hidden()) << r.name;
    }
}

TEST_P(Completions, NoPointOrOnePointIsUnchanged) {
    for (const std::vector<Point>& points : {std::vector<Point>{}, std::vector<Point>{{700, 2}}}) {
        ChannelTrace t = traceOf(points);
        bool hiddenDuringProgress = false;
        EXPECT_EQ(GetParam()(t, [&] { hiddenDuringProgress = true; }), 0u);
        EXPECT_FALSE(hiddenDuringProgress);
        EXPECT_EQ(pointsOf(t), points);
        EXPECT_FALSE(t.hidden());
    }
}

struct ProgressRow {
    const char* name;
    Tick distance;
    std::size_t points;
    std::size_t progress;
};

TEST_P(Completions, LongGapsAndProgress) {
    const ProgressRow rows[] = {
        {"100 bits: 50 passes, i = 1..50", 25600, 101, 0},
        {"400 bits: 200 passes, progress at i = 100 and 200", 102400, 401, 2},
        {"i = 1..99 only", 99 * 512 + 256, 200, 0},
        {"i reaches 100 exactly", 100 * 512, 201, 1},
    };
    for (const ProgressRow& r : rows) {
        ChannelTrace t = traceOf({{0, 1}, {r.distance, 2}});
        std::size_t calls = 0;
        EXPECT_EQ(GetParam()(t, [&] { ++calls; }), r.progress) << r.name;
        EXPECT_EQ(calls, r.progress) << r.name;
        ASSERT_EQ(t.count(), r.points) << r.name;
        for (std::size_t i = 1; i < t.count(); ++i) {
            ASSERT_EQ(t.x(i) - t.x(i - 1), 256) << r.name << " at " << i;
        }
    }
}

TEST_P(Completions, GapsAreFilledEachWithItsOwnLevelAndAgainChangesNothing) {
    ChannelTrace t = traceOf({{0, 8}, {600, 7}, {600, 8}, {900, 7}, {1100, 8}});
    GetParam()(t, {});
    const std::vector<Point> expected{{0, 8},   {256, 8}, {344, 8}, {600, 7},
                                      {600, 8}, {856, 8}, {900, 7}, {1100, 8}};
    EXPECT_EQ(pointsOf(t), expected);
    EXPECT_EQ(GetParam()(t, {}), 0u);
    EXPECT_EQ(pointsOf(t), expected);
}

INSTANTIATE_TEST_SUITE_P(Trace, Completions,
                         ::testing::Values(static_cast<Completion>(&CompleteTrace),
                                           static_cast<Completion>(&CompleteTraceByPasses)),
                         [](const auto& info) {
                             return info.index == 0 ? std::string("Linear")
                                                    : std::string("ByPasses");
                         });

TEST(CompleteTrace, HiddenWhileTheProgressRuns) {
    ChannelTrace t = traceOf({{0, 1}, {102400, 2}});
    std::vector<bool> hidden;
    CompleteTrace(t, [&] { hidden.push_back(t.hidden()); });
    EXPECT_EQ(hidden, (std::vector<bool>{true, true}));
    EXPECT_FALSE(t.hidden());
}

TEST(CompleteTrace, ReservesExactly) {
    ChannelTrace t = traceOf({{0, 1}, {1000, 2}, {1000, 3}, {30001, 4}});
    CompleteTrace(t, {});
    EXPECT_EQ(t.count(), 4u + 3u + 113u);
    EXPECT_LE(t.memoryBytes(), 9 * t.count());
}

TEST(CompleteTrace, HugeGapFailsWithoutChangingTheTrace) {
    ChannelTrace t = traceOf({{-(Tick{1} << 62), 1}, {Tick{1} << 62, 2}});
    EXPECT_ANY_THROW(CompleteTrace(t, {}));
    EXPECT_EQ(t.count(), 2u);
    EXPECT_FALSE(t.hidden());
}

// Many small random traces, with equal X, short and long gaps, and enough points before some
// gaps for the right-hand index to cross multiples of 100.
TEST(CompleteTrace, SameAsThePassesOnRandomTraces) {
    std::mt19937 rng(20240611);
    int roundsWithProgress = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<Point> points;
        const int n = std::uniform_int_distribution<int>(0, 60)(rng);
        Tick x = std::uniform_int_distribution<Tick>(0, 2000)(rng);
        for (int k = 0; k < n; ++k) {
            const int kind = std::uniform_int_distribution<int>(0, 19)(rng);
            if (kind < 6) {
                x += 0;
            } else if (kind < 14) {
                x += std::uniform_int_distribution<Tick>(1, 300)(rng);
            } else if (kind < 19) {
                x += std::uniform_int_distribution<Tick>(250, 1600)(rng);
            } else {
                x += std::uniform_int_distribution<Tick>(20000, 60000)(rng);
            }
            points.push_back(
                {x, static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 8)(rng))});
        }
        ChannelTrace linear = traceOf(points);
        ReferenceTrace passes;
        for (const Point& p : points) {
            passes.add(p.x, p.y);
        }
        std::size_t linearCalls = 0;
        std::size_t passCalls = 0;
        const std::size_t linearSteps = CompleteTrace(linear, [&] { ++linearCalls; });
        const std::size_t passSteps = CompleteTraceByPasses(passes, [&] { ++passCalls; });
        ASSERT_EQ(pointsOf(linear), pointsOf(passes)) << "round " << round;
        ASSERT_EQ(linearSteps, passSteps) << "round " << round;
        ASSERT_EQ(linearCalls, passCalls) << "round " << round;
        roundsWithProgress += passSteps != 0 ? 1 : 0;
    }
    EXPECT_GT(roundsWithProgress, 20);  // the progress rule is exercised, not only the points
}

}  // namespace
}  // namespace osc
