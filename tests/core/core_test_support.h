#pragma once
// Small builders shared by the engine's tests: sample datagrams from (status, time) pairs and
// the points of a trace as plain pairs.

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "core/trace/channel_trace.h"

namespace osc::test_support {

using Bytes = std::vector<std::uint8_t>;
using Point = std::pair<Tick, int>;
using Points = std::vector<Point>;

// A sample datagram with the given (status, time) pairs.
inline Bytes sample(std::initializer_list<std::pair<int, int>> pairs, std::uint8_t byte1 = 0x08) {
    Bytes d{0x23, byte1, 0, 0, 0, 0, 0, 0};
    for (const auto& [s, t] : pairs) {
        d.push_back(static_cast<std::uint8_t>(s));
        d.push_back(static_cast<std::uint8_t>(t));
    }
    return d;
}

inline Points points(const ChannelTrace& trace) {
    Points out;
    for (std::size_t i = 0; i < trace.count(); ++i) {
        out.emplace_back(trace.x(i), trace.y(i));
    }
    return out;
}

}  // namespace osc::test_support
