#include "ui/StairRenderer.h"

#include <algorithm>
#include <cmath>

namespace ui {

void TraceSummary::update(const osc::ChannelTrace& trace) {
    const std::size_t n = trace.blockCount();
    if (valid_ && trace_ == &trace && trace.layoutRevision() == layout_ && n >= lastX_.size()) {
        refreshFrom(trace, lastX_.empty() ? 0 : lastX_.size() - 1);
    } else {
        ++fullRebuilds_;
        refreshFrom(trace, 0);
    }
    valid_ = true;
    trace_ = &trace;
    layout_ = trace.layoutRevision();
}

void TraceSummary::refreshFrom(const osc::ChannelTrace& trace, std::size_t firstBlock) {
    const std::size_t n = trace.blockCount();
    lastX_.resize(n);
    counts_.resize(n);
    blockMin_.resize(n);
    blockMax_.resize(n);
    for (std::size_t b = firstBlock; b < n; ++b) {
        const osc::TraceBlock block = trace.block(b);
        lastX_[b] = block.lastX;
        counts_[b] = block.count;
        blockMin_[b] = block.minLevel;
        blockMax_[b] = block.maxLevel;
    }
    const std::size_t supers = (n + kSuperBlock - 1) / kSuperBlock;
    superMin_.resize(supers);
    superMax_.resize(supers);
    for (std::size_t s = firstBlock / kSuperBlock; s < supers; ++s) {
        std::uint8_t lo = 255, hi = 0;
        for (std::size_t b = s * kSuperBlock; b < std::min(n, (s + 1) * kSuperBlock); ++b) {
            lo = std::min(lo, blockMin_[b]);
            hi = std::max(hi, blockMax_[b]);
        }
        superMin_[s] = lo;
        superMax_[s] = hi;
    }
    allMin_ = 255;
    allMax_ = 0;
    for (std::size_t s = 0; s < supers; ++s) {
        allMin_ = std::min(allMin_, superMin_[s]);
        allMax_ = std::max(allMax_, superMax_[s]);
    }
}

TraceSummary::Position TraceSummary::next(Position p) const {
    return p.point + 1 >= counts_[p.block] ? Position{p.block + 1, 0}
                                           : Position{p.block, p.point + 1};
}

TraceSummary::Position TraceSummary::previous(const osc::ChannelTrace&, Position p) const {
    return p.point > 0 ? Position{p.block, p.point - 1}
                       : Position{p.block - 1, counts_[p.block - 1] - 1};
}

TraceSummary::Position TraceSummary::lowerBound(const osc::ChannelTrace& trace, Position from,
                                                osc::Tick x) const {
    const std::size_t n = lastX_.size();
    const std::size_t b = from.block;
    if (b >= n) {
        return end();
    }
    if (lastX_[b] >= x) {
        return {b, std::max(from.point, trace.blockLowerBound(b, x))};
    }
    // Gallop over the blocks' last X: afterwards lastX_[lo] < x, and the first block whose
    // last X reaches x lies in (lo, hi] (hi == n: none).
    std::size_t lo = b, hi = b + 1, step = 1;
    while (hi < n && lastX_[hi] < x) {
        lo = hi;
        step *= 2;
        hi = b + step;
    }
    hi = std::min(hi, n);
    const auto q = static_cast<std::size_t>(
        std::lower_bound(lastX_.begin() + static_cast<std::ptrdiff_t>(lo + 1),
                         lastX_.begin() + static_cast<std::ptrdiff_t>(hi), x) -
        lastX_.begin());
    if (q >= n) {
        return end();
    }
    return {q, trace.blockLowerBound(q, x)};
}

void TraceSummary::minMax(const osc::ChannelTrace& trace, Position from, Position to,
                          std::uint8_t& loOut, std::uint8_t& hiOut) const {
    std::uint8_t lo = loOut, hi = hiOut;
    // Once both extremes of the whole trace are seen, nothing more can widen the range (a
    // channel trace has only two levels, so this usually ends the walk at once).
    const auto complete = [&] { return lo <= allMin_ && hi >= allMax_; };
    const auto fold = [&](std::uint8_t a, std::uint8_t b) {
        lo = std::min(lo, a);
        hi = std::max(hi, b);
    };
    // Points [a, e) of block k.
    const auto scan = [&](std::size_t k, std::uint64_t a, std::uint64_t e) {
        if (a >= e) {
            return;
        }
        if ((a == 0 && e == counts_[k]) || (e - a >= 2 && trace.block(k).run)) {
            fold(blockMin_[k], blockMax_[k]);  // a run's two levels alternate
            return;
        }
        for (std::uint64_t j = a; j < e && !complete(); ++j) {
            const std::uint8_t y = trace.blockPoint(k, j).y;
            fold(y, y);
        }
    };
    if (from.block == to.block) {
        scan(from.block, from.point, to.point);
    } else {
        scan(from.block, from.point, counts_[from.block]);
        std::size_t k = from.block + 1;
        while (k < to.block && !complete()) {
            if (k % kSuperBlock == 0 && k + kSuperBlock <= to.block) {
                fold(superMin_[k / kSuperBlock], superMax_[k / kSuperBlock]);
                k += kSuperBlock;
            } else {
                fold(blockMin_[k], blockMax_[k]);
                ++k;
            }
        }
        if (to.block < counts_.size() && !complete()) {
            scan(to.block, 0, to.point);
        }
    }
    loOut = lo;
    hiOut = hi;
}

void buildStairPolyline(const osc::ChannelTrace& trace, const TraceSummary& summary,
                        const StairMapping& map, QVector<QPointF>& out) {
    out.clear();
    const double span = map.windowMax - map.windowMin;
    if (trace.blockCount() == 0 || map.columns <= 0 || !(span > 0) || !std::isfinite(span) ||
        !(map.levelMax > map.levelMin)) {
        return;
    }
    if (summary.end().block != trace.blockCount()) {  // not summarised: summarise a copy
        TraceSummary local;
        local.update(trace);
        buildStairPolyline(trace, local, map, out);
        return;
    }
    using Position = TraceSummary::Position;
    const Position end = summary.end();
    const double tpp = span / map.columns;  // ticks per pixel column
    const std::optional<osc::Tick> first = osc::firstTickAtOrAbove(map.windowMin);
    Position pos = first ? summary.lowerBound(trace, Position{}, *first) : end;
    bool known = !(pos == Position{});
    const auto levelBefore = [&](Position p) {
        const Position q = summary.previous(trace, p);
        return trace.blockPoint(q.block, q.point).y;
    };
    std::uint8_t level = known ? levelBefore(pos) : 0;
    if (known) {
        out.append(QPointF(map.left, map.pixelY(level)));
    }
    while (!(pos == end)) {
        const osc::TracePoint p = trace.blockPoint(pos.block, pos.point);
        const double offset = (static_cast<double>(p.x) - map.windowMin) / tpp;
        const double column = std::floor(offset);
        if (column >= map.columns) {
            break;
        }
        const double columnEnd = map.windowMin + (column + 1) * tpp;
        const Position after = summary.next(pos);
        const std::optional<osc::Tick> stop = osc::firstTickAtOrAbove(columnEnd);
        const Position to = stop ? summary.lowerBound(trace, after, *stop) : end;
        const double px = map.left + offset;
        if (known) {
            out.append(QPointF(px, map.pixelY(level)));
        }
        if (to == after) {
            level = p.y;
            out.append(QPointF(px, map.pixelY(level)));
        } else {
            std::uint8_t lo = known ? level : 255, hi = known ? level : 0;
            summary.minMax(trace, pos, to, lo, hi);
            out.append(QPointF(px, map.pixelY(lo)));
            out.append(QPointF(px, map.pixelY(hi)));
            level = levelBefore(to);
            out.append(QPointF(px, map.pixelY(level)));
        }
        known = true;
        pos = to;
    }
    if (!(pos == end) && known) {
        out.append(QPointF(map.left + map.columns, map.pixelY(level)));
    }
}

}  // namespace ui
