#include "ui/window/WindowViews.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>

#include "ui/dialogs/logind.h"
#include "ui/widgets/DeviceListLook.h"
#include "ui/widgets/Messages.h"

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

}  // namespace ui
