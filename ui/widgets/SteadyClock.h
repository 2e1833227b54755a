#pragma once
// Milliseconds of the steady clock: the parts' clock unless a test gives them one of its own.

#include <chrono>
#include <cstdint>

namespace ui {

inline std::int64_t steadyClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace ui
