#include "core/capture/device_recorder.h"

#include <cstdio>
#include <exception>
#include <system_error>

#include "core/files/file_error.h"
#include "core/files/frame_export.h"
#include "core/files/streamed_osc_file.h"

namespace osc {

namespace {

std::string secondsText(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000);
    return text;
}

}  // namespace

std::string recordedEventText(const RecordedEvent& e) {
    std::string out = isoTimeText(e.wallMs) + " " + e.device + " " +
                      std::string(triggerKindName(e.event.kind)) + " '" + e.trigger +
                      "': " + e.event.detail;
    out += e.file.empty() ? " (no event file)" : " -> " + e.file.string();
    return out;
}

std::string recordedEventJson(const RecordedEvent& e) {
    std::string out =
        "{\"time\":" + jsonQuoted(isoTimeText(e.wallMs)) + ",\"device\":" + jsonQuoted(e.device) +
        ",\"kind\":" + jsonQuoted(triggerKindName(e.event.kind)) +
        ",\"trigger\":" + jsonQuoted(e.trigger) + ",\"detail\":" + jsonQuoted(e.event.detail) +
        ",\"file\":" + (e.file.empty() ? "null" : jsonQuoted(e.file.string()));
    if (e.event.frame) {
        out += ",\"channel\":" + std::to_string(e.event.frame->channel) +
               ",\"bytes\":" + jsonQuoted(frameBytesHex(e.event.frame->bytes)) +
               ",\"error\":" + jsonQuoted(frameErrorName(e.event.frame->error));
    }
    return out + "}";
}

// The session's recorder: the current segment, or nothing (counted) while there is none.
class DeviceRecorder::SegmentRecorder : public CaptureRecorder {
  public:
    explicit SegmentRecorder(DeviceRecorder& owner) : owner_(owner) {}
    void append(std::span<const std::uint8_t> datagram, bool foreign) noexcept override {
        if (owner_.segment_) {
            owner_.segment_->append(datagram, foreign);
        } else {
            ++owner_.counts_.notWritten;
        }
    }
    OscLineDrops dropped() const override {
        return owner_.segment_ ? owner_.segment_->dropped() : OscLineDrops{};
    }

  private:
    DeviceRecorder& owner_;
};

DeviceRecorder::DeviceRecorder(DeviceRecorderSettings settings, DeviceLink& link,
                               RecorderClocks clocks, RecorderOutput& output,
                               EventReportWriter* reports)
    : settings_(std::move(settings)),
      link_(link),
      clocks_(std::move(clocks)),
      output_(output),
      reports_(reports),
      session_(identityEngine_, link, clocks_.steadyMs),
      stream_(TriggerMonitor(settings_.triggers, settings_.windows.bitRate), settings_.analysis),
      events_(
          settings_.folder / "events", settings_.windows, stream_.ring(),
          [this](std::int64_t receivedMs) {
              const std::int64_t wall = receivedMs + clocks_.wallMs() - clocks_.steadyMs();
              return fileTimeText(wall, true);
          },
          settings_.timing),
      recorder_(std::make_unique<SegmentRecorder>(*this)) {}

DeviceRecorder::~DeviceRecorder() {
    close();
}

void DeviceRecorder::log(const std::string& text) {
    output_.log(settings_.name + ": " + text);
}

void DeviceRecorder::refreshSenders() {
    try {
        const auto senders = link_.deviceSenders(settings_.address);
        sendersKnown_ = senders.has_value();
        senders_ = senders.value_or(std::vector<PeerAddress>{});
    } catch (const std::exception&) {
        // Not resolvable now: the senders known so far stay.
    }
}

bool DeviceRecorder::owns(const PeerAddress& from) const {
    for (const PeerAddress& s : senders_) {
        if (s == from) {
            return true;
        }
    }
    return false;
}

void DeviceRecorder::start() {
    if (started_) {
        return;
    }
    started_ = true;
    const std::int64_t now = clocks_.steadyMs();
    startedMs_ = now;
    lastSampleMs_ = now;
    nextFolderCheck_ = now;
    session_.setMemoryLimit(std::uint64_t{1} << 30);  // its engine holds identities only
    session_.chooseDevice(settings_.address);
    session_.setRecorder(recorder_.get());
    session_.begin();
    stream_.start(now);
    refreshSenders();
    openSegment();
    ask(now);
}

void DeviceRecorder::ask(std::int64_t now) {
    identityAskedMs_ = now;
    waitingIdentity_ = true;
    try {
        session_.requestIdentity();
        sendFailureTold_ = false;
    } catch (const std::exception& e) {
        if (!sendFailureTold_) {
            log(std::string("cannot send the identity request: ") + e.what());
            sendFailureTold_ = true;
        }
    }
    refreshSenders();
}

void DeviceRecorder::sendStart() {
    waitingIdentity_ = false;
    try {
        session_.sendStart();
    } catch (const std::exception& e) {
        if (!sendFailureTold_) {
            log(std::string("cannot send the start command: ") + e.what());
            sendFailureTold_ = true;
        }
    }
    refreshSenders();
}

void DeviceRecorder::sendStop() {
    if (!started_ || closed_) {
        return;
    }
    try {
        session_.sendStop();
    } catch (const std::exception& e) {
        log(std::string("cannot send the stop command: ") + e.what());
    }
}

void DeviceRecorder::consume(std::span<const std::uint8_t> datagram,
                             const std::optional<PeerAddress>& from) {
    if (!started_ || closed_) {
        return;
    }
    const std::int64_t now = clocks_.steadyMs();
    const Admission admission = session_.admit(from);
    if (admission == Admission::ForeignLeftOut) {
        return;
    }
    ++counts_.datagrams;
    counts_.bytes += datagram.size();
    if (segment_ && clocks_.wallMs() >= segmentEndWall_) {
        // A datagram that arrives after the segment's end goes into the next one.
        closeSegment(false);
        openSegment();
    }
    session_.record(datagram, admission);
    const DatagramKind kind = classifyDatagram(datagram);
    if (kind == DatagramKind::IdentityReply) {
        const DeviceId before = session_.identity();
        session_.decode(datagram, admission);
        const DeviceId after = session_.identity();
        if (!isZero(before) && after != before) {
            log("identity changed from " + deviceIdText(before) + " to " + deviceIdText(after) +
                " (the device restarted?)");
        }
        if (waitingIdentity_) {
            sendStart();
        }
        return;
    }
    if (kind != DatagramKind::Sample) {
        return;
    }
    ++counts_.samples;
    if (silent_) {
        log("streaming again after " + secondsText(now - lastSampleMs_) + " without datagrams");
        silent_ = false;
    } else if (!streaming_) {
        log("streaming, identity " + deviceIdText(session_.identity()));
    }
    streaming_ = true;
    lastSampleMs_ = now;
    if (settings_.triggers.empty()) {
        return;  // recording only: nothing to decode
    }
    stream_.consume(datagram, now);
    events_.datagramAdded();
    takeEvents();
    if (++sinceTrim_ >= 64) {
        sinceTrim_ = 0;
        trimRing();
    }
}

void DeviceRecorder::trimRing() {
    // What a window before a later event may still reach: `pre` (with the flag's margin and a
    // rewind's worth for events decided late) before the newest datagram, and what the open
    // event files may still take.
    const DatagramRing& ring = stream_.ring();
    if (ring.empty()) {
        return;
    }
    const RingEntry newest = ring.newest();
    const Tick slack = 16 * kTicksPerBit + settings_.analysis.rewind;
    std::uint64_t keep = 0;
    if (const std::optional<Tick> pre = settings_.windows.pre.ticks(settings_.windows.bitRate)) {
        keep = ring.firstAtTick(newest.tickBefore - *pre - slack);
    } else {
        keep = std::min(
            ring.firstAtTick(newest.tickBefore - slack),
            ring.firstAtMs(newest.receivedMs -
                           static_cast<std::int64_t>(settings_.windows.pre.amount) - 1000));
    }
    stream_.trimRing(std::min(keep, events_.oldestNeeded()));
}

void DeviceRecorder::takeEvents() {
    for (TriggerEvent& e : stream_.takeEvents()) {
        ++counts_.events;
        RecordedEvent r;
        r.device = settings_.name;
        r.trigger = e.condition < settings_.triggers.size() ? settings_.triggers[e.condition].text
                                                            : std::string();
        r.wallMs = e.decidedMs + clocks_.wallMs() - clocks_.steadyMs();
        r.file = events_.add(e);
        if (r.file.empty()) {
            const std::string error = events_.takeError();
            if (!error.empty()) {
                log("cannot write the event file: " + error);
            }
        }
        r.event = std::move(e);
        output_.event(r);
    }
    takeFinishedFiles();
}

void DeviceRecorder::takeFinishedFiles() {
    for (FinishedEventFile& f : events_.takeFinished()) {
        if (!f.error.empty()) {
            log("event file " + f.path.string() + ": " + f.error);
        }
        EventReportInput input;
        input.device = settings_.name;
        input.identity = session_.identified() ? deviceIdText(session_.identity()) : std::string();
        input.file = std::move(f);
        for (const TriggerCondition& c : settings_.triggers) {
            input.triggers.push_back(c.text);
        }
        input.frames = settings_.analysis.frames;
        input.channels = settings_.analysis.channels;
        input.link = settings_.analysis.link;
        input.wallOffsetMs = clocks_.wallMs() - clocks_.steadyMs();
        if (reports_ != nullptr) {
            reports_->add(std::move(input));
        } else {
            try {
                writeEventReport(input);
            } catch (const FileError& e) {
                log(e.message());
            }
        }
    }
}

void DeviceRecorder::openSegment() {
    const std::int64_t wall = clocks_.wallMs();
    const std::int64_t length = std::max<std::int64_t>(settings_.segmentMs, 1000);
    const std::int64_t index = wall >= 0 ? wall / length : (wall - length + 1) / length;
    segmentEndWall_ = (index + 1) * length;
    std::error_code ec;
    std::filesystem::create_directories(settings_.folder, ec);
    const std::string name = fileTimeText(wall, false);
    std::filesystem::path path = settings_.folder / (name + ".osc");
    for (int n = 2;
         std::filesystem::exists(path, ec) || std::filesystem::exists(path.string() + ".part", ec);
         ++n) {
        path = settings_.folder / (name + "-" + std::to_string(n) + ".osc");
    }
    try {
        segment_ = std::make_unique<StreamedOscFile>(path, false, settings_.timing);
        ++counts_.segments;
    } catch (const FileError& e) {
        segment_.reset();
        retryAt_ = clocks_.steadyMs() + settings_.retryWritingMs;
        if (!writingTrouble_) {
            log(e.message() +
                "; the datagrams are not written until a segment can be made (tried "
                "again every " +
                secondsText(settings_.retryWritingMs) + ")");
            writingTrouble_ = true;
        }
    }
}

void DeviceRecorder::closeSegment(bool lost) {
    if (!segment_) {
        return;
    }
    std::unique_ptr<StreamedOscFile> segment = std::move(segment_);
    const std::filesystem::path writing = segment->writingPath();
    const std::filesystem::path final = segment->finalPath();
    if (lost) {
        segment->finish();
        counts_.notWritten += segment->datagrams() - segment->written();
        segment.reset();
        return;
    }
    const bool complete = segment->finish();
    counts_.notWritten += segment->datagrams() - segment->written();
    if (segment->written() == 0) {
        segment->discard();  // nothing reached it (a full disk): no empty segment left behind
        return;
    }
    if (complete) {
        try {
            segment->commit();
            return;
        } catch (const FileError& e) {
            log(e.message());
        }
    }
    // What reached the file stays: whole lines, put in place as they are.
    segment.reset();
    std::error_code ec;
    if (writing != final) {
        std::filesystem::rename(writing, final, ec);
    }
}

void DeviceRecorder::checkSegment(std::int64_t now) {
    if (segment_ && segment_->failed()) {
        const std::string path = segment_->writingPath().string();
        const std::string error = segment_->error();
        closeSegment(false);
        if (!writingTrouble_) {  // told once a spell, not at every new try
            log("cannot write " + path + ": " + error +
                "; it keeps what was written, and a new segment is tried every " +
                secondsText(settings_.retryWritingMs));
        }
        writingTrouble_ = true;
        retryAt_ = now + settings_.retryWritingMs;
        return;
    }
    if (writingTrouble_ && segment_ && segment_->written() > 0) {
        log("writing again, into " + segment_->writingPath().string());
        writingTrouble_ = false;
    }
    if (!segment_) {
        if (now >= retryAt_) {
            openSegment();
        }
        return;
    }
    if (now >= nextFolderCheck_) {
        nextFolderCheck_ = now + 1000;
        std::error_code ec;
        if (!std::filesystem::exists(segment_->writingPath(), ec)) {
            log(segment_->writingPath().string() +
                " has disappeared (its folder removed?); a new segment begins in " +
                settings_.folder.string());
            closeSegment(true);
            openSegment();
            return;
        }
    }
    if (clocks_.wallMs() >= segmentEndWall_) {
        closeSegment(false);
        openSegment();
    }
}

void DeviceRecorder::poll() {
    if (!started_ || closed_) {
        return;
    }
    const std::int64_t now = clocks_.steadyMs();
    if (waitingIdentity_ && now - identityAskedMs_ >= settings_.identityWaitMs) {
        if (!streaming_ && !silent_) {
            log("no identity reply within " + secondsText(settings_.identityWaitMs) +
                "; starting with " + deviceIdText(session_.identity()));
        }
        sendStart();
    }
    if (now - lastSampleMs_ >= settings_.silenceMs) {
        if (!silent_) {
            silent_ = true;
            ++counts_.gaps;
            log(std::string(streaming_ ? "no datagram for " : "nothing received for ") +
                secondsText(now - lastSampleMs_) + "; asking again every " +
                secondsText(settings_.askEveryMs));
            ask(now);
            nextAskMs_ = now + settings_.askEveryMs;
        } else if (now >= nextAskMs_) {
            ask(now);
            nextAskMs_ = now + settings_.askEveryMs;
        }
    }
    stream_.evaluatePending();
    takeEvents();
    checkSegment(now);
    events_.datagramAdded();
    takeFinishedFiles();
}

void DeviceRecorder::close() {
    if (!started_ || closed_) {
        return;
    }
    stream_.finish();
    takeEvents();
    closed_ = true;
    events_.finishAll();
    takeFinishedFiles();
    closeSegment(false);
    session_.end();
}

DeviceRecorder::Counts DeviceRecorder::counts() const {
    Counts c = counts_;
    if (segment_) {
        c.notWritten += segment_->dropped().total();
    }
    return c;
}

std::optional<std::filesystem::path> DeviceRecorder::currentSegment() const {
    if (!segment_) {
        return std::nullopt;
    }
    return segment_->finalPath();
}

}  // namespace osc
