#pragma once
// Triggers over a device's sample stream for as long as it runs: the datagrams decoded into an
// analysis of their own (traces, frames, link layer), the conditions evaluated after each one,
// and the datagrams kept in a ring for the events' windows. Memory stays bounded whatever the
// run's length: the ring by its bound, and the analysis by starting it over (a roll) once it
// holds rollBytes, from a datagram well before what the conditions have evaluated (rewind),
// so that the frame decoders and the link analysis are back in step before the first frame
// not yet evaluated; TriggerMonitor skips the frames it has seen. A frame, an answer or a
// sequence number reaching back further than the rewind is read without what came before it
// (the first I frame of a station after a roll is not checked against an earlier one that
// far back).
//
// Every position is in stream ticks, which keep growing across rolls. One thread.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/capture/capture_stats.h"
#include "core/trigger/datagram_ring.h"
#include "core/trigger/trigger_monitor.h"

namespace osc {

struct StreamMonitorSettings {
    FrameOptions frames;
    unsigned channels = kDataChannels;
    LinkOptions link;
    std::size_t ringBytes = std::size_t{64} << 20;
    // The analysis starts over once its traces, frames and link infos hold about this much.
    std::size_t rollBytes = std::size_t{16} << 20;
    // How far before the first frame not yet evaluated a new analysis starts reading.
    Tick rewind = (Tick{1} << 17) * kTicksPerBit;
    // The frame conditions are evaluated after a datagram that arrives this long after the
    // last evaluation (0: after every datagram), and before a roll: a decision then comes
    // within this much of the datagram that settles it, at a fraction of the work.
    std::int64_t evaluateEveryMs = 10;
};

class StreamMonitor {
  public:
    StreamMonitor(TriggerMonitor monitor, const StreamMonitorSettings& settings);

    // The stream starts (stream tick 0) at nowMs: ring emptied, analysis and conditions anew.
    void start(std::int64_t nowMs);
    // One sample datagram of the device (anything else is not for it): into the ring, decoded,
    // the conditions evaluated (the frame conditions as evaluateEveryMs says); the events
    // decided go to takeEvents().
    void consume(std::span<const std::uint8_t> datagram, std::int64_t receivedMs);
    // The frame conditions evaluated now over what has come since they last were (the caller's
    // timer, so that a datagram followed by silence is not left waiting).
    void evaluatePending();
    // The stream has ended: the lines are closed, as a capture's stop closes them, and what
    // that settles is evaluated (a frame cut short by the end included, as unfinished).
    // Nothing is taken afterwards until the next start.
    void finish();
    // Lets the ring go of what is older than `keepFrom` (a sequence), as far as the analysis
    // does not need it for a roll. Cheap; the caller may call it after every datagram.
    void trimRing(std::uint64_t keepFrom);
    // The oldest sequence a roll would read again from now.
    std::uint64_t rewindFrom() const;
    // Datagrams dropped by this computer since the start, which may have been this device's.
    void setReceiverDrops(std::uint64_t total);
    std::vector<TriggerEvent> takeEvents() { return monitor_.takeEvents(); }

    const DatagramRing& ring() const { return ring_; }
    DatagramRing& ring() { return ring_; }
    const TriggerMonitor& monitor() const { return monitor_; }
    const StreamMonitorSettings& settings() const { return settings_; }
    // The time base now, in stream ticks.
    Tick position() const { return engine_->state.FTimeBase + offset_; }
    std::uint64_t datagrams() const { return sequence_; }
    std::uint64_t streamBreaks() const { return stats_.streamBreaks(); }
    std::uint64_t rolls() const { return rolls_; }
    // What the analysis holds now (traces, frames, link infos), as the roll counts it.
    std::size_t analysisBytes() const;

  private:
    TriggerSource source() const {
        return TriggerSource{engine_->frames, engine_->link, engine_->traces, offset_};
    }
    std::unique_ptr<CaptureEngine> newEngine() const;
    void roll();

    StreamMonitorSettings settings_;
    TriggerMonitor monitor_;
    DatagramRing ring_;
    std::unique_ptr<CaptureEngine> engine_;
    Tick offset_ = 0;
    CaptureStats stats_;
    std::uint64_t drops_ = 0;
    std::uint64_t sequence_ = 0;
    std::uint64_t rolls_ = 0;
    std::uint64_t nextCheck_ = 0;
    std::int64_t evaluatedMs_ = 0;
    bool pending_ = false;  // datagrams decoded since the last evaluation
    bool finished_ = false;
};

}  // namespace osc
