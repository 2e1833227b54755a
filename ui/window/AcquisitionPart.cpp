#include "ui/window/AcquisitionPart.h"

#include <QCoreApplication>
#include <QScopeGuard>

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
#include "ui/plot/PlotState.h"
#include "ui/widgets/SteadyClock.h"

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

AcquisitionPart::AcquisitionPart(osc::CaptureEngine& engine, PlotState& plot, AcquisitionView& view,
                                 MessageSink& messages, Collaborators collaborators)
    : engine_(engine),
      plot_(plot),
      view_(view),
      messages_(messages),
      collaborators_(completed(std::move(collaborators))),
      session_(engine_, link_, collaborators_.clockMs) {
    if (collaborators_.traceLogBytes) {
        session_.setHeldElsewhere(collaborators_.traceLogBytes);
    }
}

AcquisitionPart::Collaborators AcquisitionPart::completed(Collaborators c) {
    if (!c.postToUiThread) {
        c.postToUiThread = [this](std::function<void()> f) {
            QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
        };
    }
    if (!c.runAfterPendingEvents) {
        c.runAfterPendingEvents = c.postToUiThread;
    }
    if (!c.clockMs) {
        c.clockMs = steadyClockMs;
    }
    if (!c.processPendingEvents) {
        c.processPendingEvents = [] { QCoreApplication::processEvents(); };
    }
    return c;
}

AcquisitionPart::~AcquisitionPart() {
    releaseEndpoint();
}

void AcquisitionPart::setEndpoint(std::unique_ptr<osc::net::DatagramEndpoint> endpoint) {
    endpoint_ = std::move(endpoint);
    link_.setEndpoint(endpoint_.get());
    // Runs on the receiving thread: only posts the drain to the user-interface thread.
    endpoint_->setReadyCallback(
        [this] { collaborators_.postToUiThread([this] { drainReceived(); }); });
}

void AcquisitionPart::releaseEndpoint() {
    link_.setEndpoint(nullptr);
    endpoint_.reset();
}

void AcquisitionPart::drainReceived() {
    std::vector<std::uint8_t> datagram;
    std::optional<osc::PeerAddress> from;
    std::optional<std::int64_t> sliceStart;
    int taken = 0;
    while (!closing_ && endpoint_->takeReceivedFrom(datagram, from)) {
        std::optional<osc::DatagramKind> decoded;
        guarded(messages_, [&] { decoded = take(datagram, from); });
        // Pending events run between sample datagrams as soon as a slice of time has passed
        // since they last ran, not after every datagram: a stream of thousands a second then
        // costs a few event passes a slice, and a click or a key still runs within a few
        // milliseconds.
        if (decoded == osc::DatagramKind::Sample && sliceOver()) {
            collaborators_.runAfterPendingEvents([this] { drainReceived(); });
            return;
        }
        // However many wait of whatever kind (a flood left out, say), the user's actions, the
        // timers and the repaints run between slices: the rest is taken by a drain posted anew.
        if (++taken % kDrainCheckEvery == 0) {
            const std::int64_t now = collaborators_.clockMs();
            if (!sliceStart) {
                sliceStart = now;
            } else if (now - *sliceStart >= kDrainSliceMs) {
                collaborators_.postToUiThread([this] { drainReceived(); });
                return;
            }
        }
    }
}

bool AcquisitionPart::sliceOver() {
    const std::int64_t now = collaborators_.clockMs();
    if (lastEventsMs_ && now - *lastEventsMs_ < kEventSliceMs) {
        return false;
    }
    lastEventsMs_ = now;
    return true;
}

std::uint64_t AcquisitionPart::receiverDrops() const {
    return link_.receiverDrops() + (journal_ ? journal_->dropped().total() : 0);
}

std::optional<osc::Tick> AcquisitionPart::liveEnd() const {
    if (session_.capturing()) {
        return engine_.state.FTimeBase;  // the lines go on at their levels up to now
    }
    return std::nullopt;
}

QString AcquisitionPart::deviceName() const {
    const QString address = deviceAddress();
    if (address.isEmpty()) {
        return {};
    }
    return view_.selectedDeviceEntry().value_or(address);
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
        setNotShown(0);  // the network is drawn again
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
    emit tracesChanged(false);
    emit started(false);
    emit captureShown(deviceName());
    setStartWindow(view_.windowBits());
    plot_.setMarkerX(0);
    session_.sendStart();
}

void AcquisitionPart::setStartWindow(int bits) {
    osc::PlotWindow window = plot_.window();
    // A negative width fails after the minimum has been set: that much stays.
    const auto announce = qScopeGuard([&] {
        plot_.setWindow({window.minimum(), window.maximum()}, osc::WindowChange::CaptureStart);
    });
    osc::startWindow(window, bits);
}

void AcquisitionPart::stop() {
    session_.sendStop();
    finishTraces();
}

void AcquisitionPart::replayFile(const QString& name) {
    replayFile_ = name;
    const auto forget = qScopeGuard([this] { replayFile_.clear(); });
    replayOscFile(name, *this);
}

void AcquisitionPart::replayText(const std::string& text) {
    replayFile_.clear();
    replayOscText(text, *this);
}

bool AcquisitionPart::startReplay() {
    beginReplay();
    return true;
}

bool AcquisitionPart::replayDatagram(std::span<const std::uint8_t> datagram) {
    decode(datagram.data(), static_cast<std::int32_t>(datagram.size()));
    if (osc::classifyDatagram(datagram) == osc::DatagramKind::Sample && sliceOver()) {
        collaborators_.processPendingEvents();
    }
    // The window closing, or a capture that took the plot over meanwhile, ends the replay.
    return !closing_ && replaying_;
}

void AcquisitionPart::stopReplay() {
    if (!closing_) {
        endReplay();
    }
}

void AcquisitionPart::beginReplay() {
    if (session_.capturing()) {
        stop();  // the running capture ends as its stop would; its journal is kept
    }
    replaying_ = true;
    showingFile_ = true;
    shownFile_ = replayFile_;
    replayKeepsId_ = engine_.state.FDeviceId;
    setNotShown(0);
    // The decoder as a program just started has it: the same file, the same traces.
    engine_.state = osc::DecoderState{};
    engine_.restartTraces();
    emit tracesChanged(false);
    emit started(true);
    emit fileShown(shownFile_);
    setStartWindow(view_.windowBits());
    plot_.setMarkerX(0);
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

void AcquisitionPart::setNotShown(std::uint64_t count) {
    notShown_ = count;
    emit notShownChanged(count);
}

void AcquisitionPart::finishTraces() {
    const Completion completion(view_);
    // The completion derives its points instead of storing them, so it costs the same for a
    // second and for an hour of capture; the bar takes each channel's steps at once and is
    // drawn when 50 ms have passed since it was last drawn. The session closes the traces
    // first, and ends the journal after.
    std::int64_t lastDrawn = collaborators_.clockMs();
    std::uint64_t pendingSteps = 0;
    session_.end([&](std::uint64_t steps) {
        pendingSteps += steps;
        const std::int64_t now = collaborators_.clockMs();
        if (now - lastDrawn >= 50) {
            view_.setProgress(progressAfterSteps(view_.progress(), pendingSteps), true);
            pendingSteps = 0;
            lastDrawn = now;
        }
    });
    stepProgress(pendingSteps);
    emit tracesChanged(false);
    tellKeepFailure();
    emit stopped();
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
    take(datagram, from);
}

std::optional<osc::DatagramKind> AcquisitionPart::take(
    std::span<const std::uint8_t> datagram, const std::optional<osc::PeerAddress>& from) {
    const osc::Admission admission = session_.admit(from);
    if (admission == osc::Admission::ForeignLeftOut) {
        return std::nullopt;  // counted by the session, and nothing else
    }
    const osc::DatagramKind kind = osc::classifyDatagram(datagram);
    if (replaying_) {
        // Nothing from the network goes into a replay; the device's identity is kept for after.
        if (kind == osc::DatagramKind::IdentityReply && admission == osc::Admission::Device) {
            replayKeepsId_ = osc::identityOf(datagram);
        }
        if (kind != osc::DatagramKind::Sample) {
            return std::nullopt;
        }
    }
    if (showingFile_ && kind == osc::DatagramKind::Sample) {
        // Off the plot while it shows a file. Another sender's datagram was counted as foreign
        // by the session already; only the device's are counted here.
        if (admission == osc::Admission::Device) {
            setNotShown(notShown_ + 1);
        }
        return std::nullopt;
    }
    const auto length =
        static_cast<std::int32_t>(std::min<std::size_t>(datagram.size(), INT32_MAX));
    std::optional<osc::TraceLogStore::JournalCopy> journalCopy;
    if (session_.capturing() && journal_) {
        session_.record(datagram, admission);
        if (const std::optional<std::uint64_t> at = journal_->lastLineOffset()) {
            journalCopy = osc::TraceLogStore::JournalCopy{journal_->captureId(), *at};
        }
    }
    collaborators_.traceDatagram(datagram.data(), length, journalCopy);
    const osc::DatagramKind decoded =
        decodeAs(datagram.subspan(0, static_cast<std::size_t>(length)), admission);
    if (session_.capturing()) {
        checkCeiling();
    }
    return decoded;
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
    // Once the datagram's handler has ended: a message box runs the event loop, where the
    // datagrams received meanwhile are handled, and none runs inside another one's handler.
    collaborators_.postToUiThread([this, text] { messages_.showError(text); });
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

osc::DatagramKind AcquisitionPart::decodeAs(std::span<const std::uint8_t> bytes,
                                            osc::Admission admission) {
    const osc::PlotWindow before = plot_.window();
    const osc::DatagramKind kind = session_.decode(bytes, admission);
    emit datagramDecoded(bytes, kind);
    if (kind == osc::DatagramKind::Sample) {
        plot_.decoderRan(before);
        emit tracesChanged(true);
    }
    return kind;
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
