#include "core/view/plot_navigation.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace osc {

std::optional<AxisRange> captureExtent(const ChannelTraces& traces) {
    std::optional<AxisRange> extent;
    for (const ChannelTrace& trace : traces) {
        if (trace.empty()) {
            continue;
        }
        const auto first = static_cast<double>(trace.x(0));
        const auto last = static_cast<double>(trace.lastX());
        if (!extent) {
            extent = AxisRange{first, last};
        } else {
            extent->minimum = std::min(extent->minimum, first);
            extent->maximum = std::max(extent->maximum, last);
        }
    }
    if (!extent || !(extent->maximum > extent->minimum)) {
        return std::nullopt;
    }
    return extent;
}

std::optional<AxisRange> zoomWindowStep(const AxisRange& window, double factor) {
    return zoomWindowAbout(window, window.minimum + (window.maximum - window.minimum) / 2, factor);
}

AxisRange panWindow(const AxisRange& window, double fractionOfWidth) {
    const double offset = (window.maximum - window.minimum) * fractionOfWidth;
    return {window.minimum + offset, window.maximum + offset};
}

AxisRange windowCentredAt(const AxisRange& window, double tick) {
    const double width = window.maximum - window.minimum;
    double minimum = tick - width / 2;
    if (minimum < 0 && window.minimum >= 0) {
        minimum = 0;
    }
    return {minimum, minimum + width};
}

int windowBitsOf(const AxisRange& window) {
    const double bits = (window.maximum - window.minimum) / static_cast<double>(kTicksPerBit);
    if (!(bits > 0)) {
        return 0;
    }
    if (bits >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    return std::max(1, static_cast<int>(std::lround(bits)));
}

std::int64_t bitAt(double ticks) {
    const double bits = std::trunc(ticks / static_cast<double>(kTicksPerBit));
    if (!(bits > -9.2e18)) {
        return INT64_MIN;
    }
    if (!(bits < 9.2e18)) {
        return INT64_MAX;
    }
    return static_cast<std::int64_t>(bits);
}

}  // namespace osc
