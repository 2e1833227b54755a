#include "ui/plot/PlotState.h"

namespace ui {

PlotState::PlotState(osc::PlotWindow& window, QObject* parent)
    : QObject(parent), window_(window) {}

void PlotState::setWindow(const osc::AxisRange& range, osc::WindowChange change) {
    osc::PlotWindow window;
    window.setMinMax(range.minimum, range.maximum);
    if (window == window_) {
        return;
    }
    window_ = window;
    emit windowChanged(change);
}

void PlotState::decoderRan(const osc::PlotWindow& before) {
    if (!(window_ == before)) {
        emit windowChanged(osc::WindowChange::Decoder);
    }
}

void PlotState::setMarkerX(double x) {
    if (x != marks_.markerX) {
        marks_.markerX = x;
        emit markerChanged();
    }
}

void PlotState::setCursorX(double x) {
    if (x != marks_.cursorX) {
        marks_.cursorX = x;
        emit cursorChanged();
    }
}

void PlotState::setBitRate(std::optional<double> rate) {
    if (rate != marks_.bitRate) {
        marks_.bitRate = rate;
        emit bitRateChanged();
    }
}

}  // namespace ui
