#include "core/files/replacing_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "core/files/osc_file.h"

namespace osc {

namespace {

// A private file in the system's temporary folder that is gone once closed.
int createSpool() {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    const std::string dir = ec ? std::string("/tmp") : folder.string();
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
    std::string name = dir + "/morvelip-osc-XXXXXX";  // a file system without unnamed files
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::unlink(name.c_str());
    }
    return fd;
}

}  // namespace

ReplacingFileWriter::ReplacingFileWriter(const std::filesystem::path& path, bool streamInPlace)
    : failureText_("Cannot create file " + path.string()) {
    target_ = findSaveTarget(path, failureText_);
    fd_ = createBeside(target_, "", temp_);
    if (fd_ < 0) {
        // A folder that takes no new file: a file there that may be written is written in
        // place at the commit.
        if (!target_.exists) {
            fail(errno);
        }
        temp_.clear();
        inPlace_ = true;
        if (streamInPlace) {
            fd_ = createSpool();
            if (fd_ < 0) {
                fail(errno);
            }
        }
    }
}

ReplacingFileWriter::~ReplacingFileWriter() {
    abandon();
}

void ReplacingFileWriter::fail(int error) {
    failWith(systemReason(error));
}

void ReplacingFileWriter::failWith(const std::string& reason) {
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
    spooled_ += bytes.size();
}

void ReplacingFileWriter::commit() {
    if (finished_) {
        return;
    }
    if (inPlace_) {
        commitInPlace();
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

void ReplacingFileWriter::commitInPlace() {
    const bool spooled = fd_ >= 0;
    const std::uint64_t size = spooled ? spooled_ : held_.size();
    const int out = openInPlace(target_, size);
    if (out < 0) {
        failWith(inPlaceRefusal(errno));
    }
    int error = 0;
    if (!spooled) {
        error = writeAll(out, held_.data(), held_.size());
    } else if (::lseek(fd_, 0, SEEK_SET) != 0) {
        error = errno;
    } else {
        std::vector<char> buffer(std::size_t{1} << 20);
        for (std::uint64_t done = 0; done < size && error == 0;) {
            const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                break;
            }
            error = writeAll(out, buffer.data(), static_cast<std::size_t>(n));
            done += static_cast<std::uint64_t>(n);
        }
    }
    if (error == 0) {
        error = finishInPlace(out, size);
    }
    ::close(out);
    if (error != 0) {
        fail(error);
    }
    abandon();  // the spool and what was held go; the target is written
}

void ReplacingFileWriter::abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        if (!temp_.empty()) {
            ::unlink(temp_.c_str());
        }
    }
    held_.clear();
    held_.shrink_to_fit();
    finished_ = true;
}

}  // namespace osc
