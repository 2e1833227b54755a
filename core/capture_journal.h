#pragma once
// Nothing lost: every received datagram written to a file as the capture goes, in the .osc
// line format, so that the file replays through the same path as a loaded one.
//
// OscLineWriter appends the lines from the caller's thread without a system call; a thread of
// its own writes them out every 200 ms and syncs them to the disk about once a second. Only
// whole lines reach the file: a write that fails midway is cut back to the last whole line.
//
// CaptureJournal is the journal of the window's captures in the user's state folder
// ($XDG_STATE_HOME, else ~/.local/state, then Kestrowel/MorvelIP_OSC/; made with mode 0700, a
// link followed, refused unless the folder is the user's own, and closed to others' writes if
// it was open to them): journal-N.osc with the
// lines and journal-N.state with how far they reached the disk and whether the capture ended
// cleanly. Each running program takes one slot N under an exclusive lock (flock) on its state
// file and keeps it until it ends, so two programs never write the same journal; a slot whose
// journal was left unfinished by a crash is not taken until it has been saved or discarded.
//
// StreamedOscFile is a recording written as it goes, for the command-line capture.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/file_replacement.h"
#include "core/osc_file.h"

namespace osc {

struct OscLineTiming {
    std::chrono::milliseconds writeEvery{200};
    std::chrono::milliseconds syncEvery{1000};
    std::size_t maxPendingBytes = 64u << 20;  // lines waiting for a disk that does not keep up
};

// How far the lines have reached the file.
struct OscLineProgress {
    std::uint64_t datagrams = 0;
    std::uint64_t bytes = 0;
    bool operator==(const OscLineProgress&) const = default;
};

class OscLineWriter {
  public:
    // Writes to fd (not taken: the caller closes it after finish()) from offset `start` on.
    // onSynced runs on the writer's thread after each sync with what the disk then holds.
    OscLineWriter(int fd, OscLineTiming timing = {},
                  std::function<void(OscLineProgress)> onSynced = {});
    ~OscLineWriter();
    OscLineWriter(const OscLineWriter&) = delete;
    OscLineWriter& operator=(const OscLineWriter&) = delete;

    // One datagram as a trace line and CR LF. Never throws; after a failure it does nothing.
    void append(std::span<const std::uint8_t> datagram) noexcept;
    // Writes the rest, syncs and ends the thread (once; later calls return the same). False
    // when anything was lost.
    bool finish() noexcept;

    bool failed() const noexcept { return failed_.load(std::memory_order_acquire); }
    // The first failure, "No space left on device"; empty while there is none.
    std::string error() const;
    std::uint64_t datagramsAppended() const noexcept { return appended_; }
    // Where the line of the last append() starts in the file, when that append took its datagram
    // (nothing after a failure or before the first append).
    std::optional<std::uint64_t> lastLineOffset() const noexcept {
        return lastTaken_ ? std::optional<std::uint64_t>(appendedBytes_ - lastLineBytes_)
                          : std::nullopt;
    }
    // What has been written out (not necessarily synced yet).
    OscLineProgress written() const;

  private:
    void run();
    void fail(const std::string& reason) noexcept;

    const int fd_;
    const OscLineTiming timing_;
    const std::function<void(OscLineProgress)> onSynced_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string pending_;  // guarded: whole lines not yet handed to the file
    std::uint64_t pendingLines_ = 0;
    bool stopping_ = false;
    std::string error_;
    OscLineProgress written_;  // guarded

    std::atomic<bool> failed_{false};
    std::uint64_t appended_ = 0;  // caller's thread only, like the three below
    std::uint64_t appendedBytes_ = 0;
    std::uint64_t lastLineBytes_ = 0;
    bool lastTaken_ = false;
    bool finished_ = false;
    bool finishResult_ = true;
    std::thread thread_;
};

// A journal left behind (or a recording's file), as found on the disk.
struct JournalInfo {
    std::filesystem::path path;  // the .osc lines
    std::uint64_t bytes = 0;     // up to the end of the last whole line
    std::uint64_t datagrams = 0;
    std::int64_t startedAt = 0;      // seconds since 1970 (UTC); 0 when unknown
    std::int64_t lastWrittenAt = 0;  // likewise: the file's modification time
    bool complete = false;
};

// The state record of a journal: 128 bytes of text, rewritten in place.
struct JournalState {
    bool complete = false;
    std::int64_t startedAt = 0;
    OscLineProgress synced;
    bool operator==(const JournalState&) const = default;
};
std::string journalStateText(const JournalState& state);
std::optional<JournalState> parseJournalState(std::string_view text);

// $XDG_STATE_HOME/Kestrowel/MorvelIP_OSC, else $HOME/.local/state/Kestrowel/MorvelIP_OSC.
std::filesystem::path defaultJournalFolder();

// The whole lines of an .osc file written as it went, counted: from the state when known (the
// part up to its synced offset), the rest by reading. Throws FileError("Cannot open file ...").
JournalInfo inspectOscLines(const std::filesystem::path& path,
                            const std::optional<JournalState>& state = std::nullopt);

class CaptureJournal {
  public:
    explicit CaptureJournal(std::filesystem::path folder = defaultJournalFolder(),
                            OscLineTiming timing = {});
    // Writes out and syncs what it holds; a capture not stopped stays unfinished (offered for
    // recovery at the next start-up).
    ~CaptureJournal();
    CaptureJournal(const CaptureJournal&) = delete;
    CaptureJournal& operator=(const CaptureJournal&) = delete;

    // Start of a capture: ends the previous one as stop() does, then replaces this program's
    // journal with an empty one. Never throws: a failure is kept (failed(), error()).
    void start() noexcept;
    // Each received datagram between start and stop; nothing before the first start.
    void append(std::span<const std::uint8_t> datagram) noexcept {
        if (writer_) {
            writer_->append(datagram);
        }
    }
    // Clean stop: everything written and synced, the journal marked complete. Without a
    // capture it does nothing.
    void stop() noexcept;

    bool capturing() const { return writer_ != nullptr; }
    // The journal of the current (or last) capture lost data or could not be made.
    bool failed() const noexcept;
    // "Cannot write the capture journal PATH: No space left on device".
    std::string error() const;
    // True once per failed capture, at the first call after the failure (a one-time warning).
    bool takeFailureNotice() noexcept;

    const std::filesystem::path& folder() const { return folder_; }
    // This program's journal (empty before the first start).
    std::filesystem::path path() const;
    std::uint64_t datagrams() const { return writer_ ? writer_->datagramsAppended() : 0; }
    // What the current capture's journal has written out so far.
    OscLineProgress written() const { return writer_ ? writer_->written() : OscLineProgress{}; }

    // The capture whose lines the journal holds: a number of its own for every start in this
    // process (0 before the first).
    std::uint64_t captureId() const { return captureId_; }
    // Where the line of the datagram appended last starts in path(), when that datagram went in
    // (a capture running and nothing lost); the reader of the trace log reads it back from there.
    std::optional<std::uint64_t> lastLineOffset() const {
        return writer_ ? writer_->lastLineOffset() : std::nullopt;
    }
    // A new descriptor (the caller closes it) reading the journal of capture `id` while the file
    // still holds that capture (running or stopped, until the next start); -1 otherwise.
    int openForReading(std::uint64_t id) const;

  private:
    bool takeSlot() noexcept;
    void writeState(const JournalState& state) noexcept;
    void setError(const std::string& text) noexcept;
    void finishWriter(bool complete) noexcept;

    std::filesystem::path folder_;
    OscLineTiming timing_;
    int slot_ = 0;
    int stateFd_ = -1;
    int dataFd_ = -1;
    std::int64_t startedAt_ = 0;
    std::uint64_t captureId_ = 0;
    std::uint64_t dataDevice_ = 0;  // the file of the current capture
    std::uint64_t dataInode_ = 0;
    std::unique_ptr<OscLineWriter> writer_;
    std::string setupError_;
    bool setupFailed_ = false;
    bool noticeGiven_ = false;
    mutable std::mutex stateMutex_;  // the state file is also written from the writer's thread
};

// Journals in folder that a capture left unfinished with at least one datagram, which no running
// program holds; newest first.
std::vector<JournalInfo> findUnfinishedJournals(
    const std::filesystem::path& folder = defaultJournalFolder());
// The journal's whole lines, as a replay reads them. Throws FileError.
std::string readJournal(const JournalInfo& journal);
// Copies the whole lines into an .osc file, in pieces, replaced only once fully written (the
// rules of writeFileAtomically). progress(done, total) may return false to cancel: nothing is
// left behind then and false is returned. Throws FileError("Cannot create file DEST", reason).
bool saveJournalAs(const JournalInfo& journal, const std::filesystem::path& dest,
                   const std::function<bool(std::uint64_t, std::uint64_t)>& progress = {});
// Removes the journal; false when a running program holds it.
bool discardJournal(const JournalInfo& journal);

// A recording file that an earlier run left behind (killed), which is not replaced unasked.
class LeftoverRecordingError : public FileError {
  public:
    LeftoverRecordingError(const std::string& text, JournalInfo leftover);
    const JournalInfo& leftover() const { return leftover_; }

  private:
    JournalInfo leftover_;
};

// A recording written as it goes to PATH.part beside the file that saving to PATH replaces
// (links followed); at every moment a valid .osc file but for the line being written, and
// commit() renames it over that file with the replaced file's permission bits (the .part file
// is private, mode 0600, until then). Where no .part file can be made but the file itself may
// be written (a read-only folder), the recording starts over the file itself. A FIFO or a
// device is refused.
class StreamedOscFile {
  public:
    // Throws FileError: the file cannot be replaced, or PATH.part is being written by another
    // program; LeftoverRecordingError when PATH.part holds an earlier recording and replacePart
    // is false.
    explicit StreamedOscFile(const std::filesystem::path& path, bool replacePart = false,
                             OscLineTiming timing = {});
    ~StreamedOscFile();  // without commit() the partial file stays, as after a kill
    StreamedOscFile(const StreamedOscFile&) = delete;
    StreamedOscFile& operator=(const StreamedOscFile&) = delete;

    void append(std::span<const std::uint8_t> datagram) noexcept { writer_->append(datagram); }
    bool failed() const noexcept { return writer_->failed(); }
    std::string error() const { return writer_->error(); }
    std::uint64_t datagrams() const { return writer_->datagramsAppended(); }
    // Where the lines go now: the .part file, or the file itself.
    const std::filesystem::path& writingPath() const { return writing_; }
    const std::filesystem::path& finalPath() const { return target_.path; }

    // Writes the rest, syncs and puts the file in place. Throws FileError("Cannot create file
    // PATH", reason) (the .part file then stays).
    void commit();
    // Nothing worth keeping: the .part file is removed (a file written in place stays).
    void discard() noexcept;

  private:
    void close() noexcept;

    SaveTarget target_;
    std::filesystem::path given_;
    std::filesystem::path writing_;
    bool inPlace_ = false;
    int fd_ = -1;
    std::unique_ptr<OscLineWriter> writer_;
};

}  // namespace osc
