#pragma once
// Positions as times of the link: with a bit rate R, a tick lasts 1 / (256 R) s. The readouts
// and the bottom axis add the time to their bit texts ("1 + 44/256 (1,234 мс)"); the texts are
// UTF-8 in the window's Russian (decimal comma, "мкс", "мс", "с").

#include <optional>
#include <string>
#include <string_view>

#include "core/trace/channels.h"

namespace osc {

// The bit rates the window takes, in bits a second.
inline constexpr double kMinBitRate = 0.001;
inline constexpr double kMaxBitRate = 1e12;

// A bit rate as typed or stored: digits with at most one decimal point or comma, blanks
// around and between digit groups allowed ("9600", "1200,5", " 115 200 "). nullopt for an
// empty text and for any other that is not a rate within [kMinBitRate, kMaxBitRate].
std::optional<double> parseBitRate(std::string_view text);
// The rate as stored: the shortest decimal text that reads back as the same value, "." as the
// decimal point ("9600", "1200.5").
std::string bitRateText(double rate);

// The time of `ticks` at `bitRate` bits a second: four significant digits in the largest of
// microseconds, milliseconds and seconds that keeps the number at or above 1 ("1,234 мс",
// "12,35 с"), at most three decimals below a microsecond ("0,391 мкс"), whole seconds from
// 1000 s on ("86400 с"), "0 с" for zero, a minus sign before negative times. Values round to
// the nearest; a value that rounds up to 1000 goes on to the next unit ("1,000 с"). Empty for
// a rate that is not positive and finite.
std::string TicksToTimeText(Tick ticks, double bitRate);

// A readout: TicksToBitText, then " (" time ")" when a bit rate is given.
std::string PositionText(Tick ticks, std::optional<double> bitRate);
// A bottom-axis label: bottomAxisLabel (bits; empty at 0), then " (" time ")" of the tick value
// rounded to a whole tick when a bit rate is given and the label is not empty.
std::string bottomAxisLabelWithTime(double ticks, std::optional<double> bitRate);
// The widest such label for the height of the axis's label band.
std::string bottomAxisLabelSample(std::optional<double> bitRate);

}  // namespace osc
