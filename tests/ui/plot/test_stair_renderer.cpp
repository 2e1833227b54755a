// The per-column polyline and its level-of-detail summary against a plain walk over the points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include <QImage>
#include <QPainter>

#include "core/trace/trace_completion.h"
#include "ui/plot/StairRenderer.h"

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

// The polyline as a walk over every stored point builds it, column by column: the reference
// that the summarised renderer must match vertex for vertex (the same arithmetic, so the same
// doubles), whatever the trace and the window.
std::vector<osc::TracePoint> storedPointsOf(const osc::ChannelTrace& t) {
    std::vector<osc::TracePoint> pts;
    for (const osc::TracePoint p : t.storedPoints()) {
        pts.push_back(p);
    }
    return pts;
}

QVector<QPointF> referencePolyline(const std::vector<osc::TracePoint>& pts,
                                   const ui::StairMapping& map) {
    QVector<QPointF> out;
    const double span = map.windowMax - map.windowMin;
    if (pts.empty() || map.columns <= 0 || !(span > 0) || !std::isfinite(span) ||
        !(map.levelMax > map.levelMin)) {
        return out;
    }
    const std::size_t n = pts.size();
    // First stored index at or after `from` with X >= x.
    const auto lowerBound = [&](std::size_t from, osc::Tick x) {
        return static_cast<std::size_t>(
            std::partition_point(pts.begin() + static_cast<std::ptrdiff_t>(from), pts.end(),
                                 [x](const osc::TracePoint& p) { return p.x < x; }) -
            pts.begin());
    };
    const double tpp = span / map.columns;
    const std::optional<osc::Tick> first = osc::firstTickAtOrAbove(map.windowMin);
    std::size_t pos = first ? lowerBound(0, *first) : n;
    bool known = pos != 0;
    std::uint8_t level = known ? pts[pos - 1].y : 0;
    if (known) {
        out.append(QPointF(map.left, map.pixelY(level)));
    }
    while (pos != n) {
        const osc::TracePoint p = pts[pos];
        const double offset = (static_cast<double>(p.x) - map.windowMin) / tpp;
        const double column = std::floor(offset);
        if (column >= map.columns) {
            break;
        }
        const double columnEnd = map.windowMin + (column + 1) * tpp;
        const std::optional<osc::Tick> stop = osc::firstTickAtOrAbove(columnEnd);
        const std::size_t to = stop ? lowerBound(pos + 1, *stop) : n;
        const double px = map.left + offset;
        if (known) {
            out.append(QPointF(px, map.pixelY(level)));
        }
        if (to == pos + 1) {
            level = p.y;
            out.append(QPointF(px, map.pixelY(level)));
        } else {
            std::uint8_t lo = known ? level : 255, hi = known ? level : 0;
            for (std::size_t i = pos; i < to; ++i) {
                lo = std::min(lo, pts[i].y);
                hi = std::max(hi, pts[i].y);
            }
            out.append(QPointF(px, map.pixelY(lo)));
            out.append(QPointF(px, map.pixelY(hi)));
            level = pts[to - 1].y;
            out.append(QPointF(px, map.pixelY(level)));
        }
        known = true;
        pos = to;
    }
    if (pos != n && known) {
        out.append(QPointF(map.left + map.columns, map.pixelY(level)));
    }
    return out;
}

// Exactly the same doubles (QPointF's == compares fuzzily).
::testing::AssertionResult sameVertices(const QVector<QPointF>& got, const QVector<QPointF>& want) {
    if (got.size() != want.size()) {
        return ::testing::AssertionFailure()
               << got.size() << " vertices instead of " << want.size();
    }
    for (qsizetype i = 0; i < got.size(); ++i) {
        if (got[i].x() != want[i].x() || got[i].y() != want[i].y()) {
            return ::testing::AssertionFailure()
                   << "vertex " << i << " of " << got.size() << ": (" << got[i].x() << ", "
                   << got[i].y() << ") instead of (" << want[i].x() << ", " << want[i].y() << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

// Two-level traces as the decoder makes them: bursts of level changes at random spacing,
// regular stretches (a strobe), long steady gaps; some completed, some changed afterwards.
osc::ChannelTrace decoderLikeTrace(std::mt19937& rng, std::size_t changes) {
    osc::ChannelTrace t;
    osc::Tick x = static_cast<osc::Tick>(rng() % 1000) - 500;
    std::uint8_t level = 7;
    t.add(x, level);
    while (t.storedCount() < changes) {
        switch (rng() % 5) {
            case 0: {  // a regular stretch
                const osc::Tick step = 1 + static_cast<osc::Tick>(rng() % 256);
                for (int k = 0, m = 1 + static_cast<int>(rng() % 3000); k < m; ++k) {
                    level = level == 7 ? 8 : 7;
                    t.add(x += step, level);
                }
                break;
            }
            case 1:  // a long steady gap
                x += static_cast<osc::Tick>(rng() % 10'000'000);
                break;
            default:  // irregular changes
                for (int k = 0, m = 1 + static_cast<int>(rng() % 200); k < m; ++k) {
                    x += static_cast<osc::Tick>(rng() % 300);
                    level = level == 7 ? 8 : 7;
                    t.add(x, level);
                }
        }
    }
    return t;
}

TEST(StairPolyline, EqualsAWalkOverEveryPointForAnyTraceAndWindow) {
    std::mt19937 rng(11);
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        osc::ChannelTrace t = round % 4 == 3 ? mixedTrace(rng, 1 + rng() % 30000, 1 + rng() % 900)
                                             : decoderLikeTrace(rng, 1 + rng() % 30000);
        if (round % 3 == 1) {
            osc::CompleteTrace(t);
        }
        if (round % 5 == 2 && t.count() > 10) {  // changes inside the trace after the summary
            t.setY(static_cast<std::ptrdiff_t>(rng() % t.count()), 3);
            t.add(t.x(static_cast<std::ptrdiff_t>(rng() % t.count())), 1);
        }
        ui::TraceSummary s;
        s.update(t);
        const std::vector<osc::TracePoint> pts = storedPointsOf(t);
        const double first = static_cast<double>(t.x(0));
        const double last = static_cast<double>(t.lastX());
        const double whole = std::max(1.0, last - first);
        for (int k = 0; k < 60; ++k) {
            ui::StairMapping m;
            m.columns = 1 + static_cast<int>(rng() % 1920);
            m.left = static_cast<double>(rng() % 80) + 0.5 * (rng() % 2);
            m.height = 500;
            const double width =
                whole * std::pow(2.0, -std::uniform_real_distribution<>(-1, 30)(rng));
            m.windowMin =
                first - whole * 0.1 + std::uniform_real_distribution<>(0, 1.2)(rng) * whole;
            if (k % 7 == 0) {
                m.windowMin = std::floor(m.windowMin);  // on a whole tick
            }
            m.windowMax = m.windowMin + (k % 11 == 0 ? whole * 1.3 : width);
            QVector<QPointF> line;
            ui::buildStairPolyline(t, s, m, line);
            ASSERT_TRUE(sameVertices(line, referencePolyline(pts, m)))
                << m.windowMin << ".." << m.windowMax << " in " << m.columns << " columns";
        }
        // The summary follows appends as a capture makes them.
        for (int k = 0; k < 500; ++k) {
            t.add(t.lastX() + static_cast<osc::Tick>(rng() % 400), k % 2 != 0 ? 7 : 8);
        }
        s.update(t);
        ui::StairMapping m;
        m.columns = 1000;
        m.height = 500;
        m.windowMin = static_cast<double>(t.lastX()) - 300000;
        m.windowMax = static_cast<double>(t.lastX()) + 10;
        QVector<QPointF> line;
        ui::buildStairPolyline(t, s, m, line);
        ASSERT_TRUE(sameVertices(line, referencePolyline(storedPointsOf(t), m)));
    }
}

// The pixels of a stair polyline, point by point: every whole-pixel step along each segment
// and both of its ends, floored, within the clip.
QImage referencePixels(const QVector<QPointF>& line, const QRect& clip, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    const auto light = [&](double x, double y) {
        const double fx = std::floor(x), fy = std::floor(y);
        if (fx >= clip.left() && fx <= clip.right() && fy >= clip.top() && fy <= clip.bottom()) {
            image.setPixel(static_cast<int>(fx), static_cast<int>(fy), 0xffffff00);
        }
    };
    for (qsizetype i = 1; i < line.size(); ++i) {
        const QPointF a = line[i - 1], b = line[i];
        if (a.x() == b.x()) {
            const double y0 = std::min(a.y(), b.y()), y1 = std::max(a.y(), b.y());
            for (double y = std::max(y0, clip.top() - 1.0); y < std::min(y1, clip.bottom() + 1.0);
                 y += 1) {
                light(a.x(), y);
            }
            light(a.x(), y1);
        } else {
            for (double x = std::max(a.x(), clip.left() - 1.0);
                 x < std::min(b.x(), clip.right() + 1.0); x += 1) {
                light(x, a.y());
            }
            light(b.x(), a.y());
        }
    }
    return image;
}

QImage paintRectangles(const std::vector<QRect>& rects, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    for (const QRect& r : rects) {
        p.fillRect(r, QColor(255, 255, 0));
    }
    return image;
}

// Pixels lit in a but in no pixel of b within `reach` (0: the same pixel).
int litOutside(const QImage& a, const QImage& b, int reach) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) == 0xff000000u) {
                continue;
            }
            bool found = false;
            for (int dy = -reach; dy <= reach && !found; ++dy) {
                for (int dx = -reach; dx <= reach && !found; ++dx) {
                    found = QRect(QPoint(), b.size()).contains(x + dx, y + dy) &&
                            b.pixel(x + dx, y + dy) != 0xff000000u;
                }
            }
            n += found ? 0 : 1;
        }
    }
    return n;
}

// The rectangles light exactly the polyline's pixels, and those are the pixels a thin pen
// lights along the same polyline, give or take where the pen's stroker rounds the ends of
// joined segments: never more than a pixel apart either way.
TEST(StairRectangles, LightExactlyThePolylinesPixels) {
    std::mt19937 rng(21);
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        const osc::ChannelTrace t = decoderLikeTrace(rng, 1 + rng() % 3000);
        ui::TraceSummary s;
        s.update(t);
        ui::StairMapping m;
        m.columns = 20 + static_cast<int>(rng() % 400);
        m.left = static_cast<double>(rng() % 30);
        m.top = static_cast<double>(rng() % 10);
        m.height = 40 + static_cast<double>(rng() % 200);
        m.levelMin = round % 5 == 0 ? 6.5 : 0;  // zoomed: levels beyond the clip
        m.levelMax = round % 5 == 0 ? 7.5 : 9;
        const double whole = static_cast<double>(t.lastX() - t.x(0)) + 1;
        m.windowMin =
            static_cast<double>(t.x(0)) + std::uniform_real_distribution<>(-0.2, 1)(rng) * whole;
        m.windowMax =
            m.windowMin + whole * std::pow(2.0, -std::uniform_real_distribution<>(-1, 14)(rng));
        QVector<QPointF> line;
        ui::buildStairPolyline(t, s, m, line);
        const QRect clip(static_cast<int>(m.left), static_cast<int>(m.top), m.columns + 1,
                         static_cast<int>(m.height) + 1);
        const QSize size(clip.right() + 5, clip.bottom() + 5);
        std::vector<QRect> rects;
        ASSERT_TRUE(ui::stairRectangles(line, clip, rects));
        ASSERT_LE(rects.size(), static_cast<std::size_t>(clip.width()));
        const QImage ours = paintRectangles(rects, size);
        ASSERT_EQ(ours, referencePixels(line, clip, size));

        QImage pen(size, QImage::Format_RGB32);
        pen.fill(Qt::black);
        if (line.size() >= 2) {
            QPainter p(&pen);
            p.setClipRect(clip);
            p.setPen(QPen(QColor(255, 255, 0), 0));
            p.drawPolyline(line.constData(), static_cast<int>(line.size()));
        }
        EXPECT_EQ(litOutside(pen, ours, 1), 0);
        EXPECT_EQ(litOutside(ours, pen, 1), 0);
    }
}

TEST(StairRectangles, SlopesAndStepsBackAreNotStairs) {
    std::vector<QRect> rects;
    const QRect clip(0, 0, 100, 100);
    EXPECT_FALSE(ui::stairRectangles({QPointF(1, 1), QPointF(5, 9)}, clip, rects));
    EXPECT_FALSE(ui::stairRectangles({QPointF(5, 1), QPointF(2, 1)}, clip, rects));
    EXPECT_TRUE(rects.empty());
    // Far outside the clip and not a number: clamped, nothing lit, nothing read beyond.
    EXPECT_TRUE(ui::stairRectangles({QPointF(-1e300, 5), QPointF(1e300, 5), QPointF(1e300, NAN)},
                                    clip, rects));
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0], QRect(0, 5, 100, 1));
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
        for (const ui::ColumnEdges edges : {ui::ColumnEdges::Exact, ui::ColumnEdges::WholeBlocks}) {
            // Whole blocks may show a level one column left of its own.
            const int slack = edges == ui::ColumnEdges::WholeBlocks ? 1 : 0;
            QVector<QPointF> line;
            ui::buildStairPolyline(t, s, m, line, edges);
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
                    if (x1 < m.left + c - slack || x0 >= m.left + c + 1)
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
