#pragma once
// The main window frmMain: the tool bar row and the tabs "Осциллограмма", "Отладка", "Кадры".
// The form builds the frame, creates the parts, connects their signals and forwards each
// handler to the part that owns its state; no part holds another (docs/architecture.md). What
// the plot shows is the view state's (PlotState). Every handler that can raise runs through
// ui::guarded, so an escaping error is shown by the default error report and the event loop
// goes on. Widgets are private: tests reach them by object name (findChild).

#include <QMainWindow>
#include <QSpinBox>

#include <cstdint>
#include <memory>
#include <span>

#include "core/capture/capture_engine.h"
#include "core/view/plot_labels.h"
#include "net/datagram_endpoint.h"
#include "server/connection_session.h"
#include "ui/frames/FramesPart.h"
#include "ui/plot/OscPlot.h"
#include "ui/plot/PlotState.h"
#include "ui/tracelog/TraceLogPart.h"
#include "ui/widgets/Messages.h"
#include "ui/window/AcquisitionPart.h"
#include "ui/window/ConnectionPart.h"
#include "ui/window/JournalPart.h"
#include "ui/window/MeasurementPart.h"
#include "ui/window/NavigationPart.h"
#include "ui/window/OscillogramTab.h"
#include "ui/window/ReadoutPanel.h"
#include "ui/window/SessionPart.h"
#include "ui/window/ToolsPart.h"
#include "ui/window/WindowViews.h"

class QTabWidget;
class QTimer;

namespace ui {
class ActionToolBar;
class CaptureStatusPart;
class FormStorage;
class FramesPlacePart;
class RecentCapturesPart;
class TraceTab;
class TriggerPart;
}  // namespace ui

class TfrmMain : public QMainWindow {
    Q_OBJECT
  public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    static QString defaultCaption() { return QStringLiteral("МорвелIP-осциллограф"); }

    void FormCreate();
    void FormStorage1RestorePlacement() {
        if (connectAtStart_) {
            actConnectExecute();
        }
    }
    void actConnectExecute() { connection_->connect(); }  // login, connect, device list
    void actOSCstartExecute() { acquisition_->start(); }
    void actOSCstopExecute() {  // closing points, completion; the keys go on to the plot
        acquisition_->stop();
        TabSheet1->Chart1->setFocus();
    }
    void actSaveToFileExecute() { traceLog_->save(); }        // the trace into a file
    void actLoadFromFileExecute();                            // replay of a file
    void ComboBox1Change() { acquisition_->selectDevice(); }  // stop, identity request
    void Timer1Timer() { acquisition_->refreshStatus(); }     // "???" or "IP=... MAC=..."
    // One received datagram: TraceDatagram, then DecodeDatagram.
    void IdUDPServer1UDPRead(std::span<const std::uint8_t> d) { acquisition_->receive(d); }
    void DecodeDatagram(const std::uint8_t* data, std::int32_t length) {
        acquisition_->decode(data, length);
    }
    // The datagram as a hex line ("0A FF ") in the trace when tracing is enabled.
    void TraceDatagram(const std::uint8_t* data, std::int32_t length) {
        traceLog_->traceDatagram(data, length);
    }
    // The text of an axis label: left-axis channel names, bottom axis in bits.
    void Chart1GetAxisLabel(OscPlot::Axis axis, double value, QString& labelText);
    void seWindowBitsCountChange() {  // window width := bit count * 256, left edge kept
        navigation_->bitCountChanged(TabSheet1->Panel3->seWindowBitsCount->value());
    }
    void ScrollBar1Change();  // window starts at the position, whole width kept
    // The cursor snapped to the level under the mouse, readouts, bit-stream decoder.
    void Chart1MouseMove(Qt::KeyboardModifiers shift, int x, int y) {
        measurement_->mouseMove(shift, x, y);
    }
    void Chart1Click() { measurement_->click(); }  // the marker where the cursor is
    int ChannelAtMouse() const {                   // 0..3 under the mouse pointer, or -1
        return osc::channelAtY(TabSheet1->Chart1->pointerLeftValue());
    }
    // A left drag to the left on the plot: the window's width from the bit count again.
    void Chart1UndoZoom() { navigation_->undoZoom(); }
    // The load action after its dialog: reads the file (throws "Cannot open file %s"), start,
    // every line decoded, stop, the file's session restored. Also a file given at start, a
    // recent or a dropped one.
    void LoadOscFile(const QString& fileName);
    // Replays a kept capture (the list of the last captures): as a load, but not a recent file.
    void ReplayKeptCapture(const QString& fileName);
    // After the login at start-up: each capture journal that a crash left unfinished is offered
    // for replay, saving or discarding.
    void OfferUnfinishedJournals();
    void SyncScrollBar() { TabSheet1->syncScrollBar(); }  // from the window, handler detached
    // ProgressBar1 steps of 10 forward, wrapping around past the maximum.
    void ProgressBar1StepIt(std::uint64_t steps = 1) { acquisition_->stepProgress(steps); }

    // IdUDPServer1: UDP on port 971 unless replaced (demo, tests) before it is first used.
    void setEndpoint(std::unique_ptr<osc::net::DatagramEndpoint> endpoint) {
        acquisition_->setEndpoint(std::move(endpoint));
    }
    // The connection libraries' side of the connect action; loaded on first use unless set.
    void setConnectionSession(std::unique_ptr<server::ConnectionSession> session) {
        connection_->setSession(std::move(session));
    }
    osc::net::DatagramEndpoint& endpoint() { return acquisition_->endpoint(); }
    // --demo: the login dialog offers the demo server names when its fields are empty.
    void setDemoMode(bool on) { connectionWidgets_->setDemoMode(on); }
    bool demoMode() const { return connectionWidgets_->demoMode(); }
    // A file given on the command line opens without the login dialog: the connect action
    // does not run at start-up then (the connect button logs in later).
    void setConnectAtStart(bool on) { connectAtStart_ = on; }
    // The file on screen after a load, until the next capture; empty for none.
    QString fileOnScreen() const { return acquisition_->fileOnScreen(); }

    osc::CaptureEngine& engine() { return FEngine; }   // decoder state, traces, window
    ui::PlotState& plotState() { return plotState_; }  // window, marker, cursor, bit rate
    ui::AcquisitionPart& acquisition() { return *acquisition_; }
    ui::MeasurementPart& measurement() { return *measurement_; }
    ui::ConnectionPart& connection() { return *connection_; }
    ui::TraceLogPart& traceLog() { return *traceLog_; }
    ui::FormStorage& formStorage() { return *FormStorage1; }
    ui::FramesPart& frames() { return *frames_; }
    ui::NavigationPart& navigation() { return *navigation_; }
    ui::CaptureStatusPart& captureStatus() { return *captureStatus_; }
    ui::ToolsPart& tools() { return *tools_; }
    ui::RecentCapturesPart& recentCaptures() { return *recentCaptures_; }
    ui::FramesPlacePart& framesPlace() { return *framesPlace_; }
    ui::SessionPart& sessionPart() { return *session_; }
    // The tab "Триггеры": conditions, windows, mode, duration and the capture's events.
    ui::TriggerPart& triggers() { return *triggers_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void createParts();
    void createCaptureParts();  // the status bar's, the kept captures, the session
    void wire();

    osc::CaptureEngine FEngine;
    ui::PlotState plotState_{FEngine.window};
    ui::WindowMessages messages_{this};
    std::unique_ptr<ui::AcquisitionWidgets> acquisitionWidgets_;
    std::unique_ptr<ui::ConnectionWidgets> connectionWidgets_;
    std::unique_ptr<ui::AcquisitionPart> acquisition_;
    std::unique_ptr<ui::MeasurementPart> measurement_;
    std::unique_ptr<ui::ConnectionPart> connection_;
    std::unique_ptr<ui::TraceLogPart> traceLog_;
    std::unique_ptr<ui::JournalPart> journalRecovery_;
    std::unique_ptr<ui::FramesPart> frames_;
    std::unique_ptr<ui::SessionWidgets> sessionWidgets_;
    ui::NavigationPart* navigation_ = nullptr;
    ui::CaptureStatusPart* captureStatus_ = nullptr;
    ui::ToolsPart* tools_ = nullptr;
    ui::RecentCapturesPart* recentCaptures_ = nullptr;
    ui::FramesPlacePart* framesPlace_ = nullptr;
    ui::SessionPart* session_ = nullptr;
    ui::TriggerPart* triggers_ = nullptr;
    bool connectAtStart_ = true;

    ui::ActionToolBar* ActionToolBar1 = nullptr;  // the actions, their buttons, ComboBox1, Panel1
    QTabWidget* PageControl1 = nullptr;
    ui::OscillogramTab* TabSheet1 = nullptr;  // Panel3, Chart1, the strip, ScrollBar1, pbPanel
    ui::TraceTab* TabSheet2 = nullptr;        // cbTraceEnabled, Memo1
    QTimer* Timer1 = nullptr;
    ui::FormStorage* FormStorage1 = nullptr;
};

extern TfrmMain* frmMain;
