#pragma once
// A trace kept the plain way: every point in one array in ascending X, each insertion in its
// place. The tests and the fuzz targets check osc::ChannelTrace against it; the pass-by-pass
// completion runs on it as the reference.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/trace/channel_trace.h"

namespace osc {

class ReferenceTrace {
  public:
    // Inserts after the last point whose X is not greater than x (after equal X).
    void add(Tick x, std::uint8_t y);
    void clear() { points_.clear(); }

    std::size_t count() const { return points_.size(); }
    bool empty() const { return points_.empty(); }
    // Index outside 0..count()-1: throws std::out_of_range.
    Tick x(std::ptrdiff_t i) const { return point(i).x; }
    std::uint8_t y(std::ptrdiff_t i) const { return point(i).y; }
    TracePoint point(std::ptrdiff_t i) const;
    const std::vector<TracePoint>& points() const { return points_; }
    void setX(std::ptrdiff_t i, Tick x);
    void setY(std::ptrdiff_t i, std::uint8_t y);

    std::ptrdiff_t locate(Tick x) const;
    std::ptrdiff_t locateExact(double x) const;
    std::ptrdiff_t firstVisible(double windowMin) const;
    std::ptrdiff_t lastVisible(double windowMin, double windowMax) const;
    std::size_t lowerBound(double x) const;
    std::size_t lowerBoundTick(Tick x) const;
    Tick lastX() const { return points_.back().x; }  // precondition: !empty()

    bool hidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }

  private:
    void checkIndex(std::ptrdiff_t i) const;

    std::vector<TracePoint> points_;
    bool hidden_ = false;
};

}  // namespace osc
