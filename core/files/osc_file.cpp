#include "core/files/osc_file.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <system_error>

#include "core/files/save_target.h"

namespace osc {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Value of a hex digit character, or kBadDigit. Kept 16 bits wide so that the two digits of a
// group can be OR-ed together and checked once per line.
constexpr std::uint16_t kBadDigit = 0x100;

constexpr std::array<std::uint16_t, 256> makeDigitTable() {
    std::array<std::uint16_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        std::uint16_t v = kBadDigit;
        if (c >= '0' && c <= '9') {
            v = static_cast<std::uint16_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            v = static_cast<std::uint16_t>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            v = static_cast<std::uint16_t>(c - 'a' + 10);
        }
        table[static_cast<std::size_t>(c)] = v;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kDigit = makeDigitTable();

// The value of a group's two characters at once, indexed by the first character plus the
// second times 256 (the two bytes as a little-endian word), or kBadDigit: one look-up a byte.
const std::array<std::uint16_t, 65536>& groupTable() {
    static const auto table = [] {
        auto t = std::make_unique<std::array<std::uint16_t, 65536>>();
        for (std::size_t w = 0; w < t->size(); ++w) {
            const std::uint16_t hi = kDigit[w & 0xFF], lo = kDigit[w >> 8];
            (*t)[w] = ((hi | lo) & kBadDigit) != 0 ? kBadDigit
                                                   : static_cast<std::uint16_t>((hi << 4) | lo);
        }
        return t;
    }();
    return *table;
}

// Offset of the first CR, LF or NUL in [p, end), or end - p when there is none. The library's
// memchr looks at many bytes a step; one call per wanted byte over a window of the text, each
// only up to the nearest break found so far (LF first, the usual one), finds a line's end in
// a few fast passes over it, and the window keeps a text without one kind of break from being
// scanned to its end each line.
std::size_t findLineBreak(const unsigned char* p, const unsigned char* end) {
    constexpr std::size_t kWindow = 4096;
    for (const unsigned char* q = p; q < end;) {
        const unsigned char* stop = q + std::min<std::size_t>(kWindow, end - q);
        for (const unsigned char c : {'\n', '\r', '\0'}) {
            if (const void* hit = std::memchr(q, c, static_cast<std::size_t>(stop - q))) {
                stop = static_cast<const unsigned char*>(hit);
            }
        }
        if (stop < q + std::min<std::size_t>(kWindow, end - q)) {
            return static_cast<std::size_t>(stop - p);
        }
        q = stop;
    }
    return static_cast<std::size_t>(end - p);
}

[[noreturn]] void throwBadGroup(const unsigned char* group, std::uint64_t line,
                                std::uint64_t column) {
    throw OscFormatError(static_cast<char>(group[0]), static_cast<char>(group[1]), line, column);
}

std::string badGroupText(char first, char second) {
    std::string text = "'$";
    text += first;
    text += second;
    text += "' is not a valid integer value";
    return text;
}

}  // namespace

OscFormatError::OscFormatError(char first, char second, std::uint64_t line, std::uint64_t column)
    : std::runtime_error(badGroupText(first, second)),
      group_{first, second},
      groupSize_(2),
      line_(line),
      column_(column) {}

std::string describeNonText(std::span<const unsigned char> head) {
    head = head.first(std::min<std::size_t>(head.size(), 1024));
    const auto starts = [&head](std::initializer_list<unsigned char> mark) {
        return head.size() >= mark.size() && std::equal(mark.begin(), mark.end(), head.begin());
    };
    constexpr const char* kUtf16 = "UTF-16 text, not 8-bit text";
    constexpr const char* kBinary = "binary data with NUL bytes, not text";
    if (starts({0xFF, 0xFE, 0, 0}) || starts({0, 0, 0xFE, 0xFF})) {
        return "UTF-32 text, not 8-bit text";
    }
    if (starts({0xFF, 0xFE}) || starts({0xFE, 0xFF})) {
        return kUtf16;
    }
    // Text of the first 128 characters in UTF-16 has a NUL in every other byte, and none
    // between them.
    const std::size_t pairs = head.size() / 2;
    std::size_t zeroEven = 0, zeroOdd = 0;
    for (std::size_t k = 0; k < 2 * pairs; k += 2) {
        zeroEven += head[k] == 0 ? 1 : 0;
        zeroOdd += head[k + 1] == 0 ? 1 : 0;
    }
    if (pairs >= 2 && ((4 * zeroOdd >= 3 * pairs && 8 * zeroEven <= pairs) ||
                       (4 * zeroEven >= 3 * pairs && 8 * zeroOdd <= pairs))) {
        return kUtf16;
    }
    // Zeros at the end may pad a text that a crash cut short, and a NUL ends a text; many
    // zeros among the bytes before such padding (an eighth of them, at least 16), or nothing
    // but zeros, are binary data.
    std::size_t end = head.size();
    while (end > 0 && head[end - 1] == 0) {
        --end;
    }
    const auto nuls = static_cast<std::size_t>(std::count(head.begin(), head.begin() + end, 0));
    if ((end == 0 && head.size() >= 16) || (nuls >= 16 && 8 * nuls >= end)) {
        return kBinary;
    }
    return {};
}

std::string traceLine(std::span<const std::uint8_t> data) {
    std::string out;
    appendTraceLine(out, data);
    return out;
}

void appendTraceLine(std::string& out, std::span<const std::uint8_t> data) {
    // Each byte's group and the space after it as one four-byte store (the fourth byte is
    // overwritten by the next group, or cut off at the end): a third of the time of writing the
    // characters one by one.
    static const std::array<std::uint32_t, 256> kGroups = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::size_t b = 0; b < t.size(); ++b) {
            const std::array<char, 4> chars{kHexDigits[b >> 4], kHexDigits[b & 0x0F], ' ', ' '};
            std::memcpy(&t[b], chars.data(), 4);
        }
        return t;
    }();
    const std::size_t start = out.size();
    out.resize(start + 3 * data.size() + 1);
    char* p = out.data() + start;
    for (std::uint8_t b : data) {
        std::memcpy(p, &kGroups[b], 4);
        p += 3;
    }
    out.resize(start + 3 * data.size());
}

namespace {

// The datagram of one line (without its line break) into out: length / 3 bytes, byte k from
// the characters 3k and 3k + 1. False for a line shorter than three characters, which ends
// the data. Throws OscFormatError at the first bad group.
bool decodeLine(const unsigned char* line, std::size_t length, std::vector<std::uint8_t>& out,
                std::uint64_t lineNumber, std::size_t at = 0) {
    const std::size_t n = length / 3;
    if (n == 0) {
        return false;
    }
    out.resize(at + n);
    std::uint8_t* dst = out.data() + at;
    std::uint16_t bad = 0;
    const unsigned char* g = line;
    const std::array<std::uint16_t, 65536>& groups = groupTable();
    for (std::size_t k = 0; k < n; ++k, g += 3) {
        const std::uint16_t v = groups[g[0] | (static_cast<std::size_t>(g[1]) << 8)];
        bad |= v;
        dst[k] = static_cast<std::uint8_t>(v);
    }
    if ((bad & kBadDigit) != 0) {
        out.resize(at);
        for (g = line;; g += 3) {
            if (((kDigit[g[0]] | kDigit[g[1]]) & kBadDigit) != 0) {
                throwBadGroup(g, lineNumber, static_cast<std::uint64_t>(g - line) + 1);
            }
        }
    }
    return true;
}

}  // namespace

bool OscReader::next(std::vector<std::uint8_t>& out) {
    if (ended_) {
        return false;
    }
    const auto* const base = reinterpret_cast<const unsigned char*>(text_.data());
    const unsigned char* const end = base + text_.size();
    const unsigned char* const line = base + pos_;
    const std::size_t length = findLineBreak(line, end);
    const unsigned char* const lineEnd = line + length;

    // Where the next line starts, and whether the text goes on after this line at all.
    if (lineEnd == end || *lineEnd == '\0') {
        ended_ = true;
        pos_ = text_.size();
    } else {
        std::size_t skip = 1;
        if (*lineEnd == '\r' && lineEnd + 1 < end && lineEnd[1] == '\n') {
            skip = 2;
        }
        pos_ = static_cast<std::size_t>(lineEnd - base) + skip;
        // A text that ends with a line break has no further line.
        if (pos_ >= text_.size()) {
            ended_ = true;
        }
    }
    try {
        if (!decodeLine(line, length, out, ++line_)) {
            ended_ = true;
            return false;
        }
    } catch (const OscFormatError&) {
        ended_ = true;
        throw;
    }
    return true;
}

OscFileReader::OscFileReader(const std::filesystem::path& path, std::size_t chunk)
    : path_(path.string()), buffer_(std::max<std::size_t>(chunk, 16)) {
    std::string reason;
    const int fd = openRegularForReading(path, reason);
    if (fd < 0) {
        throw FileError("Cannot open file " + path_, reason);
    }
    file_ = ::fdopen(fd, "rb");
    if (file_ == nullptr) {
        reason = systemReason(errno);
        ::close(fd);
        throw FileError("Cannot open file " + path_, reason);
    }
    std::setvbuf(file_, nullptr, _IONBF, 0);  // read straight into the chunk
    try {
        fill();
        reason = describeNonText({buffer_.data(), end_});
        if (!reason.empty()) {
            throw FileError("Cannot open file " + path_, reason);
        }
    } catch (...) {
        std::fclose(file_);
        throw;
    }
}

OscFileReader::~OscFileReader() {
    std::fclose(file_);
}

void OscFileReader::fill() {
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        buffer_.resize(2 * buffer_.size());  // a line longer than the chunk
    }
    const std::size_t want = buffer_.size() - end_;
    const std::size_t got = std::fread(buffer_.data() + end_, 1, want, file_);
    end_ += got;
    if (got < want) {
        if (std::ferror(file_) != 0) {
            throw FileError("Cannot open file " + path_, systemReason(errno != 0 ? errno : EIO));
        }
        eof_ = true;
    }
}

bool OscFileReader::next(std::vector<std::uint8_t>& out) {
    return take(out, 0);
}

bool OscFileReader::appendNext(std::vector<std::uint8_t>& out) {
    return take(out, out.size());
}

bool OscFileReader::take(std::vector<std::uint8_t>& out, std::size_t at) {
    if (ended_) {
        return false;
    }
    std::size_t length = 0;
    for (;;) {
        const unsigned char* const line = buffer_.data() + begin_;
        const unsigned char* const end = buffer_.data() + end_;
        length = findLineBreak(line, end);
        // Read on while the line may go on, or a CR may yet be followed by its LF.
        const bool open =
            line + length == end || (line[length] == '\r' && line + length + 1 == end);
        if (!open || eof_) {
            break;
        }
        fill();
    }
    const unsigned char* const line = buffer_.data() + begin_;
    const unsigned char* const lineEnd = line + length;
    if (lineEnd == buffer_.data() + end_ || *lineEnd == '\0') {
        ended_ = true;
        begin_ = end_;
    } else {
        const bool crlf =
            *lineEnd == '\r' && lineEnd + 1 < buffer_.data() + end_ && lineEnd[1] == '\n';
        begin_ += length + (crlf ? 2 : 1);
    }
    try {
        if (!decodeLine(line, length, out, ++line_, at)) {
            ended_ = true;
            return false;
        }
    } catch (const OscFormatError&) {
        ended_ = true;
        throw;
    }
    return true;
}

std::string readWholeFile(const std::filesystem::path& path) {
    const auto fail = [&](int error) {
        return FileError("Cannot open file " + path.string(), systemReason(error));
    };
    std::string reason;
    const int fd = openRegularForReading(path, reason);
    if (fd < 0) {
        throw FileError("Cannot open file " + path.string(), reason);
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) {
        const int error = errno;
        ::close(fd);
        throw fail(error);
    }
    std::string text;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > 0) {
        text.reserve(static_cast<std::size_t>(size));
    }
    // Read in chunks rather than trusting the size: the file may grow or shrink meanwhile.
    constexpr std::size_t kChunk = 1 << 20;
    int error = 0;
    for (;;) {
        const std::size_t have = text.size();
        text.resize(have + kChunk);
        const std::size_t got = std::fread(text.data() + have, 1, kChunk, f);
        text.resize(have + got);
        if (got < kChunk) {
            if (std::ferror(f) != 0) {
                error = errno != 0 ? errno : EIO;
            }
            break;
        }
    }
    std::fclose(f);
    if (error != 0) {
        throw fail(error);
    }
    return text;
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    const std::string text = "Cannot create file " + path.string();
    const auto fail = [&](int error) { return FileError(text, systemReason(error)); };
    const SaveTarget target = findSaveTarget(path, text);
    const auto writeInPlace = [&] {
        const int fd = openInPlace(target, bytes.size());
        if (fd < 0) {
            throw FileError(text, inPlaceRefusal(errno));
        }
        int error = writeAll(fd, bytes.data(), bytes.size());
        if (error == 0) {
            error = finishInPlace(fd, bytes.size());
        }
        ::close(fd);
        if (error != 0) {
            throw fail(error);
        }
    };
    std::filesystem::path temp;
    const int fd = createBeside(target, "", temp);
    if (fd < 0) {
        // A folder that takes no new file: a file there that may be written is written in place.
        if (!target.exists) {
            throw fail(errno);
        }
        writeInPlace();
        return;
    }
    int error = writeAll(fd, bytes.data(), bytes.size());
    if (error == 0) {
        error = replaceTarget(target, fd, temp);
    }
    ::close(fd);
    if (error != 0) {
        ::unlink(temp.c_str());
        throw fail(error);
    }
}

}  // namespace osc
