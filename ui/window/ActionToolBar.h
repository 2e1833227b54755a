#pragma once
// The window's six actions (those of ActionManager1, in their order) and the tool bar row
// ActionToolBar1 across the top of the main window, 26 pixels high: the image buttons of
// actConnect, actOSCstart, actOSCstop, actLoadFromFile, actSaveToFile and actLoadFromFile again,
// 21 pixels apart from the left, then the device list ComboBox1 (left 128, 300 pixels wide, no
// typing) and the status panel Panel1 (left 431, 300 by 21, lime on black). The tools' buttons
// follow the panel. The actions belong to the window; four of them have the keys that the
// window gave them (Ctrl+O, Ctrl+S, F5, Shift+F5).

#include <QWidget>

class QAction;
class QComboBox;
class QLabel;

namespace ui {

class ActionToolBar final : public QWidget {
    Q_OBJECT
  public:
    ActionToolBar(QWidget* window, QWidget* parent);

    QAction* actConnect = nullptr;
    QAction* Action2 = nullptr;  // "Выход": closes the window; on no bar
    QAction* actOSCstart = nullptr;
    QAction* actOSCstop = nullptr;
    QAction* actSaveToFile = nullptr;
    QAction* actLoadFromFile = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLabel* Panel1 = nullptr;
};

}  // namespace ui
