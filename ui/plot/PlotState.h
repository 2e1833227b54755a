#pragma once
// The one owner of what the plot shows besides the traces: the window, the marker and cursor
// positions and the bit rate (core/view/plot_state.h). Each has one setter, and each set is
// announced by a signal that the views follow (the plot repaints, the scroll bar and
// "Бит в окне" follow the window as osc::followersOf says, the readouts follow the bit rate),
// also a set that leaves the value as it was; nobody else writes them and nobody polls them.
//
// The window itself stays in the capture engine (its decoder moves it forward as data
// arrives); whoever runs the decoder tells the state afterwards (decoderRan).

#include <QObject>

#include <optional>

#include "core/view/plot_mapping.h"
#include "core/view/plot_state.h"
#include "core/view/plot_window.h"

namespace ui {

class PlotState : public QObject {
    Q_OBJECT
  public:
    // window: the engine's, which the state announces; it outlives the state.
    explicit PlotState(osc::PlotWindow& window, QObject* parent = nullptr);

    const osc::PlotWindow& window() const { return window_; }
    osc::AxisRange windowRange() const { return {window_.minimum(), window_.maximum()}; }
    // The window becomes `range` (the smaller bound the minimum); then windowChanged(change).
    void setWindow(const osc::AxisRange& range, osc::WindowChange change);
    // After the decoder ran on a sample datagram: windowChanged(Decoder) when it moved the
    // window away from `before`.
    void decoderRan(const osc::PlotWindow& before);

    double markerX() const { return marks_.markerX; }  // FMarkerX: 0 means no marker
    void setMarkerX(double x);
    double cursorX() const { return marks_.cursorX; }  // FCursorX: -1 means no position
    void setCursorX(double x);
    std::optional<double> bitRate() const { return marks_.bitRate; }  // bits per second
    void setBitRate(std::optional<double> rate);

  signals:
    void windowChanged(osc::WindowChange change);
    void markerChanged();
    void cursorChanged();
    void bitRateChanged();

  private:
    osc::PlotWindow& window_;
    osc::PlotMarks marks_;
};

}  // namespace ui
