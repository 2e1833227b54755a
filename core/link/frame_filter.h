#pragma once
// The filter language of the frames: one parser and evaluator for the frames table, the
// command-line tool and the recorder's triggers.
//
//   expression := or;   or := and ("||" and)*;   and := unary ("&&" unary)*
//   unary      := "!" unary | "(" or ")" | FIELD OP VALUE | "bytes" "~" "PATTERN"
//
// Fields (names in any letter case): index (the frame's number "№"), channel (0 to 3, or a
// line's name: "Передача", tx, ...), start, end (bits, as the readouts write positions), bits,
// status (good, bad, none), error (none, abort, misaligned, too_short, bad_check, unfinished,
// too_long; or in quotes with a space), address, type (I, S, U), command (RR, SNRM, ...), ns,
// nr, pf (true, false, 1, 0), role (command, response), issue (no_answer, unsolicited,
// retransmission, sequence_gap, none), rt (the response time of an answer, bits) and, with a
// bit rate, rt_ms (milliseconds). OP is == != < <= > >= for numbers, == != for the others.
// Numbers are decimal (fractions allowed) or 0x hex. A frame that lacks a field (a bad frame's
// address, an S frame's ns, a response time where there is no answer) fails every comparison
// on it, != included; "issue == x" holds when x is one of the frame's issues. PATTERN is hex
// bytes with ?? for any byte ("01 3E ?? 7E", blanks optional, at most kMaxPatternBytes),
// matched anywhere in the frame's bytes (check included).
//
// Parsing is linear in the text; nesting is limited to kMaxFilterDepth. Evaluating is linear
// in the expression (a pattern: in the frame's bytes times the pattern's length), with no
// allocation. A filter is a plain value: copy it, keep it, use it from any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/frames/frame_decoder.h"
#include "core/link/link_analysis.h"
#include "core/link/link_fields.h"

namespace osc {

inline constexpr int kMaxFilterDepth = 64;
inline constexpr std::size_t kMaxPatternBytes = 64;

// One frame as the filter sees it.
struct FrameRecord {
    std::uint64_t index = 0;  // "№": 1 for the first frame in order of start
    const Frame* frame = nullptr;
    LinkFields fields;  // linkFields(*frame, options)
    LinkInfo info;
    std::optional<Tick> responseTime;  // of a response that answers a command
    std::uint64_t answerTo = 0;        // that command's "№"; 0: none
};

struct FilterSettings {
    std::optional<double> bitRate;  // bits a second; rt_ms needs it
};

enum class FilterErrorKind : std::uint8_t {
    UnexpectedCharacter,  // found: the character
    LoneEquals,           // "=" where "==" was meant
    LoneAmpersand,        // "&"
    LonePipe,             // "|"
    UnclosedQuote,        // a quoted text runs to the end
    ExpectedField,        // found
    UnknownField,         // found: the name
    ExpectedComparison,   // subject: the field; found
    ExpectedMatch,        // "bytes" without "~"; found
    OperatorNotAllowed,   // subject: the field; found: the operator
    ExpectedValue,        // subject: the operator; found
    ExpectedNumber,       // subject: the field; found
    BadNumber,            // found: the text
    BadValue,             // subject: the field; found: the value
    ExpectedPattern,      // found
    BadPattern,           // found: the part that is neither two hex digits nor ??
    EmptyPattern,
    PatternTooLong,
    ExpectedClosingParen,  // found
    ExpectedEnd,           // found
    NeedsBitRate,          // subject: the field
    TooDeep,
};

struct FilterError {
    FilterErrorKind kind = FilterErrorKind::UnexpectedCharacter;
    std::size_t offset = 0;  // bytes into the text
    std::size_t column = 1;  // characters into the text, from 1
    std::string found;       // the text found there (at most 24 characters); empty at the end
    std::string subject;     // the field or operator the message is about
    bool operator==(const FilterError&) const = default;
};

enum class FilterLanguage : std::uint8_t { English, Russian };

// "position 9: expected a value after '==', found the end" (the command-line tool);
// "позиция 9: после «==» ожидалось значение, а выражение закончилось" (the window).
std::string filterErrorText(const FilterError& error, FilterLanguage language);

class FrameFilter;

struct FilterParse;

class FrameFilter {
  public:
    // Matches every frame.
    FrameFilter() = default;

    // An empty (or blank) text gives the filter that matches every frame.
    static FilterParse parse(std::string_view text, const FilterSettings& settings = {});

    bool matches(const FrameRecord& record) const;
    bool empty() const { return nodes_.empty(); }
    // Whether the filter reads a field of the link layer (address to rt_ms), so that a caller
    // can leave fields and info out of the records otherwise.
    bool needsLink() const { return needsLink_; }
    double bitRate() const { return bitRate_; }

    enum class Field : std::uint8_t;
    enum class Op : std::uint8_t;
    struct Node;

  private:
    friend class FilterParser;
    bool eval(std::size_t node, const FrameRecord& r) const;

    std::vector<Node> nodes_;              // the root last
    std::vector<std::uint32_t> children_;  // the operands of And and Or nodes
    std::vector<std::int16_t> patterns_;   // bytes, -1 for ??, of every pattern one after another
    bool needsLink_ = false;
    double bitRate_ = 0;
};

enum class FrameFilter::Field : std::uint8_t {
    Index,
    Channel,
    Start,
    End,
    Bits,
    Status,
    Error,
    Address,
    Type,
    Command,
    Ns,
    Nr,
    Pf,
    Role,
    Issue,
    Rt,
    RtMs,
    Bytes,
};

enum class FrameFilter::Op : std::uint8_t { And, Or, Not, Eq, Ne, Lt, Le, Gt, Ge, Match };

struct FrameFilter::Node {
    Op op = Op::Eq;
    Field field = Field::Index;
    std::uint32_t a = 0;  // And, Or: first operand in children_; Not: its node; Match: first
                          // pattern byte
    std::uint32_t b = 0;  // And, Or: operands; Match: pattern bytes
    double value = 0;     // a comparison's value (enumerations as their numbers)
};

struct FilterParse {
    FrameFilter filter;
    std::optional<FilterError> error;
    bool ok() const { return !error.has_value(); }
};

}  // namespace osc
