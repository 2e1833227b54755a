#include "ui/window/SessionPart.h"

#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "core/files/file_error.h"
#include "core/view/plot_navigation.h"
#include "core/view/time_text.h"
#include "ui/plot/PlotState.h"
#include "ui/widgets/ActionKeys.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

const QColor kNamedMarkerColour(0, 200, 255);
const QColor kBookmarkColour(255, 120, 255);

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

SessionPart::SessionPart(QWidget* window, PlotState& plot, osc::ChannelTraces& traces,
                         SessionView& view, MessageSink& messages, Collaborators collaborators)
    : QObject(window),
      window_(window),
      plot_(plot),
      traces_(traces),
      view_(view),
      messages_(messages),
      collaborators_(std::move(collaborators)) {
    for (int key = 1; key <= 9; ++key) {
        const auto digit = static_cast<Qt::Key>(Qt::Key_0 + key);
        QAction* drop = action("actDropMarker", QStringLiteral("Метка %1 у курсора").arg(key),
                               QKeySequence(Qt::CTRL | digit), [this, key] { dropMarker(key); });
        drop->setObjectName(QStringLiteral("actDropMarker%1").arg(key));
        QAction* jump = action("actJumpMarker", QStringLiteral("К метке %1").arg(key),
                               QKeySequence(digit), [this, key] { jumpTo(key); });
        jump->setObjectName(QStringLiteral("actJumpMarker%1").arg(key));
    }
    action("actBookmark", QStringLiteral("Закладка…"), QKeySequence(Qt::CTRL | Qt::Key_D),
           [this] { addBookmark(); });
    action("actMarksList", QStringLiteral("Метки и закладки…"),
           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), [this] { showList(); });
    action("actChannels", QStringLiteral("Линии…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
           [this] { editChannels(); });
    action("actSaveSession", QStringLiteral("Сохранить сеанс"),
           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), [this] { save(); });
}

void SessionPart::changed() {
    std::array<QColor, osc::kChannelCount> colours{};
    for (int c = 0; c < osc::kChannelCount; ++c) {
        colours[static_cast<std::size_t>(c)] = channelColour(c);
        traces_[static_cast<std::size_t>(c)].setHidden(!channelVisible(c));
    }
    view_.setChannelColours(colours);
}

void SessionPart::centreOn(double tick) {
    plot_.setWindow(osc::windowCentredAt(plot_.windowRange(), tick), osc::WindowChange::Action);
}

QString SessionPart::positionText(osc::Tick ticks) const {
    return QString::fromStdString(osc::PositionText(ticks, plot_.bitRate()));
}

osc::Session SessionPart::collectView() const {
    osc::Session s;
    const osc::AxisRange window = plot_.windowRange();
    s.view = {{window.minimum, window.maximum}};
    s.marker = plot_.markerX();
    s.cursor = plot_.cursorX();
    s.decodeChannel = collaborators_.decodedChannel ? collaborators_.decodedChannel() : -1;
    s.decoder = view_.decoder();
    s.frameOptions = view_.frameOptions();
    return s;
}

void SessionPart::applyView(const osc::Session& s) {
    view_.setDecoder(s.decoder);
    view_.setFrameOptions(s.frameOptions);
    if (s.view) {
        plot_.setWindow({s.view->first, s.view->second}, osc::WindowChange::Action);
    }
    if (s.marker != 0 && s.cursor >= 0) {
        emit measureWanted(std::max(0, s.decodeChannel), s.marker, s.cursor);
    }
}

QAction* SessionPart::action(const char* name, const QString& text, const QKeySequence& key,
                             std::function<void()> run) {
    auto* a = new QAction(text, window_);
    a->setObjectName(QString::fromLatin1(name));
    keyed(a, {key});
    window_->addAction(a);
    connect(a, &QAction::triggered, this,
            [this, run = std::move(run)] { guarded(window_, [&] { run(); }); });
    return a;
}

void SessionPart::dropMarker(int key) {
    const double x = plot_.cursorX();
    if (x < 0) {
        messages_.showError(QStringLiteral("Нет курсора: наведите мышь на график"));
        return;
    }
    const auto tick = static_cast<osc::Tick>(x);
    auto it = std::find_if(markers_.begin(), markers_.end(),
                           [key](const osc::NamedMarker& m) { return m.key == key; });
    if (it != markers_.end()) {
        it->x = tick;
    } else {
        markers_.push_back({key, tick, {}});
        std::sort(
            markers_.begin(), markers_.end(),
            [](const osc::NamedMarker& a, const osc::NamedMarker& b) { return a.key < b.key; });
    }
    changed();
}

void SessionPart::jumpTo(int key) {
    for (const osc::NamedMarker& m : markers_) {
        if (m.key == key) {
            centreOn(static_cast<double>(m.x));
            return;
        }
    }
}

void SessionPart::addBookmark(const QString& givenNote, bool ask) {
    const double x = plot_.cursorX();
    if (x < 0) {
        messages_.showError(QStringLiteral("Нет курсора: наведите мышь на график"));
        return;
    }
    QString note = givenNote;
    if (ask) {
        QInputDialog dialog(window_);
        dialog.setObjectName(QStringLiteral("BookmarkDialog"));
        dialog.setWindowTitle(QStringLiteral("Закладка"));
        dialog.setLabelText(QStringLiteral("Заметка к закладке у бита %1:")
                                .arg(positionText(static_cast<osc::Tick>(x))));
        dialog.setTextValue(note);
        if (runModal(dialog) != QDialog::Accepted) {
            return;
        }
        note = dialog.textValue();
    }
    bookmarks_.push_back({static_cast<osc::Tick>(x), note.left(4096).toStdString()});
    std::stable_sort(bookmarks_.begin(), bookmarks_.end(),
                     [](const osc::Bookmark& a, const osc::Bookmark& b) { return a.x < b.x; });
    changed();
}

void SessionPart::showList() {
    QDialog dialog(window_);
    dialog.setObjectName(QStringLiteral("MarksDialog"));
    dialog.setWindowTitle(QStringLiteral("Метки и закладки"));
    auto* column = new QVBoxLayout(&dialog);
    auto* list = new QTreeWidget(&dialog);
    list->setObjectName(QStringLiteral("lstMarks"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels(
        {QStringLiteral("Метка"), QStringLiteral("Бит"), QStringLiteral("Имя или заметка")});
    column->addWidget(list, 1);
    const auto fill = [&] {
        list->clear();
        for (const osc::NamedMarker& m : markers_) {
            auto* item = new QTreeWidgetItem(
                list, {QString::number(m.key), positionText(m.x), fromUtf8(m.name)});
            item->setData(0, Qt::UserRole, static_cast<qlonglong>(m.x));
            item->setData(1, Qt::UserRole, m.key);
        }
        for (std::size_t i = 0; i < bookmarks_.size(); ++i) {
            const osc::Bookmark& b = bookmarks_[i];
            auto* item = new QTreeWidgetItem(
                list, {QStringLiteral("—"), positionText(b.x), fromUtf8(b.note)});
            item->setData(0, Qt::UserRole, static_cast<qlonglong>(b.x));
            item->setData(1, Qt::UserRole, -1 - static_cast<int>(i));
        }
        for (int c = 0; c < list->columnCount(); ++c) {
            list->resizeColumnToContents(c);
        }
        if (list->topLevelItemCount() > 0) {
            list->setCurrentItem(list->topLevelItem(0));
        }
    };
    fill();
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* jump =
        buttons->addButton(QStringLiteral("&Перейти"), QDialogButtonBox::AcceptRole);
    jump->setObjectName(QStringLiteral("btnMarkJump"));
    jump->setToolTip(QStringLiteral("Показать выбранную метку или закладку (Enter)"));
    QPushButton* remove =
        buttons->addButton(QStringLiteral("&Удалить"), QDialogButtonBox::ActionRole);
    remove->setObjectName(QStringLiteral("btnMarkRemove"));
    remove->setToolTip(QStringLiteral("Удалить выбранную (Delete)"));
    remove->setShortcut(QKeySequence::Delete);
    QPushButton* close =
        buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
    close->setToolTip(QStringLiteral("Закрыть список (Esc)"));
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(list, &QTreeWidget::itemActivated, &dialog, [&dialog] { dialog.accept(); });
    connect(remove, &QPushButton::clicked, &dialog, [&, this] {
        const QTreeWidgetItem* item = list->currentItem();
        if (!item) {
            return;
        }
        const int which = item->data(1, Qt::UserRole).toInt();
        if (which > 0) {
            std::erase_if(markers_, [which](const osc::NamedMarker& m) { return m.key == which; });
        } else {
            bookmarks_.erase(bookmarks_.begin() + (-1 - which));
        }
        changed();
        fill();
    });
    dialog.resize(460, 300);
    if (runModal(dialog) == QDialog::Accepted && list->currentItem()) {
        centreOn(static_cast<double>(list->currentItem()->data(0, Qt::UserRole).toLongLong()));
    }
}

void SessionPart::editChannels() {
    QDialog dialog(window_);
    dialog.setObjectName(QStringLiteral("ChannelsDialog"));
    dialog.setWindowTitle(QStringLiteral("Линии"));
    auto* grid = new QGridLayout(&dialog);
    grid->addWidget(new QLabel(QStringLiteral("Имя"), &dialog), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Цвет"), &dialog), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Видна"), &dialog), 0, 3);
    std::array<QLineEdit*, osc::kChannelCount> names{};
    std::array<QPushButton*, osc::kChannelCount> colours{};
    std::array<QCheckBox*, osc::kChannelCount> visible{};
    std::array<QColor, osc::kChannelCount> chosen{};
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        grid->addWidget(new QLabel(fromUtf8(osc::kChannels[i].name), &dialog), c + 1, 0);
        names[i] = new QLineEdit(fromUtf8(channels_[i].name), &dialog);
        names[i]->setObjectName(QStringLiteral("edChannelName%1").arg(c));
        names[i]->setPlaceholderText(fromUtf8(osc::kChannels[i].name));
        names[i]->setMaxLength(64);
        chosen[i] = channelColour(c);
        colours[i] = new QPushButton(&dialog);
        colours[i]->setObjectName(QStringLiteral("btnChannelColour%1").arg(c));
        colours[i]->setToolTip(QStringLiteral("Цвет линии; пусто — обычный"));
        const auto show = [button = colours[i], &chosen, i] {
            button->setText(chosen[i].isValid() ? chosen[i].name() : QStringLiteral("обычный"));
        };
        show();
        connect(colours[i], &QPushButton::clicked, &dialog, [&, i, show] {
            QColorDialog pick(chosen[i].isValid() ? chosen[i] : QColor(Qt::yellow), &dialog);
            if (runModal(pick) == QDialog::Accepted) {
                chosen[i] = pick.selectedColor();
                show();
            }
        });
        visible[i] = new QCheckBox(&dialog);
        visible[i]->setObjectName(QStringLiteral("cbChannelVisible%1").arg(c));
        visible[i]->setChecked(channels_[i].visible);
        grid->addWidget(names[i], c + 1, 1);
        grid->addWidget(colours[i], c + 1, 2);
        grid->addWidget(visible[i], c + 1, 3);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    grid->addWidget(buttons, osc::kChannelCount + 1, 0, 1, 4);
    if (runModal(dialog) != QDialog::Accepted) {
        return;
    }
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        setChannel(c, {names[i]->text().trimmed().toStdString(),
                       chosen[i].isValid() ? chosen[i].name().toStdString() : std::string(),
                       visible[i]->isChecked()});
    }
}

void SessionPart::setChannel(int channel, const osc::SessionChannel& look) {
    if (channel < 0 || channel >= osc::kChannelCount) {
        return;
    }
    channels_[static_cast<std::size_t>(channel)] = look;
    changed();
}

QString SessionPart::channelName(int channel) const {
    if (channel < 0 || channel >= osc::kChannelCount) {
        return {};
    }
    return fromUtf8(channels_[static_cast<std::size_t>(channel)].name);
}

QString SessionPart::levelName(int level) const {
    for (int c = 0; c < osc::kChannelCount; ++c) {
        if (osc::kChannels[static_cast<std::size_t>(c)].levelSet == level) {
            return channelName(c);
        }
    }
    return {};
}

QColor SessionPart::channelColour(int channel) const {
    if (channel < 0 || channel >= osc::kChannelCount) {
        return {};
    }
    const std::string& colour = channels_[static_cast<std::size_t>(channel)].colour;
    return colour.empty() ? QColor() : QColor(fromUtf8(colour));
}

bool SessionPart::channelVisible(int channel) const {
    return channel < 0 || channel >= osc::kChannelCount ||
           channels_[static_cast<std::size_t>(channel)].visible;
}

osc::Session SessionPart::session() const {
    osc::Session s = collectView();
    s.markers = markers_;
    s.bookmarks = bookmarks_;
    s.channels = channels_;
    return s;
}

QString SessionPart::newerVersionText(const QString& file, int version) {
    return QStringLiteral(
               "Сеанс %1 записан более новой версией программы (версия %2, эта читает "
               "версию %3 и старше): сеанс не восстановлен")
        .arg(QFileInfo(file).fileName())
        .arg(version)
        .arg(osc::kSessionVersion);
}

bool SessionPart::save() {
    const QString file = collaborators_.captureFile();
    if (file.isEmpty()) {
        messages_.showError(
            QStringLiteral("Сеанс хранится рядом с файлом захвата: сначала "
                           "запишите захват в файл и откройте его"));
        return false;
    }
    try {
        osc::writeSessionFile(file.toStdString(), session());
    } catch (const osc::FileError& e) {
        messages_.showError(fromUtf8(e.what()), fromUtf8(e.reason()));
        return false;
    }
    return true;
}

void SessionPart::clear() {
    markers_.clear();
    bookmarks_.clear();
    channels_ = {};
    changed();
}

void SessionPart::restoreFor(const QString& file) {
    std::optional<osc::Session> s;
    try {
        s = osc::readSessionFile(file.toStdString());
    } catch (const osc::SessionError& e) {
        const QString session = QString::fromStdString(osc::sessionPathFor(file.toStdString()));
        if (e.kind() == osc::SessionError::Kind::NewerVersion) {
            messages_.showError(newerVersionText(session, e.version()));
        } else {
            messages_.showError(QStringLiteral("Сеанс %1 не прочитан: сеанс не восстановлен")
                                    .arg(QFileInfo(session).fileName()),
                                fromUtf8(e.what()));
        }
        return;
    } catch (const osc::FileError& e) {
        messages_.showError(fromUtf8(e.what()), fromUtf8(e.reason()));
        return;
    }
    if (!s) {
        return;
    }
    markers_ = s->markers;
    bookmarks_ = s->bookmarks;
    channels_ = s->channels;
    applyView(*s);
    changed();
}

void SessionPart::paint(QPainter& p, const osc::PlotMapping& m) const {
    if (markers_.empty() && bookmarks_.empty()) {
        return;
    }
    const double top = m.top;
    const double bottom = m.top + m.height;
    const QFontMetrics fm(p.font());
    p.save();
    for (const osc::NamedMarker& marker : markers_) {
        const auto x = static_cast<double>(marker.x);
        if (x < m.windowMin || x >= m.windowMax) {
            continue;
        }
        const double px = std::floor(m.pixelForTick(x)) + 0.5;
        p.setPen(QPen(kNamedMarkerColour, 1, Qt::DashLine));
        p.drawLine(QPointF(px, top), QPointF(px, bottom));
        const QString label =
            marker.name.empty()
                ? QString::number(marker.key)
                : QStringLiteral("%1 %2").arg(marker.key).arg(fromUtf8(marker.name));
        const QRectF box(px + 2, top + 1, fm.horizontalAdvance(label) + 4, fm.height());
        p.fillRect(box, QColor(0, 0, 0, 170));
        p.setPen(kNamedMarkerColour);
        p.drawText(box, Qt::AlignCenter, label);
    }
    for (const osc::Bookmark& bookmark : bookmarks_) {
        const auto x = static_cast<double>(bookmark.x);
        if (x < m.windowMin || x >= m.windowMax) {
            continue;
        }
        const double px = std::floor(m.pixelForTick(x)) + 0.5;
        const QPointF tip(px, bottom - 1);
        const QPolygonF flag{tip, QPointF(px - 5, bottom - 10), QPointF(px + 5, bottom - 10)};
        p.setPen(kBookmarkColour);
        p.setBrush(kBookmarkColour);
        p.drawPolygon(flag);
        if (!bookmark.note.empty()) {
            const QString note = fm.elidedText(
                fromUtf8(bookmark.note).section(QLatin1Char('\n'), 0, 0), Qt::ElideRight, 160);
            p.drawText(QPointF(px + 7, bottom - 3), note);
        }
    }
    p.restore();
}

}  // namespace ui
