#pragma once
// The datagrams of the trace log, compact however long tracing runs: the bytes of each datagram
// (not its hex text) behind an index of where each one ends. The newest bytes stay in memory;
// beyond a memory budget the oldest go to a file a chunk at a time: read back from the capture
// journal where that file holds the same lines already (compared byte for byte before the memory
// is let go), else written to a spill file of the store's own (unnamed, in the user's cache
// folder, gone with the store). A line's hex text is made when it is asked for; the whole text
// streams out a piece at a time exactly as the trace reads: two upper-case hex digits and a
// space per byte, CR LF after every line.
//
// Appending never fails for want of a file: without one the bytes stay in memory, where the
// memory ceiling sees them. Text read back from the journal must have the lines' exact shape;
// reading fails when it has not (a journal cut or changed behind the program's back) or on a
// disk error: those calls throw FileError("Cannot read the trace log", reason).
// Not thread-safe: one thread (the window's) appends and reads.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace osc {

// $XDG_CACHE_HOME/Kestrowel/MorvelIP_OSC, else $HOME/.cache/Kestrowel/MorvelIP_OSC.
std::filesystem::path defaultSpillFolder();

struct TraceStoreOptions {
    std::uint64_t memoryBudget = 16u << 20;  // datagram bytes kept in memory, about
    std::filesystem::path spillFolder = {};  // empty: defaultSpillFolder()
    std::uint32_t chunkBytes = 1u << 20;     // bytes moved to a file at a time (1 to 2^31)
};

// Checks that text is exactly the trace lines of datagrams of the given sizes, each line ended by
// CR LF, and appends their bytes to out (when given). Line j holds ends[j] - ends[j - 1] bytes
// (the first one ends[0] - begin). False at the first difference; out then holds a part.
bool parseTraceLines(std::string_view text, std::span<const std::uint32_t> ends,
                     std::uint32_t begin, std::vector<std::uint8_t>* out);

class TraceLogStore {
  public:
    // The same datagram's line in the capture journal: the capture's number and the offset of
    // the line's first character in the journal's file.
    struct JournalCopy {
        std::uint64_t journal = 0;
        std::uint64_t offset = 0;
    };
    // Opens the journal file of a capture for reading; the store closes the descriptor. -1 when
    // that file is not there any more.
    using JournalOpener = std::function<int(std::uint64_t journal)>;

    explicit TraceLogStore(TraceStoreOptions options = {}, JournalOpener openJournal = {});
    ~TraceLogStore();
    TraceLogStore(const TraceLogStore&) = delete;
    TraceLogStore& operator=(const TraceLogStore&) = delete;

    // One datagram as the next line; `journal` where its line went in the journal as well.
    // Throws std::bad_alloc when memory runs out, std::length_error past 4 GiB in one datagram.
    void append(std::span<const std::uint8_t> datagram,
                std::optional<JournalCopy> journal = std::nullopt);
    // Forgets every line and lets the files go.
    void clear() noexcept;

    std::uint64_t lineCount() const { return lines_; }
    // Characters of the text before line `line` (line ends included): textOffset(lineCount())
    // is the size of the whole text. line <= lineCount().
    std::uint64_t textOffset(std::uint64_t line) const;
    // Characters of the longest line, without its line end.
    std::uint64_t longestLine() const { return 3 * longest_; }

    // The text of line i (< lineCount()) without its line end.
    std::string line(std::uint64_t i) const;
    // The bytes of the datagram of line i (< lineCount()).
    std::vector<std::uint8_t> datagram(std::uint64_t i) const;
    // Appends the text of the lines from `line` on, CR LF after each, until at least maxBytes
    // are appended or `line` reaches `end` (<= lineCount()); `line` moves past the lines taken,
    // at least one while it is below `end`.
    void readText(std::uint64_t& line, std::uint64_t end, std::string& out,
                  std::size_t maxBytes = 1u << 20) const;

    // What the store holds in memory: the index and the bytes not yet in a file.
    std::uint64_t memoryBytes() const;
    // Datagram bytes kept in the store's own spill file, and read back from the journal.
    std::uint64_t spilledBytes() const { return spilled_; }
    std::uint64_t journalBytes() const { return journaled_; }
    // Counts the clears: a reader that spans several calls notices one between them.
    std::uint64_t generation() const { return generation_; }

  private:
    enum class Where { Memory, Spill, Journal };
    struct Chunk {
        std::uint64_t firstLine = 0;
        std::uint64_t firstByte = 0;      // of the whole trace's bytes
        std::vector<std::uint32_t> ends;  // where each line's bytes end, from the chunk's start
        std::vector<std::uint8_t> bytes;  // while in memory
        Where where = Where::Memory;
        std::uint64_t fileOffset = 0;  // Spill: the first byte; Journal: the first line's text
        std::uint64_t journal = 0;  // the capture whose journal holds the lines in a row; 0: none
        std::uint32_t size() const { return ends.empty() ? 0 : ends.back(); }
        std::uint32_t start(std::size_t j) const { return j == 0 ? 0 : ends[j - 1]; }
        std::uint64_t textSize(std::size_t j0, std::size_t j1) const {
            return 3 * std::uint64_t{start(j1) - start(j0)} + 2 * std::uint64_t{j1 - j0};
        }
    };
    enum class Move { Done, Later, Failed };

    std::size_t chunkOf(std::uint64_t line) const;
    Chunk& openChunk(std::optional<JournalCopy> journal, std::size_t size);
    void seal(Chunk& chunk);
    void moveOutOfMemory();
    Move moveToJournal(Chunk& chunk);
    Move moveToSpill(Chunk& chunk);
    // The open journal of a capture; -1 when it cannot be read, or (toMove) takes no more chunks.
    int journalFd(std::uint64_t journal, bool toMove) const;
    // The text of lines [j0, j1) of a chunk, CR LF after each, appended to out.
    void appendText(const Chunk& chunk, std::size_t j0, std::size_t j1, std::string& out) const;
    void readFile(int fd, std::uint64_t offset, char* to, std::size_t size) const;

    TraceStoreOptions options_;
    JournalOpener openJournal_;
    std::vector<Chunk> chunks_;
    std::size_t firstInMemory_ = 0;  // chunks before it are in files
    std::uint64_t lines_ = 0;
    std::uint64_t bytes_ = 0;
    std::uint64_t longest_ = 0;
    std::uint64_t inMemory_ = 0;  // bytes' capacity of the chunks in memory
    std::uint64_t indexBytes_ = 0;
    std::uint64_t spilled_ = 0;
    std::uint64_t journaled_ = 0;
    std::uint64_t generation_ = 0;
    int spillFd_ = -1;
    bool spillFailed_ = false;  // no spill file until the next clear
    struct OpenJournal {
        std::uint64_t journal = 0;
        int fd = -1;  // -1: cannot be read
        bool takesMore = true;
    };
    std::vector<OpenJournal> journals_;
};

}  // namespace osc
