#include "net/datagram_queue.h"

namespace osc::net {

bool DatagramQueue::push(std::vector<std::uint8_t>&& datagram, SenderAddress from) {
    bool wasEmpty = false;
    {
        std::lock_guard lock(mutex_);
        const std::size_t cost = datagram.size() + kOverheadBytes;
        if (items_.size() >= limits_.maxDatagrams || bytes_ + cost > limits_.maxBytes) {
            droppedFull_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        wasEmpty = items_.empty();
        items_.push_back(Item{std::move(datagram), from});
        bytes_ += cost;
    }
    if (wasEmpty) {
        std::lock_guard callbackLock(callbackMutex_);
        if (ready_) {
            ready_();
        }
    }
    return true;
}

std::size_t DatagramQueue::pushBatch(std::vector<std::vector<std::uint8_t>>& datagrams,
                                     const std::vector<SenderAddress>& from) {
    bool wasEmpty = false;
    std::size_t kept = 0;
    {
        std::lock_guard lock(mutex_);
        wasEmpty = items_.empty();
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            const std::size_t cost = datagrams[i].size() + kOverheadBytes;
            if (items_.size() >= limits_.maxDatagrams || bytes_ + cost > limits_.maxBytes) {
                droppedFull_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            items_.push_back(
                Item{std::move(datagrams[i]), i < from.size() ? from[i] : SenderAddress{}});
            bytes_ += cost;
            ++kept;
        }
    }
    datagrams.clear();
    if (wasEmpty && kept > 0) {
        std::lock_guard callbackLock(callbackMutex_);
        if (ready_) {
            ready_();
        }
    }
    return kept;
}

bool DatagramQueue::take(std::vector<std::uint8_t>& out, SenderAddress* from) {
    std::lock_guard lock(mutex_);
    if (items_.empty()) {
        return false;
    }
    out = std::move(items_.front().bytes);
    if (from != nullptr) {
        *from = items_.front().from;
    }
    items_.pop_front();
    bytes_ -= out.size() + kOverheadBytes;
    return true;
}

void DatagramQueue::setReadyCallback(std::function<void()> callback) {
    std::lock_guard lock(callbackMutex_);
    ready_ = std::move(callback);
}

std::size_t DatagramQueue::size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

std::size_t DatagramQueue::bytesHeld() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

}  // namespace osc::net
