#include "sim/hdlc.h"

#include <array>

namespace osc::sim {

namespace {

constexpr std::array<std::uint8_t, 8> kFlagBits{0, 1, 1, 1, 1, 1, 1, 0};

void appendFlag(std::vector<std::uint8_t>& bits) {
    bits.insert(bits.end(), kFlagBits.begin(), kFlagBits.end());
}

bool flagAt(std::span<const std::uint8_t> bits, std::size_t i) {
    if (bits.size() < 8 || i > bits.size() - 8) {
        return false;
    }
    for (std::size_t k = 0; k < 8; ++k) {
        if (bits[i + k] != kFlagBits[k]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::uint16_t frameCheck(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408)
                                 : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return static_cast<std::uint16_t>(~crc);
}

std::vector<std::uint8_t> frameBits(std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> bytes(payload.begin(), payload.end());
    const std::uint16_t fcs = frameCheck(payload);
    bytes.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(fcs >> 8));

    std::vector<std::uint8_t> bits;
    bits.reserve(16 + bytes.size() * 10);
    appendFlag(bits);
    int ones = 0;
    for (std::uint8_t byte : bytes) {
        for (int k = 0; k < 8; ++k) {
            const std::uint8_t bit = (byte >> k) & 1;
            bits.push_back(bit);
            if (bit == 1) {
                if (++ones == 5) {
                    bits.push_back(0);
                    ones = 0;
                }
            } else {
                ones = 0;
            }
        }
    }
    appendFlag(bits);
    return bits;
}

std::optional<std::vector<std::uint8_t>> unframeBits(std::span<const std::uint8_t> between) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t current = 0;
    int filled = 0;
    int ones = 0;
    for (std::uint8_t bit : between) {
        if (bit != 0) {
            if (++ones > 5) {
                return std::nullopt;  // six 1s cannot occur inside a frame
            }
        } else {
            if (ones == 5) {
                ones = 0;
                continue;  // the stuffed zero
            }
            ones = 0;
        }
        current = static_cast<std::uint8_t>(current | ((bit != 0 ? 1u : 0u) << filled));
        if (++filled == 8) {
            bytes.push_back(current);
            current = 0;
            filled = 0;
        }
    }
    if (filled != 0 || bytes.size() < 2) {
        return std::nullopt;
    }
    const std::uint16_t received =
        static_cast<std::uint16_t>(bytes[bytes.size() - 2] | (bytes[bytes.size() - 1] << 8));
    bytes.resize(bytes.size() - 2);
    if (frameCheck(bytes) != received) {
        return std::nullopt;
    }
    return bytes;
}

std::vector<std::vector<std::uint8_t>> findFrames(std::span<const std::uint8_t> lineBits) {
    std::vector<std::vector<std::uint8_t>> frames;
    std::size_t openEnd = 0;
    bool open = false;
    for (std::size_t i = 0; i < lineBits.size();) {
        if (!flagAt(lineBits, i)) {
            ++i;
            continue;
        }
        if (open && i > openEnd) {
            if (auto payload = unframeBits(lineBits.subspan(openEnd, i - openEnd))) {
                frames.push_back(std::move(*payload));
            }
        }
        open = true;
        i += 8;
        openEnd = i;
    }
    return frames;
}

}  // namespace osc::sim
