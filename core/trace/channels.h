#pragma once
// The four logic lines of a device's serial link and the tick unit of the horizontal axis.

#include <array>
#include <cstdint>

namespace osc {

using Tick = std::int64_t;  // horizontal position; 256 ticks make one bit period

inline constexpr int kChannelCount = 4;
inline constexpr Tick kTicksPerBit = 256;

struct ChannelInfo {
    const char* name;         // UTF-8, the label on the left axis
    std::uint8_t statusBit;   // bit of the sample status byte
    std::uint8_t levelSet;    // level drawn while the bit is set (the lower one of the pair)
    std::uint8_t levelClear;  // level drawn while the bit is clear
};

inline constexpr std::array<ChannelInfo, kChannelCount> kChannels{{
    {"Строб", 0x04, 7, 8},
    {"Передача", 0x40, 5, 6},
    {"Приём1", 0x80, 3, 4},
    {"Приём2", 0x10, 1, 2},
}};

// Level of channel c (0..3) for a status byte.
constexpr std::uint8_t levelFor(int channel, std::uint8_t status) {
    const ChannelInfo& info = kChannels[static_cast<std::size_t>(channel)];
    return (status & info.statusBit) != 0 ? info.levelSet : info.levelClear;
}

// Series numbers of the plot: 0..3 are the channel traces, then the two vertical lines.
inline constexpr int kMarkerSeries = 4;
inline constexpr int kCursorSeries = 5;
inline constexpr int kSeriesCount = 6;

}  // namespace osc
