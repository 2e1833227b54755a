#pragma once
// The datagram trace line and the oscillogram file (.osc): one line of hex bytes per datagram.

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace osc {

// "23 08 0A ": two upper-case hex digits and a space per byte.
std::string traceLine(std::span<const std::uint8_t> data);
// Appends the trace line to out (no line end).
void appendTraceLine(std::string& out, std::span<const std::uint8_t> data);

// A group whose first two characters are not both hex digits, e.g. "'$2G' is not a valid
// integer value".
class OscFormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads datagrams from oscillogram file text. Lines end at CR LF, LF or CR; a NUL ends the
// text; a line gives length/3 bytes, byte k from the characters 3k and 3k+1; the first line
// shorter than three characters ends the data.
class OscReader {
  public:
    explicit OscReader(std::string_view text) : text_(text) {}
    // The next datagram into out; false when the data has ended. Throws OscFormatError.
    bool next(std::vector<std::uint8_t>& out);

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    bool ended_ = false;
};

// Whole-file read; throws std::runtime_error("Cannot open file " + path).
std::string readWholeFile(const std::filesystem::path& path);
// Writes through a temporary file in the same folder and renames it over path, so that a
// failure never leaves a half file nor destroys an existing one; throws
// std::runtime_error("Cannot create file " + path).
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace osc
