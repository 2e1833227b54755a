#pragma once
// Moving about a capture: "Весь график" (Home), "Перейти к биту…" (Ctrl+G), zoom in and out
// (+, −), a step left or right (←, →: a tenth of the window), a page left or right (PgUp,
// PgDn), the overview strip (ui/plot/OverviewStrip.h), and "Бит в окне": a width set there
// keeps the left edge; the field shows the width after every other change of the window (the
// keys, the mouse, a frame chosen), without running its change handler; the width the user
// chose there last is what undoing a mouse zoom returns to.
//
// The actions live on the main window (their keys work wherever its focus is, unless the
// focused widget takes the key itself, as the spin boxes and the trace memo do). Each one's
// tooltip names its key; keyed() gives an existing action its key the same way.

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <optional>

#include "core/protocol/sample_decoder.h"
#include "core/view/plot_mapping.h"

class QAction;
class QKeySequence;
class QSpinBox;
class QWidget;

namespace ui {

class PlotState;

class NavigationPart : public QObject {
    Q_OBJECT
  public:
    // traces: the capture moved about in; plot: its window; window: the actions' parent and
    // the dialog's; bits: "Бит в окне".
    NavigationPart(const osc::ChannelTraces& traces, PlotState& plot, QWidget* window,
                   QSpinBox* bits);

    QAction* fitAction() const { return fit_; }
    QAction* goToBitAction() const { return goToBit_; }

    void zoomToFit();                  // the whole capture; nothing while there is none
    void zoomBy(double factor);        // about the middle; < 1 zooms in
    void pan(double fractionOfWidth);  // negative: to the left
    void goToBit();                    // asks for a bit and centres the window on it
    void centreOn(double tick);

    // "Бит в окне" changed by the user or the stored settings (seWindowBitsCountChange): the
    // window that wide from its left edge, and the width to return to.
    void bitCountChanged(int bits);
    // Undoing a mouse zoom (Chart1UndoZoom): the width chosen in "Бит в окне" again.
    void undoZoom();

  private:
    QAction* make(const char* name, const QString& caption, const QList<QKeySequence>& keys,
                  const char* svg, std::function<void()> run);
    void setWindow(const osc::AxisRange& range);
    void followWidth();  // "Бит в окне" shows the window's width

    const osc::ChannelTraces& traces_;
    PlotState& plot_;
    QPointer<QWidget> window_;
    QPointer<QSpinBox> bits_;
    int chosenBits_ = 100;
    QAction* fit_ = nullptr;
    QAction* goToBit_ = nullptr;
};

// "Перейти к биту": the bit number, 0 to last, asked for in a small dialog (through
// ui::runModal); nothing when cancelled.
std::optional<std::int64_t> askBitNumber(QWidget* parent, std::int64_t initial, std::int64_t last);

}  // namespace ui
