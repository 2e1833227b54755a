#include "core/osc_file.h"

#include <fstream>
#include <iterator>

// Placeholder until the reader lands.
namespace osc {

std::string traceLine(std::span<const std::uint8_t> data) {
    std::string out;
    appendTraceLine(out, data);
    return out;
}

void appendTraceLine(std::string& out, std::span<const std::uint8_t> data) {
    static const char kHex[] = "0123456789ABCDEF";
    for (std::uint8_t b : data) {
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
        out += ' ';
    }
}

bool OscReader::next(std::vector<std::uint8_t>&) { return false; }

std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("Cannot open file " + path.string());
    }
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("Cannot create file " + path.string());
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace osc
