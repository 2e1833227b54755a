#pragma once
// Moving the plot's window from the keyboard, the tool bar and the overview strip: the whole
// capture, a zoom step about the middle, a pan step, a page, a chosen bit, a click on the
// overview; and the bit count that a window shows in "Бит в окне". Plain arithmetic on
// windows in ticks; the widgets only say which.

#include <cstdint>
#include <optional>

#include "core/protocol/sample_decoder.h"
#include "core/view/plot_mapping.h"

namespace osc {

// From the first point of any channel trace to the last one of any; nullopt while every trace
// is empty or all their points share one X.
std::optional<AxisRange> captureExtent(const ChannelTraces& traces);

// A zoom step about the window's middle: factor < 1 zooms in (see zoomWindowAbout).
std::optional<AxisRange> zoomWindowStep(const AxisRange& window, double factor);
// The window moved by a fraction of its width (negative: to the left), width kept.
AxisRange panWindow(const AxisRange& window, double fractionOfWidth);
// The window of the same width with tick in its middle, but not starting left of 0 unless it
// did already (bit 0 then stands at the left edge).
AxisRange windowCentredAt(const AxisRange& window, double tick);

// The number shown as "Бит в окне" for a window: its width in bits, rounded to the nearest
// whole number; 1 for any positive width below one bit; 0 for no width; clamped to the int
// range.
int windowBitsOf(const AxisRange& window);

// The bit under a position, as the position texts count: ticks / 256, truncated toward zero.
std::int64_t bitAt(double ticks);

}  // namespace osc
