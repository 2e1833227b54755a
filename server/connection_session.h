#pragma once
// The library side of the login and the connect action: credentials, connection, caption and
// the device list rebuild, with the window's UTF-8 texts converted for the libraries.
//
// The window keeps its handle FConnection (-1 = not connected) and calls, in order:
//   BitBtn1Click:       session.applyCredentials(UserE, PasswordE);
//   actConnectExecute:  if FConnection != -1 return; if the dialog is not confirmed return;
//                       FConnection = session.connect(ServerE, TmsE);
//                       RefreshDeviceList();
//                       caption = session.caption(FConnection, ServerE, TmsE);
//   RefreshDeviceList:  clear the list; r = session.refreshDeviceList(FConnection);
//                       add r.entries; if (!r.keepsConnection()) FConnection = -1;
//                       FetchFailed: error box FetchFailureText(ServerE, TmsE), done;
//                       ReadError: raise r.error to the general error report, done;
//                       Listed: drop the list down.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/device_directory.h"
#include "server/telemechanics.h"

namespace server {

inline constexpr std::string_view kAppTitle = "МорвелIP-осциллограф";
inline constexpr std::int32_t kNotConnected = -1;

// "МорвелIP-осциллограф", or "МорвелIP-осциллограф - " + NT + "\" + TM while connected.
std::string CaptionFor(bool connected, std::string_view ntServer, std::string_view tmServer);

class ConnectionSession {
  public:
    // Calls the libraries through api, which must outlive the session.
    explicit ConnectionSession(TelemechanicsApi& api);
    // Loads the libraries at the first call that needs them (LoadTelemechanicsLibraries); a
    // load failure throws LibraryLoadError from that call, and the next call tries again.
    ConnectionSession();
    ~ConnectionSession();
    ConnectionSession(const ConnectionSession&) = delete;
    ConnectionSession& operator=(const ConnectionSession&) = delete;

    // cfsSetUser(user, password) for a non-empty user name; nothing for an empty one.
    void applyCredentials(std::string_view user, std::string_view password);
    // tmcConnect(NT, "dnt$" + TM, 0, 0, 0): the handle, -1 when it failed.
    std::int32_t connect(std::string_view ntServer, std::string_view tmServer);
    // Whether the handle stands for a connection: not -1 and tmcIsConnected answers 1.
    bool isConnected(std::int32_t connection);
    // RebuildDeviceList over the handle.
    DeviceListResult refreshDeviceList(std::int32_t connection);
    // The window caption for the handle and the server names (asks tmcIsConnected).
    std::string caption(std::int32_t connection, std::string_view ntServer,
                        std::string_view tmServer);

  private:
    TelemechanicsApi& api();

    std::unique_ptr<TelemechanicsApi> owned_;
    TelemechanicsApi* api_ = nullptr;
};

}  // namespace server
