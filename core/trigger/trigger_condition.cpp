#include "core/trigger/trigger_condition.h"

#include <cmath>
#include <cstdio>

namespace osc {

namespace {

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) {
        t.remove_prefix(1);
    }
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r')) {
        t.remove_suffix(1);
    }
    return t;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// A plain decimal number ("12", "1.5", ".5"); nothing for anything else.
std::optional<double> decimal(std::string_view t) {
    if (t.empty() || t.size() > 32) {
        return std::nullopt;
    }
    double value = 0;
    double scale = 0;  // 0 before the point, then 0.1, 0.01, ...
    bool digits = false;
    for (const char c : t) {
        if (c >= '0' && c <= '9') {
            digits = true;
            if (scale == 0) {
                value = value * 10 + (c - '0');
            } else {
                value += (c - '0') * scale;
                scale /= 10;
            }
        } else if (c == '.' && scale == 0) {
            scale = 0.1;
        } else {
            return std::nullopt;
        }
    }
    return digits ? std::optional<double>(value) : std::nullopt;
}

}  // namespace

std::optional<Tick> TimeSpan::ticks(std::optional<double> bitRate) const {
    if (unit == Unit::Bits) {
        return static_cast<Tick>(std::llround(amount * kTicksPerBit));
    }
    if (!bitRate || !(*bitRate > 0)) {
        return std::nullopt;
    }
    return static_cast<Tick>(std::llround(amount / 1000 * *bitRate * kTicksPerBit));
}

std::optional<TimeSpan> parseTimeSpan(std::string_view text, TimeSpan::Unit defaultUnit) {
    text = trimmed(text);
    std::size_t split = 0;
    while (split < text.size() &&
           ((text[split] >= '0' && text[split] <= '9') || text[split] == '.')) {
        ++split;
    }
    const std::optional<double> number = decimal(text.substr(0, split));
    if (!number) {
        return std::nullopt;
    }
    const std::string_view unit = trimmed(text.substr(split));
    struct Unit {
        std::string_view name;
        TimeSpan::Unit unit;
        double factor;
    };
    static constexpr Unit kUnits[] = {
        {"ms", TimeSpan::Unit::Milliseconds, 1},
        {"s", TimeSpan::Unit::Milliseconds, 1e3},
        {"m", TimeSpan::Unit::Milliseconds, 60e3},
        {"min", TimeSpan::Unit::Milliseconds, 60e3},
        {"h", TimeSpan::Unit::Milliseconds, 3600e3},
        {"d", TimeSpan::Unit::Milliseconds, 86400e3},
        {"b", TimeSpan::Unit::Bits, 1},
        {"bit", TimeSpan::Unit::Bits, 1},
        {"bits", TimeSpan::Unit::Bits, 1},
    };
    TimeSpan span;
    if (unit.empty()) {
        span.unit = defaultUnit;
        span.amount = defaultUnit == TimeSpan::Unit::Bits ? *number : *number * 1000;
    } else {
        bool known = false;
        for (const Unit& u : kUnits) {
            if (equalsFolded(unit, u.name)) {
                span.unit = u.unit;
                span.amount = *number * u.factor;
                known = true;
                break;
            }
        }
        if (!known) {
            return std::nullopt;
        }
    }
    const double limit = span.unit == TimeSpan::Unit::Bits ? kMaxSpanBits : kMaxSpanMs;
    if (!(span.amount >= 0 && span.amount <= limit)) {
        return std::nullopt;
    }
    return span;
}

std::string timeSpanText(const TimeSpan& span) {
    char text[64];
    if (span.unit == TimeSpan::Unit::Bits) {
        std::snprintf(text, sizeof text, "%g bits", span.amount);
    } else if (span.amount < 1000) {
        std::snprintf(text, sizeof text, "%g ms", span.amount);
    } else if (span.amount >= 86400e3 && std::fmod(span.amount, 86400e3) == 0) {
        std::snprintf(text, sizeof text, "%g d", span.amount / 86400e3);
    } else if (span.amount >= 3600e3 && std::fmod(span.amount, 3600e3) == 0) {
        std::snprintf(text, sizeof text, "%g h", span.amount / 3600e3);
    } else if (span.amount >= 60e3 && std::fmod(span.amount, 60e3) == 0) {
        std::snprintf(text, sizeof text, "%g min", span.amount / 60e3);
    } else {
        std::snprintf(text, sizeof text, "%g s", span.amount / 1000);
    }
    return text;
}

std::string_view triggerKindName(TriggerKind kind) {
    switch (kind) {
        case TriggerKind::Frame:
            return "frame";
        case TriggerKind::Silence:
            return "silence";
        case TriggerKind::Loss:
            return "loss";
    }
    return "";
}

namespace {

// The line of "silent(LINE)", named as the filter's channel field takes it.
std::optional<int> lineNamed(std::string_view name) {
    const FilterParse parse = FrameFilter::parse("channel == " + std::string(name));
    if (!parse.ok() || name.find_first_of("=!<>&|()") != std::string_view::npos) {
        return std::nullopt;
    }
    for (int c = 0; c < kChannelCount; ++c) {
        Frame frame;
        frame.channel = c;
        FrameRecord record;
        record.frame = &frame;
        if (parse.filter.matches(record)) {
            return c;
        }
    }
    return std::nullopt;
}

}  // namespace

TriggerParse parseTrigger(std::string_view text, const FilterSettings& settings,
                          FilterLanguage language) {
    const bool ru = language == FilterLanguage::Russian;
    TriggerParse out;
    const std::string_view t = trimmed(text);
    if (t.empty()) {
        out.error = ru ? "пустое условие" : "an empty trigger";
        return out;
    }
    TriggerCondition condition;
    condition.text = std::string(t);
    if (equalsFolded(t, "loss")) {
        condition.kind = TriggerKind::Loss;
        out.condition = std::move(condition);
        return out;
    }
    constexpr std::string_view kSilent = "silent";
    if (t.size() > kSilent.size() && equalsFolded(t.substr(0, kSilent.size()), kSilent) &&
        trimmed(t.substr(kSilent.size())).starts_with('(')) {
        std::string_view rest = trimmed(t.substr(kSilent.size()));
        const std::size_t close = rest.find(')');
        if (close == std::string_view::npos) {
            out.error = ru ? "у silent( нет закрывающей скобки" : "silent( without its closing ')'";
            return out;
        }
        const std::string_view line = trimmed(rest.substr(1, close - 1));
        const std::optional<int> channel = lineNamed(line);
        if (!channel) {
            out.error =
                ru ? "в silent() нужна линия: 0–3, её имя или strobe, tx, rx1, rx2; не «" +
                         std::string(line) + "»"
                   : "silent() takes a line: 0 to 3, its name or strobe, tx, rx1, rx2; not '" +
                         std::string(line) + "'";
            return out;
        }
        rest = trimmed(rest.substr(close + 1));
        if (!rest.starts_with('>') || rest.starts_with(">=")) {
            out.error =
                ru ? "после silent(" + std::string(line) + ") нужно «> время», например «> 2s»"
                   : "silent(" + std::string(line) + ") is followed by '> SPAN', such as '> 2s'";
            return out;
        }
        const std::string_view spanText = trimmed(rest.substr(1));
        const std::optional<TimeSpan> span = parseTimeSpan(spanText);
        if (!span) {
            out.error = ru ? "«" + std::string(spanText) +
                                 "» — не время вида 2s, 500ms или 4096bits (до года или 2^40 бит)"
                           : "'" + std::string(spanText) +
                                 "' is not a span such as 2s, 500ms or 4096bits (up to a year or "
                                 "2^40 bits)";
            return out;
        }
        condition.kind = TriggerKind::Silence;
        condition.channel = *channel;
        condition.silence = *span;
        out.condition = std::move(condition);
        return out;
    }
    FilterParse parse = FrameFilter::parse(t, settings);
    if (!parse.ok()) {
        out.filterError = parse.error;
        out.error = filterErrorText(*parse.error, language);
        return out;
    }
    condition.kind = TriggerKind::Frame;
    condition.filter = std::move(parse.filter);
    out.condition = std::move(condition);
    return out;
}

}  // namespace osc
