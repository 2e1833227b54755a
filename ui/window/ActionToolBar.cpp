#include "ui/window/ActionToolBar.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QToolButton>

#include "ui/widgets/ActionKeys.h"
#include "ui/widgets/DeviceListLook.h"
#include "ui/widgets/Fonts.h"
#include "ui/widgets/SvgIcon.h"

namespace ui {

ActionToolBar::ActionToolBar(QWidget* window, QWidget* parent) : QWidget(parent) {
    auto make = [window](const char* name, const QString& caption, const char* image) {
        auto* a = new QAction(caption, window);
        a->setObjectName(QString::fromLatin1(name));
        if (image) {
            a->setIcon(
                svgFileIcon(QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(image))));
        }
        return a;
    };
    actConnect = make("actConnect", QStringLiteral("Присоединиться к серверу"), "connect");
    Action2 = make("Action2", QStringLiteral("Выход"), nullptr);
    actOSCstart = make("actOSCstart", QStringLiteral("Пуск осциллографа"), "start");
    actOSCstop = make("actOSCstop", QStringLiteral("Останов осциллографа"), "stop");
    actSaveToFile = make("actSaveToFile", QStringLiteral("Записать график в файл"), "save");
    actLoadFromFile = make("actLoadFromFile", QStringLiteral("Считать график из файла"), "load");
    keyed(actLoadFromFile, {QKeySequence(Qt::CTRL | Qt::Key_O)});
    keyed(actSaveToFile, {QKeySequence(Qt::CTRL | Qt::Key_S)});
    keyed(actOSCstart, {QKeySequence(Qt::Key_F5)});
    keyed(actOSCstop, {QKeySequence(Qt::SHIFT | Qt::Key_F5)});

    setObjectName(QStringLiteral("ActionToolBar1"));
    setFixedHeight(26);
    int x = 2;
    for (QAction* a :
         {actConnect, actOSCstart, actOSCstop, actLoadFromFile, actSaveToFile, actLoadFromFile}) {
        auto* b = new QToolButton(this);
        b->setDefaultAction(a);
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setAutoRaise(true);
        b->setIconSize(QSize(16, 16));
        b->setGeometry(x, 2, 21, 22);
        x += 21;
    }
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(false);
    ComboBox1->setFont(arialFont(10, 13));
    ComboBox1->setGeometry(128, 1, 300, 23);
    attachDeviceListLook(ComboBox1);
    Panel1 = new QLabel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(431, 2, 300, 21);
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setAutoFillBackground(true);
    Panel1->setFont(arialFont(10, 13));
    QPalette pal = Panel1->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, QColor(0, 255, 0));
    Panel1->setPalette(pal);
}

}  // namespace ui
