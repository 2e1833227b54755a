#include "core/capture/stream_monitor.h"

#include <algorithm>
#include <limits>

#include "core/capture/memory_ceiling.h"

namespace osc {

namespace {

// How often (in datagrams) the analysis's memory is looked at.
constexpr std::uint64_t kCheckEvery = 256;

}  // namespace

StreamMonitor::StreamMonitor(TriggerMonitor monitor, const StreamMonitorSettings& settings)
    : settings_(settings),
      monitor_(std::move(monitor)),
      ring_(settings.ringBytes),
      engine_(newEngine()) {}

std::unique_ptr<CaptureEngine> StreamMonitor::newEngine() const {
    auto engine = std::make_unique<CaptureEngine>();
    engine->frames.setEnabled(true);
    engine->frames.setOptions(settings_.frames, settings_.channels);
    engine->link.setOptions(settings_.link);
    return engine;
}

void StreamMonitor::start(std::int64_t nowMs) {
    ring_.clear();
    engine_ = newEngine();
    engine_->resetTimeBase();
    engine_->restartTraces();
    offset_ = 0;
    sequence_ = 0;
    drops_ = 0;
    rolls_ = 0;
    nextCheck_ = kCheckEvery;
    evaluatedMs_ = nowMs;
    finished_ = false;
    stats_.start(nowMs);
    monitor_.start(source(), 0, nowMs);
}

void StreamMonitor::setReceiverDrops(std::uint64_t total) {
    if (total != drops_) {
        drops_ = total;
        monitor_.losses(stats_.streamBreaks(), drops_, position());
    }
}

void StreamMonitor::evaluatePending() {
    if (pending_ && !finished_) {
        pending_ = false;
        monitor_.evaluate(source());
    }
}

void StreamMonitor::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    engine_->closeTraces();
    engine_->completeTraces();
    monitor_.evaluate(source());
}

void StreamMonitor::consume(std::span<const std::uint8_t> datagram, std::int64_t receivedMs) {
    if (finished_ || classifyDatagram(datagram) != DatagramKind::Sample) {
        return;
    }
    RingEntry entry;
    entry.sequence = sequence_;
    entry.receivedMs = receivedMs;
    entry.tickBefore = position();
    entry.strobeBefore = static_cast<std::uint8_t>(engine_->state.FLastStrobe);
    entry.statusBefore = engine_->state.FLastStatus;
    entry.bytes = datagram;
    engine_->decodeDatagram(datagram);
    entry.tickAfter = position();
    ring_.push(entry);
    stats_.datagram(datagram, DatagramKind::Sample);
    const TriggerSource src = source();
    monitor_.datagram(src, entry.tickAfter, receivedMs, sequence_);
    monitor_.losses(stats_.streamBreaks(), drops_, entry.tickBefore);
    pending_ = true;
    if (receivedMs - evaluatedMs_ >= settings_.evaluateEveryMs) {
        evaluatedMs_ = receivedMs;
        pending_ = false;
        monitor_.evaluate(src);
    }
    ++sequence_;
    if (sequence_ >= nextCheck_) {
        nextCheck_ = sequence_ + kCheckEvery;
        if (analysisBytes() >= settings_.rollBytes) {
            roll();
        }
    }
}

std::size_t StreamMonitor::analysisBytes() const {
    std::size_t bytes = traceMemoryBytes(engine_->traces);
    const LinkAnalyser& a = engine_->link.analyser();
    for (int c = 0; c < kChannelCount; ++c) {
        bytes +=
            engine_->frames.frames(c).size() * sizeof(Frame) + a.analysed(c) * sizeof(LinkInfo);
    }
    return bytes;
}

std::uint64_t StreamMonitor::rewindFrom() const {
    // Read again from well before the first frame some condition has not evaluated; never
    // from further back than a few rewinds (a command whose answer window stays open forever
    // would otherwise hold every roll there).
    const Tick now = position();
    const Tick evaluated = std::max(monitor_.evaluatedTo(), now - 4 * settings_.rewind);
    return std::max(ring_.firstAtTick(evaluated - settings_.rewind), ring_.first());
}

void StreamMonitor::trimRing(std::uint64_t keepFrom) {
    if (!ring_.empty()) {
        ring_.dropBefore(std::min(keepFrom, rewindFrom()));
    }
}

void StreamMonitor::roll() {
    if (ring_.empty()) {
        return;
    }
    monitor_.evaluate(source());  // what the old analysis has settled, before it goes
    const std::uint64_t first = std::min(rewindFrom(), ring_.end() - 1);
    const RingEntry checkpoint = ring_.at(first);
    auto engine = newEngine();
    engine->state = engine_->state;
    engine->state.FTimeBase = 0;
    engine->state.FLastStrobe = checkpoint.strobeBefore;
    engine->state.FLastStatus = checkpoint.statusBefore;
    engine->restartTraces();
    for (std::uint64_t s = first; s < ring_.end(); ++s) {
        engine->decodeDatagram(ring_.at(s).bytes);
    }
    engine_ = std::move(engine);
    offset_ = checkpoint.tickBefore;
    ++rolls_;
    const TriggerSource src = source();
    monitor_.rebase(src);
    monitor_.evaluate(src);
}

}  // namespace osc
