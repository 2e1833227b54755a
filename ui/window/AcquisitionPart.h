#pragma once
// Acquisition control of the main window: the endpoint IdUDPServer1, the device selection,
// start and stop of a capture, the hand-over of received datagrams and their decoding, the
// replay of oscillogram files and journals through the same decoder, the status panel and the
// progress panel of the completion.
//
// Nesting, as the handlers run it: start runs the device selection when the identity is
// unknown, and the selection runs stop; a failing send ends every handler it runs in. Received
// datagrams are handled one at a time in arrival order, in time-boxed batches: after a decoded
// sample datagram that ends a slice of kEventSliceMs, and after kDrainSliceMs of datagrams of
// any kind (looked at every kDrainCheckEvery), the drain goes on in a queued call, so that the
// user's input, timers and paints run between two datagrams however many wait; nothing in a
// datagram's handler runs the event loop, so no handler runs inside another. A replay runs as
// one handler (the load action from its dialog to the stop) and lets pending events run between
// its datagrams at the same pace.
//
// A replay of a file is not a capture: it opens no endpoint, sends nothing to the device,
// journals nothing, and starts from the decoder state of a program just started (last strobe
// and status 0), so that a file gives the same traces at every load and in the command-line
// tool. From its start until the next capture the plot shows the file alone: sample datagrams
// that arrive from the network meanwhile are neither journaled, traced nor decoded. While the
// replay runs no datagram from the network reaches it at all: an identity reply of the device
// is only remembered, and the chosen device's identity is given back at the replay's end; after
// it, identity replies reach the decoder again. A start (the user's F5) during a replay ends the
// replay: the rest of the file is not decoded and its stop does not run.
//
// Each datagram left out is counted once: one of another sender than the chosen device by the
// session, as foreign ("Чужие"), whether it is left out or taken because any sender is
// accepted; one of the device (or of any sender while no device is chosen) that the file on
// screen keeps off the plot as not shown ("Не показаны", notShownChanged).
//
// With a journal folder set, every received datagram of a capture (between start and stop) goes
// to the capture journal before it is decoded, so that a crash loses at most the last second;
// and a memory ceiling stops the capture cleanly before the traces and the trace log would
// take more than the system can give. The session starts and stops the journal (through
// JournalRecorder); once it has stopped, the journal is kept among the recent captures when
// they are set, so that the next start begins a new one instead of replacing it.
//
// The capture itself is an osc::CaptureSession over the endpoint: once a device is chosen, the
// datagrams of other senders are counted and left out (neither journaled, traced nor decoded)
// unless any sender is accepted, and an identity reply from another sender never replaces the
// device's identity.

#include <QObject>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/capture/capture_engine.h"
#include "core/capture/capture_session.h"
#include "core/files/capture_journal.h"
#include "core/files/recent_captures.h"
#include "core/files/trace_log_store.h"
#include "net/datagram_endpoint.h"
#include "net/endpoint_link.h"
#include "ui/tracelog/OscReplay.h"
#include "ui/widgets/Messages.h"

namespace ui {

class PlotState;

// The widgets of the acquisition, as the form shows them.
class AcquisitionView {
  public:
    struct Progress {
        int minimum = 0;
        int maximum = 100;
        int value = 0;
    };

    virtual ~AcquisitionView() = default;
    // ComboBox1: the selected entry's text, nullopt while no entry is selected.
    virtual std::optional<QString> selectedDeviceEntry() const = 0;
    virtual int windowBits() const = 0;      // seWindowBitsCount
    virtual QString statusText() const = 0;  // Panel1
    virtual void setStatusText(const QString& text) = 0;
    // The completion after a stop: the wait cursor and the progress panel, drawn at once, and
    // both gone again at the end.
    virtual void beginCompletion() = 0;
    virtual void endCompletion() = 0;
    virtual Progress progress() const = 0;  // ProgressBar1
    virtual void setProgress(int value, bool drawNow) = 0;
};

class AcquisitionPart : public QObject, private ReplayTarget {
    Q_OBJECT
  public:
    struct Collaborators {
        // The trace log (TraceDatagram), before the decoder; journal: where the capture journal
        // holds the same line, if it does.
        std::function<void(const std::uint8_t*, std::int32_t,
                           std::optional<osc::TraceLogStore::JournalCopy> journal)>
            traceDatagram;
        // Runs f soon on the user-interface thread (also called from the receiving thread).
        // None: a queued call to the part.
        std::function<void(std::function<void()> f)> postToUiThread = {};
        // Milliseconds of a steady clock: the progress bar is drawn about every 50 ms, pending
        // events run between sample datagrams every kEventSliceMs, the device's silence. None:
        // the steady clock.
        std::function<std::int64_t()> clockMs = {};
        // Runs f after the events pending now (input, paints, timers, datagrams): the rest of a
        // drain. None: a queued call to the part.
        std::function<void(std::function<void()> f)> runAfterPendingEvents = {};
        // Lets the user interface process what is pending, inside a replay. None:
        // QCoreApplication::processEvents.
        std::function<void()> processPendingEvents = {};
        // The bytes that the trace log holds, counted against the memory ceiling; none if empty.
        std::function<std::uint64_t()> traceLogBytes = {};
    };

    // plot: the window that the start action sets and the decoder moves forward, and the marker
    // that the start forgets.
    AcquisitionPart(osc::CaptureEngine& engine, PlotState& plot, AcquisitionView& view,
                    MessageSink& messages, Collaborators collaborators);
    ~AcquisitionPart() override;
    AcquisitionPart(const AcquisitionPart&) = delete;
    AcquisitionPart& operator=(const AcquisitionPart&) = delete;

    // IdUDPServer1. Replacing it (the demo's simulated network, tests) hands the new one's
    // received datagrams to drainReceived.
    void setEndpoint(std::unique_ptr<osc::net::DatagramEndpoint> endpoint);
    osc::net::DatagramEndpoint& endpoint() { return *endpoint_; }
    // Ends the endpoint (and its receiving thread) before the window goes.
    void releaseEndpoint();

    // ActivateEndpoint: opens the endpoint when it is not active; false (after the message
    // box) when that fails.
    bool activateEndpoint();
    void start();  // actOSCstartExecute
    void stop();   // actOSCstopExecute
    // The load action after its dialog (LoadOscFile), the file given at start-up, a recent, kept
    // or dropped file; and a recovered journal's text: the replay's start, every datagram, its
    // stop (see ui/tracelog/OscReplay.h). A capture still running is stopped first (its journal
    // is kept). The start shows as a replay's; a file that cannot be read changes nothing.
    void replayFile(const QString& name);
    void replayText(const std::string& text);
    bool replaying() const { return replaying_; }
    // The plot shows a replayed file: from a replay's start to the next capture's start.
    bool showingFile() const { return showingFile_; }
    // The file on screen after a load, until the next capture; empty for none (also for a
    // replayed journal).
    QString fileOnScreen() const { return showingFile_ ? shownFile_ : QString(); }
    // Sample datagrams of the device received while the plot showed a file, since that replay
    // began (those of other senders are counted as foreign only).
    std::uint64_t notShown() const { return notShown_; }
    // The window is closing: a replay running ends at its next datagram, without the stop, and
    // draining stops.
    void windowClosing() { closing_ = true; }
    void selectDevice();   // ComboBox1Change
    void refreshStatus();  // Timer1Timer: "???" or "IP=... MAC=..."
    // IdUDPServer1UDPRead: the trace log, then the decoder. from: the sender, when known; a
    // datagram of another sender than the chosen device is counted and left out (above).
    void receive(std::span<const std::uint8_t> datagram,
                 const std::optional<osc::PeerAddress>& from = std::nullopt);
    // DecodeDatagram; after a sample datagram the plot and the scroll bar follow.
    void decode(const std::uint8_t* data, std::int32_t length);
    static constexpr std::int64_t kEventSliceMs = 5;
    // Takes the received datagrams one at a time and runs receive for each, until a decoded
    // sample datagram ends a slice of kEventSliceMs since pending events last ran (the rest
    // after them, runAfterPendingEvents), or the drain has run kDrainSliceMs (looked at every
    // kDrainCheckEvery datagrams; the rest in a drain posted anew, postToUiThread).
    void drainReceived();
    static constexpr std::int64_t kDrainSliceMs = 20;
    static constexpr int kDrainCheckEvery = 32;
    // ProgressBar1 one step of 10 forward (steps times, drawn once); past the maximum it wraps
    // around from the minimum.
    void stepProgress(std::uint64_t steps);
    static int progressAfterSteps(const AcquisitionView::Progress& bar, std::uint64_t steps);

    // FDeviceAddress: the address of the last selected entry, empty for none.
    QString deviceAddress() const { return QString::fromStdString(session_.address()); }
    void setDeviceAddress(const QString& address) { session_.setAddress(address.toStdString()); }
    // The chosen device as the list names it (its address when no entry is selected), empty for
    // none: what the status bar says a capture shows.
    QString deviceName() const;

    // Datagrams of every sender are taken, as they were before senders were told apart (off by
    // default).
    void setAcceptAnySender(bool on) { session_.setAcceptAnySender(on); }
    bool acceptAnySender() const { return session_.acceptAnySender(); }
    // The local address the endpoint listens on (empty: all), taken at the next start or device
    // selection, which open the endpoint anew on it.
    void setListenAddress(const std::string& address) { listenAddress_ = address; }
    // Since the start: datagrams from other senders and the last of them, and so on.
    osc::CaptureCounts counts() const { return session_.counts(); }
    // Datagrams lost by this computer: dropped before they were handed on (the kernel's receive
    // buffer, the queue, too long, receive errors) or not written to the journal because the
    // disk did not keep up. A running total.
    std::uint64_t receiverDrops() const;
    // The device has sent nothing for 2 s during the capture.
    bool deviceSilent() { return session_.deviceSilent(); }
    // The newest time base while a capture runs (the lines are drawn on to it); none otherwise.
    std::optional<osc::Tick> liveEnd() const;

    // The capture journal in folder, made at the next start; without one nothing is journaled.
    // Set between captures.
    void setJournalFolder(std::filesystem::path folder);
    // nullptr before the first start with a journal folder.
    osc::CaptureJournal* journal() { return journal_.get(); }
    // Where each stopped capture's journal is kept ("Последние захваты"); without them the next
    // start replaces the journal. Set between captures.
    void setRecentCaptures(osc::RecentCaptures* recent) { recent_ = recent; }
    // The capture on screen as its journal holds it: the kept journal of the last stopped
    // capture, or the journal of the running one (what has reached it so far); nothing after a
    // replay, or without a journal.
    std::optional<osc::KeptCapture> captureOnScreen() const;
    // A descriptor reading the journal of capture `id`, or -1 (osc::CaptureJournal): where the
    // trace log reads back the lines that went to the journal.
    int openJournal(std::uint64_t id) const { return journal_ ? journal_->openForReading(id) : -1; }
    // The memory ceiling's limit in bytes; 0: the default share of what the system can give,
    // read at each start.
    void setMemoryLimit(std::uint64_t bytes) { session_.setMemoryLimit(bytes); }
    std::uint64_t memoryLimit() const { return session_.memoryLimit(); }
    // A capture is running: started and not yet stopped.
    bool capturing() const { return session_.capturing(); }
    // Timer1Timer, after the status: the one warning of a journal that cannot be written.
    void checkJournal();

  signals:
    // The traces changed: restarted by a start, completed by a stop, or (arriving) grown by a
    // sample datagram, after which the scroll bar comes into line with the window.
    void tracesChanged(bool arriving);
    // The start action or a replay restarted the traces (a replay's, when replay): the trace log
    // is cleared, the counts start again, the readouts and the session begin anew.
    void started(bool replay);
    void stopped();  // the traces were completed: a stop, or a replay's end
    // A datagram was decoded, with its kind.
    void datagramDecoded(std::span<const std::uint8_t> datagram, osc::DatagramKind kind);
    // After started: what the plot shows now, the replayed file (empty for a journal's text), or
    // the device of the capture (deviceName).
    void fileShown(const QString& path);
    void captureShown(const QString& device);
    // The sample datagrams left off the plot while it shows a file (notShown): 0 at a start.
    void notShownChanged(std::uint64_t count);

  private:
    // The capture journal as the session's recorder. Its end, after the journal's stop, keeps
    // the stopped capture's journal among the recent captures (kept).
    class JournalRecorder : public osc::CaptureRecorder {
      public:
        JournalRecorder(std::unique_ptr<osc::CaptureJournal>& journal, std::function<void()> kept)
            : journal_(journal), kept_(std::move(kept)) {}
        void begin() noexcept override;
        void append(std::span<const std::uint8_t> datagram, bool foreign) noexcept override;
        void end() noexcept override;
        osc::OscLineDrops dropped() const override;

      private:
        std::unique_ptr<osc::CaptureJournal>& journal_;
        std::function<void()> kept_;
    };

    // The defaults of the collaborators left empty.
    Collaborators completed(Collaborators collaborators);
    // The start action's window: 0 to bits * 256, the minimum first.
    void setStartWindow(int bits);
    // A replay's start and end: the traces restarted, the log cleared, the window and marker
    // reset as a start does; then the closing points and the completion as a stop does. A
    // capture still running is stopped first. A start during a replay ends it: replaying()
    // turns false and its end does nothing.
    void beginReplay();
    void endReplay();
    // ReplayTarget
    bool startReplay() override;
    bool replayDatagram(std::span<const std::uint8_t> datagram) override;
    void stopReplay() override;
    // When the recorder has stopped the journal of a capture: the journal into the recent
    // captures. A failure is kept in keepFailure_ and told by tellKeepFailure, outside the
    // session's end.
    void keepCapture() noexcept;
    void tellKeepFailure();
    void endReplayState();  // the replay is over: the chosen device's identity back
    void finishTraces();    // closing points and the completion under the progress panel
    void startJournal();    // the journal and the ceiling of a new capture
    void checkCeiling();
    // receive: the kind of the datagram when it reached the decoder.
    std::optional<osc::DatagramKind> take(std::span<const std::uint8_t> datagram,
                                          const std::optional<osc::PeerAddress>& from);
    // DecodeDatagram for a datagram taken as `admission` says.
    osc::DatagramKind decodeAs(std::span<const std::uint8_t> bytes, osc::Admission admission);
    // After a sample datagram: whether kEventSliceMs have passed since pending events last ran
    // (the first time: yes); if so, they count as run now.
    bool sliceOver();
    void setNotShown(std::uint64_t count);

    osc::CaptureEngine& engine_;
    PlotState& plot_;
    AcquisitionView& view_;
    MessageSink& messages_;
    Collaborators collaborators_;
    std::unique_ptr<osc::net::DatagramEndpoint> endpoint_;
    osc::net::EndpointLink link_;
    std::unique_ptr<osc::CaptureJournal> journal_;
    JournalRecorder recorder_{journal_, [this] { keepCapture(); }};
    osc::CaptureSession session_;
    std::string listenAddress_;  // taken by the endpoint at each activation
    bool closing_ = false;
    // collaborators_.clockMs() when pending events last ran between two datagrams
    std::optional<std::int64_t> lastEventsMs_;
    std::filesystem::path journalFolder_;
    osc::RecentCaptures* recent_ = nullptr;
    std::optional<osc::KeptCapture> kept_;  // the last stopped capture, once kept
    QString keepFailure_;                   // why the last stopped capture was not kept
    bool replaying_ = false;
    bool showingFile_ = false;
    QString replayFile_;  // the file of the replay about to start; empty for text
    QString shownFile_;   // the file last replayed
    std::uint64_t notShown_ = 0;
    osc::DeviceId replayKeepsId_{};  // the chosen device's identity, given back after a replay
};

}  // namespace ui
