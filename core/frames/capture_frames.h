#pragma once
// The frames of a capture: one frame decoder per decoded channel, fed from the channel traces
// while they grow and finished at the stop, before the completion; the result equals one pass
// over the completed traces. Channel 0 (not completed at the stop) is read as it stands. Off
// until enabled, so that captures that need no frames pay nothing for them.
//
// During a capture the traces are read in batches: follow only notes how far they are settled,
// and the new points are read when the frames are next asked for (a table's refresh, a repaint)
// or at the stop. A datagram costs no more with frames than without; the decoding itself
// is the same whatever the batches.

#include <array>
#include <memory>
#include <vector>

#include "core/frames/frame_decoder.h"
#include "core/protocol/sample_decoder.h"

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
    // During a capture: the points with X up to the time base can no longer change (new points
    // never land before it). They are read, and the frames they end found, when the frames
    // are next asked for; traces must stay in place until the next follow, finish or restart.
    void follow(const ChannelTraces& traces, Tick timeBase);
    // At the stop, after the closing points and before the completion: reads the rest and
    // reports a frame still open as unfinished. Nothing is read after that until a restart.
    void finish(const ChannelTraces& traces);
    bool finished() const { return finished_; }
    // Decodes the traces again from their first point (after an options change), up to where
    // the last follow reached, or to the end when the capture has been finished.
    void rebuild(const ChannelTraces& traces);

    // The frames below include everything that follow has declared settled: these read it
    // first when there is something new.
    // Frames of one channel in order of start (empty for a channel not decoded).
    const FrameSequence& frames(int channel) const;
    FrameCounts counts(int channel) const;
    FrameCheck checkInUse(int channel) const;
    // Frames of every decoded channel in order of start (lower channel first at equal starts).
    std::vector<Frame> byStart() const;

    // Every decoded channel's frames that start before this tick are in the lists above, and
    // the lines are read up to it: during a capture, how far the frames are settled (it trails
    // the last follow by the frames still open); once finished, the end of the capture (the
    // last point of the decoded traces), with every frame in the lists. The least tick before
    // the first follow. Never decreases until a restart.
    Tick settledTo() const;
    // Increases at every restart and rebuild (and whenever a channel is read again from its
    // first point): frame lists held from before may be gone.
    std::uint64_t generation() const { return generation_; }

  private:
    // How far a channel's trace has been read: its stored points alone (the level changes,
    // the completion derived by the decoder) or all its points one by one.
    struct Reading {
        bool stored = true;
        std::size_t fed = 0;    // points read, stored ones or all
        std::size_t block = 0;  // where the trace's stored points were left off
    };
    // Reads what follow has declared settled and not been read yet.
    void catchUp() const;
    void feed(const ChannelTraces& traces, bool all, Tick upTo) const;
    void startDecoder(int channel) const;

    bool enabled_ = false;
    FrameOptions options_;
    unsigned channels_ = kDataChannels;
    // Read lazily by the const accessors (catchUp), hence mutable.
    mutable std::array<std::unique_ptr<ChannelFrameDecoder>, kChannelCount> decoders_{};
    mutable std::array<Reading, kChannelCount> reading_{};
    const ChannelTraces* source_ = nullptr;  // the traces of the last follow
    Tick followed_ = -1;                     // the time base of the last follow
    mutable Tick read_ = -1;                 // the time base read up to
    bool finished_ = false;
    Tick end_ = 0;  // the last point of the decoded traces, once finished
    mutable std::uint64_t generation_ = 0;
};

}  // namespace osc
