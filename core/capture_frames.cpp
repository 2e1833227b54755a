#include "core/capture_frames.h"

namespace osc {

void CaptureFrames::setOptions(const FrameOptions& options, unsigned channels) {
    options_ = options;
    channels_ = channels & ((1u << kChannelCount) - 1);
}

void CaptureFrames::restart() {
    for (int c = 0; c < kChannelCount; ++c) {
        auto& decoder = decoders_[static_cast<std::size_t>(c)];
        decoder.reset();
        if (enabled_ && (channels_ & (1u << c)) != 0) {
            // The stop completes channels 1 to 3 only.
            decoder = std::make_unique<ChannelFrameDecoder>(c, options_, c != 0);
        }
    }
    fed_ = {};
    followed_ = -1;
    finished_ = false;
}

void CaptureFrames::feed(const ChannelTraces& traces, bool all, Tick timeBase) {
    for (int c = 0; c < kChannelCount; ++c) {
        ChannelFrameDecoder* decoder = decoders_[static_cast<std::size_t>(c)].get();
        if (decoder == nullptr) {
            continue;
        }
        const ChannelTrace& trace = traces[static_cast<std::size_t>(c)];
        std::size_t& i = fed_[static_cast<std::size_t>(c)];
        const std::size_t n = trace.count();
        for (; i < n; ++i) {
            const TracePoint p = trace.point(static_cast<std::ptrdiff_t>(i));
            if (!all && p.x > timeBase) {
                break;
            }
            decoder->addPoint(p.x, p.y);
        }
        if (all) {
            decoder->finish();
        }
    }
}

void CaptureFrames::follow(const ChannelTraces& traces, Tick timeBase) {
    if (finished_) {
        return;
    }
    followed_ = timeBase;
    feed(traces, false, timeBase);
}

void CaptureFrames::finish(const ChannelTraces& traces) {
    if (finished_) {
        return;
    }
    feed(traces, true, 0);
    finished_ = true;
}

void CaptureFrames::rebuild(const ChannelTraces& traces) {
    const bool wasFinished = finished_;
    const Tick reached = followed_;
    restart();
    if (wasFinished) {
        finish(traces);
    } else if (reached >= 0) {
        follow(traces, reached);
    }
}

const std::vector<Frame>& CaptureFrames::frames(int channel) const {
    static const std::vector<Frame> kNone;
    if (channel < 0 || channel >= kChannelCount) {
        return kNone;
    }
    const auto& decoder = decoders_[static_cast<std::size_t>(channel)];
    return decoder ? decoder->frames() : kNone;
}

FrameCounts CaptureFrames::counts(int channel) const {
    if (channel < 0 || channel >= kChannelCount) {
        return {};
    }
    const auto& decoder = decoders_[static_cast<std::size_t>(channel)];
    return decoder ? decoder->counts() : FrameCounts{};
}

FrameCheck CaptureFrames::checkInUse(int channel) const {
    if (channel < 0 || channel >= kChannelCount) {
        return options_.check;
    }
    const auto& decoder = decoders_[static_cast<std::size_t>(channel)];
    return decoder ? decoder->checkInUse() : options_.check;
}

std::vector<Frame> CaptureFrames::byStart() const {
    std::array<std::size_t, kChannelCount> at{};
    std::size_t total = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        total += frames(c).size();
    }
    std::vector<Frame> out;
    out.reserve(total);
    while (out.size() < total) {
        int best = -1;
        for (int c = 0; c < kChannelCount; ++c) {
            const std::vector<Frame>& f = frames(c);
            const std::size_t k = at[static_cast<std::size_t>(c)];
            if (k < f.size() &&
                (best < 0 || f[k].start < frames(best)[at[static_cast<std::size_t>(best)]].start)) {
                best = c;
            }
        }
        out.push_back(frames(best)[at[static_cast<std::size_t>(best)]++]);
    }
    return out;
}

}  // namespace osc
