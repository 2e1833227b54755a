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
// commit() renames it over that file with the replaced file's permission bits. Where no .part
// file can be made but the file itself may be written (a read-only folder), or for a device or
// FIFO, the lines go straight into the file.
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
