// The configuration text as the server hands it out: the file split into lines (whole and in
// chunks, which must agree), every line parsed, the address rules on every line and record.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/directory/config_line.h"

namespace {

std::vector<std::string> splitInChunks(std::string_view text, std::size_t chunk) {
    std::vector<std::string> lines;
    osc::ConfigLineSplitter s;
    auto emit = [&](std::string_view line) { lines.emplace_back(line); };
    for (std::size_t i = 0; i < text.size(); i += chunk) {
        s.feed(text.substr(i, chunk), emit);
    }
    s.finish(emit);
    return lines;
}

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the chunk size and the field number; the rest is the file.
    const std::size_t chunk = 1 + data[0] % 16;
    const int field = static_cast<int>(data[0] >> 4) - 2;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::vector<std::string> lines = splitInChunks(text, text.size() + 1);
    check(lines == splitInChunks(text, chunk));
    for (const std::string& line : lines) {
        check(!line.empty() && static_cast<unsigned char>(line[0]) > 32);
        check(line.find('\r') == std::string::npos && line.find('\n') == std::string::npos);
        const osc::ParsedConfigLine p = osc::ParseConfigLine(line);
        if (!p.ok) {
            check(p.name.empty() && p.head.Address == osc::TConfigLine::filledAddress());
        } else {
            check(p.name.size() < line.size());
        }
        const std::optional<std::string> address = osc::AddressFromProperty(line);
        if (address) {
            check(address->size() <= osc::kLongestAddress);
            check(address->find_first_of("\r\n") == std::string::npos);
        }
        const std::string entry = osc::DeviceEntryText(p.name, address);
        // An address without parentheses or colons comes back out of its entry.
        if (address && p.name.find_first_of("():") == std::string::npos &&
            address->find_first_of("():") == std::string::npos) {
            check(osc::EntryAddress(entry) == *address);
        }
        const std::string f = osc::DelimitedField(field, line, "(),;");
        check(f.size() <= line.size());
        (void)osc::EntryAddress(line);
    }
    return 0;
}
