#include "core/trigger/event_files.h"

#include <algorithm>
#include <system_error>

#include "core/files/streamed_osc_file.h"

namespace osc {

namespace {

// Always in a window: the bit periods before the event's span (a frame's opening flag) and
// after it.
constexpr Tick kBefore = 16 * kTicksPerBit;
constexpr Tick kAfter = 2 * kTicksPerBit;

}  // namespace

// Where a window ends: the datagrams whose time base before them is not past `tick`, and,
// for a span of reception time, also those that arrived by `ms`.
struct EventFiles::Bound {
    Tick tick = 0;
    std::optional<std::int64_t> ms;
};

struct EventFiles::File {
    std::unique_ptr<StreamedOscFile> out;
    FinishedEventFile info;
    std::uint64_t next = 0;  // the sequence of the next datagram to append
    Bound end;
    bool appending = true;  // its window has not passed yet
    bool shiftKnown = false;
    Tick lastTickAfter = 0;
    std::int64_t lastReceivedMs = 0;
};

EventFiles::EventFiles(std::filesystem::path folder, EventWindowSettings settings,
                       const DatagramRing& ring,
                       std::function<std::string(std::int64_t receivedMs)> nameOf,
                       OscLineTiming timing)
    : folder_(std::move(folder)),
      settings_(settings),
      ring_(ring),
      nameOf_(std::move(nameOf)),
      timing_(timing),
      preTicks_(settings.pre.ticks(settings.bitRate)),
      postTicks_(settings.post.ticks(settings.bitRate)) {}

EventFiles::~EventFiles() {
    finishAll();
}

std::string EventFiles::takeError() {
    std::string e;
    e.swap(error_);
    return e;
}

namespace {

// The arrival of the datagram that carries stream tick t (the newest when none has yet).
std::int64_t arrivalOf(const DatagramRing& ring, Tick t) {
    const std::uint64_t s = ring.firstAtTick(t);
    return s < ring.end() ? ring.at(s).receivedMs : ring.newest().receivedMs;
}

}  // namespace

std::uint64_t EventFiles::windowStart(const TriggerEvent& event) const {
    if (preTicks_) {
        return ring_.firstAtTick(event.from - *preTicks_ - kBefore);
    }
    const auto ms = static_cast<std::int64_t>(settings_.pre.amount);
    return std::min(ring_.firstAtTick(event.from - kBefore),
                    ring_.firstAtMs(arrivalOf(ring_, event.from) - ms));
}

EventFiles::Bound EventFiles::windowEnd(const TriggerEvent& event) const {
    Bound b;
    if (postTicks_) {
        b.tick = event.to + *postTicks_ + kAfter;
    } else {
        b.tick = event.to + kAfter;
        b.ms = arrivalOf(ring_, event.to) + static_cast<std::int64_t>(settings_.post.amount);
    }
    return b;
}

bool EventFiles::withinEnd(const RingEntry& entry, const Bound& end) const {
    return entry.tickBefore <= end.tick || (end.ms && entry.receivedMs <= *end.ms);
}

bool EventFiles::pastReach(const File& file, const RingEntry& newest) const {
    if (preTicks_) {
        return newest.tickBefore - *preTicks_ - kBefore > file.lastTickAfter;
    }
    return newest.tickBefore - kBefore > file.lastTickAfter &&
           newest.receivedMs - static_cast<std::int64_t>(settings_.pre.amount) >
               file.lastReceivedMs;
}

void EventFiles::append(File& file, std::uint64_t upTo) {
    if (file.next < ring_.first()) {
        file.info.preComplete = false;  // the ring let go of some of the window meanwhile
        file.next = ring_.first();
    }
    for (; file.next < upTo; ++file.next) {
        const RingEntry e = ring_.at(file.next);
        if (!withinEnd(e, file.end)) {
            file.appending = false;
            return;
        }
        file.out->append(e.bytes);
        if (file.info.datagrams == 0) {
            file.info.firstReceivedMs = e.receivedMs;
        }
        ++file.info.datagrams;
        file.info.lastReceivedMs = e.receivedMs;
        file.lastReceivedMs = e.receivedMs;
        file.lastTickAfter = e.tickAfter;
        if (!file.shiftKnown && e.bytes.size() >= 10) {
            // The replay of the file starts from time base 0 and strobe bit 0: its first pair
            // opens a period there when it would here, or not, as the strobe bits say.
            const std::uint8_t status = e.bytes[8];
            const bool atZero = e.bytes[9] == 0;
            const Tick live = atZero && (status & 0x04) != e.strobeBefore ? kTicksPerBit : 0;
            const Tick replay = atZero && (status & 0x04) != 0 ? kTicksPerBit : 0;
            file.info.replayShift = e.tickBefore + live - replay;
            file.shiftKnown = true;
        }
    }
}

std::filesystem::path EventFiles::add(const TriggerEvent& event) {
    if (ring_.empty()) {
        return {};
    }
    const std::uint64_t start = windowStart(event);
    const Bound end = windowEnd(event);
    for (const auto& f : files_) {
        if (start <= f->next) {
            f->end.tick = std::max(f->end.tick, end.tick);
            if (end.ms) {
                f->end.ms = std::max(f->end.ms.value_or(*end.ms), *end.ms);
            }
            f->info.events.push_back(event);
            f->appending = true;
            append(*f, ring_.end());
            std::filesystem::path path = f->info.path;
            if (f->info.events.size() >= kMaxEventsInFile) {
                // Full: finished now; a later event begins a file of its own.
                finish(*f, true);
                files_.erase(std::find(files_.begin(), files_.end(), f));
            }
            return path;
        }
    }
    auto file = std::make_unique<File>();
    file->info.events.push_back(event);
    file->end = end;
    file->next = start;
    file->info.preComplete = !(start == ring_.first() && ring_.evictedAny());
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    const std::string name = nameOf_(arrivalOf(ring_, event.from));
    std::filesystem::path path = folder_ / (name + ".osc");
    for (int n = 2;
         std::filesystem::exists(path, ec) || std::filesystem::exists(path.string() + ".part", ec);
         ++n) {
        path = folder_ / (name + "-" + std::to_string(n) + ".osc");
    }
    file->info.path = path;
    try {
        file->out = std::make_unique<StreamedOscFile>(path, false, timing_);
    } catch (const FileError& e) {
        error_ = e.message();
        file->info.error = error_;
        file->info.datagrams = 0;
        finished_.push_back(std::move(file->info));
        return {};
    }
    append(*file, ring_.end());
    files_.push_back(std::move(file));
    return path;
}

void EventFiles::datagramAdded() {
    if (files_.empty() || ring_.empty()) {
        return;
    }
    const RingEntry newest = ring_.newest();
    for (std::size_t i = 0; i < files_.size();) {
        File& f = *files_[i];
        if (f.appending) {
            append(f, ring_.end());
        }
        if (f.out->failed() || (!f.appending && pastReach(f, newest))) {
            finish(f, false);
            files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

void EventFiles::finish(File& file, bool stopping) {
    if (stopping && file.appending) {
        file.info.postComplete = false;
    }
    try {
        file.out->commit();
    } catch (const FileError& e) {
        error_ = e.message();
        file.info.error = error_;
    }
    file.info.datagrams = file.out->written();
    file.out.reset();
    finished_.push_back(std::move(file.info));
}

void EventFiles::finishAll() {
    for (auto& f : files_) {
        finish(*f, true);
    }
    files_.clear();
}

std::vector<FinishedEventFile> EventFiles::takeFinished() {
    std::vector<FinishedEventFile> out;
    out.swap(finished_);
    return out;
}

std::uint64_t EventFiles::oldestNeeded() const {
    std::uint64_t oldest = ring_.end();
    for (const auto& f : files_) {
        oldest = std::min(oldest, f->next);
    }
    return oldest;
}

}  // namespace osc
