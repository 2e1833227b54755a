#pragma once
// The readout panel Panel3 across the top of the tab "Осциллограмма": black, 63 pixels high,
// with the readouts lblMarker, lblStrobe and lblDiff, "Бит в окне" (seWindowBitsCount, no
// bounds), "Бит в байте" (seByteBitsCount, 1 to 16), the decoder's check boxes cbReverseBits,
// cbInverseBits and cbBitStaff, and the two decode lines lblBitStream and lblBytesDecoded. It
// is the measurement's view; what the measurement needs to know of the mouse it asks the plot.
//
// The readouts are as wide as their texts: in their designed places while the texts fit them,
// otherwise flowing onto further rows (the panel growing) before the controls at the right. The
// decode lines under them can be selected and copied, and scroll sideways when longer than the
// panel; their tooltip says why they show "?".

#include <QFrame>
#include <QList>
#include <QRect>
#include <QStringList>

#include "ui/window/MeasurementPart.h"

class OscPlot;
class QCheckBox;
class QLabel;
class QScrollArea;
class QSpinBox;

namespace ui {

class FormStorage;

class ReadoutPanel final : public QFrame, public MeasurementView {
    Q_OBJECT
  public:
    // plot: where the mouse is, for the measurement.
    ReadoutPanel(const OscPlot& plot, QWidget* parent);

    // The palette of an edit in the panel: the ordinary edit colours inside the black panel
    // (the progress panel takes it too).
    const QPalette& editPalette() const { return editPalette_; }
    // The five values stored between runs: cbReverseBits.Checked, seByteBitsCount.Value,
    // seWindowBitsCount.Value, cbInverseBits.Checked, cbBitStaff.Checked, in this order.
    void storeSettingsIn(FormStorage& storage);
    // The readouts and the decode lines as lines of a picture's header.
    QStringList pictureLines() const;

    // MeasurementView
    QRect plotRect() const override;
    double pointerBottomValue() const override;
    int channelAtMouse() const override;
    osc::BitStreamOptions bitStreamOptions() const override;
    void setBitStreamOptions(const osc::BitStreamOptions& options) override;
    void setCursorText(const QString& text) override;
    void setMarkerText(const QString& text) override;
    void setDistanceText(const QString& text) override;
    void setDecodedText(const QString& bits, const QString& values) override;
    void setDecodeReason(const QString& reason) override;

    QLabel* lblMarker = nullptr;
    QLabel* lblStrobe = nullptr;
    QLabel* lblDiff = nullptr;
    QSpinBox* seWindowBitsCount = nullptr;
    QSpinBox* seByteBitsCount = nullptr;
    QCheckBox* cbReverseBits = nullptr;
    QCheckBox* cbInverseBits = nullptr;
    QCheckBox* cbBitStaff = nullptr;
    QLabel* lblBitStream = nullptr;
    QLabel* lblBytesDecoded = nullptr;

  signals:
    // "Бит в байте", "Рев", "Инв" or "Стафф" changed.
    void decoderOptionsChanged();

  private:
    void layOutReadouts();

    const OscPlot& plot_;
    QPalette editPalette_;
    QLabel* markerCaption_ = nullptr;
    QLabel* cursorCaption_ = nullptr;
    QLabel* distanceCaption_ = nullptr;
    QScrollArea* decodeArea_ = nullptr;  // the two decode lines, scrolled sideways
    QList<QRect> designedReadouts_;      // caption and readout of each pair, as designed
};

}  // namespace ui
