#pragma once
// Nothing lost: every received datagram written to a file as the capture goes, in the .osc
// line format (core/files/osc_line_writer.h), so that the file replays through the same path
// as a loaded one.
//
// CaptureJournal is the journal of the window's captures in the user's state folder
// ($XDG_STATE_HOME, else ~/.local/state, then Kestrowel/MorvelIP_OSC/; made with mode 0700, a
// link followed, refused unless the folder is the user's own, and closed to others' writes if
// it was open to them): journal-N.osc with the
// lines and journal-N.state with how far they reached the disk and whether the capture ended
// cleanly. Each running program takes one slot N under an exclusive lock (flock) on its state
// file and keeps it until it ends, so two programs never write the same journal; a slot whose
// journal was left unfinished by a crash is not taken until it has been saved or discarded.

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

#include "core/files/osc_file.h"
#include "core/files/osc_line_writer.h"
#include "core/files/save_target.h"

namespace osc {

// A journal left behind (or a recording's file), as found on the disk.
struct JournalInfo {
    std::filesystem::path path;  // the .osc lines
    std::uint64_t bytes = 0;     // up to the end of the last whole line
    std::uint64_t datagrams = 0;
    std::int64_t startedAt = 0;      // seconds since 1970 (UTC); 0 when unknown
    std::int64_t lastWrittenAt = 0;  // likewise: the file's modification time
    bool complete = false;
};

// The state record of a journal: 121 bytes of text (five lines, the numbers 20 digits wide),
// rewritten in place.
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
    // foreign: from another sender than the device (OscLineWriter).
    void append(std::span<const std::uint8_t> datagram, bool foreign = false) noexcept {
        if (writer_) {
            writer_->append(datagram, foreign);
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
    // Datagrams of the current (or last) capture that the disk did not keep up with.
    OscLineDrops dropped() const { return writer_ ? writer_->dropped() : lastDropped_; }

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
    // After stop(): the stopped capture's journal moves to dest (a rename within the same file
    // system), so that the next start begins a new file instead of replacing it. The trace log
    // still reads the capture back (openForReading) from there. Throws FileError("Cannot keep
    // the capture journal PATH", reason); nothing to move (no capture, or one still running)
    // is an error too.
    void keepAs(const std::filesystem::path& dest);
    // What the last stopped capture's journal holds (written and synced at its stop), and when
    // it started; zero while a capture runs or before the first.
    OscLineProgress stoppedProgress() const { return writer_ ? OscLineProgress{} : stopped_; }
    std::int64_t startedAt() const { return startedAt_; }
    // Where the stopped capture's journal went (keepAs), or empty.
    const std::filesystem::path& keptPath() const { return kept_; }

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
    std::filesystem::path kept_;  // the current capture's journal after keepAs
    OscLineProgress stopped_;     // what the journal held at its stop
    std::unique_ptr<OscLineWriter> writer_;
    OscLineDrops lastDropped_;  // of the last capture, once its writer has gone
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

}  // namespace osc
