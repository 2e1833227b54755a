#pragma once
// Bit-level framing of the simulated serial link: frames of the form
//   flag 01111110, payload bytes, 16-bit frame check, flag
// with every byte sent least significant bit first and a 0 inserted after every run of five
// 1s between the flags. The frame check is CRC-16/X.25 (reflected polynomial 0x8408, initial
// value 0xFFFF, final complement), sent low byte first. Idle line: all ones.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace osc::sim {

inline constexpr std::uint8_t kHdlcFlag = 0x7E;

// CRC-16/X.25 over the bytes ("123456789" gives 0x906E).
std::uint16_t frameCheck(std::span<const std::uint8_t> bytes);

// The line bits of one frame, opening and closing flag included, in the order they are sent
// (each element 0 or 1).
std::vector<std::uint8_t> frameBits(std::span<const std::uint8_t> payload);

// Reverses frameBits for the bits strictly between the two flags, through the engine's frame
// decoder with its defaults: removes the stuffed zeros, packs LSB first, checks the length (a
// whole number of bytes, at least the frame check) and the frame check. Returns the payload,
// or nothing when the bits do not form one good frame.
std::optional<std::vector<std::uint8_t>> unframeBits(std::span<const std::uint8_t> between);

// The payloads of the good frames in a sequence of line bits (one per bit period), as the
// engine's frame decoder finds them with its defaults.
std::vector<std::vector<std::uint8_t>> findFrames(std::span<const std::uint8_t> lineBits);

}  // namespace osc::sim
