#include "ui/LabelImages.h"

#include <QTransform>

#include "ui/WholePixels.h"

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
    if (!paintsWholePixels(p)) {
        p.save();
        p.translate(origin);
        drawText(p);
        p.restore();
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
        if (images_.size() >= kMaxLabels) {
            images_.clear();
        }
        QTransform turn;
        turn.rotate(degrees);
        const QRect bounds = turn.mapRect(rect).adjusted(-kMargin, -kMargin, kMargin, kMargin);
        Label label;
        label.image = QImage(bounds.size(), QImage::Format_ARGB32_Premultiplied);
        label.image.fill(Qt::transparent);
        label.offset = bounds.topLeft();
        QPainter ip(&label.image);
        ip.translate(-bounds.left(), -bounds.top());
        drawText(ip);
        ip.end();
        it = images_.insert(key, std::move(label));
    }
    p.drawImage(origin + it->offset, it->image);
}

}  // namespace ui
