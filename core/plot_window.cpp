#include "core/plot_window.h"

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
    s.maximum = truncToInt64(window.maximum());
    const std::int64_t pos = truncToInt64(window.minimum());
    s.position = std::clamp(pos, s.minimum, std::max(s.minimum, s.maximum));
    return s;
}

void applyWindowBits(PlotWindow& window, double bits) {
    const std::int64_t n = truncToInt64(bits);
    const double min = window.minimum();
    window.setMinMax(min, min + static_cast<double>(n * kTicksPerBit));
}

void applyScrollPosition(PlotWindow& window, std::int64_t position) {
    const std::int64_t width = truncToInt64(window.maximum() - window.minimum());
    const double p = static_cast<double>(position);
    window.setMinMax(p, p + static_cast<double>(width));
}

void startWindow(PlotWindow& window, double bits) {
    const std::int64_t n = truncToInt64(bits);
    window.setMinimum(0);
    window.setMaximum(static_cast<double>(n * kTicksPerBit));
}

}  // namespace osc
