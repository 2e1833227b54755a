#include "core/trace/channel_trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <stdexcept>

#include "core/frames/bit_stream.h"
#include "core/trace/trace_completion.h"
#include "core/view/cursor_snap.h"
#include "tests/oracles/completion_by_passes.h"
#include "tests/oracles/reference_trace.h"

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

TEST(ChannelTrace, RefillingReplacesThePointsAndCountsAsAChange) {
    ChannelTrace t = traceOf({0, 10});
    const auto before = t.revision();
    t.clear();
    for (const TracePoint p : {TracePoint{5, 1}, TracePoint{6, 2}, TracePoint{7, 3}}) {
        t.add(p.x, p.y);
    }
    EXPECT_GT(t.revision(), before);
    ASSERT_EQ(t.count(), 3u);
    EXPECT_EQ(t.x(2), 7);
    EXPECT_EQ(t.y(0), 1);
    EXPECT_EQ(t.count(), 3u);
}

TEST(ChannelTrace, MemoryIsAtMostNineBytesAPoint) {
    ChannelTrace t;
    for (Tick x = 0; x < 1000; ++x) {
        t.add(x, 1);
    }
    EXPECT_LE(t.memoryBytes(), 9000u);
}

// ---- The stored trace against a plain array of points -----------------------------------

// The decoder's sampling and grouping step by step over the plain trace (1 to 16 bits a
// group), with the exact searches done by walking it.
BitStreamResult literalDecode(const ReferenceTrace& t, double marker, double cursor,
                              const BitStreamOptions& o) {
    const BitStreamResult failed{BitStreamStatus::Failed, "?", "?"};
    if (std::trunc(std::trunc(cursor - marker) / 256) > 256 || marker == 0) {
        return failed;
    }
    const std::vector<TracePoint>& p = t.points();
    std::ptrdiff_t iM = -1, iC = -1;
    for (std::size_t i = p.size(); i-- > 0;) {
        iM = static_cast<double>(p[i].x) == marker ? static_cast<std::ptrdiff_t>(i) : iM;
        iC = static_cast<double>(p[i].x) == cursor ? static_cast<std::ptrdiff_t>(i) : iC;
    }
    if (iM < 0 || iC < 0) {
        return failed;
    }
    std::string bits;
    long long last = -1;
    int ones = 0;
    for (std::ptrdiff_t i = iM; i < iC; ++i) {
        const TracePoint q = p[static_cast<std::size_t>(i)];
        if (q.x - last < 256) {
            continue;
        }
        last = q.x;
        int b = (q.y + 1) % 2;
        b = o.invert ? 1 - b : b;
        if (o.unstuff) {
            const bool stuffed = b == 0 && ones == 5;
            ones = b == 1 ? ones + 1 : 0;
            if (stuffed) {
                continue;
            }
        }
        bits += static_cast<char>('0' + b);
    }
    BitStreamResult r{BitStreamStatus::Decoded, "", ""};
    const auto n = static_cast<std::size_t>(o.bitsPerGroup);
    for (std::size_t start = 0; start <= bits.size(); start += n) {
        const std::string g = bits.substr(start, n);
        r.bitText += g + ' ';
        if (g.size() == n) {
            unsigned v = 0;
            for (std::size_t j = 1; j <= n; ++j) {
                v |= g[j - 1] == '1' ? 1u << (o.reverse ? n - j : j - 1) : 0;
            }
            char text[8];
            std::snprintf(text, sizeof text, "%0*X ", static_cast<int>((n + 3) / 4), v);
            r.valueText += text;
        }
    }
    return r;
}

// The cursor scan of a mouse move step by step over the plain trace.
std::optional<double> literalSnap(const ReferenceTrace& t, double min, double max, double mx) {
    const std::ptrdiff_t f = t.firstVisible(min);
    const std::ptrdiff_t l = t.lastVisible(min, max);
    std::ptrdiff_t i = f;
    for (std::ptrdiff_t k = 0; l >= f && k < l - f + 1; ++k) {
        if (i == -1 || static_cast<double>(t.x(i)) - mx >= 0) {
            break;
        }
        ++i;
    }
    if (i == -1) {
        return kNoCursor;
    }
    if (i == 0) {
        return std::nullopt;
    }
    return static_cast<double>(t.x(i - 1));
}

// Every query of the stored trace against the plain one.
void expectSame(const ChannelTrace& fast, const ReferenceTrace& ref, std::mt19937_64& rng) {
    const std::size_t n = ref.count();
    ASSERT_EQ(fast.count(), n);
    ASSERT_EQ(fast.empty(), n == 0);
    const std::vector<TracePoint>& want = ref.points();
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(fast.point(static_cast<std::ptrdiff_t>(i)), want[i]) << "point " << i;
    }
    ASSERT_TRUE(std::equal(fast.points().begin(), fast.points().end(), want.begin()));
    EXPECT_THROW(fast.x(static_cast<std::ptrdiff_t>(n)), std::out_of_range);
    EXPECT_THROW(fast.y(-1), std::out_of_range);
    if (n == 0) {
        return;
    }
    EXPECT_EQ(fast.lastX(), ref.lastX());
    std::uniform_int_distribution<std::size_t> index(0, n - 1);
    for (int k = 0; k < 20; ++k) {
        const std::size_t b = index(rng), e = b + index(rng) % 300;
        const TracePointRange part = fast.points(b, e);
        ASSERT_EQ(part.size(), std::min(e, n) - b);
        ASSERT_TRUE(std::equal(part.begin(), part.end(), want.begin() + static_cast<long>(b)));
    }
    std::vector<double> probes = {std::nan(""),
                                  -1e300,
                                  1e300,
                                  9223372036854775808.0,
                                  -9223372036854775808.0,
                                  static_cast<double>(want[0].x) - 1,
                                  static_cast<double>(ref.lastX()) + 1};
    for (int k = 0; k < 60; ++k) {
        const double x = static_cast<double>(want[index(rng)].x);
        for (const double d : {0.0, -0.5, 0.5, -1.0, 1.0, -129.0, 200.0}) {
            probes.push_back(x + d);
        }
    }
    for (const double p : probes) {
        ASSERT_EQ(fast.lowerBound(p), ref.lowerBound(p)) << p;
        ASSERT_EQ(fast.locateExact(p), ref.locateExact(p)) << p;
        ASSERT_EQ(fast.firstVisible(p), ref.firstVisible(p)) << p;
        const double w = static_cast<double>(rng() % 5000);
        ASSERT_EQ(fast.lastVisible(p, p + w), ref.lastVisible(p, p + w)) << p;
        if (std::fabs(p) < 4e18 && std::trunc(p) == p) {
            const auto t = static_cast<Tick>(p);
            ASSERT_EQ(fast.lowerBoundTick(t), ref.lowerBoundTick(t)) << t;
            ASSERT_EQ(fast.locate(t), ref.locate(t)) << t;
        }
        const double mx = probes[rng() % probes.size()];
        const auto snapped = snapCursor(fast, p, p + w, mx);
        ASSERT_EQ(snapped, literalSnap(ref, p, p + w, mx)) << p << " " << mx;
    }
    // The stored points copied a few at a time from anywhere up to any X, whatever the block
    // left off before.
    std::vector<TracePoint> stored;
    for (const TracePoint p : fast.storedPoints()) {
        stored.push_back(p);
    }
    ASSERT_EQ(stored.size(), fast.storedCount());
    std::size_t block = rng() % (fast.blockCount() + 2);
    for (int k = 0; k < 8; ++k) {
        const std::size_t from = rng() % (stored.size() + 2);
        const Tick upTo = k % 3 == 0
                              ? std::numeric_limits<Tick>::max()
                              : stored[rng() % stored.size()].x - 1 + static_cast<Tick>(rng() % 3);
        std::vector<TracePoint> expected;
        for (std::size_t i = from; i < stored.size() && stored[i].x <= upTo; ++i) {
            expected.push_back(stored[i]);
        }
        std::vector<TracePoint> got;
        std::array<TracePoint, 70> buffer;
        const std::size_t room = 1 + rng() % buffer.size();
        for (;;) {
            const std::size_t m =
                fast.copyStored(from + got.size(), upTo, std::span(buffer.data(), room), block);
            got.insert(got.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(m));
            if (m < room) {
                break;
            }
        }
        ASSERT_EQ(got, expected) << "from " << from << " up to " << upTo;
    }

    // Marker and cursor on points of the trace (mostly), up to a little over the span limit.
    ChannelTraces traces;
    traces[2] = fast;
    for (int k = 0; k < 12; ++k) {
        const std::size_t iM = index(rng);
        const std::size_t iC = std::min(n - 1, iM + 1 + rng() % 400);
        const double marker = static_cast<double>(want[iM].x) + (k == 0 ? 0.5 : 0);
        const double cursor = static_cast<double>(want[iC].x);
        if (!(cursor > marker) || std::fabs(marker) > 9e15 || std::fabs(cursor) > 9e15) {
            continue;
        }
        BitStreamOptions o;
        o.bitsPerGroup = 1 + static_cast<int>(rng() % 16);
        o.reverse = rng() % 2 != 0;
        o.invert = rng() % 2 != 0;
        o.unstuff = rng() % 2 != 0;
        const BitStreamResult got = DecodeBitStream(traces, 2, marker, cursor, o);
        const BitStreamResult expected = literalDecode(ref, marker, cursor, o);
        ASSERT_EQ(got.status, expected.status) << marker << " " << cursor;
        ASSERT_EQ(got.bitText, expected.bitText) << marker << " " << cursor;
        ASSERT_EQ(got.valueText, expected.valueText) << marker << " " << cursor;
    }
}

// Random captures: steady stretches, a strobe, bursts, points out of order and anywhere,
// stops (closing point, completion) several times, the start's nested stop at X 0, points
// moved and relevelled, huge jumps and 64-bit positions; both traces get the same calls.
TEST(ChannelTrace, SameAsAPlainArrayOfPoints) {
    int completions = 0, withSteps = 0;
    for (int round = 0; round < 300; ++round) {
        std::mt19937_64 rng(static_cast<unsigned>(round) * 7919u + 17u);
        auto pick = [&](std::uint64_t lo, std::uint64_t hi) {
            return static_cast<Tick>(lo + rng() % (hi - lo + 1));
        };
        const Tick bases[] = {0, -(Tick{1} << 40), (Tick{1} << 62) - 4000000, -(Tick{1} << 62)};
        const Tick base = bases[round % 4];
        const bool huge = round % 10 == 9;  // jumps of 2^32 and more: never completed
        ChannelTrace fast;
        ReferenceTrace ref;
        auto add = [&](Tick x, std::uint8_t y) {
            fast.add(x, y);
            ref.add(x, y);
        };
        auto level = [&] { return static_cast<std::uint8_t>(1 + rng() % 8); };
        add(base, 5);
        Tick x = base;
        for (int segment = 0, segments = static_cast<int>(pick(1, 30)); segment < segments;
             ++segment) {
            const Tick last = ref.lastX();
            switch (rng() % 10) {
                case 0:  // a steady stretch
                    x = last + (rng() % 6 == 0 ? pick(20000, 60000) : pick(257, 5000));
                    add(x, level());
                    break;
                case 1: {  // a strobe or another regular stretch
                    const Tick step = rng() % 2 != 0 ? 256 : pick(1, 256);
                    const std::uint8_t a = level(), b = rng() % 3 == 0 ? a : level();
                    for (std::uint64_t k = 0, m = pick(5, 90); k < m; ++k) {
                        add(x = last + step * static_cast<Tick>(k + 1), k % 2 != 0 ? a : b);
                    }
                    break;
                }
                case 2:  // a burst of close points
                    for (std::uint64_t k = 0, m = pick(1, 40); k < m; ++k) {
                        add(x = ref.lastX() + pick(0, 300), level());
                    }
                    break;
                case 3:  // out of order, within the last stretch
                    add(last - pick(0, 700), level());
                    break;
                case 4:  // anywhere
                    add(ref.x(0) - 3000 +
                            pick(0, static_cast<std::uint64_t>(last - ref.x(0)) + 6000),
                        level());
                    break;
                case 5:
                case 6:
                    if (!huge) {  // a stop: closing point, completion
                        add(rng() % 2 != 0 ? last : last - last % 256, level());
                        const std::size_t steps = CompleteTrace(fast);
                        ASSERT_EQ(steps, CompleteTraceByPasses(ref)) << "round " << round;
                        ++completions;
                        withSteps += steps != 0 ? 1 : 0;
                        if (rng() % 3 == 0) {  // the start's nested stop: closing at X 0
                            add(base, level());
                            ASSERT_EQ(CompleteTrace(fast), CompleteTraceByPasses(ref));
                        }
                    }
                    break;
                case 7: {  // a level changed
                    const auto i = static_cast<std::ptrdiff_t>(rng() % ref.count());
                    const std::uint8_t y = level();
                    fast.setY(i, y);
                    ref.setY(i, y);
                    break;
                }
                case 8: {  // a point moved between its neighbours
                    const auto n = static_cast<std::ptrdiff_t>(ref.count());
                    const auto i = static_cast<std::ptrdiff_t>(rng() % ref.count());
                    const Tick lo = i > 0 ? ref.x(i - 1) : ref.x(i) - 5000;
                    const Tick hi = i + 1 < n ? ref.x(i + 1) : ref.x(i) + 5000;
                    const Tick to = lo + pick(0, static_cast<std::uint64_t>(hi - lo));
                    fast.setX(i, to);
                    ref.setX(i, to);
                    break;
                }
                default:
                    if (huge) {
                        add(x = last + (Tick{1} << pick(32, 44)) + pick(0, 999), level());
                    } else {
                        add(x = last + pick(0, 1200), level());
                    }
                    break;
            }
            if (segment % 4 == 3) {
                expectSame(fast, ref, rng);
                ASSERT_FALSE(HasFatalFailure()) << "round " << round << " segment " << segment;
            }
        }
        if (!huge) {
            add(ref.lastX() + pick(0, 3000), level());
            ASSERT_EQ(CompleteTrace(fast), CompleteTraceByPasses(ref)) << "round " << round;
            for (int k = 0; k < 3; ++k) {  // points after the completion, a second stop
                add(ref.lastX() + pick(0, 2000), level());
            }
            add(ref.lastX() - pick(0, 100), level());
            ASSERT_EQ(CompleteTrace(fast), CompleteTraceByPasses(ref)) << "round " << round;
        }
        expectSame(fast, ref, rng);
        ASSERT_FALSE(HasFatalFailure()) << "round " << round;
        const ChannelTrace copy = fast;  // copies hold their own points
        fast.clear();
        expectSame(copy, ref, rng);
        ASSERT_FALSE(HasFatalFailure()) << "round " << round;
    }
    EXPECT_GT(completions, 500);
    EXPECT_GT(withSteps, 30);  // the progress rule is exercised, not only the points
}

// The two vertical lines: two points that setX moves one after the other.
TEST(ChannelTrace, LinesOfTwoPoints) {
    ChannelTrace line;
    ReferenceTrace ref;
    for (const Tick x : {0, 1}) {
        line.add(x, 0);
        ref.add(x, 0);
    }
    std::mt19937_64 rng(5);
    for (const Tick to : {Tick{12800}, Tick{6400}, Tick{-1}, Tick{0}, Tick{1} << 50, Tick{3}}) {
        for (std::ptrdiff_t i : {0, 1}) {
            line.setX(i, to);
            ref.setX(i, to);
        }
        line.setY(0, 20);
        ref.setY(0, 20);
        expectSame(line, ref, rng);
    }
}

// A stretch added at once is the same as its points added one by one: on an empty trace, going
// on with a run, breaking it (step, level, gap), after a completion, and in front of the end.
TEST(ChannelTrace, RegularStretchAddedAtOnceEqualsItsPoints) {
    std::mt19937_64 rng(31);
    for (int round = 0; round < 400; ++round) {
        ChannelTrace once, oneByOne;
        Tick x = static_cast<Tick>(rng() % 1000);
        for (int part = 0; part < 6; ++part) {
            const Tick step = rng() % 3 == 0 ? 1 + static_cast<Tick>(rng() % 300) : 256;
            const std::uint64_t n = rng() % 5 == 0 ? rng() % 3 : rng() % 100;
            std::uint8_t y0 = rng() % 4 == 0 ? 5 : 7, y1 = rng() % 4 == 0 ? 7 : 8;
            Tick x0 = x + (rng() % 3 == 0 ? static_cast<Tick>(rng() % 600) - 300 : step);
            if (rng() % 8 == 0) {
                CompleteTrace(once);
                CompleteTrace(oneByOne);
            }
            once.addRegular(x0, step, n, y0, y1);
            for (std::uint64_t k = 0; k < n; ++k) {
                oneByOne.add(x0, y0);
                x0 += step;
                std::swap(y0, y1);
            }
            x = std::max(x, x0 - step);
            ASSERT_EQ(once.count(), oneByOne.count()) << round << " " << part;
            ASSERT_TRUE(
                std::equal(once.points().begin(), once.points().end(), oneByOne.points().begin()))
                << round << " " << part;
        }
        EXPECT_LE(once.memoryBytes(), oneByOne.memoryBytes() + 4096);
    }
}

// Memory grows with irregular transitions, never with time.
TEST(ChannelTrace, RegularStretchesCostNothingPerPeriod) {
    constexpr Tick kPeriods = 10'000'000;
    ChannelTrace steady;
    steady.add(0, 4);
    steady.add(kPeriods * 256, 4);
    CompleteTrace(steady);
    EXPECT_EQ(steady.count(), static_cast<std::size_t>(kPeriods) + 1);
    EXPECT_LT(steady.memoryBytes(), 4096u);

    ChannelTrace strobe;
    strobe.add(0, 7);
    std::size_t halfway = 0;
    for (Tick k = 1; k <= kPeriods; ++k) {
        strobe.add(k * 256, k % 2 != 0 ? 8 : 7);
        halfway = k == kPeriods / 2 ? strobe.memoryBytes() : halfway;
    }
    EXPECT_EQ(strobe.count(), static_cast<std::size_t>(kPeriods) + 1);
    EXPECT_EQ(strobe.point(kPeriods).y, 7);
    EXPECT_LT(strobe.memoryBytes(), 4096u);
    EXPECT_EQ(strobe.memoryBytes(), halfway);

    // Irregular transitions: well under 16 bytes each, completed or not.
    ChannelTrace data;
    std::mt19937_64 rng(9);
    Tick x = 0;
    for (int k = 0; k < 200'000; ++k) {
        data.add(x += 128 + static_cast<Tick>(rng() % 4000), k % 2 != 0 ? 3 : 4);
    }
    EXPECT_LE(data.memoryBytes(), 8 * data.storedCount());
    CompleteTrace(data);
    EXPECT_LE(data.memoryBytes(), 8 * data.storedCount());
    EXPECT_GT(data.count(), 4 * data.storedCount());
}
}  // namespace
}  // namespace osc
