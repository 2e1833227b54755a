#pragma once
// One .osc file per event: the datagrams of a window before the event and of one after it,
// taken from the ring of datagrams already received and then from those that arrive, written
// as they come (FILE.part, put in place once the window has passed). Windows that overlap go
// into one file with every event in it.
//
// A window is the event's span [from, to] widened by `pre` before and `post` after, each in
// bits of the line (or seconds with a bit rate) or in seconds of reception; it always holds
// the 16 bit periods before `from`, so that a frame's opening flag is in it. The datagrams in
// it are those whose time base span reaches into it (bits) or that arrived within it
// (seconds). A file stays open after its window for `pre` longer, so that the window of a
// later event that reaches back into it joins it; an event decided even later (a no_answer
// found at the next command, long after) gets a file of its own, which may then repeat some
// datagrams of the one before. What the ring no longer holds of a window is not in its file
// (preComplete false); at the stop, a window not yet passed ends there (postComplete false).
// A file takes at most kMaxEventsInFile events (a fault that keeps firing): with the last one it
// is finished at once (postComplete false), and the next event begins a new file.
//
// One thread. Memory: the open files (a few) and their writers' queues.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/files/osc_line_writer.h"
#include "core/trigger/datagram_ring.h"
#include "core/trigger/trigger_condition.h"
#include "core/trigger/trigger_monitor.h"

namespace osc {

class StreamedOscFile;

struct EventWindowSettings {
    TimeSpan pre = TimeSpan::seconds(10);
    TimeSpan post = TimeSpan::seconds(10);
    std::optional<double> bitRate;  // spans in seconds become bits with it
};

// An event file once its window has passed (or the capture stopped).
struct FinishedEventFile {
    std::filesystem::path path;  // where it was put (or would have been, when it failed)
    std::vector<TriggerEvent> events;
    std::uint64_t datagrams = 0;       // lines written
    std::int64_t firstReceivedMs = 0;  // arrival of its first and last datagram
    std::int64_t lastReceivedMs = 0;
    // Stream tick minus this is the tick in the file's replay (time base 0 at its start).
    Tick replayShift = 0;
    bool preComplete = true;
    bool postComplete = true;
    std::string error;  // empty: written and put in place
};

class EventFiles {
  public:
    static constexpr std::size_t kMaxEventsInFile = 1000;

    // Files go into `folder` (made when missing), named by the first event's time as
    // nameOf(receivedMs) gives it, "NAME.osc" (then "NAME-2.osc", ... if taken).
    EventFiles(std::filesystem::path folder, EventWindowSettings settings, const DatagramRing& ring,
               std::function<std::string(std::int64_t receivedMs)> nameOf,
               OscLineTiming timing = {});
    ~EventFiles();
    EventFiles(const EventFiles&) = delete;
    EventFiles& operator=(const EventFiles&) = delete;

    const EventWindowSettings& settings() const { return settings_; }
    void setFolder(std::filesystem::path folder) { folder_ = std::move(folder); }

    // An event just decided (the ring holds the datagrams up to the one that decided it): it
    // joins the open file that its window reaches, or opens a new one with what the ring holds
    // of its window. Returns the file's path (empty when it could not be made: error() says
    // why, once).
    std::filesystem::path add(const TriggerEvent& event);
    // The ring's newest datagram has just joined it: into the open files whose window it is in;
    // files that no event can join any more are finished.
    void datagramAdded();
    // Every open file written as it stands and put in place (the capture stops).
    void finishAll();
    // The files finished since the last call.
    std::vector<FinishedEventFile> takeFinished();

    bool open() const { return !files_.empty(); }
    // The oldest datagram the open files may still need (to join a later event's window
    // reaching back); the ring's end when none is open.
    std::uint64_t oldestNeeded() const;
    // The last failure to make or write a file; empty while there is none.
    const std::string& error() const { return error_; }
    std::string takeError();

  private:
    struct Bound;
    struct File;
    std::uint64_t windowStart(const TriggerEvent& event) const;
    Bound windowEnd(const TriggerEvent& event) const;
    bool withinEnd(const RingEntry& entry, const Bound& end) const;
    bool pastReach(const File& file, const RingEntry& newest) const;
    void append(File& file, std::uint64_t upTo);
    void finish(File& file, bool stopping);

    std::filesystem::path folder_;
    EventWindowSettings settings_;
    const DatagramRing& ring_;
    std::function<std::string(std::int64_t)> nameOf_;
    OscLineTiming timing_;
    std::optional<Tick> preTicks_, postTicks_;  // nothing: the span is reception time
    std::vector<std::unique_ptr<File>> files_;
    std::vector<FinishedEventFile> finished_;
    std::string error_;
};

}  // namespace osc
