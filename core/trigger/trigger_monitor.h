#pragma once
// The trigger conditions evaluated live, on what a capture decodes: the frames and their link
// layer as the analysis settles them, the lines' level changes and the sample stream's
// rhythm. The window runs one over its capture; the recorder runs one per device over an
// analysis that it starts over now and then (see rebase), so that memory stays bounded.
//
// Positions are stream ticks: the source's ticks plus its offset, so that they keep growing
// when the source starts over. An event's window (core/trigger/event_files.h) is taken
// around [from, to], what the event covers.
//
// When an event is decided (what "within 50 ms of the frame's end" means here). The device
// sends a line's samples some time after they happened, a datagram at a time; a frame's end is
// known once the datagram carrying the bit period after its closing flag has been decoded.
// From there:
//   - a frame condition that reads only the frame (channel, start, end, bits, status, error,
//     bytes, index) is decided by the evaluate() after that datagram, once every frame that
//     starts earlier on another decoded line has ended too (the analysis reads the frames in
//     order of start);
//   - one that reads the link layer (address to rt_ms, issue) also waits, for a command with
//     P=1, until its answer window has been decided: a frame heard on a response line, the
//     next command, or the answer timeout;
//   - silence is decided by the first datagram that takes the line past the span (its `at` is
//     the moment the span ran out); a loss when the caller reports the count that grew (after
//     the datagram that broke the rhythm).
// The caller runs evaluate() after every datagram, or at least every few milliseconds while
// datagrams arrive; the cost is that of the frames new since the last call. Events are never
// decided twice, and none is missed: every frame read is evaluated once, across rebases.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/frames/capture_frames.h"
#include "core/link/frame_filter.h"
#include "core/link/link_analysis.h"
#include "core/protocol/sample_decoder.h"
#include "core/trigger/trigger_condition.h"

namespace osc {

// What the conditions read: a capture's frames, their analysis and its traces. They must stay
// in place between the calls that pass them.
struct TriggerSource {
    const CaptureFrames& frames;
    const LinkAnalysis& link;
    const ChannelTraces& traces;
    Tick offset = 0;  // the stream tick of the source's tick 0
};

struct TriggerEvent {
    std::uint64_t number = 0;   // 1, 2, ... since the monitor started
    std::size_t condition = 0;  // which of the monitor's conditions
    TriggerKind kind = TriggerKind::Frame;
    Tick at = 0;                 // when it happened: a frame's end, silence's run-out, a loss
    Tick from = 0;               // what it covers: a frame [start, end], a silence [last
    Tick to = 0;                 // change, at], a loss [at, at]
    std::int64_t decidedMs = 0;  // arrival of the datagram after which it was decided
    std::uint64_t datagram = 0;  // that datagram's number in the stream
    std::string detail;          // English, for the command line: "bad check on Приём1"
    // A frame condition: the frame (positions in stream ticks) and its link layer; number is
    // its "№" in the stream, answerTo the "№" of the command a response answers.
    std::optional<Frame> frame;
    LinkFields fields;
    LinkInfo info;
    std::optional<Tick> responseTime;
    std::uint64_t frameNumber = 0;
    std::uint64_t answerTo = 0;

    // The frame as the filter and the frame writers take it (frame must be there).
    FrameRecord record() const;
};

class TriggerMonitor {
  public:
    // bitRate turns spans in seconds into bits; without it they are reception time.
    explicit TriggerMonitor(std::vector<TriggerCondition> conditions = {},
                            std::optional<double> bitRate = std::nullopt);

    const std::vector<TriggerCondition>& conditions() const { return conditions_; }
    bool empty() const { return conditions_.empty(); }
    std::optional<double> bitRate() const { return bitRate_; }

    // A capture starts at stream tick `at`, at nowMs: every condition armed, silence measured
    // from here, the rhythm and the counts from nothing; the source's frames from its first.
    void start(const TriggerSource& source, Tick at, std::int64_t nowMs);
    // After a sample datagram was decoded into the source: the silence conditions look at the
    // lines (timeBase: the source's time base after it, in stream ticks). sequence: the
    // datagram's number in the stream; receivedMs: its arrival.
    void datagram(const TriggerSource& source, Tick timeBase, std::int64_t receivedMs,
                  std::uint64_t sequence);
    // The losses counted so far (running totals, as CaptureStats counts them): sample
    // datagrams that broke the strobe's rhythm, and datagrams this computer dropped. An
    // increase of either is a loss at the stream tick `at`.
    void losses(std::uint64_t streamBreaks, std::uint64_t receiverDrops, Tick at);
    // The frames that the source's analysis has read since the last call, against the frame
    // conditions; the events go to takeEvents().
    void evaluate(const TriggerSource& source);
    // The events decided since the last call, in the order decided.
    std::vector<TriggerEvent> takeEvents();

    // The source now is another analysis of the same stream, which read it again from some
    // datagram on: its frames are walked from its first, and those that start before what was
    // evaluated already are skipped. The line levels are taken as they stand.
    void rebase(const TriggerSource& source);
    // Every frame that starts before this stream tick has been evaluated by every condition
    // (what a new analysis must read again from, at least); the start tick before any frame.
    Tick evaluatedTo() const;

    std::uint64_t eventCount() const { return events_; }
    std::uint64_t framesEvaluated() const { return plain_.count + link_.count; }

  private:
    // One walk over the frames in the analysis's order, for the conditions that share a rule
    // of when a frame is ready.
    struct Walk {
        bool link = false;                 // waits for a command's answer window
        std::vector<std::size_t> members;  // the conditions it evaluates
        std::array<std::size_t, kChannelCount> next{};
        // The last frame evaluated (stream start, rank at equal starts); nothing yet: none.
        std::optional<std::pair<Tick, int>> last;
        std::uint64_t count = 0;  // frames evaluated: the next one's "№" is count + 1
        // The latest command evaluated, for the "№" an answer refers to.
        FrameRef lastCommand;
        std::pair<Tick, int> lastCommandKey{};
        std::uint64_t lastCommandNumber = 0;
    };
    void walk(Walk& w, const TriggerSource& source);
    bool held(const TriggerSource& source, const Frame& frame, int channel, std::size_t index,
              const LinkFields& fields) const;
    void resetWalk(Walk& w);
    void fire(TriggerEvent event);

    std::vector<TriggerCondition> conditions_;
    std::optional<double> bitRate_;
    std::vector<std::optional<Tick>> silenceTicks_;  // per condition; nothing: reception time
    Walk plain_;
    Walk link_;
    std::uint64_t framesGeneration_ = 0;
    std::uint64_t linkGeneration_ = 0;
    bool wantsLoss_ = false;
    unsigned silentLines_ = 0;  // lines that a silence condition watches, a bit each
    std::array<std::size_t, kChannelCount> seenPoints_{};
    std::array<Tick, kChannelCount> lastChange_{};
    std::array<std::int64_t, kChannelCount> lastChangeMs_{};
    std::vector<bool> silenceFired_;  // per condition, until its line changes again
    std::uint64_t breaks_ = 0;
    std::uint64_t drops_ = 0;
    std::int64_t lastMs_ = 0;
    std::uint64_t lastSequence_ = 0;
    Tick position_ = 0;
    std::uint64_t events_ = 0;
    std::vector<TriggerEvent> pending_;
};

}  // namespace osc
