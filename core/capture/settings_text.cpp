#include "core/capture/settings_text.h"

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

// The line without a comment that begins after a blank, outside double quotes.
std::string_view withoutComment(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '#' && !quoted && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
            return line.substr(0, i);
        }
    }
    return line;
}

}  // namespace

SettingsParse parseSettingsText(std::string_view text) {
    SettingsParse out;
    if (text.size() > kMaxSettingsText) {
        out.error = SettingsError{0, "longer than 1 MiB"};
        return out;
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        line = trimmed(withoutComment(line));
        if (line.empty()) {
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            out.error = SettingsError{number, "expected 'key = value'"};
            return out;
        }
        const std::string_view key = trimmed(line.substr(0, eq));
        const std::string_view value = trimmed(line.substr(eq + 1));
        if (key.empty()) {
            out.error = SettingsError{number, "expected a key before '='"};
            return out;
        }
        SettingLine s;
        for (const char c : key) {
            if (c >= 'A' && c <= 'Z') {
                s.key += static_cast<char>(c - 'A' + 'a');
            } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
                s.key += c == '_' ? '-' : c;
            } else {
                out.error = SettingsError{
                    number, "a key is letters, digits and '-', not '" + std::string(key) + "'"};
                return out;
            }
        }
        if (value.empty()) {
            out.error = SettingsError{number, "'" + s.key + "' has no value"};
            return out;
        }
        s.value = std::string(value);
        s.line = number;
        out.settings.push_back(std::move(s));
    }
    return out;
}

}  // namespace osc
