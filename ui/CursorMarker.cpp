// Cursor and marker on the plot: the cursor follows the mouse, snapped to the start of the level
// under it; a click drops the marker there; the readouts show both in bits, and the bits
// between them are decoded.

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>

#include <cmath>
#include <stdexcept>

#include "core/bit_stream.h"
#include "core/cursor_snap.h"
#include "core/plot_labels.h"
#include "ui/MainUnit.h"

namespace {

QString bitText(double ticks) {
    return QString::fromStdString(osc::TicksToBitText(osc::truncateToTick(ticks)));
}

// Both points of a vertical line at x: (x, 20) and (x, 0).
void placeLine(osc::ChannelTrace& line, double x) {
    const osc::Tick tick = osc::truncateToTick(x);
    line.setX(0, tick);
    line.setX(1, tick);
    line.setY(0, 20);
    line.setY(1, 0);
}

}  // namespace

void TfrmMain::Chart1MouseMove(Qt::KeyboardModifiers shift, int x, int y) {
    const QRect plot = Chart1->plotRect();
    // Left and top edges inside, right and bottom edges outside.
    if (x < plot.left() || x >= plot.left() + plot.width() || y < plot.top() ||
        y >= plot.top() + plot.height()) {
        return;
    }
    // Whatever fails from here on ends this move silently; what was done stays done.
    try {
        const double mx = Chart1->pointerBottomValue();
        const int channel = ChannelAtMouse();
        const std::optional<double> cursor =
            osc::cursorForMouse(FEngine.traces, channel, shift.testFlag(Qt::ControlModifier),
                                FEngine.window.minimum(), FEngine.window.maximum(), mx);
        if (!cursor) {
            return;  // no point left of the mouse: the read fails
        }
        FCursorX = *cursor;
        if (FCursorX == osc::kNoCursor) {
            lblStrobe->setText(QStringLiteral("???"));
        } else {
            lblStrobe->setText(bitText(FCursorX));
            if (FMarkerX != 0) {
                lblDiff->setText(bitText(std::fabs(FCursorX - FMarkerX)));
            }
            if (FCursorX > FMarkerX) {
                DecodeBitStream();
            }
        }
        placeLine(FEngine.cursorLine, FCursorX);
        Chart1->markDirty();
    } catch (...) {
    }
}

void TfrmMain::Chart1Click() {
    FMarkerX = FCursorX;
    lblMarker->setText(bitText(FMarkerX));
    placeLine(FEngine.markerLine, FMarkerX);
    Chart1->markDirty();
}

void TfrmMain::DecodeBitStream() {
    osc::BitStreamOptions options;
    options.bitsPerGroup = seByteBitsCount->value();
    options.reverse = cbReverseBits->isChecked();
    options.invert = cbInverseBits->isChecked();
    options.unstuff = cbBitStaff->isChecked();
    const osc::BitStreamResult result =
        osc::DecodeBitStream(FEngine.traces, ChannelAtMouse(), FMarkerX, FCursorX, options);
    if (result.status == osc::BitStreamStatus::Aborted) {
        throw std::domain_error("Division by zero");
    }
    lblBitStream->setText(QString::fromStdString(result.bitText));
    lblBytesDecoded->setText(QString::fromStdString(result.valueText));
}
