#include "core/files/osc_line_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/files/osc_file.h"
#include "core/files/save_target.h"

namespace osc {

OscLineWriter::OscLineWriter(int fd, OscLineTiming timing,
                             std::function<void(OscLineProgress)> onSynced)
    : fd_(fd), timing_(timing), onSynced_(std::move(onSynced)) {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::exception&) {
        fail("Cannot start the writing thread");
    }
}

OscLineWriter::~OscLineWriter() {
    finish();
}

void OscLineWriter::fail(const std::string& reason) noexcept {
    std::lock_guard lock(mutex_);
    if (error_.empty()) {
        try {
            error_ = reason;
        } catch (...) {
        }
    }
    failed_.store(true, std::memory_order_release);
}

std::string OscLineWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

OscLineProgress OscLineWriter::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

OscLineDrops OscLineWriter::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

namespace {

// Raw bytes of the datagrams the writer's thread takes at a time, and the amount waiting that
// wakes it before its pause is over.
constexpr std::size_t kBatchBytes = 1u << 20;

}  // namespace

void OscLineWriter::append(std::span<const std::uint8_t> datagram, bool foreign) noexcept {
    lastTaken_ = false;
    if (failed_.load(std::memory_order_acquire) || finished_) {
        return;
    }
    bool taken = true;
    bool droppedOne = false;
    bool wake = false;
    try {
        std::vector<std::uint8_t> bytes(datagram.begin(), datagram.end());
        const std::size_t cost = bytes.size() + kPendingOverhead;
        std::lock_guard lock(mutex_);
        const auto dropOldest = [&](std::deque<Waiting>& from, std::uint64_t& count) {
            waitingBytes_ -= from.front().bytes.size() + kPendingOverhead;
            from.pop_front();
            ++count;
            droppedOne = true;
        };
        while (waitingBytes_ + cost > timing_.maxPendingBytes) {
            if (!waitingForeign_.empty()) {
                dropOldest(waitingForeign_, dropped_.foreign);
            } else if (!foreign && !waitingDevice_.empty()) {
                dropOldest(waitingDevice_, dropped_.device);
            } else {
                taken = false;  // nothing it may push out: this one goes itself
                ++(foreign ? dropped_.foreign : dropped_.device);
                droppedOne = true;
                break;
            }
        }
        if (taken) {
            (foreign ? waitingForeign_ : waitingDevice_)
                .push_back(Waiting{nextOrder_++, std::move(bytes)});
            waitingBytes_ += cost;
            if (waitingBytes_ >= kBatchBytes && !wakeAsked_) {
                wakeAsked_ = true;
                wake = true;
            }
        }
    } catch (const std::exception&) {
        fail("Out of memory");
        return;
    }
    if (wake) {
        wake_.notify_all();
    }
    if (droppedOne) {
        offsetsKnown_ = false;
    }
    ++appended_;
    lastLineBytes_ = 3 * static_cast<std::uint64_t>(datagram.size()) + 2;
    appendedBytes_ += lastLineBytes_;
    lastTaken_ = taken && offsetsKnown_;
}

void OscLineWriter::takeWaiting(std::vector<Waiting>& batch, std::size_t maxBytes) {
    std::size_t bytes = 0;
    while (bytes < maxBytes && (!waitingDevice_.empty() || !waitingForeign_.empty())) {
        std::deque<Waiting>& from = waitingForeign_.empty() || (!waitingDevice_.empty() &&
                                                                waitingDevice_.front().order <
                                                                    waitingForeign_.front().order)
                                        ? waitingDevice_
                                        : waitingForeign_;
        bytes += from.front().bytes.size() + kPendingOverhead;
        batch.push_back(std::move(from.front()));
        from.pop_front();
    }
    waitingBytes_ -= std::min(waitingBytes_, bytes);
}

void OscLineWriter::run() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastSync = Clock::now();
    bool unsynced = false;
    std::vector<Waiting> taken;
    std::string batch;
    for (;;) {
        bool stopping = false;
        OscLineProgress at;
        taken.clear();
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, timing_.writeEvery, [this] { return stopping_ || wakeAsked_; });
            takeWaiting(taken, kBatchBytes);
            const bool more = !waitingDevice_.empty() || !waitingForeign_.empty();
            wakeAsked_ = more;  // a backlog: the next batch at once
            stopping = stopping_ && !more;
            at = written_;
        }
        batch.clear();
        for (const Waiting& w : taken) {
            appendTraceLine(batch, w.bytes);
            batch += "\r\n";
        }
        std::uint64_t lines = taken.size();
        if (!batch.empty() && !failed()) {
            std::size_t done = 0;
            int error = 0;
            while (done < batch.size()) {
                const ssize_t n = ::write(fd_, batch.data() + done, batch.size() - done);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    error = n < 0 ? errno : EIO;
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            if (error != 0) {
                // What got in of the batch may end in a cut line: back to the last whole one
                // (a device or FIFO cannot be cut, and needs not be).
                const std::size_t lineEnd = batch.rfind('\n', done == 0 ? 0 : done - 1);
                const std::size_t keep =
                    done == 0 || lineEnd == std::string::npos ? 0 : lineEnd + 1;
                lines = static_cast<std::uint64_t>(std::count(
                    batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(keep), '\n'));
                if (::ftruncate(fd_, static_cast<off_t>(at.bytes + keep)) == 0) {
                    ::lseek(fd_, static_cast<off_t>(at.bytes + keep), SEEK_SET);
                }
                fail(systemReason(error));
                done = keep;
            }
            std::lock_guard lock(mutex_);
            written_.bytes += done;
            written_.datagrams += lines;
            unsynced = unsynced || done > 0;
        }
        const Clock::time_point now = Clock::now();
        if (unsynced && (stopping || now - lastSync >= timing_.syncEvery)) {
            const OscLineProgress synced = written();
            // Pipes and devices cannot be synced (EINVAL): nothing to keep there.
            if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
                fail(systemReason(errno));
            } else if (onSynced_) {
                onSynced_(synced);
            }
            unsynced = false;
            lastSync = now;
        }
        if (stopping) {
            return;
        }
    }
}

bool OscLineWriter::finish() noexcept {
    if (!finished_) {
        finished_ = true;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
        finishResult_ = !failed();
    }
    return finishResult_;
}

}  // namespace osc
