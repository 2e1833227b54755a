#pragma once
// The .osc lines of a recording written as it goes: OscLineWriter appends the lines from the
// caller's thread without a system call; a thread of its own writes them out every 200 ms and
// syncs them to the disk about once a second. Only whole lines reach the file: a write that
// fails midway is cut back to the last whole line.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
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
    std::size_t maxPendingBytes = 64u << 20;  // lines waiting for a disk that does not keep up
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

    // One datagram as a trace line and CR LF. Never throws; after a failure it does nothing.
    void append(std::span<const std::uint8_t> datagram) noexcept;
    // Writes the rest, syncs and ends the thread (once; later calls return the same). False
    // when anything was lost.
    bool finish() noexcept;

    bool failed() const noexcept { return failed_.load(std::memory_order_acquire); }
    // The first failure, "No space left on device"; empty while there is none.
    std::string error() const;
    std::uint64_t datagramsAppended() const noexcept { return appended_; }
    // Where the line of the last append() starts in the file, when that append took its datagram
    // (nothing after a failure or before the first append).
    std::optional<std::uint64_t> lastLineOffset() const noexcept {
        return lastTaken_ ? std::optional<std::uint64_t>(appendedBytes_ - lastLineBytes_)
                          : std::nullopt;
    }
    // What has been written out (not necessarily synced yet).
    OscLineProgress written() const;

  private:
    void run();
    void fail(const std::string& reason) noexcept;

    const int fd_;
    const OscLineTiming timing_;
    const std::function<void(OscLineProgress)> onSynced_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string pending_;  // guarded: whole lines not yet handed to the file
    std::uint64_t pendingLines_ = 0;
    bool stopping_ = false;
    std::string error_;
    OscLineProgress written_;  // guarded

    std::atomic<bool> failed_{false};
    std::uint64_t appended_ = 0;  // caller's thread only, like the three below
    std::uint64_t appendedBytes_ = 0;
    std::uint64_t lastLineBytes_ = 0;
    bool lastTaken_ = false;
    bool finished_ = false;
    bool finishResult_ = true;
    std::thread thread_;
};

}  // namespace osc
