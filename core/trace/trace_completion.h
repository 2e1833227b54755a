#pragma once
// Trace completion after a capture: every gap longer than one bit period gets points at the
// level in force, 256 ticks apart, measured inward from both ends of the gap, alternating
// from the left and the right end (left while the rest is longer than 256, right while it is
// longer than 512). The points of one gap are GapCompletion (core/trace/channel_trace.h).

#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/trace/channel_trace.h"

namespace osc {

// Completes the trace: the same points in the same order, and the same progress steps, as the
// pass-by-pass procedure (one for each pass whose gap has a right-hand point at an index that
// is a multiple of 100). Costs O(1) for a trace grown in order since its last completion: the
// points are derived, not stored. The trace is hidden while it is being completed;
// progressStep, when given, runs once a step meanwhile. Returns the number of steps (callers
// that advance a progress bar by a count pass no callback).
std::size_t CompleteTrace(ChannelTrace& trace, const std::function<void()>& progressStep = {});

}  // namespace osc
