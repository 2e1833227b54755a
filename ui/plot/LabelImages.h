#pragma once
// Axis labels drawn once and then copied: laying out and rasterising a text (turned, on the
// bottom axis) on every repaint is most of what repainting a still plot costs besides the
// traces. A label seen again is drawn into an image with the same transformation, font and
// colour, so the copy lights the same pixels as drawing the text would; a label seen once (a
// live capture brings new ones all the time) is drawn in place.
//
// Only for painters that put pixels into an image or a widget at one device pixel per pixel
// with no more than a whole-pixel offset; any other painter (an SVG file, a printer, a scaled
// screen) gets the text itself, so that it stays text there.

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

namespace ui {

class LabelImages {
  public:
    // What p.translate(origin); p.rotate(degrees); p.drawText(rect, flags, text) draws in
    // colour and font, p's state left as it was. degrees: a multiple of 90.
    void draw(QPainter& p, QPoint origin, int degrees, const QRect& rect, int flags,
              const QString& text, const QColor& colour, const QFont& font);

    // Labels seen (for tests); the store is emptied when it grows past kMaxLabels.
    qsizetype size() const { return images_.size(); }
    static constexpr qsizetype kMaxLabels = 1024;

  private:
    struct Key {
        QString text;
        int degrees, x, y, width, height, flags;
        QRgb colour;
        bool operator==(const Key&) const = default;
    };
    friend size_t qHash(const Key& k, size_t seed) {
        return qHashMulti(seed, k.text, k.degrees, k.x, k.y, k.width, k.height, k.flags, k.colour);
    }
    struct Label {
        QImage image;
        QPoint offset;  // of the image's top left from the origin
    };

    QHash<Key, Label> images_;
    QFont font_;  // of the labels kept
};

}  // namespace ui
