#pragma once
// The completion as a procedure of passes (quadratic): each pass scans from the first pair,
// fills the first gap longer than 256 with one or two points and starts again. The reference
// that CompleteTrace is checked against in tests, fuzz targets and benchmarks, on a plain
// stored trace or on a ChannelTrace.

#include <cstddef>
#include <functional>

#include "core/trace/channel_trace.h"
#include "tests/oracles/reference_trace.h"

namespace osc {

std::size_t CompleteTraceByPasses(ReferenceTrace& trace,
                                  const std::function<void()>& progressStep = {});
std::size_t CompleteTraceByPasses(ChannelTrace& trace,
                                  const std::function<void()>& progressStep = {});

}  // namespace osc
