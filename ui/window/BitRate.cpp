#include "ui/window/BitRate.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <exception>

#include "core/view/time_text.h"
#include "ui/settings/FormStorage.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

const QString kValueName = QStringLiteral("BitRate");

// The rate as the user reads it: decimal comma.
QString shownText(double rate) {
    return QString::fromStdString(osc::bitRateText(rate))
        .replace(QLatin1Char('.'), QLatin1Char(','));
}

}  // namespace

std::optional<double> loadBitRate(const QString& key, const QString& section) {
    try {
        QString text;
        if (openQSettingsSection(key, section)->readText(kValueName, text)) {
            return osc::parseBitRate(text.left(64).toStdString());
        }
    } catch (const std::exception&) {
        // a value of another type: no rate
    }
    return std::nullopt;
}

void saveBitRate(const QString& key, const QString& section, std::optional<double> rate) {
    try {
        const auto s = openQSettingsSection(key, section);
        s->writeText(kValueName,
                     rate ? QString::fromStdString(osc::bitRateText(*rate)) : QString());
        s->close();
    } catch (const std::exception&) {
    }
}

BitRateDialog::BitRateDialog(QWidget* parent, std::optional<double> rate) : QDialog(parent) {
    setObjectName(QStringLiteral("BitRateDialog"));
    setWindowTitle(QStringLiteral("Скорость линии"));
    auto* form = new QFormLayout(this);
    edit_ = new QLineEdit(rate ? shownText(*rate) : QString(), this);
    edit_->setObjectName(QStringLiteral("edBitRate"));
    edit_->setPlaceholderText(QStringLiteral("не задана"));
    edit_->setClearButtonEnabled(true);
    form->addRow(QStringLiteral("Скорость, бит/с"), edit_);
    auto* hint = new QLabel(QStringLiteral("С заданной скоростью маркер, курсор, разность и шкала\n"
                                           "показывают ещё и время. Пустое поле — только биты."),
                            this);
    form->addRow(hint);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &BitRateDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &BitRateDialog::reject);
    form->addRow(buttons);
}

void BitRateDialog::setText(const QString& text) {
    edit_->setText(text);
}

std::optional<double> BitRateDialog::rate() const {
    return osc::parseBitRate(edit_->text().toStdString());
}

void BitRateDialog::accept() {
    if (!edit_->text().trimmed().isEmpty() && !rate()) {
        showError(this, QStringLiteral("Скорость — число бит в секунду от 0,001 до "
                                       "1 000 000 000 000, например 9600"));
        edit_->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace ui
