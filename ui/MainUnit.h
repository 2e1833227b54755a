#pragma once
// The main window frmMain: tool bar with the actions, device list, status panel, and two tabs:
// "Осциллограмма" (readout panel, plot Chart1, scroll bar, progress panel) and "Отладка" (the
// datagram trace). All state is held as fields, all behaviour as handler methods named after
// their component and event; every handler that can raise runs through ui::guarded, so an
// escaping error is shown by the default error report and the event loop goes on.
//
// Where the handlers live: MainUnit.cpp (composition, start-up, status panel, decoding, plot
// window), Acquisition.cpp (endpoint, device selection, start, stop, receiving),
// CursorMarker.cpp (cursor, marker, bit-stream decoder), OscFiles.cpp (save and load),
// Connection.cpp (connect action and device list).

#include <QByteArray>
#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/capture_engine.h"
#include "ui/OscPlot.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QScrollBar;
class QSpinBox;
class QTabWidget;
class QTimer;
class QToolButton;

namespace ui {
class FormStorage;
}
namespace osc::net {
class DatagramEndpoint;
}
namespace server {
class ConnectionSession;
}

class TfrmMain : public QMainWindow {
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

    // --- Helpers for the handlers -----------------------------------------------------------
    // Scroll bar := range 0..window maximum, position window minimum (truncated, clamped to
    // the int range), with ScrollBar1Change detached.
    void SyncScrollBar();
    // ProgressBar1 one step forward (10); past the maximum it wraps around from the minimum.
    // steps > 1: as many single steps, worked out at once and the bar set once.
    void ProgressBar1StepIt(std::uint64_t steps = 1);

    // The trace (Memo1). Appending is cheap; the text is also kept with CR LF line ends, which
    // is exactly what an oscillogram file holds. Text the user typed into the memo is taken
    // from the memo instead (encoded in Windows-1251 where the system offers it).
    void TraceAppendLine(const QString& line);
    void TraceClear();
    QByteArray TraceText() const;
    int TraceLineCount() const;  // a last empty line does not count

    // The endpoint IdUDPServer1: UDP on port 971 of all local addresses unless replaced (the
    // demo's simulated network, tests) before it is first used.
    void setEndpoint(std::unique_ptr<osc::net::DatagramEndpoint> endpoint);
    osc::net::DatagramEndpoint& endpoint() { return *IdUDPServer1; }
    // The connection libraries' side of the connect action; loaded on first use unless set.
    void setConnectionSession(std::unique_ptr<server::ConnectionSession> session);
    server::ConnectionSession& session();
    // Takes the received datagrams one at a time and runs IdUDPServer1UDPRead for each, never
    // nested in another datagram's handler.
    void drainReceived();

    // --- State ------------------------------------------------------------------------------
    osc::CaptureEngine FEngine;  // FTimeBase, FLastStatus, FDeviceId, traces, lines, window
    std::int32_t FConnection = -1;
    QString FDeviceAddress;
    double FMarkerX = 0;
    double FCursorX = 0;
    bool demoMode = false;  // --demo: reserved for the demo server and devices

    // --- Components -------------------------------------------------------------------------
    QAction* actConnect = nullptr;
    QAction* Action2 = nullptr;  // "Выход": closes the window; on no bar
    QAction* actOSCstart = nullptr;
    QAction* actOSCstop = nullptr;
    QAction* actSaveToFile = nullptr;
    QAction* actLoadFromFile = nullptr;
    QWidget* ActionToolBar1 = nullptr;
    QList<QToolButton*> toolButtons;  // the six buttons, left to right
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
    OscPlot* Chart1 = nullptr;
    QScrollBar* ScrollBar1 = nullptr;
    QFrame* pbPanel = nullptr;
    QLabel* Label6 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFrame* Panel2 = nullptr;
    QCheckBox* cbTraceEnabled = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QTimer* Timer1 = nullptr;
    ui::FormStorage* FormStorage1 = nullptr;

    // The file dialogs' filter and default extension.
    static QString oscFileFilter() { return QStringLiteral("Файлы осциллограм ОИК (*.osc)"); }
    static QString oscDefaultSuffix() { return QStringLiteral("osc"); }

  protected:
    void closeEvent(QCloseEvent* event) override;

    std::unique_ptr<osc::net::DatagramEndpoint> IdUDPServer1;
    std::unique_ptr<server::ConnectionSession> FSession;
    bool FInDatagramHandler = false;  // a received datagram's handler is running
    bool FClosing = false;            // the window is closing: replays and draining stop

  private:
    void createActions();
    void createToolBar(QWidget* parent);
    void createOscillogramTab();
    void createTraceTab();
    void wire();

    QByteArray FTraceText;  // CR LF line ends
    int FTraceLines = 0;
    bool FTraceEdited = false;
    mutable bool FTraceAppending = false;
    // Lines not yet in the memo: appended in one go at most every 50 ms, so that a fast
    // stream does not lay out the memo once per datagram.
    mutable QString FTracePending;
    QTimer* FTraceFlushTimer = nullptr;
    void TraceFlush() const;
};

extern TfrmMain* frmMain;
