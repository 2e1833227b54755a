#pragma once
// The main window frmMain: tool bar with the actions, device list, status panel, and two tabs:
// "Осциллограмма" (readout panel, plot Chart1, scroll bar, progress panel) and "Отладка" (the
// datagram trace), then the frames tab "Кадры" that FramesPart builds. The form builds the
// widgets and wires them; every handler is a one-line
// forward to the part that owns its state:
//
//   ConnectionPart   connect action, login dialog, device list, caption
//   AcquisitionPart  endpoint, device selection, start, stop, datagram drain and decoding,
//                    status panel, progress panel
//   MeasurementPart  cursor, marker, readouts, decode lines
//   TraceLogPart     trace memo, save, load and replay
//   JournalPart      capture journals left unfinished, offered at start-up
//   FramesPart       the tab "Кадры": frame decoder options, the table of frames, navigation,
//                    the frames drawn on the plot
//
// Each part sees its widgets through a narrow view that the form implements, and the other
// parts only through callbacks that the form hands it. The plot's window handlers apply the
// engine's window rules (core/view/plot_window.h) directly. Every handler that can raise runs
// through ui::guarded, so an escaping error is shown by the default error report and the event
// loop goes on. Widgets are private: tests reach them by object name (findChild).

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <span>

#include "core/capture/capture_engine.h"
#include "core/files/session_file.h"
#include "ui/frames/FramesPart.h"
#include "ui/plot/OscPlot.h"
#include "ui/tracelog/TraceLogPart.h"
#include "ui/widgets/Messages.h"
#include "ui/window/AcquisitionPart.h"
#include "ui/window/ConnectionPart.h"
#include "ui/window/JournalPart.h"
#include "ui/window/MeasurementPart.h"
#include "ui/window/ToolsPart.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QScrollBar;
class QSpinBox;
class QTabWidget;
class QTimer;

namespace ui {
class CaptureStatusPart;
class FormStorage;
class NavigationPart;
class OverviewStrip;
class FramesPlacePart;
class RecentCapturesPart;
class SessionPart;
class TriggerPart;
}  // namespace ui
namespace osc::net {
class DatagramEndpoint;
}
namespace server {
class ConnectionSession;
}

class TfrmMain : public QMainWindow,
                 private ui::AcquisitionView,
                 private ui::MeasurementView,
                 private ui::ConnectionView,
                 private ui::TraceLogView {
    Q_OBJECT
  public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    static QString defaultCaption() { return QStringLiteral("МорвелIP-осциллограф"); }

    // --- Handlers -------------------------------------------------------------------------
    void FormCreate();
    void FormStorage1RestorePlacement();  // runs actConnectExecute
    void actConnectExecute();             // not connected: login, connect, device list
    void actOSCstartExecute();            // start of a capture
    void actOSCstopExecute();             // end of a capture: closing points, completion
    void actSaveToFileExecute();          // the trace into an oscillogram file
    void actLoadFromFileExecute();        // replay of an oscillogram file
    void ComboBox1Change();               // device selection: stop, identity request
    void Timer1Timer();                   // status panel: "???" or "IP=... MAC=..."
    // One received datagram: TraceDatagram, then DecodeDatagram.
    void IdUDPServer1UDPRead(std::span<const std::uint8_t> datagram);
    // Decodes one datagram; after a sample datagram: plot marked dirty, SyncScrollBar, pending
    // events processed.
    void DecodeDatagram(const std::uint8_t* data, std::int32_t length);
    // Appends the datagram as a hex line ("0A FF ") to the trace when tracing is enabled.
    void TraceDatagram(const std::uint8_t* data, std::int32_t length);
    // The text of an axis label: left-axis channel names, bottom axis in bits.
    void Chart1GetAxisLabel(OscPlot::Axis axis, double value, QString& labelText);
    void seWindowBitsCountChange();  // window width := bit count * 256, left edge kept
    void ScrollBar1Change();         // window starts at the position, whole width kept
    // The cursor snapped to the level under the mouse, readouts, bit-stream decoder.
    void Chart1MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void Chart1Click();  // the marker where the cursor is
    // The bits between marker and cursor into lblBitStream and lblBytesDecoded; throws for a
    // bit count of 0 (the mouse move then ends without moving the cursor line).
    void DecodeBitStream();
    // Opens the endpoint when it is not active; false (after the message box) when it fails.
    bool ActivateEndpoint();
    // Rebuilds ComboBox1 from the server's configuration and drops it down.
    void RefreshDeviceList();
    // The channel (0..3) whose band holds the mouse pointer, or -1.
    int ChannelAtMouse() const;
    // A left drag to the left on the plot: the window's width from the bit count again.
    void Chart1UndoZoom();
    // The load action after its file dialog: reads the file (throws "Cannot open file %s"),
    // start action, every line decoded, stop action. Also the replay of a file given at start.
    void LoadOscFile(const QString& fileName);
    // Replays a kept capture (the list of the last captures): as a load, but not a recent file.
    void ReplayKeptCapture(const QString& fileName);
    // After the login at start-up: each capture journal that a crash left unfinished is offered
    // for replay, saving or discarding.
    void OfferUnfinishedJournals();

    // --- Helpers for the handlers -----------------------------------------------------------
    // Scroll bar := range 0..window maximum, position window minimum (truncated, clamped to
    // the int range), with ScrollBar1Change detached.
    void SyncScrollBar();
    // ProgressBar1 one step forward (10); past the maximum it wraps around from the minimum.
    // steps > 1: as many single steps, worked out at once and the bar set once.
    void ProgressBar1StepIt(std::uint64_t steps = 1);

    // --- Collaborators and parts ------------------------------------------------------------
    // The endpoint IdUDPServer1: UDP on port 971 of all local addresses unless replaced (the
    // demo's simulated network, tests) before it is first used.
    void setEndpoint(std::unique_ptr<osc::net::DatagramEndpoint> endpoint);
    osc::net::DatagramEndpoint& endpoint() { return acquisition_.endpoint(); }
    // The connection libraries' side of the connect action; loaded on first use unless set.
    void setConnectionSession(std::unique_ptr<server::ConnectionSession> session);
    server::ConnectionSession& session() { return connection_.session(); }
    // --demo: the login dialog offers the demo server names when its fields are empty.
    void setDemoMode(bool on) { demoMode_ = on; }
    // A file given on the command line opens without the login dialog: the connect action
    // does not run at start-up then (the connect button logs in later).
    void setConnectAtStart(bool on) { connectAtStart_ = on; }
    bool demoMode() const { return demoMode_; }

    // FTimeBase, FLastStatus, FDeviceId, traces, marker and cursor lines, window.
    osc::CaptureEngine& engine() { return FEngine; }
    ui::AcquisitionPart& acquisition() { return acquisition_; }
    ui::MeasurementPart& measurement() { return measurement_; }
    ui::ConnectionPart& connection() { return connection_; }
    ui::TraceLogPart& traceLog() { return traceLog_; }
    ui::JournalPart& journalRecovery() { return journalRecovery_; }
    ui::FormStorage& formStorage() { return *FormStorage1; }
    ui::FramesPart& frames() { return *frames_; }
    // "Весь график", "Перейти к биту…", the keys that move the window, the overview strip.
    ui::NavigationPart& navigation() { return *navigation_; }
    // The status bar: the capture's state, time, datagrams, bytes and losses.
    ui::CaptureStatusPart& captureStatus() { return *captureStatus_; }
    // Pictures, exports, recent and dropped files, the bit rate (the tools after the panel).
    ui::ToolsPart& tools() { return *tools_; }
    // "Сохранить захват…" and "Последние захваты…".
    ui::RecentCapturesPart& recentCaptures() { return *recentCaptures_; }
    // Where the frames table sits: its tab, or under the plot.
    ui::FramesPlacePart& framesPlace() { return *framesPlace_; }
    // Named markers, bookmarks, channel looks and the session file beside the capture.
    ui::SessionPart& sessionPart() { return *session_; }
    // The tab "Триггеры": conditions, windows, mode, duration and the capture's events.
    ui::TriggerPart& triggers() { return *triggers_; }
    // The file on screen after a load, until the next capture; empty for none.
    QString fileOnScreen() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void createActions();
    void createToolBar(QWidget* parent);
    void createOscillogramTab();
    void createTraceTab();
    void createFramesTab();
    void createNavigation();  // the navigation part, the new keys and buttons
    void wire();
    std::uint64_t receiverDrops();  // datagrams the endpoint could not hand on
    void showWhatIsOnScreen();      // the status bar: the file, or the device and capture time
    void createSession();
    // What a session keeps of the window (view, marker, cursor, decoder and frame options), and
    // its restoring; the channels' looks onto the plot.
    osc::Session collectSessionView() const;
    void applySessionView(const osc::Session& session);
    void applyChannelLooks();

    // ui::AcquisitionView
    std::optional<QString> selectedDeviceEntry() const override;
    int windowBits() const override;
    QString statusText() const override;
    void setStatusText(const QString& text) override;
    void beginCompletion() override;
    void endCompletion() override;
    Progress progress() const override;
    void setProgress(int value, bool drawNow) override;
    void plotChanged() override;  // also ui::MeasurementView
    void samplesDecoded() override;
    void syncScrollBar() override;
    void processPendingEvents() override;
    // ui::MeasurementView
    QRect plotRect() const override;
    double pointerBottomValue() const override;
    int channelAtMouse() const override;
    osc::BitStreamOptions bitStreamOptions() const override;
    void setCursorText(const QString& text) override;
    void setMarkerText(const QString& text) override;
    void setDistanceText(const QString& text) override;
    void setDecodedText(const QString& bits, const QString& values) override;
    void setDecodeReason(const QString& reason) override;
    // The readouts as wide as their texts (a narrow window wraps them onto further rows, the
    // panel growing), the decode lines under them, scrolled when longer than the panel.
    void layOutReadouts();
    // ui::ConnectionView
    bool runLogin(
        const std::function<void(const QString& user, const QString& password)>& setUser) override;
    QString ntServer() const override;
    QString tmServer() const override;
    void setCaption(const QString& caption) override;
    void setDeviceEntries(const QStringList& entries) override;
    void dropDownDeviceList() override;
    // ui::TraceLogView
    bool tracingEnabled() const override;
    void storedLinesChanged() override;
    void openEditor(const QString& text) override;
    void appendToEditor(const QString& lines) override;
    QString editorText() const override;
    void closeEditor() override;
    void showMemoHint(const QString& text) override;
    void scheduleMemoFlush() override;
    QString chooseOscFile(FileDialog dialog) override;
    void beginSaveProgress(std::uint64_t total, bool cancellable) override;
    bool saveProgress(std::uint64_t done) override;
    void endSaveProgress() override;

    // --- State and parts --------------------------------------------------------------------
    osc::CaptureEngine FEngine;
    ui::WindowMessages messages_{this};
    ui::AcquisitionPart acquisition_;
    ui::MeasurementPart measurement_;
    ui::ConnectionPart connection_;
    ui::TraceLogPart traceLog_;
    ui::JournalPart journalRecovery_;
    std::unique_ptr<ui::FramesPart> frames_;
    bool demoMode_ = false;
    bool connectAtStart_ = true;
    bool FClosing = false;  // the window is closing: replays and draining stop
    int replaying_ = 0;     // a file or a journal is being replayed
    ui::NavigationPart* navigation_ = nullptr;
    ui::CaptureStatusPart* captureStatus_ = nullptr;

    // --- Components -------------------------------------------------------------------------
    QAction* actConnect = nullptr;
    QAction* Action2 = nullptr;  // "Выход": closes the window; on no bar
    QAction* actOSCstart = nullptr;
    QAction* actOSCstop = nullptr;
    QAction* actSaveToFile = nullptr;
    QAction* actLoadFromFile = nullptr;
    QWidget* ActionToolBar1 = nullptr;  // the six buttons, left to right, then the list
    QComboBox* ComboBox1 = nullptr;
    QLabel* Panel1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QFrame* Panel3 = nullptr;
    QLabel* lblMarker = nullptr;
    QLabel* lblStrobe = nullptr;
    QLabel* lblDiff = nullptr;
    QSpinBox* seWindowBitsCount = nullptr;
    QSpinBox* seByteBitsCount = nullptr;
    QCheckBox* cbReverseBits = nullptr;
    QCheckBox* cbInverseBits = nullptr;
    QCheckBox* cbBitStaff = nullptr;
    QLabel* lblBitStream = nullptr;
    QLabel* lblBytesDecoded = nullptr;
    QLabel* markerCaption_ = nullptr;
    QLabel* cursorCaption_ = nullptr;
    QLabel* distanceCaption_ = nullptr;
    class QScrollArea* decodeArea_ = nullptr;  // the two decode lines, scrolled sideways
    QList<QRect> designedReadouts_;            // caption and readout of each pair, as designed
    OscPlot* Chart1 = nullptr;
    ui::OverviewStrip* Overview = nullptr;  // the whole capture, above the scroll bar
    QScrollBar* ScrollBar1 = nullptr;
    QFrame* pbPanel = nullptr;
    QLabel* Label6 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFrame* Panel2 = nullptr;
    QCheckBox* cbTraceEnabled = nullptr;
    ui::TraceMemo* memo_ = nullptr;  // Memo1 and the editor that takes its place
    ui::TraceLogWidget* Memo1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* memoFlushTimer_ = nullptr;
    ui::FormStorage* FormStorage1 = nullptr;
    ui::ToolsPart* tools_ = nullptr;
    ui::RecentCapturesPart* recentCaptures_ = nullptr;
    ui::FramesPlacePart* framesPlace_ = nullptr;
    ui::SessionPart* session_ = nullptr;
    ui::TriggerPart* triggers_ = nullptr;
    class QSplitter* plotSplitter_ = nullptr;  // the plot, and the frames table when under it
    QString shownFile_;      // the file last loaded (on screen while the acquisition shows a file)
    QString loadingFile_;    // the file of the load being started
    QString chosenOscFile_;  // the file that the last oscillogram file dialog gave
};

extern TfrmMain* frmMain;
