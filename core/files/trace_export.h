#pragma once
// The four channel traces as a value change dump (VCD) and as CSV, for other tools to read.
//
// Each channel becomes one bit: 1 while its trace stands at the upper level of its pair (the
// even levels 2, 4, 6, 8: the line's status bit clear), 0 at the lower level, as the bit-stream
// decoder reads the traces. Where a trace has several points at one time, the last one counts.
// A channel without a point yet is "x" in the dump and an empty field in the CSV. Traces
// without any point give a header and no value change.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/files/output_sink.h"
#include "core/protocol/sample_decoder.h"
#include "core/trace/channels.h"

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

// The formats of an export. Pcapng is the decoded frames, not the traces
// (core/files/pcapng_export.h): the trace writers below take Vcd and Csv only.
enum class ExportFormat { Vcd, Csv, Pcapng };

// A stretch of the traces: the values in force at `from`, every change from there up to `to`
// (not included), and for the dump a last timestamp at `to`. Precondition: from < to.
struct ExportStretch {
    Tick from = 0;
    Tick to = 0;
};

// The same texts written a piece at a time, for callers that show progress and may stop half
// way. Takes the traces' stored points as they are at construction: points appended later (a
// capture going on) are left out, and the points already taken may be read while the traces
// grow. Throws std::runtime_error from next() when a trace lost points meanwhile (restarted).
// Without a stretch the texts are VcdText's and CsvText's, byte for byte. Throws
// std::invalid_argument for the format Pcapng.
class TraceExport {
  public:
    TraceExport(const ChannelTraces& traces, ExportFormat format, std::optional<double> bitRate,
                std::optional<ExportStretch> stretch = std::nullopt);
    ~TraceExport();
    TraceExport(const TraceExport&) = delete;
    TraceExport& operator=(const TraceExport&) = delete;

    // Appends the next piece (the header, then about `changes` value changes, then the end) to
    // out. False once the whole text has been given.
    bool next(std::string& out, std::size_t changes = 4096);
    // The share of the points read so far, 0 to 1.
    double progress() const;

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The text (VcdText's, CsvText's, ExportText's, byte for byte) written through sink as the
// traces are walked, asking progress every 4096 changes; false when it cancelled (the sink
// then holds part of the text). Throws std::invalid_argument for Pcapng, and what TraceExport
// and the sink throw.
bool writeTraces(const ChannelTraces& traces, ExportFormat format, std::optional<double> bitRate,
                 std::optional<ExportStretch> stretch, OutputSink& sink,
                 const WriteProgress& progress = {});

// The whole text of a stretch at once.
std::string ExportText(const ChannelTraces& traces, ExportFormat format,
                       std::optional<double> bitRate, std::optional<ExportStretch> stretch);

}  // namespace osc
