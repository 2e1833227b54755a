#pragma once
// The frames as a pcapng capture file for packet analysers, of link type SDLC (268): one
// packet per frame holding its address, control and information fields (the bytes between
// the flags without the check), so that an analyser decodes the link layer.
//
// Layout, all little-endian: a section header block (the writing program in shb_userappl, the
// section length unknown: -1), an interface description block per decoded channel in channel
// order (if_name the channel's name, if_tsresol nanoseconds), then an enhanced packet block
// per frame in order of start: the interface of its channel, the time of its start, the bytes,
// epb_flags with the direction (outbound for the primary's line, inbound for the others) and
// for a bad frame the error bit that fits it (CRC, too long, too short, unaligned), and a
// comment "frame N" with the frame's number ("frame N: bad check" for a bad one).
//
// Times count from the capture's tick 0 at the bit rate, one bit a microsecond without one,
// rounded to the nanosecond: the unit of the readers, some of which convert finer units to
// nanoseconds in 64 bits that overflow within a millisecond of 10 fs units.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/files/frame_export.h"
#include "core/files/output_sink.h"
#include "core/frames/capture_frames.h"

namespace osc {

inline constexpr std::uint16_t kLinkTypeSdlc = 268;

struct PcapngOptions {
    unsigned channels = kDataChannels;  // an interface each; frames of other channels are left out
    int primaryChannel = 1;             // its frames go out, the others' come in
    bool allFrames = false;             // bad frames too (each with its error in the comment)
    std::optional<double> bitRate;      // bits a second, 0 < R <= 1e12
};

// The bytes of a frame in its packet: without the check when one was evaluated.
std::span<const std::uint8_t> pcapngPacketBytes(const Frame& frame);

// The whole file through sink, asking progress every 4096 frames; false when it cancelled.
bool writePcapng(FrameWalk& frames, const PcapngOptions& options, OutputSink& sink,
                 const WriteProgress& progress = {});

// The whole file at once.
std::string pcapngFile(std::span<const Frame> frames, const PcapngOptions& options);

}  // namespace osc
