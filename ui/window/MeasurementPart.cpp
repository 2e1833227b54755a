#include "ui/window/MeasurementPart.h"

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

#include "core/view/cursor_snap.h"
#include "core/view/plot_labels.h"
#include "core/view/time_text.h"

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

MeasurementPart::MeasurementPart(osc::CaptureEngine& engine, MeasurementView& view)
    : engine_(engine), view_(view) {}

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
        cursorX_ = *cursor;
        if (cursorX_ == osc::kNoCursor) {
            view_.setCursorText(QStringLiteral("???"));
            shownCursor_.reset();
        } else {
            shownCursor_ = osc::truncateToTick(cursorX_);
            view_.setCursorText(positionText(*shownCursor_));
            if (markerX_ != 0) {
                shownDistance_ = osc::truncateToTick(std::fabs(cursorX_ - markerX_));
                view_.setDistanceText(positionText(*shownDistance_));
            }
            if (cursorX_ > markerX_) {
                decodeBitStream();
            }
        }
        placeLine(engine_.cursorLine, cursorX_);
        view_.plotChanged();
    } catch (...) {
    }
}

void MeasurementPart::click() {
    markerX_ = cursorX_;
    shownMarker_ = osc::truncateToTick(markerX_);
    view_.setMarkerText(positionText(*shownMarker_));
    placeLine(engine_.markerLine, markerX_);
    view_.plotChanged();
}

osc::BitStreamResult MeasurementPart::measure(int channel, double markerX, double cursorX,
                                              std::string_view fallbackBits) {
    markerX_ = markerX;
    shownMarker_ = osc::truncateToTick(markerX_);
    view_.setMarkerText(positionText(*shownMarker_));
    placeLine(engine_.markerLine, markerX_);
    cursorX_ = cursorX;
    shownCursor_ = osc::truncateToTick(cursorX_);
    view_.setCursorText(positionText(*shownCursor_));
    shownDistance_ = osc::truncateToTick(std::fabs(cursorX_ - markerX_));
    view_.setDistanceText(positionText(*shownDistance_));
    placeLine(engine_.cursorLine, cursorX_);
    osc::BitStreamOptions options = view_.bitStreamOptions();
    options.spanLimit = std::numeric_limits<double>::infinity();
    osc::BitStreamResult result =
        osc::DecodeBitStream(engine_.traces, channel, markerX_, cursorX_, options);
    if (result.status == osc::BitStreamStatus::Failed && !fallbackBits.empty()) {
        result = osc::GroupBitText(fallbackBits, options);
    }
    decodedChannel_ = channel;
    decodeUnlimited_ = true;
    if (result.status != osc::BitStreamStatus::Aborted) {
        showDecode(result, channel);
    }
    view_.plotChanged();
    return result;
}

void MeasurementPart::showDecode(const osc::BitStreamResult& result, int channel) {
    view_.setDecodedText(QString::fromStdString(result.bitText),
                         QString::fromStdString(result.valueText));
    view_.setDecodeReason(
        result.status == osc::BitStreamStatus::Failed ? decodeFailureReason(channel) : QString());
}

QString MeasurementPart::decodeFailureReason(int channel) const {
    if (markerX_ == 0) {
        return QStringLiteral("Нет маркера: щёлкните по графику, чтобы поставить его");
    }
    if (!decodeUnlimited_ && std::fabs(cursorX_ - markerX_) >= osc::BitStreamOptions{}.spanLimit) {
        return QStringLiteral("Между маркером и курсором 257 бит или больше");
    }
    if (channel < 0 || channel >= osc::kChannelCount) {
        return QStringLiteral("Курсор не на линии: наведите его на одну из линий");
    }
    return QStringLiteral("Маркер или курсор не на смене уровня линии «%1»")
        .arg(QString::fromUtf8(osc::kChannels[static_cast<std::size_t>(channel)].name));
}

void MeasurementPart::optionsChanged() {
    if (markerX_ == 0 || decodedChannel_ < 0 || !(cursorX_ > markerX_)) {
        return;  // nothing decoded yet: the next move decodes with the new options
    }
    osc::BitStreamOptions options = view_.bitStreamOptions();
    if (decodeUnlimited_) {
        options.spanLimit = std::numeric_limits<double>::infinity();
    }
    const osc::BitStreamResult result =
        osc::DecodeBitStream(engine_.traces, decodedChannel_, markerX_, cursorX_, options);
    if (result.status != osc::BitStreamStatus::Aborted) {
        showDecode(result, decodedChannel_);
    }
}

void MeasurementPart::resetForNewTraces() {
    markerX_ = 0;
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
    view_.plotChanged();
}

QString MeasurementPart::positionText(osc::Tick ticks) const {
    return QString::fromStdString(osc::PositionText(ticks, bitRate_));
}

void MeasurementPart::setBitRate(std::optional<double> rate) {
    bitRate_ = rate;
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
    const osc::BitStreamResult result =
        osc::DecodeBitStream(engine_.traces, channel, markerX_, cursorX_, view_.bitStreamOptions());
    if (result.status == osc::BitStreamStatus::Aborted) {
        throw std::domain_error("Division by zero");
    }
    decodedChannel_ = channel;
    decodeUnlimited_ = false;
    showDecode(result, channel);
}

}  // namespace ui
