#include "ui/widgets/SvgIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace ui {
namespace {

QIcon rendered(QSvgRenderer& renderer) {
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        renderer.render(&p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon svgFileIcon(const QString& path) {
    QSvgRenderer renderer(path);
    return rendered(renderer);
}

QIcon svgTextIcon(const QByteArray& svg) {
    QSvgRenderer renderer(svg);
    return rendered(renderer);
}

}  // namespace ui
