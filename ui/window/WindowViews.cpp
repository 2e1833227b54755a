#include "ui/window/WindowViews.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>

#include "ui/dialogs/logind.h"
#include "ui/plot/OscPlot.h"
#include "ui/widgets/DeviceListLook.h"
#include "ui/widgets/Messages.h"
#include "ui/window/ReadoutPanel.h"

namespace ui {

AcquisitionWidgets::AcquisitionWidgets(QComboBox& deviceList, QSpinBox& windowBits,
                                       QLabel& statusPanel, CompletionPanel& completion)
    : deviceList_(deviceList),
      windowBits_(windowBits),
      statusPanel_(statusPanel),
      completion_(completion) {}

std::optional<QString> AcquisitionWidgets::selectedDeviceEntry() const {
    if (deviceList_.currentIndex() < 0) {
        return std::nullopt;
    }
    return deviceList_.currentText();
}

int AcquisitionWidgets::windowBits() const {
    return windowBits_.value();
}

QString AcquisitionWidgets::statusText() const {
    return statusPanel_.text();
}

void AcquisitionWidgets::setStatusText(const QString& text) {
    statusPanel_.setText(text);
}

void AcquisitionWidgets::beginCompletion() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    completion_.show();
    completion_.repaint();
}

void AcquisitionWidgets::endCompletion() {
    completion_.hide();
    QApplication::restoreOverrideCursor();
}

AcquisitionView::Progress AcquisitionWidgets::progress() const {
    const QProgressBar& bar = *completion_.ProgressBar1;
    return {bar.minimum(), bar.maximum(), bar.value()};
}

void AcquisitionWidgets::setProgress(int value, bool drawNow) {
    completion_.ProgressBar1->setValue(value);
    if (drawNow) {
        completion_.ProgressBar1->repaint();
    }
}

ConnectionWidgets::ConnectionWidgets(QWidget& window, QComboBox& deviceList)
    : window_(window), deviceList_(deviceList) {}

bool ConnectionWidgets::runLogin(
    const std::function<void(const QString& user, const QString& password)>& setUser) {
    if (!LoginDlg) {
        return false;
    }
    LoginDlg->setUser = setUser;
    if (demoMode_) {
        LoginDlg->setDefaultServerNames(QStringLiteral("localhost"), QStringLiteral("demo"));
    }
    return runModal(*LoginDlg) == QDialog::Accepted;
}

QString ConnectionWidgets::ntServer() const {
    return LoginDlg ? LoginDlg->ntServer() : QString();
}

QString ConnectionWidgets::tmServer() const {
    return LoginDlg ? LoginDlg->tmServer() : QString();
}

void ConnectionWidgets::setCaption(const QString& caption) {
    window_.setWindowTitle(caption);
}

void ConnectionWidgets::setDeviceEntries(const QStringList& entries) {
    const QSignalBlocker quiet(&deviceList_);
    deviceList_.clear();
    deviceList_.addItems(entries);
    deviceList_.setCurrentIndex(-1);  // no entry selected until the user picks one
}

void ConnectionWidgets::dropDownDeviceList() {
    dropDownList(&deviceList_);
}

SessionWidgets::SessionWidgets(ReadoutPanel& panel, QWidget& framesPage, OscPlot& plot)
    : panel_(panel), framesPage_(framesPage), plot_(plot) {}

osc::SessionDecoder SessionWidgets::decoder() const {
    const osc::BitStreamOptions o = panel_.bitStreamOptions();
    return {o.bitsPerGroup, o.reverse, o.invert, o.unstuff};
}

void SessionWidgets::setDecoder(const osc::SessionDecoder& decoder) {
    osc::BitStreamOptions o;
    o.bitsPerGroup = decoder.bitsPerGroup;
    o.reverse = decoder.reverse;
    o.invert = decoder.invert;
    o.unstuff = decoder.unstuff;
    panel_.setBitStreamOptions(o);
}

SessionView::Options SessionWidgets::frameOptions() const {
    Options options;
    for (const QWidget* w : framesPage_.findChildren<QWidget*>()) {
        const QString name = w->objectName();
        if (const auto* box = qobject_cast<const QCheckBox*>(w);
            box && name.startsWith("cbFrame")) {
            options.emplace_back((name + QStringLiteral("_Checked")).toStdString(),
                                 box->isChecked() ? "True" : "False");
        } else if (const auto* list = qobject_cast<const QComboBox*>(w);
                   list && name.startsWith("cmbFrame")) {
            options.emplace_back((name + QStringLiteral("_ItemIndex")).toStdString(),
                                 std::to_string(list->currentIndex()));
        } else if (const auto* spin = qobject_cast<const QSpinBox*>(w);
                   spin && name.startsWith("seFrame")) {
            options.emplace_back((name + QStringLiteral("_Value")).toStdString(),
                                 std::to_string(spin->value()));
        }
    }
    return options;
}

void SessionWidgets::setFrameOptions(const Options& options) {
    for (const auto& [key, value] : options) {
        const QString name = QString::fromStdString(key);
        const QString object = name.section(QLatin1Char('_'), 0, 0);
        const QString text = QString::fromStdString(value);
        QWidget* w = framesPage_.findChild<QWidget*>(object);
        if (auto* box = qobject_cast<QCheckBox*>(w); box && name.endsWith("_Checked")) {
            box->setChecked(text == QStringLiteral("True"));
        } else if (auto* list = qobject_cast<QComboBox*>(w); list && name.endsWith("_ItemIndex")) {
            bool ok = false;
            const int index = text.toInt(&ok);
            if (ok && index >= 0 && index < list->count()) {
                list->setCurrentIndex(index);
            }
        } else if (auto* spin = qobject_cast<QSpinBox*>(w); spin && name.endsWith("_Value")) {
            bool ok = false;
            const int v = text.toInt(&ok);
            if (ok) {
                spin->setValue(v);
            }
        }
    }
}

void SessionWidgets::setChannelColours(const std::array<QColor, osc::kChannelCount>& colours) {
    plot_.setChannelColours(colours);
    plot_.markDirty();
}

}  // namespace ui
