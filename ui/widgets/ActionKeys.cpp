#include "ui/widgets/ActionKeys.h"

#include <QAction>

namespace ui {

void keyed(QAction* action, const QList<QKeySequence>& keys) {
    action->setShortcuts(keys);
    QString tip = action->text();
    if (!keys.isEmpty()) {
        tip += QStringLiteral(" (") + keys.front().toString(QKeySequence::NativeText) +
               QLatin1Char(')');
    }
    action->setToolTip(tip);
}

}  // namespace ui
