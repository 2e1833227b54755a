// Stored settings texts as a damaged or edited store may hold them: every reader of a value
// text against a plain reference (the C library's conversions), and what the writers produce
// read back unchanged.

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/view/settings_values.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool blank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

// Sign and digits only, as a whole.
bool plainInteger(std::string_view t) {
    std::size_t i = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (i == t.size()) {
        return false;
    }
    for (; i < t.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) {
            return false;
        }
    }
    return true;
}

void checkInt(std::string_view t) {
    const std::optional<int> v = osc::parseIntValueText(t);
    if (!plainInteger(t)) {
        check(!v);
        return;
    }
    const std::string s(t);
    errno = 0;
    const long long ref = std::strtoll(s.c_str(), nullptr, 10);
    const bool inRange = errno != ERANGE && ref >= INT32_MIN && ref <= INT32_MAX;
    check(v.has_value() == inRange);
    if (v) {
        check(*v == ref);
    }
}

void checkNumber(std::string_view t) {
    const std::optional<double> v = osc::parseNumberValueText(t);
    if (!v) {
        return;
    }
    check(std::isfinite(*v));
    // Whatever it accepts, strtod reads the same way, to the end of the text.
    const std::string s(t);
    char* end = nullptr;
    const double ref = std::strtod(s.c_str(), &end);
    check(end == s.c_str() + s.size());
    check(ref == *v);
    // 18 significant digits always read back to the same double.
    check(osc::parseNumberValueText(osc::numberValueText(*v)) == *v);
    check(osc::wholeNumberValue(*v) == osc::wholeNumberValue(*v));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string_view trimmed = osc::trimValueText(text);
    check(trimmed.empty() || (!blank(trimmed.front()) && !blank(trimmed.back())));
    check(text.find(trimmed) != std::string_view::npos);

    if (const std::optional<bool> b = osc::parseBooleanValueText(trimmed)) {
        check(osc::parseBooleanValueText(osc::booleanValueText(*b)) == b);
        check(trimmed.size() == (*b ? 4u : 5u));
    }
    checkInt(trimmed);
    checkNumber(trimmed);

    const std::array<int, 4> defaults{11, 22, 33, 44};
    const std::array<int, 4> fields = osc::parsePositionValueText(text, defaults);
    check(osc::parsePositionValueText(osc::positionValueText(fields), {}) == fields);
    std::string_view rest = text;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t comma = rest.find(',');
        const std::optional<int> field =
            osc::parseIntValueText(osc::trimValueText(rest.substr(0, comma)));
        check(fields[i] == field.value_or(defaults[i]));
        if (comma == std::string_view::npos) {
            for (std::size_t j = i + 1; j < 4; ++j) {
                check(fields[j] == defaults[j]);
            }
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    return 0;
}
