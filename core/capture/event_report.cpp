#include "core/capture/event_report.h"

#include <cstdio>
#include <exception>
#include <optional>

#include "core/capture/capture_engine.h"
#include "core/files/file_error.h"
#include "core/files/link_export.h"
#include "core/files/osc_file.h"

namespace osc {

namespace {

// Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
void civilFromDays(std::int64_t z, int& year, unsigned& month, unsigned& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

struct Civil {
    int year;
    unsigned month, day, hour, minute, second, milli;
};

Civil civilOf(std::int64_t wallMs) {
    std::int64_t days = wallMs / 86400000;
    std::int64_t rest = wallMs % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    Civil c{};
    civilFromDays(days, c.year, c.month, c.day);
    c.hour = static_cast<unsigned>(rest / 3600000);
    c.minute = static_cast<unsigned>(rest / 60000 % 60);
    c.second = static_cast<unsigned>(rest / 1000 % 60);
    c.milli = static_cast<unsigned>(rest % 1000);
    return c;
}

std::string withExtension(const std::filesystem::path& osc, const char* extension) {
    std::filesystem::path p = osc;
    p.replace_extension(extension);
    return p.string();
}

}  // namespace

std::string isoTimeText(std::int64_t wallMs) {
    const Civil c = civilOf(wallMs);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u.%03uZ", c.year, c.month, c.day,
                  c.hour, c.minute, c.second, c.milli);
    return text;
}

std::string fileTimeText(std::int64_t wallMs, bool milliseconds) {
    const Civil c = civilOf(wallMs);
    char text[40];
    if (milliseconds) {
        std::snprintf(text, sizeof text, "%04d%02u%02uT%02u%02u%02u.%03uZ", c.year, c.month, c.day,
                      c.hour, c.minute, c.second, c.milli);
    } else {
        std::snprintf(text, sizeof text, "%04d%02u%02uT%02u%02u%02uZ", c.year, c.month, c.day,
                      c.hour, c.minute, c.second);
    }
    return text;
}

std::string jsonQuoted(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

namespace {

// The frame of a live event in the replayed file: same channel, same bytes, starting where the
// shift puts it (a bit period either way allowed for).
std::optional<FrameRecord> frameInReplay(const FrameRecords& records, const CaptureFrames& frames,
                                         const Frame& live, Tick shift) {
    const FrameSequence& list = frames.frames(live.channel);
    const Tick start = live.start - shift;
    std::size_t lo = 0;
    std::size_t hi = list.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (list[mid].start < start - kTicksPerBit) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    for (std::size_t i = lo; i < list.size() && list[i].start <= start + kTicksPerBit; ++i) {
        if (list[i].bytes == live.bytes && list[i].error == live.error) {
            const std::uint64_t number = records.numberOf({live.channel, i});
            if (number != 0) {
                return records.at(number - 1);
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::string eventReportJson(const EventReportInput& in) {
    CaptureEngine engine;
    engine.frames.setEnabled(true);
    engine.frames.setOptions(in.frames, in.channels);
    engine.link.setOptions(in.link);
    bool replayed = false;
    bool needed = false;
    for (const TriggerEvent& e : in.file.events) {
        needed = needed || e.frame.has_value();
    }
    if (needed && in.replay && in.file.error.empty()) {
        try {
            engine.replayOscFile(in.file.path);
            replayed = true;
        } catch (const std::exception&) {
            replayed = false;  // described without the replay's frames
        }
    }
    std::optional<FrameRecords> records;
    if (replayed) {
        records.emplace(engine.frames, engine.link);
    }
    const auto wall = [&](std::int64_t steadyMs) {
        return isoTimeText(steadyMs + in.wallOffsetMs);
    };
    const auto frameJson = [&](const TriggerEvent& e) {
        if (!e.frame) {
            return std::string("null");
        }
        std::string out = "{";
        std::optional<FrameRecord> found;
        if (records) {
            found = frameInReplay(*records, engine.frames, *e.frame, in.file.replayShift);
        }
        if (found) {
            appendLinkedFrameJson(out, *found);
            return out.substr(1);
        }
        TriggerEvent placed = e;
        placed.frame->start -= in.file.replayShift;
        placed.frame->end -= in.file.replayShift;
        FrameRecord r = placed.record();
        r.index = 0;
        r.answerTo = 0;
        appendLinkedFrameJson(out, r);
        return out.substr(1);
    };
    const auto triggerText = [&](const TriggerEvent& e) {
        return e.condition < in.triggers.size() ? in.triggers[e.condition] : std::string();
    };
    const auto eventMembers = [&](const TriggerEvent& e) {
        return "\"trigger\":" + jsonQuoted(triggerText(e)) +
               ",\"kind\":" + jsonQuoted(triggerKindName(e.kind)) +
               ",\"at\":" + jsonQuoted(wall(e.decidedMs)) + ",\"detail\":" + jsonQuoted(e.detail) +
               ",\"frame\":" + frameJson(e);
    };
    const FinishedEventFile& f = in.file;
    std::string out = "{\"device\":" + jsonQuoted(in.device) +
                      ",\"identity\":" + (in.identity.empty() ? "null" : jsonQuoted(in.identity)) +
                      ",\"file\":" + jsonQuoted(f.path.filename().string()) +
                      ",\"started_at\":" + jsonQuoted(wall(f.firstReceivedMs)) +
                      ",\"ended_at\":" + jsonQuoted(wall(f.lastReceivedMs)) +
                      ",\"datagrams\":" + std::to_string(f.datagrams) +
                      ",\"pre_complete\":" + (f.preComplete ? "true" : "false") +
                      ",\"post_complete\":" + (f.postComplete ? "true" : "false");
    if (!f.error.empty()) {
        out += ",\"error\":" + jsonQuoted(f.error);
    }
    if (!f.events.empty()) {
        out += "," + eventMembers(f.events.front());
    }
    out += ",\"events\":[";
    for (std::size_t i = 0; i < f.events.size(); ++i) {
        out += (i == 0 ? "\n{" : ",\n{") + eventMembers(f.events[i]) + "}";
    }
    out += "]}\n";
    return out;
}

void writeEventReport(const EventReportInput& input) {
    writeFileAtomically(withExtension(input.file.path, ".json"), eventReportJson(input));
}

EventReportWriter::EventReportWriter(std::function<void(const std::string&)> onError)
    : onError_(std::move(onError)), thread_([this] { run(); }) {}

EventReportWriter::~EventReportWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void EventReportWriter::add(EventReportInput input) {
    {
        std::lock_guard lock(mutex_);
        input.replay = input.replay && queue_.size() < kMaxQueued;
        queue_.push_back(std::move(input));
    }
    wake_.notify_all();
}

void EventReportWriter::flush() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

std::uint64_t EventReportWriter::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

void EventReportWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // stopping, and everything written
        }
        EventReportInput input = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        std::string error;
        try {
            writeEventReport(input);
        } catch (const FileError& e) {
            error = e.message();
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (!error.empty() && onError_) {
            onError_(error);
        }
        lock.lock();
        busy_ = false;
        ++written_;
        done_.notify_all();
    }
}

}  // namespace osc
