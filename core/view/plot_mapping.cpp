#include "core/view/plot_mapping.h"

#include <cmath>

namespace osc {

namespace {
constexpr double kBottomIncrement = 2560;  // ticks between bottom-axis labels (10 bits)
}

double PlotMapping::tickAt(double pixelX) const {
    return windowMin + (pixelX - left) * (windowMax - windowMin) / columns;
}

double PlotMapping::levelAt(double pixelY) const {
    return levelMax - (pixelY - top) * (levelMax - levelMin) / height;
}

double PlotMapping::pixelForTick(double ticks) const {
    const double span = windowMax - windowMin;
    return span > 0 ? left + (ticks - windowMin) * columns / span : left;
}

double PlotMapping::pixelForLevel(double level) const {
    return top + (levelMax - level) * height / (levelMax - levelMin);
}

std::optional<AxisRange> zoomWindowToPixels(const PlotMapping& m, double left, double width) {
    if (!(width > 0)) {
        return std::nullopt;
    }
    const double a = m.tickAt(left);
    const double b = m.tickAt(left + width);
    if (!(b > a)) {
        return std::nullopt;
    }
    return AxisRange{a, b};
}

std::optional<AxisRange> zoomLevelsToPixels(const PlotMapping& m, double top, double height) {
    const double upper = m.levelAt(top);
    const double lower = m.levelAt(top + height);
    if (!(upper > lower)) {
        return std::nullopt;
    }
    return AxisRange{lower, upper};
}

std::optional<AxisRange> zoomWindowAbout(const AxisRange& window, double tick, double factor) {
    if (!(factor > 0)) {
        return std::nullopt;
    }
    const double newMin = tick - (tick - window.minimum) * factor;
    const double newMax = tick + (window.maximum - tick) * factor;
    const double width = newMax - newMin;
    if (!(width >= 1) || width > 1e15 || !std::isfinite(newMin)) {
        return std::nullopt;
    }
    return AxisRange{newMin, newMax};
}

double panOffsetForPixels(const PlotMapping& m, double dx) {
    return -dx * (m.windowMax - m.windowMin) / m.columns;
}

double bottomLabelStep(const PlotMapping& m, double spacing) {
    const double span = m.windowMax - m.windowMin;
    if (!(span > 0) || !std::isfinite(span)) {
        return kBottomIncrement;
    }
    const double pixelsPerTick = m.columns / span;
    double decade = 1;
    for (int guard = 0; guard < 40; ++guard, decade *= 10) {
        for (const double mult : {1.0, 2.0, 5.0}) {
            const double step = kBottomIncrement * mult * decade;
            if (step * pixelsPerTick >= spacing) {
                return step;
            }
        }
    }
    return kBottomIncrement * decade;
}

}  // namespace osc
