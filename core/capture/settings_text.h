#pragma once
// A settings file of the recorder (a service's configuration): one "key = value" a line, the
// keys named as the long options of the command line ("device = 10.0.0.5:971"), a key repeated
// where the option may be, "#" beginning a comment (a whole line, or after a blank outside
// double quotes), blank lines ignored, a UTF-8 byte order mark at the start allowed. Values
// keep their inner blanks and quotes ("trigger = bytes ~ \"01 3E\""). Linear in the text.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace osc {

struct SettingLine {
    std::string key;  // lower case: letters, digits and '-'
    std::string value;
    int line = 0;  // from 1
};

struct SettingsError {
    int line = 0;
    std::string message;  // "expected 'key = value'"
};

struct SettingsParse {
    std::vector<SettingLine> settings;
    std::optional<SettingsError> error;  // the first; settings holds the lines before it
    bool ok() const { return !error.has_value(); }
};

inline constexpr std::size_t kMaxSettingsText = std::size_t{1} << 20;

// A text longer than kMaxSettingsText is refused (line 0).
SettingsParse parseSettingsText(std::string_view text);

}  // namespace osc
