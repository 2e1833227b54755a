#include "core/view/plot_window.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace osc {

void PlotWindow::setMinMax(double a, double b) {
    min_ = std::min(a, b);
    max_ = std::max(a, b);
}

void PlotWindow::setMinimum(double v) {
    if (v > max_) {
        throw std::invalid_argument("Axis minimum value must be <= maximum");
    }
    min_ = v;
}

void PlotWindow::setMaximum(double v) {
    if (v < min_) {
        throw std::invalid_argument("Axis maximum value must be >= minimum");
    }
    max_ = v;
}

void PlotWindow::shift(double offset) {
    min_ += offset;
    max_ += offset;
}

bool followTimeBase(PlotWindow& window, Tick timeBase, double largestX) {
    const double tb = static_cast<double>(timeBase);
    if (tb > window.maximum() && largestX > window.maximum()) {
        window.shift(tb - window.maximum());
        return true;
    }
    return false;
}

static std::int64_t truncToInt64(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    constexpr double kLimit = 9.2e18;
    return static_cast<std::int64_t>(std::clamp(std::trunc(v), -kLimit, kLimit));
}

ScrollBarState scrollBarFor(const PlotWindow& window) {
    ScrollBarState s;
    s.minimum = 0;
    // A window that ends left of 0 gives an empty range rather than a maximum below the minimum.
    s.maximum = std::max(s.minimum, truncToInt64(window.maximum()));
    s.position = std::clamp(truncToInt64(window.minimum()), s.minimum, s.maximum);
    return s;
}

// trunc(bits) * 256, computed in doubles so that no bit count can overflow it.
static double widthForBits(double bits) {
    return static_cast<double>(truncToInt64(bits)) * static_cast<double>(kTicksPerBit);
}

void applyWindowBits(PlotWindow& window, double bits) {
    const double min = window.minimum();
    window.setMinMax(min, min + widthForBits(bits));
}

void applyScrollPosition(PlotWindow& window, std::int64_t position) {
    const std::int64_t width = truncToInt64(window.maximum() - window.minimum());
    const double p = static_cast<double>(position);
    window.setMinMax(p, p + static_cast<double>(width));
}

void startWindow(PlotWindow& window, double bits) {
    window.setMinimum(0);
    window.setMaximum(widthForBits(bits));
}

}  // namespace osc
