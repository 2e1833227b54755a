#pragma once
// The frames of a capture in the window: the tab "Кадры" (decoder options, filters, the table
// of frames, counts per channel) and the frames drawn on the plot. The engine decodes the
// frames live during a capture and after a load; the table follows it, at most five times a
// second while the tab is in sight.
//
// Choosing a row shows its frame on the plot: the window moves to it (zooms out to it when the
// frame is wider), the marker goes to its start and the cursor to its end, and the decoder
// check boxes take the frame decoder's settings, so the readouts give its length and the decode
// lines its bytes between the two flags. The navigation actions (F3, Shift+F3, F4, Shift+F4)
// step through the rows from any tab. A change of an option decodes the capture again.
//
// The link layer (on by default, "Канальный уровень"): its options (address field, modulo, the
// primary's line, the answer timeout) sit with the decoder's; the table shows each frame's
// address, type, response time and link issues, the bands on the plot its type and issues, and
// the view "Станции" the statistics of each station and line, where a click on a count puts
// the filter of those frames into the filter field above the table. F7 goes from a response to
// the command it answers (and from a command to its answer), Shift+F7 back.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/frames/bit_stream.h"
#include "ui/frames/FrameBands.h"
#include "ui/frames/FrameTableModel.h"

class QAction;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QSpinBox;
class QTabWidget;
class QTableView;
class QTimer;

namespace ui {

class FormStorage;
class FrameFilterField;
class MessageSink;
class PlotState;
class StationsView;

// A frame chosen in the table, to be measured on the plot: the marker at its start, the
// cursor at its end, the decode lines of its channel with the frame decoder's settings; its
// line bits stand in when the decoder cannot read the stretch (a capture still arriving).
struct FrameMeasure {
    int channel = 0;
    double markerX = 0;
    double cursorX = 0;
    std::string lineBits;
    osc::BitStreamOptions decoder;
};

class FramesPart : public QObject {
    Q_OBJECT
  public:
    // Builds the tab's page (without a parent, for the form to add), adds the navigation
    // actions to window and switches the engine's frame decoding on. plot: the window that a
    // chosen frame moves.
    FramesPart(osc::CaptureEngine& engine, PlotState& plot, MessageSink& messages, QWidget* window);
    ~FramesPart() override;

    QWidget* page() const { return page_; }
    FrameTableModel& model() { return *model_; }
    FrameBands& bands() { return bands_; }
    QTableView* table() const { return table_; }
    FrameFilterField* filterField() const { return filterField_; }
    StationsView* stations() const { return stations_; }

    // The options on the tab stored with the window's other settings, after them, under value
    // names of their own ("cbFrameInvert_Checked", "cmbFrameCheck_ItemIndex", ...).
    void storeSettingsIn(FormStorage& storage);

    // The options as the tab shows them.
    osc::FrameOptions options() const;
    unsigned channels() const;
    osc::LinkOptions linkOptions() const;
    bool linkEnabled() const;
    // The tab's options into the engine, which decodes the capture again; the table reloads.
    // Runs by itself shortly after an option changes.
    void applyOptions();

    // The table and the counts in line with the engine (the timer runs it), and the stations
    // when they are in sight.
    void refresh();
    // The engine's frames may have grown: the table follows soon (at most five times a second),
    // while the tab is in sight; else when it comes into sight.
    void framesMayHaveChanged();
    // The counts line: per decoded channel "Передача: верных 118, ошибочных 2".
    QString countsText() const;

    // Makes a row current (and so shows its frame); false for a row out of range.
    bool chooseRow(int row);
    // Shows the frame of the current row again and brings the plot forward (Enter, double
    // click).
    void showCurrentOnPlot();
    // Row by row in the table's order; the bad ones only. Without a current row, the first
    // frame at or right of the window's left edge (next) or left of it (previous).
    void next();
    void previous();
    void nextBad();
    void previousBad();
    // The table as shown (filtered and sorted) as CSV: a file dialog, then the file written
    // whole or not at all (throws osc::FileError "Cannot create file ...").
    void exportCsv();
    void exportCsvTo(const QString& fileName);

    // The filter field's text applied to the table (the table brought forward); false when it
    // is wrong (the field marked).
    bool applyFilter(const QString& text);
    // The view "Станции" (true) or the table.
    void showStations(bool on);
    // From the current row to its partner (the command a response answers, the answer of a
    // command), and back to where the last such jump started; false (and a beep) when there
    // is none or it is filtered out.
    bool toPartner();
    bool back();

  signals:
    // A row was chosen: the window shows its frame; the measurement and the decoder's options
    // follow.
    void frameChosen(const ui::FrameMeasure& frame);
    // The frames drawn on the plot changed without a change of the traces.
    void bandsChanged();
    // Enter or a double click: the tab "Осциллограмма" wanted in front.
    void plotWanted();

  protected:
    // The table keeps its own moving keys (arrows, pages, Home, End) when it has the focus,
    // although the window uses some of them to move the plot.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildPage();
    void createActions(QWidget* window);
    void showFrame(const osc::Frame& frame);
    void step(int direction, bool badOnly);
    int rowNearWindow(int direction) const;
    void optionsEdited();
    void filterEdited();
    void currentRowChanged(int row);
    void applyLinkOptions();
    // The bit rate that adds times to the response times (and that rt_ms needs): the view
    // state's, followed.
    void setBitRate(std::optional<double> rate);
    void runFilterPass();
    void updatePartnerAction();

    osc::CaptureEngine& engine_;
    PlotState& plot_;
    MessageSink& messages_;
    FrameBands bands_;
    std::unique_ptr<FrameTableModel> model_;
    FrameRef current_;
    bool restoring_ = false;      // the selection is being put back after a reload
    std::vector<FrameRef> back_;  // where the jumps to partners started, the latest last

    QPointer<QWidget> page_;
    QHBoxLayout* actionBar_ = nullptr;
    QCheckBox* channelBoxes_[osc::kChannelCount] = {};
    QCheckBox* cbFrameInvert = nullptr;
    QCheckBox* cbFrameStuffing = nullptr;
    QComboBox* cmbFrameBitOrder = nullptr;
    QComboBox* cmbFrameCheck = nullptr;
    QSpinBox* seFrameMinLength = nullptr;
    QCheckBox* cbFrameBands = nullptr;
    QComboBox* cmbFrameFilter = nullptr;
    QCheckBox* cbFrameOnlyBad = nullptr;
    QCheckBox* cbLink = nullptr;
    QComboBox* cmbLinkAddress = nullptr;
    QComboBox* cmbLinkModulo = nullptr;
    QComboBox* cmbLinkPrimary = nullptr;
    QSpinBox* seLinkTimeout = nullptr;
    FrameFilterField* filterField_ = nullptr;
    QTabWidget* views_ = nullptr;
    StationsView* stations_ = nullptr;
    QTableView* table_ = nullptr;
    QLabel* lblFrameCounts = nullptr;
    QAction* actFrameNext = nullptr;
    QAction* actFramePrevious = nullptr;
    QAction* actFrameNextBad = nullptr;
    QAction* actFramePreviousBad = nullptr;
    QAction* actFramesExport = nullptr;
    QAction* actFrameShow = nullptr;
    QAction* actFrameFilter = nullptr;
    QAction* actFrameStations = nullptr;
    QAction* actFramePartner = nullptr;
    QAction* actFrameBack = nullptr;
    QTimer* refreshTimer_ = nullptr;
    QTimer* optionsTimer_ = nullptr;
    QTimer* filterTimer_ = nullptr;  // the next slice of a filter's pass
};

}  // namespace ui
