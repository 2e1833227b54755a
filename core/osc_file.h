#pragma once
// The datagram trace line and the oscillogram file (.osc): one line of hex bytes per datagram.

#include <cstdint>
#include <cstdio>
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

// The same reading straight from a file, a chunk at a time, so that a replay holds no more of
// the file than a chunk (and its longest line) however long the file is. The window's load
// action and the command-line replay read files through it.
class OscFileReader {
  public:
    // Opens the file and reads its first chunk, so that a file that cannot be read fails here,
    // before any replay starts: std::runtime_error("Cannot open file " + path).
    explicit OscFileReader(const std::filesystem::path& path, std::size_t chunk = 1 << 20);
    ~OscFileReader();
    OscFileReader(const OscFileReader&) = delete;
    OscFileReader& operator=(const OscFileReader&) = delete;
    // The next datagram into out; false when the data has ended. Throws OscFormatError, and
    // std::runtime_error("Cannot open file " + path) when a later read fails.
    bool next(std::vector<std::uint8_t>& out);

  private:
    void fill();

    std::string path_;
    std::FILE* file_ = nullptr;
    std::vector<unsigned char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
    bool ended_ = false;
};

// Whole-file read; throws std::runtime_error("Cannot open file " + path).
std::string readWholeFile(const std::filesystem::path& path);
// Writes through a temporary file in the same folder and renames it over path, so that a
// failure never leaves a half file nor destroys an existing one; throws
// std::runtime_error("Cannot create file " + path).
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace osc
