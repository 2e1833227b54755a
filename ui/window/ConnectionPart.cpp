#include "ui/window/ConnectionPart.h"

#include <stdexcept>
#include <string>

#include "server/connection_session.h"

namespace ui {

ConnectionPart::ConnectionPart(ConnectionView& view, MessageSink& messages)
    : view_(view), messages_(messages) {}

ConnectionPart::~ConnectionPart() = default;

void ConnectionPart::setSession(std::unique_ptr<server::ConnectionSession> session) {
    session_ = std::move(session);
}

server::ConnectionSession& ConnectionPart::session() {
    if (!session_) {
        session_ = std::make_unique<server::ConnectionSession>();
    }
    return *session_;
}

void ConnectionPart::connect() {
    if (connection_ != -1) {
        return;
    }
    const bool confirmed = view_.runLogin([this](const QString& user, const QString& password) {
        session().applyCredentials(user.toStdString(), password.toStdString());
    });
    if (!confirmed) {
        return;
    }
    // The dialog's texts are read afresh at each use.
    connection_ = session().connect(view_.ntServer().toStdString(), view_.tmServer().toStdString());
    refreshDeviceList();
    view_.setCaption(QString::fromStdString(session().caption(
        connection_, view_.ntServer().toStdString(), view_.tmServer().toStdString())));
}

void ConnectionPart::refreshDeviceList() {
    view_.setDeviceEntries({});
    const server::DeviceListResult result = session().refreshDeviceList(connection_);
    QStringList entries;
    for (const std::string& entry : result.entries) {
        entries << QString::fromStdString(entry);
    }
    view_.setDeviceEntries(entries);
    if (!result.keepsConnection()) {
        // Not connected any more: the next connect action asks for the login again.
        connection_ = -1;
    }
    switch (result.outcome) {
        case server::DeviceListResult::Outcome::FetchFailed:
            messages_.showError(QString::fromStdString(server::FetchFailureText(
                view_.ntServer().toStdString(), view_.tmServer().toStdString())));
            return;
        case server::DeviceListResult::Outcome::ReadError:
            throw std::runtime_error(result.error);
        case server::DeviceListResult::Outcome::Listed:
            view_.dropDownDeviceList();
            return;
    }
}

}  // namespace ui
