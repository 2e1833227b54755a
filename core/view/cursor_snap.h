#pragma once
// Where the cursor goes on a mouse move over the plot: snapped to the start of the level under
// the mouse on the trace of the channel under it, or the mouse position itself.

#include <optional>

#include "core/protocol/sample_decoder.h"
#include "core/trace/channel_trace.h"

namespace osc {

inline constexpr double kNoCursor = -1;  // FCursorX when no point of the trace is visible

// The cursor snapped to trace for the bottom-axis value mx and the window [windowMin,
// windowMax]: the X of the last point strictly left of mx, searched from the first visible
// point up to the last visible one (the X of the last visible point when none of them lies at
// or right of mx). kNoCursor when no point is visible. nullopt when the first visible point is
// the trace's very first point and lies at or right of mx: there is no point left of it, the
// read fails and the move must change nothing. Binary search: O(log points).
std::optional<double> snapCursor(const ChannelTrace& trace, double windowMin, double windowMax,
                                 double mx);

// The cursor for a mouse move with bottom-axis value mx over channel (-1: no channel): the
// mouse position rounded to whole ticks (halves to even) with Ctrl held or over no channel,
// otherwise snapCursor on that channel's trace. nullopt: the move changes nothing.
std::optional<double> cursorForMouse(const ChannelTraces& traces, int channel, bool ctrl,
                                     double windowMin, double windowMax, double mx);

// Rounds to the nearest whole number, a half to the even neighbour.
double roundHalfEven(double v);

}  // namespace osc
