#include "ui/plot/LabelImages.h"

#include <QTransform>

#include "ui/plot/WholePixels.h"

namespace ui {

namespace {

constexpr int kMargin = 2;  // room for glyphs that reach out of the rectangle

}  // namespace

void LabelImages::draw(QPainter& p, QPoint origin, int degrees, const QRect& rect, int flags,
                       const QString& text, const QColor& colour, const QFont& font) {
    const auto drawText = [&](QPainter& to) {
        to.rotate(degrees);
        to.setPen(colour);
        to.setFont(font);
        to.drawText(rect, flags, text);
    };
    const auto drawInPlace = [&] {
        p.save();
        p.translate(origin);
        drawText(p);
        p.restore();
    };
    if (!paintsWholePixels(p)) {
        drawInPlace();
        return;
    }
    if (font != font_) {
        images_.clear();
        font_ = font;
    }
    const Key key{text,         degrees,       rect.x(),   rect.y(),
                  rect.width(), rect.height(), int(flags), colour.rgba()};
    auto it = images_.find(key);
    if (it == images_.end()) {
        // Seen for the first time: drawn in place. A live capture shows new labels in every
        // repaint, and an image made for each would only add to the cost.
        if (images_.size() >= kMaxLabels) {
            images_.clear();
        }
        images_.insert(key, Label{});
        drawInPlace();
        return;
    }
    if (it->image.isNull()) {
        QTransform turn;
        turn.rotate(degrees);
        const QRect bounds = turn.mapRect(rect).adjusted(-kMargin, -kMargin, kMargin, kMargin);
        it->image = QImage(bounds.size(), QImage::Format_ARGB32_Premultiplied);
        it->image.fill(Qt::transparent);
        it->offset = bounds.topLeft();
        QPainter ip(&it->image);
        ip.translate(-bounds.left(), -bounds.top());
        drawText(ip);
    }
    p.drawImage(origin + it->offset, it->image);
}

}  // namespace ui
