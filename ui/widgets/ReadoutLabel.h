#pragma once
// A position readout of the readout panel: shows its whole text, never cut or elided. A text
// wider than the label is drawn in a smaller size of the label's font, down to a floor that
// stays legible; the label keeps its place and width.

#include <QAbstractSpinBox>
#include <QLabel>

namespace ui {

class ReadoutLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;

    // The font the current text is drawn in: the label's font, or a smaller size of it that
    // fits the text into the contents rectangle.
    QFont fittedFont() const;

    static constexpr double kSmallestPointSize = 5.5;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A spin box whose number would not fit its edit field (a count of bits in the millions) gives
// the number the room of its arrows and, if need be, a smaller size of its font, as a readout
// does; back to its arrows and its own size when the number fits again.
void fitSpinBoxText(QAbstractSpinBox* box);
// The pixels that the edit field of box offers its text with the given buttons.
int spinBoxTextRoom(const QAbstractSpinBox* box, QAbstractSpinBox::ButtonSymbols buttons);

// Widens each readout to the right up to the text of the caption that follows it on its row
// (captions are right-aligned, so their boxes start left of their text), less a gap of 4
// pixels. The readouts keep their left edges.
void widenReadouts(std::initializer_list<std::pair<QLabel*, const QLabel*>> readoutAndNextCaption);

}  // namespace ui
