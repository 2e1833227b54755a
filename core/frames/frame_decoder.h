#pragma once
// The frame decoder: flag-delimited frames (flag 01111110, a 0 stuffed after five 1s, seven or
// more 1s abort) on one logic line, read one bit per bit period exactly as the bit-stream
// decoder reads a trace, with the frame check of each frame.
//
// Layers, each usable by itself:
//   FrameBitDecoder      line bits in, frames with positions in bit numbers;
//   ChannelFrameDecoder  the points of one channel trace in, frames with positions in ticks;
//                        the gaps of a trace that is not completed yet are read as the
//                        completion will fill them, so feeding the real points of a live
//                        capture gives what one pass over the completed trace gives.
// Both take their input in pieces of any size; the frames found never depend on where the
// input was cut. The work is proportional to the level changes, not to the bit periods.

#include <algorithm>
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "core/trace/channel_trace.h"
#include "core/trace/channels.h"
#include "core/trace/chunked_vector.h"

namespace osc {

enum class FrameCheck : std::uint8_t {
    X25,         // CRC-16/X.25: reflected 0x1021, init FFFF, final complement; low byte first
    CcittFalse,  // CRC-16/CCITT-FALSE: 0x1021, init FFFF, no complement; high byte first
    Crc32,       // CRC-32 (reflected 0x04C11DB7, init and final FFFFFFFF); low byte first
    None,        // no check: every whole frame that is long enough is good
    Auto,        // per line, the check that fits most frames (ties in the order above; None
                 // while no check fits any frame)
};
inline constexpr int kCheckedKinds = 3;  // X25, CcittFalse, Crc32

enum class BitOrder : std::uint8_t { LsbFirst, MsbFirst };

struct FrameOptions {
    bool invert = false;  // every line bit inverted before anything else (also before stuffing)
    BitOrder order = BitOrder::LsbFirst;  // the first bit of a byte is its least significant
    bool stuffing = true;                 // the 0 after five 1s inside a frame is dropped
    FrameCheck check = FrameCheck::X25;
    // Fewer whole bytes between the flags (check included) than this, or than the check's own
    // length, make a frame too short. At least 1.
    int minLength = 2;
    // A frame that grows past this many bytes is reported too long with its first bytes and
    // the line is searched for the next flag, so that a line stuck inside a frame costs no
    // memory. 1 to 1048576.
    int maxLength = 4096;
};

enum class CheckStatus : std::uint8_t { Good, Bad, None };

enum class FrameError : std::uint8_t {
    None,
    Abort,       // seven or more 1s before the closing flag
    Misaligned,  // the bits between the flags are not a whole number of bytes
    TooShort,    // fewer bytes than the minimum length
    BadCheck,    // the frame check does not match
    Unfinished,  // the capture ended inside the frame
    TooLong,     // longer than the maximum length; bytes holds the first maxLength bytes
};
inline constexpr int kFrameErrorCount = 7;

// Short English names for texts and machine output: "x25", "ccitt-false", "crc32", "none",
// "auto"; "good", "bad", "none"; "none", "abort", "misaligned", "too short", "bad check",
// "unfinished", "too long".
std::string_view frameCheckName(FrameCheck check);
std::string_view checkStatusName(CheckStatus status);
std::string_view frameErrorName(FrameError error);
// Bytes of the check at the end of a frame: 2, 2, 4, 0, 0.
constexpr int checkLength(FrameCheck check) {
    switch (check) {
        case FrameCheck::X25:
        case FrameCheck::CcittFalse:
            return 2;
        case FrameCheck::Crc32:
            return 4;
        case FrameCheck::None:
        case FrameCheck::Auto:
            break;
    }
    return 0;
}

// The bytes of a frame: up to kInline of them (most frames) held in place, longer ones on the
// heap, so that a list of a million short frames costs no allocation per frame.
class FrameBytes {
  public:
    static constexpr std::size_t kInline = 16;

    FrameBytes() noexcept = default;
    FrameBytes(std::span<const std::uint8_t> bytes) : FrameBytes() { assign(bytes); }
    FrameBytes(const std::vector<std::uint8_t>& bytes)
        : FrameBytes(std::span<const std::uint8_t>(bytes)) {}
    FrameBytes(std::initializer_list<std::uint8_t> bytes)
        : FrameBytes(std::span<const std::uint8_t>(bytes.begin(), bytes.size())) {}
    FrameBytes(const FrameBytes& other) : FrameBytes(other.span()) {}
    FrameBytes(FrameBytes&& other) noexcept;
    FrameBytes& operator=(const FrameBytes& other);
    FrameBytes& operator=(FrameBytes&& other) noexcept;
    ~FrameBytes() { release(); }

    // n bytes copied from p (p may not point into this object).
    void assign(const std::uint8_t* p, std::size_t n);
    void assign(std::span<const std::uint8_t> bytes) { assign(bytes.data(), bytes.size()); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::uint8_t* data() const { return onHeap() ? heap() : store_.data(); }
    std::uint8_t* data() { return onHeap() ? heap() : store_.data(); }
    const std::uint8_t* begin() const { return data(); }
    const std::uint8_t* end() const { return data() + size_; }
    std::uint8_t* begin() { return data(); }
    std::uint8_t* end() { return data() + size_; }
    std::uint8_t operator[](std::size_t i) const { return data()[i]; }
    std::uint8_t& operator[](std::size_t i) { return data()[i]; }
    std::uint8_t& back() { return data()[size_ - 1]; }
    std::span<const std::uint8_t> span() const { return {data(), size_}; }
    operator std::span<const std::uint8_t>() const { return span(); }
    std::vector<std::uint8_t> vector() const { return {begin(), end()}; }

    friend bool operator==(const FrameBytes& a, const FrameBytes& b) {
        return std::ranges::equal(a.span(), b.span());
    }
    // In the order of std::vector's: byte by byte, a prefix first.
    friend std::strong_ordering operator<=>(const FrameBytes& a, const FrameBytes& b) {
        return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
    }

  private:
    bool onHeap() const { return size_ > kInline; }
    // Longer frames keep the address of their heap block in store_.
    std::uint8_t* heap() const {
        std::uint8_t* p = nullptr;
        std::memcpy(&p, store_.data(), sizeof p);
        return p;
    }
    void setHeap(std::uint8_t* p) { std::memcpy(store_.data(), &p, sizeof p); }
    void release();

    std::uint32_t size_ = 0;
    alignas(std::uint8_t*) std::array<std::uint8_t, kInline> store_{};
};

struct Frame {
    int channel = 0;
    // In ticks for a channel trace (bit numbers for FrameBitDecoder): start is the first bit
    // of the opening flag, end the first bit period after the closing flag (after the bit that
    // ended the frame for the other errors), so that a marker at start and a cursor at end
    // decode the frame flags included.
    Tick start = 0;
    Tick end = 0;
    // Payload then check, in the chosen bit order; a last byte that is not whole is padded
    // with 0 bits where its missing bits would go.
    FrameBytes bytes;
    std::uint32_t bitCount = 0;          // the bits between the flags, stuffed bits removed
    FrameCheck check = FrameCheck::X25;  // the check applied (never Auto)
    CheckStatus status = CheckStatus::None;
    FrameError error = FrameError::None;
    std::uint8_t fits = 0;  // checks that match the frame, bit (1 << FrameCheck) each

    bool good() const { return error == FrameError::None; }
    // Bytes of the check at the end of bytes: 0 unless the check was evaluated.
    std::size_t checkBytes() const {
        return status == CheckStatus::None ? 0 : static_cast<std::size_t>(checkLength(check));
    }
    bool operator==(const Frame&) const = default;
};

// The frames of a line, in order: a sequence that does not move them as it grows.
using FrameSequence = ChunkedVector<Frame>;

struct FrameCounts {
    std::uint64_t frames = 0;
    std::uint64_t good = 0;
    std::uint64_t bad = 0;
    std::array<std::uint64_t, kFrameErrorCount> byError{};  // indexed by FrameError
    bool operator==(const FrameCounts&) const = default;
};

// CRCs over bytes ("123456789" gives 906E, 29B1 and CBF43926).
std::uint16_t crc16X25(std::span<const std::uint8_t> bytes);
std::uint16_t crc16CcittFalse(std::span<const std::uint8_t> bytes);
std::uint32_t crc32(std::span<const std::uint8_t> bytes);
// The checks that match a frame of whole bytes (bit (1 << FrameCheck) each).
std::uint8_t matchingChecks(std::span<const std::uint8_t> bytes);

namespace detail {

// What ended a frame in the framer.
enum class FrameEnding : std::uint8_t { Flag, Abort, TooLong, Unfinished };

struct RawFrame {
    std::uint64_t startBit = 0;  // the opening flag's first bit
    std::uint64_t endBit = 0;    // the bit after the one that ended the frame
    FrameBytes bits;             // in line order, bit k at bits[k / 8] bit k % 8
    std::uint32_t bitCount = 0;
    FrameEnding ending = FrameEnding::Flag;
};

// Flags, stuffing and aborts over line bits numbered from 0, fed as runs of equal bits.
class Framer {
  public:
    explicit Framer(const FrameOptions& options);

    // count bits of the value bit (0 or 1, before inversion). Frames that end go to closed.
    void feed(int bit, std::uint64_t count, std::vector<RawFrame>& closed);
    // The end of the line: an open frame with bits is reported unfinished.
    void finish(std::vector<RawFrame>& closed);

    std::uint64_t position() const { return s_.pos; }
    bool open() const { return s_.open; }
    std::uint64_t openStart() const { return startBit_; }
    static constexpr std::uint64_t kNotOpen = UINT64_MAX;
    // The open frame's start bit, kNotOpen while none is open.
    std::uint64_t openMark() const { return s_.open ? startBit_ : kNotOpen; }
    bool inverted() const { return invert_; }

    // What the common runs change: those that neither open a frame nor close one with bits. A
    // caller's loop may work on a copy (state(), quietRun on the copy, setState) that the
    // compiler keeps in registers.
    struct State {
        std::uint64_t pos = 0;
        std::uint64_t ones = 0;  // 1s since the last 0, at most 7 (more are alike)
        std::uint64_t lastZero = 0;
        std::uint64_t lengthBeforeLastZero = 0;  // frame bits before the last 0 was taken
        std::uint64_t nbits = 0;                 // may pass maxBits_ by a few bits (too long)
        std::size_t touched = 0;                 // bytes of buffer_ that may hold 1 bits
        bool zeroBefore = false;                 // a 0 came before the current run of 1s
        bool open = false;                       // inside a frame
    };
    // What quietRun needs besides the state, for a copy of its own.
    struct Rules {
        std::uint64_t maxBits = 0;
        std::uint8_t* buffer = nullptr;
        bool stuffing = false;
    };
    const State& state() const { return s_; }
    void setState(const State& s) { s_ = s; }
    Rules rules() { return {maxBits_, buffer_.data(), stuffing_}; }
    // count bits of the value one (after inversion), count > 0, taken into s when the run
    // neither opens a frame nor closes one with bits; otherwise false and s unchanged.
    static bool quietRun(State& s, const Rules& rules, bool one, std::uint64_t count);

  private:
    void feedSlow(bool one, std::uint64_t count, std::vector<RawFrame>& closed);
    void appendOnes(State& s, std::uint64_t k);
    void appendZeros(std::uint64_t m);
    void report(FrameEnding ending, std::uint64_t endBit, std::vector<RawFrame>& closed);
    void startFrame(std::uint64_t startBit);

    bool invert_;
    bool stuffing_;
    std::uint64_t maxBits_;
    State s_;
    std::uint64_t startBit_ = 0;
    std::vector<std::uint8_t> buffer_;  // room for maxBits_ + 16 bits, zero beyond s_.nbits
};

// Frames of one line in order of start, with the check applied; keeps the counts and, for the
// automatic check, re-applies the check that fits most frames when that choice changes.
class FrameList {
  public:
    explicit FrameList(const FrameOptions& options);
    void add(RawFrame&& raw, int channel, Tick start, Tick end);
    const FrameSequence& frames() const;
    const FrameCounts& counts() const;
    FrameCheck checkInUse() const;
    void clear();
    std::size_t size() const { return frames_.size(); }

  private:
    void apply(Frame& frame) const;
    void settle() const;
    FrameCheck winner() const;

    FrameOptions options_;
    std::array<std::uint64_t, kCheckedKinds> fitting_{};
    mutable FrameCheck applied_;
    mutable FrameSequence frames_;
    mutable FrameCounts counts_;
};

}  // namespace detail

// Frames of a sequence of line bits (1: the upper level, the idle line), positions in bit
// numbers from 0.
class FrameBitDecoder {
  public:
    explicit FrameBitDecoder(FrameOptions options = {});
    // count bits of one value (0 or 1); count 0 does nothing.
    void feed(int bit, std::uint64_t count = 1);
    void feed(std::span<const std::uint8_t> bits);  // each element 0 or not 0
    // The end of the line: the open frame, if it holds bits, is reported unfinished.
    void finish();

    const FrameSequence& frames() const { return list_.frames(); }
    const FrameCounts& counts() const { return list_.counts(); }
    FrameCheck checkInUse() const { return list_.checkInUse(); }

  private:
    void collect();

    detail::Framer framer_;
    detail::FrameList list_;
    std::vector<detail::RawFrame> closed_;
};

// One pass over a whole sequence of line bits.
std::vector<Frame> decodeFrameBits(std::span<const std::uint8_t> bits,
                                   const FrameOptions& options = {});

// Frames of one channel trace, from its points in trace order. A point is read as a bit when
// it lies at least 256 whole ticks after the last one read (the first one from tick 255 on),
// and the bit is (level + 1) mod 2. With completeGaps, each gap between neighbouring points is
// read with the points the completion adds to it (a closed formula per gap), so the real
// points of a capture give the frames of its completed trace; feeding a completed trace
// itself gives the same frames too. A gap is read when its right-hand point arrives.
class ChannelFrameDecoder {
  public:
    ChannelFrameDecoder(int channel, FrameOptions options = {}, bool completeGaps = true);

    void addPoint(Tick x, std::uint8_t level);
    // The same for many points at once: the fast way to feed a trace.
    void addPoints(std::span<const TracePoint> points);
    // No point comes before `until`: the last point's level holds until then. On a completed
    // trace idle at 1, the bits of the gap that the completion places wherever the next point
    // falls (its left half) are read now, so that a line gone quiet after a frame reports the
    // frame's end or abort before its next point. The frames found are those of reading the
    // gap in one go.
    void readQuiet(Tick until);
    // The end of the trace: the last point is read, an open frame is reported unfinished and
    // a frame that ended on the last bit gets the last point as its end (or one bit period
    // after its last bit when that point is not later).
    void finish();
    bool finished() const { return finished_; }

    const FrameSequence& frames() const { return list_.frames(); }
    const FrameCounts& counts() const { return list_.counts(); }
    FrameCheck checkInUse() const { return list_.checkInUse(); }
    int channel() const { return channel_; }
    // Every frame of the line that starts before the tick returned is in frames(); those found
    // later start at or after it. quietUntil: no point will come before this tick (the last
    // point's level holds until then), which lets a line that has gone quiet after its last
    // frame say so before its next point. The largest tick once finished. O(1).
    Tick settledStart(Tick quietUntil) const;
    bool completesGaps() const { return completeGaps_; }

  private:
    // The ticks of the bits read from one gap: up to three runs 256 ticks apart.
    struct Segment {
        std::uint64_t firstBit = 0;
        std::uint64_t count = 0;
        std::array<Tick, 3> tick{};
        std::array<std::uint64_t, 3> n{};
        std::size_t pieces = 0;  // runs in use
    };
    static constexpr std::size_t kRing = 32;

    void readGap(Tick x0, std::uint8_t level, const Tick* x1);
    std::size_t addRegular(std::span<const TracePoint> points, std::size_t from);
    void take(Tick start, std::uint64_t count, Segment& segment);
    void push(const Segment& segment);
    bool tickOf(std::uint64_t bit, Tick& tick) const;
    void collect();
    void resolvePending(bool atEnd);

    int channel_;
    FrameOptions options_;
    bool completeGaps_;
    detail::Framer framer_;
    detail::FrameList list_;
    std::vector<detail::RawFrame> closed_;
    std::vector<detail::RawFrame> pending_;  // frames whose end bit has not been read yet
    std::vector<Tick> pendingStart_;
    // The ticks of the bits read lately: the bits from regularFrom_ on lie a bit period apart
    // from regularTick_ on (the gaps read since the last irregular one), the bits before them
    // in the segments of the ring.
    std::uint64_t regularFrom_ = 0;
    Tick regularTick_ = kTicksPerBit - 1;  // a bit period after lastRead_
    // The tick of bit nextBit_, the next one to be read, when known before it is read.
    std::uint64_t nextBit_ = 0;
    Tick nextTick_ = 0;
    bool nextKnown_ = false;
    std::array<Segment, kRing> ring_{};
    std::size_t ringSize_ = 0;
    std::size_t ringHead_ = 0;  // index of the newest segment
    bool havePoint_ = false;
    Tick lastX_ = 0;
    std::uint8_t lastLevel_ = 0;
    Tick lastRead_ = -1;      // the last tick read as a bit (-1 as the bit-stream decoder)
    bool saturated_ = false;  // no tick lies a bit period after lastRead_
    static constexpr std::uint64_t kNoStart = detail::Framer::kNotOpen;
    std::uint64_t openStartBit_ = kNoStart;  // the open frame whose start tick is known
    Tick openStartTick_ = 0;
    bool finished_ = false;
};

}  // namespace osc
