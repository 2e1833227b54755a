#pragma once
// The value texts of the per-user settings store: every value is a string, written and read
// back by these rules (true/false, numbers, four-field positions, the screen suffix of the
// position names). Pure functions over UTF-8 text; nothing here touches a store.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace osc {

// The text without blanks and control characters (bytes up to 0x20) at either end; applied to
// every value on writing and on reading.
std::string_view trimValueText(std::string_view text);

// A true/false property: "True" or "False".
std::string booleanValueText(bool value);
// "true" or "false" in any letter case; nullopt for anything else (the property stays as it is).
std::optional<bool> parseBooleanValueText(std::string_view text);

// A number in general format with up to 18 significant digits and "." as the decimal point,
// so whole values have no fraction ("8", "100", "-2147483648", "0.5", "1e+20").
std::string numberValueText(double value);
// A stored number: an optional sign, digits with an optional "." fraction, an optional
// exponent. nullopt for anything else: empty text, digit grouping, hex, infinities, NaN, or a
// value beyond the range of doubles.
std::optional<double> parseNumberValueText(std::string_view text);
// A restored number as a spin edit takes it: the nearest whole value, halves to even, clamped
// to the int range.
int wholeNumberValue(double value);

// A whole number ("FormVersion", "ShowCmd", a position field): an optional sign and decimal
// digits within the int range; nullopt otherwise.
std::optional<int> parseIntValueText(std::string_view text);

// Four positions as "%d,%d,%d,%d".
std::string positionValueText(const std::array<int, 4>& fields);
// The first four comma-separated fields, each trimmed; a missing or non-numeric field keeps
// its default. Fields after the fourth are ignored.
std::array<int, 4> parsePositionValueText(std::string_view text, std::array<int, 4> defaults);

// The suffix of the position value names for a primary screen of width x height pixels:
// "(1024x768)".
std::string screenSuffix(int width, int height);

}  // namespace osc
