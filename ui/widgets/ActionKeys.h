#pragma once
// The keys of an action and the tooltip that names the first of them.

#include <QKeySequence>
#include <QList>

class QAction;

namespace ui {

// Gives the action its keys (the first is the one named) and a tooltip "Caption (Key)".
void keyed(QAction* action, const QList<QKeySequence>& keys);

}  // namespace ui
