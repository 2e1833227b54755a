#pragma once
// A stair trace: points (X in whole ticks, level) kept in ascending X. Stored as two arrays
// (9 bytes a point); appending in order is O(1), every search is a binary search.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/channels.h"

namespace osc {

struct TracePoint {
    Tick x = 0;
    std::uint8_t y = 0;
    bool operator==(const TracePoint&) const = default;
};

class ChannelTrace;

// Forward iteration over points of a trace in trace order; the trace must not change meanwhile.
class TracePointIterator {
  public:
    using value_type = TracePoint;
    using difference_type = std::ptrdiff_t;
    TracePointIterator() = default;
    TracePointIterator(const ChannelTrace* trace, std::size_t index)
        : trace_(trace), index_(index) {}
    TracePoint operator*() const;
    TracePointIterator& operator++() {
        ++index_;
        return *this;
    }
    TracePointIterator operator++(int) {
        TracePointIterator old = *this;
        ++index_;
        return old;
    }
    std::size_t index() const { return index_; }
    bool operator==(const TracePointIterator& o) const { return index_ == o.index_; }

  private:
    const ChannelTrace* trace_ = nullptr;
    std::size_t index_ = 0;
};

// Points [begin, end) of a trace, for range-based loops.
class TracePointRange {
  public:
    TracePointRange(TracePointIterator begin, TracePointIterator end) : begin_(begin), end_(end) {}
    TracePointIterator begin() const { return begin_; }
    TracePointIterator end() const { return end_; }
    std::size_t size() const { return end_.index() - begin_.index(); }

  private:
    TracePointIterator begin_, end_;
};

class ChannelTrace {
  public:
    // Inserts after the last point whose X is not greater than x (after equal X).
    void add(Tick x, std::uint8_t y);
    void clear();
    void reserve(std::size_t n);
    // Gives back the room that growing in order left over (9 bytes a point afterwards).
    void shrinkToFit();

    std::size_t count() const { return xs_.size(); }
    // Bytes held by the point arrays (their capacity, not only the points in use).
    std::size_t memoryBytes() const {
        return xs_.capacity() * sizeof(Tick) + ys_.capacity() * sizeof(std::uint8_t);
    }
    bool empty() const { return xs_.empty(); }

    // Index outside 0..count()-1: throws std::out_of_range.
    Tick x(std::ptrdiff_t i) const;
    std::uint8_t y(std::ptrdiff_t i) const;
    TracePoint point(std::ptrdiff_t i) const { return {x(i), y(i)}; }
    // Points [begin, end) in trace order (end clamped to count()).
    TracePointRange points(std::size_t begin = 0, std::size_t end = SIZE_MAX) const;
    void setX(std::ptrdiff_t i, Tick x);  // the caller keeps the order (used for the two lines)
    void setY(std::ptrdiff_t i, std::uint8_t y);

    // Index of the first point whose X equals x exactly, -1 if none.
    std::ptrdiff_t locate(Tick x) const;
    // The same for a position held as a double: -1 also when x is not a whole number of ticks
    // (or NaN, or beyond the range of ticks).
    std::ptrdiff_t locateExact(double x) const;
    // First point with X >= windowMin; -1 when there is none.
    std::ptrdiff_t firstVisible(double windowMin) const;
    // First point with X >= windowMax, or the last point when none reaches it;
    // -1 when firstVisible(windowMin) is -1.
    std::ptrdiff_t lastVisible(double windowMin, double windowMax) const;
    // First index with X >= x (count() when none), for callers that scan ranges.
    std::size_t lowerBound(double x) const;
    // The same for a whole tick, compared exactly.
    std::size_t lowerBoundTick(Tick x) const;

    Tick lastX() const { return xs_.back(); }  // precondition: !empty()

    // The point arrays themselves; only the completion and the renderer's summary read them.
    std::span<const Tick> xs() const { return xs_; }
    std::span<const std::uint8_t> ys() const { return ys_; }
    // Replaces all points (same length, X ascending); used by the completion's merge.
    void assign(std::vector<Tick>&& xs, std::vector<std::uint8_t>&& ys);

    // A hidden trace is not drawn; adding points to it requests no redraw.
    bool hidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }

    // Grows with every change of the points; lets views notice changes cheaply.
    std::uint64_t revision() const { return revision_; }

  private:
    void checkIndex(std::ptrdiff_t i) const;

    std::vector<Tick> xs_;
    std::vector<std::uint8_t> ys_;
    bool hidden_ = false;
    std::uint64_t revision_ = 0;
};

}  // namespace osc
