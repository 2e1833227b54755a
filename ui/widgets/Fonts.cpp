#include "ui/widgets/Fonts.h"

#include <QStringList>

namespace ui {

namespace {
QFont withFamilies(const QStringList& families, QFont::StyleHint hint) {
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(hint);
    return f;
}
}  // namespace

QFont arialFont(int pointSize, int pixelSize) {
    QFont f = withFamilies(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")},
        QFont::SansSerif);
    if (pixelSize > 0) {
        f.setPixelSize(pixelSize);
    } else {
        f.setPointSize(pointSize);
    }
    return f;
}

QFont arialNarrowFont(int pointSize) {
    QFont f =
        withFamilies({QStringLiteral("Arial Narrow"), QStringLiteral("Liberation Sans Narrow"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")},
                     QFont::SansSerif);
    f.setPointSize(pointSize);
    return f;
}

QFont formFont() {
    QFont f = withFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                            QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")},
                           QFont::SansSerif);
    f.setPointSize(8);
    return f;
}

QFont courierFont() {
    QFont f = withFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                            QStringLiteral("DejaVu Sans Mono")},
                           QFont::Monospace);
    f.setFixedPitch(true);
    f.setPointSize(8);
    return f;
}

}  // namespace ui
