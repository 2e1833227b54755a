#include "core/sample_decoder.h"

namespace osc {

namespace {

// Channels whose status bit is one of these bits; a pair that changes none of them, and no
// strobe period, needs no work beyond remembering its status.
constexpr std::uint8_t kChannelBits = 0x04 | 0x40 | 0x80 | 0x10;

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
    for (std::size_t k = 0; k < pairs; ++k, p += 2) {
        const std::uint8_t s = p[0];
        const std::uint8_t t = p[1];
        const int strobe = s & 0x04;
        if (t == 0 && strobe != lastStrobe) {
            timeBase += kTicksPerBit;
        }
        lastStrobe = strobe;
        const std::uint8_t changed = static_cast<std::uint8_t>((s ^ lastStatus) & kChannelBits);
        if (changed != 0) {
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
