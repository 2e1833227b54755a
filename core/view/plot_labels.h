#pragma once
// Texts of the axis labels, the channel hit test and the position text of the readouts.

#include <string>

#include "core/trace/channels.h"

namespace osc {

// Left axis label for a whole value 0..9: the channel names at 1, 3, 5, 7; empty otherwise.
std::string leftAxisLabel(int value);
// Bottom axis label for a tick value: empty at 0, otherwise whole bits (ticks / 256, truncated).
std::string bottomAxisLabel(double ticks);
// The channel whose band (the closed interval between its two levels) holds the left-axis
// value y, or -1 for the gaps between bands and outside them.
int channelAtY(double y);
// A whole number of ticks as bits: "1", "1 + 44/256"; negative values show no fraction.
std::string TicksToBitText(Tick v);
// A position in ticks truncated toward zero to a whole tick, as the readouts take it; values
// beyond the range of ticks saturate and NaN gives 0.
Tick truncateToTick(double v);

}  // namespace osc
