#pragma once
// The bit-stream decoder: the bits of a channel trace between marker and cursor, sampled at
// the trace's points (one per bit period at most), optionally inverted and with stuffed bits
// removed, cut into groups and shown in hex.

#include <string>
#include <string_view>

#include "core/protocol/sample_decoder.h"

namespace osc {

struct BitStreamOptions {
    int bitsPerGroup = 8;  // seByteBitsCount (1..16 in the window); any value has its rule
    bool reverse = false;  // cbReverseBits: the first bit of a group is its most significant
    bool invert = false;   // cbInverseBits
    bool unstuff = false;  // cbBitStaff: drop a 0 that follows exactly five 1s
    // Spans of this many ticks or more fail: 256 bits and 255 ticks still decode. A chosen
    // frame is measured with no limit, so that a long frame shows whole.
    double spanLimit = 257.0 * kTicksPerBit;
};

enum class BitStreamStatus {
    Decoded,  // bitText and valueText hold the two label texts
    Failed,   // both labels show "?"
    Aborted,  // bitsPerGroup 0: an error that leaves both labels unchanged
};

struct BitStreamResult {
    BitStreamStatus status = BitStreamStatus::Failed;
    std::string bitText;    // lblBitStream ("?" when Failed)
    std::string valueText;  // lblBytesDecoded ("?" when Failed)
};

// channel is the channel under the mouse (-1: none). Fails for a span of spanLimit or more,
// no marker (markerX 0), no channel, or a marker or cursor that is not the X of a point of
// that channel's trace. Cost: two binary searches plus O(bits * log points).
BitStreamResult DecodeBitStream(const ChannelTraces& traces, int channel, double markerX,
                                double cursorX, const BitStreamOptions& options);

// Steps 5 to 7 alone: bits ("0" and "1") cut into groups of bitsPerGroup and shown in hex, as
// DecodeBitStream shows the bits it sampled (reverse used, invert and unstuff not).
BitStreamResult GroupBitText(std::string_view bits, const BitStreamOptions& options);

}  // namespace osc
