#pragma once
// The visible window of the plot (the bottom axis's minimum and maximum, in ticks) and the
// rules that move it: following the time base, the bit count, the scroll bar.

#include <cstdint>

#include "core/trace/channels.h"

namespace osc {

class PlotWindow {
  public:
    double minimum() const { return min_; }
    double maximum() const { return max_; }

    // Sets both bounds; the smaller value becomes the minimum.
    void setMinMax(double a, double b);
    // Throw std::invalid_argument when the minimum would exceed the maximum, or the
    // maximum fall below the minimum.
    void setMinimum(double v);
    void setMaximum(double v);
    void shift(double offset);

    bool operator==(const PlotWindow&) const = default;

  private:
    double min_ = 0;
    double max_ = 25600;  // 100 bits
};

// After a sample datagram: when the time base has passed the window's maximum and some point of
// the plot lies right of it, shift the window so that its maximum is the time base.
// Returns whether the window moved.
bool followTimeBase(PlotWindow& window, Tick timeBase, double largestX);

// The scroll bar after a sample datagram: range 0 to the maximum, position the minimum, both
// truncated toward zero; the position is clamped into the range. A window that ends left of 0
// gives the empty range 0 to 0.
struct ScrollBarState {
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::int64_t position = 0;
};
ScrollBarState scrollBarFor(const PlotWindow& window);

// A change of the bit count: the left edge stays, the width becomes trunc(bits) * 256.
void applyWindowBits(PlotWindow& window, double bits);
// A change of the scroll bar's position p: the window starts at p and keeps its whole width.
void applyScrollPosition(PlotWindow& window, std::int64_t position);
// The start of a capture: the minimum 0 first, then the maximum trunc(bits) * 256; throws
// std::invalid_argument (window unchanged past the failing step) for a negative width.
void startWindow(PlotWindow& window, double bits);

}  // namespace osc
