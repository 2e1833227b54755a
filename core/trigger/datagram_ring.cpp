#include "core/trigger/datagram_ring.h"

#include <algorithm>
#include <cstring>

namespace osc {

DatagramRing::DatagramRing(std::size_t maxBytes) : maxBytes_(maxBytes) {}

void DatagramRing::setMaxBytes(std::size_t maxBytes) {
    maxBytes_ = maxBytes;
    while (!entries_.empty() && held_ > maxBytes_) {
        popFront();
        evicted_ = true;
    }
    if (buffer_.size() > maxBytes_) {
        // Laid out again in a buffer within the new bound.
        std::vector<std::uint8_t> next(
            std::min(buffer_.size(), std::max<std::size_t>(maxBytes_, 1)));
        std::size_t at = 0;
        for (Slot& s : entries_) {
            std::memcpy(next.data() + at, buffer_.data() + s.offset, s.length);
            s.offset = at;
            at += s.length;
        }
        buffer_.swap(next);
        head_ = 0;
        tail_ = at;
        wrapped_ = false;
    }
}

void DatagramRing::clear() {
    first_ += entries_.size();
    entries_.clear();
    head_ = tail_ = 0;
    wrapped_ = false;
    held_ = 0;
}

void DatagramRing::popFront() {
    const Slot& s = entries_.front();
    held_ -= s.length + kEntryOverhead;
    entries_.pop_front();
    ++first_;
    if (entries_.empty()) {
        head_ = tail_ = 0;
        wrapped_ = false;
        return;
    }
    const std::size_t next = entries_.front().offset;
    if (wrapped_ && next < head_) {
        wrapped_ = false;  // the oldest now sits at the start, where the writing went on
    }
    head_ = next;
}

bool DatagramRing::makeRoom(std::size_t n) {
    for (;;) {
        if (entries_.empty()) {
            head_ = tail_ = 0;
            wrapped_ = false;
        }
        if (!wrapped_) {
            if (buffer_.size() - tail_ >= n) {
                return true;
            }
            if (!entries_.empty() && head_ >= n) {
                tail_ = 0;  // the rest of the buffer's end stays unused this round
                wrapped_ = true;
                return true;
            }
        } else if (head_ - tail_ >= n) {
            return true;
        }
        const std::size_t limit = maxBytes_ + kSlack;
        if (buffer_.size() < limit) {
            // Grows by doubling, the entries laid out from the start.
            const std::size_t size =
                std::min(limit, std::max({buffer_.size() * 2, held_ + n, std::size_t{4096}}));
            std::vector<std::uint8_t> next(size);
            std::size_t at = 0;
            for (Slot& s : entries_) {
                std::memcpy(next.data() + at, buffer_.data() + s.offset, s.length);
                s.offset = at;
                at += s.length;
            }
            buffer_.swap(next);
            head_ = 0;
            tail_ = at;
            wrapped_ = false;
            continue;
        }
        if (entries_.empty()) {
            return false;
        }
        popFront();
        evicted_ = true;
    }
}

void DatagramRing::push(const RingEntry& entry) {
    const std::size_t n = entry.bytes.size();
    if (entry.sequence != end()) {
        clear();
        first_ = entry.sequence;
    }
    if (n + kEntryOverhead > maxBytes_) {
        clear();
        first_ = entry.sequence + 1;
        evicted_ = true;
        return;
    }
    while (!entries_.empty() && held_ + n + kEntryOverhead > maxBytes_) {
        popFront();
        evicted_ = true;
    }
    if (!makeRoom(n)) {
        clear();
        first_ = entry.sequence + 1;
        evicted_ = true;
        return;
    }
    if (n > 0) {
        std::memcpy(buffer_.data() + tail_, entry.bytes.data(), n);
    }
    entries_.push_back(Slot{entry.receivedMs, entry.tickBefore, entry.tickAfter, tail_,
                            static_cast<std::uint32_t>(n), entry.strobeBefore, entry.statusBefore});
    tail_ += n;
    held_ += n + kEntryOverhead;
}

void DatagramRing::dropBefore(std::uint64_t sequence) {
    while (!entries_.empty() && first_ < sequence) {
        popFront();
    }
}

RingEntry DatagramRing::at(std::uint64_t sequence) const {
    const Slot& s = entries_[static_cast<std::size_t>(sequence - first_)];
    RingEntry e;
    e.sequence = sequence;
    e.receivedMs = s.receivedMs;
    e.tickBefore = s.tickBefore;
    e.tickAfter = s.tickAfter;
    e.strobeBefore = s.strobeBefore;
    e.statusBefore = s.statusBefore;
    e.bytes = std::span<const std::uint8_t>(buffer_.data() + s.offset, s.length);
    return e;
}

std::uint64_t DatagramRing::firstAtTick(Tick t) const {
    const auto it = std::partition_point(entries_.begin(), entries_.end(),
                                         [t](const Slot& s) { return s.tickAfter < t; });
    return first_ + static_cast<std::uint64_t>(it - entries_.begin());
}

std::uint64_t DatagramRing::firstAtMs(std::int64_t ms) const {
    const auto it = std::partition_point(entries_.begin(), entries_.end(),
                                         [ms](const Slot& s) { return s.receivedMs < ms; });
    return first_ + static_cast<std::uint64_t>(it - entries_.begin());
}

std::size_t DatagramRing::memoryBytes() const {
    return buffer_.capacity() + entries_.size() * sizeof(Slot);
}

}  // namespace osc
