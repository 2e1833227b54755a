#pragma once
// What fires an event during a capture, as the operator writes it:
//
//   a filter expression      a frame that the filter passes (core/link/frame_filter.h):
//                            "status == bad", "issue == no_answer", "address == 5 && type ==
//                            REJ", "bytes ~ \"01 3E ??\"", "rt > 40";
//   silent(LINE) > SPAN      a line without a level change for longer than SPAN; LINE as the
//                            filter's channel takes it (0 to 3, "Приём1", rx1, ...);
//   loss                     the strobe's rhythm broken: a datagram lost or overtaken on the
//                            way (as the status bar's losses count them), or dropped here.
//
// Spans of time are line time in bits ("4096b", "4096 bits"), or seconds ("30", "30s",
// "500ms", "15m", "2h", "7d"); seconds become bits with a bit rate, and without one they are
// measured by the arrival of the datagrams (the device streams in real time). Parsing is
// linear in the text and never throws.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/link/frame_filter.h"

namespace osc {

// A length of line time (bits) or of reception time (milliseconds).
struct TimeSpan {
    enum class Unit : std::uint8_t { Bits, Milliseconds };
    Unit unit = Unit::Milliseconds;
    double amount = 0;  // bits or milliseconds, >= 0

    static TimeSpan bits(double n) { return {Unit::Bits, n}; }
    static TimeSpan milliseconds(double ms) { return {Unit::Milliseconds, ms}; }
    static TimeSpan seconds(double s) { return {Unit::Milliseconds, s * 1000}; }
    // Ticks with a bit rate (bits a second) when the span is in seconds, else as it is;
    // nothing for a span in seconds without a rate.
    std::optional<Tick> ticks(std::optional<double> bitRate = std::nullopt) const;
    bool operator==(const TimeSpan&) const = default;
};

// The longest span taken: a year, or 2^40 bits.
inline constexpr double kMaxSpanMs = 365.0 * 86400 * 1000;
inline constexpr double kMaxSpanBits = 1099511627776.0;

// "30" (seconds unless defaultUnit says bits), "1.5s", "500ms", "15m", "15min", "2h", "7d",
// "4096b", "4096bit", "4096 bits"; blanks around and before the unit allowed. Nothing for
// anything else, a negative or a longer span than the limits above.
std::optional<TimeSpan> parseTimeSpan(std::string_view text,
                                      TimeSpan::Unit defaultUnit = TimeSpan::Unit::Milliseconds);
// "30 s", "500 ms", "15 min", "2 h", "7 d", "4096 bits": as the messages write a span.
std::string timeSpanText(const TimeSpan& span);

enum class TriggerKind : std::uint8_t { Frame, Silence, Loss };
// "frame", "silence", "loss": as the recorder's lines and files name the kinds.
std::string_view triggerKindName(TriggerKind kind);

struct TriggerCondition {
    TriggerKind kind = TriggerKind::Frame;
    std::string text;    // as written, blanks at the ends trimmed
    FrameFilter filter;  // Frame
    int channel = 0;     // Silence: the line
    TimeSpan silence;    // Silence: longer than this
};

struct TriggerParse {
    std::optional<TriggerCondition> condition;
    std::optional<FilterError> filterError;  // a filter expression that does not parse
    std::string error;  // English for the command line, or in the language asked for
    bool ok() const { return condition.has_value(); }
};

// One condition from its text; settings as for FrameFilter::parse (rt_ms needs the bit rate).
// An empty text is an error ("an empty trigger"), not a filter that passes every frame. The
// error reads in `language` (the window's trigger field shows it in Russian).
TriggerParse parseTrigger(std::string_view text, const FilterSettings& settings = {},
                          FilterLanguage language = FilterLanguage::English);

}  // namespace osc
