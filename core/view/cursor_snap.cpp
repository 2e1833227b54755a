#include "core/view/cursor_snap.h"

#include <algorithm>
#include <cmath>

namespace osc {

std::optional<double> snapCursor(const ChannelTrace& trace, double windowMin, double windowMax,
                                 double mx) {
    const std::size_t count = trace.count();
    const std::size_t f = trace.lowerBound(windowMin);  // the first visible index
    if (f == count) {
        return kNoCursor;
    }
    // The scan from f stops at the first point with X - mx >= 0, or after the last visible
    // point l. X ascends, so that test is monotone (for every mx but NaN, where it never
    // holds): the scan's stop is the test's partition point over the whole trace, clamped into
    // f .. l + 1. For a number mx, X - mx >= 0 exactly when X >= mx.
    std::size_t i = std::isnan(mx) ? count : trace.lowerBound(mx);
    if (i <= f) {
        i = f;
    } else if (!(i < count &&
                 static_cast<double>(trace.x(static_cast<std::ptrdiff_t>(i) - 1)) < windowMax)) {
        // The stop may lie past the last visible point: l is needed only now.
        const std::size_t maxBound = trace.lowerBound(windowMax);
        const std::size_t l = maxBound == count ? count - 1 : maxBound;
        i = std::min(i, std::max(f, l + 1));
    }
    if (i == 0) {
        return std::nullopt;
    }
    return static_cast<double>(trace.x(static_cast<std::ptrdiff_t>(i) - 1));
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
