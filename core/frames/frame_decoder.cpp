#include "core/frames/frame_decoder.h"

#include <algorithm>
#include <limits>

#include "core/trace/trace_completion.h"

namespace osc {

namespace {

constexpr std::uint64_t kBit = static_cast<std::uint64_t>(kTicksPerBit);
constexpr Tick kMaxTick = std::numeric_limits<Tick>::max();

template <typename T, T Poly, bool Reflected>
constexpr std::array<T, 256> crcTable() {
    std::array<T, 256> table{};
    constexpr int kWidth = static_cast<int>(sizeof(T) * 8);
    for (unsigned i = 0; i < 256; ++i) {
        T r;
        if constexpr (Reflected) {
            r = static_cast<T>(i);
            for (int k = 0; k < 8; ++k) {
                r = (r & 1) != 0 ? static_cast<T>((r >> 1) ^ Poly) : static_cast<T>(r >> 1);
            }
        } else {
            r = static_cast<T>(static_cast<T>(i) << (kWidth - 8));
            for (int k = 0; k < 8; ++k) {
                const bool top = ((r >> (kWidth - 1)) & 1) != 0;
                r = static_cast<T>(r << 1);
                if (top) {
                    r = static_cast<T>(r ^ Poly);
                }
            }
        }
        table[i] = r;
    }
    return table;
}

constexpr auto kX25Table = crcTable<std::uint16_t, 0x8408, true>();
constexpr auto kCcittTable = crcTable<std::uint16_t, 0x1021, false>();
constexpr auto kCrc32Table = crcTable<std::uint32_t, 0xEDB88320u, true>();

constexpr std::array<std::uint8_t, 256> kReversed = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (int k = 0; k < 8; ++k) {
            r |= ((i >> k) & 1u) << (7 - k);
        }
        t[i] = static_cast<std::uint8_t>(r);
    }
    return t;
}();

constexpr std::uint8_t bitOf(FrameCheck check) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(check));
}

// Whether check k matches a frame of whole bytes (payload, then the check).
bool matches(FrameCheck check, std::span<const std::uint8_t> b) {
    const std::size_t n = b.size();
    switch (check) {
        case FrameCheck::X25:
            return n >= 2 && crc16X25(b.first(n - 2)) == (b[n - 2] | (b[n - 1] << 8));
        case FrameCheck::CcittFalse:
            return n >= 2 && crc16CcittFalse(b.first(n - 2)) == ((b[n - 2] << 8) | b[n - 1]);
        case FrameCheck::Crc32:
            return n >= 4 && crc32(b.first(n - 4)) == (static_cast<std::uint32_t>(b[n - 4]) |
                                                       static_cast<std::uint32_t>(b[n - 3]) << 8 |
                                                       static_cast<std::uint32_t>(b[n - 2]) << 16 |
                                                       static_cast<std::uint32_t>(b[n - 1]) << 24);
        case FrameCheck::None:
        case FrameCheck::Auto:
            break;
    }
    return false;
}

std::uint64_t minimumBytes(const FrameOptions& options, FrameCheck check) {
    return static_cast<std::uint64_t>(std::max(options.minLength, checkLength(check)));
}

FrameOptions sane(FrameOptions o) {
    o.minLength = std::clamp(o.minLength, 1, 1 << 20);
    o.maxLength = std::clamp(o.maxLength, 1, 1 << 20);
    return o;
}

}  // namespace

std::string_view frameCheckName(FrameCheck check) {
    switch (check) {
        case FrameCheck::X25:
            return "x25";
        case FrameCheck::CcittFalse:
            return "ccitt-false";
        case FrameCheck::Crc32:
            return "crc32";
        case FrameCheck::None:
            return "none";
        case FrameCheck::Auto:
            return "auto";
    }
    return "none";
}

std::string_view checkStatusName(CheckStatus status) {
    switch (status) {
        case CheckStatus::Good:
            return "good";
        case CheckStatus::Bad:
            return "bad";
        case CheckStatus::None:
            break;
    }
    return "none";
}

std::string_view frameErrorName(FrameError error) {
    switch (error) {
        case FrameError::None:
            return "none";
        case FrameError::Abort:
            return "abort";
        case FrameError::Misaligned:
            return "misaligned";
        case FrameError::TooShort:
            return "too short";
        case FrameError::BadCheck:
            return "bad check";
        case FrameError::Unfinished:
            return "unfinished";
        case FrameError::TooLong:
            return "too long";
    }
    return "none";
}

// ---- FrameBytes ------------------------------------------------------------------------------

FrameBytes::FrameBytes(FrameBytes&& other) noexcept : size_(other.size_), store_(other.store_) {
    other.size_ = 0;  // a heap block changes hands
}

FrameBytes& FrameBytes::operator=(const FrameBytes& other) {
    if (this != &other) {
        assign(other.data(), other.size());
    }
    return *this;
}

FrameBytes& FrameBytes::operator=(FrameBytes&& other) noexcept {
    if (this != &other) {
        release();
        size_ = other.size_;
        store_ = other.store_;
        other.size_ = 0;
    }
    return *this;
}

void FrameBytes::release() {
    if (onHeap()) {
        delete[] heap();
    }
    size_ = 0;
}

void FrameBytes::assign(const std::uint8_t* p, std::size_t n) {
    const auto count = static_cast<std::uint32_t>(n);  // frames hold at most 1 MiB
    if (onHeap() && count > kInline && count <= size_) {
        size_ = count;  // the block is large enough
    } else {
        release();
        if (count > kInline) {
            setHeap(new std::uint8_t[count]);
        }
        size_ = count;
    }
    if (n != 0) {
        std::copy_n(p, n, data());
    }
}

std::uint16_t crc16X25(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kX25Table[(crc ^ b) & 0xFF]);
    }
    return static_cast<std::uint16_t>(~crc);
}

std::uint16_t crc16CcittFalse(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ kCcittTable[((crc >> 8) ^ b) & 0xFF]);
    }
    return crc;
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) {
        crc = (crc >> 8) ^ kCrc32Table[(crc ^ b) & 0xFF];
    }
    return ~crc;
}

std::uint8_t matchingChecks(std::span<const std::uint8_t> bytes) {
    std::uint8_t fits = 0;
    for (const FrameCheck c : {FrameCheck::X25, FrameCheck::CcittFalse, FrameCheck::Crc32}) {
        if (matches(c, bytes)) {
            fits = static_cast<std::uint8_t>(fits | bitOf(c));
        }
    }
    return fits;
}

namespace detail {

// ---- Framer ----------------------------------------------------------------------------------

namespace {
constexpr std::uint64_t kOnesCap = 7;  // more 1s than that are all alike
}

Framer::Framer(const FrameOptions& options)
    : invert_(options.invert),
      stuffing_(options.stuffing),
      maxBits_(static_cast<std::uint64_t>(sane(options).maxLength) * 8) {}

void Framer::appendOnes(State& s, std::uint64_t k) {
    // Called with k <= 6 and nbits <= maxBits_ + 1, so the two bytes written are in the buffer.
    if (k == 0) {
        return;
    }
    const std::size_t byte = static_cast<std::size_t>(s.nbits >> 3);
    const unsigned bits = ((1u << k) - 1) << (s.nbits & 7);
    std::uint8_t* b = buffer_.data() + byte;
    b[0] = static_cast<std::uint8_t>(b[0] | bits);
    b[1] = static_cast<std::uint8_t>(b[1] | (bits >> 8));
    s.touched = std::max(s.touched, byte + 2);
    s.nbits += k;
}

void Framer::appendZeros(std::uint64_t m) {
    // Nothing to write: the buffer is zero beyond nbits. Stop counting past the limit.
    const std::uint64_t room = maxBits_ + 1 > s_.nbits ? maxBits_ + 1 - s_.nbits : 0;
    s_.nbits = m > room ? std::max(s_.nbits, maxBits_ + 1) : s_.nbits + m;
}

void Framer::startFrame(std::uint64_t startBit) {
    if (buffer_.empty()) {
        buffer_.assign(static_cast<std::size_t>(maxBits_ / 8 + 2), 0);
    }
    std::fill(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(s_.touched), 0);
    s_.touched = 0;
    s_.open = true;
    startBit_ = startBit;
    s_.nbits = 0;
    s_.lengthBeforeLastZero = 0;
}

void Framer::report(FrameEnding ending, std::uint64_t endBit, std::vector<RawFrame>& closed) {
    RawFrame r;
    r.startBit = startBit_;
    r.endBit = endBit;
    r.ending = ending;
    const std::uint64_t bits = std::min(s_.nbits, maxBits_);
    r.bitCount = static_cast<std::uint32_t>(bits);
    const std::size_t bytes = static_cast<std::size_t>((bits + 7) / 8);
    r.bits.assign(buffer_.data(), bytes);
    if ((bits & 7) != 0) {
        r.bits.back() = static_cast<std::uint8_t>(r.bits.back() & ((1u << (bits & 7)) - 1));
    }
    closed.push_back(std::move(r));
}

inline bool Framer::quietRun(State& s, const Rules& r, bool one, std::uint64_t count) {
    if (one) {
        if (s.open && count >= 7 - s.ones) {  // open: at most six 1s so far
            if (s.nbits > 0) {
                return false;  // an abort, reported
            }
            s.open = false;  // an empty frame ends with nothing to report
        }
        s.ones = std::min(s.ones + std::min(count, kOnesCap), kOnesCap);
        s.pos += count;
        return true;
    }
    if (s.ones == 6 && s.zeroBefore) {
        return false;  // a flag
    }
    if (s.open) {
        if (s.nbits + s.ones > r.maxBits || count > r.maxBits - s.nbits - s.ones) {
            return false;
        }
        // Data 1s (at most 5: six after a 0 make a flag, seven an abort), the first 0 unless
        // it is a stuffed one, then the other 0s; the last 0 may still open a flag. The buffer
        // has room for them (nbits stays within maxBits).
        const std::size_t byte = static_cast<std::size_t>(s.nbits >> 3);
        const unsigned bits = ((1u << s.ones) - 1) << (s.nbits & 7);
        r.buffer[byte] = static_cast<std::uint8_t>(r.buffer[byte] | bits);
        r.buffer[byte + 1] = static_cast<std::uint8_t>(r.buffer[byte + 1] | (bits >> 8));
        s.touched = std::max(s.touched, byte + 2);
        s.nbits += s.ones;
        const std::uint64_t afterFirst = s.nbits + (r.stuffing && s.ones == 5 ? 0 : 1);
        s.lengthBeforeLastZero = count > 1 ? afterFirst + (count - 2) : s.nbits;
        s.nbits = afterFirst + (count - 1);
    }
    s.lastZero = s.pos + count - 1;
    s.ones = 0;
    s.zeroBefore = true;
    s.pos += count;
    return true;
}

void Framer::feed(int bit, std::uint64_t count, std::vector<RawFrame>& closed) {
    if (count == 0) {
        return;
    }
    const bool one = (bit != 0) != invert_;
    State s = s_;
    if (quietRun(s, rules(), one, count)) {
        s_ = s;
    } else {
        feedSlow(one, count, closed);
    }
}

void Framer::feedSlow(bool one, std::uint64_t count, std::vector<RawFrame>& closed) {
    if (one) {
        const std::uint64_t before = s_.ones;
        s_.ones = std::min(before + std::min(count, kOnesCap), kOnesCap);
        if (before < 7 && s_.ones >= 7 && s_.open) {
            s_.open = false;
            if (s_.nbits > 0) {
                report(FrameEnding::Abort, s_.pos + (7 - before), closed);
            }
        }
        s_.pos += count;
        return;
    }

    // A run of 0s. Its first 0 settles the 1s before it: data, data and a stuffed 0, or the
    // end of a flag whose first 0 was the last 0 before them.
    const std::uint64_t z = s_.pos;
    const std::uint64_t k = s_.ones;
    const bool flag = k == 6 && s_.zeroBefore;
    bool overflowBeforeZero = false;
    if (s_.open) {
        if (flag) {
            s_.nbits = s_.lengthBeforeLastZero;  // the flag's first 0 is no data
            if (s_.nbits > 0) {
                report(FrameEnding::Flag, z + 1, closed);
            }
        } else {
            appendOnes(s_, k);  // at most 5 here: six after a 0 make a flag, seven an abort
            s_.lengthBeforeLastZero = s_.nbits;
            overflowBeforeZero = s_.nbits > maxBits_;
            if (!(stuffing_ && k == 5)) {
                appendZeros(1);
            }
        }
    }
    if (flag) {
        startFrame(s_.lastZero);
    }
    if (s_.open) {
        const std::uint64_t afterFirst = s_.nbits;
        if (count > 1) {
            appendZeros(count - 1);
            s_.lengthBeforeLastZero = afterFirst + (count - 2);
        }
        // The last 0 may still open a flag, so only the bits before it can make the frame too
        // long; the end is the bit after the first bit past the limit.
        if (s_.lengthBeforeLastZero > maxBits_) {
            const std::uint64_t endBit =
                overflowBeforeZero ? z
                                   : z + 1 + (maxBits_ + 1 - std::min(afterFirst, maxBits_ + 1));
            s_.open = false;
            report(FrameEnding::TooLong, endBit, closed);
        }
    }
    s_.lastZero = z + count - 1;
    s_.ones = 0;
    s_.zeroBefore = true;
    s_.pos += count;
}

void Framer::finish(std::vector<RawFrame>& closed) {
    if (!s_.open) {
        return;
    }
    s_.open = false;
    appendOnes(s_, std::min<std::uint64_t>(s_.ones, 6));
    if (s_.nbits > maxBits_) {
        report(FrameEnding::TooLong, s_.pos, closed);
    } else if (s_.nbits > 0) {
        report(FrameEnding::Unfinished, s_.pos, closed);
    }
    s_.ones = 0;
}

// ---- FrameList -------------------------------------------------------------------------------

FrameList::FrameList(const FrameOptions& options) : options_(sane(options)), applied_(winner()) {}

FrameCheck FrameList::winner() const {
    if (options_.check != FrameCheck::Auto) {
        return options_.check;
    }
    FrameCheck best = FrameCheck::None;
    std::uint64_t most = 0;
    for (int k = 0; k < kCheckedKinds; ++k) {
        if (fitting_[static_cast<std::size_t>(k)] > most) {
            most = fitting_[static_cast<std::size_t>(k)];
            best = static_cast<FrameCheck>(k);
        }
    }
    return best;
}

void FrameList::apply(Frame& f) const {
    const FrameCheck check = applied_;
    f.check = check;
    f.status = CheckStatus::None;
    if (f.error == FrameError::Abort || f.error == FrameError::Unfinished ||
        f.error == FrameError::TooLong) {
        return;
    }
    if (f.bitCount < 8 * minimumBytes(options_, check)) {
        f.error = FrameError::TooShort;
    } else if (f.bitCount % 8 != 0) {
        f.error = FrameError::Misaligned;
    } else if (check == FrameCheck::None) {
        f.error = FrameError::None;
    } else if ((f.fits & bitOf(check)) != 0) {
        f.error = FrameError::None;
        f.status = CheckStatus::Good;
    } else {
        f.error = FrameError::BadCheck;
        f.status = CheckStatus::Bad;
    }
}

void FrameList::add(RawFrame&& raw, int channel, Tick start, Tick end) {
    Frame f;
    f.channel = channel;
    f.start = start;
    f.end = end;
    f.bitCount = raw.bitCount;
    f.bytes = std::move(raw.bits);
    if (options_.order == BitOrder::MsbFirst) {
        for (std::uint8_t& b : f.bytes) {
            b = kReversed[b];
        }
    }
    switch (raw.ending) {
        case FrameEnding::Abort:
            f.error = FrameError::Abort;
            break;
        case FrameEnding::TooLong:
            f.error = FrameError::TooLong;
            break;
        case FrameEnding::Unfinished:
            f.error = FrameError::Unfinished;
            break;
        case FrameEnding::Flag:
            f.error = FrameError::None;
            if (f.bitCount % 8 == 0) {
                if (options_.check == FrameCheck::Auto) {
                    f.fits = matchingChecks(f.bytes);
                    for (int k = 0; k < kCheckedKinds; ++k) {
                        const auto c = static_cast<FrameCheck>(k);
                        if ((f.fits & bitOf(c)) != 0 &&
                            f.bytes.size() >= minimumBytes(options_, c)) {
                            ++fitting_[static_cast<std::size_t>(k)];
                        }
                    }
                } else if (matches(options_.check, f.bytes)) {
                    f.fits = bitOf(options_.check);
                }
            }
            break;
    }
    apply(f);
    ++counts_.frames;
    ++(f.good() ? counts_.good : counts_.bad);
    ++counts_.byError[static_cast<std::size_t>(f.error)];
    frames_.push_back(std::move(f));
}

void FrameList::settle() const {
    const FrameCheck w = winner();
    if (w == applied_) {
        return;
    }
    applied_ = w;
    counts_ = FrameCounts{};
    for (Frame& f : frames_) {
        apply(f);
        ++counts_.frames;
        ++(f.good() ? counts_.good : counts_.bad);
        ++counts_.byError[static_cast<std::size_t>(f.error)];
    }
}

const FrameSequence& FrameList::frames() const {
    settle();
    return frames_;
}

const FrameCounts& FrameList::counts() const {
    settle();
    return counts_;
}

FrameCheck FrameList::checkInUse() const {
    return winner();
}

void FrameList::clear() {
    fitting_ = {};
    applied_ = winner();
    frames_.clear();
    counts_ = FrameCounts{};
}

}  // namespace detail

// ---- FrameBitDecoder -------------------------------------------------------------------------

FrameBitDecoder::FrameBitDecoder(FrameOptions options) : framer_(options), list_(options) {}

void FrameBitDecoder::collect() {
    for (detail::RawFrame& r : closed_) {
        list_.add(std::move(r), 0, static_cast<Tick>(r.startBit), static_cast<Tick>(r.endBit));
    }
    closed_.clear();
}

void FrameBitDecoder::feed(int bit, std::uint64_t count) {
    framer_.feed(bit, count, closed_);
    collect();
}

void FrameBitDecoder::feed(std::span<const std::uint8_t> bits) {
    std::size_t i = 0;
    while (i < bits.size()) {
        const bool one = bits[i] != 0;
        std::size_t j = i + 1;
        while (j < bits.size() && (bits[j] != 0) == one) {
            ++j;
        }
        framer_.feed(one ? 1 : 0, j - i, closed_);
        i = j;
    }
    collect();
}

void FrameBitDecoder::finish() {
    framer_.finish(closed_);
    collect();
}

std::vector<Frame> decodeFrameBits(std::span<const std::uint8_t> bits,
                                   const FrameOptions& options) {
    FrameBitDecoder decoder(options);
    decoder.feed(bits);
    decoder.finish();
    return {decoder.frames().begin(), decoder.frames().end()};
}

// ---- ChannelFrameDecoder ---------------------------------------------------------------------

ChannelFrameDecoder::ChannelFrameDecoder(int channel, FrameOptions options, bool completeGaps)
    : channel_(channel),
      options_(sane(options)),
      completeGaps_(completeGaps),
      framer_(options_),
      list_(options_) {}

// The points start, start + 256, ... (count of them) that are read: from the first one that
// lies a bit period after the last point read, all of them, as each lies 256 after the one
// before.
void ChannelFrameDecoder::take(Tick start, std::uint64_t count, Segment& s) {
    if (count == 0 || saturated_) {
        return;
    }
    const Tick need = lastRead_ + kTicksPerBit;
    std::uint64_t j = 0;
    if (start < need) {
        const std::uint64_t d =
            static_cast<std::uint64_t>(need) - static_cast<std::uint64_t>(start);
        j = (d + kBit - 1) / kBit;
    }
    if (j >= count) {
        return;
    }
    const std::uint64_t taken = count - j;
    const Tick first = static_cast<Tick>(static_cast<std::uint64_t>(start) + j * kBit);
    s.tick[s.pieces] = first;
    s.n[s.pieces] = taken;
    ++s.pieces;
    s.count += taken;
    lastRead_ = static_cast<Tick>(static_cast<std::uint64_t>(first) + (taken - 1) * kBit);
    saturated_ = lastRead_ > kMaxTick - kTicksPerBit;
}

void ChannelFrameDecoder::push(const Segment& segment) {
    ringHead_ = (ringHead_ + 1) % kRing;
    ring_[ringHead_] = segment;
    ringSize_ = std::min(ringSize_ + 1, kRing);
}

// Any gap, the way the completion fills it.
void ChannelFrameDecoder::readGap(Tick x0, std::uint8_t level, const Tick* x1) {
    const std::uint64_t position = framer_.position();
    const bool completes = x1 != nullptr && completeGaps_ && *x1 > x0 &&
                           static_cast<std::uint64_t>(*x1) - static_cast<std::uint64_t>(x0) > kBit;
    const std::uint64_t d =
        completes ? static_cast<std::uint64_t>(*x1) - static_cast<std::uint64_t>(x0) : 0;
    std::uint64_t count = 0;
    if (!saturated_ && x0 == lastRead_ + kTicksPerBit && d % kBit == 0) {
        // Regular: its bits go on from the last one read a bit period apart.
        count = completes ? d / kBit : 1;
        lastRead_ = completes ? *x1 - kTicksPerBit : x0;
        saturated_ = lastRead_ > kMaxTick - kTicksPerBit;
    } else {
        Segment s;
        s.firstBit = position;
        take(x0, 1, s);
        // The completion of the gap (core/trace/trace_completion.h): left points x0 + 256k while
        // the rest is longer than 256, right points x1 - 256k while it is longer than 512.
        if (completes) {
            const GapCompletion c = completionOf(x0, *x1);
            take(c.at(0), c.left, s);
            if (c.right != 0) {
                take(c.at(c.left), c.right, s);
            }
        }
        if (s.count == 0) {
            return;
        }
        if (position > regularFrom_) {
            Segment regular;
            regular.firstBit = regularFrom_;
            regular.count = position - regularFrom_;
            regular.tick[0] = regularTick_;
            regular.n[0] = regular.count;
            regular.pieces = 1;
            push(regular);
        }
        push(s);
        count = s.count;
        regularFrom_ = position + count;
        regularTick_ = saturated_ ? kMaxTick : lastRead_ + kTicksPerBit;
    }
    // The bit after these is read at x1 when x1 lies a bit period after the last one read, so a
    // frame that ends with them gets its end at once.
    nextBit_ = position + count;
    nextKnown_ = x1 != nullptr && !saturated_ && *x1 >= lastRead_ + kTicksPerBit;
    nextTick_ = nextKnown_ ? *x1 : 0;
    if (!pending_.empty()) {
        resolvePending(false);
    }
    framer_.feed((level + 1) % 2, count, closed_);
    if (!closed_.empty() || framer_.openMark() != openStartBit_) {
        collect();
    }
}

bool ChannelFrameDecoder::tickOf(std::uint64_t bit, Tick& tick) const {
    if (bit >= framer_.position()) {
        if (nextKnown_ && bit == nextBit_) {
            tick = nextTick_;
            return true;
        }
        return false;
    }
    if (bit >= regularFrom_) {
        tick = static_cast<Tick>(static_cast<std::uint64_t>(regularTick_) +
                                 (bit - regularFrom_) * kBit);
        return true;
    }
    for (std::size_t i = 0; i < ringSize_; ++i) {
        const Segment& s = ring_[(ringHead_ + kRing - i) % kRing];
        if (bit < s.firstBit) {
            continue;
        }
        if (bit - s.firstBit >= s.count) {
            return false;
        }
        std::uint64_t off = bit - s.firstBit;
        for (std::size_t p = 0; p < s.pieces; ++p) {
            if (off < s.n[p]) {
                tick = static_cast<Tick>(static_cast<std::uint64_t>(s.tick[p]) + off * kBit);
                return true;
            }
            off -= s.n[p];
        }
        return false;
    }
    return false;
}

void ChannelFrameDecoder::collect() {
    for (detail::RawFrame& r : closed_) {
        Tick start = openStartTick_;
        if (r.startBit != openStartBit_ && !tickOf(r.startBit, start)) {
            start = lastRead_;  // cannot happen: a frame's flag lies within the last segments
        }
        Tick end = 0;
        if (pending_.empty() && tickOf(r.endBit, end)) {
            list_.add(std::move(r), channel_, start, end);
        } else {
            pending_.push_back(std::move(r));
            pendingStart_.push_back(start);
        }
    }
    closed_.clear();
    if (!framer_.open()) {
        openStartBit_ = kNoStart;
    } else if (framer_.openStart() != openStartBit_) {
        openStartBit_ = framer_.openStart();
        if (!tickOf(openStartBit_, openStartTick_)) {
            openStartTick_ = lastRead_;
        }
    }
}

void ChannelFrameDecoder::resolvePending(bool atEnd) {
    std::size_t done = 0;
    for (; done < pending_.size(); ++done) {
        detail::RawFrame& r = pending_[done];
        Tick end = 0;
        if (tickOf(r.endBit, end)) {
            // the bit after the frame has been read, or its tick is known
        } else if (atEnd) {
            // Nothing was read after the frame: the trace's last point if it lies beyond the
            // frame's last bit, else one bit period after that bit.
            Tick last = lastRead_;
            if (r.endBit > 0) {
                tickOf(r.endBit - 1, last);
            }
            end = lastX_ > last ? lastX_
                                : (last > kMaxTick - kTicksPerBit ? kMaxTick : last + kTicksPerBit);
        } else {
            break;
        }
        list_.add(std::move(r), channel_, pendingStart_[done], end);
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
    pendingStart_.erase(pendingStart_.begin(),
                        pendingStart_.begin() + static_cast<std::ptrdiff_t>(done));
}

void ChannelFrameDecoder::addPoint(Tick x, std::uint8_t level) {
    if (finished_) {
        return;
    }
    if (havePoint_) {
        readGap(lastX_, lastLevel_, &x);
    }
    havePoint_ = true;
    lastX_ = x;
    lastLevel_ = level;
}

void ChannelFrameDecoder::addPoints(std::span<const TracePoint> points) {
    std::size_t i = 0;
    while (i < points.size()) {
        i = addRegular(points, i);
        if (i < points.size()) {
            addPoint(points[i].x, points[i].y);
            ++i;
        }
    }
}

// The regular gaps from points[from] on: each goes on from the last point read by a whole
// number of bit periods and neither opens a frame nor closes one with bits, so its bits need no
// segment (see tickOf) and the framer takes them the short way. Returns the first point not
// taken.
std::size_t ChannelFrameDecoder::addRegular(std::span<const TracePoint> points, std::size_t from) {
    if (!havePoint_ || !completeGaps_ || saturated_ || finished_ || !pending_.empty() ||
        lastX_ != lastRead_ + kTicksPerBit) {
        return from;
    }
    detail::Framer::State s = framer_.state();
    const detail::Framer::Rules rules = framer_.rules();
    const bool invert = framer_.inverted();
    Tick x0 = lastX_;
    std::uint8_t level = lastLevel_;
    std::size_t i = from;
    for (; i < points.size(); ++i) {
        const TracePoint p = points[i];
        const std::uint64_t d = static_cast<std::uint64_t>(p.x) - static_cast<std::uint64_t>(x0);
        if (p.x <= x0 || d % kBit != 0 ||
            !detail::Framer::quietRun(s, rules, ((level + 1) % 2 != 0) != invert, d / kBit)) {
            break;
        }
        x0 = p.x;
        level = p.y;
    }
    framer_.setState(s);
    if (framer_.openMark() != openStartBit_) {
        collect();  // an empty frame ended
    }
    nextKnown_ = false;
    lastX_ = x0;
    lastLevel_ = level;
    lastRead_ = x0 - kTicksPerBit;
    return i;
}

void ChannelFrameDecoder::finish() {
    if (finished_) {
        return;
    }
    if (havePoint_) {
        readGap(lastX_, lastLevel_, nullptr);
    }
    framer_.finish(closed_);
    collect();
    resolvePending(true);
    finished_ = true;
}

void ChannelFrameDecoder::readQuiet(Tick until) {
    if (!completeGaps_ || finished_ || !havePoint_ || saturated_ || until <= lastX_ ||
        ((lastLevel_ + 1) % 2 != 0) == framer_.inverted()) {
        return;
    }
    // The completion of the gap from the last point to the next one, which comes at or after
    // `until`, has at least as many left points x0 + 256k as that of the gap up to `until`.
    // Reading up to one of them as if it were a point gives the same bits (all 1s), at the same
    // ticks up to it; a run of 1s this long ends whatever frame is open, and nothing happens
    // after that until the next 0, at the next point.
    const std::uint64_t left = completionOf(lastX_, until).left;
    if (left < 16) {
        return;
    }
    addPoint(static_cast<Tick>(static_cast<std::uint64_t>(lastX_) + left * kBit), lastLevel_);
}

Tick ChannelFrameDecoder::settledStart(Tick quietUntil) const {
    if (finished_) {
        return kMaxTick;
    }
    if (!pending_.empty()) {
        return std::min(pendingStart_.front(), quietUntil);  // found, its end not read yet
    }
    if (!havePoint_) {
        return quietUntil;  // the first point comes at or after it
    }
    const detail::Framer::State& s = framer_.state();
    // The bits of the gap after the last point all have its value. When the trace is completed
    // and stays quiet 16 bit periods past the last point, at least seven of them will be read.
    const bool one = ((lastLevel_ + 1) % 2 != 0) != framer_.inverted();
    const bool quiet =
        completeGaps_ && quietUntil >= lastX_ &&
        static_cast<std::uint64_t>(quietUntil) - static_cast<std::uint64_t>(lastX_) >= 16 * kBit;
    if (s.open) {
        if (quiet && one && s.nbits == 0) {
            return quietUntil;  // the 1s end an empty frame with nothing to report
        }
        return std::min(openStartTick_, quietUntil);
    }
    // A flag may have begun at the last 0 when at most six 1s came after it.
    const bool begun = s.zeroBefore && s.ones <= 6;
    Tick zeroTick = 0;
    const bool zeroKnown = begun && tickOf(s.lastZero, zeroTick);
    const Tick unread = saturated_ ? kMaxTick : lastRead_ + kTicksPerBit;
    if (quiet) {
        if (one) {
            return quietUntil;  // the 1s end any flag begun; the next one begins at a later 0
        }
        if (begun && s.ones == 6) {
            // The gap's first 0 completes the flag.
            return zeroKnown ? std::min(zeroTick, quietUntil) : std::numeric_limits<Tick>::min();
        }
        // A flag can begin no earlier than the gap's last 0, which lies within two bit periods
        // of the next point.
        return std::min(std::max(unread, quietUntil - 4 * kTicksPerBit), quietUntil);
    }
    if (begun) {
        return zeroKnown ? std::min(zeroTick, quietUntil) : std::numeric_limits<Tick>::min();
    }
    return std::min(unread, quietUntil);
}

}  // namespace osc
