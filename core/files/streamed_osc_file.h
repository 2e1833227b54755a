#pragma once
// A recording written as it goes, for the command-line capture: a valid .osc file at every
// moment but for the line being written, put in place of its target at the end.

#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "core/files/capture_journal.h"
#include "core/files/osc_line_writer.h"
#include "core/files/save_target.h"

namespace osc {

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

    // foreign: from another sender than the device (OscLineWriter).
    void append(std::span<const std::uint8_t> datagram, bool foreign = false) noexcept {
        writer_->append(datagram, foreign);
    }
    bool failed() const noexcept { return writer_->failed(); }
    std::string error() const { return writer_->error(); }
    std::uint64_t datagrams() const { return writer_->datagramsAppended(); }
    // Datagrams the disk did not keep up with; datagrams() = written + dropped after commit().
    OscLineDrops dropped() const { return writer_->dropped(); }
    // Whole lines written out so far.
    std::uint64_t written() const { return writer_->written().datagrams; }
    // Where the lines go now: the .part file, or the file itself.
    const std::filesystem::path& writingPath() const { return writing_; }
    const std::filesystem::path& finalPath() const { return target_.path; }

    // Writes the rest and syncs, without putting the file in place yet; false when anything
    // was lost. Nothing can be appended afterwards.
    bool finish() noexcept { return writer_->finish(); }
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
