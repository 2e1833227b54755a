#pragma once
// The sample datagrams received last, with where each one lies in the stream: the memory that
// an event's window before the trigger is taken from, and that an analysis started over reads
// again. Bounded by bytes: the oldest go first. One thread.
//
// The bytes sit in one buffer used round (grown by doubling up to the bound and a datagram), the
// entries in a deque beside it, so that a datagram costs no allocation of its own. Look-ups by
// sequence are O(1), by tick or arrival time binary searches.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "core/trace/channels.h"

namespace osc {

struct RingEntry {
    std::uint64_t sequence = 0;   // the datagram's number in the stream, from 0
    std::int64_t receivedMs = 0;  // its arrival (steady clock)
    Tick tickBefore = 0;          // the stream's time base before and after decoding it
    Tick tickAfter = 0;
    std::uint8_t strobeBefore = 0;  // the decoder's FLastStrobe and FLastStatus before it
    std::uint8_t statusBefore = 0;
    std::span<const std::uint8_t> bytes;  // valid until the ring next changes
};

class DatagramRing {
  public:
    // What an entry costs besides its bytes, counted against the bound.
    static constexpr std::size_t kEntryOverhead = 64;
    // The buffer may pass the bound by this much, so that the room left unused at its end
    // when the writing goes round never costs an entry (datagrams are at most 8192 bytes).
    static constexpr std::size_t kSlack = 8192;

    explicit DatagramRing(std::size_t maxBytes = std::size_t{64} << 20);

    // Lowers or raises the bound; the oldest entries go at once when it is passed.
    void setMaxBytes(std::size_t maxBytes);
    std::size_t maxBytes() const { return maxBytes_; }

    // Copies the entry in as the newest; its sequence must follow the newest's (a gap is
    // allowed: the entries after it are numbered on from there). The oldest go while the bound
    // would be passed; one longer than the whole bound is not kept (the ring is then empty).
    void push(const RingEntry& entry);
    // Entries before `sequence` go.
    void dropBefore(std::uint64_t sequence);
    void clear();

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    // Sequence of the oldest entry, and the one after the newest (equal when empty).
    std::uint64_t first() const { return first_; }
    std::uint64_t end() const { return first_ + entries_.size(); }
    // Whether an entry ever left the ring because of the bound.
    bool evictedAny() const { return evicted_; }
    // first() <= sequence < end().
    RingEntry at(std::uint64_t sequence) const;
    const RingEntry newest() const { return at(end() - 1); }  // not empty

    // The first entry with tickAfter >= t, or with receivedMs >= ms; end() when none.
    std::uint64_t firstAtTick(Tick t) const;
    std::uint64_t firstAtMs(std::int64_t ms) const;

    // Lengths plus overhead of the entries held, and the buffer's size.
    std::size_t heldBytes() const { return held_; }
    std::size_t memoryBytes() const;

  private:
    struct Slot {
        std::int64_t receivedMs;
        Tick tickBefore, tickAfter;
        std::size_t offset;
        std::uint32_t length;
        std::uint8_t strobeBefore, statusBefore;
    };
    void popFront();
    // Room for n bytes at the buffer's write position; false when it cannot be made.
    bool makeRoom(std::size_t n);

    std::size_t maxBytes_;
    std::vector<std::uint8_t> buffer_;
    std::size_t head_ = 0;  // where the oldest entry's bytes start
    std::size_t tail_ = 0;  // where the next entry's bytes go
    bool wrapped_ = false;  // the writing went on at the buffer's start: tail_ <= head_
    std::deque<Slot> entries_;
    std::uint64_t first_ = 0;
    std::size_t held_ = 0;
    bool evicted_ = false;
};

}  // namespace osc
