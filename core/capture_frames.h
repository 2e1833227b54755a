#pragma once
// The frames of a capture: one frame decoder per decoded channel, fed live from the channel
// traces while they grow and finished at the stop, before the completion; the result equals
// one pass over the completed traces. Channel 0 (not completed at the stop) is read as it
// stands. Off until enabled, so that captures that need no frames pay nothing for them.

#include <array>
#include <memory>
#include <vector>

#include "core/frame_decoder.h"
#include "core/sample_decoder.h"

namespace osc {

// Channels as bits (1 << channel); the data channels 1 to 3 by default.
inline constexpr unsigned kDataChannels = 0b1110;

class CaptureFrames {
  public:
    CaptureFrames() = default;

    bool enabled() const { return enabled_; }
    // Takes effect at the next restart or rebuild.
    void setEnabled(bool on) { enabled_ = on; }
    const FrameOptions& options() const { return options_; }
    unsigned channels() const { return channels_; }
    // Takes effect at the next restart or rebuild.
    void setOptions(const FrameOptions& options, unsigned channels = kDataChannels);

    // Start of a capture: every frame forgotten.
    void restart();
    // During a capture: reads the points that can no longer change, those with X up to the
    // time base (new points never land before it), and finds the frames they end.
    void follow(const ChannelTraces& traces, Tick timeBase);
    // At the stop, after the closing points and before the completion: reads the rest and
    // reports a frame still open as unfinished. Nothing is read after that until a restart.
    void finish(const ChannelTraces& traces);
    bool finished() const { return finished_; }
    // Decodes the traces again from their first point (after an options change), up to where
    // the last follow reached, or to the end when the capture has been finished.
    void rebuild(const ChannelTraces& traces);

    // Frames of one channel in order of start (empty for a channel not decoded).
    const std::vector<Frame>& frames(int channel) const;
    FrameCounts counts(int channel) const;
    FrameCheck checkInUse(int channel) const;
    // Frames of every decoded channel in order of start (lower channel first at equal starts).
    std::vector<Frame> byStart() const;

  private:
    void feed(const ChannelTraces& traces, bool all, Tick timeBase);

    bool enabled_ = false;
    FrameOptions options_;
    unsigned channels_ = kDataChannels;
    std::array<std::unique_ptr<ChannelFrameDecoder>, kChannelCount> decoders_{};
    std::array<std::size_t, kChannelCount> fed_{};  // points read of each trace
    Tick followed_ = -1;                            // the time base of the last follow
    bool finished_ = false;
};

}  // namespace osc
