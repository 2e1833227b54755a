#include "ui/window/MeasurementPart.h"

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

#include "core/view/cursor_snap.h"
#include "core/view/plot_labels.h"
#include "core/view/time_text.h"
#include "ui/plot/PlotState.h"

namespace ui {

namespace {

// Both points of a vertical line at x: (x, 20) and (x, 0).
void placeLine(osc::ChannelTrace& line, double x) {
    const osc::Tick tick = osc::truncateToTick(x);
    line.setX(0, tick);
    line.setX(1, tick);
    line.setY(0, 20);
    line.setY(1, 0);
}

}  // namespace

MeasurementPart::MeasurementPart(osc::CaptureEngine& engine, PlotState& plot, MeasurementView& view)
    : engine_(engine), plot_(plot), view_(view) {
    connect(&plot, &PlotState::bitRateChanged, this, &MeasurementPart::bitRateChanged);
}

double MeasurementPart::markerX() const {
    return plot_.markerX();
}

double MeasurementPart::cursorX() const {
    return plot_.cursorX();
}

void MeasurementPart::setMarkerX(double x) {
    plot_.setMarkerX(x);
}

void MeasurementPart::mouseMove(Qt::KeyboardModifiers shift, int x, int y) {
    const QRect plot = view_.plotRect();
    // Left and top edges inside, right and bottom edges outside.
    if (x < plot.left() || x >= plot.left() + plot.width() || y < plot.top() ||
        y >= plot.top() + plot.height()) {
        return;
    }
    // Whatever fails from here on ends this move silently; what was done stays done.
    try {
        const double mx = view_.pointerBottomValue();
        const int channel = view_.channelAtMouse();
        const std::optional<double> cursor =
            osc::cursorForMouse(engine_.traces, channel, shift.testFlag(Qt::ControlModifier),
                                engine_.window.minimum(), engine_.window.maximum(), mx);
        if (!cursor) {
            return;  // no point left of the mouse: the read fails
        }
        const double cursorX = *cursor;
        const double markerX = plot_.markerX();
        plot_.setCursorX(cursorX);
        if (cursorX == osc::kNoCursor) {
            view_.setCursorText(QStringLiteral("???"));
            shownCursor_.reset();
        } else {
            shownCursor_ = osc::truncateToTick(cursorX);
            view_.setCursorText(positionText(*shownCursor_));
            if (markerX != 0) {
                shownDistance_ = osc::truncateToTick(std::fabs(cursorX - markerX));
                view_.setDistanceText(positionText(*shownDistance_));
            }
            if (cursorX > markerX) {
                decodeBitStream();
            }
        }
        placeLine(engine_.cursorLine, cursorX);
    } catch (...) {
    }
}

void MeasurementPart::click() {
    const double markerX = plot_.cursorX();
    plot_.setMarkerX(markerX);
    shownMarker_ = osc::truncateToTick(markerX);
    view_.setMarkerText(positionText(*shownMarker_));
    placeLine(engine_.markerLine, markerX);
}

osc::BitStreamResult MeasurementPart::measure(int channel, double markerX, double cursorX,
                                              std::string_view fallbackBits) {
    plot_.setMarkerX(markerX);
    shownMarker_ = osc::truncateToTick(markerX);
    view_.setMarkerText(positionText(*shownMarker_));
    placeLine(engine_.markerLine, markerX);
    plot_.setCursorX(cursorX);
    shownCursor_ = osc::truncateToTick(cursorX);
    view_.setCursorText(positionText(*shownCursor_));
    shownDistance_ = osc::truncateToTick(std::fabs(cursorX - markerX));
    view_.setDistanceText(positionText(*shownDistance_));
    placeLine(engine_.cursorLine, cursorX);
    osc::BitStreamOptions options = view_.bitStreamOptions();
    options.spanLimit = std::numeric_limits<double>::infinity();
    osc::BitStreamResult result =
        osc::DecodeBitStream(engine_.traces, channel, markerX, cursorX, options);
    if (result.status == osc::BitStreamStatus::Failed && !fallbackBits.empty()) {
        result = osc::GroupBitText(fallbackBits, options);
    }
    if (result.status != osc::BitStreamStatus::Aborted) {
        view_.setDecodedText(QString::fromStdString(result.bitText),
                             QString::fromStdString(result.valueText));
    }
    return result;
}

void MeasurementPart::measureFrame(const FrameMeasure& frame) {
    view_.setBitStreamOptions(frame.decoder);
    measure(frame.channel, frame.markerX, frame.cursorX, frame.lineBits);
}

QString MeasurementPart::positionText(osc::Tick ticks) const {
    return QString::fromStdString(osc::PositionText(ticks, plot_.bitRate()));
}

void MeasurementPart::bitRateChanged() {
    if (shownMarker_) {
        view_.setMarkerText(positionText(*shownMarker_));
    }
    if (shownCursor_) {
        view_.setCursorText(positionText(*shownCursor_));
    }
    if (shownDistance_) {
        view_.setDistanceText(positionText(*shownDistance_));
    }
}

void MeasurementPart::decodeBitStream() {
    const osc::BitStreamResult result =
        osc::DecodeBitStream(engine_.traces, view_.channelAtMouse(), plot_.markerX(),
                             plot_.cursorX(), view_.bitStreamOptions());
    if (result.status == osc::BitStreamStatus::Aborted) {
        throw std::domain_error("Division by zero");
    }
    view_.setDecodedText(QString::fromStdString(result.bitText),
                         QString::fromStdString(result.valueText));
}

}  // namespace ui
