#pragma once
// The bounded hand-over between a receiving thread and the consumer's thread. Holds up to
// maxDatagrams datagrams and maxBytes bytes (each datagram counts its length plus
// kOverheadBytes, so the bound covers the memory actually held); a datagram that does not fit
// is dropped and counted. Thread-safe.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "core/protocol/datagram.h"

namespace osc::net {

// Where a datagram came from: the capture keeps its device's datagrams apart from the others by
// it, and the simulated device replies there.
using SenderAddress = osc::PeerAddress;

struct QueueLimits {
    std::size_t maxDatagrams = 262'144;
    std::size_t maxBytes = std::size_t{160} * 1024 * 1024;
};

class DatagramQueue {
  public:
    static constexpr std::size_t kOverheadBytes = 64;

    explicit DatagramQueue(QueueLimits limits = {}) : limits_(limits) {}

    // Moves the datagram in. Returns false (and counts a drop) when it does not fit. Runs the
    // ready callback, outside the lock, when the datagram joined an empty queue.
    bool push(std::vector<std::uint8_t>&& datagram, SenderAddress from = {});
    // Moves in several datagrams under one lock, in order, as push() would one by one;
    // returns how many were kept. Runs the ready callback at most once.
    std::size_t pushBatch(std::vector<std::vector<std::uint8_t>>& datagrams,
                          const std::vector<SenderAddress>& from);
    // The oldest datagram into out (its buffer is moved, not copied); false when empty.
    bool take(std::vector<std::uint8_t>& out, SenderAddress* from = nullptr);

    // Replaces the callback; returns only after a call of the old one in progress on the
    // receiving thread has ended, so that what the old one refers to may go away afterwards.
    // The callback must not call setReadyCallback itself.
    void setReadyCallback(std::function<void()> callback);

    std::size_t size() const;
    std::size_t bytesHeld() const;  // lengths plus overhead of the datagrams held
    std::uint64_t droppedFull() const { return droppedFull_.load(std::memory_order_relaxed); }
    const QueueLimits& limits() const { return limits_; }

  private:
    QueueLimits limits_;
    mutable std::mutex mutex_;
    struct Item {
        std::vector<std::uint8_t> bytes;
        SenderAddress from;
    };
    std::deque<Item> items_;
    std::size_t bytes_ = 0;
    std::mutex callbackMutex_;  // held while the callback runs
    std::function<void()> ready_;
    std::atomic<std::uint64_t> droppedFull_{0};
};

}  // namespace osc::net
