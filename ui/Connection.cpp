// The connect action: the login dialog, the connection to the telemechanics server, the device
// list built from its configuration, and the window caption.

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include <stdexcept>

#include "server/connection_session.h"
#include "ui/MainUnit.h"
#include "ui/Messages.h"
#include "ui/logind.h"

namespace {

std::string utf8(const QLineEdit* edit) {
    return edit->text().toStdString();
}

}  // namespace

void TfrmMain::setConnectionSession(std::unique_ptr<server::ConnectionSession> session) {
    FSession = std::move(session);
}

server::ConnectionSession& TfrmMain::session() {
    if (!FSession) {
        FSession = std::make_unique<server::ConnectionSession>();
    }
    return *FSession;
}

void TfrmMain::actConnectExecute() {
    if (FConnection != -1 || !LoginDlg) {
        return;
    }
    LoginDlg->setUser = [this](const QString& user, const QString& password) {
        session().applyCredentials(user.toStdString(), password.toStdString());
    };
    if (demoMode) {
        LoginDlg->afterRestore = [] {
            if (LoginDlg->ServerE->text().isEmpty()) {
                LoginDlg->ServerE->setText(QStringLiteral("localhost"));
            }
            if (LoginDlg->TmsE->text().isEmpty()) {
                LoginDlg->TmsE->setText(QStringLiteral("demo"));
            }
        };
    }
    if (ui::runModal(*LoginDlg) != QDialog::Accepted) {
        return;
    }
    FConnection = session().connect(utf8(LoginDlg->ServerE), utf8(LoginDlg->TmsE));
    RefreshDeviceList();
    setWindowTitle(QString::fromStdString(
        session().caption(FConnection, utf8(LoginDlg->ServerE), utf8(LoginDlg->TmsE))));
}

void TfrmMain::RefreshDeviceList() {
    {
        const QSignalBlocker quiet(ComboBox1);
        ComboBox1->clear();
    }
    const server::DeviceListResult result = session().refreshDeviceList(FConnection);
    {
        const QSignalBlocker quiet(ComboBox1);
        for (const std::string& entry : result.entries) {
            ComboBox1->addItem(QString::fromStdString(entry));
        }
        ComboBox1->setCurrentIndex(-1);  // no entry selected until the user picks one
    }
    if (!result.keepsConnection()) {
        // Not connected any more: the next connect action asks for the login again.
        FConnection = -1;
    }
    switch (result.outcome) {
        case server::DeviceListResult::Outcome::FetchFailed:
            ui::showError(this, QString::fromStdString(server::FetchFailureText(
                                    utf8(LoginDlg->ServerE), utf8(LoginDlg->TmsE))));
            return;
        case server::DeviceListResult::Outcome::ReadError:
            throw std::runtime_error(result.error);
        case server::DeviceListResult::Outcome::Listed:
            ComboBox1->showPopup();
            return;
    }
}
