#include "tests/oracles/reference_trace.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace osc {

void ReferenceTrace::add(Tick x, std::uint8_t y) {
    const auto pos = std::upper_bound(points_.begin(), points_.end(), x,
                                      [](Tick v, const TracePoint& p) { return v < p.x; });
    points_.insert(pos, TracePoint{x, y});
}

void ReferenceTrace::checkIndex(std::ptrdiff_t i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= points_.size()) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(i) + ")");
    }
}

TracePoint ReferenceTrace::point(std::ptrdiff_t i) const {
    checkIndex(i);
    return points_[static_cast<std::size_t>(i)];
}

void ReferenceTrace::setX(std::ptrdiff_t i, Tick x) {
    checkIndex(i);
    points_[static_cast<std::size_t>(i)].x = x;
}

void ReferenceTrace::setY(std::ptrdiff_t i, std::uint8_t y) {
    checkIndex(i);
    points_[static_cast<std::size_t>(i)].y = y;
}

std::size_t ReferenceTrace::lowerBound(double x) const {
    return static_cast<std::size_t>(std::lower_bound(points_.begin(), points_.end(), x,
                                                     [](const TracePoint& p, double v) {
                                                         return static_cast<double>(p.x) < v;
                                                     }) -
                                    points_.begin());
}

std::size_t ReferenceTrace::lowerBoundTick(Tick x) const {
    return static_cast<std::size_t>(
        std::lower_bound(points_.begin(), points_.end(), x,
                         [](const TracePoint& p, Tick v) { return p.x < v; }) -
        points_.begin());
}

std::ptrdiff_t ReferenceTrace::locate(Tick x) const {
    const std::size_t i = lowerBoundTick(x);
    return i < points_.size() && points_[i].x == x ? static_cast<std::ptrdiff_t>(i) : -1;
}

std::ptrdiff_t ReferenceTrace::locateExact(double x) const {
    constexpr double kTwo63 = 9223372036854775808.0;
    if (!(x >= -kTwo63 && x < kTwo63) || std::trunc(x) != x) {
        return -1;
    }
    return locate(static_cast<Tick>(x));
}

std::ptrdiff_t ReferenceTrace::firstVisible(double windowMin) const {
    const std::size_t i = lowerBound(windowMin);
    return i == points_.size() ? -1 : static_cast<std::ptrdiff_t>(i);
}

std::ptrdiff_t ReferenceTrace::lastVisible(double windowMin, double windowMax) const {
    if (points_.empty() || static_cast<double>(points_.back().x) < windowMin) {
        return -1;
    }
    const std::size_t i = lowerBound(windowMax);
    return i == points_.size() ? static_cast<std::ptrdiff_t>(points_.size()) - 1
                               : static_cast<std::ptrdiff_t>(i);
}

}  // namespace osc
