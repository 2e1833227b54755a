#include "core/files/save_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include "core/files/osc_file.h"

namespace osc {

namespace {

// The file a chain of symbolic links ends at (the last name when it names no file yet). Only
// the last component matters: the rename happens in the folder that holds that file.
std::filesystem::path followLinks(const std::filesystem::path& path) {
    std::filesystem::path p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return p;
        }
        std::error_code ec;
        const std::filesystem::path next = std::filesystem::read_symlink(p, ec);
        if (ec) {
            return p;
        }
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    return p;  // a loop of links: opening it reports the system's reason
}

void syncFolder(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);  // makes the rename last; a folder that cannot be synced changes nothing
        ::close(fd);
    }
}

}  // namespace

std::string systemReason(int error) {
    return std::system_category().message(error);
}

SaveTarget findSaveTarget(const std::filesystem::path& path, const std::string& failureText) {
    const auto fail = [&](int error) { throw FileError(failureText, systemReason(error)); };
    if (path.filename().empty()) {
        fail(EISDIR);
    }
    SaveTarget t;
    t.given = path;
    t.path = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            fail(errno);
        }
        t.path = followLinks(path);  // a link to a file that does not exist yet: create that
        return t;
    }
    if (S_ISDIR(st.st_mode)) {
        fail(EISDIR);
    }
    t.exists = true;
    t.regular = S_ISREG(st.st_mode);
    t.mode = static_cast<std::uint32_t>(st.st_mode);
    t.uid = static_cast<std::uint32_t>(st.st_uid);
    t.gid = static_cast<std::uint32_t>(st.st_gid);
    if (t.regular) {
        t.path = followLinks(path);
        // The system decides whether the file may be written; a file that may not is refused
        // rather than replaced behind its owner's back.
        const int fd = ::open(t.path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            fail(errno);
        }
        ::close(fd);
    }
    return t;
}

int createBeside(const SaveTarget& target, const std::string& suffix,
                 std::filesystem::path& created) {
    const std::string name = target.path.filename().string();
    created = target.path;
    if (!suffix.empty()) {
        created.replace_filename(name + suffix);
        return ::open(created.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                      0666);
    }
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char tail[40];
        std::snprintf(tail, sizeof tail, ".%08x%04x.tmp", static_cast<unsigned>(random()),
                      counter.fetch_add(1) & 0xFFFF);
        // A long name would push the temporary one past the file system's limit.
        created.replace_filename((name.size() <= 200 ? "." + name : std::string(".osc")) + tail);
        const int fd =
            ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

int openInPlace(const SaveTarget& target) {
    if (target.regular) {
        return ::open(target.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC,
                      0666);
    }
    // Through the name as given: /dev/stdout and its kind only make sense so.
    const int fd = ::open(target.given.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

int replaceTarget(const SaveTarget& target, int fd, const std::filesystem::path& written) {
    if (target.exists) {
        // Owner first: a change of owner clears the set-user-ID bits that the mode restores.
        // Neither is a reason to fail the save (a file system without modes, a user who may not
        // give files away).
        struct stat st {};
        if (::fstat(fd, &st) == 0 && (st.st_uid != target.uid || st.st_gid != target.gid)) {
            if (::fchown(fd, target.uid, target.gid) != 0) {
                // kept as the system made it
            }
        }
        ::fchmod(fd, static_cast<mode_t>(target.mode & 07777));
    }
    if (::fsync(fd) != 0) {
        return errno;
    }
    if (::rename(written.c_str(), target.path.c_str()) != 0) {
        return errno;
    }
    syncFolder(target.path.parent_path());
    return 0;
}

int writeAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return EIO;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace osc
