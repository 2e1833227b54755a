#include "core/trace/trace_summary.h"

#include <algorithm>

namespace osc {

namespace {

std::uint64_t lowMask(std::uint64_t n) {
    return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

}  // namespace

void TraceSummary::update(const ChannelTrace& trace) {
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
    revision_ = trace.revision();
}

void TraceSummary::refreshFrom(const ChannelTrace& trace, std::size_t firstBlock) {
    const std::size_t n = trace.blockCount();
    lastX_.resize(n);
    entries_.resize(n);
    if (tree_.empty()) {
        tree_.emplace_back();
    }
    tree_[0].resize(n);
    for (std::size_t k = firstBlock; k < n; ++k) {
        const TraceBlockData d = trace.blockData(k);
        Entry e;
        e.first = d.first;
        e.dx = d.dx;
        e.y = d.y;
        e.count = d.count;
        e.step = d.step;
        e.y0 = d.y0;
        e.y1 = d.y1;
        e.lo = d.minLevel;
        e.hi = d.maxLevel;
        if (d.dx != nullptr) {
            e.twoLevels = true;
            for (std::uint64_t j = 0; j < d.count; ++j) {
                if (d.y[j] == e.lo) {
                    e.lowBits |= std::uint64_t{1} << j;
                } else if (d.y[j] != e.hi) {
                    e.twoLevels = false;
                }
            }
        }
        lastX_[k] = d.last;
        entries_[k] = e;
        tree_[0][k] = {e.lo, e.hi};
    }
    // The levels above, from the groups that hold a changed block.
    std::size_t level = 0;
    std::size_t from = firstBlock;
    while (tree_[level].size() > 1) {
        const std::size_t below = tree_[level].size();
        const std::size_t size = (below + kFanOut - 1) / kFanOut;
        if (tree_.size() == level + 1) {
            tree_.emplace_back();
        }
        std::vector<Range>& up = tree_[level + 1];
        up.resize(size);
        for (std::size_t g = from / kFanOut; g < size; ++g) {
            Range r;
            for (std::size_t k = g * kFanOut; k < std::min(below, (g + 1) * kFanOut); ++k) {
                r.lo = std::min(r.lo, tree_[level][k].lo);
                r.hi = std::max(r.hi, tree_[level][k].hi);
            }
            up[g] = r;
        }
        from /= kFanOut;
        ++level;
    }
    tree_.resize(level + 1);
    all_ = n > 0 ? tree_[level][0] : Range{};
}

TraceSummary::Position TraceSummary::next(Position p) const {
    return p.point + 1 >= entries_[p.block].count ? Position{p.block + 1, 0}
                                                  : Position{p.block, p.point + 1};
}

TraceSummary::Position TraceSummary::previous(const ChannelTrace&, Position p) const {
    return p.point > 0 ? Position{p.block, p.point - 1}
                       : Position{p.block - 1, entries_[p.block - 1].count - 1};
}

TraceSummary::Position TraceSummary::lowerBound(const ChannelTrace&, Position from, Tick x) const {
    const std::size_t n = lastX_.size();
    const std::size_t b = from.block;
    if (b >= n) {
        return end();
    }
    // The first point of block k with X >= x (the block's count when none).
    const auto inBlock = [this, x](std::size_t k) -> std::uint64_t {
        const Entry& e = entries_[k];
        if (x <= e.first) {
            return 0;
        }
        const std::uint64_t rel =
            static_cast<std::uint64_t>(x) - static_cast<std::uint64_t>(e.first);
        if (e.dx == nullptr) {
            if (e.count == 1) {
                return 1;
            }
            const std::uint64_t step = e.step;
            return std::min(e.count, rel / step + (rel % step != 0 ? 1 : 0));
        }
        if (rel > std::numeric_limits<std::uint32_t>::max()) {
            return e.count;
        }
        return static_cast<std::uint64_t>(
            std::lower_bound(e.dx, e.dx + e.count, static_cast<std::uint32_t>(rel)) - e.dx);
    };
    if (lastX_[b] >= x) {
        return {b, std::max(from.point, inBlock(b))};
    }
    const std::size_t q = blockAtOrAfter(b, x);
    if (q >= n) {
        return end();
    }
    return {q, inBlock(q)};
}

std::size_t TraceSummary::blockAtOrAfter(std::size_t b, Tick x) const {
    const std::size_t n = lastX_.size();
    if (b >= n || lastX_[b] >= x) {
        return b;
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
    return static_cast<std::size_t>(
        std::lower_bound(lastX_.begin() + static_cast<std::ptrdiff_t>(lo + 1),
                         lastX_.begin() + static_cast<std::ptrdiff_t>(hi), x) -
        lastX_.begin());
}

std::uint64_t TraceSummary::pointsBelow(std::size_t k, Tick x) const {
    const Entry& e = entries_[k];
    if (x <= e.first) {
        return 0;
    }
    const std::uint64_t rel = static_cast<std::uint64_t>(x) - static_cast<std::uint64_t>(e.first);
    if (e.dx == nullptr) {
        return e.count == 1 ? 1 : std::min(e.count, rel / e.step + (rel % e.step != 0 ? 1 : 0));
    }
    if (rel > std::numeric_limits<std::uint32_t>::max()) {
        return e.count;
    }
    // A count rather than a binary search: the loads do not depend on one another.
    const auto r = static_cast<std::uint32_t>(rel);
    std::uint64_t n = 0;
    for (std::uint64_t j = 0; j < e.count; ++j) {
        n += e.dx[j] < r ? 1 : 0;
    }
    return n;
}

void TraceSummary::foldPoints(std::size_t k, std::uint64_t a, std::uint64_t e, Range& r) const {
    if (a >= e) {
        return;
    }
    const Entry& en = entries_[k];
    const auto fold = [&r](std::uint8_t lo, std::uint8_t hi) {
        r.lo = std::min(r.lo, lo);
        r.hi = std::max(r.hi, hi);
    };
    if (en.dx == nullptr) {
        if (e - a >= 2) {
            fold(en.lo, en.hi);  // a run's two levels alternate
        } else {
            const std::uint8_t y = (a & 1) != 0 ? en.y1 : en.y0;
            fold(y, y);
        }
    } else if (a == 0 && e == en.count) {
        fold(en.lo, en.hi);
    } else if (en.twoLevels) {
        const std::uint64_t mask = lowMask(e - a);
        const std::uint64_t low = (en.lowBits >> a) & mask;
        if (low != 0) {
            fold(en.lo, en.lo);
        }
        if (low != mask) {
            fold(en.hi, en.hi);
        }
    } else {
        for (std::uint64_t j = a; j < e && !whole(r); ++j) {
            fold(en.y[j], en.y[j]);
        }
    }
}

void TraceSummary::foldEntries(std::size_t level, std::size_t a, std::size_t e, Range& r) const {
    const std::vector<Range>& entries = tree_[level];
    while (a < e && !whole(r)) {
        if (level + 1 < tree_.size() && a % kFanOut == 0 && a + kFanOut <= e) {
            // The whole groups in the middle from the level above, then the rest here.
            const std::size_t groups = e / kFanOut;
            foldEntries(level + 1, a / kFanOut, groups, r);
            a = groups * kFanOut;
            continue;
        }
        r.lo = std::min(r.lo, entries[a].lo);
        r.hi = std::max(r.hi, entries[a].hi);
        ++a;
    }
}

void TraceSummary::minMax(const ChannelTrace&, Position from, Position to, std::uint8_t& loOut,
                          std::uint8_t& hiOut) const {
    Range r{loOut, hiOut};
    const std::size_t n = entries_.size();
    if (from.block >= n) {
        return;
    }
    if (from.block == to.block) {
        foldPoints(from.block, from.point, to.point, r);
    } else {
        foldPoints(from.block, from.point, entries_[from.block].count, r);
        if (!whole(r)) {
            foldEntries(0, from.block + 1, std::min(to.block, n), r);
        }
        if (to.block < n && !whole(r)) {
            foldPoints(to.block, 0, to.point, r);
        }
    }
    loOut = r.lo;
    hiOut = r.hi;
}

}  // namespace osc
