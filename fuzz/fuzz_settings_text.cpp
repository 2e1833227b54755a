// Settings files of the recorder as they may come: every setting read has a key of letters,
// digits and '-', a value without blanks at its ends, lines in order within the text; an error
// names a line of the text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/capture/settings_text.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const osc::SettingsParse p = osc::parseSettingsText(text);
    int lines = 1;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    int last = 0;
    for (const osc::SettingLine& s : p.settings) {
        check(!s.key.empty() && !s.value.empty());
        for (const char c : s.key) {
            check((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-');
        }
        check(s.value.front() != ' ' && s.value.back() != ' ');
        check(s.line > last && s.line <= lines);
        last = s.line;
    }
    if (p.error) {
        check(p.error->line >= 0 && p.error->line <= lines && !p.error->message.empty());
    }
    return 0;
}
