#pragma once
// The tab "Осциллограмма" (TabSheet1), top to bottom: the readout panel Panel3, the plot Chart1
// with the progress panel pbPanel inside it, the overview strip with the buttons of the actions
// that act on it at its left, and the scroll bar ScrollBar1; all of them the first widget of a
// splitter, which can take the frames table under them.

#include <QFrame>
#include <QWidget>

class OscPlot;
class QAction;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QScrollBar;
class QSplitter;

namespace osc {
class CaptureEngine;
}

namespace ui {

class OverviewStrip;
class PlotState;
class ReadoutPanel;

// The progress panel pbPanel inside the plot (265 by 41 pixels, hidden until a completion):
// the caption Label6 "Обработка графика" over ProgressBar1 (0 to 100).
class CompletionPanel final : public QFrame {
    Q_OBJECT
  public:
    CompletionPanel(const QPalette& palette, QWidget* plot);

    QLabel* Label6 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
};

class OscillogramTab final : public QWidget {
    Q_OBJECT
  public:
    // The plot draws the engine's traces in the view state's window.
    OscillogramTab(osc::CaptureEngine& engine, PlotState& plot);

    // A button of the action, named, left of the overview strip (after those added before).
    void addStripButton(QAction* action, const char* name);
    // SyncScrollBar: range 0..window maximum, position window minimum (truncated, clamped to
    // the int range), without running the bar's change handler; drawn at most about 10 times
    // a second. Also after every change of the window that the scroll bar follows
    // (osc::followersOf).
    void syncScrollBar();

    QSplitter* PlotSplitter = nullptr;
    ReadoutPanel* Panel3 = nullptr;
    OscPlot* Chart1 = nullptr;
    OverviewStrip* Overview = nullptr;
    QScrollBar* ScrollBar1 = nullptr;
    CompletionPanel* pbPanel = nullptr;

  private:
    const osc::CaptureEngine& engine_;
    QHBoxLayout* stripRow_ = nullptr;
    int stripButtons_ = 0;
};

}  // namespace ui
