#include "ui/window/ToolsPart.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QMimeData>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "ui/plot/OscPlot.h"
#include "ui/plot/PlotPicture.h"
#include "ui/settings/FormStorage.h"
#include "ui/widgets/Messages.h"
#include "ui/widgets/SvgIcon.h"
#include "ui/window/BitRate.h"
#include "ui/window/ExportPart.h"

namespace ui {

namespace {

// The one local oscillogram file of a drag, or empty.
QString droppedOscFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) {
        return {};
    }
    const QUrl url = mime->urls().constFirst();
    if (!url.isLocalFile()) {
        return {};
    }
    const QString path = url.toLocalFile();
    return QFileInfo(path).suffix().compare(QLatin1String("osc"), Qt::CaseInsensitive) == 0
               ? path
               : QString();
}

}  // namespace

QString toolTipWithKey(const QString& text, const QKeySequence& key) {
    QString plain = text;
    if (plain.endsWith(QChar(0x2026))) {  // "…"
        plain.chop(1);
    }
    return QStringLiteral("%1 (%2)").arg(plain, key.toString(QKeySequence::NativeText));
}

QStringList pictureHeaderLines(const QString& program, const QString& shown,
                               const QStringList& readouts) {
    return QStringList{
               program + (shown.isEmpty() ? QString() : QStringLiteral(": ") + shown) +
               QStringLiteral(". Снимок ") +
               QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))} +
           readouts;
}

ToolsPart::ToolsPart(QWidget* window, const QString& key, OscPlot* plot, PlotState& plotState,
                     osc::CaptureEngine& engine, MessageSink& messages, Collaborators collaborators)
    : QObject(window),
      window_(window),
      key_(key),
      plot_(plot),
      plotState_(plotState),
      engine_(engine),
      messages_(messages),
      collaborators_(std::move(collaborators)),
      recent_(key, recentSection()) {
    setObjectName(QStringLiteral("ToolsPart"));
    createActions();
    recent_.load();
    plotState_.setBitRate(loadBitRate(key_, readoutSection()));
    try {
        const auto section = openQSettingsSection(key_, pictureSection());
        const auto isTrue = [](const QString& text) {
            return text.trimmed().compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0;
        };
        QString text;
        if (section->readText(QStringLiteral("Header"), text)) {
            pictureHeader_ = isTrue(text);
        }
        if (section->readText(QStringLiteral("Light"), text)) {
            pictureLight_ = isTrue(text);
        }
    } catch (const std::exception&) {
        // a value of another type: the defaults
    }
    window_->setAcceptDrops(true);
    window_->installEventFilter(this);
}

void ToolsPart::createActions() {
    auto make = [this](const char* name, const QString& text, const QKeySequence& key,
                       void (ToolsPart::*handler)()) {
        auto* a = new QAction(text, window_);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(key);
        a->setToolTip(toolTipWithKey(text, key));
        window_->addAction(a);  // the key works wherever the focus is in the window
        connect(a, &QAction::triggered, this,
                [this, handler] { guarded(messages_, [this, handler] { (this->*handler)(); }); });
        return a;
    };
    actSavePicture_ = make("actSavePicture", QStringLiteral("Сохранить изображение…"),
                           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &ToolsPart::savePicture);
    actCopyPicture_ = make("actCopyPicture", QStringLiteral("Копировать изображение"),
                           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), &ToolsPart::copyPicture);
    actExport_ = make("actExport", QStringLiteral("Экспорт…"), QKeySequence(Qt::CTRL | Qt::Key_E),
                      &ToolsPart::exportTraces);
    actRecentFiles_ =
        make("actRecentFiles", QStringLiteral("Последние файлы"),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), &ToolsPart::showRecentFiles);
    actBitRate_ = make("actBitRate", QStringLiteral("Скорость линии…"),
                       QKeySequence(Qt::CTRL | Qt::Key_B), &ToolsPart::editBitRate);
    actSavePicture_->setIcon(svgFileIcon(QStringLiteral(":/icons/picture.svg")));
    actRecentFiles_->setIcon(svgFileIcon(QStringLiteral(":/icons/recent.svg")));
    actBitRate_->setIcon(svgFileIcon(QStringLiteral(":/icons/rate.svg")));

    outputMenu_ = new QMenu(window_);
    outputMenu_->setObjectName(QStringLiteral("mnuPictureExport"));
    outputMenu_->addAction(actSavePicture_);
    outputMenu_->addAction(actCopyPicture_);
    outputMenu_->addSeparator();
    outputMenu_->addAction(actExport_);

    recentMenu_ = new QMenu(window_);
    recentMenu_->setObjectName(QStringLiteral("mnuRecentFiles"));
    recentMenu_->setToolTipsVisible(true);
    connect(recentMenu_, &QMenu::aboutToShow, this, &ToolsPart::rebuildRecentMenu);
}

void ToolsPart::addButtons(QWidget* toolBar, int x) {
    auto button = [toolBar, &x](const char* name) {
        auto* b = new QToolButton(toolBar);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setAutoRaise(true);
        b->setIconSize(QSize(16, 16));
        b->setGeometry(x, 2, 21, 22);
        x += 21;
        return b;
    };
    QToolButton* output = button("btnPictureExport");
    output->setIcon(actSavePicture_->icon());
    output->setMenu(outputMenu_);
    output->setPopupMode(QToolButton::InstantPopup);
    output->setToolTip(
        QStringLiteral("Изображение и экспорт: %1, %2, %3")
            .arg(actSavePicture_->toolTip(), actCopyPicture_->toolTip(), actExport_->toolTip()));
    // The menu indicator would not fit the 21 pixels of a tool bar button.
    output->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));

    recentButton_ = button("btnRecentFiles");
    recentButton_->setIcon(actRecentFiles_->icon());
    recentButton_->setMenu(recentMenu_);
    recentButton_->setPopupMode(QToolButton::InstantPopup);
    recentButton_->setToolTip(actRecentFiles_->toolTip());
    recentButton_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));

    QToolButton* rate = button("btnBitRate");
    rate->setDefaultAction(actBitRate_);
}

QString ToolsPart::suggestedFile(const QString& lastInDialog, const QString& extension) const {
    const QStringList& recent = recent_.files();
    QString folder = lastFolder_;
    if (folder.isEmpty() && !recent.isEmpty()) {
        folder = QFileInfo(recent.constFirst()).absolutePath();
    }
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    if (folder.isEmpty()) {
        folder = QDir::homePath();
    }
    const QString base = recent.isEmpty() ? QStringLiteral("осциллограмма")
                                          : QFileInfo(recent.constFirst()).completeBaseName();
    const QString suffix = QFileInfo(lastInDialog).suffix();
    return folder + QLatin1Char('/') + base + QLatin1Char('.') +
           (suffix.isEmpty() ? extension : suffix);
}

void ToolsPart::savePicture() {
    PictureDialog dialog(window_, suggestedFile(lastPicture_, QStringLiteral("png")),
                         plot_->size());
    dialog.setHeader(pictureHeader_);
    dialog.setLight(pictureLight_);
    if (runModal(dialog) != QDialog::Accepted) {
        return;
    }
    lastPicture_ = dialog.fileName();
    lastFolder_ = QFileInfo(lastPicture_).absolutePath();
    setPictureLook(dialog.header(), dialog.light());
    savePlotPicture(*plot_, dialog.fileName(), dialog.pictureSize(), pictureLook());
}

void ToolsPart::copyPicture() {
    copyPlotPicture(*plot_, pictureLook());
}

void ToolsPart::setPictureLook(bool header, bool light) {
    if (header == pictureHeader_ && light == pictureLight_) {
        return;
    }
    pictureHeader_ = header;
    pictureLight_ = light;
    const auto text = [](bool on) { return on ? QStringLiteral("True") : QStringLiteral("False"); };
    try {
        const auto section = openQSettingsSection(key_, pictureSection());
        section->writeText(QStringLiteral("Header"), text(header));
        section->writeText(QStringLiteral("Light"), text(light));
        section->close();
    } catch (const std::exception& e) {
        messages_.showError(QString::fromUtf8(e.what()));
    }
}

PictureLook ToolsPart::pictureLook() const {
    PictureLook look;
    look.header = pictureHeader_;
    look.light = pictureLight_;
    if (look.header && collaborators_.pictureHeader) {
        look.headerLines = collaborators_.pictureHeader();
    }
    return look;
}

void ToolsPart::exportTraces() {
    const std::optional<osc::ExportStretch> stretch =
        markerCursorStretch(plotState_.markerX(), plotState_.cursorX());
    ExportDialog dialog(window_, suggestedFile(lastExport_, QStringLiteral("vcd")), stretch,
                        bitRate());
    if (runModal(dialog) != QDialog::Accepted) {
        return;
    }
    const ExportRequest request = dialog.request();
    lastExport_ = request.fileName;
    lastFolder_ = QFileInfo(lastExport_).absolutePath();
    ExportProgressDialog progress(window_, [this] { return closing_; });
    if (request.format == osc::ExportFormat::Pcapng) {
        writeFramesExport(engine_.frames, request, bitRate(), progress);
    } else {
        writeTraceExport(engine_.traces, request, bitRate(), progress);
    }
}

void ToolsPart::editBitRate() {
    BitRateDialog dialog(window_, bitRate());
    if (runModal(dialog) != QDialog::Accepted) {
        return;
    }
    setBitRate(dialog.rate());
}

std::optional<double> ToolsPart::bitRate() const {
    return plotState_.bitRate();
}

void ToolsPart::setBitRate(std::optional<double> rate) {
    saveBitRate(key_, readoutSection(), rate);
    plotState_.setBitRate(rate);
}

void ToolsPart::showRecentFiles() {
    if (recentButton_ && recentButton_->isVisible()) {
        recentButton_->showMenu();
    } else {
        recentMenu_->popup(window_->mapToGlobal(QPoint(0, 0)));
    }
}

void ToolsPart::rebuildRecentMenu() {
    recent_.dropMissing();
    recentMenu_->clear();
    const QStringList& files = recent_.files();
    if (files.isEmpty()) {
        QAction* none = recentMenu_->addAction(QStringLiteral("Нет файлов"));
        none->setEnabled(false);
        return;
    }
    const QFontMetrics fm(recentMenu_->font());
    for (int i = 0; i < files.size(); ++i) {
        const QString& path = files[i];
        const QFileInfo info(path);
        QString text =
            fm.elidedText(info.fileName(), Qt::ElideMiddle, 300)
                .replace(QLatin1Char('&'), QStringLiteral("&&")) +
            QStringLiteral("  —  ") +
            fm.elidedText(QDir::toNativeSeparators(info.absolutePath()), Qt::ElideMiddle, 300)
                .replace(QLatin1Char('&'), QStringLiteral("&&"));
        if (i < 9) {
            text = QStringLiteral("&%1 ").arg(i + 1) + text;
        }
        QAction* a = recentMenu_->addAction(text);
        a->setObjectName(QStringLiteral("actRecentFile%1").arg(i + 1));
        a->setToolTip(QDir::toNativeSeparators(path));
        connect(a, &QAction::triggered, this, [this, path] {
            // After the menu has closed, as a click on the load button would.
            QTimer::singleShot(0, this, [this, path] { openFile(path); });
        });
    }
    recentMenu_->addSeparator();
    QAction* clear = recentMenu_->addAction(QStringLiteral("Очистить список"));
    clear->setObjectName(QStringLiteral("actClearRecentFiles"));
    connect(clear, &QAction::triggered, this, [this] { recent_.clear(); });
}

void ToolsPart::fileUsed(const QString& path) {
    recent_.add(path);
}

void ToolsPart::openFile(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        recent_.remove(path);
    }
    if (collaborators_.openFile) {
        guarded(messages_, [&] { collaborators_.openFile(path); });
    }
}

bool ToolsPart::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (!droppedOscFile(drag->mimeData()).isEmpty()) {
                    drag->setDropAction(Qt::CopyAction);
                    drag->accept();
                    return true;
                }
                break;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                const QString path = droppedOscFile(drop->mimeData());
                if (!path.isEmpty()) {
                    drop->setDropAction(Qt::CopyAction);
                    drop->accept();
                    // Replayed once the drop has ended, so that the dragging program goes on.
                    QTimer::singleShot(0, this, [this, path] { openFile(path); });
                    return true;
                }
                break;
            }
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace ui
