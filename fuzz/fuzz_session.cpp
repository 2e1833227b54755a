// A session file as anyone may have written it: the JSON reader and the session reader refuse
// it or read it, and what they read is written back to text that reads to the same again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/files/json.h"
#include "core/files/session_file.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const osc::json::Value value = osc::json::parse(text);
        check(osc::json::parse(osc::json::write(value)) == value);
    } catch (const osc::json::ParseError&) {
    }
    try {
        const osc::Session session = osc::parseSession(text);
        check(osc::parseSession(osc::sessionText(session)) == session);
    } catch (const osc::SessionError&) {
    }
    return 0;
}
