// The readout panel as the operator reads it: positions of long captures shown whole, and
// check boxes whose tick shows on the black panel.

#include <QCheckBox>
#include <QImage>
#include <QPainter>
#include <QSpinBox>

#include "tests/ui/ui_test_support.h"
#include "ui/widgets/ReadoutLabel.h"

namespace uitest {
namespace {

class Readouts : public WindowTest {
  protected:
    void SetUp() override { startUp(); }
};

// The widest texts of each readout: nine-digit bit numbers with the widest fraction. Each is
// drawn whole (no eliding) in a font that fits its label, and the labels keep their places.
TEST_F(Readouts, NineDigitPositionsAreNotCut) {
    const QString texts[] = {QStringLiteral("999999999 + 255/256"),
                             QStringLiteral("888888888 + 248/256"), QStringLiteral("???"),
                             QStringLiteral("0")};
    const std::pair<QLabel*, int> readouts[] = {
        {lblMarker(), 68}, {lblStrobe(), 219}, {lblDiff(), 370}};
    for (const auto& [label, left] : readouts) {
        SCOPED_TRACE(label->objectName().toStdString());
        auto* readout = dynamic_cast<ui::ReadoutLabel*>(label);
        ASSERT_NE(readout, nullptr);
        EXPECT_EQ(label->x(), left);
        EXPECT_GE(label->width(), 85) << "widened, never narrowed";
        for (const QString& text : texts) {
            label->setText(text);
            const QFont font = readout->fittedFont();
            EXPECT_LE(QFontMetrics(font).horizontalAdvance(text), label->contentsRect().width())
                << text.toStdString();
            EXPECT_GE(font.pointSizeF(), ui::ReadoutLabel::kSmallestPointSize);
            EXPECT_TRUE(font.bold());
            // Short texts keep the panel's font.
            if (text.size() < 5) {
                EXPECT_EQ(font, label->font());
            }
            // On the pixels: nothing drawn in the last column, so nothing ran over the edge.
            QImage image(label->size(), QImage::Format_ARGB32);
            image.fill(Qt::black);
            label->render(&image);
            bool lastColumnLit = false;
            for (int y = 0; y < image.height(); ++y) {
                lastColumnLit |= qGray(image.pixel(image.width() - 1, y)) > 128;
            }
            EXPECT_FALSE(lastColumnLit) << text.toStdString();
        }
    }
    // The readouts end before the texts of the captions that follow them (right-aligned in
    // their boxes) begin.
    const QFontMetrics fm(Panel3()->font());
    EXPECT_LT(lblMarker()->geometry().right(), 155 + 59 - fm.horizontalAdvance("Курсор"));
    EXPECT_LT(lblStrobe()->geometry().right(), 306 + 59 - fm.horizontalAdvance("Разность"));
    EXPECT_LT(lblDiff()->geometry().right(), 460 + 70 - fm.horizontalAdvance("Бит в окне"));
}

// "Бит в окне" showing a whole long capture: the number fits its field, in a smaller size
// while it is long and in the panel's size again when it is short.
TEST_F(Readouts, LongBitCountsFitTheirField) {
    QSpinBox* bits = seWindowBitsCount();
    const double own = bits->font().pointSizeF();
    for (const int value : {1234567, 123456789, -123456789, 100}) {
        bits->setValue(value);
        const QFontMetrics fm(bits->font());
        EXPECT_LE(fm.horizontalAdvance(bits->text()),
                  ui::spinBoxTextRoom(bits, bits->buttonSymbols()))
            << value;
        EXPECT_GE(bits->font().pointSizeF(), ui::ReadoutLabel::kSmallestPointSize);
    }
    EXPECT_EQ(bits->font().pointSizeF(), own);
    EXPECT_EQ(bits->buttonSymbols(), QAbstractSpinBox::UpDownArrows);
    EXPECT_EQ(bits->geometry(), QRect(536, 4, 57, 21)) << "the field keeps its place and size";
}

// A ticked box differs from an unticked one where the tick is, and its caption stays light on
// black.
TEST_F(Readouts, TickedBoxesShowTheirTick) {
    for (QCheckBox* box : {cbReverseBits(), cbInverseBits(), cbBitStaff()}) {
        SCOPED_TRACE(box->objectName().toStdString());
        const QPalette pal = box->palette();
        EXPECT_GT(qGray(pal.color(QPalette::WindowText).rgb()), 160) << "light caption";
        EXPECT_GT(std::abs(qGray(pal.color(QPalette::Base).rgb()) -
                           qGray(pal.color(QPalette::Text).rgb())),
                  128)
            << "the tick stands out from the box";
        box->setChecked(false);
        const QImage off = box->grab().toImage();
        box->setChecked(true);
        const QImage on = box->grab().toImage();
        int changed = 0, dark = 0;
        for (int y = 0; y < on.height(); ++y) {
            for (int x = 0; x < std::min(on.width(), 16); ++x) {
                if (on.pixel(x, y) != off.pixel(x, y)) {
                    ++changed;
                    dark += qGray(on.pixel(x, y)) < 100 ? 1 : 0;
                }
            }
        }
        EXPECT_GE(dark, 6) << "dark tick pixels in the white box (" << changed << " changed)";
        box->setChecked(false);
    }
}

}  // namespace
}  // namespace uitest
