#pragma once
// Triggers over the window's capture: the conditions evaluated on the capture engine's frames
// and lines as the datagrams are decoded, the events of the capture kept for the events list
// and the marks on the traces, and the mode that says what an event does:
//   Mark      ("Отметить")         the event is listed and marked; the capture goes on;
//   Stop      ("Остановить")       the capture stops once the first event's window after it
//                                  (post) has passed: stopDue() says when;
//   SaveEach  ("Сохранять каждое") each event's window is written as an .osc file into the
//                                  folder (windows that overlap into one), and the triggers
//                                  stay armed.
// The capture's length ("Длительность") is the session's (CaptureSession::setDuration).
//
// The engine is the window's own (never started over: the capture's memory ceiling bounds it);
// the datagrams of the windows before events are kept in a ring of ringBytes. Positions are the
// engine's ticks. One thread (the window's).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/trigger/datagram_ring.h"
#include "core/trigger/event_files.h"
#include "core/trigger/trigger_monitor.h"

namespace osc {

enum class TriggerMode : std::uint8_t { Mark, Stop, SaveEach };

struct CaptureTriggerSettings {
    std::vector<TriggerCondition> conditions;  // none: the triggers are off
    TriggerMode mode = TriggerMode::Mark;
    EventWindowSettings windows;   // pre and post, and the bit rate for seconds
    std::filesystem::path folder;  // SaveEach: where the files go
    std::size_t ringBytes = std::size_t{64} << 20;
};

// One event of the capture, as the events list shows it.
struct CaptureEvent {
    TriggerEvent event;          // at, from, to in the engine's ticks; the frame, if any
    std::string trigger;         // the condition's text
    std::filesystem::path file;  // SaveEach: its file (empty otherwise, or when none was made)
};

class CaptureTriggers {
  public:
    // nameOf: the file name (without .osc) of an event window that begins with a datagram
    // received at the steady clock's ms, e.g. the time as text.
    CaptureTriggers(const CaptureEngine& engine,
                    std::function<std::string(std::int64_t receivedMs)> nameOf);
    ~CaptureTriggers();
    CaptureTriggers(const CaptureTriggers&) = delete;
    CaptureTriggers& operator=(const CaptureTriggers&) = delete;

    // Taken at the next start.
    void setSettings(CaptureTriggerSettings settings) { next_ = std::move(settings); }
    const CaptureTriggerSettings& settings() const { return settings_; }
    bool active() const { return started_ && !settings_.conditions.empty(); }

    // The capture has begun (after the engine's traces were restarted): armed, the events and
    // the ring from nothing.
    void start(std::int64_t nowMs);
    // One datagram the engine has just decoded; `before` is the decoder's state before it
    // (copy engine.state before decoding). Only sample datagrams count.
    void datagramDecoded(std::span<const std::uint8_t> datagram, const DecoderState& before,
                         std::int64_t receivedMs);
    // The capture's losses (CaptureStats::streamBreaks, receiverDrops), running totals.
    void losses(std::uint64_t streamBreaks, std::uint64_t receiverDrops);
    // The frames settled since the last call, evaluated; call it after each batch of datagrams
    // (every few ms). Returns the events decided since the last call (also in events()).
    std::vector<CaptureEvent> evaluate();
    // Stop mode: the first event's window after it has passed (the caller stops the capture).
    bool stopDue() const { return stopDue_; }
    // The capture has stopped (after the engine's stop): what the stop settles evaluated, the
    // files written as they stand. Returns the events that decided.
    std::vector<CaptureEvent> end();

    const std::vector<CaptureEvent>& events() const { return events_; }
    // SaveEach: files that could not be written, since the last call ("Cannot create file ...").
    std::string takeError();
    const DatagramRing& ring() const { return ring_; }

  private:
    TriggerSource source() const {
        return TriggerSource{engine_.frames, engine_.link, engine_.traces, 0};
    }
    std::vector<CaptureEvent> take();

    const CaptureEngine& engine_;
    std::function<std::string(std::int64_t)> nameOf_;
    CaptureTriggerSettings next_;
    CaptureTriggerSettings settings_;
    std::optional<TriggerMonitor> monitor_;
    DatagramRing ring_;
    std::unique_ptr<EventFiles> files_;
    std::vector<CaptureEvent> events_;
    std::uint64_t sequence_ = 0;
    bool started_ = false;
    bool stopDue_ = false;
    std::optional<Tick> stopAtTick_;
    std::optional<std::int64_t> stopAtMs_;
    std::string error_;
};

}  // namespace osc
