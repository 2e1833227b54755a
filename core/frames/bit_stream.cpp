#include "core/frames/bit_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace osc {

namespace {

BitStreamResult failed() {
    return {BitStreamStatus::Failed, "?", "?"};
}

// The sampled bits of points iM .. iC-1: a point is taken when its X lies at least 256 ticks
// after the previously taken one (the first when X >= 255). Each taken point is found by a
// binary search, so that runs of points closer than a bit period cost nothing per point.
std::string sampleBits(const ChannelTrace& trace, std::size_t iM, std::size_t iC,
                       const BitStreamOptions& options) {
    std::string bits;
    Tick last = -1;
    int ones = 0;
    std::size_t i = iM;
    while (i < iC) {
        if (last > std::numeric_limits<Tick>::max() - kTicksPerBit) {
            break;  // no tick lies a bit period after this one
        }
        // Every point before i lies left of next, so the first one at or past it is found
        // over the whole trace.
        const Tick next = last + kTicksPerBit;
        i = std::max(i, trace.lowerBoundTick(next));
        if (i >= iC) {
            break;
        }
        const TracePoint p = trace.point(static_cast<std::ptrdiff_t>(i));
        last = p.x;
        int b = (p.y + 1) % 2;
        ++i;
        if (options.invert) {
            b = 1 - b;
        }
        if (options.unstuff) {
            if (b == 1) {
                ++ones;
            } else if (ones == 5) {
                ones = 0;
                continue;  // a stuffed bit; the point still counts as sampled
            } else {
                ones = 0;
            }
        }
        bits += b == 1 ? '1' : '0';
    }
    return bits;
}

void appendHex(std::string& out, std::uint16_t v, long long digits) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (; v != 0; v = static_cast<std::uint16_t>(v >> 4)) {
        text.insert(text.begin(), kHex[v & 0xF]);
    }
    if (static_cast<long long>(text.size()) < digits) {
        text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
    }
    out += text;
}

// One full group of n characters as a 16-bit value. Bit numbers are taken modulo 32, so that
// numbers 16 to 31 set nothing and larger ones wrap round.
std::uint16_t groupValue(std::string_view group, int n, bool reverse) {
    std::uint16_t v = 0;
    for (int j = 1; j <= n; ++j) {
        if (group[static_cast<std::size_t>(j - 1)] != '1') {
            continue;
        }
        const int bit = (reverse ? n - j : j - 1) % 32;
        if (bit < 16) {
            v = static_cast<std::uint16_t>(v | (1u << bit));
        }
    }
    return v;
}

}  // namespace

BitStreamResult DecodeBitStream(const ChannelTraces& traces, int channel, double markerX,
                                double cursorX, const BitStreamOptions& options) {
    const double span = cursorX - markerX;
    if (std::isnan(span) || span >= options.spanLimit) {
        return failed();
    }
    if (markerX == 0 || channel < 0 || channel >= kChannelCount) {
        return failed();
    }
    const ChannelTrace& trace = traces[static_cast<std::size_t>(channel)];
    const std::ptrdiff_t iM = trace.locateExact(markerX);
    const std::ptrdiff_t iC = trace.locateExact(cursorX);
    if (iM < 0 || iC < 0) {
        return failed();
    }
    const std::string bits = iM < iC ? sampleBits(trace, static_cast<std::size_t>(iM),
                                                  static_cast<std::size_t>(iC), options)
                                     : std::string();

    return GroupBitText(bits, options);
}

BitStreamResult GroupBitText(std::string_view bits, const BitStreamOptions& options) {
    const int n = options.bitsPerGroup;
    if (n == 0) {
        return {BitStreamStatus::Aborted, {}, {}};
    }
    const long long length = static_cast<long long>(bits.size());
    const long long groups = length / n + 1;  // truncated toward zero, also for n < 0
    const long long digits = (static_cast<long long>(n) + 3) / 4;
    BitStreamResult result{BitStreamStatus::Decoded, {}, {}};
    for (long long g = 0; g < groups; ++g) {
        // A negative length takes no character at all.
        std::string_view group;
        if (n > 0) {
            const long long start = g * n;
            const long long size = std::min<long long>(n, length - start);
            group = bits.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(size));
        }
        result.bitText += group;
        result.bitText += ' ';
        if (n > 0 && static_cast<long long>(group.size()) == n) {
            appendHex(result.valueText, groupValue(group, n, options.reverse), digits);
            result.valueText += ' ';
        }
    }
    return result;
}

}  // namespace osc
