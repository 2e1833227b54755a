#include "core/files/streamed_osc_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/files/osc_file.h"

namespace osc {

LeftoverRecordingError::LeftoverRecordingError(const std::string& text, JournalInfo leftover)
    : FileError(text, leftover.path.string() + " holds an earlier recording of " +
                          std::to_string(leftover.datagrams) + " datagrams (" +
                          std::to_string(leftover.bytes) + " bytes)"),
      leftover_(std::move(leftover)) {}

StreamedOscFile::StreamedOscFile(const std::filesystem::path& path, bool replacePart,
                                 OscLineTiming timing)
    : given_(path) {
    const std::string text = "Cannot create file " + path.string();
    const auto fail = [&](int error) { return FileError(text, systemReason(error)); };
    target_ = findSaveTarget(path, text);
    fd_ = createBeside(target_, ".part", writing_);
    if (fd_ < 0 && target_.exists) {
        // No new file in that folder, but the file itself may be written: the recording
        // starts over it.
        inPlace_ = true;
        fd_ = openInPlace(target_, 0);
        writing_ = target_.path;
        if (fd_ >= 0 && ::ftruncate(fd_, 0) != 0) {
            const int error = errno;
            close();
            throw fail(error);
        }
    }
    if (fd_ < 0) {
        throw fail(errno);
    }
    if (!inPlace_) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            close();
            throw FileError(text, writing_.string() + " is being written by another program");
        }
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && st.st_size > 0 && !replacePart) {
            JournalInfo leftover;
            leftover.path = writing_;
            try {
                leftover = inspectOscLines(writing_);
            } catch (const FileError&) {
            }
            close();
            throw LeftoverRecordingError(text, leftover);
        }
        if (::ftruncate(fd_, 0) != 0) {
            const int error = errno;
            close();
            throw fail(error);
        }
    }
    writer_ = std::make_unique<OscLineWriter>(fd_, timing);
}

StreamedOscFile::~StreamedOscFile() {
    close();
}

void StreamedOscFile::close() noexcept {
    if (writer_) {
        writer_->finish();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void StreamedOscFile::commit() {
    const std::string text = "Cannot create file " + given_.string();
    if (fd_ < 0) {
        return;
    }
    if (!writer_->finish()) {
        throw FileError(text, writer_->error());
    }
    int error = 0;
    if (!inPlace_) {
        error = replaceTarget(target_, fd_, writing_);
    } else if (::fsync(fd_) != 0) {
        error = errno;
    }
    close();
    if (error != 0) {
        throw FileError(text, systemReason(error));
    }
    writing_ = target_.path;
}

void StreamedOscFile::discard() noexcept {
    const bool remove = !inPlace_ && fd_ >= 0;
    close();
    if (remove) {
        ::unlink(writing_.c_str());
    }
}

}  // namespace osc
