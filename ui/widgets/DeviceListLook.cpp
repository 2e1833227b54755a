#include "ui/widgets/DeviceListLook.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
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

// A click (or F4, Alt+Down) on the empty list drops its empty line down, as on a full one.
class EmptyListOpener : public QObject {
  public:
    explicit EmptyListOpener(QComboBox* list) : QObject(list), list_(list) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != list_ || list_->count() > 0 || !list_->isEnabled()) {
            return false;
        }
        bool open = false;
        if (event->type() == QEvent::MouseButtonPress) {
            open = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        } else if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            open = key->key() == Qt::Key_F4 ||
                   (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier));
        }
        if (open) {
            dropDownList(list_);
        }
        return open;
    }

  private:
    QComboBox* list_;
};

}  // namespace

void attachDeviceListLook(QComboBox* list) {
    list->installEventFilter(new EmptyListOpener(list));
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

void askWithListClosed(QComboBox* list,
                       const std::function<int(const std::function<void()>& beforeAsking)>& ask) {
    const bool dropped = listDroppedDown(list);
    const int asked = ask([&] {
        if (dropped) {
            closeDropDown(list);
        }
    });
    if (dropped && asked > 0) {
        dropDownList(list);
    }
}

void closeDropDown(QComboBox* list) {
    list->hidePopup();
    if (QMenu* menu = emptyLine(list)) {
        menu->hide();
    }
}

}  // namespace ui
