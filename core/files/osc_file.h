#pragma once
// The datagram trace line and the oscillogram file (.osc): one line of hex bytes per datagram.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/files/file_error.h"

namespace osc {

// "23 08 0A ": two upper-case hex digits and a space per byte.
std::string traceLine(std::span<const std::uint8_t> data);
// Appends the trace line to out (no line end).
void appendTraceLine(std::string& out, std::span<const std::uint8_t> data);

// A group whose first two characters are not both hex digits, e.g. "'$2G' is not a valid
// integer value". The text holds the two characters as the file has them; group() gives the
// same two bytes, so that a caller can show 8-bit characters in the file's code page.
class OscFormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    OscFormatError(char first, char second, std::uint64_t line = 0, std::uint64_t column = 0);
    // The two characters of the bad group; empty for an error made from a text alone.
    std::string_view group() const { return std::string_view(group_, groupSize_); }
    // Where the group stands in the text: its line and the column of its first character,
    // both counted from 1; 0 when not known.
    std::uint64_t line() const { return line_; }
    std::uint64_t column() const { return column_; }

  private:
    char group_[2] = {};
    std::size_t groupSize_ = 0;
    std::uint64_t line_ = 0, column_ = 0;
};

// Why the first bytes of a file (up to a KiB is looked at) are not 8-bit text, or empty when
// they may be: a byte-order mark of UTF-16 or UTF-32, NUL bytes at every other place (UTF-16
// without a mark), or many NUL bytes (at least 16 and an eighth of the bytes before the zeros
// that may pad a text's end, or zeros alone). "UTF-16 text, not 8-bit text"; "binary data with
// NUL bytes, not text". A few NULs in a text are not looked at here: the first ends the text.
std::string describeNonText(std::span<const unsigned char> head);

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
    std::uint64_t line_ = 0;  // lines read
};

// The same reading straight from a file, a chunk at a time, so that a replay holds no more of
// the file than a chunk (and its longest line) however long the file is. The window's load
// action and the command-line replay read files through it.
class OscFileReader {
  public:
    // Opens the file and reads its first chunk, so that a file that cannot be read fails here,
    // before any replay starts: FileError("Cannot open file " + path, reason), the reason the
    // system's, or that it is not a regular file (notRegularReason) or not 8-bit text
    // (describeNonText). Never waits on a FIFO.
    explicit OscFileReader(const std::filesystem::path& path, std::size_t chunk = 1 << 20);
    ~OscFileReader();
    OscFileReader(const OscFileReader&) = delete;
    OscFileReader& operator=(const OscFileReader&) = delete;
    // The next datagram into out; false when the data has ended. Throws OscFormatError, and
    // FileError("Cannot open file " + path, reason) when a later read fails.
    bool next(std::vector<std::uint8_t>& out);
    // The same, appended to what out holds (which stays as it was when there is none).
    bool appendNext(std::vector<std::uint8_t>& out);

  private:
    void fill();
    bool take(std::vector<std::uint8_t>& out, std::size_t at);

    std::string path_;
    std::FILE* file_ = nullptr;
    std::vector<unsigned char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
    bool ended_ = false;
    std::uint64_t line_ = 0;  // lines read
};

// Whole-file read of a regular file; throws FileError("Cannot open file " + path, reason).
std::string readWholeFile(const std::filesystem::path& path);
// Writes through a temporary file beside the file and renames it over that file once it is
// fully written and synced, so that a failure never leaves a half file nor destroys the old one.
// A symbolic link is followed: its target gets the contents and the link stays. The replaced
// file's permission bits (and owner, where the system allows) carry over. A file that cannot be
// opened for writing is refused, not replaced, and so is a folder, a FIFO or a device. A writable
// file in a folder where no temporary file can be made is written in place, once the room for
// the whole contents is reserved (a full disk leaves it as it was). Throws
// FileError("Cannot create file " + path, reason).
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace osc
