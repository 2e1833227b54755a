#pragma once
// The device directory: the list of IP devices that the server's configuration yields. One
// rebuild fetches the configuration into a temporary file, reads its device lines, asks the
// library for each device's records and builds the entries "name (IP:address)" or "name".

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "server/telemechanics.h"

namespace server {

struct DeviceListResult {
    enum class Outcome {
        Listed,       // the configuration was read; the window drops the list down
        FetchFailed,  // tmcDntGetConfig failed or the connection is down; show FetchFailureText
        ReadError,    // the temporary file could not be created, opened or closed; see error
    };
    Outcome outcome = Outcome::Listed;
    std::vector<std::string> entries;  // UTF-8, in the order of the configuration
    std::string error;                 // ReadError: the text of the error report (UTF-8)

    // Only a listed configuration keeps the connection: after the other outcomes the caller
    // sets its handle to -1, so the next connect action asks for the login again.
    bool keepsConnection() const { return outcome == Outcome::Listed; }
};

// "Не удалось получить конфигурацию с " + NT + "\" + TM (UTF-8 in, UTF-8 out).
std::string FetchFailureText(std::string_view ntServer, std::string_view tmServer);

// The folder for the temporary configuration file: the system's temporary folder, or "." when
// it cannot be obtained or its path is 260 characters or longer.
std::filesystem::path TemporaryFolder();

// Rebuilds the list over the connection (also over -1, which fails the fetch). The temporary
// file is removed before it returns, on every path. Entries found before a read error stay in
// the result. Exceptions of the codec or of memory pass through, the file removed all the same.
DeviceListResult RebuildDeviceList(TelemechanicsApi& api, std::int32_t connection);
// The same in the given folder instead of TemporaryFolder().
DeviceListResult RebuildDeviceList(TelemechanicsApi& api, std::int32_t connection,
                                   const std::filesystem::path& tempFolder);

}  // namespace server
