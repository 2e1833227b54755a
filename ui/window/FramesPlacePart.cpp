#include "ui/window/FramesPlacePart.h"

#include <QAction>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

#include "ui/settings/FormStorage.h"
#include "ui/widgets/ActionKeys.h"
#include "ui/widgets/Messages.h"

namespace ui {

FramesPlacePart::FramesPlacePart(QWidget* window, const QString& key, QTabWidget* tabs,
                                 QSplitter* splitter, QWidget* framesPage, const QString& title)
    : QObject(window),
      key_(key),
      tabs_(tabs),
      splitter_(splitter),
      page_(framesPage),
      title_(title) {
    toggle_ = new QAction(QStringLiteral("Кадры под графиком"), window);
    toggle_->setObjectName(QStringLiteral("actFramesUnderPlot"));
    toggle_->setCheckable(true);
    keyed(toggle_, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U)});
    window->addAction(toggle_);
    connect(toggle_, &QAction::toggled, this, [this](bool on) { setUnderPlot(on); });
    connect(splitter_, &QSplitter::splitterMoved, this, [this] {
        sizes_ = splitter_->sizes();
        store();
    });

    bool under = false;
    try {
        const auto s = openQSettingsSection(key_, section());
        QString text;
        if (s->readText(QStringLiteral("UnderPlot"), text)) {
            under = text.trimmed().compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0;
        }
        if (s->readText(QStringLiteral("Sizes"), text)) {
            const QStringList parts = text.split(QLatin1Char(','));
            QList<int> sizes;
            for (const QString& part : parts) {
                bool ok = false;
                const int n = part.trimmed().toInt(&ok);
                if (ok && n >= 0 && n <= 100000) {
                    sizes << n;
                }
            }
            if (sizes.size() == 2 && sizes[0] + sizes[1] > 0) {
                sizes_ = sizes;
            }
        }
    } catch (const std::exception&) {
        // a value of another type: on its tab
    }
    if (under) {
        const QSignalBlocker quiet(toggle_);
        toggle_->setChecked(true);
        setUnderPlot(true);
    }
}

bool FramesPlacePart::underPlot() const {
    return page_->parentWidget() == splitter_;
}

void FramesPlacePart::setUnderPlot(bool on) {
    if (on != toggle_->isChecked()) {
        const QSignalBlocker quiet(toggle_);
        toggle_->setChecked(on);
    }
    if (on == underPlot()) {
        return;
    }
    if (on) {
        const int tab = tabs_->indexOf(page_);
        if (tab >= 0) {
            tabIndex_ = tab;
            tabs_->removeTab(tab);
        }
        splitter_->addWidget(page_);
        splitter_->setCollapsible(0, false);
        page_->show();
        // Room for both: a window too low for a readable plot above the table grows, as far as
        // its screen allows.
        // The page's controls and some rows of the table.
        const int pageHeight = page_->minimumSizeHint().height() + kTableRows;
        const int want = kPlotHeight + pageHeight + splitter_->handleWidth();
        QWidget* top = splitter_->window();
        if (splitter_->height() < want && top && !top->isMaximized() && !top->isFullScreen()) {
            int height = top->height() + want - splitter_->height();
            const int frame = top->frameGeometry().height() - top->height();
            if (const QScreen* screen = top->screen()) {
                const QRect room = screen->availableGeometry();
                height = std::min(height, room.height() - frame);
                // Its bottom edge stays on the screen: the window moves up if it must.
                const int overflow =
                    top->frameGeometry().top() + frame + height - room.bottom() - 1;
                if (overflow > 0) {
                    top->move(top->x(), std::max(room.top(), top->y() - overflow));
                }
            }
            top->resize(top->width(), std::max(top->height(), height));
        }
        const int total = std::max(splitter_->height(), want);
        splitter_->setSizes(sizes_.size() == 2 ? sizes_
                                               : QList<int>{total - pageHeight, pageHeight});
    } else {
        sizes_ = splitter_->sizes();
        tabs_->insertTab(tabIndex_, page_, title_);  // where it was (-1: the last)
    }
    store();
}

void FramesPlacePart::addButton(QStatusBar* bar) {
    auto* button = new QToolButton(bar);
    button->setObjectName(QStringLiteral("btnFramesUnderPlot"));
    button->setDefaultAction(toggle_);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(true);
    bar->addPermanentWidget(button);
}

void FramesPlacePart::store() const {
    try {
        const auto s = openQSettingsSection(key_, section());
        s->writeText(QStringLiteral("UnderPlot"),
                     underPlot() ? QStringLiteral("True") : QStringLiteral("False"));
        if (sizes_.size() == 2) {
            s->writeText(QStringLiteral("Sizes"),
                         QStringLiteral("%1,%2").arg(sizes_[0]).arg(sizes_[1]));
        }
        s->close();
    } catch (const std::exception&) {
        // not stored this time; the place itself has changed
    }
}

}  // namespace ui
