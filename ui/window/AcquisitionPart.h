#pragma once
// Acquisition control of the main window: the endpoint IdUDPServer1, the device selection,
// start and stop of a capture, the hand-over of received datagrams and their decoding, the
// status panel and the progress panel of the completion.
//
// Nesting, as the handlers run it: start runs the device selection when the identity is
// unknown, and the selection runs stop; a failing send ends every handler it runs in. Received
// datagrams are handled one at a time in arrival order, never nested in one another: a drain
// that starts while a datagram's handler runs further up returns at once, and that handler's
// drain takes the rest.
//
// A replay of a file is not a capture: it opens no endpoint, sends nothing to the device,
// journals nothing, and starts from the decoder state of a program just started (last strobe
// and status 0), so that a file gives the same traces at every load and in the command-line
// tool. From its start until the next capture the plot shows the file alone: sample datagrams
// that arrive from the network meanwhile are neither journaled, traced nor decoded. While the
// replay runs no datagram from the network reaches it at all: an identity reply of the device
// is only remembered, and the chosen device's identity is given back at the replay's end; after
// it, identity replies reach the decoder again.
//
// Each datagram left out is counted once: one of another sender than the chosen device by the
// session, as foreign ("Чужие"), whether it is left out or taken because any sender is
// accepted; one of the device (or of any sender while no device is chosen) that the file on
// screen keeps off the plot as not shown ("Не показаны", notShown).
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
// device's identity. The drain takes the datagrams in time-boxed batches: past a slice it posts
// itself again and lets the event loop run, however many datagrams wait.

#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "core/capture/capture_engine.h"
#include "core/capture/capture_session.h"
#include "core/capture/memory_ceiling.h"
#include "core/files/capture_journal.h"
#include "core/files/recent_captures.h"
#include "core/files/trace_log_store.h"
#include "net/datagram_endpoint.h"
#include "net/endpoint_link.h"
#include "ui/widgets/Messages.h"

namespace ui {

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
    // The traces or the window changed: the plot repaints soon (coalesced).
    virtual void plotChanged() = 0;
    // A sample datagram was decoded: the same, at the slower pace of arriving data.
    virtual void samplesDecoded() { plotChanged(); }
    // After a sample datagram: the scroll bar in line with the window, then pending events.
    virtual void syncScrollBar() = 0;
    virtual void processPendingEvents() = 0;
};

class AcquisitionPart {
  public:
    // What the acquisition needs of the rest of the window; the form hands these in.
    struct Hooks {
        std::function<void(const std::uint8_t*, std::int32_t)> traceDatagram;  // the trace log
        std::function<void()> clearTrace;   // the trace log, at a start
        std::function<void()> resetMarker;  // the measurement, at a start
        // Runs f soon on the user-interface thread; called from the receiving thread.
        std::function<void(std::function<void()> f)> postToUiThread;
        std::function<bool()> closing;  // the window is closing: draining stops
        // Milliseconds of a steady clock: the progress bar is drawn about every 50 ms, pending
        // events run between sample datagrams every kEventSliceMs.
        std::function<std::int64_t()> clockMs;
        // The bytes that the trace log holds, counted against the memory ceiling; none if empty.
        std::function<std::uint64_t()> traceLogBytes = {};
        // A capture started (its traces restarted) and stopped (its traces completed); every
        // datagram decoded, with its kind. For the status bar; none if empty.
        std::function<void()> started = {};
        std::function<void()> stopped = {};
        std::function<void(std::span<const std::uint8_t>, osc::DatagramKind)> decoded = {};
        // A received sample datagram was left out because the plot shows a file; the count.
        std::function<void(std::uint64_t)> notShown = {};
    };

    AcquisitionPart(osc::CaptureEngine& engine, AcquisitionView& view, MessageSink& messages,
                    Hooks hooks);
    ~AcquisitionPart();
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
    // A replay's start and end: the traces restarted, the log cleared, the window and marker
    // reset as a start does; then the closing points and the completion as a stop does. A
    // capture still running is stopped first. A start (the user's F5) during a replay ends the
    // replay: replaying() turns false and its end does nothing.
    void beginReplay();
    void endReplay();
    bool replaying() const { return replaying_; }
    // The plot shows a replayed file: from a replay's start to the next capture's start.
    bool showingFile() const { return showingFile_; }
    // Sample datagrams of the device received while the plot showed a file, since that replay
    // began (those of other senders are counted as foreign only).
    std::uint64_t notShown() const { return notShown_; }
    void selectDevice();   // ComboBox1Change
    void refreshStatus();  // Timer1Timer: "???" or "IP=... MAC=..."
    // IdUDPServer1UDPRead: the trace log, then the decoder. from: the sender, when known; a
    // datagram of another sender than the chosen device is counted and left out (above).
    void receive(std::span<const std::uint8_t> datagram,
                 const std::optional<osc::PeerAddress>& from = std::nullopt);
    // DecodeDatagram; after a sample datagram the plot and the scroll bar, and pending events
    // when kEventSliceMs have passed since they last ran here.
    void decode(const std::uint8_t* data, std::int32_t length);
    static constexpr std::int64_t kEventSliceMs = 5;
    // Takes the received datagrams one at a time and runs receive for each; past kDrainSliceMs
    // (looked at every kDrainCheckEvery datagrams) it posts itself again and returns.
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
    // While receive() hands a datagram to the trace log: where its line went in the journal, if
    // it went in. The trace log reads it back from there instead of keeping it.
    std::optional<osc::TraceLogStore::JournalCopy> journalCopy() const { return journalCopy_; }
    // A descriptor reading the journal of capture `id`, or -1 (osc::CaptureJournal).
    int openJournal(std::uint64_t id) const { return journal_ ? journal_->openForReading(id) : -1; }
    // The memory ceiling's limit in bytes; 0: the default share of what the system can give,
    // read at each start.
    void setMemoryLimit(std::uint64_t bytes) { session_.setMemoryLimit(bytes); }
    std::uint64_t memoryLimit() const { return session_.memoryLimit(); }
    // A capture is running: started and not yet stopped.
    bool capturing() const { return session_.capturing(); }
    // Timer1Timer, after the status: the one warning of a journal that cannot be written.
    void checkJournal();

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

    // When the recorder has stopped the journal of a capture: the journal into the recent
    // captures. A failure is kept in keepFailure_ and told by tellKeepFailure, outside the
    // session's end.
    void keepCapture() noexcept;
    void tellKeepFailure();
    void endReplayState();  // the replay is over: the chosen device's identity back
    void finishTraces();    // closing points and the completion under the progress panel
    void startJournal();    // the journal and the ceiling of a new capture
    void checkCeiling();
    // DecodeDatagram for a datagram taken as `admission` says.
    void decodeAs(std::span<const std::uint8_t> bytes, osc::Admission admission);

    osc::CaptureEngine& engine_;
    AcquisitionView& view_;
    MessageSink& messages_;
    Hooks hooks_;
    std::unique_ptr<osc::net::DatagramEndpoint> endpoint_;
    osc::net::EndpointLink link_;
    std::unique_ptr<osc::CaptureJournal> journal_;
    JournalRecorder recorder_{journal_, [this] { keepCapture(); }};
    osc::CaptureSession session_;
    std::string listenAddress_;  // taken by the endpoint at each activation
    bool inDatagramHandler_ = false;
    std::optional<std::int64_t> lastEventsMs_;  // hooks_.clockMs() when events last ran in decode
    std::filesystem::path journalFolder_;
    osc::RecentCaptures* recent_ = nullptr;
    std::optional<osc::KeptCapture> kept_;  // the last stopped capture, once kept
    QString keepFailure_;                   // why the last stopped capture was not kept
    bool replaying_ = false;
    bool showingFile_ = false;
    std::uint64_t notShown_ = 0;
    osc::DeviceId replayKeepsId_{};  // the chosen device's identity, given back after a replay
    std::optional<osc::TraceLogStore::JournalCopy> journalCopy_;
};

}  // namespace ui
