#pragma once
// The connection to the telemechanics server: the connect action with its login dialog, the
// device list built from the server's configuration, and the window caption.

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

#include "ui/widgets/Messages.h"

namespace server {
class ConnectionSession;
}

namespace ui {

// The widgets of the connection, as the form shows them.
class ConnectionView {
  public:
    virtual ~ConnectionView() = default;
    // Shows the login dialog modally; its OK button hands a non-empty user name and the
    // password to setUser. True when the dialog closed with OK.
    virtual bool runLogin(
        const std::function<void(const QString& user, const QString& password)>& setUser) = 0;
    // The dialog's server names, as they are now.
    virtual QString ntServer() const = 0;  // ServerE
    virtual QString tmServer() const = 0;  // TmsE
    virtual void setCaption(const QString& caption) = 0;
    // ComboBox1 holds exactly these entries, none selected; the change raises no selection.
    virtual void setDeviceEntries(const QStringList& entries) = 0;
    virtual void dropDownDeviceList() = 0;
};

class ConnectionPart : public QObject {
    Q_OBJECT
  public:
    ConnectionPart(ConnectionView& view, MessageSink& messages);
    ~ConnectionPart() override;
    ConnectionPart(const ConnectionPart&) = delete;
    ConnectionPart& operator=(const ConnectionPart&) = delete;

    // The connection libraries' side; loaded on first use unless set.
    void setSession(std::unique_ptr<server::ConnectionSession> session);
    server::ConnectionSession& session();

    // actConnectExecute: while not connected, the login, the connection, the device list and
    // the caption.
    void connect();
    // RefreshDeviceList: ComboBox1 from the server's configuration, dropped down; a failed
    // fetch shows its message and leaves the program not connected. Throws for a
    // configuration that cannot be read.
    void refreshDeviceList();

    std::int32_t connection() const { return connection_; }  // FConnection: -1 not connected
    void setConnection(std::int32_t handle) { connection_ = handle; }

  private:
    ConnectionView& view_;
    MessageSink& messages_;
    std::unique_ptr<server::ConnectionSession> session_;
    std::int32_t connection_ = -1;
};

}  // namespace ui
