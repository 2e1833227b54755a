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
    decodedChannel_ = channel;
    decodeUnlimited_ = true;
    if (result.status != osc::BitStreamStatus::Aborted) {
        showDecode(result, channel);
    }
    return result;
}

void MeasurementPart::measureFrame(const FrameMeasure& frame) {
    view_.setBitStreamOptions(frame.decoder);
    measure(frame.channel, frame.markerX, frame.cursorX, frame.lineBits);
}

void MeasurementPart::showDecode(const osc::BitStreamResult& result, int channel) {
    view_.setDecodedText(QString::fromStdString(result.bitText),
                         QString::fromStdString(result.valueText));
    view_.setDecodeReason(
        result.status == osc::BitStreamStatus::Failed ? decodeFailureReason(channel) : QString());
}

QString MeasurementPart::decodeFailureReason(int channel) const {
    const double markerX = plot_.markerX();
    if (markerX == 0) {
        return QStringLiteral("Нет маркера: щёлкните по графику, чтобы поставить его");
    }
    if (!decodeUnlimited_ &&
        std::fabs(plot_.cursorX() - markerX) >= osc::BitStreamOptions{}.spanLimit) {
        return QStringLiteral("Между маркером и курсором 257 бит или больше");
    }
    if (channel < 0 || channel >= osc::kChannelCount) {
        return QStringLiteral("Курсор не на линии: наведите его на одну из линий");
    }
    return QStringLiteral("Маркер или курсор не на смене уровня линии «%1»")
        .arg(QString::fromUtf8(osc::kChannels[static_cast<std::size_t>(channel)].name));
}

void MeasurementPart::optionsChanged() {
    const double markerX = plot_.markerX();
    const double cursorX = plot_.cursorX();
    if (markerX == 0 || decodedChannel_ < 0 || !(cursorX > markerX)) {
        return;  // nothing decoded yet: the next move decodes with the new options
    }
    osc::BitStreamOptions options = view_.bitStreamOptions();
    if (decodeUnlimited_) {
        options.spanLimit = std::numeric_limits<double>::infinity();
    }
    const osc::BitStreamResult result =
        osc::DecodeBitStream(engine_.traces, decodedChannel_, markerX, cursorX, options);
    if (result.status != osc::BitStreamStatus::Aborted) {
        showDecode(result, decodedChannel_);
    }
}

void MeasurementPart::resetForNewTraces() {
    plot_.setMarkerX(0);
    shownMarker_.reset();
    shownDistance_.reset();
    decodedChannel_ = -1;
    // The marker line back as at creation: two points at 0, drawn as nothing.
    if (engine_.markerLine.count() >= 2) {
        engine_.markerLine.setX(0, 0);
        engine_.markerLine.setX(1, 1);
        engine_.markerLine.setY(0, 0);
        engine_.markerLine.setY(1, 0);
    }
    view_.setMarkerText(QStringLiteral("???"));
    view_.setDistanceText(QStringLiteral("???"));
    if (shownCursor_) {
        view_.setCursorText(positionText(*shownCursor_));
    }
    view_.setDecodedText(QStringLiteral("?"), QStringLiteral("?"));
    view_.setDecodeReason(decodeFailureReason(-1));
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
    const int channel = view_.channelAtMouse();
    const osc::BitStreamResult result = osc::DecodeBitStream(
        engine_.traces, channel, plot_.markerX(), plot_.cursorX(), view_.bitStreamOptions());
    if (result.status == osc::BitStreamStatus::Aborted) {
        throw std::domain_error("Division by zero");
    }
    decodedChannel_ = channel;
    decodeUnlimited_ = false;
    showDecode(result, channel);
}

}  // namespace ui
