#include "core/view/frame_view.h"

#include <algorithm>
#include <cmath>

namespace osc {

namespace {

constexpr Tick kFlagTicks = 8 * kTicksPerBit;

}  // namespace

FrameRange framesInWindow(const FrameSequence& frames, double minimum, double maximum) {
    // Within a channel frames follow each other: starts and ends both grow (two neighbours may
    // share a flag, never more).
    const auto first = std::partition_point(frames.begin(), frames.end(), [&](const Frame& f) {
        return static_cast<double>(f.end) <= minimum;
    });
    const auto last = std::partition_point(first, frames.end(), [&](const Frame& f) {
        return static_cast<double>(f.start) < maximum;
    });
    return {static_cast<std::size_t>(first - frames.begin()),
            static_cast<std::size_t>(last - frames.begin())};
}

std::size_t firstFrameFrom(const FrameSequence& frames, std::size_t from, double tick) {
    from = std::min(from, frames.size());
    const auto it =
        std::partition_point(frames.begin() + static_cast<std::ptrdiff_t>(from), frames.end(),
                             [&](const Frame& f) { return static_cast<double>(f.start) < tick; });
    return static_cast<std::size_t>(it - frames.begin());
}

bool endsWithFlag(const Frame& frame) {
    switch (frame.error) {
        case FrameError::None:
        case FrameError::Misaligned:
        case FrameError::TooShort:
        case FrameError::BadCheck:
            return true;
        case FrameError::Abort:
        case FrameError::Unfinished:
        case FrameError::TooLong:
            return false;
    }
    return false;
}

void frameCells(const Frame& frame, std::vector<FrameCell>& out) {
    out.clear();
    if (frame.end <= frame.start) {
        return;
    }
    const Tick openEnd = std::min(frame.end, frame.start + kFlagTicks);
    out.push_back({frame.start, openEnd, FramePart::Flag, 0});
    Tick bodyEnd = frame.end;
    const bool closing = endsWithFlag(frame);
    if (closing) {
        bodyEnd = std::max(openEnd, frame.end - kFlagTicks);
    }
    const std::size_t n = frame.bytes.size();
    // The last byte may hold fewer than 8 bits (misaligned); a frame cut as too long has more
    // bits than bytes, and the bits after its last byte belong to no cell.
    const std::uint64_t bits =
        n == 0 ? 0 : std::max<std::uint64_t>(frame.bitCount, 8 * std::uint64_t{n} - 7);
    if (n > 0 && bodyEnd > openEnd) {
        const std::size_t checkFrom = n - std::min(n, frame.checkBytes());
        const double width = static_cast<double>(bodyEnd - openEnd);
        const auto at = [&](std::uint64_t bit) {
            if (bit >= bits) {
                return bodyEnd;
            }
            return openEnd + static_cast<Tick>(std::floor(width * static_cast<double>(bit) /
                                                          static_cast<double>(bits)));
        };
        for (std::size_t k = 0; k < n; ++k) {
            out.push_back({at(8 * std::uint64_t{k}), at(8 * std::uint64_t{k} + 8),
                           k >= checkFrom ? FramePart::Check : FramePart::Payload, k});
        }
    }
    if (closing && bodyEnd < frame.end) {
        out.push_back({bodyEnd, frame.end, FramePart::Flag, 0});
    }
}

AxisRange windowShowingFrame(const AxisRange& window, Tick start, Tick end) {
    const double s = static_cast<double>(start);
    const double e = static_cast<double>(std::max(start, end));
    const double width = window.maximum - window.minimum;
    if (s >= window.minimum && e <= window.maximum) {
        return window;
    }
    if (e - s <= width) {
        const double min = std::round((s + e) / 2 - width / 2);
        return {min, min + width};
    }
    const double pad = std::max(std::round((e - s) / 20), static_cast<double>(kTicksPerBit));
    return {s - pad, e + pad};
}

std::string frameLineBits(const Frame& frame, BitOrder order) {
    static constexpr char kFlag[] = "01111110";
    std::string out = kFlag;
    const std::uint64_t available = 8 * std::uint64_t{frame.bytes.size()};
    const std::uint64_t bits = std::min<std::uint64_t>(frame.bitCount, available);
    out.reserve(16 + bits);
    for (std::uint64_t k = 0; k < bits; ++k) {
        const std::uint8_t byte = frame.bytes[static_cast<std::size_t>(k / 8)];
        const unsigned shift = order == BitOrder::LsbFirst ? k % 8 : 7 - k % 8;
        out += ((byte >> shift) & 1) != 0 ? '1' : '0';
    }
    if (endsWithFlag(frame)) {
        out += kFlag;
    }
    return out;
}

}  // namespace osc
