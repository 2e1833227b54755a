#pragma once
// Line scenarios for the trigger tests: frames put on the data lines bit by bit and turned into
// sample datagrams the way the simulated device sends them (two pairs a bit period: the strobe
// toggled at time 0, the data lines at 128), so that bit period p of the scenario starts at
// stream tick 256 (p + 1) + 128.

#include <cstdint>
#include <vector>

#include "core/frames/frame_decoder.h"
#include "core/trace/channels.h"

namespace osc::test_support {

using Bytes = std::vector<std::uint8_t>;

// Three data lines, one bit a period each, 1 idle.
struct Lines {
    std::vector<std::uint8_t> tx, rx1, rx2;

    std::vector<std::uint8_t>& line(int channel) {
        return channel == 1 ? tx : channel == 2 ? rx1 : rx2;
    }
    std::size_t periods() const { return std::max({tx.size(), rx1.size(), rx2.size()}); }
    void idleTo(std::size_t n) {
        for (auto* l : {&tx, &rx1, &rx2}) {
            if (l->size() < n) {
                l->resize(n, 1);
            }
        }
    }
    // A frame with its X.25 check on a line from period `at` (the lines idle up to there);
    // flip: the bit (counted from the opening flag's first) sent inverted. Returns the period
    // after its closing flag.
    std::size_t put(int channel, std::size_t at, Bytes bytes, int flip = -1) {
        idleTo(at);
        const std::uint16_t c = crc16X25(bytes);
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
        std::vector<std::uint8_t> bits{0, 1, 1, 1, 1, 1, 1, 0};
        int ones = 0;
        for (const std::uint8_t b : bytes) {
            for (int k = 0; k < 8; ++k) {
                const std::uint8_t bit = (b >> k) & 1;
                bits.push_back(bit);
                ones = bit != 0 ? ones + 1 : 0;
                if (ones == 5) {
                    bits.push_back(0);
                    ones = 0;
                }
            }
        }
        bits.insert(bits.end(), {0, 1, 1, 1, 1, 1, 1, 0});
        if (flip >= 0) {
            bits[static_cast<std::size_t>(flip)] ^= 1;
        }
        std::vector<std::uint8_t>& l = line(channel);
        l.resize(at, 1);
        l.insert(l.end(), bits.begin(), bits.end());
        return l.size();
    }
};

// Stream tick of the start of bit period p.
inline Tick tickOf(std::size_t p) {
    return static_cast<Tick>(p + 1) * kTicksPerBit + 128;
}

// The sample datagrams of the lines, `pairs` pairs each (the last one may be shorter).
inline std::vector<Bytes> datagramsOf(Lines lines, std::size_t pairs, std::size_t idleAfter = 64) {
    lines.idleTo(lines.periods() + idleAfter);
    std::vector<Bytes> out;
    Bytes d;
    std::uint8_t last = 0;
    const std::size_t total = 2 * lines.periods();
    for (std::size_t k = 0; k < total; ++k) {
        if (d.empty()) {
            d = {0x23, 0x08, 0, 0, 0, 0, 0, 0};
        }
        const std::uint8_t strobe = (k / 2) % 2 == 0 ? 0x04 : 0;
        if (k % 2 == 0) {
            d.push_back(static_cast<std::uint8_t>(strobe | last));
            d.push_back(0);
        } else {
            const std::size_t p = k / 2;
            last = static_cast<std::uint8_t>((lines.tx[p] == 0 ? 0x40 : 0) |
                                             (lines.rx1[p] == 0 ? 0x80 : 0) |
                                             (lines.rx2[p] == 0 ? 0x10 : 0));
            d.push_back(static_cast<std::uint8_t>(strobe | last));
            d.push_back(128);
        }
        if ((d.size() - 8) / 2 == pairs) {
            out.push_back(std::move(d));
            d.clear();
        }
    }
    if (!d.empty()) {
        out.push_back(std::move(d));
    }
    return out;
}

}  // namespace osc::test_support
