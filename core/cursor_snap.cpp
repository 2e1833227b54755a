#include "core/cursor_snap.h"

#include <algorithm>
#include <cmath>

namespace osc {

std::optional<double> snapCursor(const ChannelTrace& trace, double windowMin, double windowMax,
                                 double mx) {
    const std::ptrdiff_t f = trace.firstVisible(windowMin);
    if (f < 0) {
        return kNoCursor;
    }
    const std::ptrdiff_t l = trace.lastVisible(windowMin, windowMax);
    const std::span<const Tick> xs = trace.xs();
    // The scan stops at the first point with X - mx >= 0. X ascends, so that test is monotone
    // (for every mx but NaN, where it never holds) and a partition point finds the same stop.
    const auto begin = xs.begin() + f;
    const auto end = xs.begin() + (l >= f ? l + 1 : f);
    const auto stop = std::partition_point(
        begin, end, [mx](Tick x) { return !(static_cast<double>(x) - mx >= 0); });
    const std::ptrdiff_t i = stop - xs.begin();  // l + 1 when the scan passes l
    if (i == 0) {
        return std::nullopt;
    }
    return static_cast<double>(xs[static_cast<std::size_t>(i - 1)]);
}

double roundHalfEven(double v) {
    if (!std::isfinite(v)) {
        return v;
    }
    const double lower = std::floor(v);
    const double diff = v - lower;
    if (diff < 0.5) {
        return lower;
    }
    if (diff > 0.5) {
        return lower + 1;
    }
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

std::optional<double> cursorForMouse(const ChannelTraces& traces, int channel, bool ctrl,
                                     double windowMin, double windowMax, double mx) {
    if (ctrl || channel < 0 || channel >= kChannelCount) {
        return roundHalfEven(mx);
    }
    return snapCursor(traces[static_cast<std::size_t>(channel)], windowMin, windowMax, mx);
}

}  // namespace osc
