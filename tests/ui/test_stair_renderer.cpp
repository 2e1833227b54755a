// The per-column polyline and its level-of-detail summary against a plain walk over the points.
#include <gtest/gtest.h>

#include <random>

#include "core/trace_completion.h"
#include "ui/StairRenderer.h"

namespace {

osc::ChannelTrace randomTrace(std::mt19937& rng, std::size_t n, int maxStep) {
    osc::ChannelTrace t;
    osc::Tick x = 0;
    for (std::size_t i = 0; i < n; ++i) {
        x += std::uniform_int_distribution<int>(0, maxStep)(rng);
        t.add(x, static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 8)(rng)));
    }
    return t;
}

// The stored position of stored point s (blocks in order).
ui::TraceSummary::Position positionOf(const osc::ChannelTrace& t, std::size_t s) {
    for (std::size_t k = 0; k < t.blockCount(); ++k) {
        const osc::TraceBlock b = t.block(k);
        if (s < b.storedStart + b.count) {
            return {k, s - b.storedStart};
        }
    }
    return {t.blockCount(), 0};
}

std::size_t storedIndexOf(const osc::ChannelTrace& t, ui::TraceSummary::Position p) {
    return p.block == t.blockCount() ? t.storedCount() : t.block(p.block).storedStart + p.point;
}

// Random levels, and the same with regular stretches (runs) between them.
osc::ChannelTrace mixedTrace(std::mt19937& rng, std::size_t n, int maxStep) {
    osc::ChannelTrace t;
    osc::Tick x = 0;
    while (t.count() < n) {
        if (rng() % 4 == 0) {
            const osc::Tick step = 1 + static_cast<osc::Tick>(rng() % 256);
            for (int k = 0, m = 20 + static_cast<int>(rng() % 200); k < m; ++k) {
                t.add(x += step, k % 2 != 0 ? 5 : 6);
            }
        }
        x += std::uniform_int_distribution<int>(0, maxStep)(rng);
        t.add(x, static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 8)(rng)));
    }
    return t;
}

TEST(TraceSummary, MinMaxMatchesAWalkForAnyRange) {
    std::mt19937 rng(1);
    for (const osc::ChannelTrace& t : {randomTrace(rng, 20000, 5), mixedTrace(rng, 20000, 5)}) {
        ui::TraceSummary s;
        s.update(t);
        ASSERT_EQ(t.count(), t.storedCount());  // not completed: the stored points are all
        for (int k = 0; k < 2000; ++k) {
            std::size_t a = rng() % t.count(), b = rng() % t.count();
            if (a > b)
                std::swap(a, b);
            ++b;
            std::uint8_t lo = 255, hi = 0, wantLo = 255, wantHi = 0;
            s.minMax(t, positionOf(t, a), positionOf(t, b), lo, hi);
            for (std::size_t i = a; i < b; ++i) {
                wantLo = std::min(wantLo, t.y(i));
                wantHi = std::max(wantHi, t.y(i));
            }
            ASSERT_EQ(lo, wantLo) << a << ".." << b;
            ASSERT_EQ(hi, wantHi) << a << ".." << b;
        }
    }
}

TEST(TraceSummary, LowerBoundMatchesTheStandardSearch) {
    std::mt19937 rng(2);
    for (const int maxStep : {0, 1, 7, 300}) {  // 0: every point at the same X
        for (const osc::ChannelTrace& t :
             {randomTrace(rng, 9000, maxStep), mixedTrace(rng, 9000, maxStep)}) {
            ui::TraceSummary s;
            s.update(t);
            std::vector<osc::Tick> xs;
            for (const osc::TracePoint p : t.storedPoints())
                xs.push_back(p.x);
            const double top = static_cast<double>(xs.back()) + 2;
            for (int k = 0; k < 3000; ++k) {
                const std::size_t from = rng() % (t.count() + 1);
                const double key = std::uniform_real_distribution<double>(-1, top)(rng);
                const osc::Tick tick = *osc::firstTickAtOrAbove(key);
                std::size_t want = from;
                if (from < t.count()) {
                    want = static_cast<std::size_t>(
                        std::lower_bound(xs.begin() + static_cast<std::ptrdiff_t>(from), xs.end(),
                                         key, [](osc::Tick a, double b) { return a < b; }) -
                        xs.begin());
                }
                const auto got = s.lowerBound(t, positionOf(t, from), tick);
                ASSERT_EQ(storedIndexOf(t, got), want) << maxStep << " " << from << " " << key;
                // From the start the answer is the trace's own search.
                ASSERT_EQ(storedIndexOf(t, s.lowerBound(t, {}, tick)), t.lowerBound(key));
            }
        }
    }
}

TEST(TraceSummary, AppendsUpdateOnlyTheTailAndChangesRebuild) {
    osc::ChannelTrace t;
    ui::TraceSummary s;
    for (int i = 0; i < 10000; ++i) {
        t.add(i, 3);
    }
    s.update(t);
    EXPECT_EQ(s.fullRebuilds(), 1u);
    t.add(10000, 9);  // appended
    s.update(t);
    EXPECT_EQ(s.fullRebuilds(), 1u);
    std::uint8_t lo = 255, hi = 0;
    s.minMax(t, {}, s.end(), lo, hi);
    EXPECT_EQ(hi, 9);
    t.setY(5, 1);  // a change inside: the next update must see it
    std::vector<osc::Tick> xs;
    for (const osc::TracePoint p : t.points())
        xs.push_back(p.x);
    t.clear();
    for (const osc::Tick x : xs)
        t.add(x, 2);
    s.update(t);
    EXPECT_EQ(s.fullRebuilds(), 2u);
    lo = 255, hi = 0;
    s.minMax(t, {}, s.end(), lo, hi);
    EXPECT_EQ(lo, 2);
    EXPECT_EQ(hi, 2);
}

// For each pixel column: the rows the polyline covers there must include every level that a
// stair through the points shows in that column, and at most four vertices are used per column.
TEST(StairPolyline, CoversEveryLevelOfEachColumnWithFewVertices) {
    struct Row {
        const char* name;
        std::size_t points;
        int maxStep;
        double min, max;
    };
    const Row rows[] = {
        {"dense: many points per column", 50000, 3, 0, 75000},
        {"sparse: single points keep their X", 300, 200, 1000, 30000},
        {"window starting inside the trace", 5000, 20, 12345.5, 60000},
        {"window beyond the last point", 100, 10, 5000, 6000},
        {"completed, with regular stretches", 3000, 900, 0, 900000},
        {"completed, zoomed in", 3000, 900, 40000, 52000},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::mt19937 rng(3);
        osc::ChannelTrace t = r.maxStep == 900 ? mixedTrace(rng, r.points, r.maxStep)
                                               : randomTrace(rng, r.points, r.maxStep);
        if (r.maxStep == 900)
            osc::CompleteTrace(t);
        ui::TraceSummary s;
        s.update(t);
        ui::StairMapping m;
        m.windowMin = r.min;
        m.windowMax = r.max;
        m.left = 10;
        m.columns = 500;
        m.levelMin = 0;
        m.levelMax = 9;
        m.top = 0;
        m.height = 90;  // 10 pixels per level
        QVector<QPointF> line;
        ui::buildStairPolyline(t, s, m, line);
        ASSERT_LE(line.size(), 4 * m.columns + 2);
        const double tpp = (r.max - r.min) / m.columns;
        // The levels that the stairs show in column c: the level entering it and every level
        // starting in it (points at or right of the first point only).
        for (int c = 0; c < m.columns; ++c) {
            const double a = r.min + c * tpp, b = a + tpp;
            const std::size_t i0 = t.lowerBound(a), i1 = t.lowerBound(b);
            std::vector<int> levels;
            if (i0 > 0 && i0 < t.count())
                levels.push_back(t.y(i0 - 1));
            for (std::size_t i = i0; i < i1; ++i)
                levels.push_back(t.y(i));
            if (i0 == i1 && i0 == t.count())
                continue;  // the stairs ended before this column
            double lo = 1e9, hi = -1e9;
            for (int k = 1; k < line.size(); ++k) {
                const QPointF p = line[k - 1], q = line[k];
                const double x0 = std::min(p.x(), q.x()), x1 = std::max(p.x(), q.x());
                if (x1 < m.left + c || x0 >= m.left + c + 1)
                    continue;
                lo = std::min({lo, p.y(), q.y()});
                hi = std::max({hi, p.y(), q.y()});
            }
            for (const int level : levels) {
                const double y = m.pixelY(level);
                ASSERT_TRUE(y >= lo - 1e-9 && y <= hi + 1e-9)
                    << "column " << c << " level " << level;
            }
        }
    }
}

TEST(StairPolyline, EdgesOfTheWindow) {
    osc::ChannelTrace t;
    t.add(100, 7);
    t.add(200, 8);
    ui::TraceSummary s;
    s.update(t);
    ui::StairMapping m;
    m.columns = 100;
    m.height = 90;
    QVector<QPointF> line;
    // The window lies between the two points: a flat line across at level 7.
    m.windowMin = 120;
    m.windowMax = 180;
    ui::buildStairPolyline(t, s, m, line);
    ASSERT_EQ(line.size(), 2);
    EXPECT_EQ(line[0], QPointF(0, m.pixelY(7)));
    EXPECT_EQ(line[1], QPointF(100, m.pixelY(7)));
    // The window lies right of the trace's end: nothing after the last point.
    m.windowMin = 300;
    m.windowMax = 400;
    ui::buildStairPolyline(t, s, m, line);
    EXPECT_LE(line.size(), 1);
    // Empty and degenerate windows give nothing.
    m.windowMin = m.windowMax = 150;
    ui::buildStairPolyline(t, s, m, line);
    EXPECT_TRUE(line.isEmpty());
    ui::buildStairPolyline(osc::ChannelTrace{}, s, m, line);
    EXPECT_TRUE(line.isEmpty());
}

}  // namespace
