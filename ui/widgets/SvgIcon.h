// Tool bar images drawn from SVG at 16 and 32 pixels, so that they stay sharp on either scale.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QString>

namespace ui {

QIcon svgFileIcon(const QString& path);    // a file or a resource (":/icons/start.svg")
QIcon svgTextIcon(const QByteArray& svg);  // the document itself

}  // namespace ui
