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
// The same appended to bits.
void appendFrameBits(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& bits);

// Reverses frameBits for the bits strictly between the two flags, through the engine's frame
// decoder with its defaults: removes the stuffed zeros, packs LSB first, checks the length (a
// whole number of bytes, at least the frame check) and the frame check. Returns the payload,
// or nothing when the bits do not form one good frame.
std::optional<std::vector<std::uint8_t>> unframeBits(std::span<const std::uint8_t> between);

// The payloads of the good frames in a sequence of line bits (one per bit period), as the
// engine's frame decoder finds them with its defaults.
std::vector<std::vector<std::uint8_t>> findFrames(std::span<const std::uint8_t> lineBits);

// Control fields modulo 8, as the link sends them (bit 0 first on the line):
//   I frame  N(R) in bits 5-7, P/F bit 4, N(S) in bits 1-3, bit 0 = 0
//   S frame  N(R) in bits 5-7, P/F bit 4, the kind in bits 2-3, bits 0-1 = 01
//   U frame  the modifier bits and P/F bit 4, bits 0-1 = 11
// Sequence numbers are taken modulo 8.
enum class Supervisory : std::uint8_t { RR = 0, RNR = 1, REJ = 2, SREJ = 3 };
inline constexpr std::uint8_t kPollFinal = 0x10;
inline constexpr std::uint8_t kSnrm = 0x83;
inline constexpr std::uint8_t kUa = 0x63;
inline constexpr std::uint8_t kDisc = 0x43;
inline constexpr std::uint8_t kDm = 0x0F;
inline constexpr std::uint8_t kFrmr = 0x87;
inline constexpr std::uint8_t kUi = 0x03;

constexpr std::uint8_t iControl(unsigned ns, unsigned nr, bool pf) {
    return static_cast<std::uint8_t>((nr & 7) << 5 | (pf ? kPollFinal : 0) | (ns & 7) << 1);
}
constexpr std::uint8_t sControl(Supervisory kind, unsigned nr, bool pf) {
    return static_cast<std::uint8_t>((nr & 7) << 5 | (pf ? kPollFinal : 0) |
                                     static_cast<unsigned>(kind) << 2 | 0x01);
}
constexpr std::uint8_t uControl(std::uint8_t modifier, bool pf) {
    return static_cast<std::uint8_t>((modifier & ~kPollFinal) | (pf ? kPollFinal : 0));
}

}  // namespace osc::sim
