#pragma once
// Measurement on the plot: the cursor follows the mouse, snapped to the start of the level
// under it; a click drops the marker where the cursor is; the readouts show both in bits and
// their distance, and the bits between marker and cursor are decoded into the two decode lines.

#include <QObject>
#include <QRect>
#include <QString>

#include <optional>
#include <string_view>

#include "core/capture/capture_engine.h"
#include "core/frames/bit_stream.h"
#include "ui/frames/FramesPart.h"

namespace ui {

// The widgets of the measurement, as the form shows them.
class MeasurementView {
  public:
    virtual ~MeasurementView() = default;
    // The plotting rectangle in chart pixels (left and top edges inside).
    virtual QRect plotRect() const = 0;
    // The bottom-axis value at the mouse pointer, taken from the pointer itself.
    virtual double pointerBottomValue() const = 0;
    virtual int channelAtMouse() const = 0;  // ChannelAtMouse
    // seByteBitsCount, cbReverseBits, cbInverseBits, cbBitStaff as they are now.
    virtual osc::BitStreamOptions bitStreamOptions() const = 0;
    virtual void setBitStreamOptions(const osc::BitStreamOptions& options) = 0;
    virtual void setCursorText(const QString& text) = 0;    // lblStrobe
    virtual void setMarkerText(const QString& text) = 0;    // lblMarker
    virtual void setDistanceText(const QString& text) = 0;  // lblDiff
    virtual void setDecodedText(const QString& bits, const QString& values) = 0;
    // Why the decode lines show "?" (their tooltip), or empty when they show a decode.
    virtual void setDecodeReason(const QString& /*reason*/) {}
};

class PlotState;

// The positions themselves and the bit rate are the view state's (ui/plot/PlotState.h); the part
// moves them and keeps the readouts and the two lines in step.
class MeasurementPart : public QObject {
    Q_OBJECT
  public:
    MeasurementPart(osc::CaptureEngine& engine, PlotState& plot, MeasurementView& view);

    // Chart1MouseMove at (x, y) in chart pixels. Whatever fails after the rectangle test ends
    // the move silently; what was done stays done.
    void mouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void click();  // Chart1Click: the marker where the cursor is
    // DecodeBitStream; throws for a bit count of 0 (the mouse move then ends there).
    void decodeBitStream();
    // The decoder's options changed ("Рев", "Инв", "Стафф", "Бит в байте"): the lines decoded
    // again for the marker, cursor and line of the last decode, without a mouse move.
    void optionsChanged();
    // A start or a load: no marker (its line gone), the readouts refreshed ("???" for the
    // marker and the distance), the decode lines back to "?".
    void resetForNewTraces();
    // Why a decode between the marker and the cursor on that channel gives "?": no marker, a
    // span of 257 bits or more, no line, or a marker or cursor off the line's level changes.
    QString decodeFailureReason(int channel) const;

    // A stretch of one channel chosen elsewhere (a frame in the table): the marker at markerX,
    // the cursor at cursorX, their readouts, the distance and both lines, and the decode lines
    // of that channel's trace with the current settings and no span limit (a long frame shows
    // whole). When the decoder fails (during a capture the positions are not points of the
    // trace yet), fallbackBits are grouped and shown instead, if given, else "?". Returns what
    // the decode lines got (a bit count of 0 leaves them as they are).
    osc::BitStreamResult measure(int channel, double markerX, double cursorX,
                                 std::string_view fallbackBits = {});
    // A frame chosen in the table: the decoder's options from the frame decoder's, then
    // measure over the frame, its line bits standing in.
    void measureFrame(const FrameMeasure& frame);

    double markerX() const;                                 // FMarkerX: 0 means no marker
    double cursorX() const;                                 // FCursorX: -1 means no position
    int decodedChannel() const { return decodedChannel_; }  // the line of the last decode
    // The marker position alone, without its readout or line (the start of a capture sets 0).
    void setMarkerX(double x);

  private:
    // With a bit rate the readouts add the time to their bit texts ("1 + 44/256 (122,1 мкс)");
    // a change of the rate writes the readouts shown now again.
    void bitRateChanged();
    QString positionText(osc::Tick ticks) const;

    osc::CaptureEngine& engine_;
    PlotState& plot_;
    MeasurementView& view_;
    // The positions that the three readouts show now (none while one shows "???").
    std::optional<osc::Tick> shownMarker_, shownCursor_, shownDistance_;
    int decodedChannel_ = -1;       // the line of the last decode
    bool decodeUnlimited_ = false;  // the last decode was a chosen stretch (no span limit)

    void showDecode(const osc::BitStreamResult& result, int channel);
};

}  // namespace ui
