#pragma once
// The device datagrams: the commands the program sends and the classification of what arrives.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace osc {

using DeviceId = std::array<std::uint8_t, 6>;  // as received, byte 0 first; all zero: none

inline constexpr std::uint16_t kDevicePort = 971;
inline constexpr std::size_t kMaxDatagram = 8192;  // longer datagrams are not delivered

std::array<std::uint8_t, 2> identityRequest();                 // "GD"
std::array<std::uint8_t, 9> startCommand(const DeviceId& id);  // "DD", id, "6"
std::array<std::uint8_t, 9> stopCommand(const DeviceId& id);   // "DD", id, "7"

enum class DatagramKind {
    Sample,         // "#" with byte 1 0x08 or 0x09 (also with no pair)
    IdentityReply,  // "G" with at least 8 bytes
    Ignored,        // anything else, including a shorter "G" reply and a lone "#"
};
DatagramKind classifyDatagram(std::span<const std::uint8_t> data);

// The identity carried by an identity reply (precondition: classified as IdentityReply).
DeviceId identityOf(std::span<const std::uint8_t> reply);

// Where a datagram came from, or where one goes: an IPv4 address (in the order written, a.b.c.d)
// and a UDP port.
struct PeerAddress {
    std::array<std::uint8_t, 4> ip{};
    std::uint16_t port = 0;
    bool operator==(const PeerAddress&) const = default;
};
// "10.0.0.5:971"
std::string peerText(const PeerAddress& peer);

// "00:1A:2B:3C:4D:5E"
std::string deviceIdText(const DeviceId& id);
bool isZero(const DeviceId& id);

// Compares n bytes from the first; 1 at the first difference, 0 when all are equal (also n <= 0).
int MemDiffers(const std::uint8_t* a, const std::uint8_t* b, int n);

}  // namespace osc
