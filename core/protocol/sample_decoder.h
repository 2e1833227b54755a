#pragma once
// The sample stream decoder: turns received datagrams into points of the four channel traces.

#include <array>
#include <cstdint>
#include <span>

#include "core/protocol/datagram.h"
#include "core/trace/channel_trace.h"

namespace osc {

struct DecoderState {
    Tick FTimeBase = 0;            // start of the current period; 64-bit so it never wraps
    int FLastStrobe = 0;           // strobe bit (0 or 4) of the last pair decoded
    std::uint8_t FLastStatus = 0;  // status byte of the last pair decoded
    DeviceId FDeviceId{};          // identity from the last identity reply
};

using ChannelTraces = std::array<ChannelTrace, kChannelCount>;

// Decodes one received datagram of any length: an identity reply sets FDeviceId; a sample
// datagram appends a point to every channel whose bit changes, pair by pair. Never reads
// beyond data. Returns the datagram's kind; only for Sample must the caller keep the window
// on the newest data.
DatagramKind decodeDatagram(DecoderState& state, std::span<const std::uint8_t> data,
                            ChannelTraces& traces);

}  // namespace osc
