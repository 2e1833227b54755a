#include "ui/plot/StairRenderer.h"

#include <QPaintEngine>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "ui/plot/WholePixels.h"

namespace ui {

namespace {

// floor(v) for v within [lo, hi + 1); lo - 1 below (and for NaN), hi + 1 at or above.
int floorWithin(double v, int lo, int hi) {
    if (!(v >= lo)) {
        return lo - 1;
    }
    if (v >= static_cast<double>(hi) + 1) {
        return hi + 1;
    }
    return static_cast<int>(std::floor(v));
}

// The rows lit in each column of the clip, as the range [top, bottom] (empty while top >
// bottom); a left-to-right polyline lights one connected run of rows per column, since its
// part inside a column is one connected piece.
bool litRows(const QVector<QPointF>& line, const QRect& clip, std::vector<int>& top,
             std::vector<int>& bottom) {
    const int x0 = clip.left(), x1 = clip.right(), y0 = clip.top(), y1 = clip.bottom();
    top.assign(static_cast<std::size_t>(clip.width()), y1 + 1);
    bottom.assign(static_cast<std::size_t>(clip.width()), y0 - 1);
    for (qsizetype i = 1; i < line.size(); ++i) {
        const QPointF a = line[i - 1], b = line[i];
        double ya = a.y(), yb = b.y();
        if (a.x() != b.x() && (ya != yb || b.x() < a.x())) {
            return false;  // not a stair: a slope, or a step back to the left
        }
        if (ya > yb) {
            std::swap(ya, yb);
        }
        const int r0 = std::max(floorWithin(ya, y0, y1), y0);
        const int r1 = std::min(floorWithin(yb, y0, y1), y1);
        if (r0 > r1) {
            continue;  // above or below the clip
        }
        const int c0 = std::max(floorWithin(a.x(), x0, x1), x0);
        const int c1 = std::min(floorWithin(b.x(), x0, x1), x1);
        for (int c = c0; c <= c1; ++c) {
            const auto k = static_cast<std::size_t>(c - x0);
            top[k] = std::min(top[k], r0);
            bottom[k] = std::max(bottom[k], r1);
        }
    }
    return true;
}

}  // namespace

bool stairRectangles(const QVector<QPointF>& polyline, const QRect& clip, std::vector<QRect>& out) {
    out.clear();
    if (polyline.size() < 2 || clip.isEmpty()) {
        return true;
    }
    std::vector<int> top, bottom;
    if (!litRows(polyline, clip, top, bottom)) {
        return false;
    }
    const std::size_t w = top.size();
    for (std::size_t c = 0; c < w;) {
        std::size_t e = c + 1;
        while (e < w && top[e] == top[c] && bottom[e] == bottom[c]) {
            ++e;
        }
        if (top[c] <= bottom[c]) {
            out.emplace_back(clip.left() + static_cast<int>(c), top[c], static_cast<int>(e - c),
                             bottom[c] - top[c] + 1);
        }
        c = e;
    }
    return true;
}

void drawStairs(QPainter& p, const QVector<QPointF>& polyline, const QRect& clip,
                const QColor& colour, std::vector<QRect>& scratch) {
    if (polyline.size() < 2) {
        return;
    }
    if (!paintsWholePixels(p) || !stairRectangles(polyline, clip, scratch)) {
        p.setPen(QPen(colour, 0));
        p.drawPolyline(polyline.constData(), static_cast<int>(polyline.size()));
        return;
    }
    for (const QRect& r : scratch) {
        p.fillRect(r, colour);
    }
}

void buildStairPolyline(const osc::ChannelTrace& trace, const TraceSummary& summary,
                        const StairMapping& map, QVector<QPointF>& out, ColumnEdges edges) {
    out.clear();
    const double span = map.windowMax - map.windowMin;
    if (trace.blockCount() == 0 || map.columns <= 0 || !(span > 0) || !std::isfinite(span) ||
        !(map.levelMax > map.levelMin)) {
        return;
    }
    if (!summary.current(trace)) {  // not summarised as it is now: summarise a copy
        TraceSummary local;
        local.update(trace);
        buildStairPolyline(trace, local, map, out, edges);
        return;
    }
    using Position = TraceSummary::Position;
    const Position end = summary.end();
    const double tpp = span / map.columns;  // ticks per pixel column
    const std::optional<osc::Tick> first = osc::firstTickAtOrAbove(map.windowMin);
    Position pos = first ? summary.lowerBound(trace, Position{}, *first) : end;
    // With many blocks in view, where each column ends, worked out for all columns first: the
    // block over the blocks' last X, then the point by counting the block's points below the
    // column's end. The columns do not wait for one another there, so the processor fetches the
    // points of many columns at once instead of one after the other.
    std::vector<Position> stops;
    const std::optional<osc::Tick> last = osc::firstTickAtOrAbove(map.windowMax);
    const std::size_t lastBlock = last ? summary.blockAtOrAfter(pos.block, *last) : end.block;
    if (lastBlock - pos.block >= static_cast<std::size_t>(map.columns) / 4) {
        std::vector<osc::Tick> ticks;
        for (std::size_t c = 0, k = pos.block; c < static_cast<std::size_t>(map.columns); ++c) {
            const std::optional<osc::Tick> stop =
                osc::firstTickAtOrAbove(map.windowMin + static_cast<double>(c + 1) * tpp);
            if (stop) {
                k = summary.blockAtOrAfter(k, *stop);
            }
            if (!stop || k == end.block) {
                break;
            }
            stops.push_back({k, 0});
            ticks.push_back(*stop);
        }
        constexpr std::size_t kAhead = 8;
        const bool wholeBlocks = edges == ColumnEdges::WholeBlocks;
        for (std::size_t c = 0; c < stops.size(); ++c) {
            if (c + 2 * kAhead < stops.size()) {
                summary.prefetchEntry(stops[c + 2 * kAhead].block);
            }
            if (!wholeBlocks && c + kAhead < stops.size()) {
                summary.prefetchPoints(stops[c + kAhead].block);
            }
            const std::size_t k = stops[c].block;
            if (wholeBlocks && summary.narrowerThan(k, tpp)) {
                // Cut by the edge: the whole block to this column, so the stop is the next one.
                stops[c] = summary.startsBefore(k, ticks[c]) ? Position{k + 1, 0} : Position{k, 0};
            } else {
                stops[c].point = summary.pointsBelow(k, ticks[c]);
            }
        }
        stops.resize(static_cast<std::size_t>(map.columns), end);
    }
    // The pixel row of each level, worked out once.
    std::array<double, 256> rows;
    for (int y = 0; y < 256; ++y) {
        rows[static_cast<std::size_t>(y)] = map.pixelY(y);
    }
    out.reserve(4 * map.columns + 2);
    bool known = !(pos == Position{});
    std::uint8_t level = known ? summary.levelAt(summary.previous(trace, pos)) : 0;
    if (known) {
        out.append(QPointF(map.left, rows[level]));
    }
    while (!(pos == end)) {
        const osc::TracePoint p = summary.pointAt(pos);
        const double offset = (static_cast<double>(p.x) - map.windowMin) / tpp;
        const double column = std::floor(offset);
        if (column >= map.columns) {
            break;
        }
        const Position after = summary.next(pos);
        Position to = end;
        if (!stops.empty()) {
            // The first point at or after `after` whose X reaches the column's end.
            to = stops[static_cast<std::size_t>(column)];
            if (to.block < after.block || (to.block == after.block && to.point < after.point)) {
                to = after;
            }
        } else {
            const double columnEnd = map.windowMin + (column + 1) * tpp;
            const std::optional<osc::Tick> stop = osc::firstTickAtOrAbove(columnEnd);
            to = stop ? summary.lowerBound(trace, after, *stop) : end;
        }
        const double px = map.left + offset;
        if (known) {
            out.append(QPointF(px, rows[level]));
        }
        if (to == after) {
            level = p.y;
            out.append(QPointF(px, rows[level]));
        } else {
            std::uint8_t lo = known ? level : 255, hi = known ? level : 0;
            summary.minMax(trace, pos, to, lo, hi);
            out.append(QPointF(px, rows[lo]));
            out.append(QPointF(px, rows[hi]));
            level = summary.levelAt(summary.previous(trace, to));
            out.append(QPointF(px, rows[level]));
        }
        known = true;
        pos = to;
    }
    if (!(pos == end) && known) {
        out.append(QPointF(map.left + map.columns, rows[level]));
    }
}

void extendToLiveEnd(const osc::ChannelTrace& trace, const StairMapping& map, double liveEnd,
                     QVector<QPointF>& polyline) {
    const double span = map.windowMax - map.windowMin;
    if (polyline.isEmpty() || trace.empty() || map.columns <= 0 || !(span > 0) ||
        !std::isfinite(span) || !std::isfinite(liveEnd)) {
        return;
    }
    const auto last = static_cast<double>(trace.lastX());
    if (!(liveEnd > last) || last >= map.windowMax || liveEnd <= map.windowMin) {
        return;
    }
    const double end = std::min(liveEnd, map.windowMax);
    const double px = map.left + (end - map.windowMin) * map.columns / span;
    const double y = polyline.constLast().y();
    if (px > polyline.constLast().x()) {
        polyline.append(QPointF(px, y));
    }
}

}  // namespace ui
