// A kept capture's description as a user may have edited it: it parses or is refused, and a
// parsed one is written back to the same text (nothing is lost or made up on the way).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "core/files/recent_captures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<osc::KeptCapture> parsed = osc::parseKeptCapture(text);
    if (parsed) {
        const std::optional<osc::KeptCapture> again =
            osc::parseKeptCapture(osc::keptCaptureText(*parsed));
        if (!again || !(*again == *parsed)) {
            std::abort();
        }
    }
    return 0;
}
