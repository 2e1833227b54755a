#include "ui/window/CaptureStatusPart.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSizePolicy>
#include <QStatusBar>
#include <QToolButton>

#include "ui/widgets/Messages.h"
#include "ui/widgets/SteadyClock.h"

namespace ui {

namespace {

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

CaptureStatusPart::CaptureStatusPart(QStatusBar* bar, Collaborators collaborators)
    : QObject(bar), collaborators_(std::move(collaborators)), bar_(bar) {
    if (!collaborators_.clockMs) {
        collaborators_.clockMs = steadyClockMs;
    }
    bar->setSizeGripEnabled(true);
    stateField_ = field(bar, "stState", QStringLiteral("Состояние захвата"));
    elapsedField_ = field(bar, "stElapsed", QStringLiteral("Время захвата с пуска"));
    datagramsField_ = field(bar, "stDatagrams", QStringLiteral("Принято посылок с пуска"));
    bytesField_ = field(bar, "stBytes", QStringLiteral("Принято байт с пуска"));
    lostField_ = field(bar, "stLost", QString());
    foreignField_ = field(bar, "stForeign", QString());
    notShownField_ = field(bar, "stNotShown",
                           QStringLiteral("Посылки из сети, пришедшие во время показа файла: на "
                                          "график не нанесены. Посылки других отправителей, чем "
                                          "выбранное устройство, считаются только в «Чужие»."));
    notShownField_->hide();
    silenceField_ =
        field(bar, "stSilence", QStringLiteral("Нет посылок от устройства 2 с и дольше"));
    silenceField_->setText(QStringLiteral("Устройство молчит"));
    silenceField_->hide();
    shownField_ = new QLabel(bar);
    shownField_->setObjectName(QStringLiteral("stShown"));
    shownField_->setContentsMargins(4, 0, 4, 0);
    shownField_->setTextFormat(Qt::PlainText);
    // A long device or file name is cut at the window's edge (whole in the tooltip) instead of
    // pushing the buttons beside it over each other.
    shownField_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    shownField_->setMinimumWidth(80);
    bar->addPermanentWidget(shownField_, 1);
    QFont bold = stateField_->font();
    bold.setBold(true);
    stateField_->setFont(bold);
    silenceField_->setFont(bold);
    QPalette red = silenceField_->palette();
    red.setColor(QPalette::WindowText, QColor(0xc0, 0, 0));
    silenceField_->setPalette(red);
    timer_.setInterval(500);
    connect(&timer_, &QTimer::timeout, this, &CaptureStatusPart::refresh);
    timer_.start();
    refresh();
}

QLabel* CaptureStatusPart::field(QStatusBar* bar, const char* name, const QString& tip) {
    auto* l = new QLabel(bar);
    l->setObjectName(QString::fromLatin1(name));
    l->setToolTip(tip);
    l->setContentsMargins(4, 0, 4, 0);
    bar->addWidget(l);
    return l;
}

QString CaptureStatusPart::stateText(State state) {
    switch (state) {
        case State::Idle:
            return QStringLiteral("Ожидание");
        case State::Capturing:
            return QStringLiteral("Захват");
        case State::Replaying:
            return QStringLiteral("Воспроизведение");
        case State::Stopped:
            return QStringLiteral("Останов");
    }
    return {};
}

void CaptureStatusPart::started(bool replay) {
    stats_.start(collaborators_.clockMs(),
                 collaborators_.receiverDrops ? collaborators_.receiverDrops() : 0);
    state_ = replay ? State::Replaying : State::Capturing;
    refresh();
}

void CaptureStatusPart::stopped() {
    if (!stats_.running()) {
        return;  // a stop with no capture running (a device selection) changes nothing here
    }
    stats_.stop(collaborators_.clockMs());
    state_ = State::Stopped;
    refresh();
}

void CaptureStatusPart::setNotShown(std::uint64_t count) {
    notShownField_->setVisible(count > 0);
    const QString text = QStringLiteral("Не показаны: ") + fromUtf8(osc::groupedCount(count));
    if (notShownField_->text() != text) {
        notShownField_->setText(text);
    }
}

void CaptureStatusPart::setShown(const QString& text, const QString& tip) {
    shownField_->setText(text);
    shownField_->setToolTip(tip);
}

QString CaptureStatusPart::shownText() const {
    return shownField_->text();
}

void CaptureStatusPart::showFile(const QString& path) {
    if (path.isEmpty()) {
        setShown(QStringLiteral("Журнал захвата"), {});
    } else {
        setShown(QStringLiteral("Файл: ") + QFileInfo(path).fileName(),
                 QDir::toNativeSeparators(path));
    }
}

void CaptureStatusPart::showCapture(const QString& device) {
    if (device.isEmpty()) {
        setShown(QStringLiteral("Устройство не выбрано: захват ничего не получит"),
                 QStringLiteral("Выберите устройство в списке, затем запустите осциллограф (F5)"));
        return;
    }
    const QString when =
        QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    setShown(QStringLiteral("Захват: %1, %2").arg(device, when),
             QStringLiteral("Устройство и время пуска захвата на экране"));
}

void CaptureStatusPart::datagram(std::span<const std::uint8_t> data, osc::DatagramKind kind) {
    stats_.datagram(data, kind);
}

void CaptureStatusPart::refresh() {
    if (collaborators_.receiverDrops && stats_.started() && state_ != State::Replaying) {
        stats_.setReceiverDrops(collaborators_.receiverDrops());
    }
    const auto set = [](QLabel* l, const QString& text) {
        if (l->text() != text) {
            l->setText(text);
        }
    };
    set(stateField_, stateText(state_));
    set(elapsedField_, fromUtf8(osc::elapsedText(stats_.elapsedMs(collaborators_.clockMs()))));
    set(datagramsField_,
        QStringLiteral("Посылки: ") + fromUtf8(osc::groupedCount(stats_.datagrams())));
    set(bytesField_, fromUtf8(osc::byteCountText(stats_.bytes())));
    const std::uint64_t lost = stats_.lost();
    set(lostField_, QStringLiteral("Потери: ") + fromUtf8(osc::groupedCount(lost)));
    const QString tip = QStringLiteral(
                            "Разрывы потока отсчётов: %1; отброшено этим компьютером: %2.\n"
                            "Посылки не нумеруются: видны лишь разрывы ритма строба и времени, "
                            "часть потерь не видна.")
                            .arg(stats_.streamBreaks())
                            .arg(stats_.receiverDrops());
    if (lostField_->toolTip() != tip) {
        lostField_->setToolTip(tip);
    }
    const ForeignDatagrams foreign =
        collaborators_.foreign ? collaborators_.foreign() : ForeignDatagrams{};
    set(foreignField_, QStringLiteral("Чужие: ") + fromUtf8(osc::groupedCount(foreign.count)));
    QString foreignTip = foreign.taken ? QStringLiteral(
                                             "Посылки не от выбранного устройства: принимаются, "
                                             "как от него (приём от всех отправителей).")
                                       : QStringLiteral(
                                             "Посылки не от выбранного устройства: только "
                                             "считаются, в захват не идут.");
    if (foreign.last) {
        foreignTip += QStringLiteral("\nПоследний отправитель: ") +
                      QString::fromStdString(osc::peerText(*foreign.last));
    }
    if (foreignField_->toolTip() != foreignTip) {
        foreignField_->setToolTip(foreignTip);
    }
    const bool silent = collaborators_.deviceSilent && collaborators_.deviceSilent();
    if (silenceField_->isHidden() == silent) {
        silenceField_->setVisible(silent);
    }
    // Red and bold once something is lost (a palette, not a style sheet, which its tooltip
    // would take on too).
    const bool alarm = lost > 0;
    if (lostField_->font().bold() != alarm) {
        QFont f = lostField_->font();
        f.setBold(alarm);
        lostField_->setFont(f);
        QPalette p = lostField_->palette();
        p.setColor(QPalette::WindowText,
                   alarm ? QColor(0xc0, 0, 0) : bytesField_->palette().color(QPalette::WindowText));
        lostField_->setPalette(p);
    }
}

void CaptureStatusPart::addReceptionSettings(const QString& key) {
    receptionKey_ = key;
    reception_ = loadReceptionSettings(key);
    emit receptionChanged(reception_);
    QWidget* window = bar_->window();
    receptionAction_ = new QAction(QStringLiteral("Приём посылок…"), window);
    receptionAction_->setObjectName(QStringLiteral("actReception"));
    receptionAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    receptionAction_->setToolTip(
        QStringLiteral("Приём посылок: адрес приёма и отправители (%1)")
            .arg(receptionAction_->shortcut().toString(QKeySequence::NativeText)));
    connect(receptionAction_, &QAction::triggered, this, [this] { editReception(); });
    window->addAction(receptionAction_);
    auto* button = new QToolButton(bar_);
    button->setObjectName(QStringLiteral("btnReception"));
    button->setDefaultAction(receptionAction_);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setText(QStringLiteral("Приём…"));
    button->setAutoRaise(true);
    bar_->addPermanentWidget(button);
}

void CaptureStatusPart::editReception() {
    ReceptionDialog dialog(bar_->window(), reception_);
    if (runModal(dialog) != QDialog::Accepted) {
        return;
    }
    reception_ = dialog.settings();
    saveReceptionSettings(receptionKey_, reception_);
    emit receptionChanged(reception_);
    refresh();
}

}  // namespace ui
