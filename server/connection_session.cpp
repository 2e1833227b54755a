#include "server/connection_session.h"

#include "codepage/win1251.h"

namespace server {

std::string CaptionFor(bool connected, std::string_view ntServer, std::string_view tmServer) {
    std::string caption(kAppTitle);
    if (connected) {
        caption += " - ";
        caption += ntServer;
        caption += "\\";
        caption += tmServer;
    }
    return caption;
}

ConnectionSession::ConnectionSession(TelemechanicsApi& api) : api_(&api) {}
ConnectionSession::ConnectionSession() = default;
ConnectionSession::~ConnectionSession() = default;

TelemechanicsApi& ConnectionSession::api() {
    if (!api_) {
        owned_ = LoadTelemechanicsLibraries();
        api_ = owned_.get();
    }
    return *api_;
}

void ConnectionSession::applyCredentials(std::string_view user, std::string_view password) {
    if (user.empty()) {
        return;
    }
    const std::string u = codepage::Utf8ToWin1251(user);
    const std::string p = codepage::Utf8ToWin1251(password);
    api().cfsSetUser(u.c_str(), p.c_str());
}

std::int32_t ConnectionSession::connect(std::string_view ntServer, std::string_view tmServer) {
    const std::string nt = codepage::Utf8ToWin1251(ntServer);
    const std::string tm = "dnt$" + codepage::Utf8ToWin1251(tmServer);
    return api().tmcConnect(nt.c_str(), tm.c_str(), 0, 0, 0);
}

bool ConnectionSession::isConnected(std::int32_t connection) {
    return connection != kNotConnected && api().tmcIsConnected(connection) == 1;
}

DeviceListResult ConnectionSession::refreshDeviceList(std::int32_t connection) {
    return RebuildDeviceList(api(), connection);
}

std::string ConnectionSession::caption(std::int32_t connection, std::string_view ntServer,
                                       std::string_view tmServer) {
    return CaptionFor(isConnected(connection), ntServer, tmServer);
}

}  // namespace server
