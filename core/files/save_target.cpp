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

// The mode bits that the process's umask takes from new files. Read, not set and set back: a
// thread creating a file meanwhile would get the wrong mode.
mode_t currentUmask() {
    if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                std::fclose(f);
                return static_cast<mode_t>(mask & 0777);
            }
        }
        std::fclose(f);
    }
    const mode_t mask = ::umask(077);  // a system without the field: the old way
    ::umask(mask);
    return mask;
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

std::string notRegularReason(std::uint32_t mode) {
    const auto m = static_cast<mode_t>(mode);
    if (S_ISREG(m)) {
        return {};
    }
    if (S_ISDIR(m)) {
        return systemReason(EISDIR);
    }
    if (S_ISFIFO(m)) {
        return "a FIFO (named pipe), not a regular file";
    }
    if (S_ISCHR(m) || S_ISBLK(m)) {
        return "a device, not a regular file";
    }
    if (S_ISSOCK(m)) {
        return "a socket, not a regular file";
    }
    return "not a regular file";
}

int openRegularForReading(const std::filesystem::path& path, std::string& reason) {
    // Looked at before it is opened (opening a device may do something), and again once open,
    // without waiting, in case it was swapped meanwhile.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        reason = systemReason(errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = notRegularReason(static_cast<std::uint32_t>(st.st_mode));
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = systemReason(errno);
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = S_ISREG(st.st_mode) ? systemReason(errno)
                                     : notRegularReason(static_cast<std::uint32_t>(st.st_mode));
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
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
    if (!S_ISREG(st.st_mode)) {
        throw FileError(failureText, notRegularReason(static_cast<std::uint32_t>(st.st_mode)));
    }
    t.exists = true;
    t.mode = static_cast<std::uint32_t>(st.st_mode);
    t.uid = static_cast<std::uint32_t>(st.st_uid);
    t.gid = static_cast<std::uint32_t>(st.st_gid);
    t.path = followLinks(path);
    // The system decides whether the file may be written; a file that may not is refused
    // rather than replaced behind its owner's back.
    const int fd = ::open(t.path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        fail(errno);
    }
    ::close(fd);
    return t;
}

int createBeside(const SaveTarget& target, const std::string& suffix,
                 std::filesystem::path& created) {
    const std::string name = target.path.filename().string();
    created = target.path;
    // Private from the first byte; the replaced file's mode comes with the rename.
    const auto mode = static_cast<mode_t>(target.exists ? 0600 & target.mode : 0600);
    if (!suffix.empty()) {
        created.replace_filename(name + suffix);
        const int fd =
            ::open(created.c_str(),
                   O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
        struct stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            errno = EINVAL;  // something else in its place
            return -1;
        }
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            if ((st.st_mode & 0777) != mode) {
                ::fchmod(fd, mode);  // left by an earlier run with another mode
            }
        }
        return fd;
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
            ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

int openInPlace(const SaveTarget& target, std::uint64_t size) {
    const int fd = ::open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat before {};
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        const int error = S_ISREG(before.st_mode) ? errno : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (size > 0) {
        int error = 0;
        do {
            error = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
        } while (error == EINTR);
        if (error != 0) {
            // Nothing of the old contents has changed; a size that grew goes back.
            struct stat now {};
            if (::fstat(fd, &now) == 0 && now.st_size != before.st_size) {
                if (::ftruncate(fd, before.st_size) != 0) {
                    // the file keeps zeros at its end; its contents are unchanged
                }
            }
            ::close(fd);
            errno = error;
            return -1;
        }
    }
    return fd;
}

int finishInPlace(int fd, std::uint64_t size) {
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0 || ::fsync(fd) != 0) {
        return errno;
    }
    return 0;
}

std::string inPlaceRefusal(int error) {
    return systemReason(error) + "; the file was left as it was";
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
    } else {
        ::fchmod(fd, static_cast<mode_t>(0666 & ~currentUmask()));
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
