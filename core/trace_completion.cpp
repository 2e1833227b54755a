#include "core/trace_completion.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace osc {

namespace {

// How one gap is filled. Each pass adds a left point while the rest of the gap is longer than
// 256 and a right point while it is longer than 512, so a pass removes 512 ticks from the rest
// until at most 768 remain, and the last pass adds one or two points.
struct GapFill {
    std::uint64_t passes = 0;  // = the number of left points
    std::uint64_t right = 0;   // the number of right points
};

constexpr std::uint64_t kBit = static_cast<std::uint64_t>(kTicksPerBit);

GapFill fillOf(std::uint64_t d) {
    GapFill g;
    if (d <= kBit) {
        return g;
    }
    g.passes = (d - kBit + 2 * kBit - 1) / (2 * kBit);
    const std::uint64_t lastRest = d - 2 * kBit * (g.passes - 1);  // in (256, 768]
    g.right = lastRest > 2 * kBit ? g.passes : g.passes - 1;
    return g;
}

// Distance between two neighbouring points; 0 when the order is broken (such a pair is never
// filled, as d <= 256 would not be either). Unsigned, so no X range can overflow it.
std::uint64_t gapOf(Tick x0, Tick x1) {
    if (x1 <= x0) {
        return 0;
    }
    return static_cast<std::uint64_t>(x1) - static_cast<std::uint64_t>(x0);
}

// Multiples of 100 among the right-hand indices first .. first + passes - 1 (first >= 1).
std::uint64_t progressSteps(std::uint64_t first, std::uint64_t passes) {
    if (passes == 0) {
        return 0;
    }
    const std::uint64_t last = first + passes - 1;
    return last / 100 - (first - 1) / 100;
}

class HiddenWhile {
  public:
    explicit HiddenWhile(ChannelTrace& trace) : trace_(trace) { trace_.setHidden(true); }
    ~HiddenWhile() { trace_.setHidden(false); }
    HiddenWhile(const HiddenWhile&) = delete;
    HiddenWhile& operator=(const HiddenWhile&) = delete;

  private:
    ChannelTrace& trace_;
};

}  // namespace

GapCompletion completionOf(Tick x0, Tick x1) {
    const GapFill g = fillOf(gapOf(x0, x1));
    return {x0, x1, g.passes, g.right};
}

Tick GapCompletion::at(std::uint64_t k) const {
    if (k < left) {
        return static_cast<Tick>(static_cast<std::uint64_t>(x0) + (k + 1) * kBit);
    }
    return static_cast<Tick>(static_cast<std::uint64_t>(x1) - (right - (k - left)) * kBit);
}

std::size_t CompleteTraceByPasses(ChannelTrace& trace, const std::function<void()>& progressStep) {
    HiddenWhile hidden(trace);
    std::size_t steps = 0;
    bool again = true;
    while (again) {
        again = false;
        const std::size_t n = trace.count();
        for (std::size_t i = 1; i < n; ++i) {
            const Tick x0 = trace.xs()[i - 1];
            const Tick x1 = trace.xs()[i];
            const std::uint8_t y0 = trace.ys()[i - 1];
            const std::uint64_t d = gapOf(x0, x1);
            if (d <= kBit) {
                continue;
            }
            trace.add(x0 + kTicksPerBit, y0);
            if (d > 2 * kBit) {
                trace.add(x1 - kTicksPerBit, y0);
            }
            if (i % 100 == 0) {
                ++steps;
                if (progressStep) {
                    progressStep();
                }
            }
            again = true;
            break;
        }
    }
    return steps;
}

std::size_t CompleteTrace(ChannelTrace& trace, const std::function<void()>& progressStep) {
    HiddenWhile hidden(trace);
    const std::span<const Tick> xs = trace.xs();
    const std::span<const std::uint8_t> ys = trace.ys();
    const std::size_t n = xs.size();
    if (n <= 1) {
        return 0;
    }

    // Count first, so that the new arrays are allocated once and exactly.
    // Far more than any memory holds (2^36 points, 576 GiB); refused before allocating.
    constexpr std::uint64_t kMaxPoints = std::uint64_t{1} << 36;
    std::uint64_t total = n;
    for (std::size_t i = 1; i < n; ++i) {
        const GapFill g = fillOf(gapOf(xs[i - 1], xs[i]));
        const std::uint64_t added = g.passes + g.right;
        if (added > kMaxPoints || total + added > kMaxPoints) {
            throw std::length_error("CompleteTrace: the trace would have too many points");
        }
        total += added;
    }
    if (total == n) {
        return 0;
    }
    std::vector<Tick> outX;
    std::vector<std::uint8_t> outY;
    outX.reserve(static_cast<std::size_t>(total));
    outY.reserve(static_cast<std::size_t>(total));

    // The passes fill the gaps from left to right. The k-th pass on a gap (k from 0) sees the
    // gap's right-hand point at the index of the number of points in front of it: the points
    // already written plus the k left points added before.
    std::uint64_t steps = 0;
    outX.push_back(xs[0]);
    outY.push_back(ys[0]);
    for (std::size_t i = 1; i < n; ++i) {
        const Tick x0 = xs[i - 1];
        const Tick x1 = xs[i];
        const std::uint8_t y0 = ys[i - 1];
        const GapFill g = fillOf(gapOf(x0, x1));
        if (g.passes != 0) {
            steps += progressSteps(outX.size(), g.passes);
            for (std::uint64_t k = 1; k <= g.passes; ++k) {
                outX.push_back(static_cast<Tick>(static_cast<std::uint64_t>(x0) + k * kBit));
                outY.push_back(y0);
            }
            for (std::uint64_t k = g.right; k >= 1; --k) {
                outX.push_back(static_cast<Tick>(static_cast<std::uint64_t>(x1) - k * kBit));
                outY.push_back(y0);
            }
        }
        outX.push_back(x1);
        outY.push_back(ys[i]);
    }
    trace.assign(std::move(outX), std::move(outY));
    if (progressStep) {
        for (std::uint64_t s = 0; s < steps; ++s) {
            progressStep();
        }
    }
    return static_cast<std::size_t>(steps);
}

}  // namespace osc
