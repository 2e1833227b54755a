#include "ui/window/ReceptionSettings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <exception>

#include "ui/settings/FormStorage.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

const QString kSection = QStringLiteral("Reception");
const QString kListenAddress = QStringLiteral("ListenAddress");
const QString kAcceptAnySender = QStringLiteral("AcceptAnySender");

}  // namespace

bool isListenAddress(const QString& text) {
    if (text.size() > 253) {
        return false;
    }
    for (const QChar c : text) {
        const bool allowed = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                             (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                             (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                             c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!allowed) {
            return false;
        }
    }
    return !text.startsWith(QLatin1Char('.')) && !text.startsWith(QLatin1Char('-'));
}

ReceptionSettings loadReceptionSettings(const QString& key) {
    ReceptionSettings settings;
    try {
        const auto section = openQSettingsSection(key, kSection);
        QString text;
        if (section->readText(kListenAddress, text) && isListenAddress(text.trimmed())) {
            settings.listenAddress = text.trimmed();
        }
        if (section->readText(kAcceptAnySender, text)) {
            settings.acceptAnySender = text.trimmed() == QStringLiteral("1");
        }
    } catch (const std::exception&) {
        // a value of another type: the defaults
    }
    return settings;
}

void saveReceptionSettings(const QString& key, const ReceptionSettings& settings) {
    try {
        const auto section = openQSettingsSection(key, kSection);
        section->writeText(kListenAddress, settings.listenAddress);
        section->writeText(kAcceptAnySender,
                           settings.acceptAnySender ? QStringLiteral("1") : QStringLiteral("0"));
        section->close();
    } catch (const std::exception&) {
    }
}

ReceptionDialog::ReceptionDialog(QWidget* parent, const ReceptionSettings& settings)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ReceptionDialog"));
    setWindowTitle(QStringLiteral("Приём посылок"));
    auto* form = new QFormLayout(this);
    address_ = new QLineEdit(settings.listenAddress, this);
    address_->setObjectName(QStringLiteral("edListenAddress"));
    address_->setPlaceholderText(QStringLiteral("все адреса"));
    address_->setClearButtonEnabled(true);
    address_->setToolTip(
        QStringLiteral("Адрес этого компьютера, на котором ждать посылок; "
                       "пусто — все адреса"));
    form->addRow(QStringLiteral("Адрес приёма"), address_);
    anySender_ = new QCheckBox(QStringLiteral("Принимать посылки от всех отправителей"), this);
    anySender_->setObjectName(QStringLiteral("cbAcceptAnySender"));
    anySender_->setChecked(settings.acceptAnySender);
    anySender_->setToolTip(
        QStringLiteral("Без отметки посылки не от выбранного устройства только "
                       "считаются (\"Чужие\" в строке состояния)"));
    form->addRow(anySender_);
    auto* hint = new QLabel(QStringLiteral("Адрес приёма применяется при следующем пуске или "
                                           "выборе устройства."),
                            this);
    form->addRow(hint);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ReceptionDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ReceptionDialog::reject);
    form->addRow(buttons);
}

ReceptionSettings ReceptionDialog::settings() const {
    return {address_->text().trimmed(), anySender_->isChecked()};
}

void ReceptionDialog::setListenAddress(const QString& text) {
    address_->setText(text);
}

void ReceptionDialog::setAcceptAnySender(bool on) {
    anySender_->setChecked(on);
}

void ReceptionDialog::accept() {
    if (!isListenAddress(address_->text().trimmed())) {
        showError(this, QStringLiteral("Адрес приёма — адрес этого компьютера, например "
                                       "192.168.1.10, его имя или пусто для всех адресов"));
        address_->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace ui
