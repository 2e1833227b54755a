#pragma once
// A simulated device: answers the identity request, and between a start and a stop command
// streams sample datagrams of its serial link (sim/serial_link.h). Plain values in and out: the
// caller moves the datagrams (UDP in the command-line tool, an in-process network in the demo
// and the tests) and paces the stream with datagramsDue().
//
// The sample stream: every bit period is two pairs, (status, 0) with the strobe bit 0x04
// toggled and the data lines as before, then (status, 128) with the data lines of the new
// period, so a line change falls half a period after the strobe edge: the link's period p
// (SerialLink's numbering) is pairs 2p + 1 and 2p + 2 of the device's pairs, from 0. A line at
// bit value 1 (idle) has its status bit clear, which the window draws at the upper level; the
// bit-stream decoder reads that level as 1, so a frame decoded between its flags with stuffed
// bits removed, 8 bits a group, gives back its payload and frame check, least significant bit
// first.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/protocol/datagram.h"
#include "sim/serial_link.h"

namespace osc::sim {

inline constexpr std::uint8_t kDataChangeTime = 128;  // time byte of the data line changes

struct DeviceOptions {
    std::optional<DeviceId> identity;  // default: derived from the device's address
    int bitRate = 9600;                // bit periods per second, 1 to 1,000,000
    int pairsPerDatagram = 256;        // 1 to 4092 (a datagram stays within 8192 bytes)
    LinkOptions link;                  // seed, stations, texts and faults of the link
};

// 02:00:a:b:c:d for a dotted IPv4 address a.b.c.d; otherwise 02:01 and four bytes of a hash of
// the address text. Distinct addresses give distinct identities (hash collisions aside).
DeviceId identityForAddress(const std::string& address);

enum class CommandKind { IdentityRequest, Start, Stop, Ignored };
const char* commandName(CommandKind kind);

struct CommandResult {
    CommandKind kind = CommandKind::Ignored;
    std::vector<std::uint8_t> reply;  // to be sent back to the sender; empty: none
};

class SimulatedDevice {
  public:
    SimulatedDevice(const std::string& address, DeviceOptions options);

    const DeviceId& identity() const { return identity_; }
    const DeviceOptions& options() const { return options_; }

    // "GD" (any datagram of two or more bytes beginning so) gets an identity reply
    // "G", 0x00, identity. "DD", id, "6" / "7" (9 bytes) with the device's identity or six
    // zero bytes starts / stops streaming. Anything else is ignored.
    CommandResult handle(std::span<const std::uint8_t> datagram);

    bool streaming() const { return streaming_; }
    // Starts the pacing clock at the moment the stream starts (first datagram due at once); a
    // stream started after a stop opens a new session of the link (it sets the stations up
    // again). A stop leaves the link where it is: the one who stops the stream stops listening
    // to it.
    void setStreaming(bool on);
    // Ends the stream from the device's side: the datagrams that finish the exchange under way
    // and close the link (DISC and UA for each station), to be sent at once. Nothing when not
    // streaming.
    std::vector<std::vector<std::uint8_t>> finishStream();

    // The next sample datagram: "#", 0x08, the identity, pairsPerDatagram pairs.
    std::vector<std::uint8_t> nextDatagram();
    std::uint64_t datagramsGenerated() const { return generated_; }
    std::uint64_t bitPeriodsGenerated() const { return link_.periodsGenerated(); }
    // The link, for its record of the frames sent (SerialLink::keepLog).
    SerialLink& link() { return link_; }
    const SerialLink& link() const { return link_; }

    // 2 × bitRate / pairsPerDatagram.
    double datagramsPerSecond() const;
    // How many datagrams of the current stream are due after `elapsed` of real time since it
    // started: the first at once, then one every 1 / datagramsPerSecond.
    std::uint64_t datagramsDue(std::chrono::nanoseconds elapsed) const;
    // Real time from the stream's start at which datagram number n (from 0) is due.
    std::chrono::nanoseconds dueTime(std::uint64_t n) const;
    // Datagrams generated since the current stream started.
    std::uint64_t streamDatagrams() const { return generated_ - streamStart_; }

  private:
    DeviceId identity_{};
    DeviceOptions options_;
    SerialLink link_;
    bool streaming_ = false;
    std::uint64_t generated_ = 0;
    std::uint64_t streamStart_ = 0;
    std::uint64_t pairs_ = 0;    // pairs generated so far
    std::uint8_t lastData_ = 0;  // data-line bits of the previous period (idle: all clear)
};

}  // namespace osc::sim
