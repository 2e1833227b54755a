#include "core/files/replacing_file.h"

#include <unistd.h>

#include <cerrno>

#include "core/files/osc_file.h"

namespace osc {

ReplacingFileWriter::ReplacingFileWriter(const std::filesystem::path& path, bool streamInPlace)
    : failureText_("Cannot create file " + path.string()) {
    target_ = findSaveTarget(path, failureText_);
    inPlace_ = !target_.regular;
    if (!inPlace_) {
        fd_ = createBeside(target_, "", temp_);
        if (fd_ < 0) {
            // A folder that takes no new file: a file there that may be written is written in
            // place.
            if (!target_.exists) {
                fail(errno);
            }
            temp_.clear();
            inPlace_ = true;
        }
    }
    if (inPlace_ && streamInPlace) {
        fd_ = openInPlace(target_);
        if (fd_ < 0) {
            fail(errno);
        }
    }
}

ReplacingFileWriter::~ReplacingFileWriter() {
    abandon();
}

void ReplacingFileWriter::fail(int error) {
    const std::string reason = systemReason(error);
    abandon();
    throw FileError(failureText_, reason);
}

void ReplacingFileWriter::write(std::string_view bytes) {
    if (finished_) {
        return;
    }
    if (inPlace_ && fd_ < 0) {
        held_.append(bytes);
        return;
    }
    if (const int error = writeAll(fd_, bytes.data(), bytes.size()); error != 0) {
        fail(error);
    }
}

void ReplacingFileWriter::commit() {
    if (finished_) {
        return;
    }
    if (inPlace_ && fd_ >= 0) {  // written as it came
        if (target_.regular && ::fsync(fd_) != 0) {
            fail(errno);
        }
        ::close(fd_);
        fd_ = -1;
        finished_ = true;
        return;
    }
    if (inPlace_) {
        const int fd = openInPlace(target_);
        if (fd < 0) {
            fail(errno);
        }
        int error = writeAll(fd, held_.data(), held_.size());
        if (error == 0 && target_.regular && ::fsync(fd) != 0) {
            error = errno;
        }
        ::close(fd);
        if (error != 0) {
            fail(error);
        }
        finished_ = true;
        held_.clear();
        return;
    }
    const int error = replaceTarget(target_, fd_, temp_);
    if (error != 0) {
        fail(error);
    }
    ::close(fd_);
    fd_ = -1;
    finished_ = true;
}

void ReplacingFileWriter::abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        if (!inPlace_) {
            ::unlink(temp_.c_str());
        }
    }
    held_.clear();
    held_.shrink_to_fit();
    finished_ = true;
}

}  // namespace osc
