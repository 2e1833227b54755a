#include "core/frames/capture_frames.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace osc {

void CaptureFrames::setOptions(const FrameOptions& options, unsigned channels) {
    options_ = options;
    channels_ = channels & ((1u << kChannelCount) - 1);
}

void CaptureFrames::startDecoder(int c) const {
    // The stop completes channels 1 to 3 only.
    decoders_[static_cast<std::size_t>(c)] =
        std::make_unique<ChannelFrameDecoder>(c, options_, c != 0);
    reading_[static_cast<std::size_t>(c)] = Reading{};
    ++generation_;
}

void CaptureFrames::restart() {
    for (int c = 0; c < kChannelCount; ++c) {
        decoders_[static_cast<std::size_t>(c)].reset();
        reading_[static_cast<std::size_t>(c)] = Reading{};
        if (enabled_ && (channels_ & (1u << c)) != 0) {
            startDecoder(c);
        }
    }
    source_ = nullptr;
    followed_ = -1;
    read_ = -1;
    finished_ = false;
    end_ = 0;
    ++generation_;
}

void CaptureFrames::feed(const ChannelTraces& traces, bool all, Tick upTo) const {
    if (all) {
        upTo = std::numeric_limits<Tick>::max();
    }
    for (int c = 0; c < kChannelCount; ++c) {
        if (decoders_[static_cast<std::size_t>(c)] == nullptr) {
            continue;
        }
        const ChannelTrace& trace = traces[static_cast<std::size_t>(c)];
        // The stored points give the same bits as all points when the decoder completes every
        // gap itself or when the trace has no completion points; reading them is the fast way.
        const bool stored = decoders_[static_cast<std::size_t>(c)]->completesGaps() ||
                            trace.count() == trace.storedCount();
        if (stored != reading_[static_cast<std::size_t>(c)].stored) {
            startDecoder(c);  // the trace was completed meanwhile: read it again as it is now
            reading_[static_cast<std::size_t>(c)].stored = stored;
        }
        ChannelFrameDecoder& decoder = *decoders_[static_cast<std::size_t>(c)];
        Reading& r = reading_[static_cast<std::size_t>(c)];
        if (stored) {
            std::array<TracePoint, 256> points;
            for (;;) {
                const std::size_t n = trace.copyStored(r.fed, upTo, points, r.block);
                decoder.addPoints(std::span(points.data(), n));
                r.fed += n;
                if (n < points.size()) {
                    break;
                }
            }
        } else {
            for (const TracePoint p : trace.points(r.fed)) {
                if (p.x > upTo) {
                    break;
                }
                decoder.addPoint(p.x, p.y);
                ++r.fed;
            }
        }
        if (all) {
            decoder.finish();
        } else {
            decoder.readQuiet(upTo);
        }
    }
}

void CaptureFrames::catchUp() const {
    if (source_ != nullptr && read_ < followed_) {
        feed(*source_, false, followed_);
        read_ = followed_;
    }
}

void CaptureFrames::follow(const ChannelTraces& traces, Tick timeBase) {
    if (finished_) {
        return;
    }
    if (source_ != &traces) {
        catchUp();
        source_ = &traces;
    }
    followed_ = std::max(followed_, timeBase);
}

void CaptureFrames::finish(const ChannelTraces& traces) {
    if (finished_) {
        return;
    }
    feed(traces, true, 0);
    source_ = nullptr;
    finished_ = true;
    end_ = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelTrace& trace = traces[static_cast<std::size_t>(c)];
        if (decoders_[static_cast<std::size_t>(c)] != nullptr && trace.count() > 0) {
            end_ = std::max(end_, trace.x(static_cast<std::ptrdiff_t>(trace.count() - 1)));
        }
    }
}

Tick CaptureFrames::settledTo() const {
    if (finished_) {
        return end_;
    }
    catchUp();
    if (read_ < 0) {
        return std::numeric_limits<Tick>::min();
    }
    Tick settled = read_;
    for (const auto& decoder : decoders_) {
        if (decoder != nullptr) {
            settled = std::min(settled, decoder->settledStart(read_));
        }
    }
    return settled;
}

void CaptureFrames::rebuild(const ChannelTraces& traces) {
    const bool wasFinished = finished_;
    const Tick reached = followed_;
    restart();
    if (wasFinished) {
        finish(traces);
    } else if (reached >= 0) {
        follow(traces, reached);
        catchUp();
    }
}

const FrameSequence& CaptureFrames::frames(int channel) const {
    static const FrameSequence kNone;
    if (channel < 0 || channel >= kChannelCount) {
        return kNone;
    }
    catchUp();
    const auto& decoder = decoders_[static_cast<std::size_t>(channel)];
    return decoder ? decoder->frames() : kNone;
}

FrameCounts CaptureFrames::counts(int channel) const {
    if (channel < 0 || channel >= kChannelCount) {
        return {};
    }
    catchUp();
    const auto& decoder = decoders_[static_cast<std::size_t>(channel)];
    return decoder ? decoder->counts() : FrameCounts{};
}

FrameCheck CaptureFrames::checkInUse(int channel) const {
    if (channel < 0 || channel >= kChannelCount) {
        return options_.check;
    }
    catchUp();
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
            const FrameSequence& f = frames(c);
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
