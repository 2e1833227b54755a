#pragma once
// Trace completion after a capture: every gap longer than one bit period gets points at the
// level in force, 256 ticks apart, measured inward from both ends of the gap, alternating
// from the left and the right end (left while the rest is longer than 256, right while it is
// longer than 512).

#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/channel_trace.h"

namespace osc {

// The points the completion adds to one gap between neighbouring points at x0 and x1: `left`
// points x0 + 256, x0 + 512, ... and `right` points ..., x1 - 512, x1 - 256, all at the level
// of the point at x0. A gap of 256 or less (or a broken order) gets none.
struct GapCompletion {
    Tick x0 = 0, x1 = 0;
    std::uint64_t left = 0, right = 0;

    std::uint64_t count() const { return left + right; }
    // The k-th added point's X (0 <= k < count()), in trace order.
    Tick at(std::uint64_t k) const;
};
GapCompletion completionOf(Tick x0, Tick x1);

// Completes the trace in one linear pass. Yields the same points in the same order, and calls
// progressStep at the same moments, as the pass-by-pass procedure: once for each pass whose
// gap has a right-hand point at an index that is a multiple of 100. The trace is hidden while
// it is being completed. Returns the number of progress steps.
std::size_t CompleteTrace(ChannelTrace& trace, const std::function<void()>& progressStep = {});

// The pass-by-pass procedure itself (quadratic): each pass scans from the first pair, fills
// the first gap longer than 256 with one or two points and starts again. Kept as the
// reference for tests and benchmarks.
std::size_t CompleteTraceByPasses(ChannelTrace& trace,
                                  const std::function<void()>& progressStep = {});

}  // namespace osc
