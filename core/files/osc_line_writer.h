#pragma once
// The .osc lines of a recording written as it goes: OscLineWriter takes the datagrams from the
// caller's thread without a system call (a copy of their bytes); a thread of its own turns them
// into lines and writes them out in batches, every 200 ms or at once when a megabyte waits, and
// syncs them to the disk about once a second. Only whole lines reach the file: a write that fails
// midway is cut back to the last whole line.
//
// A disk that does not keep up never ends the recording: when the datagrams waiting would pass
// maxPendingBytes, the oldest waiting foreign datagrams (those from other senders than the
// device) are dropped first, then, for a datagram of the device, the oldest of the device's; a
// foreign datagram never pushes out one of the device's. Every dropped datagram is counted.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace osc {

struct OscLineTiming {
    std::chrono::milliseconds writeEvery{200};
    std::chrono::milliseconds syncEvery{1000};
    // Datagrams waiting for the disk, their lengths plus kPendingOverhead each.
    std::size_t maxPendingBytes = 64u << 20;
};

// Datagrams appended but never written, because the disk did not keep up.
struct OscLineDrops {
    std::uint64_t foreign = 0;
    std::uint64_t device = 0;
    std::uint64_t total() const { return foreign + device; }
    bool operator==(const OscLineDrops&) const = default;
};

// How far the lines have reached the file.
struct OscLineProgress {
    std::uint64_t datagrams = 0;
    std::uint64_t bytes = 0;
    bool operator==(const OscLineProgress&) const = default;
};

class OscLineWriter {
  public:
    // Writes to fd (not taken: the caller closes it after finish()) from its current offset.
    // onSynced runs on the writer's thread after each sync with what the disk then holds.
    OscLineWriter(int fd, OscLineTiming timing = {},
                  std::function<void(OscLineProgress)> onSynced = {});
    ~OscLineWriter();
    OscLineWriter(const OscLineWriter&) = delete;
    OscLineWriter& operator=(const OscLineWriter&) = delete;

    static constexpr std::size_t kPendingOverhead = 64;

    // One datagram as a trace line and CR LF; foreign: from another sender than the device, the
    // first to go when the disk does not keep up. Never throws; after a failure it does nothing.
    void append(std::span<const std::uint8_t> datagram, bool foreign = false) noexcept;
    // Writes the rest, syncs and ends the thread (once; later calls return the same). False
    // when anything was lost.
    bool finish() noexcept;

    bool failed() const noexcept { return failed_.load(std::memory_order_acquire); }
    // The first failure, "No space left on device"; empty while there is none.
    std::string error() const;
    std::uint64_t datagramsAppended() const noexcept { return appended_; }
    // Where the line of the last append() starts in the file, when that append took its datagram
    // (nothing after a failure or before the first append, and nothing once a datagram was
    // dropped: the lines after it start earlier than they would have).
    std::optional<std::uint64_t> lastLineOffset() const noexcept {
        return lastTaken_ ? std::optional<std::uint64_t>(appendedBytes_ - lastLineBytes_)
                          : std::nullopt;
    }
    // The datagrams dropped so far (see above); appended = written + dropped after finish().
    OscLineDrops dropped() const;
    // What has been written out (not necessarily synced yet).
    OscLineProgress written() const;

  private:
    struct Waiting {
        std::uint64_t order = 0;  // of the appends: the file keeps it
        std::vector<std::uint8_t> bytes;
    };

    void run();
    void fail(const std::string& reason) noexcept;
    // Under the lock: the oldest waiting datagrams, in the order of their appends, up to about
    // maxBytes.
    void takeWaiting(std::vector<Waiting>& batch, std::size_t maxBytes);

    const int fd_;
    const OscLineTiming timing_;
    const std::function<void(OscLineProgress)> onSynced_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded: the datagrams not yet handed to the file, the device's and the foreign ones apart.
    std::deque<Waiting> waitingDevice_;
    std::deque<Waiting> waitingForeign_;
    std::size_t waitingBytes_ = 0;
    std::uint64_t nextOrder_ = 0;
    OscLineDrops dropped_;
    bool wakeAsked_ = false;  // a batch is waiting: no pause before writing
    bool stopping_ = false;
    std::string error_;
    OscLineProgress written_;  // guarded

    std::atomic<bool> failed_{false};
    std::uint64_t appended_ = 0;  // caller's thread only, like the three below
    std::uint64_t appendedBytes_ = 0;
    std::uint64_t lastLineBytes_ = 0;
    bool lastTaken_ = false;
    bool offsetsKnown_ = true;
    bool finished_ = false;
    bool finishResult_ = true;
    std::thread thread_;
};

}  // namespace osc
