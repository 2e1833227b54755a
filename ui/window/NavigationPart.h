#pragma once
// Moving about a capture: "Весь график" (Home), "Перейти к биту…" (Ctrl+G), zoom in and out
// (+, −), a step left or right (←, →: a tenth of the window), a page left or right (PgUp,
// PgDn), and the overview strip (ui/plot/OverviewStrip.h). "Бит в окне" follows every change of the
// window's width, from here and from the mouse, without running its change handler; the width
// the user chose there last is what undoing a mouse zoom returns to.
//
// The actions live on the main window (their keys work wherever its focus is, unless the
// focused widget takes the key itself, as the spin boxes and the trace memo do). Each one's
// tooltip names its key; keyed() gives an existing action its key the same way.

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <optional>

#include "core/capture/capture_engine.h"
#include "core/view/plot_mapping.h"

class QAction;
class QKeySequence;
class QSpinBox;
class QWidget;

namespace ui {

// Gives the action its keys (the first is the one named) and a tooltip "Caption (Key)".
void keyed(QAction* action, const QList<QKeySequence>& keys);

class NavigationPart : public QObject {
    Q_OBJECT
  public:
    // window: the actions' parent and the dialog's; bits: "Бит в окне"; windowMoved runs after
    // every change of the window made here (the plot repaints, the scroll bar follows).
    NavigationPart(osc::CaptureEngine& engine, QWidget* window, QSpinBox* bits,
                   std::function<void()> windowMoved);

    QAction* fitAction() const { return fit_; }
    QAction* goToBitAction() const { return goToBit_; }
    // Every action of the part, in the order of their keys' list in the tooltips.
    QList<QAction*> actions() const;

    void zoomToFit();                  // the whole capture; nothing while there is none
    void zoomBy(double factor);        // about the middle; < 1 zooms in
    void pan(double fractionOfWidth);  // negative: to the left
    void goToBit();                    // asks for a bit and centres the window on it
    void centreOn(double tick);

    // The window's width changed elsewhere (the mouse): "Бит в окне" shows it.
    void followWidth();
    // "Бит в окне" changed by the user or the stored settings: the width to return to.
    void bitsChosen(int bits) { chosenBits_ = bits; }
    int chosenBits() const { return chosenBits_; }

  private:
    QAction* make(const char* name, const QString& caption, const QList<QKeySequence>& keys,
                  const char* svg, std::function<void()> run);
    void setWindow(const osc::AxisRange& range);

    osc::CaptureEngine& engine_;
    QPointer<QWidget> window_;
    QPointer<QSpinBox> bits_;
    std::function<void()> windowMoved_;
    int chosenBits_ = 100;
    QAction* fit_ = nullptr;
    QAction* goToBit_ = nullptr;
    QList<QAction*> actions_;
};

// "Перейти к биту": the bit number, 0 to last, asked for in a small dialog (through
// ui::runModal); nothing when cancelled.
std::optional<std::int64_t> askBitNumber(QWidget* parent, std::int64_t initial, std::int64_t last);

}  // namespace ui
