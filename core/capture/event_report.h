#pragma once
// What the recorder writes beside an event file (NAME.json beside NAME.osc), and the texts of
// its lines: times in ISO 8601, the events with their frames as `frames --format json` writes
// them for that file (numbered and placed as a replay of the file gives them).
//
//   {"device": "10.0.0.5", "identity": "02:00:0A:00:00:05", "file": "NAME.osc",
//    "started_at": "2026-05-01T12:03:00.120Z", "ended_at": "2026-05-01T12:03:15.480Z",
//    "datagrams": 1024, "pre_complete": true, "post_complete": true,
//    "trigger": "status == bad", "kind": "frame", "at": "2026-05-01T12:03:05.456Z",
//    "detail": "bad check frame on Приём1", "frame": {...} or null,
//    "events": [{"trigger": ..., "kind": ..., "at": ..., "detail": ..., "frame": ...}, ...]}
//
// trigger to frame are those of the file's first event; events lists every event in the file,
// the first included. started_at and ended_at are the arrivals of the file's first and last
// datagram, at the time of the event's decision.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/frames/capture_frames.h"
#include "core/link/link_fields.h"
#include "core/trigger/event_files.h"

namespace osc {

// "2026-05-01T12:03:05.123Z" for milliseconds since 1970 (UTC).
std::string isoTimeText(std::int64_t wallMs);
// "20260501T120305Z", or with milliseconds "20260501T120305.123Z": a file name's time.
std::string fileTimeText(std::int64_t wallMs, bool milliseconds);
// The text as a JSON string, quotes included (UTF-8 kept, control characters escaped).
std::string jsonQuoted(std::string_view text);

struct EventReportInput {
    std::string device;    // the device's folder name
    std::string identity;  // "02:00:0A:00:00:05"; empty when unknown
    FinishedEventFile file;
    std::vector<std::string> triggers;  // the conditions' texts, by condition
    FrameOptions frames;
    unsigned channels = kDataChannels;
    LinkOptions link;
    std::int64_t wallOffsetMs = 0;  // wall clock minus the steady clock of the arrivals
    // Find the frames in a replay of the file; without, they are written as seen live.
    bool replay = true;
};

// The JSON text of an event file, its frames found in a replay of the file (a frame that the
// replay does not give, or every frame without input.replay, is written as it was seen live,
// placed in the file, with index 0).
// A file that cannot be read is described without frames in it.
std::string eventReportJson(const EventReportInput& input);
// NAME.json beside NAME.osc, put in place once written. Throws FileError.
void writeEventReport(const EventReportInput& input);

// Writes reports on a thread of its own, in order, so that the replays never hold up the
// capture; failures go to onError (on that thread). The destructor writes what is queued.
// While kMaxQueued reports wait (events faster than their files replay), the next ones are
// written without a replay, so that the queue stays bounded.
class EventReportWriter {
  public:
    explicit EventReportWriter(std::function<void(const std::string&)> onError = {});
    ~EventReportWriter();
    EventReportWriter(const EventReportWriter&) = delete;
    EventReportWriter& operator=(const EventReportWriter&) = delete;

    static constexpr std::size_t kMaxQueued = 16;
    void add(EventReportInput input);
    // Returns once every report queued so far is written.
    void flush();
    std::uint64_t written() const;

  private:
    void run();

    std::function<void(const std::string&)> onError_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<EventReportInput> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    std::uint64_t written_ = 0;
    std::thread thread_;
};

}  // namespace osc
