#include "ui/window/RecentCapturesPart.h"

#include <QAction>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "core/capture/capture_stats.h"
#include "core/files/capture_journal.h"
#include "core/files/file_error.h"
#include "ui/settings/FormStorage.h"
#include "ui/tracelog/TraceTab.h"
#include "ui/widgets/ActionKeys.h"
#include "ui/widgets/ExportProgress.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

osc::RecentCaptureLimits storedLimits(const QString& key) {
    osc::RecentCaptureLimits limits;
    try {
        const auto section = openQSettingsSection(key, RecentCapturesPart::section());
        QString text;
        bool ok = false;
        if (section->readText(QStringLiteral("Count"), text)) {
            const int n = text.trimmed().toInt(&ok);
            if (ok && n >= 1 && n <= 1000) {
                limits.count = n;
            }
        }
        if (section->readText(QStringLiteral("Megabytes"), text)) {
            const qlonglong mb = text.trimmed().toLongLong(&ok);
            if (ok && mb >= 1 && mb <= (qlonglong{1} << 30)) {
                limits.bytes = static_cast<std::uint64_t>(mb) << 20;
            }
        }
    } catch (const std::exception&) {
        // a value of another type: the defaults
    }
    return limits;
}

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

RecentCapturesPart::RecentCapturesPart(QWidget* window, const QString& key, MessageSink& messages,
                                       std::filesystem::path folder, Collaborators collaborators)
    : QObject(window),
      window_(window),
      key_(key),
      messages_(messages),
      collaborators_(std::move(collaborators)),
      captures_(std::make_unique<osc::RecentCaptures>(std::move(folder), storedLimits(key))) {
    if (!collaborators_.chooseSaveFile) {
        collaborators_.chooseSaveFile = [this] {
            return chooseOscFile(window_, TraceLogView::FileDialog::Save);
        };
    }
    actSave_ = new QAction(QStringLiteral("Сохранить захват…"), window);
    actSave_->setObjectName(QStringLiteral("actSaveCapture"));
    keyed(actSave_, {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S)});
    actSave_->setToolTip(QStringLiteral("Записать захват с экрана в файл из его журнала, даже "
                                        "без трассировки (%1)")
                             .arg(actSave_->shortcut().toString(QKeySequence::NativeText)));
    actList_ = new QAction(QStringLiteral("Последние захваты…"), window);
    actList_->setObjectName(QStringLiteral("actRecentCaptures"));
    keyed(actList_, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L)});
    for (QAction* a : {actSave_, actList_}) {
        a->setShortcutContext(Qt::WindowShortcut);
        window->addAction(a);
    }
    connect(actSave_, &QAction::triggered, this,
            [this] { guarded(window_, [this] { saveCaptureOnScreen(); }); });
    connect(actList_, &QAction::triggered, this,
            [this] { guarded(window_, [this] { showList(); }); });
}

RecentCapturesPart::~RecentCapturesPart() = default;

void RecentCapturesPart::addButton(QStatusBar* bar) {
    auto* button = new QToolButton(bar);
    button->setObjectName(QStringLiteral("btnCaptures"));
    button->setText(QStringLiteral("Захваты"));
    button->setToolTip(QStringLiteral("Последние захваты и запись захвата с экрана (%1, %2)")
                           .arg(actList_->shortcut().toString(QKeySequence::NativeText),
                                actSave_->shortcut().toString(QKeySequence::NativeText)));
    button->setAutoRaise(true);
    button->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(button);
    menu->addAction(actList_);
    menu->addAction(actSave_);
    button->setMenu(menu);
    bar->addPermanentWidget(button);
}

QString RecentCapturesPart::timeText(std::int64_t secondsSince1970) {
    if (secondsSince1970 <= 0) {
        return QStringLiteral("?");
    }
    return QDateTime::fromSecsSinceEpoch(secondsSince1970)
        .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString RecentCapturesPart::durationText(std::int64_t seconds) {
    if (seconds < 0) {
        return QStringLiteral("?");
    }
    if (seconds < 60) {
        return QStringLiteral("%1 с").arg(seconds);
    }
    if (seconds < 3600) {
        return QStringLiteral("%1 мин %2 с").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
    }
    return QStringLiteral("%1 ч %2 мин")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QChar('0'));
}

bool RecentCapturesPart::saveCaptureOnScreen() {
    if (std::optional<osc::KeptCapture> capture = collaborators_.captureOnScreen()) {
        return saveCapture(*capture);
    }
    const QString file = collaborators_.fileOnScreen();
    if (!file.isEmpty()) {
        osc::KeptCapture copy;
        copy.path = file.toStdString();
        copy.bytes = static_cast<std::uint64_t>(QFileInfo(file).size());
        return saveCapture(copy);
    }
    messages_.showError(
        QStringLiteral("На экране нет захвата: запустите осциллограф или "
                       "выберите захват в списке последних"));
    return false;
}

bool RecentCapturesPart::saveCapture(const osc::KeptCapture& capture) {
    const QString name = collaborators_.chooseSaveFile();
    if (name.isEmpty()) {
        return false;
    }
    osc::JournalInfo journal;
    journal.path = capture.path;
    journal.bytes = capture.bytes;
    bool saved = false;
    try {
        saved =
            saveJournalWithProgress(window_, journal, name, QStringLiteral("Сохранение захвата…"),
                                    QStringLiteral("CaptureSaveProgress"));
    } catch (const osc::FileError& e) {
        messages_.showError(fromUtf8(e.what()), fromUtf8(e.reason()));
        return false;
    }
    return saved;
}

void RecentCapturesPart::setLimits(osc::RecentCaptureLimits limits) {
    captures_->setLimits(limits);
    try {
        const auto store = openQSettingsSection(key_, section());
        store->writeText(QStringLiteral("Count"), QString::number(limits.count));
        store->writeText(QStringLiteral("Megabytes"), QString::number(limits.bytes >> 20));
        store->close();
    } catch (const std::exception& e) {
        messages_.showError(QString::fromUtf8(e.what()));
    }
}

void RecentCapturesPart::fillList(QDialog& dialog) {
    auto* list = dialog.findChild<QTreeWidget*>(QString::fromLatin1(kList));
    list->clear();
    for (const osc::KeptCapture& c : captures_->list()) {
        auto* item = new QTreeWidgetItem(list);
        item->setText(0, timeText(c.startedAt));
        item->setText(1, c.device.empty() ? QStringLiteral("—") : fromUtf8(c.device));
        item->setText(
            2, durationText(c.endedAt > 0 && c.startedAt > 0 ? c.endedAt - c.startedAt : -1));
        item->setText(3, fromUtf8(osc::groupedCount(c.datagrams)));
        item->setText(4, fromUtf8(osc::byteCountText(c.bytes)));
        for (int column : {2, 3, 4}) {
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        }
        item->setToolTip(0, QString::fromStdString(c.path.string()));
        item->setData(0, Qt::UserRole, QString::fromStdString(c.path.string()));
    }
    if (list->topLevelItemCount() > 0) {
        list->setCurrentItem(list->topLevelItem(0));
    }
    for (int column = 0; column < list->columnCount(); ++column) {
        list->resizeColumnToContents(column);
    }
}

void RecentCapturesPart::showList() {
    QDialog dialog(window_);
    dialog.setObjectName(QString::fromLatin1(kListDialog));
    dialog.setWindowTitle(QStringLiteral("Последние захваты"));
    auto* column = new QVBoxLayout(&dialog);
    auto* list = new QTreeWidget(&dialog);
    list->setObjectName(QString::fromLatin1(kList));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels({QStringLiteral("Начало"), QStringLiteral("Устройство"),
                           QStringLiteral("Длительность"), QStringLiteral("Посылки"),
                           QStringLiteral("Размер")});
    column->addWidget(list, 1);

    auto* limitsRow = new QHBoxLayout;
    auto* count = new QSpinBox(&dialog);
    count->setObjectName(QStringLiteral("seKeptCaptures"));
    count->setRange(1, 1000);
    count->setValue(captures_->limits().count);
    count->setToolTip(QStringLiteral("Сколько последних захватов хранить"));
    auto* megabytes = new QSpinBox(&dialog);
    megabytes->setObjectName(QStringLiteral("seKeptMegabytes"));
    megabytes->setRange(1, 1 << 30);
    megabytes->setValue(static_cast<int>(
        std::min<std::uint64_t>(captures_->limits().bytes >> 20, std::uint64_t{1} << 30)));
    megabytes->setSuffix(QStringLiteral(" МБ"));
    megabytes->setToolTip(QStringLiteral("Сколько места на диске они могут занять вместе"));
    limitsRow->addWidget(new QLabel(QStringLiteral("Хранить последних:"), &dialog));
    limitsRow->addWidget(count);
    limitsRow->addWidget(new QLabel(QStringLiteral("не больше"), &dialog));
    limitsRow->addWidget(megabytes);
    limitsRow->addStretch(1);
    column->addLayout(limitsRow);

    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* replay =
        buttons->addButton(QStringLiteral("&Воспроизвести"), QDialogButtonBox::AcceptRole);
    replay->setObjectName(QStringLiteral("btnCaptureReplay"));
    replay->setToolTip(QStringLiteral("Показать выбранный захват (Enter)"));
    QPushButton* save =
        buttons->addButton(QStringLiteral("&Сохранить как…"), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("btnCaptureSave"));
    save->setToolTip(QStringLiteral("Записать выбранный захват в файл осциллограммы"));
    QPushButton* remove =
        buttons->addButton(QStringLiteral("&Удалить"), QDialogButtonBox::ActionRole);
    remove->setObjectName(QStringLiteral("btnCaptureRemove"));
    remove->setToolTip(QStringLiteral("Удалить выбранный захват с диска (Delete)"));
    remove->setShortcut(QKeySequence::Delete);
    QPushButton* close =
        buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnCaptureClose"));
    close->setToolTip(QStringLiteral("Закрыть список (Esc)"));
    column->addWidget(buttons);

    fillList(dialog);
    const auto selected = [this, list]() -> std::optional<osc::KeptCapture> {
        const QTreeWidgetItem* item = list->currentItem();
        if (!item) {
            return std::nullopt;
        }
        const std::string path = item->data(0, Qt::UserRole).toString().toStdString();
        for (const osc::KeptCapture& c : captures_->list()) {
            if (c.path == path) {
                return c;
            }
        }
        return std::nullopt;
    };
    const auto enable = [=] {
        const bool any = list->currentItem() != nullptr;
        for (QPushButton* b : {replay, save, remove}) {
            b->setEnabled(any);
        }
    };
    enable();
    connect(list, &QTreeWidget::currentItemChanged, &dialog, enable);
    connect(list, &QTreeWidget::itemActivated, &dialog, [&dialog] { dialog.accept(); });
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(save, &QPushButton::clicked, &dialog, [&, this] {
        if (const auto c = selected()) {
            guarded(&dialog, [&] { saveCapture(*c); });
        }
    });
    connect(remove, &QPushButton::clicked, &dialog, [&, this] {
        if (const auto c = selected()) {
            captures_->remove(*c);
            fillList(dialog);
            enable();
        }
    });
    const auto applyLimits = [&, this] {
        const osc::RecentCaptureLimits now{count->value(),
                                           static_cast<std::uint64_t>(megabytes->value()) << 20};
        if (now.count != captures_->limits().count || now.bytes != captures_->limits().bytes) {
            setLimits(now);
            fillList(dialog);
            enable();
        }
    };
    connect(count, &QSpinBox::editingFinished, &dialog, applyLimits);
    connect(megabytes, &QSpinBox::editingFinished, &dialog, applyLimits);
    dialog.resize(620, 320);
    const int result = runModal(dialog);
    applyLimits();
    if (result == QDialog::Accepted) {
        if (const auto c = selected()) {
            collaborators_.replay(QString::fromStdString(c->path.string()));
        }
    }
}

}  // namespace ui
