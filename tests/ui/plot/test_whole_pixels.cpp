// Drawing by whole pixels lights what the pen and the text would: labels copied from images
// whatever their turn, alignment, place and colour, dotted grid lines as texture fills; painters
// that scale get the text and the pen themselves.

#include "ui/plot/WholePixels.h"

#include <QFontMetrics>

#include <random>

#include "tests/ui/ui_test_support.h"
#include "ui/plot/LabelImages.h"
#include "ui/widgets/Fonts.h"

namespace {

struct Case {
    int degrees;
    QRect rect;
    int flags;
    QString text;
    QColor colour;
};

QImage blackImage() {
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

// The text drawn as the plot drew its labels before they were copied.
QImage direct(const Case& c, QPoint origin, const QFont& font) {
    QImage image = blackImage();
    QPainter p(&image);
    p.translate(origin);
    p.rotate(c.degrees);
    p.setPen(c.colour);
    p.setFont(font);
    p.drawText(c.rect, c.flags, c.text);
    return image;
}

QImage copied(ui::LabelImages& labels, const Case& c, QPoint origin, const QFont& font,
              const QTransform& extra = {}) {
    QImage image = blackImage();
    QPainter p(&image);
    p.setTransform(extra);
    labels.draw(p, origin, c.degrees, c.rect, c.flags, c.text, c.colour, font);
    return image;
}

TEST(LabelImages, CopiesLightTheSamePixelsAsTheText) {
    uitest::app();
    const QFont font = ui::arialFont(8);
    const int h = QFontMetrics(font).height();
    const Case cases[] = {
        {-90, QRect(-50, -h / 2, 50, h), Qt::AlignRight | Qt::AlignVCenter, "122880",
         QColor(128, 128, 128)},
        {-90, QRect(-20, -h / 2, 20, h), Qt::AlignRight | Qt::AlignVCenter, "1234567890",
         Qt::white},  // longer than its room
        {0, QRect(0, 0, 50, h), Qt::AlignRight | Qt::AlignVCenter, "Приём1", Qt::white},
        {0, QRect(0, 0, 50, h), Qt::AlignLeft | Qt::AlignTop, "Wy/gj|", QColor(255, 255, 0)},
        {90, QRect(3, -h, 40, h), Qt::AlignCenter, "0:00:01.5", Qt::red},
        {180, QRect(-30, -h, 30, h), Qt::AlignLeft, "Стр", Qt::green},
        {0, QRect(0, 0, 40, h), Qt::AlignRight, "", Qt::white},
    };
    ui::LabelImages labels;
    for (const Case& c : cases) {
        for (QPoint origin : {QPoint(60, 60), QPoint(0, 0), QPoint(157, 3)}) {
            SCOPED_TRACE(c.text.toStdString() + " at " + std::to_string(c.degrees));
            const QImage expected = direct(c, origin, font);
            if (origin == QPoint(60, 60)) {  // in the middle: something to compare
                EXPECT_EQ(expected == blackImage(), c.text.isEmpty());
            }
            EXPECT_EQ(copied(labels, c, origin, font), expected);  // drawn into its image
            EXPECT_EQ(copied(labels, c, origin, font), expected);  // copied again
        }
    }
    EXPECT_EQ(labels.size(), static_cast<qsizetype>(std::size(cases)));
}

TEST(LabelImages, PaintersThatScaleGetTheTextAndTheStoreStaysBounded) {
    uitest::app();
    const QFont font = ui::arialFont(8);
    ui::LabelImages labels;
    const Case c{-90, QRect(-50, -6, 50, 12), Qt::AlignRight, "2560", Qt::white};
    QTransform scale;
    scale.scale(1.5, 1.5);
    QImage expected = blackImage();
    {
        QPainter p(&expected);
        p.setTransform(scale);
        p.translate(40, 40);
        p.rotate(-90);
        p.setPen(Qt::white);
        p.setFont(font);
        p.drawText(c.rect, c.flags, c.text);
    }
    EXPECT_EQ(copied(labels, c, QPoint(40, 40), font, scale), expected);
    EXPECT_EQ(labels.size(), 0);

    for (int i = 0; i < ui::LabelImages::kMaxLabels + 10; ++i) {
        copied(labels, {0, QRect(0, 0, 40, 12), Qt::AlignLeft, QString::number(i), Qt::white},
               QPoint(0, 0), font);
        ASSERT_LE(labels.size(), ui::LabelImages::kMaxLabels);
    }
}

TEST(DottedLines, LightWhatTheDottedPenLights) {
    uitest::app();
    std::mt19937 random(7);
    const QColor grid(48, 48, 48);
    for (int round = 0; round < 20; ++round) {
        QImage byPen(97, 61, QImage::Format_RGB32), byFill(97, 61, QImage::Format_RGB32);
        byPen.fill(Qt::black);
        byFill.fill(Qt::black);
        QPainter pen(&byPen), fill(&byFill);
        const QPoint offset(static_cast<int>(random() % 5), static_cast<int>(random() % 5));
        pen.translate(offset);
        fill.translate(offset);
        pen.setPen(QPen(grid, 0, Qt::DotLine));
        // Crossing lines of every length from a single pixel on, inside the image as the grid.
        for (int k = 0; k < 12; ++k) {
            const int x = static_cast<int>(random() % 90);
            const int y = static_cast<int>(random() % 55);
            const int length =
                static_cast<int>(random() % (k < 4 ? 4 : 40)) % (k % 2 == 0 ? 55 - y : 90 - x);
            const QPoint from(x, y);
            const QPoint to = k % 2 == 0 ? QPoint(x, y + length) : QPoint(x + length, y);
            pen.drawLine(from, to);
            ui::drawDottedLine(fill, from, to, grid);
        }
        pen.end();
        fill.end();
        for (int y = 0; y < byPen.height(); ++y) {
            for (int x = 0; x < byPen.width(); ++x) {
                ASSERT_EQ(byFill.pixel(x, y), byPen.pixel(x, y))
                    << x << "," << y << " round " << round;
            }
        }
    }
}

}  // namespace
