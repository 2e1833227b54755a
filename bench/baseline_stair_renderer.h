#pragma once
// The stair renderer as it was while traces stored every point in two arrays (X, level),
// kept here only as the baseline that bench_ui_paint measures the present renderer against.
// A summary of the minimum and maximum level per block of 64 and of 1024 points, and per
// pixel column at most four vertices.

#include <QPointF>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "core/trace/channels.h"
#include "ui/plot/StairRenderer.h"

namespace baseline {

class TraceSummary {
  public:
    static constexpr std::size_t kBlock = 64;
    static constexpr std::size_t kSuperBlock = 1024;

    void build(std::span<const osc::Tick> xs, std::span<const std::uint8_t> ys) {
        const std::size_t n = ys.size();
        const std::size_t blocks = (n + kBlock - 1) / kBlock;
        blockX_.resize(blocks);
        blockMin_.resize(blocks);
        blockMax_.resize(blocks);
        for (std::size_t b = 0; b < blocks; ++b) {
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
        superMin_.assign(supers, 255);
        superMax_.assign(supers, 0);
        allMin_ = 255;
        allMax_ = 0;
        for (std::size_t b = 0; b < blocks; ++b) {
            superMin_[b / per] = std::min(superMin_[b / per], blockMin_[b]);
            superMax_[b / per] = std::max(superMax_[b / per], blockMax_[b]);
            allMin_ = std::min(allMin_, blockMin_[b]);
            allMax_ = std::max(allMax_, blockMax_[b]);
        }
    }

    void minMax(std::span<const std::uint8_t> ys, std::size_t i, std::size_t end,
                std::uint8_t& loOut, std::uint8_t& hiOut) const {
        end = std::min(end, ys.size());
        std::uint8_t lo = loOut, hi = hiOut;
        auto scan = [&](std::size_t upto) {
            for (; i < upto; ++i) {
                lo = std::min(lo, ys[i]);
                hi = std::max(hi, ys[i]);
            }
        };
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
        loOut = lo;
        hiOut = hi;
    }

    std::size_t lowerBound(std::span<const osc::Tick> xs, std::size_t from, double key,
                           std::size_t hint) const {
        const std::size_t n = xs.size();
        const std::size_t blocks = blockX_.size();
        if (from >= n) {
            return n;
        }
        const std::size_t b = from / kBlock;
        if (static_cast<double>(blockX_[b]) >= key) {
            return from;
        }
        std::size_t lo = b, hi = b + 1;
        const std::size_t guess = std::clamp(hint / kBlock, b, blocks - 1);
        if (guess > b && static_cast<double>(blockX_[guess]) >= key) {
            hi = guess;
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
            const std::size_t start = guess;
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
        const std::size_t start = std::max(from, (first - 1) * kBlock);
        const std::size_t end = std::min(n, first * kBlock);
        return static_cast<std::size_t>(
            std::lower_bound(xs.begin() + static_cast<std::ptrdiff_t>(start),
                             xs.begin() + static_cast<std::ptrdiff_t>(end), key) -
            xs.begin());
    }

  private:
    std::vector<osc::Tick> blockX_;
    std::vector<std::uint8_t> blockMin_, blockMax_, superMin_, superMax_;
    std::uint8_t allMin_ = 255, allMax_ = 0;
};

inline void buildStairPolyline(std::span<const osc::Tick> xs, std::span<const std::uint8_t> ys,
                               const TraceSummary& summary, const ui::StairMapping& map,
                               QVector<QPointF>& out) {
    out.clear();
    const std::size_t n = xs.size();
    const double span = map.windowMax - map.windowMin;
    if (n == 0 || map.columns <= 0 || !(span > 0)) {
        return;
    }
    const double tpp = span / map.columns;
    std::size_t i = static_cast<std::size_t>(
        std::lower_bound(xs.begin(), xs.end(), map.windowMin,
                         [](osc::Tick a, double b) { return static_cast<double>(a) < b; }) -
        xs.begin());
    std::size_t lastCount = 1;
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
        const double px = map.left + offset;
        if (j - i == 1) {
            if (known) {
                out.append(QPointF(px, map.pixelY(level)));
            }
            level = ys[i];
            out.append(QPointF(px, map.pixelY(level)));
        } else {
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

}  // namespace baseline
