#include "core/capture/capture_triggers.h"

#include <algorithm>

namespace osc {

CaptureTriggers::CaptureTriggers(const CaptureEngine& engine,
                                 std::function<std::string(std::int64_t receivedMs)> nameOf)
    : engine_(engine), nameOf_(std::move(nameOf)) {}

CaptureTriggers::~CaptureTriggers() = default;

void CaptureTriggers::start(std::int64_t nowMs) {
    settings_ = next_;
    files_.reset();
    ring_.clear();
    ring_.setMaxBytes(settings_.ringBytes);
    events_.clear();
    sequence_ = 0;
    stopDue_ = false;
    stopAtTick_.reset();
    stopAtMs_.reset();
    monitor_.emplace(settings_.conditions, settings_.windows.bitRate);
    monitor_->start(source(), engine_.state.FTimeBase, nowMs);
    if (settings_.mode == TriggerMode::SaveEach) {
        files_ = std::make_unique<EventFiles>(settings_.folder, settings_.windows, ring_, nameOf_);
    }
    started_ = true;
}

void CaptureTriggers::datagramDecoded(std::span<const std::uint8_t> datagram,
                                      const DecoderState& before, std::int64_t receivedMs) {
    if (!active() || classifyDatagram(datagram) != DatagramKind::Sample) {
        return;
    }
    const std::uint64_t sequence = sequence_++;
    if (files_) {
        RingEntry e;
        e.sequence = sequence;
        e.receivedMs = receivedMs;
        e.tickBefore = before.FTimeBase;
        e.tickAfter = engine_.state.FTimeBase;
        e.strobeBefore = static_cast<std::uint8_t>(before.FLastStrobe);
        e.statusBefore = before.FLastStatus;
        e.bytes = datagram;
        ring_.push(e);
        files_->datagramAdded();
        if (sequence % 64 == 0) {
            // Only what a window before a later event, or an open file, may still reach (with
            // room for an event decided late: a no_answer at the next command).
            const RingEntry newest = ring_.newest();
            const Tick slack = 16384 * kTicksPerBit;
            const std::optional<Tick> pre = settings_.windows.pre.ticks(settings_.windows.bitRate);
            const std::uint64_t keep =
                pre ? ring_.firstAtTick(newest.tickBefore - *pre - slack)
                    : std::min(ring_.firstAtTick(newest.tickBefore - slack),
                               ring_.firstAtMs(
                                   newest.receivedMs -
                                   static_cast<std::int64_t>(settings_.windows.pre.amount) - 1000));
            ring_.dropBefore(std::min(keep, files_->oldestNeeded()));
        }
    }
    monitor_->datagram(source(), engine_.state.FTimeBase, receivedMs, sequence);
    if ((stopAtTick_ && engine_.state.FTimeBase > *stopAtTick_) ||
        (stopAtMs_ && receivedMs > *stopAtMs_)) {
        stopDue_ = true;
    }
}

void CaptureTriggers::losses(std::uint64_t streamBreaks, std::uint64_t receiverDrops) {
    if (active()) {
        monitor_->losses(streamBreaks, receiverDrops, engine_.state.FTimeBase);
    }
}

std::vector<CaptureEvent> CaptureTriggers::take() {
    std::vector<CaptureEvent> out;
    for (TriggerEvent& e : monitor_->takeEvents()) {
        CaptureEvent ce;
        ce.trigger = e.condition < settings_.conditions.size()
                         ? settings_.conditions[e.condition].text
                         : std::string();
        if (files_) {
            ce.file = files_->add(e);
            if (ce.file.empty()) {
                error_ = files_->takeError();
            }
        }
        if (settings_.mode == TriggerMode::Stop && !stopAtTick_ && !stopAtMs_) {
            if (const std::optional<Tick> post =
                    settings_.windows.post.ticks(settings_.windows.bitRate)) {
                stopAtTick_ = e.to + *post;
            } else {
                stopAtMs_ = e.decidedMs + static_cast<std::int64_t>(settings_.windows.post.amount);
            }
        }
        ce.event = std::move(e);
        events_.push_back(ce);
        out.push_back(std::move(ce));
    }
    return out;
}

std::vector<CaptureEvent> CaptureTriggers::evaluate() {
    if (!active()) {
        return {};
    }
    monitor_->evaluate(source());
    std::vector<CaptureEvent> out = take();
    if (files_) {
        for (const FinishedEventFile& f : files_->takeFinished()) {
            if (!f.error.empty()) {
                error_ = f.error;
            }
        }
    }
    return out;
}

std::vector<CaptureEvent> CaptureTriggers::end() {
    if (!active()) {
        started_ = false;
        return {};
    }
    monitor_->evaluate(source());
    std::vector<CaptureEvent> out = take();
    if (files_) {
        files_->finishAll();
        for (const FinishedEventFile& f : files_->takeFinished()) {
            if (!f.error.empty()) {
                error_ = f.error;
            }
        }
    }
    started_ = false;
    return out;
}

std::string CaptureTriggers::takeError() {
    std::string e;
    e.swap(error_);
    return e;
}

}  // namespace osc
