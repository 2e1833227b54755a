#include "core/link/frame_filter.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace osc {

namespace {

using Field = FrameFilter::Field;
using Op = FrameFilter::Op;
using Kind = FilterErrorKind;

enum class ValueKind : std::uint8_t { Number, Choice, Issue, Pattern };

struct Choice {
    std::string_view name;
    double value;
};

struct FieldInfo {
    std::string_view name;
    Field field;
    ValueKind kind;
    bool link;  // read from the link layer
};

constexpr std::array<FieldInfo, 18> kFields{{
    {"index", Field::Index, ValueKind::Number, false},
    {"channel", Field::Channel, ValueKind::Number, false},
    {"start", Field::Start, ValueKind::Number, false},
    {"end", Field::End, ValueKind::Number, false},
    {"bits", Field::Bits, ValueKind::Number, false},
    {"status", Field::Status, ValueKind::Choice, false},
    {"error", Field::Error, ValueKind::Choice, false},
    {"address", Field::Address, ValueKind::Number, true},
    {"type", Field::Type, ValueKind::Choice, true},
    {"command", Field::Command, ValueKind::Choice, true},
    {"ns", Field::Ns, ValueKind::Number, true},
    {"nr", Field::Nr, ValueKind::Number, true},
    {"pf", Field::Pf, ValueKind::Choice, true},
    {"role", Field::Role, ValueKind::Choice, true},
    {"issue", Field::Issue, ValueKind::Issue, true},
    {"rt", Field::Rt, ValueKind::Number, true},
    {"rt_ms", Field::RtMs, ValueKind::Number, true},
    {"bytes", Field::Bytes, ValueKind::Pattern, false},
}};

constexpr std::array<Choice, 3> kStatus{{
    {"good", static_cast<double>(CheckStatus::Good)},
    {"bad", static_cast<double>(CheckStatus::Bad)},
    {"none", static_cast<double>(CheckStatus::None)},
}};
constexpr std::array<Choice, 7> kErrors{{
    {"none", static_cast<double>(FrameError::None)},
    {"abort", static_cast<double>(FrameError::Abort)},
    {"misaligned", static_cast<double>(FrameError::Misaligned)},
    {"too_short", static_cast<double>(FrameError::TooShort)},
    {"bad_check", static_cast<double>(FrameError::BadCheck)},
    {"unfinished", static_cast<double>(FrameError::Unfinished)},
    {"too_long", static_cast<double>(FrameError::TooLong)},
}};
constexpr std::array<Choice, 3> kTypes{{
    {"I", static_cast<double>(LinkType::I)},
    {"S", static_cast<double>(LinkType::S)},
    {"U", static_cast<double>(LinkType::U)},
}};
constexpr std::array<Choice, 4> kPf{{{"true", 1}, {"false", 0}, {"1", 1}, {"0", 0}}};
constexpr std::array<Choice, 2> kRoles{{
    {"command", static_cast<double>(LinkRole::Command)},
    {"response", static_cast<double>(LinkRole::Response)},
}};
constexpr std::array<Choice, 5> kIssues{{
    {"no_answer", static_cast<double>(LinkIssue::NoAnswer)},
    {"unsolicited", static_cast<double>(LinkIssue::Unsolicited)},
    {"retransmission", static_cast<double>(LinkIssue::Retransmission)},
    {"sequence_gap", static_cast<double>(LinkIssue::SequenceGap)},
    {"none", 0},
}};
constexpr std::array<std::string_view, kChannelCount> kShortChannelNames = {"strobe", "tx", "rx1",
                                                                            "rx2"};

// Lower case for ASCII and for the Cyrillic letters of UTF-8 (А-Я, Ё), so that names compare
// in any letter case.
std::string folded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
        } else if (c == 0xD0 && i + 1 < text.size()) {
            const auto d = static_cast<unsigned char>(text[i + 1]);
            ++i;
            if (d >= 0x90 && d <= 0x9F) {
                out += '\xD0';
                out += static_cast<char>(d + 0x20);
            } else if (d >= 0xA0 && d <= 0xAF) {
                out += '\xD1';
                out += static_cast<char>(d - 0x20);
            } else if (d == 0x81) {
                out += "\xD1\x91";
            } else {
                out += '\xD0';
                out += static_cast<char>(d);
            }
        } else if (c == ' ' || c == '-') {
            out += '_';  // "bad check", "bad-check" and bad_check alike
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool isIdentStart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u >= 0x80;
}
bool isIdentPart(char c) {
    return isIdentStart(c) || (c >= '0' && c <= '9');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::size_t columnOf(std::string_view text, std::size_t offset) {
    std::size_t column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return column;
}

// At most 24 characters of text, whole UTF-8 sequences only.
std::string shortened(std::string_view text) {
    std::size_t chars = 0;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && ++chars > 24) {
            return std::string(text.substr(0, i)) + "…";
        }
    }
    return std::string(text);
}

enum class Tok : std::uint8_t {
    End,
    Ident,
    Number,
    String,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Tilde,
    And,
    Or,
    Not,
    LParen,
    RParen,
};

struct Token {
    Tok type = Tok::End;
    std::size_t offset = 0;
    std::string_view text;
};

std::string_view opText(Op op) {
    switch (op) {
        case Op::Eq:
            return "==";
        case Op::Ne:
            return "!=";
        case Op::Lt:
            return "<";
        case Op::Le:
            return "<=";
        case Op::Gt:
            return ">";
        case Op::Ge:
            return ">=";
        case Op::Match:
            return "~";
        default:
            return "";
    }
}

}  // namespace

// The parser: a lexer reading one token ahead and a recursive descent over the grammar.
class FilterParser {
  public:
    FilterParser(std::string_view text, const FilterSettings& settings, FrameFilter& out)
        : text_(text), settings_(settings), out_(out) {}

    std::optional<FilterError> run() {
        if (!advance()) {
            return error_;
        }
        if (token_.type == Tok::End) {
            return std::nullopt;  // blank: every frame
        }
        if (!parseOr(0)) {
            return error_;
        }
        if (token_.type != Tok::End) {
            fail(Kind::ExpectedEnd, token_);
            return error_;
        }
        return std::nullopt;
    }

  private:
    // Sets the error at a token (found: its text) and returns false.
    bool fail(Kind kind, const Token& at, std::string_view subject = {}) {
        return failAt(kind, at.offset, at.type == Tok::End ? std::string_view() : at.text, subject);
    }
    bool failAt(Kind kind, std::size_t offset, std::string_view found, std::string_view subject) {
        error_ = FilterError{kind, offset, columnOf(text_, offset), shortened(found),
                             std::string(subject)};
        return false;
    }

    // The next token into token_; false after a lexical error.
    bool advance() {
        std::size_t i = pos_;
        while (i < text_.size() &&
               (text_[i] == ' ' || text_[i] == '\t' || text_[i] == '\n' || text_[i] == '\r')) {
            ++i;
        }
        token_ = Token{Tok::End, i, {}};
        if (i >= text_.size()) {
            pos_ = i;
            return true;
        }
        const char c = text_[i];
        const char n = i + 1 < text_.size() ? text_[i + 1] : '\0';
        std::size_t end = i + 1;
        Tok type = Tok::End;
        if (isIdentStart(c)) {
            while (end < text_.size() && isIdentPart(text_[end])) {
                ++end;
            }
            type = Tok::Ident;
        } else if (isDigit(c) || (c == '.' && isDigit(n))) {
            while (end < text_.size() && (isIdentPart(text_[end]) || text_[end] == '.')) {
                ++end;
            }
            type = Tok::Number;
        } else if (c == '"') {
            while (end < text_.size() && text_[end] != '"') {
                ++end;
            }
            if (end >= text_.size()) {
                return failAt(Kind::UnclosedQuote, i, text_.substr(i), {});
            }
            ++end;
            type = Tok::String;
        } else if (c == '=' && n == '=') {
            type = Tok::Eq, end = i + 2;
        } else if (c == '!' && n == '=') {
            type = Tok::Ne, end = i + 2;
        } else if (c == '<') {
            type = n == '=' ? Tok::Le : Tok::Lt, end = n == '=' ? i + 2 : i + 1;
        } else if (c == '>') {
            type = n == '=' ? Tok::Ge : Tok::Gt, end = n == '=' ? i + 2 : i + 1;
        } else if (c == '&' && n == '&') {
            type = Tok::And, end = i + 2;
        } else if (c == '|' && n == '|') {
            type = Tok::Or, end = i + 2;
        } else if (c == '~') {
            type = Tok::Tilde;
        } else if (c == '!') {
            type = Tok::Not;
        } else if (c == '(') {
            type = Tok::LParen;
        } else if (c == ')') {
            type = Tok::RParen;
        } else {
            const Kind kind = c == '='   ? Kind::LoneEquals
                              : c == '&' ? Kind::LoneAmpersand
                              : c == '|' ? Kind::LonePipe
                                         : Kind::UnexpectedCharacter;
            // The whole character, however many bytes it takes.
            std::size_t len = 1;
            while (i + len < text_.size() &&
                   (static_cast<unsigned char>(text_[i + len]) & 0xC0) == 0x80) {
                ++len;
            }
            return failAt(kind, i, text_.substr(i, len), {});
        }
        token_ = Token{type, i, text_.substr(i, end - i)};
        pos_ = end;
        return true;
    }

    std::uint32_t add(const FrameFilter::Node& node) {
        out_.nodes_.push_back(node);
        return static_cast<std::uint32_t>(out_.nodes_.size() - 1);
    }

    // A chain of operands joined by one operator: one node over all of them, so that a long
    // chain costs no depth.
    bool parseChain(Op op, int depth) {
        std::vector<std::uint32_t> operands;
        const Tok joiner = op == Op::Or ? Tok::Or : Tok::And;
        for (;;) {
            if (!(op == Op::Or ? parseChain(Op::And, depth) : parseUnary(depth))) {
                return false;
            }
            operands.push_back(static_cast<std::uint32_t>(out_.nodes_.size() - 1));
            if (token_.type != joiner) {
                break;
            }
            if (!advance()) {
                return false;
            }
        }
        if (operands.size() > 1) {
            FrameFilter::Node node;
            node.op = op;
            node.a = static_cast<std::uint32_t>(out_.children_.size());
            node.b = static_cast<std::uint32_t>(operands.size());
            out_.children_.insert(out_.children_.end(), operands.begin(), operands.end());
            add(node);
        }
        return true;
    }
    bool parseOr(int depth) { return parseChain(Op::Or, depth); }

    bool parseUnary(int depth) {
        if (depth >= kMaxFilterDepth) {
            return fail(Kind::TooDeep, token_);
        }
        if (token_.type == Tok::Not) {
            if (!advance() || !parseUnary(depth + 1)) {
                return false;
            }
            FrameFilter::Node node;
            node.op = Op::Not;
            node.a = static_cast<std::uint32_t>(out_.nodes_.size() - 1);
            add(node);
            return true;
        }
        if (token_.type == Tok::LParen) {
            if (!advance() || !parseOr(depth + 1)) {
                return false;
            }
            if (token_.type != Tok::RParen) {
                return fail(Kind::ExpectedClosingParen, token_);
            }
            return advance();
        }
        return parseComparison();
    }

    const FieldInfo* fieldNamed(std::string_view name) const {
        const std::string f = folded(name);
        for (const FieldInfo& info : kFields) {
            if (f == info.name) {
                return &info;
            }
        }
        return nullptr;
    }

    bool parseComparison() {
        if (token_.type != Tok::Ident) {
            return fail(Kind::ExpectedField, token_);
        }
        const FieldInfo* field = fieldNamed(token_.text);
        if (field == nullptr) {
            return fail(Kind::UnknownField, token_);
        }
        if (field->field == Field::RtMs &&
            !(settings_.bitRate && *settings_.bitRate > 0 && std::isfinite(*settings_.bitRate))) {
            return fail(Kind::NeedsBitRate, token_, field->name);
        }
        out_.needsLink_ = out_.needsLink_ || field->link;
        if (!advance()) {
            return false;
        }
        Op op = Op::Eq;
        switch (token_.type) {
            case Tok::Eq:
                op = Op::Eq;
                break;
            case Tok::Ne:
                op = Op::Ne;
                break;
            case Tok::Lt:
                op = Op::Lt;
                break;
            case Tok::Le:
                op = Op::Le;
                break;
            case Tok::Gt:
                op = Op::Gt;
                break;
            case Tok::Ge:
                op = Op::Ge;
                break;
            case Tok::Tilde:
                op = Op::Match;
                break;
            default:
                return fail(field->kind == ValueKind::Pattern ? Kind::ExpectedMatch
                                                              : Kind::ExpectedComparison,
                            token_, field->name);
        }
        const bool ordered = op != Op::Eq && op != Op::Ne && op != Op::Match;
        if ((field->kind == ValueKind::Pattern) != (op == Op::Match) ||
            (ordered && field->kind != ValueKind::Number)) {
            return fail(Kind::OperatorNotAllowed, token_, field->name);
        }
        if (!advance()) {
            return false;
        }
        const Token value = token_;
        if (value.type != Tok::Ident && value.type != Tok::Number && value.type != Tok::String) {
            if (op == Op::Match) {
                return fail(Kind::ExpectedPattern, value);
            }
            return fail(Kind::ExpectedValue, value, opText(op));
        }
        FrameFilter::Node node;
        node.op = op;
        node.field = field->field;
        if (op == Op::Match) {
            if (value.type != Tok::String) {
                return fail(Kind::ExpectedPattern, value);
            }
            if (!parsePattern(value, node)) {
                return false;
            }
        } else if (!parseValue(*field, value, node.value)) {
            return false;
        }
        add(node);
        return advance();
    }

    // The text of a value token: a string without its quotes.
    static std::string_view inner(const Token& t) {
        return t.type == Tok::String ? t.text.substr(1, t.text.size() - 2) : t.text;
    }

    bool parseNumber(const Token& t, double& out) {
        const std::string_view s = t.text;
        if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            std::uint64_t v = 0;
            const auto r = std::from_chars(s.data() + 2, s.data() + s.size(), v, 16);
            if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
                return fail(Kind::BadNumber, t);
            }
            out = static_cast<double>(v);
            return true;
        }
        const auto r =
            std::from_chars(s.data(), s.data() + s.size(), out, std::chars_format::fixed);
        if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(out)) {
            return fail(Kind::BadNumber, t);
        }
        return true;
    }

    template <std::size_t N>
    bool choose(const std::array<Choice, N>& choices, const FieldInfo& field, const Token& t,
                double& out) {
        const std::string v = folded(inner(t));
        for (const Choice& c : choices) {
            if (v == folded(c.name)) {
                out = c.value;
                return true;
            }
        }
        return fail(Kind::BadValue, t, field.name);
    }

    bool parseValue(const FieldInfo& field, const Token& t, double& out) {
        switch (field.field) {
            case Field::Status:
                return choose(kStatus, field, t, out);
            case Field::Error:
                return choose(kErrors, field, t, out);
            case Field::Type:
                return choose(kTypes, field, t, out);
            case Field::Pf:
                return choose(kPf, field, t, out);
            case Field::Role:
                return choose(kRoles, field, t, out);
            case Field::Issue:
                return choose(kIssues, field, t, out);
            case Field::Command: {
                const LinkCommand c = linkCommandFromName(inner(t));
                if (c == LinkCommand::None) {
                    return fail(Kind::BadValue, t, field.name);
                }
                out = static_cast<double>(c);
                return true;
            }
            case Field::Channel:
                if (t.type != Tok::Number) {
                    const std::string v = folded(inner(t));
                    for (int c = 0; c < kChannelCount; ++c) {
                        const auto i = static_cast<std::size_t>(c);
                        if (v == folded(kChannels[i].name) || v == kShortChannelNames[i]) {
                            out = c;
                            return true;
                        }
                    }
                    return fail(Kind::BadValue, t, field.name);
                }
                return parseNumber(t, out);
            default:
                if (t.type != Tok::Number) {
                    return fail(Kind::ExpectedNumber, t, field.name);
                }
                return parseNumber(t, out);
        }
    }

    bool parsePattern(const Token& t, FrameFilter::Node& node) {
        const std::string_view p = inner(t);
        const std::size_t base = t.offset + 1;
        node.a = static_cast<std::uint32_t>(out_.patterns_.size());
        std::size_t count = 0;
        std::size_t i = 0;
        while (i < p.size()) {
            if (p[i] == ' ' || p[i] == '\t') {
                ++i;
                continue;
            }
            const char c0 = p[i];
            const char c1 = i + 1 < p.size() ? p[i + 1] : '\0';
            std::int16_t byte = 0;
            if (c0 == '?' && c1 == '?') {
                byte = -1;
            } else if (hexDigit(c0) >= 0 && hexDigit(c1) >= 0) {
                byte = static_cast<std::int16_t>(hexDigit(c0) * 16 + hexDigit(c1));
            } else {
                std::size_t len = 1;
                while (i + len < p.size() && len < 2) {
                    ++len;
                }
                // Whole characters only in the text shown.
                while (i + len < p.size() &&
                       (static_cast<unsigned char>(p[i + len]) & 0xC0) == 0x80) {
                    ++len;
                }
                return failAt(Kind::BadPattern, base + i, p.substr(i, len), {});
            }
            if (++count > kMaxPatternBytes) {
                return failAt(Kind::PatternTooLong, t.offset, t.text, {});
            }
            out_.patterns_.push_back(byte);
            i += 2;
        }
        if (count == 0) {
            return failAt(Kind::EmptyPattern, t.offset, t.text, {});
        }
        node.b = static_cast<std::uint32_t>(count);
        return true;
    }

    std::string_view text_;
    const FilterSettings& settings_;
    FrameFilter& out_;
    std::size_t pos_ = 0;
    Token token_;
    FilterError error_;
};

FilterParse FrameFilter::parse(std::string_view text, const FilterSettings& settings) {
    FilterParse result;
    FilterParser parser(text, settings, result.filter);
    if (std::optional<FilterError> e = parser.run()) {
        result.filter = FrameFilter();
        result.error = std::move(e);
        return result;
    }
    result.filter.bitRate_ = settings.bitRate.value_or(0);
    return result;
}

namespace {

bool compare(Op op, double v, double value) {
    switch (op) {
        case Op::Eq:
            return v == value;
        case Op::Ne:
            return v != value;
        case Op::Lt:
            return v < value;
        case Op::Le:
            return v <= value;
        case Op::Gt:
            return v > value;
        case Op::Ge:
            return v >= value;
        default:
            return false;
    }
}

bool matchAt(const std::uint8_t* bytes, const std::int16_t* pattern, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        if (pattern[k] >= 0 && bytes[k] != pattern[k]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool FrameFilter::matches(const FrameRecord& record) const {
    return nodes_.empty() || eval(nodes_.size() - 1, record);
}

bool FrameFilter::eval(std::size_t index, const FrameRecord& r) const {
    const Node& n = nodes_[index];
    const Frame& f = *r.frame;
    const LinkFields& lf = r.fields;
    double v = 0;
    switch (n.op) {
        case Op::And:
            for (std::uint32_t k = 0; k < n.b; ++k) {
                if (!eval(children_[n.a + k], r)) {
                    return false;
                }
            }
            return true;
        case Op::Or:
            for (std::uint32_t k = 0; k < n.b; ++k) {
                if (eval(children_[n.a + k], r)) {
                    return true;
                }
            }
            return false;
        case Op::Not:
            return !eval(n.a, r);
        case Op::Match: {
            const std::size_t m = n.b;
            const std::size_t size = f.bytes.size();
            if (m > size) {
                return false;
            }
            const std::int16_t* pattern = patterns_.data() + n.a;
            const std::uint8_t* bytes = f.bytes.data();
            // The first byte that is not a wildcard is looked for with memchr.
            std::size_t lead = 0;
            while (lead < m && pattern[lead] < 0) {
                ++lead;
            }
            if (lead == m) {
                return true;
            }
            const auto first = static_cast<unsigned char>(pattern[lead]);
            std::size_t at = lead;
            const std::size_t last = size - m + lead;  // the last place the lead byte may be
            while (at <= last) {
                const void* hit = std::memchr(bytes + at, first, last - at + 1);
                if (hit == nullptr) {
                    return false;
                }
                at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - bytes);
                if (matchAt(bytes + at - lead, pattern, m)) {
                    return true;
                }
                ++at;
            }
            return false;
        }
        default:
            break;
    }
    switch (n.field) {
        case Field::Index:
            v = static_cast<double>(r.index);
            break;
        case Field::Channel:
            v = f.channel;
            break;
        case Field::Start:
            v = static_cast<double>(f.start) / kTicksPerBit;
            break;
        case Field::End:
            v = static_cast<double>(f.end) / kTicksPerBit;
            break;
        case Field::Bits:
            v = f.bitCount;
            break;
        case Field::Status:
            v = static_cast<double>(f.status);
            break;
        case Field::Error:
            v = static_cast<double>(f.error);
            break;
        case Field::Address:
            if (!lf.hasAddress()) {
                return false;
            }
            v = lf.address;
            break;
        case Field::Type:
            if (!lf.valid()) {
                return false;
            }
            v = static_cast<double>(lf.type);
            break;
        case Field::Command:
            if (lf.command == LinkCommand::None) {
                return false;
            }
            v = static_cast<double>(lf.command);
            break;
        case Field::Ns:
            if (!lf.hasNs()) {
                return false;
            }
            v = lf.ns;
            break;
        case Field::Nr:
            if (!lf.hasNr()) {
                return false;
            }
            v = lf.nr;
            break;
        case Field::Pf:
            if (!lf.valid()) {
                return false;
            }
            v = lf.pf ? 1 : 0;
            break;
        case Field::Role:
            if (lf.role == LinkRole::None) {
                return false;
            }
            v = static_cast<double>(lf.role);
            break;
        case Field::Issue: {
            const bool has = n.value == 0
                                 ? r.info.issues == 0
                                 : (r.info.issues & static_cast<std::uint8_t>(n.value)) != 0;
            return n.op == Op::Eq ? has : !has;
        }
        case Field::Rt:
            if (!r.responseTime) {
                return false;
            }
            v = static_cast<double>(*r.responseTime) / kTicksPerBit;
            break;
        case Field::RtMs:
            if (!r.responseTime) {
                return false;
            }
            v = static_cast<double>(*r.responseTime) / kTicksPerBit / bitRate_ * 1000.0;
            break;
        case Field::Bytes:
            return false;
    }
    return compare(n.op, v, n.value);
}

// ---- Messages ----------------------------------------------------------------------------------

namespace {

std::string quotedEn(std::string_view s) {
    return "'" + std::string(s) + "'";
}
std::string quotedRu(std::string_view s) {
    return "«" + std::string(s) + "»";
}
std::string foundEn(const FilterError& e) {
    return e.found.empty() ? "found the end" : "found " + quotedEn(e.found);
}
std::string foundRu(const FilterError& e) {
    return e.found.empty() ? "а выражение закончилось" : "а найдено " + quotedRu(e.found);
}

std::string fieldList() {
    std::string out;
    for (const FieldInfo& f : kFields) {
        out += out.empty() ? "" : ", ";
        out += f.name;
    }
    return out;
}

// The values a field takes, for the messages: "good, bad, none".
std::string valuesOf(std::string_view field) {
    auto join = [](const auto& choices) {
        std::string out;
        for (const Choice& c : choices) {
            out += out.empty() ? "" : ", ";
            out += c.name;
        }
        return out;
    };
    if (field == "status") {
        return join(kStatus);
    }
    if (field == "error") {
        return join(kErrors);
    }
    if (field == "type") {
        return join(kTypes);
    }
    if (field == "pf") {
        return join(kPf);
    }
    if (field == "role") {
        return join(kRoles);
    }
    if (field == "issue") {
        return join(kIssues);
    }
    if (field == "command") {
        std::string out;
        for (int c = 1; c < kLinkCommandCount; ++c) {
            out += out.empty() ? "" : ", ";
            out += linkCommandName(static_cast<LinkCommand>(c));
        }
        return out;
    }
    if (field == "channel") {
        std::string out = "0-3";
        for (const ChannelInfo& channel : kChannels) {
            out += ", ";
            out += channel.name;
        }
        for (const std::string_view s : kShortChannelNames) {
            out += ", ";
            out += s;
        }
        return out;
    }
    return "";
}

// The operators a field takes: "==, !=" or all six comparisons, or "~".
std::string operatorsOf(std::string_view field, bool russian) {
    for (const FieldInfo& f : kFields) {
        if (f.name == field) {
            if (f.kind == ValueKind::Pattern) {
                return "~";
            }
            if (f.kind != ValueKind::Number) {
                return russian ? "== или !=" : "== or !=";
            }
        }
    }
    return russian ? "==, !=, <, <=, > или >=" : "==, !=, <, <=, > or >=";
}

std::string english(const FilterError& e) {
    switch (e.kind) {
        case Kind::UnexpectedCharacter:
            return "unexpected character " + quotedEn(e.found);
        case Kind::LoneEquals:
            return "'=' is not an operator: write == to compare";
        case Kind::LoneAmpersand:
            return "'&' is not an operator: write && for 'and'";
        case Kind::LonePipe:
            return "'|' is not an operator: write || for 'or'";
        case Kind::UnclosedQuote:
            return "the quoted text has no closing quote";
        case Kind::ExpectedField:
            return "expected a field name, " + foundEn(e);
        case Kind::UnknownField:
            return "unknown field " + quotedEn(e.found) + " (fields: " + fieldList() + ")";
        case Kind::ExpectedComparison:
            return "expected ==, !=, <, <=, > or >= after " + quotedEn(e.subject) + ", " +
                   foundEn(e);
        case Kind::ExpectedMatch:
            return "expected ~ and a byte pattern in quotes after 'bytes', " + foundEn(e);
        case Kind::OperatorNotAllowed:
            return quotedEn(e.found) + " does not apply to " + quotedEn(e.subject) + ": use " +
                   operatorsOf(e.subject, false);
        case Kind::ExpectedValue:
            return "expected a value after " + quotedEn(e.subject) + ", " + foundEn(e);
        case Kind::ExpectedNumber:
            return quotedEn(e.subject) + " takes a number, " + foundEn(e);
        case Kind::BadNumber:
            return quotedEn(e.found) + " is not a number";
        case Kind::BadValue:
            return quotedEn(e.found) + " is not a value of " + quotedEn(e.subject) + " (" +
                   valuesOf(e.subject) + ")";
        case Kind::ExpectedPattern:
            return "expected a byte pattern in quotes after '~' (such as \"01 3E ?? 7E\"), " +
                   foundEn(e);
        case Kind::BadPattern:
            return "bad byte pattern: " + quotedEn(e.found) + " is neither two hex digits nor ??";
        case Kind::EmptyPattern:
            return "the byte pattern is empty";
        case Kind::PatternTooLong:
            return "the byte pattern is longer than " + std::to_string(kMaxPatternBytes) + " bytes";
        case Kind::ExpectedClosingParen:
            return "expected ')', " + foundEn(e);
        case Kind::ExpectedEnd:
            return "expected &&, || or the end, " + foundEn(e);
        case Kind::NeedsBitRate:
            return quotedEn(e.subject) + " needs a bit rate";
        case Kind::TooDeep:
            return "the expression is nested more than " + std::to_string(kMaxFilterDepth) +
                   " deep";
    }
    return "";
}

std::string russian(const FilterError& e) {
    switch (e.kind) {
        case Kind::UnexpectedCharacter:
            return "недопустимый символ " + quotedRu(e.found);
        case Kind::LoneEquals:
            return "«=» — не оператор: для сравнения пишите ==";
        case Kind::LoneAmpersand:
            return "«&» — не оператор: для «и» пишите &&";
        case Kind::LonePipe:
            return "«|» — не оператор: для «или» пишите ||";
        case Kind::UnclosedQuote:
            return "нет закрывающей кавычки";
        case Kind::ExpectedField:
            return "ожидалось имя поля, " + foundRu(e);
        case Kind::UnknownField:
            return "неизвестное поле " + quotedRu(e.found) + " (поля: " + fieldList() + ")";
        case Kind::ExpectedComparison:
            return "после " + quotedRu(e.subject) + " ожидалось ==, !=, <, <=, > или >=, " +
                   foundRu(e);
        case Kind::ExpectedMatch:
            return "после «bytes» ожидались ~ и образец байтов в кавычках, " + foundRu(e);
        case Kind::OperatorNotAllowed:
            return quotedRu(e.found) + " не применяется к полю " + quotedRu(e.subject) +
                   ": используйте " + operatorsOf(e.subject, true);
        case Kind::ExpectedValue:
            return "после " + quotedRu(e.subject) + " ожидалось значение, " + foundRu(e);
        case Kind::ExpectedNumber:
            return "поле " + quotedRu(e.subject) + " сравнивается с числом, " + foundRu(e);
        case Kind::BadNumber:
            return quotedRu(e.found) + " — не число";
        case Kind::BadValue:
            return quotedRu(e.found) + " — не значение поля " + quotedRu(e.subject) + " (" +
                   valuesOf(e.subject) + ")";
        case Kind::ExpectedPattern:
            return "после «~» ожидался образец байтов в кавычках (например, \"01 3E ?? 7E\"), " +
                   foundRu(e);
        case Kind::BadPattern:
            return "неверный образец байтов: " + quotedRu(e.found) +
                   " — не две шестнадцатеричные цифры и не ??";
        case Kind::EmptyPattern:
            return "образец байтов пуст";
        case Kind::PatternTooLong:
            return "образец байтов длиннее " + std::to_string(kMaxPatternBytes) + " байт";
        case Kind::ExpectedClosingParen:
            return "ожидалась «)», " + foundRu(e);
        case Kind::ExpectedEnd:
            return "ожидалось &&, || или конец выражения, " + foundRu(e);
        case Kind::NeedsBitRate:
            return "для поля " + quotedRu(e.subject) + " нужна скорость передачи";
        case Kind::TooDeep:
            return "вложенность выражения глубже " + std::to_string(kMaxFilterDepth);
    }
    return "";
}

}  // namespace

std::string filterErrorText(const FilterError& error, FilterLanguage language) {
    if (language == FilterLanguage::Russian) {
        return "позиция " + std::to_string(error.column) + ": " + russian(error);
    }
    return "position " + std::to_string(error.column) + ": " + english(error);
}

}  // namespace osc
