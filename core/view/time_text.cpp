#include "core/view/time_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "core/view/plot_labels.h"

namespace osc {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Blanks that may stand around the text and between digit groups: space, tab and the no-break
// spaces that locales put between thousands (U+00A0, U+202F, as UTF-8). Their length at i, or 0.
std::size_t blankAt(std::string_view text, std::size_t i) {
    if (text[i] == ' ' || text[i] == '\t') {
        return 1;
    }
    if (text.substr(i, 2) == "\xC2\xA0") {
        return 2;
    }
    if (text.substr(i, 3) == "\xE2\x80\xAF") {
        return 3;
    }
    return 0;
}

// printf into a string of the length it needs.
template <class... Args>
std::string format(const char* pattern, Args... args) {
    const int n = std::snprintf(nullptr, 0, pattern, args...);
    if (n <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    std::snprintf(out.data(), out.size() + 1, pattern, args...);
    return out;
}

}  // namespace

std::optional<double> parseBitRate(std::string_view text) {
    std::string number;
    bool separator = false;
    bool pendingBlank = false;  // blanks after a digit, allowed only when a digit follows
    for (std::size_t i = 0; i < text.size();) {
        if (const std::size_t n = blankAt(text, i)) {
            pendingBlank = !number.empty();
            i += n;
            continue;
        }
        const char c = text[i++];
        if (isDigit(c)) {
            if (pendingBlank && !isDigit(number.back())) {
                return std::nullopt;  // "1, 5": a blank next to the separator
            }
            number += c;
        } else if ((c == '.' || c == ',') && !separator && !pendingBlank) {
            separator = true;
            number += '.';
        } else {
            return std::nullopt;
        }
        pendingBlank = false;
    }
    if (std::none_of(number.begin(), number.end(), isDigit)) {
        return std::nullopt;
    }
    if (number.front() == '.') {
        number.insert(number.begin(), '0');
    }
    if (number.back() == '.') {
        number.pop_back();
    }
    double rate = 0;
    const char* end = number.data() + number.size();
    const auto [ptr, error] = std::from_chars(number.data(), end, rate);
    if (error != std::errc() || ptr != end || !std::isfinite(rate) || rate < kMinBitRate ||
        rate > kMaxBitRate) {
        return std::nullopt;
    }
    return rate;
}

std::string bitRateText(double rate) {
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, rate, std::chars_format::fixed);
    if (r.ec != std::errc()) {
        return {};
    }
    return std::string(buf, r.ptr);
}

std::string TicksToTimeText(Tick ticks, double bitRate) {
    if (!std::isfinite(bitRate) || bitRate <= 0) {
        return {};
    }
    if (ticks == 0) {
        return "0 с";
    }
    const long double seconds =
        std::fabs(static_cast<long double>(ticks)) / (256.0L * static_cast<long double>(bitRate));
    if (!std::isfinite(seconds)) {
        return {};
    }
    struct Unit {
        long double perSecond;
        const char* name;
    };
    static constexpr Unit kUnits[] = {{1e6L, "мкс"}, {1e3L, "мс"}, {1.0L, "с"}};
    std::size_t u = seconds < 1e-3L ? 0 : seconds < 1 ? 1 : 2;
    std::string digits;
    for (;;) {
        const long double v = seconds * kUnits[u].perSecond;
        // The decimal exponent of the value rounded to four significant digits.
        const std::string scientific = format("%.3Le", v);
        const char* e = std::strchr(scientific.c_str(), 'e');
        const int exponent = e ? std::atoi(e + 1) : 0;
        if (exponent >= 3 && u + 1 < std::size(kUnits)) {
            ++u;  // rounds up to 1000 of this unit
            continue;
        }
        digits = format("%.*Lf", std::clamp(3 - exponent, 0, 3), v);
        break;
    }
    std::replace(digits.begin(), digits.end(), '.', ',');
    const bool zero = digits.find_first_not_of("0,") == std::string::npos;
    return (ticks < 0 && !zero ? "-" : "") + digits + " " + kUnits[u].name;
}

std::string PositionText(Tick ticks, std::optional<double> bitRate) {
    std::string text = TicksToBitText(ticks);
    if (bitRate) {
        const std::string time = TicksToTimeText(ticks, *bitRate);
        if (!time.empty()) {
            text += " (" + time + ")";
        }
    }
    return text;
}

std::string bottomAxisLabelWithTime(double ticks, std::optional<double> bitRate) {
    std::string text = bottomAxisLabel(ticks);
    if (bitRate && !text.empty()) {
        const std::string time = TicksToTimeText(truncateToTick(std::round(ticks)), *bitRate);
        if (!time.empty()) {
            text += " (" + time + ")";
        }
    }
    return text;
}

std::string bottomAxisLabelSample(std::optional<double> bitRate) {
    return bitRate ? "-000000 (000,0 мкс)" : "000000";
}

}  // namespace osc
