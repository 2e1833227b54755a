#include "sim/hdlc.h"

#include <array>

#include "core/frames/frame_decoder.h"

namespace osc::sim {

namespace {

constexpr std::array<std::uint8_t, 8> kFlagBits{0, 1, 1, 1, 1, 1, 1, 0};

void appendFlag(std::vector<std::uint8_t>& bits) {
    bits.insert(bits.end(), kFlagBits.begin(), kFlagBits.end());
}

std::vector<std::uint8_t> payloadOf(const Frame& frame) {
    return std::vector<std::uint8_t>(
        frame.bytes.begin(), frame.bytes.end() - static_cast<std::ptrdiff_t>(frame.checkBytes()));
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
    std::vector<std::uint8_t> bits;
    bits.reserve(16 + (payload.size() + 2) * 10);
    appendFrameBits(payload, bits);
    return bits;
}

void appendFrameBits(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& bits) {
    const std::uint16_t fcs = frameCheck(payload);
    const std::array<std::uint8_t, 2> check{static_cast<std::uint8_t>(fcs & 0xFF),
                                            static_cast<std::uint8_t>(fcs >> 8)};
    appendFlag(bits);
    int ones = 0;
    const auto appendByte = [&](std::uint8_t byte) {
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
    };
    for (std::uint8_t byte : payload) {
        appendByte(byte);
    }
    for (std::uint8_t byte : check) {
        appendByte(byte);
    }
    appendFlag(bits);
}

std::optional<std::vector<std::uint8_t>> unframeBits(std::span<const std::uint8_t> between) {
    FrameBitDecoder decoder;
    decoder.feed(kFlagBits);
    decoder.feed(between);
    decoder.feed(kFlagBits);
    decoder.finish();
    const FrameSequence& frames = decoder.frames();
    if (frames.size() != 1 || !frames[0].good()) {
        return std::nullopt;
    }
    return payloadOf(frames[0]);
}

std::vector<std::vector<std::uint8_t>> findFrames(std::span<const std::uint8_t> lineBits) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const Frame& frame : decodeFrameBits(lineBits)) {
        if (frame.good()) {
            out.push_back(payloadOf(frame));
        }
    }
    return out;
}

}  // namespace osc::sim
