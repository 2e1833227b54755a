#include "ui/window/AcquisitionPart.h"

#include <algorithm>
#include <array>
#include <climits>
#include <ctime>
#include <utility>
#include <vector>

#include "core/capture/capture_stats.h"
#include "core/capture/memory_ceiling.h"
#include "core/directory/config_line.h"
#include "core/protocol/datagram.h"

namespace ui {

namespace {

const QString kPortFailure = QStringLiteral(
    "Не удалось открыть UDP-порт для обмена. Возможно запущена программа настроки Morvel-IP");

// The completion's wait cursor and progress panel for the time of a scope, also when the work
// ends with an error.
class Completion {
  public:
    explicit Completion(AcquisitionView& view) : view_(view) { view_.beginCompletion(); }
    ~Completion() { view_.endCompletion(); }
    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;

  private:
    AcquisitionView& view_;
};

}  // namespace

AcquisitionPart::AcquisitionPart(osc::CaptureEngine& engine, AcquisitionView& view,
                                 MessageSink& messages, Hooks hooks)
    : engine_(engine),
      view_(view),
      messages_(messages),
      hooks_(std::move(hooks)),
      session_(engine_, link_, hooks_.clockMs) {
    if (hooks_.traceLogBytes) {
        session_.setHeldElsewhere(hooks_.traceLogBytes);
    }
}

AcquisitionPart::~AcquisitionPart() {
    releaseEndpoint();
}

void AcquisitionPart::setEndpoint(std::unique_ptr<osc::net::DatagramEndpoint> endpoint) {
    endpoint_ = std::move(endpoint);
    link_.setEndpoint(endpoint_.get());
    // Runs on the receiving thread: only posts the drain to the user-interface thread.
    endpoint_->setReadyCallback([this] { hooks_.postToUiThread([this] { drainReceived(); }); });
}

void AcquisitionPart::releaseEndpoint() {
    link_.setEndpoint(nullptr);
    endpoint_.reset();
}

void AcquisitionPart::drainReceived() {
    // A handler of a received datagram is running further up (its decoder is processing
    // pending events): the datagrams wait for it to return, as they would at the socket.
    if (inDatagramHandler_) {
        return;
    }
    std::vector<std::uint8_t> datagram;
    std::optional<osc::PeerAddress> from;
    std::optional<std::int64_t> sliceStart;
    int taken = 0;
    while (!hooks_.closing() && endpoint_->takeReceivedFrom(datagram, from)) {
        inDatagramHandler_ = true;
        guarded(messages_, [&] { receive(datagram, from); });
        inDatagramHandler_ = false;
        // However many wait, the user's actions, the timers and the repaints run between
        // slices: the rest is taken by a drain posted anew.
        if (++taken % kDrainCheckEvery == 0) {
            const std::int64_t now = hooks_.clockMs();
            if (!sliceStart) {
                sliceStart = now;
            } else if (now - *sliceStart >= kDrainSliceMs) {
                hooks_.postToUiThread([this] { drainReceived(); });
                return;
            }
        }
    }
}

std::uint64_t AcquisitionPart::receiverDrops() const {
    return link_.receiverDrops() + (journal_ ? journal_->dropped().total() : 0);
}

bool AcquisitionPart::activateEndpoint() {
    endpoint_->setBindAddress(listenAddress_);  // a new one: opens anew on it below
    if (endpoint_->active()) {
        return true;
    }
    try {
        endpoint_->activate();
    } catch (const std::exception& e) {
        messages_.showError(kPortFailure, QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void AcquisitionPart::start() {
    if (!activateEndpoint()) {
        return;
    }
    if (replaying_) {
        endReplayState();
    }
    showingFile_ = false;
    if (notShown_ > 0) {
        notShown_ = 0;  // the network is drawn again
        if (hooks_.notShown) {
            hooks_.notShown(0);
        }
    }
    kept_.reset();
    session_.resetTimeBase();
    static constexpr std::array<std::uint8_t, 6> kNoIdentity{};
    if (osc::MemDiffers(engine_.state.FDeviceId.data(), kNoIdentity.data(), 6) == 0) {
        selectDevice();
    }
    // A second start during a capture: the session ends the first one's journal before it
    // begins the next, and the first is kept, not replaced.
    startJournal();
    if (hooks_.started) {
        hooks_.started();
    }
    view_.plotChanged();
    hooks_.clearTrace();
    osc::startWindow(engine_.window, view_.windowBits());
    view_.plotChanged();
    hooks_.resetMarker();
    session_.sendStart();
}

void AcquisitionPart::stop() {
    session_.sendStop();
    finishTraces();
}

void AcquisitionPart::beginReplay() {
    if (session_.capturing()) {
        stop();  // the running capture ends as its stop would; its journal is kept
    }
    replaying_ = true;
    showingFile_ = true;
    notShown_ = 0;
    replayKeepsId_ = engine_.state.FDeviceId;
    if (hooks_.notShown) {
        hooks_.notShown(0);
    }
    // The decoder as a program just started has it: the same file, the same traces.
    engine_.state = osc::DecoderState{};
    engine_.restartTraces();
    if (hooks_.started) {
        hooks_.started();
    }
    hooks_.clearTrace();
    osc::startWindow(engine_.window, view_.windowBits());
    view_.plotChanged();
    hooks_.resetMarker();
}

void AcquisitionPart::endReplay() {
    if (!replaying_) {
        return;  // a capture started meanwhile took the plot over
    }
    endReplayState();
    finishTraces();
}

void AcquisitionPart::endReplayState() {
    replaying_ = false;
    engine_.state.FDeviceId = replayKeepsId_;
}

void AcquisitionPart::finishTraces() {
    const Completion completion(view_);
    // The completion derives its points instead of storing them, so it costs the same for a
    // second and for an hour of capture; the bar takes each channel's steps at once and is
    // drawn when 50 ms have passed since it was last drawn. The session closes the traces
    // first, and ends the journal after.
    std::int64_t lastDrawn = hooks_.clockMs();
    std::uint64_t pendingSteps = 0;
    session_.end([&](std::uint64_t steps) {
        pendingSteps += steps;
        const std::int64_t now = hooks_.clockMs();
        if (now - lastDrawn >= 50) {
            view_.setProgress(progressAfterSteps(view_.progress(), pendingSteps), true);
            pendingSteps = 0;
            lastDrawn = now;
        }
    });
    stepProgress(pendingSteps);
    view_.plotChanged();
    tellKeepFailure();
    if (hooks_.stopped) {
        hooks_.stopped();
    }
}

void AcquisitionPart::selectDevice() {
    if (!activateEndpoint()) {
        return;
    }
    stop();
    session_.forgetDevice();  // FDeviceId zero, FDeviceAddress empty
    replayKeepsId_ = {};
    const std::optional<QString> entry = view_.selectedDeviceEntry();
    if (!entry) {
        return;
    }
    session_.chooseDevice(osc::EntryAddress(entry->toStdString()));
    session_.requestIdentity();
}

void AcquisitionPart::refreshStatus() {
    static constexpr osc::DeviceId kNoIdentity{};
    const osc::DeviceId& id = engine_.state.FDeviceId;
    QString text = QStringLiteral("???");
    if (osc::MemDiffers(id.data(), kNoIdentity.data(), 6) != 0) {
        text = QStringLiteral("IP=") + deviceAddress() + QStringLiteral(" MAC=") +
               QString::fromStdString(osc::deviceIdText(id));
    }
    if (view_.statusText() != text) {
        view_.setStatusText(text);
    }
    checkJournal();
}

void AcquisitionPart::receive(std::span<const std::uint8_t> datagram,
                              const std::optional<osc::PeerAddress>& from) {
    const osc::Admission admission = session_.admit(from);
    if (admission == osc::Admission::ForeignLeftOut) {
        return;  // counted by the session, and nothing else
    }
    const osc::DatagramKind kind = osc::classifyDatagram(datagram);
    if (replaying_) {
        // Nothing from the network goes into a replay; the device's identity is kept for after.
        if (kind == osc::DatagramKind::IdentityReply && admission == osc::Admission::Device) {
            replayKeepsId_ = osc::identityOf(datagram);
        }
        if (kind != osc::DatagramKind::Sample) {
            return;
        }
    }
    if (showingFile_ && kind == osc::DatagramKind::Sample) {
        // Off the plot while it shows a file. Another sender's datagram was counted as foreign
        // by the session already; only the device's are counted here.
        if (admission == osc::Admission::Device) {
            ++notShown_;
            if (hooks_.notShown) {
                hooks_.notShown(notShown_);
            }
        }
        return;
    }
    const auto length =
        static_cast<std::int32_t>(std::min<std::size_t>(datagram.size(), INT32_MAX));
    journalCopy_.reset();
    if (session_.capturing() && journal_) {
        session_.record(datagram, admission);
        if (const std::optional<std::uint64_t> at = journal_->lastLineOffset()) {
            journalCopy_ = osc::TraceLogStore::JournalCopy{journal_->captureId(), *at};
        }
    }
    hooks_.traceDatagram(datagram.data(), length);
    journalCopy_.reset();
    decodeAs(datagram.subspan(0, static_cast<std::size_t>(length)), admission);
    if (session_.capturing()) {
        checkCeiling();
    }
}

void AcquisitionPart::JournalRecorder::begin() noexcept {
    if (journal_) {
        journal_->start();
    }
}

void AcquisitionPart::JournalRecorder::append(std::span<const std::uint8_t> datagram,
                                              bool foreign) noexcept {
    if (journal_) {
        journal_->append(datagram, foreign);
    }
}

void AcquisitionPart::JournalRecorder::end() noexcept {
    if (journal_) {
        journal_->stop();
        if (kept_) {
            kept_();
        }
    }
}

osc::OscLineDrops AcquisitionPart::JournalRecorder::dropped() const {
    return journal_ ? journal_->dropped() : osc::OscLineDrops{};
}

void AcquisitionPart::keepCapture() noexcept {
    kept_.reset();
    if (!recent_ || !journal_ || journal_->failed() || journal_->stoppedProgress().datagrams == 0) {
        return;
    }
    try {
        const osc::OscLineProgress held = journal_->stoppedProgress();
        osc::KeptCapture capture;
        capture.startedAt = journal_->startedAt();
        capture.endedAt = static_cast<std::int64_t>(std::time(nullptr));
        capture.datagrams = held.datagrams;
        capture.bytes = held.bytes;
        capture.device = session_.address();
        if (session_.identified()) {
            capture.device +=
                (capture.device.empty() ? "" : " ") + osc::deviceIdText(session_.identity());
        }
        capture.path = recent_->newPath(capture.startedAt);
        journal_->keepAs(capture.path);
        recent_->add(capture);
        kept_ = std::move(capture);
    } catch (const std::exception& e) {
        keepFailure_ = QString::fromUtf8(e.what());
    }
}

void AcquisitionPart::tellKeepFailure() {
    if (!keepFailure_.isEmpty()) {
        messages_.showError(
            QStringLiteral("Не удалось сохранить захват в списке последних захватов"),
            std::exchange(keepFailure_, QString()));
    }
}

std::optional<osc::KeptCapture> AcquisitionPart::captureOnScreen() const {
    if (showingFile_ || !journal_) {
        return std::nullopt;
    }
    if (session_.capturing()) {
        const osc::OscLineProgress written = journal_->written();
        osc::KeptCapture running;
        running.path = journal_->path();
        running.startedAt = journal_->startedAt();
        running.datagrams = written.datagrams;
        running.bytes = written.bytes;
        return running;
    }
    return kept_;
}

void AcquisitionPart::setJournalFolder(std::filesystem::path folder) {
    if (folder != journalFolder_) {
        journal_.reset();  // the next start makes the journal in the new folder
    }
    journalFolder_ = std::move(folder);
}

void AcquisitionPart::startJournal() {
    if (!journalFolder_.empty() && !journal_) {
        journal_ = std::make_unique<osc::CaptureJournal>(journalFolder_);
    }
    session_.setRecorder(journalFolder_.empty() ? nullptr : &recorder_);
    session_.begin();   // the traces restarted, the ceiling set, the journal started
    tellKeepFailure();  // a capture that this start ended could not be kept
    if (journal_) {
        checkJournal();  // a journal that cannot be made is told at once
    }
}

void AcquisitionPart::checkCeiling() {
    // True once per capture, also when the stop fails to reach the device.
    if (!session_.checkCeiling()) {
        return;
    }
    const std::uint64_t held = session_.heldBytes();
    stop();
    QString text = QStringLiteral("Захват остановлен: память графика (%1) подошла к пределу %2.")
                       .arg(QString::fromStdString(osc::byteCountText(held)),
                            QString::fromStdString(osc::byteCountText(session_.memoryLimit())));
    // Only a journal that holds them all may be named as their keeper.
    if (journal_ && !journal_->failed() && journal_->dropped().total() == 0) {
        text += QStringLiteral(" Все принятые посылки сохранены в журнале.");
    }
    messages_.showError(text);
}

void AcquisitionPart::checkJournal() {
    if (journal_ && journal_->takeFailureNotice()) {
        messages_.showError(
            QStringLiteral("Не удалось записать журнал захвата: %1. Захват продолжается без "
                           "журнала.")
                .arg(QString::fromStdString(journal_->error())));
    }
}

void AcquisitionPart::decode(const std::uint8_t* data, std::int32_t length) {
    const std::size_t n = data && length > 0 ? static_cast<std::size_t>(length) : 0;
    decodeAs(std::span<const std::uint8_t>(data, n), osc::Admission::Device);
}

void AcquisitionPart::decodeAs(std::span<const std::uint8_t> bytes, osc::Admission admission) {
    const osc::DatagramKind kind = session_.decode(bytes, admission);
    if (hooks_.decoded) {
        hooks_.decoded(bytes, kind);
    }
    if (kind == osc::DatagramKind::Sample) {
        view_.samplesDecoded();
        view_.syncScrollBar();
        // Pending events run between datagrams as soon as a slice of time has passed since they
        // last ran here, not after every datagram: a stream of thousands a second then costs a
        // few event passes a slice, and a click or a key still runs within a few milliseconds.
        const std::int64_t now = hooks_.clockMs();
        if (!lastEventsMs_ || now - *lastEventsMs_ >= kEventSliceMs) {
            lastEventsMs_ = now;
            view_.processPendingEvents();
        }
    }
}

int AcquisitionPart::progressAfterSteps(const AcquisitionView::Progress& bar, std::uint64_t steps) {
    const long long min = bar.minimum;
    const long long max = bar.maximum;
    constexpr long long kStep = 10;
    long long pos = bar.value;
    const auto step = [&] {
        pos += kStep;
        if (pos > max && max > min) {
            pos = min + (pos - min) % (max - min);
        }
        pos = std::clamp(pos, min, max);
    };
    const long long range = max - min;
    if (range > kStep) {
        // From an offset o in 1..range a step goes to o + 10, or past the end to o + 10 -
        // range: o -> (o + 9) mod range + 1, so n steps give (o - 1 + 10 n) mod range + 1.
        for (; steps > 0 && pos - min < 1; --steps) {
            step();  // at most twice: from below the range into it
        }
        const long long o = pos - min;
        if (steps > 0) {
            const auto r = static_cast<unsigned long long>(range);
            const auto turn = static_cast<long long>((steps % r) * kStep % r);
            pos = min + (o - 1 + turn) % range + 1;
            steps = 0;
        }
    } else if (steps > 27720 + 11) {
        // At most 11 positions: periodic after 11 steps, with a period that divides 27720.
        steps = 11 + (steps - 11) % 27720;
    }
    for (; steps > 0; --steps) {
        step();
    }
    return static_cast<int>(pos);
}

void AcquisitionPart::stepProgress(std::uint64_t steps) {
    view_.setProgress(progressAfterSteps(view_.progress(), steps), false);
}

}  // namespace ui
