#pragma once
// Logic lines with frames on them for the window's frame tests: flag-delimited bytes, stuffed
// as a link sends them, laid onto a channel trace one bit period per bit.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/frames/frame_decoder.h"

namespace uitest {

using Bits = std::vector<std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

inline const Bits kFlagBits{0, 1, 1, 1, 1, 1, 1, 0};

// The payload with its CRC-16/X.25 appended, low byte first.
inline Bytes withX25(Bytes payload) {
    const std::uint16_t c = osc::crc16X25(payload);
    payload.push_back(static_cast<std::uint8_t>(c));
    payload.push_back(static_cast<std::uint8_t>(c >> 8));
    return payload;
}

// Whole bytes, first bit the least significant, a 0 stuffed after five 1s.
inline Bits stuffedBits(const Bytes& bytes) {
    Bits bits;
    int ones = 0;
    for (const std::uint8_t byte : bytes) {
        for (int k = 0; k < 8; ++k) {
            const int bit = (byte >> k) & 1;
            bits.push_back(static_cast<std::uint8_t>(bit));
            ones = bit != 0 ? ones + 1 : 0;
            if (ones == 5) {
                bits.push_back(0);
                ones = 0;
            }
        }
    }
    return bits;
}

// A line built piece by piece; bit i lies at tick (i + 1) * 256.
struct FrameLine {
    Bits bits;
    std::size_t add(const Bits& piece) {
        const std::size_t at = bits.size();
        bits.insert(bits.end(), piece.begin(), piece.end());
        return at;
    }
    std::size_t ones(std::size_t n) { return add(Bits(n, 1)); }
    // Opening flag, the bits, closing flag; returns the bit of the opening flag.
    std::size_t frame(const Bits& data, bool closing = true) {
        const std::size_t at = add(kFlagBits);
        add(data);
        if (closing) {
            add(kFlagBits);
        }
        return at;
    }
    static osc::Tick tickOf(std::size_t bit) { return static_cast<osc::Tick>(bit + 1) * 256; }
};

// The engine after a capture of these lines (channel -> line; other channels idle, shorter
// lines idle after their end): started, the points of each line at its level changes, stopped
// one bit period after the longest line (frames finished, traces completed).
inline void captureLines(osc::CaptureEngine& engine, const std::vector<std::pair<int, Bits>>& lines,
                         const osc::FrameOptions& options, unsigned channels) {
    engine.frames.setEnabled(true);
    engine.frames.setOptions(options, channels);
    engine.resetTimeBase();
    engine.restartTraces();
    std::size_t longest = 0;
    for (const auto& line : lines) {
        longest = std::max(longest, line.second.size());
    }
    for (const auto& [channel, line] : lines) {
        Bits bits = line;
        bits.resize(longest, 1);
        const osc::ChannelInfo& info = osc::kChannels[static_cast<std::size_t>(channel)];
        for (std::size_t i = 0; i < bits.size(); ++i) {
            if (i == 0 || bits[i] != bits[i - 1]) {
                engine.traces[static_cast<std::size_t>(channel)].add(
                    FrameLine::tickOf(i), bits[i] != 0 ? info.levelClear : info.levelSet);
            }
        }
    }
    engine.state.FTimeBase = FrameLine::tickOf(longest);
    engine.state.FLastStatus = 0;  // every line idle (upper level) at the stop
    engine.closeTraces();
    engine.completeTraces();
}

}  // namespace uitest
