#include "ui/StairRenderer.h"

#include <algorithm>
#include <cmath>

namespace ui {

void TraceSummary::update(const osc::ChannelTrace& trace) {
    const std::span<const osc::Tick> xs = trace.xs();
    const std::span<const std::uint8_t> ys = trace.ys();
    if (valid_ && trace.revision() == revision_ && xs.size() == count_) {
        return;
    }
    // Looks like an append when the old last point and the first point are where they were.
    const bool appended = valid_ && count_ > 0 && xs.size() >= count_ && xs[0] == firstX_ &&
                          xs[count_ - 1] == lastX_ && ys[count_ - 1] == lastY_;
    if (appended) {
        rebuildFrom(xs, ys, (count_ - 1) / kBlock);
    } else {
        ++fullRebuilds_;
        rebuildFrom(xs, ys, 0);
    }
    valid_ = true;
    revision_ = trace.revision();
    count_ = xs.size();
    if (count_ > 0) {
        firstX_ = xs[0];
        lastX_ = xs[count_ - 1];
        lastY_ = ys[count_ - 1];
    }
}

void TraceSummary::rebuildFrom(std::span<const osc::Tick> xs, std::span<const std::uint8_t> ys,
                               std::size_t firstBlock) {
    const std::size_t n = ys.size();
    const std::size_t blocks = (n + kBlock - 1) / kBlock;
    blockX_.resize(blocks);
    blockMin_.resize(blocks);
    blockMax_.resize(blocks);
    for (std::size_t b = firstBlock; b < blocks; ++b) {
        const std::size_t begin = b * kBlock;
        blockX_[b] = xs[begin];
        const std::size_t end = std::min(n, begin + kBlock);
        std::uint8_t lo = 255, hi = 0;
        for (std::size_t i = begin; i < end; ++i) {
            lo = std::min(lo, ys[i]);
            hi = std::max(hi, ys[i]);
        }
        blockMin_[b] = lo;
        blockMax_[b] = hi;
    }
    constexpr std::size_t per = kSuperBlock / kBlock;
    const std::size_t supers = (blocks + per - 1) / per;
    superMin_.resize(supers);
    superMax_.resize(supers);
    for (std::size_t s = firstBlock / per; s < supers; ++s) {
        std::uint8_t lo = 255, hi = 0;
        for (std::size_t b = s * per; b < std::min(blocks, (s + 1) * per); ++b) {
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

std::size_t TraceSummary::lowerBound(std::span<const osc::Tick> xs, std::size_t from, double key,
                                     std::size_t hint) const {
    const std::size_t n = xs.size();
    const std::size_t blocks = blockX_.size();
    if (from >= n) {
        return n;
    }
    if (blocks != (n + kBlock - 1) / kBlock) {  // not summarised: plain search
        return static_cast<std::size_t>(
            std::lower_bound(xs.begin() + static_cast<std::ptrdiff_t>(from), xs.end(), key) -
            xs.begin());
    }
    const std::size_t b = from / kBlock;
    if (static_cast<double>(blockX_[b]) >= key) {
        return from;  // xs[from] >= xs of its block's first point >= key
    }
    // Gallop over the blocks' first X from the guessed block: afterwards blockX_[lo] < key and
    // the first block at or past key lies in (lo, hi] (hi == blocks: none).
    std::size_t lo = b, hi = b + 1;
    const std::size_t guess = std::clamp(hint / kBlock, b, blocks - 1);
    if (guess > b && static_cast<double>(blockX_[guess]) >= key) {
        hi = guess;  // gallop backwards
        std::size_t step = 1;
        for (;;) {
            const std::size_t probe = hi > b + step ? hi - step : b;
            if (static_cast<double>(blockX_[probe]) < key) {
                lo = probe;
                break;
            }
            hi = probe;
            step *= 2;
        }
    } else {
        const std::size_t start = guess;  // blockX_[start] < key
        lo = start;
        hi = start + 1;
        std::size_t step = 1;
        while (hi < blocks && static_cast<double>(blockX_[hi]) < key) {
            lo = hi;
            step *= 2;
            hi = start + step;
        }
        hi = std::min(hi, blocks);
    }
    const auto first = static_cast<std::size_t>(
        std::lower_bound(blockX_.begin() + static_cast<std::ptrdiff_t>(lo + 1),
                         blockX_.begin() + static_cast<std::ptrdiff_t>(hi), key) -
        blockX_.begin());
    // The answer lies in block first - 1, or at the start of block first.
    const std::size_t start = std::max(from, (first - 1) * kBlock);
    const std::size_t end = std::min(n, first * kBlock);
    return static_cast<std::size_t>(
        std::lower_bound(xs.begin() + static_cast<std::ptrdiff_t>(start),
                         xs.begin() + static_cast<std::ptrdiff_t>(end), key) -
        xs.begin());
}

void TraceSummary::minMax(std::span<const std::uint8_t> ys, std::size_t i, std::size_t end,
                          std::uint8_t& loOut, std::uint8_t& hiOut) const {
    end = std::min(end, ys.size());
    std::uint8_t lo = loOut, hi = hiOut;
    auto scan = [&](std::size_t upto) {
        for (; i < upto; ++i) {
            lo = std::min(lo, ys[i]);
            hi = std::max(hi, ys[i]);
        }
    };
    const bool summarised = (end + kBlock - 1) / kBlock <= blockMin_.size();
    if (!summarised) {
        scan(end);
    } else {
        // Once both extremes of the whole trace are seen, nothing more can widen the range
        // (a channel trace has only two levels, so this usually ends the walk early).
        auto complete = [&] { return lo <= allMin_ && hi >= allMax_; };
        scan(std::min(end, (i + kBlock - 1) / kBlock * kBlock));
        while (i + kBlock <= end && !complete()) {
            if (i % kSuperBlock == 0 && i + kSuperBlock <= end) {
                lo = std::min(lo, superMin_[i / kSuperBlock]);
                hi = std::max(hi, superMax_[i / kSuperBlock]);
                i += kSuperBlock;
            } else {
                lo = std::min(lo, blockMin_[i / kBlock]);
                hi = std::max(hi, blockMax_[i / kBlock]);
                i += kBlock;
            }
        }
        if (!complete()) {
            scan(end);
        }
    }
    loOut = lo;
    hiOut = hi;
}

void buildStairPolyline(const osc::ChannelTrace& trace, const TraceSummary& summary,
                        const StairMapping& map, QVector<QPointF>& out) {
    out.clear();
    const std::span<const osc::Tick> xs = trace.xs();
    const std::span<const std::uint8_t> ys = trace.ys();
    const std::size_t n = xs.size();
    const double span = map.windowMax - map.windowMin;
    if (n == 0 || map.columns <= 0 || !(span > 0) || !std::isfinite(span) ||
        !(map.levelMax > map.levelMin)) {
        return;
    }
    const double tpp = span / map.columns;  // ticks per pixel column
    std::size_t i = trace.lowerBound(map.windowMin);
    std::size_t lastCount = 1;  // points in the previous column: the guess for the next
    bool known = i > 0;
    std::uint8_t level = known ? ys[i - 1] : 0;
    if (known) {
        out.append(QPointF(map.left, map.pixelY(level)));
    }
    while (i < n) {
        const double offset = (static_cast<double>(xs[i]) - map.windowMin) / tpp;
        const double column = std::floor(offset);
        if (column >= map.columns) {
            break;
        }
        const double columnEnd = map.windowMin + (column + 1) * tpp;
        const std::size_t j = std::max(summary.lowerBound(xs, i, columnEnd, i + lastCount), i + 1);
        lastCount = j - i;
        if (j - i == 1) {
            const double px = map.left + offset;
            if (known) {
                out.append(QPointF(px, map.pixelY(level)));
            }
            level = ys[i];
            out.append(QPointF(px, map.pixelY(level)));
        } else {
            const double px = map.left + offset;  // the column's first point
            std::uint8_t lo = known ? level : 255, hi = known ? level : 0;
            summary.minMax(ys, i, j, lo, hi);
            if (known) {
                out.append(QPointF(px, map.pixelY(level)));
            }
            out.append(QPointF(px, map.pixelY(lo)));
            out.append(QPointF(px, map.pixelY(hi)));
            level = ys[j - 1];
            out.append(QPointF(px, map.pixelY(level)));
        }
        known = true;
        i = j;
    }
    if (i < n && known) {
        out.append(QPointF(map.left + map.columns, map.pixelY(level)));
    }
}

}  // namespace ui
