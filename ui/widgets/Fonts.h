#pragma once
// The fonts the windows ask for, each with fallbacks that have Cyrillic glyphs on systems
// without the Windows fonts (DejaVu comes with the project's packages).

#include <QFont>

namespace ui {

// "Arial" at a size in points (pixelSize < 0) or in pixels.
QFont arialFont(int pointSize, int pixelSize = -1);
// "Arial Narrow" (falls back to a condensed sans).
QFont arialNarrowFont(int pointSize);
// The dialogs' "MS Sans Serif" 8 pt.
QFont formFont();
// "Courier New" 8 pt for the datagram trace.
QFont courierFont();

}  // namespace ui
