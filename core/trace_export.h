#pragma once
// The four channel traces as a value change dump (VCD) and as CSV, for other tools to read.
//
// Each channel becomes one bit: 1 while its trace stands at the upper level of its pair (the
// even levels 2, 4, 6, 8: the line's status bit clear), 0 at the lower level, as the bit-stream
// decoder reads the traces. Where a trace has several points at one time, the last one counts.
// A channel without a point yet is "x" in the dump and an empty field in the CSV. Traces
// without any point give a header and no value change.

#include <cstdint>
#include <optional>
#include <string>

#include "core/channels.h"
#include "core/sample_decoder.h"

namespace osc {

// How ticks become dump times: time = round(tick * unitsPerTick), in units of `unit`.
struct VcdTimeScale {
    const char* unit = "1 ns";
    long double unitsPerTick = 1;
    bool exact = true;

    std::int64_t timeOf(Tick tick) const;
};

// One tick lasts 1 / (256 R) s. The unit is the coarsest power of ten of a second in which a
// tick is a whole number of units (at most a million), else the coarsest one with at least ten
// units a tick, so that rounding moves an edge by at most a twentieth of a tick.
// Precondition: 0 < bitRate <= 1e12.
VcdTimeScale VcdTimeScaleFor(double bitRate);

// The dump: four one-bit wires strobe, tx, rx1, rx2, the initial values under $dumpvars, then
// every change. Without a bit rate one tick is one unit (1 ns). The dump ends with a timestamp
// after the last change (the traces' last time, or one tick later when something changes
// there), so that readers which take a change as lasting until the next timestamp keep it.
std::string VcdText(const ChannelTraces& traces, std::optional<double> bitRate);

// "tick,strobe,tx,rx1,rx2", then the tick and the four bits at every change.
std::string CsvText(const ChannelTraces& traces);

}  // namespace osc
