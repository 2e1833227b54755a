#include "core/files/trace_log_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "core/files/osc_file.h"
#include "core/files/save_target.h"

namespace osc {

namespace {

constexpr const char* kReadFailure = "Cannot read the trace log";
constexpr std::size_t kCompareBlock = 256u << 10;  // text compared with the journal at a time

// The value of an upper-case hex digit, or -1.
int upperHexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void appendLineText(std::string& out, const std::uint8_t* bytes, std::size_t size) {
    appendTraceLine(out, std::span(bytes, size));
    out += "\r\n";
}

// An unnamed file in folder, or -1: O_TMPFILE where the file system has it, else a named one
// removed at once.
int createUnnamedFile(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
#ifdef O_TMPFILE
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return fd;
    }
#endif
    std::string name = (folder / "trace-XXXXXX").string();
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) {
        ::unlink(name.c_str());
    }
    return named;
}

}  // namespace

std::filesystem::path defaultSpillFolder() {
    std::filesystem::path base;
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') {
        base = cache;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* user = ::getpwuid(::getuid());
            home = user != nullptr ? user->pw_dir : "/tmp";
        }
        base = std::filesystem::path(home) / ".cache";
    }
    return base / "Kestrowel" / "MorvelIP_OSC";
}

bool parseTraceLines(std::string_view text, std::span<const std::uint32_t> ends,
                     std::uint32_t begin, std::vector<std::uint8_t>* out) {
    std::size_t pos = 0;
    std::uint32_t start = begin;
    for (const std::uint32_t end : ends) {
        if (end < start) {
            return false;
        }
        const std::size_t size = end - start;
        start = end;
        if (text.size() - pos < 3 * size + 2) {
            return false;
        }
        const char* p = text.data() + pos;
        for (std::size_t k = 0; k < size; ++k, p += 3) {
            const int high = upperHexDigit(p[0]);
            const int low = upperHexDigit(p[1]);
            if (high < 0 || low < 0 || p[2] != ' ') {
                return false;
            }
            if (out != nullptr) {
                out->push_back(static_cast<std::uint8_t>(high << 4 | low));
            }
        }
        if (p[0] != '\r' || p[1] != '\n') {
            return false;
        }
        pos += 3 * size + 2;
    }
    return pos == text.size();
}

TraceLogStore::TraceLogStore(TraceStoreOptions options, JournalOpener openJournal)
    : options_(std::move(options)), openJournal_(std::move(openJournal)) {
    options_.chunkBytes = std::clamp<std::uint32_t>(options_.chunkBytes, 1, 1u << 31);
    if (options_.spillFolder.empty()) {
        options_.spillFolder = defaultSpillFolder();
    }
}

TraceLogStore::~TraceLogStore() {
    clear();
}

void TraceLogStore::clear() noexcept {
    chunks_.clear();
    chunks_.shrink_to_fit();
    firstInMemory_ = 0;
    lines_ = bytes_ = longest_ = 0;
    inMemory_ = indexBytes_ = spilled_ = journaled_ = 0;
    ++generation_;
    if (spillFd_ >= 0) {
        ::close(spillFd_);
        spillFd_ = -1;
    }
    spillFailed_ = false;
    for (const OpenJournal& j : journals_) {
        if (j.fd >= 0) {
            ::close(j.fd);
        }
    }
    journals_.clear();
}

TraceLogStore::Chunk& TraceLogStore::openChunk(std::optional<JournalCopy> journal,
                                               std::size_t size) {
    if (!chunks_.empty()) {
        Chunk& last = chunks_.back();
        const std::uint64_t lineCount = last.ends.size();
        // A chunk read back from the journal must hold lines that follow each other there.
        const bool follows =
            journal ? last.journal == journal->journal &&
                          last.fileOffset + last.textSize(0, lineCount) == journal->offset
                    : last.journal == 0;
        if (lineCount == 0 ||
            (follows && std::uint64_t{last.size()} + size <= options_.chunkBytes)) {
            if (lineCount == 0) {
                last.journal = journal ? journal->journal : 0;
                last.fileOffset = journal ? journal->offset : 0;
            }
            return last;
        }
        seal(last);
    }
    if (chunks_.size() == chunks_.capacity()) {
        indexBytes_ -= chunks_.capacity() * sizeof(Chunk);
        chunks_.reserve(std::max<std::size_t>(16, 2 * chunks_.size()));
        indexBytes_ += chunks_.capacity() * sizeof(Chunk);
    }
    Chunk& c = chunks_.emplace_back();
    c.firstLine = lines_;
    c.firstByte = bytes_;
    c.journal = journal ? journal->journal : 0;
    c.fileOffset = journal ? journal->offset : 0;
    moveOutOfMemory();  // the chunk just sealed may let older ones go
    return chunks_.back();
}

void TraceLogStore::seal(Chunk& chunk) {
    indexBytes_ -= chunk.ends.capacity() * sizeof(std::uint32_t);
    inMemory_ -= chunk.bytes.capacity();
    chunk.ends.shrink_to_fit();
    chunk.bytes.shrink_to_fit();
    indexBytes_ += chunk.ends.capacity() * sizeof(std::uint32_t);
    inMemory_ += chunk.bytes.capacity();
}

void TraceLogStore::append(std::span<const std::uint8_t> datagram,
                           std::optional<JournalCopy> journal) {
    if (datagram.size() > std::numeric_limits<std::uint32_t>::max() - options_.chunkBytes) {
        throw std::length_error("A datagram too long for the trace log");
    }
    Chunk& c = openChunk(journal, datagram.size());
    const std::size_t indexBefore = c.ends.capacity();
    const std::size_t bytesBefore = c.bytes.capacity();
    c.bytes.insert(c.bytes.end(), datagram.begin(), datagram.end());
    c.ends.push_back(static_cast<std::uint32_t>(c.bytes.size()));
    indexBytes_ += (c.ends.capacity() - indexBefore) * sizeof(std::uint32_t);
    inMemory_ += c.bytes.capacity() - bytesBefore;
    ++lines_;
    bytes_ += datagram.size();
    longest_ = std::max<std::uint64_t>(longest_, datagram.size());
}

void TraceLogStore::moveOutOfMemory() {
    // Only sealed chunks move, oldest first, so the chunks in memory are always the last ones.
    while (inMemory_ > options_.memoryBudget && firstInMemory_ + 1 < chunks_.size()) {
        Chunk& c = chunks_[firstInMemory_];
        Move moved = c.journal != 0 ? moveToJournal(c) : Move::Failed;
        if (moved == Move::Later && inMemory_ <= 2 * options_.memoryBudget) {
            return;  // the journal has not written these lines yet: tried again a chunk later
        }
        if (moved != Move::Done) {
            moved = moveToSpill(c);
        }
        if (moved != Move::Done) {
            return;  // no file takes them: they stay in memory
        }
        inMemory_ -= c.bytes.capacity();
        std::vector<std::uint8_t>().swap(c.bytes);
        ++firstInMemory_;
    }
}

int TraceLogStore::journalFd(std::uint64_t journal, bool toMove) const {
    for (const OpenJournal& j : journals_) {
        if (j.journal == journal) {
            return toMove && !j.takesMore ? -1 : j.fd;
        }
    }
    return -1;
}

TraceLogStore::Move TraceLogStore::moveToJournal(Chunk& chunk) {
    if (std::none_of(journals_.begin(), journals_.end(),
                     [&](const OpenJournal& j) { return j.journal == chunk.journal; })) {
        journals_.push_back({chunk.journal, openJournal_ ? openJournal_(chunk.journal) : -1});
    }
    const int fd = journalFd(chunk.journal, true);
    if (fd < 0) {
        return Move::Failed;
    }
    // The journal's text must be exactly the lines' text: compared a block of lines at a time.
    std::string mine;
    std::string theirs;
    std::uint64_t offset = chunk.fileOffset;
    for (std::size_t j0 = 0; j0 < chunk.ends.size();) {
        mine.clear();
        std::size_t j1 = j0;
        while (j1 < chunk.ends.size() && mine.size() < kCompareBlock) {
            appendLineText(mine, chunk.bytes.data() + chunk.start(j1),
                           chunk.ends[j1] - chunk.start(j1));
            ++j1;
        }
        theirs.resize(mine.size());
        std::size_t got = 0;
        while (got < theirs.size()) {
            const ssize_t n = ::pread(fd, theirs.data() + got, theirs.size() - got,
                                      static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return n == 0 ? Move::Later : Move::Failed;  // not written out yet, or unreadable
            }
            got += static_cast<std::size_t>(n);
        }
        if (theirs != mine) {
            // Not the same lines (lost in a failed write, or changed): no more chunks go there;
            // those that went before were compared and stay.
            for (OpenJournal& j : journals_) {
                j.takesMore = j.takesMore && j.journal != chunk.journal;
            }
            return Move::Failed;
        }
        offset += mine.size();
        j0 = j1;
    }
    chunk.where = Where::Journal;
    journaled_ += chunk.size();
    return Move::Done;
}

TraceLogStore::Move TraceLogStore::moveToSpill(Chunk& chunk) {
    if (spillFailed_) {
        return Move::Failed;
    }
    if (spillFd_ < 0) {
        spillFd_ = createUnnamedFile(options_.spillFolder);
        if (spillFd_ < 0) {
            spillFailed_ = true;
            return Move::Failed;
        }
    }
    const std::uint64_t at = spilled_;
    std::size_t done = 0;
    while (done < chunk.size()) {
        const ssize_t n = ::pwrite(spillFd_, chunk.bytes.data() + done, chunk.size() - done,
                                   static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A full disk: what is in memory stays there, and no more is tried until a clear.
            if (::ftruncate(spillFd_, static_cast<off_t>(at)) != 0) {
                // the file's tail is never read
            }
            spillFailed_ = true;
            return Move::Failed;
        }
        done += static_cast<std::size_t>(n);
    }
    chunk.where = Where::Spill;
    chunk.fileOffset = at;
    spilled_ += chunk.size();
    return Move::Done;
}

std::size_t TraceLogStore::chunkOf(std::uint64_t line) const {
    const auto after =
        std::upper_bound(chunks_.begin(), chunks_.end(), line,
                         [](std::uint64_t l, const Chunk& c) { return l < c.firstLine; });
    return static_cast<std::size_t>(after - chunks_.begin()) - 1;
}

std::uint64_t TraceLogStore::textOffset(std::uint64_t line) const {
    if (line >= lines_) {
        return 3 * bytes_ + 2 * lines_;
    }
    const Chunk& c = chunks_[chunkOf(line)];
    const std::size_t j = static_cast<std::size_t>(line - c.firstLine);
    return 3 * (c.firstByte + c.start(j)) + 2 * line;
}

void TraceLogStore::readFile(int fd, std::uint64_t offset, char* to, std::size_t size) const {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, to + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw FileError(kReadFailure, n < 0 ? systemReason(errno)
                                                : std::string("its file is shorter than it was"));
        }
        got += static_cast<std::size_t>(n);
    }
}

void TraceLogStore::appendText(const Chunk& chunk, std::size_t j0, std::size_t j1,
                               std::string& out) const {
    const std::uint32_t from = chunk.start(j0);
    switch (chunk.where) {
        case Where::Memory:
            for (std::size_t j = j0; j < j1; ++j) {
                appendLineText(out, chunk.bytes.data() + chunk.start(j),
                               chunk.ends[j] - chunk.start(j));
            }
            return;
        case Where::Spill: {
            std::vector<std::uint8_t> bytes(chunk.ends[j1 - 1] - from);
            readFile(spillFd_, chunk.fileOffset + from, reinterpret_cast<char*>(bytes.data()),
                     bytes.size());
            for (std::size_t j = j0; j < j1; ++j) {
                appendLineText(out, bytes.data() + (chunk.start(j) - from),
                               chunk.ends[j] - chunk.start(j));
            }
            return;
        }
        case Where::Journal: {
            const int fd = journalFd(chunk.journal, false);
            const std::size_t at = out.size();
            const std::uint64_t size = chunk.textSize(j0, j1);
            out.resize(at + size);
            try {
                if (fd < 0) {
                    throw FileError(kReadFailure, "the capture journal is not there any more");
                }
                readFile(fd, chunk.fileOffset + chunk.textSize(0, j0), out.data() + at, size);
                // Only what is exactly the lines' text passes.
                if (!parseTraceLines(std::string_view(out).substr(at),
                                     std::span(chunk.ends).subspan(j0, j1 - j0), from, nullptr)) {
                    throw FileError(kReadFailure, "the capture journal was changed");
                }
            } catch (...) {
                out.resize(at);
                throw;
            }
            return;
        }
    }
}

std::string TraceLogStore::line(std::uint64_t i) const {
    if (i >= lines_) {
        throw std::out_of_range("No such line in the trace log");
    }
    const Chunk& c = chunks_[chunkOf(i)];
    const std::size_t j = static_cast<std::size_t>(i - c.firstLine);
    std::string text;
    appendText(c, j, j + 1, text);
    text.resize(text.size() - 2);
    return text;
}

std::vector<std::uint8_t> TraceLogStore::datagram(std::uint64_t i) const {
    if (i >= lines_) {
        throw std::out_of_range("No such line in the trace log");
    }
    const Chunk& c = chunks_[chunkOf(i)];
    const std::size_t j = static_cast<std::size_t>(i - c.firstLine);
    if (c.where == Where::Memory) {
        return {c.bytes.begin() + c.start(j), c.bytes.begin() + c.ends[j]};
    }
    std::string text;
    appendText(c, j, j + 1, text);
    std::vector<std::uint8_t> bytes;
    parseTraceLines(text, std::span(c.ends).subspan(j, 1), c.start(j), &bytes);
    return bytes;
}

void TraceLogStore::readText(std::uint64_t& line, std::uint64_t end, std::string& out,
                             std::size_t maxBytes) const {
    end = std::min(end, lines_);
    const std::size_t limit = out.size() + std::min(maxBytes, SIZE_MAX - out.size());
    while (line < end && out.size() < limit) {
        const Chunk& c = chunks_[chunkOf(line)];
        const std::size_t j0 = static_cast<std::size_t>(line - c.firstLine);
        const std::size_t last =
            static_cast<std::size_t>(std::min<std::uint64_t>(c.ends.size(), end - c.firstLine));
        // As many lines as fill out to maxBytes, at least one.
        std::size_t j1 = j0 + 1;
        const std::uint64_t room = limit - out.size();
        while (j1 < last && c.textSize(j0, j1 + 1) <= room) {
            ++j1;
        }
        appendText(c, j0, j1, out);
        line += j1 - j0;
    }
}

std::uint64_t TraceLogStore::memoryBytes() const {
    return inMemory_ + indexBytes_;
}

}  // namespace osc
