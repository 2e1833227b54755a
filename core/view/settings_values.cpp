#include "core/view/settings_values.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <system_error>

namespace osc {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal digits from pos; returns how many.
std::size_t skipDigits(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < text.size() && isDigit(text[pos])) {
        ++pos;
    }
    return pos - start;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string_view trimValueText(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string booleanValueText(bool value) {
    return value ? "True" : "False";
}

std::optional<bool> parseBooleanValueText(std::string_view text) {
    if (equalsIgnoringCase(text, "false")) {
        return false;
    }
    if (equalsIgnoringCase(text, "true")) {
        return true;
    }
    return std::nullopt;
}

std::string numberValueText(double value) {
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 18);
    if (ec != std::errc()) {
        return {};
    }
    return std::string(buffer, end);
}

std::optional<double> parseNumberValueText(std::string_view text) {
    // The whole text must be one number: [+-] (digits [. [digits]] | . digits) [e [+-] digits].
    std::size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        ++pos;
    }
    std::size_t digits = skipDigits(text, pos);
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        digits += skipDigits(text, pos);
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            ++pos;
        }
        if (skipDigits(text, pos) == 0) {
            return std::nullopt;
        }
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    // from_chars takes no leading plus sign.
    const std::string_view number = text.front() == '+' ? text.substr(1) : text;
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

int wholeNumberValue(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    const double rounded = std::nearbyint(value);  // halves to even in the default rounding
    if (rounded <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    if (rounded >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    return static_cast<int>(rounded);
}

std::optional<int> parseIntValueText(std::string_view text) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t first = pos;
    if (skipDigits(text, pos) == 0 || pos != text.size()) {
        return std::nullopt;
    }
    long long value = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            return std::nullopt;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value < INT_MIN || value > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

std::string positionValueText(const std::array<int, 4>& fields) {
    return std::to_string(fields[0]) + ',' + std::to_string(fields[1]) + ',' +
           std::to_string(fields[2]) + ',' + std::to_string(fields[3]);
}

std::array<int, 4> parsePositionValueText(std::string_view text, std::array<int, 4> defaults) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t comma = text.find(',');
        if (const std::optional<int> v = parseIntValueText(trimValueText(text.substr(0, comma)))) {
            defaults[i] = *v;
        }
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return defaults;
}

std::string screenSuffix(int width, int height) {
    return '(' + std::to_string(width) + 'x' + std::to_string(height) + ')';
}

}  // namespace osc
