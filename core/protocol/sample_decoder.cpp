#include "core/protocol/sample_decoder.h"

#include <bit>
#include <cstring>

namespace osc {

namespace {

// Channels whose status bit is one of these bits; a pair that changes none of them, and no
// strobe period, needs no work beyond remembering its status.
constexpr std::uint8_t kChannelBits = 0x04 | 0x40 | 0x80 | 0x10;

// Skips the pairs at p that change no channel bit against lastStatus, four at a time, and
// returns where the first pair that may change something starts (or the last up to three
// pairs start). A skipped pair can open no period either: its strobe bit equals the last one
// (the caller makes sure lastStrobe agrees with lastStatus). lastStatus becomes the status of
// the last skipped pair, whose unused bits may differ.
const std::uint8_t* skipSteadyPairs(const std::uint8_t* p, const std::uint8_t* end,
                                    std::uint8_t& lastStatus) {
    if constexpr (std::endian::native == std::endian::little) {
        // Status bytes are the low bytes of the 16-bit lanes of a little-endian word.
        constexpr std::uint64_t kLanes = 0x0001000100010001ULL;
        constexpr std::uint64_t kMask = kLanes * kChannelBits;
        const std::uint64_t want = kLanes * (lastStatus & kChannelBits);
        const std::uint8_t* q = p;
        while (end - q >= 8) {
            std::uint64_t w;
            std::memcpy(&w, q, 8);
            if ((w & kMask) != want) {
                break;
            }
            q += 8;
        }
        if (q != p) {
            lastStatus = q[-2];
        }
        return q;
    } else {
        (void)end;
        (void)lastStatus;
        return p;
    }
}

// A strobe and nothing else, as a device streams a steady link: four pairs (status, 0) with
// the strobe toggled, (status, t), (status', 0) with the strobe toggled back, (status', t), the
// other channel bits as they were. Takes as many such groups of four at p as there are, each
// two periods and two strobe points, and returns where the first other pair starts. The
// caller makes sure lastStrobe agrees with lastStatus; lastStatus becomes the status of the
// last pair taken, whose unused bits may differ.
const std::uint8_t* takeStrobeGroups(const std::uint8_t* p, const std::uint8_t* end, Tick& timeBase,
                                     std::uint8_t& lastStatus, ChannelTrace& strobe) {
    if constexpr (std::endian::native == std::endian::little) {
        const std::uint8_t bit = kChannels[0].statusBit;
        const std::uint64_t m = lastStatus & kChannelBits;
        // The channel bits of the status bytes at 0, 2, 4 and 6, the time bytes at 1 and 5.
        constexpr std::uint64_t kStatus = 0x0001000100010001ULL * kChannelBits;
        constexpr std::uint64_t kMask = kStatus | 0x0000FF000000FF00ULL;
        const std::uint64_t want = (m ^ bit) | (m ^ bit) << 16 | m << 32 | m << 48;
        const std::uint8_t* q = p;
        while (end - q >= 8) {
            std::uint64_t w;
            std::memcpy(&w, q, 8);
            if ((w & kMask) != want) {
                break;
            }
            q += 8;
        }
        if (q == p) {
            return p;
        }
        const auto pairsOfFour = static_cast<std::uint64_t>(q - p) / 8;
        const std::uint8_t toggled = static_cast<std::uint8_t>(m ^ bit);
        strobe.addRegular(timeBase + kTicksPerBit, kTicksPerBit, 2 * pairsOfFour,
                          levelFor(0, toggled), levelFor(0, static_cast<std::uint8_t>(m)));
        timeBase += static_cast<Tick>(2 * pairsOfFour) * kTicksPerBit;
        lastStatus = q[-2];
        return q;
    } else {
        (void)end;
        (void)timeBase;
        (void)lastStatus;
        (void)strobe;
        return p;
    }
}

}  // namespace

DatagramKind decodeDatagram(DecoderState& state, std::span<const std::uint8_t> data,
                            ChannelTraces& traces) {
    const DatagramKind kind = classifyDatagram(data);
    if (kind == DatagramKind::IdentityReply) {
        state.FDeviceId = identityOf(data);
        return kind;
    }
    if (kind != DatagramKind::Sample) {
        return kind;
    }
    if (data.size() < 10) {
        return kind;
    }
    const std::size_t pairs = (data.size() - 8) / 2;
    const std::uint8_t* p = data.data() + 8;
    Tick timeBase = state.FTimeBase;
    int lastStrobe = state.FLastStrobe;
    std::uint8_t lastStatus = state.FLastStatus;
    const std::uint8_t* const end = p + 2 * pairs;
    for (; p < end; p += 2) {
        if (lastStrobe == (lastStatus & 0x04)) {
            if (((p[0] ^ lastStatus) & kChannelBits) == 0) {
                p = skipSteadyPairs(p, end, lastStatus);
            } else {
                p = takeStrobeGroups(p, end, timeBase, lastStatus, traces[0]);
            }
            if (p == end) {
                break;
            }
        }
        const std::uint8_t s = p[0];
        const std::uint8_t t = p[1];
        const int strobe = s & 0x04;
        if (t == 0 && strobe != lastStrobe) {
            timeBase += kTicksPerBit;
        }
        lastStrobe = strobe;
        const std::uint8_t changed = static_cast<std::uint8_t>((s ^ lastStatus) & kChannelBits);
        if (changed == kChannels[0].statusBit) {  // the strobe alone: every other pair
            traces[0].add(timeBase + t,
                          (s & changed) != 0 ? kChannels[0].levelSet : kChannels[0].levelClear);
        } else if (changed != 0) {
            const Tick x = timeBase + t;
            for (int c = 0; c < kChannelCount; ++c) {
                const ChannelInfo& info = kChannels[static_cast<std::size_t>(c)];
                if ((changed & info.statusBit) != 0) {
                    traces[static_cast<std::size_t>(c)].add(
                        x, (s & info.statusBit) != 0 ? info.levelSet : info.levelClear);
                }
            }
        }
        lastStatus = s;
    }
    state.FTimeBase = timeBase;
    state.FLastStrobe = lastStrobe;
    state.FLastStatus = lastStatus;
    return kind;
}

}  // namespace osc
