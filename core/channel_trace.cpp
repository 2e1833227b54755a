#include "core/channel_trace.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace osc {

void ChannelTrace::add(Tick x, std::uint8_t y) {
    ++revision_;
    if (xs_.empty() || xs_.back() <= x) {
        xs_.push_back(x);
        ys_.push_back(y);
        return;
    }
    const auto pos = std::upper_bound(xs_.begin(), xs_.end(), x);
    const auto index = pos - xs_.begin();
    xs_.insert(pos, x);
    ys_.insert(ys_.begin() + index, y);
}

TracePoint TracePointIterator::operator*() const {
    return {trace_->xs()[index_], trace_->ys()[index_]};
}

TracePointRange ChannelTrace::points(std::size_t begin, std::size_t end) const {
    end = std::min(end, xs_.size());
    begin = std::min(begin, end);
    return {TracePointIterator(this, begin), TracePointIterator(this, end)};
}

void ChannelTrace::clear() {
    ++revision_;
    xs_.clear();
    ys_.clear();
}

void ChannelTrace::reserve(std::size_t n) {
    xs_.reserve(n);
    ys_.reserve(n);
}

void ChannelTrace::shrinkToFit() {
    xs_.shrink_to_fit();
    ys_.shrink_to_fit();
}

void ChannelTrace::checkIndex(std::ptrdiff_t i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= xs_.size()) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(i) + ")");
    }
}

Tick ChannelTrace::x(std::ptrdiff_t i) const {
    checkIndex(i);
    return xs_[static_cast<std::size_t>(i)];
}

std::uint8_t ChannelTrace::y(std::ptrdiff_t i) const {
    checkIndex(i);
    return ys_[static_cast<std::size_t>(i)];
}

void ChannelTrace::setX(std::ptrdiff_t i, Tick x) {
    checkIndex(i);
    ++revision_;
    xs_[static_cast<std::size_t>(i)] = x;
}

void ChannelTrace::setY(std::ptrdiff_t i, std::uint8_t y) {
    checkIndex(i);
    ++revision_;
    ys_[static_cast<std::size_t>(i)] = y;
}

std::ptrdiff_t ChannelTrace::locate(Tick x) const {
    const auto pos = std::lower_bound(xs_.begin(), xs_.end(), x);
    if (pos == xs_.end() || *pos != x) {
        return -1;
    }
    return pos - xs_.begin();
}

std::ptrdiff_t ChannelTrace::locateExact(double x) const {
    // 2^63 is exactly representable; every whole double in [-2^63, 2^63) is a tick value.
    constexpr double kTwo63 = 9223372036854775808.0;
    if (!(x >= -kTwo63 && x < kTwo63) || std::trunc(x) != x) {
        return -1;
    }
    return locate(static_cast<Tick>(x));
}

std::size_t ChannelTrace::lowerBound(double x) const {
    const auto pos = std::lower_bound(xs_.begin(), xs_.end(), x,
                                      [](Tick a, double b) { return static_cast<double>(a) < b; });
    return static_cast<std::size_t>(pos - xs_.begin());
}

std::size_t ChannelTrace::lowerBoundTick(Tick x) const {
    return static_cast<std::size_t>(std::lower_bound(xs_.begin(), xs_.end(), x) - xs_.begin());
}

std::ptrdiff_t ChannelTrace::firstVisible(double windowMin) const {
    const std::size_t i = lowerBound(windowMin);
    return i == xs_.size() ? -1 : static_cast<std::ptrdiff_t>(i);
}

std::ptrdiff_t ChannelTrace::lastVisible(double windowMin, double windowMax) const {
    // Some point lies at or right of the minimum exactly when the last one does.
    if (xs_.empty() || static_cast<double>(xs_.back()) < windowMin) {
        return -1;
    }
    const std::size_t i = lowerBound(windowMax);
    return i == xs_.size() ? static_cast<std::ptrdiff_t>(xs_.size()) - 1
                           : static_cast<std::ptrdiff_t>(i);
}

void ChannelTrace::assign(std::vector<Tick>&& xs, std::vector<std::uint8_t>&& ys) {
    if (xs.size() != ys.size()) {
        throw std::invalid_argument("ChannelTrace::assign: X and Y differ in length");
    }
    ++revision_;
    xs_ = std::move(xs);
    ys_ = std::move(ys);
}

}  // namespace osc
