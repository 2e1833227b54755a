#pragma once
// One device of a recorder that runs for weeks: its capture session (commands, the datagrams
// that are its own, the counts), its datagrams written into segment files of a fixed length,
// its triggers with one file per event, and a device that falls silent asked again until it
// streams. The caller owns the socket and the loop: it hands each datagram to the device whose
// it is (owns), and calls poll() every few tens of milliseconds.
//
// Files, under the device's folder:
//   NAME.osc          a segment: every datagram of the device, in order, from its start time
//                     (NAME, UTC, "20260501T120000Z") to the next multiple of the segment
//                     length; written as they arrive into NAME.osc.part, flushed at least once a
//                     second, put in place when the next segment begins. A datagram goes into
//                     exactly one segment.
//   events/NAME.osc   an event's window (core/trigger/event_files.h), NAME the event's time
//                     with milliseconds, and NAME.json beside it (core/capture/event_report.h).
// Trouble is told on the log and survived: a segment that cannot be written (a full disk) is
// closed with what it holds and a new one tried every 5 s, while what arrives meanwhile is
// counted as not written; a segment whose file or folder disappears is replaced at once (the
// folders made again); what was already written stays as it is.
//
// Silence: no sample datagram for `silenceMs` (from the start, or since the last one) is told
// once, and the identity request and the start command go again every `askEveryMs` until the
// device streams; its return is told with the length of the gap. An identity reply after a
// request brings the start command at once; without one within `identityWaitMs` the start
// command goes with the identity known (six zero bytes before any).
//
// Without triggers the datagrams are only written, not decoded.
//
// Memory: the session's counts, the stream monitor's ring (what the windows before events
// may reach, within its bound) and analysis (bounded, see core/capture/stream_monitor.h), the
// writers' queues (timing.maxPendingBytes each).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/capture/capture_session.h"
#include "core/capture/event_report.h"
#include "core/capture/stream_monitor.h"
#include "core/trigger/event_files.h"

namespace osc {

class StreamedOscFile;

struct DeviceRecorderSettings {
    std::string name;              // the device's folder name, and its name in the log
    std::string address;           // as the link's commands take it
    std::filesystem::path folder;  // where its segments go (events/ under it)
    std::int64_t segmentMs = 15 * 60 * 1000;
    std::vector<TriggerCondition> triggers;
    EventWindowSettings windows;
    StreamMonitorSettings analysis;
    std::int64_t silenceMs = 5000;
    std::int64_t askEveryMs = 3000;
    std::int64_t identityWaitMs = 2000;
    std::int64_t retryWritingMs = 5000;
    OscLineTiming timing;
};

struct RecorderClocks {
    std::function<std::int64_t()> steadyMs;  // arrivals, timers
    std::function<std::int64_t()> wallMs;    // names and times of files (UTC, since 1970)
};

// One event as the recorder tells it.
struct RecordedEvent {
    std::string device;
    std::string trigger;  // the condition's text
    TriggerEvent event;
    std::filesystem::path file;  // its event file; empty when none could be made
    std::int64_t wallMs = 0;     // when it was decided
};
// "2026-05-01T12:03:05.456Z 10.0.0.5 frame 'status == bad': bad check frame on Приём1 -> PATH"
std::string recordedEventText(const RecordedEvent& e);
// {"time": ..., "device": ..., "kind": ..., "trigger": ..., "detail": ..., "file": ...,
//  "channel": 2, "bytes": "05 11 ...", "error": "bad check"} (the last three for a frame only),
//  one line.
std::string recordedEventJson(const RecordedEvent& e);

// Where a recorder tells what happens.
class RecorderOutput {
  public:
    virtual ~RecorderOutput() = default;
    virtual void event(const RecordedEvent& event) = 0;
    // One line of the log, "10.0.0.5: ..." (English).
    virtual void log(const std::string& line) = 0;
};

class DeviceRecorder {
  public:
    // reports: where the events' JSON files are written (nullptr: here, at once).
    DeviceRecorder(DeviceRecorderSettings settings, DeviceLink& link, RecorderClocks clocks,
                   RecorderOutput& output, EventReportWriter* reports = nullptr);
    ~DeviceRecorder();
    DeviceRecorder(const DeviceRecorder&) = delete;
    DeviceRecorder& operator=(const DeviceRecorder&) = delete;

    const DeviceRecorderSettings& settings() const { return settings_; }
    const std::string& name() const { return settings_.name; }

    // The folders made, a segment begun, the identity request sent.
    void start();
    // Whether a datagram from this sender is the device's (its address as last resolved).
    bool owns(const PeerAddress& from) const;
    // One datagram of the device (from: its sender, when known).
    void consume(std::span<const std::uint8_t> datagram, const std::optional<PeerAddress>& from);
    // Datagrams this computer dropped since the start, which may have been this device's.
    void setReceiverDrops(std::uint64_t total) { stream_.setReceiverDrops(total); }
    // Timers and health: silence, the start command after the identity, the segment's end,
    // its file and folder, the event files' windows. Cheap; call it every few tens of ms.
    void poll();
    // The stop command (failures told); datagrams still arriving are taken until close().
    void sendStop();
    // The stream's end evaluated (its events told), every file written and put in place;
    // nothing is taken afterwards.
    void close();

    struct Counts {
        std::uint64_t datagrams = 0;  // of the device, written or not
        std::uint64_t bytes = 0;
        std::uint64_t samples = 0;
        std::uint64_t segments = 0;  // begun
        std::uint64_t events = 0;
        std::uint64_t gaps = 0;        // silent spells
        std::uint64_t notWritten = 0;  // no segment could take them, or the disk fell behind
    };
    Counts counts() const;
    // The segment being written (its final path), if any: not for retention to delete.
    std::optional<std::filesystem::path> currentSegment() const;
    const StreamMonitor& stream() const { return stream_; }
    bool silent() const { return silent_; }

  private:
    class SegmentRecorder;
    void ask(std::int64_t now);
    void sendStart();
    void refreshSenders();
    void openSegment();
    void closeSegment(bool lost);
    void checkSegment(std::int64_t now);
    void takeEvents();
    void takeFinishedFiles();
    void trimRing();
    void log(const std::string& text);

    DeviceRecorderSettings settings_;
    DeviceLink& link_;
    RecorderClocks clocks_;
    RecorderOutput& output_;
    EventReportWriter* reports_;
    CaptureEngine identityEngine_;  // the session's: identity replies only
    CaptureSession session_;
    StreamMonitor stream_;
    EventFiles events_;
    std::unique_ptr<SegmentRecorder> recorder_;
    std::unique_ptr<StreamedOscFile> segment_;
    std::int64_t segmentEndWall_ = 0;
    std::uint64_t segmentDrops_ = 0;  // not written by the current segment's writer, so far
    std::int64_t retryAt_ = 0;
    bool writingTrouble_ = false;
    std::int64_t nextFolderCheck_ = 0;
    std::vector<PeerAddress> senders_;
    bool sendersKnown_ = false;
    bool started_ = false;
    bool closed_ = false;
    bool streaming_ = false;  // a sample datagram has come since the start
    bool silent_ = false;
    std::int64_t startedMs_ = 0;
    std::int64_t lastSampleMs_ = 0;
    std::int64_t nextAskMs_ = 0;
    bool waitingIdentity_ = false;
    std::int64_t identityAskedMs_ = 0;
    bool sendFailureTold_ = false;
    std::uint32_t sinceTrim_ = 0;
    Counts counts_;
};

}  // namespace osc
