#include "ui/DeviceListLook.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QMenu>
#include <QScrollBar>

#include <algorithm>

namespace ui {

namespace {

const QString kEmptyName = QStringLiteral("EmptyDeviceList");

QMenu* emptyLine(const QComboBox* list) {
    return list->findChild<QMenu*>(kEmptyName, Qt::FindDirectChildrenOnly);
}

void refreshLook(QComboBox* list) {
    int widest = 0;
    const QFontMetrics fm(list->view()->font());
    for (int i = 0; i < list->count(); ++i) {
        const QString text = list->itemText(i);
        if (list->itemData(i, Qt::ToolTipRole).toString() != text) {
            list->setItemData(i, text, Qt::ToolTipRole);
        }
        widest = std::max(widest, fm.horizontalAdvance(text));
    }
    // Room for the text, the item's margins and a vertical scroll bar.
    const int popup =
        widest + 4 * fm.averageCharWidth() + list->view()->verticalScrollBar()->sizeHint().width();
    list->view()->setMinimumWidth(std::max(list->width(), popup));
    list->setToolTip(list->currentIndex() >= 0 ? list->currentText()
                                               : QStringLiteral("Список устройств"));
}

}  // namespace

void attachDeviceListLook(QComboBox* list) {
    QAbstractItemModel* model = list->model();
    const auto refresh = [list] { refreshLook(list); };
    QObject::connect(model, &QAbstractItemModel::rowsInserted, list, refresh);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, list, refresh);
    QObject::connect(model, &QAbstractItemModel::modelReset, list, refresh);
    QObject::connect(list, &QComboBox::currentIndexChanged, list, refresh);
    refreshLook(list);
}

void dropDownList(QComboBox* list) {
    if (list->count() > 0) {
        list->showPopup();
        return;
    }
    QMenu* menu = emptyLine(list);
    if (!menu) {
        menu = new QMenu(list);
        menu->setObjectName(kEmptyName);
        menu->setFont(list->font());
        menu->addAction(QStringLiteral("Нет устройств"))->setEnabled(false);
    }
    menu->setMinimumWidth(list->width());
    menu->popup(list->mapToGlobal(QPoint(0, list->height())));
}

bool listDroppedDown(const QComboBox* list) {
    const QMenu* menu = emptyLine(list);
    return list->view()->isVisible() || (menu && menu->isVisible());
}

void closeDropDown(QComboBox* list) {
    list->hidePopup();
    if (QMenu* menu = emptyLine(list)) {
        menu->hide();
    }
}

}  // namespace ui
