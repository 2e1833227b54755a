#pragma once
// A file written a piece at a time that replaces its target only once complete: until
// commit() the target keeps its old contents, and a writer dropped without a commit (a
// cancelled export, a failure) leaves no file and no temporary behind.

#include <filesystem>
#include <string>
#include <string_view>

#include "core/files/save_target.h"

namespace osc {

class ReplacingFileWriter {
  public:
    // Looks at the target and creates the temporary file beside it. Throws FileError("Cannot
    // create file PATH", reason) for a folder, a file that may not be written, a folder that
    // takes no file. A target that cannot be replaced is written at the commit from what the
    // writer holds, or, with streamInPlace (a file too long to hold), opened here and written
    // as the pieces come: a writer dropped then has changed it (cancelsCleanly() is false).
    explicit ReplacingFileWriter(const std::filesystem::path& path, bool streamInPlace = false);
    ~ReplacingFileWriter();  // abandons the file unless committed
    ReplacingFileWriter(const ReplacingFileWriter&) = delete;
    ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;

    // Throws FileError (the same text) when the bytes cannot be written.
    void write(std::string_view bytes);
    // Puts the file in place of the target (its permissions kept). Throws FileError.
    void commit();
    // Drops what was written; the target stays as it was (unless written in place as it came).
    void abandon();
    // Dropping the writer leaves the target as it was.
    bool cancelsCleanly() const { return !(inPlace_ && fd_ >= 0); }

  private:
    [[noreturn]] void fail(int error);

    SaveTarget target_;
    std::string failureText_;
    int fd_ = -1;
    std::filesystem::path temp_;
    // Targets that cannot be replaced (a device, a FIFO, a file in a folder that takes no new
    // file) are written in place at the commit, from here.
    bool inPlace_ = false;
    std::string held_;
    bool finished_ = false;
};

}  // namespace osc
