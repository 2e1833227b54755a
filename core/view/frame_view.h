#pragma once
// Where decoded frames lie on the time axis, for the table and the annotations of the plot:
// the frames a window shows (binary searches over one channel's frames), the stretches of a
// frame's flags and bytes, the window that brings a frame into view, and a frame's bits as the
// bit-stream decoder shows them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/frames/frame_decoder.h"
#include "core/view/plot_mapping.h"

namespace osc {

// Frames [first, last) of one channel's frames (in order of start) that reach into the window
// [minimum, maximum): the first whose end lies right of the minimum up to the first that starts
// at or right of the maximum. Two binary searches.
struct FrameRange {
    std::size_t first = 0;
    std::size_t last = 0;
    std::size_t size() const { return last > first ? last - first : 0; }
    bool operator==(const FrameRange&) const = default;
};
FrameRange framesInWindow(const FrameSequence& frames, double minimum, double maximum);
// The first frame that starts at or right of tick (frames.size() when none does).
std::size_t firstFrameFrom(const FrameSequence& frames, std::size_t from, double tick);

// Whether the frame ended on a closing flag (the flag then lies in its last 8 bit periods).
bool endsWithFlag(const Frame& frame);

enum class FramePart : std::uint8_t { Flag, Payload, Check };

// One stretch of a frame on the time axis: a flag, or one byte of payload or check.
struct FrameCell {
    Tick start = 0;
    Tick end = 0;
    FramePart part = FramePart::Payload;
    std::size_t byte = 0;  // index into the frame's bytes (0 for a flag)
    bool operator==(const FrameCell&) const = default;
};
// The opening flag (8 bit periods from the start), the closing flag when the frame ended on
// one (the last 8 bit periods), and its bytes between them, each over its share of the bits
// (stuffed bits spread evenly: a byte's stretch is exact within the stuffed bits before it).
// A frame shorter than its flags gets what fits. Cleared first.
void frameCells(const Frame& frame, std::vector<FrameCell>& out);

// The window that shows a frame: unchanged when the frame lies inside it; moved, keeping its
// width, so that the frame stands in the middle when it fits; else just wide enough for the
// frame with a twentieth of its length on either side.
AxisRange windowShowingFrame(const AxisRange& window, Tick start, Tick end);

// The frame's line bits after inversion, as the bit-stream decoder shows them with stuffing
// removed ("1" / "0" each): the opening flag, the bits between the flags in line order (order:
// the bit order the frame's bytes were assembled in) and the closing flag when it has one.
std::string frameLineBits(const Frame& frame, BitOrder order);

}  // namespace osc
