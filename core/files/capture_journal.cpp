#include "core/files/capture_journal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/files/osc_file.h"

namespace osc {

namespace {

constexpr int kSlots = 16;
constexpr std::size_t kChunk = 1 << 20;

std::filesystem::path dataPath(const std::filesystem::path& folder, int slot) {
    return folder / ("journal-" + std::to_string(slot) + ".osc");
}

std::filesystem::path statePathOf(const std::filesystem::path& data) {
    std::filesystem::path state = data;
    state.replace_extension(".state");
    return state;
}

std::optional<JournalState> readState(int fd) {
    char buffer[256];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        return std::nullopt;
    }
    return parseJournalState(std::string_view(buffer, static_cast<std::size_t>(n)));
}

// Opens and locks a slot's state file; -1 when it cannot be had (held, or no such file with
// create false). A lock on a file that a discard removed meanwhile is given up and tried again.
int lockState(const std::filesystem::path& path, bool create, int how) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int fd = ::open(path.c_str(),
                              (create ? O_RDWR | O_CREAT : O_RDWR) | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            return -1;
        }
        if (::flock(fd, how | LOCK_NB) != 0) {
            ::close(fd);
            errno = EWOULDBLOCK;
            return -1;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
            return fd;
        }
        ::close(fd);
    }
    return -1;
}

// The journals' folder as it may be used: links followed, a folder of this user that no one
// else may write to (its journals are offered for replay at the next start). A folder of this
// user that others may write to is closed to them first. Empty, with `why`, otherwise.
std::filesystem::path checkedFolder(const std::filesystem::path& folder, std::string& why) {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(folder, ec);
    struct stat st {};
    if (ec || ::stat(real.c_str(), &st) != 0) {
        why = systemReason(ec ? ec.value() : errno);
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        why = systemReason(ENOTDIR);
        return {};
    }
    if (st.st_uid != ::geteuid()) {
        why = real.string() + " belongs to another user";
        return {};
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
        ::chmod(real.c_str(), st.st_mode & 07777 & ~(S_IWGRP | S_IWOTH)) != 0) {
        why = "others may write to " + real.string();
        return {};
    }
    return real;
}

}  // namespace

// --- the state record ---

std::string journalStateText(const JournalState& state) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "MorvelIP_OSC journal 1\ncomplete %d\nstarted %020" PRId64
                  "\ndatagrams %020" PRIu64 "\nbytes %020" PRIu64 "\n",
                  state.complete ? 1 : 0, state.startedAt, state.synced.datagrams,
                  state.synced.bytes);
    return text;
}

std::optional<JournalState> parseJournalState(std::string_view text) {
    constexpr std::string_view kHead = "MorvelIP_OSC journal 1\n";
    if (text.substr(0, kHead.size()) != kHead) {
        return std::nullopt;
    }
    text.remove_prefix(kHead.size());
    const auto field = [&text](std::string_view key, auto& value) {
        if (text.substr(0, key.size()) != key) {
            return false;
        }
        text.remove_prefix(key.size());
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos || end == 0) {
            return false;
        }
        const char* const last = text.data() + end;
        const auto [p, ec] = std::from_chars(text.data(), last, value);
        text.remove_prefix(end + 1);
        return ec == std::errc() && p == last;
    };
    JournalState s;
    int complete = -1;
    if (!field("complete ", complete) || (complete != 0 && complete != 1) ||
        !field("started ", s.startedAt) || !field("datagrams ", s.synced.datagrams) ||
        !field("bytes ", s.synced.bytes)) {
        return std::nullopt;
    }
    s.complete = complete == 1;
    return s;
}

std::filesystem::path defaultJournalFolder() {
    std::filesystem::path base;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* user = ::getpwuid(::getuid());
            home = user != nullptr ? user->pw_dir : "/tmp";
        }
        base = std::filesystem::path(home) / ".local" / "state";
    }
    return base / "Kestrowel" / "MorvelIP_OSC";
}

JournalInfo inspectOscLines(const std::filesystem::path& path,
                            const std::optional<JournalState>& state) {
    std::string reason;
    const int fd = openRegularForReading(path, reason);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) {
            reason = systemReason(errno);
            ::close(fd);
        }
        throw FileError("Cannot open file " + path.string(), reason);
    }
    JournalInfo info;
    info.path = path;
    info.lastWrittenAt = static_cast<std::int64_t>(st.st_mtime);
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t from = 0;
    if (state) {
        info.startedAt = state->startedAt;
        info.complete = state->complete;
        // What the state says reached the disk is counted already; an offset beyond the file
        // (a file changed behind the journal's back) is not trusted.
        if (state->synced.bytes <= size) {
            from = state->synced.bytes;
            info.datagrams = state->synced.datagrams;
        }
    }
    info.bytes = from;
    std::vector<char> buffer(kChunk);
    for (std::uint64_t offset = from; offset < size;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (n <= 0) {
            break;
        }
        const char* p = buffer.data();
        const char* const end = p + n;
        while ((p = static_cast<const char*>(
                    std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
            ++p;
            ++info.datagrams;
            info.bytes = offset + static_cast<std::uint64_t>(p - buffer.data());
        }
        offset += static_cast<std::uint64_t>(n);
    }
    ::close(fd);
    return info;
}

// --- CaptureJournal ---

CaptureJournal::CaptureJournal(std::filesystem::path folder, OscLineTiming timing)
    : folder_(std::move(folder)), timing_(timing) {}

CaptureJournal::~CaptureJournal() {
    finishWriter(false);
    if (stateFd_ >= 0) {
        ::close(stateFd_);
    }
}

std::filesystem::path CaptureJournal::path() const {
    return slot_ > 0 ? dataPath(folder_, slot_) : std::filesystem::path();
}

void CaptureJournal::setError(const std::string& text) noexcept {
    try {
        setupError_ = text;
    } catch (...) {
    }
    setupFailed_ = true;
}

bool CaptureJournal::failed() const noexcept {
    return setupFailed_ || (writer_ && writer_->failed());
}

std::string CaptureJournal::error() const {
    if (setupFailed_) {
        return setupError_;
    }
    if (writer_ && writer_->failed()) {
        return "Cannot write the capture journal " + path().string() + ": " + writer_->error();
    }
    return {};
}

bool CaptureJournal::takeFailureNotice() noexcept {
    if (!failed() || noticeGiven_) {
        return false;
    }
    noticeGiven_ = true;
    return true;
}

bool CaptureJournal::takeSlot() noexcept {
    try {
        // Made private when it is new; a folder found there, or a link, must be this user's.
        std::error_code ec;
        std::filesystem::create_directories(folder_.parent_path(), ec);
        if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
            setError("Cannot write the capture journal in " + folder_.string() + ": " +
                     systemReason(errno));
            return false;
        }
        std::string why;
        const std::filesystem::path real = checkedFolder(folder_, why);
        if (real.empty()) {
            setError("Cannot write the capture journal in " + folder_.string() + ": " + why);
            return false;
        }
        folder_ = real;
        int lastError = 0;
        for (int n = 1; n <= kSlots; ++n) {
            const int fd = lockState(statePathOf(dataPath(folder_, n)), true, LOCK_EX);
            if (fd < 0) {
                lastError = errno;
                continue;
            }
            // A journal that a crash left unfinished waits to be saved or discarded.
            const std::optional<JournalState> state = readState(fd);
            struct stat st {};
            const bool lines = ::stat(dataPath(folder_, n).c_str(), &st) == 0 && st.st_size > 0;
            if (lines && !(state && state->complete)) {
                ::close(fd);
                lastError = EBUSY;
                continue;
            }
            slot_ = n;
            stateFd_ = fd;
            return true;
        }
        setError("Cannot write the capture journal in " + folder_.string() + ": " +
                 (lastError == EBUSY || lastError == EWOULDBLOCK
                      ? std::string("every journal is in use or waits to be saved or discarded")
                      : systemReason(lastError)));
    } catch (const std::exception&) {
        setError("Cannot write the capture journal: out of memory");
    }
    return false;
}

void CaptureJournal::writeState(const JournalState& state) noexcept {
    std::lock_guard lock(stateMutex_);
    try {
        const std::string text = journalStateText(state);
        if (::pwrite(stateFd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
            ::fdatasync(stateFd_);
        }
    } catch (...) {
    }
}

void CaptureJournal::start() noexcept {
    finishWriter(true);
    lastDropped_ = {};
    setupFailed_ = false;
    setupError_.clear();
    noticeGiven_ = false;
    if (stateFd_ < 0 && !takeSlot()) {
        return;
    }
    startedAt_ = static_cast<std::int64_t>(std::time(nullptr));
    writeState({false, startedAt_, {}});
    const std::filesystem::path data = dataPath(folder_, slot_);
    static std::atomic<std::uint64_t> captures{0};
    captureId_ = captures.fetch_add(1) + 1;
    dataDevice_ = dataInode_ = 0;
    kept_.clear();
    stopped_ = {};
    dataFd_ = ::open(data.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (dataFd_ < 0) {
        setError("Cannot write the capture journal " + data.string() + ": " + systemReason(errno));
        return;
    }
    struct stat st {};
    if (::fstat(dataFd_, &st) == 0) {
        dataDevice_ = static_cast<std::uint64_t>(st.st_dev);
        dataInode_ = static_cast<std::uint64_t>(st.st_ino);
    }
    try {
        writer_ = std::make_unique<OscLineWriter>(dataFd_, timing_, [this](OscLineProgress p) {
            writeState({false, startedAt_, p});
        });
    } catch (const std::exception&) {
        setError("Cannot write the capture journal: out of memory");
        ::close(dataFd_);
        dataFd_ = -1;
    }
}

void CaptureJournal::finishWriter(bool complete) noexcept {
    if (!writer_) {
        return;
    }
    if (!writer_->finish() && !setupFailed_) {
        setError(error());
    }
    stopped_ = writer_->written();
    if (complete) {
        writeState({true, startedAt_, stopped_});
    }
    lastDropped_ = writer_->dropped();
    writer_.reset();
    ::close(dataFd_);
    dataFd_ = -1;
}

void CaptureJournal::stop() noexcept {
    finishWriter(true);
}

void CaptureJournal::keepAs(const std::filesystem::path& dest) {
    const std::filesystem::path from = dataPath(folder_, slot_);
    const std::string text = "Cannot keep the capture journal " + from.string();
    if (slot_ == 0 || writer_ || dataInode_ == 0 || !kept_.empty()) {
        throw FileError(text, "no stopped capture to keep");
    }
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_ino) != dataInode_ ||
        static_cast<std::uint64_t>(st.st_dev) != dataDevice_) {
        throw FileError(text, "the journal was replaced meanwhile");
    }
    if (::rename(from.c_str(), dest.c_str()) != 0) {
        throw FileError(text, systemReason(errno));
    }
    kept_ = dest;
}

int CaptureJournal::openForReading(std::uint64_t id) const {
    if (id == 0 || id != captureId_ || slot_ == 0 || dataInode_ == 0) {
        return -1;
    }
    const std::filesystem::path path = kept_.empty() ? dataPath(folder_, slot_) : kept_;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != dataDevice_ ||
                    static_cast<std::uint64_t>(st.st_ino) != dataInode_)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// --- found journals ---

std::vector<JournalInfo> findUnfinishedJournals(const std::filesystem::path& given) {
    std::vector<JournalInfo> found;
    std::string why;
    const std::filesystem::path folder = checkedFolder(given, why);
    if (folder.empty()) {
        return found;  // none there, or not a folder of this user's to take journals from
    }
    for (int n = 1; n <= kSlots; ++n) {
        const std::filesystem::path data = dataPath(folder, n);
        struct stat st {};
        if (::stat(data.c_str(), &st) != 0 || st.st_size == 0) {
            continue;
        }
        std::optional<JournalState> state;
        const int fd = lockState(statePathOf(data), false, LOCK_SH);
        if (fd < 0 && errno == EWOULDBLOCK) {
            continue;  // a running program writes it
        }
        if (fd >= 0) {
            state = readState(fd);
        }
        try {
            JournalInfo info = inspectOscLines(data, state);
            if (!info.complete && info.datagrams > 0) {
                found.push_back(std::move(info));
            }
        } catch (const FileError&) {
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const JournalInfo& a, const JournalInfo& b) {
        return a.lastWrittenAt > b.lastWrittenAt;
    });
    return found;
}

std::string readJournal(const JournalInfo& journal) {
    std::string text = readWholeFile(journal.path);
    // Only whole lines: a line cut by the crash is left out.
    const std::size_t end = text.rfind('\n');
    text.resize(end == std::string::npos ? 0 : end + 1);
    return text;
}

bool saveJournalAs(const JournalInfo& journal, const std::filesystem::path& dest,
                   const std::function<bool(std::uint64_t, std::uint64_t)>& progress) {
    const std::string text = "Cannot create file " + dest.string();
    const auto fail = [&](int error) { return FileError(text, systemReason(error)); };
    const SaveTarget target = findSaveTarget(dest, text);
    std::string reason;
    const int in = openRegularForReading(journal.path, reason);
    if (in < 0) {
        throw FileError("Cannot open file " + journal.path.string(), reason);
    }
    std::filesystem::path temp;
    bool inPlace = false;
    int out = createBeside(target, "", temp);
    if (out < 0 && target.exists) {
        // A folder that takes no new file: written over in place, the room reserved first.
        inPlace = true;
        out = openInPlace(target, journal.bytes);
        if (out < 0) {
            const int error = errno;
            ::close(in);
            throw FileError(text, inPlaceRefusal(error));
        }
    }
    if (out < 0) {
        const int error = errno;
        ::close(in);
        throw fail(error);
    }
    int error = 0;
    bool cancelled = false;
    try {
        std::vector<char> buffer(kChunk);
        for (std::uint64_t done = 0; done < journal.bytes && error == 0;) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, journal.bytes - done));
            const ssize_t n = ::read(in, buffer.data(), want);
            if (n <= 0) {
                error = n < 0 ? errno : EIO;  // the journal shrank under us
                break;
            }
            error = writeAll(out, buffer.data(), static_cast<std::size_t>(n));
            done += static_cast<std::uint64_t>(n);
            if (error == 0 && progress && !progress(done, journal.bytes)) {
                cancelled = true;
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
    }
    ::close(in);
    if (error == 0 && !cancelled) {
        error = inPlace ? finishInPlace(out, journal.bytes) : replaceTarget(target, out, temp);
    }
    ::close(out);
    if ((error != 0 || cancelled) && !inPlace) {
        ::unlink(temp.c_str());
    }
    if (error != 0) {
        throw fail(error);
    }
    return !cancelled;
}

bool discardJournal(const JournalInfo& journal) {
    const std::filesystem::path state = statePathOf(journal.path);
    const int fd = lockState(state, false, LOCK_EX);
    if (fd < 0 && errno == EWOULDBLOCK) {
        return false;
    }
    ::unlink(journal.path.c_str());
    if (fd >= 0) {
        ::unlink(state.c_str());
        ::close(fd);
    }
    return true;
}

}  // namespace osc
