#pragma once
// Acquisition control of the main window: the endpoint IdUDPServer1, the device selection,
// start and stop of a capture, the hand-over of received datagrams and their decoding, the
// replay of oscillogram files and journals through the same decoder, the status panel and the
// progress panel of the completion.
//
// Nesting, as the handlers run it: start runs the device selection when the identity is
// unknown, and the selection runs stop; a failing send ends every handler it runs in. Received
// datagrams are handled one at a time in arrival order, in batches of kEventSliceMs: after a
// sample datagram that ends a slice the drain continues in a queued call, so that the user's
// input, timers and paints run between two datagrams; nothing in a datagram's handler runs the
// event loop, so no handler runs inside another. A replay runs as one handler (the load action
// from its dialog to the stop) and lets pending events run between its datagrams at the same
// pace; datagrams received meanwhile are handled there, between two of the file's.
//
// With a journal folder set, every received datagram of a capture (between start and stop) goes
// to the capture journal before it is decoded, so that a crash loses at most the last second;
// and a memory ceiling stops the capture cleanly before the traces and the trace log would
// take more than the system can give.

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
#include "core/capture/memory_ceiling.h"
#include "core/files/capture_journal.h"
#include "core/files/trace_log_store.h"
#include "net/datagram_endpoint.h"
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
        // events run between sample datagrams every kEventSliceMs. None: the steady clock.
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
    // Ends the endpoint (and its receiving thread) before the window goes.
    void releaseEndpoint() { endpoint_.reset(); }
    // The received datagrams that did not reach the decoder: dropped by a full queue, too long,
    // or lost to receive errors (empty datagrams carry nothing and do not count).
    std::uint64_t receiverDrops() const;

    // ActivateEndpoint: opens the endpoint when it is not active; false (after the message
    // box) when that fails.
    bool activateEndpoint();
    void start();  // actOSCstartExecute
    void stop();   // actOSCstopExecute
    // The load action after its dialog (LoadOscFile), the file given at start-up, a recent or
    // dropped file; and a recovered journal's text: start, every datagram, stop (see
    // ui/tracelog/OscReplay.h). The start shows as a replay's.
    void replayFile(const QString& name);
    void replayText(const std::string& text);
    // The window is closing: a replay running ends at its next datagram, without the stop.
    void windowClosing() { closing_ = true; }
    void selectDevice();   // ComboBox1Change
    void refreshStatus();  // Timer1Timer: "???" or "IP=... MAC=..."
    // IdUDPServer1UDPRead: the trace log, then the decoder.
    void receive(std::span<const std::uint8_t> datagram);
    // DecodeDatagram; after a sample datagram the plot and the scroll bar follow.
    void decode(const std::uint8_t* data, std::int32_t length);
    static constexpr std::int64_t kEventSliceMs = 5;
    // Takes the received datagrams one at a time and runs receive for each, until a sample
    // datagram ends a slice of kEventSliceMs since pending events last ran; the rest after
    // them (runAfterPendingEvents).
    void drainReceived();
    // ProgressBar1 one step of 10 forward (steps times, drawn once); past the maximum it wraps
    // around from the minimum.
    void stepProgress(std::uint64_t steps);
    static int progressAfterSteps(const AcquisitionView::Progress& bar, std::uint64_t steps);

    // FDeviceAddress: the address of the last selected entry, empty for none.
    const QString& deviceAddress() const { return deviceAddress_; }
    void setDeviceAddress(const QString& address) { deviceAddress_ = address; }

    // The capture journal in folder, made at the next start; without one nothing is journaled.
    // Set between captures.
    void setJournalFolder(std::filesystem::path folder);
    // nullptr before the first start with a journal folder.
    osc::CaptureJournal* journal() { return journal_.get(); }
    // A descriptor reading the journal of capture `id`, or -1 (osc::CaptureJournal): where the
    // trace log reads back the lines that went to the journal.
    int openJournal(std::uint64_t id) const { return journal_ ? journal_->openForReading(id) : -1; }
    // The memory ceiling's limit in bytes; 0: the default share of what the system can give,
    // read at each start.
    void setMemoryLimit(std::uint64_t bytes) { memoryLimit_ = bytes; }
    std::uint64_t memoryLimit() const { return ceiling_.limit(); }
    // A capture is running: started and not yet stopped.
    bool capturing() const { return capturing_; }
    // Timer1Timer, after the status: the one warning of a journal that cannot be written.
    void checkJournal();

  signals:
    // The traces changed: restarted by a start, completed by a stop, or (arriving) grown by a
    // sample datagram, after which the scroll bar comes into line with the window.
    void tracesChanged(bool arriving);
    // The start action restarted the traces (a replay's, when replay): the trace log is
    // cleared, the counts start again.
    void started(bool replay);
    void stopped();  // the stop action completed the traces
    // A datagram was decoded, with its kind.
    void datagramDecoded(std::span<const std::uint8_t> datagram, osc::DatagramKind kind);

  private:
    void start(bool replay);
    // The start action's window: 0 to bits * 256, the minimum first.
    void setStartWindow(int bits);
    // ReplayTarget
    bool startReplay() override;
    bool replayDatagram(std::span<const std::uint8_t> datagram) override;
    void stopReplay() override;
    void startJournal();  // the journal and the ceiling of a new capture
    void checkCeiling();
    // After a sample datagram: whether kEventSliceMs have passed since pending events last ran
    // (the first time: yes); if so, they count as run now.
    bool sliceOver();

    osc::CaptureEngine& engine_;
    PlotState& plot_;
    AcquisitionView& view_;
    MessageSink& messages_;
    Collaborators collaborators_;
    std::unique_ptr<osc::net::DatagramEndpoint> endpoint_;
    QString deviceAddress_;
    bool closing_ = false;
    // collaborators_.clockMs() when pending events last ran between two datagrams
    std::optional<std::int64_t> lastEventsMs_;
    std::filesystem::path journalFolder_;
    std::unique_ptr<osc::CaptureJournal> journal_;
    std::uint64_t memoryLimit_ = 0;
    osc::MemoryCeiling ceiling_{0};
    bool capturing_ = false;
    bool ceilingReached_ = false;  // the capture was stopped by the ceiling (told once)
};

}  // namespace ui
