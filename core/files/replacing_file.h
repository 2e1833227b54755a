#pragma once
// A file written a piece at a time that replaces its target only once complete: until
// commit() the target keeps its old contents, and a writer dropped without a commit (a
// cancelled export, a failure) leaves no file and no temporary behind.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/files/save_target.h"

namespace osc {

class ReplacingFileWriter {
  public:
    // Looks at the target and creates the temporary file beside it (mode 0600, or the target's
    // if narrower, until the commit). Throws FileError("Cannot create file PATH", reason) for a
    // folder, a FIFO or device, a file that may not be written, a folder that takes no file.
    // A target in a folder that takes no new file is written over in place at the commit, the
    // room for the whole file reserved first (a full disk refuses the commit and leaves the
    // file as it was); until then the pieces are held in memory, or, with streamInPlace (a file
    // too long to hold), in a private temporary file of the system's temporary folder.
    explicit ReplacingFileWriter(const std::filesystem::path& path, bool streamInPlace = false);
    ~ReplacingFileWriter();  // abandons the file unless committed
    ReplacingFileWriter(const ReplacingFileWriter&) = delete;
    ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;

    // Throws FileError (the same text) when the bytes cannot be written.
    void write(std::string_view bytes);
    // Puts the file in place of the target (its permissions kept). Throws FileError.
    void commit();
    // Drops what was written; the target stays as it was.
    void abandon();
    // Dropping the writer leaves the target as it was (always: nothing touches it before the
    // commit).
    bool cancelsCleanly() const { return true; }

  private:
    [[noreturn]] void fail(int error);
    [[noreturn]] void failWith(const std::string& reason);
    void commitInPlace();

    SaveTarget target_;
    std::string failureText_;
    int fd_ = -1;  // the temporary file beside the target, or the spool
    std::filesystem::path temp_;
    // Targets in a folder that takes no new file are written in place at the commit, from
    // here (or from the spool, fd_).
    bool inPlace_ = false;
    std::string held_;
    std::uint64_t spooled_ = 0;
    bool finished_ = false;
};

}  // namespace osc
