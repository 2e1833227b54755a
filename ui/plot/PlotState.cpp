#include "ui/plot/PlotState.h"

namespace ui {

PlotState::PlotState(osc::PlotWindow& window, QObject* parent) : QObject(parent), window_(window) {}

void PlotState::setWindow(const osc::AxisRange& range, osc::WindowChange change) {
    window_.setMinMax(range.minimum, range.maximum);
    emit windowChanged(change);
}

void PlotState::decoderRan(const osc::PlotWindow& before) {
    if (!(window_ == before)) {
        emit windowChanged(osc::WindowChange::Decoder);
    }
}

void PlotState::setMarkerX(double x) {
    marks_.markerX = x;
    emit markerChanged();
}

void PlotState::setCursorX(double x) {
    marks_.cursorX = x;
    emit cursorChanged();
}

void PlotState::setBitRate(std::optional<double> rate) {
    marks_.bitRate = rate;
    emit bitRateChanged();
}

}  // namespace ui
