#include "ui/plot/WholePixels.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPen>
#include <QTransform>

#include <cmath>
#include <vector>

namespace ui {

bool paintsWholePixels(const QPainter& p) {
    const QTransform t = p.deviceTransform();
    return p.paintEngine() != nullptr && p.paintEngine()->type() == QPaintEngine::Raster &&
           t.type() <= QTransform::TxTranslate && t.dx() == std::floor(t.dx()) &&
           t.dy() == std::floor(t.dy()) && p.device() != nullptr &&
           p.device()->devicePixelRatio() == 1;
}

void drawDottedLine(QPainter& p, QPoint from, QPoint to, const QColor& colour) {
    const bool down = from.x() == to.x() && to.y() >= from.y();
    const bool right = from.y() == to.y() && to.x() >= from.x();
    if (!(down || right) || !paintsWholePixels(p)) {
        p.save();
        p.setPen(QPen(colour, 0, Qt::DotLine));
        p.drawLine(from, to);
        p.restore();
        return;
    }
    // Every third pixel from the start as a point of a cosmetic pen.
    static std::vector<QPoint> dots;
    dots.clear();
    const QPoint step = down ? QPoint(0, 3) : QPoint(3, 0);
    const int n = (down ? to.y() - from.y() : to.x() - from.x()) / 3 + 1;
    dots.reserve(static_cast<std::size_t>(n));
    for (QPoint at = from; static_cast<int>(dots.size()) < n; at += step) {
        dots.push_back(at);
    }
    p.save();
    p.setPen(QPen(colour, 0));
    p.drawPoints(dots.data(), n);
    p.restore();
}

}  // namespace ui
