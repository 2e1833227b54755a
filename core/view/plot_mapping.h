#pragma once
// The plot's arithmetic between pixels and axis values: the plotting rectangle against the
// window (ticks) and the left axis (levels), and the window that a mouse zoom or pan gives.
// The widget only measures its rectangle and hands the pixel positions in.

#include <optional>

namespace osc {

struct PlotMapping {
    double windowMin = 0;  // ticks at the left edge of the plotting rectangle
    double windowMax = 1;  // ticks at its right edge (exclusive)
    double left = 0;       // pixel X of the left edge
    double columns = 1;    // width in pixels
    double levelMin = 0;   // left-axis value at the bottom edge
    double levelMax = 9;   // left-axis value at the top edge
    double top = 0;        // pixel Y of the top edge
    double height = 1;     // height in pixels

    // Axis values at a pixel position (any position, also outside the rectangle).
    double tickAt(double pixelX) const;
    double levelAt(double pixelY) const;
    // Pixel positions of axis values; an empty or reversed window maps every tick to the left
    // edge.
    double pixelForTick(double ticks) const;
    double pixelForLevel(double level) const;
};

struct AxisRange {
    double minimum = 0;
    double maximum = 0;
    bool operator==(const AxisRange&) const = default;
};

// A rectangle dragged from pixel left to left + width: the ticks at its two edges, or nullopt
// when it gives no proper range (no width, or the edges map onto the same tick).
std::optional<AxisRange> zoomWindowToPixels(const PlotMapping& m, double left, double width);
// The left-axis range of a rectangle from pixel top to top + height, or nullopt when it gives
// no proper range (the left axis then keeps its range).
std::optional<AxisRange> zoomLevelsToPixels(const PlotMapping& m, double top, double height);
// The window after a wheel step about the tick under the pointer: each edge keeps its
// distance to that tick times factor, so the tick stays under the pointer. nullopt (the window
// stays) for a factor that is not positive, a result narrower than one tick, wider than 1e15
// ticks or not finite.
std::optional<AxisRange> zoomWindowAbout(const AxisRange& window, double tick, double factor);
// The shift of the window when the mouse drags the plot by dx pixels to the right: the
// content follows the mouse, so the window moves left.
double panOffsetForPixels(const PlotMapping& m, double dx);

// Ticks between two bottom-axis labels: 2560 (10 bits), or the smallest multiple of it by 1,
// 2 or 5 times a power of ten that leaves at least spacing pixels between labels.
double bottomLabelStep(const PlotMapping& m, double spacing);

}  // namespace osc
