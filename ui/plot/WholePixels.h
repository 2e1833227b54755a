#pragma once
// Drawing by whole pixels where the painter allows it: the plot's repaints fill rectangles
// where the pen would light the same pixels at a multiple of the cost. Painters that keep
// shapes (an SVG file, a printer) or scale (a high-density screen) get the pen's lines.

#include <QColor>
#include <QPainter>
#include <QPoint>

namespace ui {

// The painter puts pixels into an image or a widget at one device pixel per unit, moved by
// whole pixels at most.
bool paintsWholePixels(const QPainter& p);

// The line from `from` to `to` as a dotted cosmetic pen (Qt::DotLine, width 0) draws it: every
// third pixel from `from` on, both ends included. Lines across or up go to the pen.
void drawDottedLine(QPainter& p, QPoint from, QPoint to, const QColor& colour);

}  // namespace ui
