// Stand-in for the credentials library: keeps the user name and password for the connection
// opened next.

#include <mutex>
#include <string>

#include "abi/standin_credentials.h"
#include "abi/tmconn_api.h"

namespace {

std::mutex& credentialsMutex() {
    static std::mutex m;
    return m;
}
std::string& keptUser() {
    static std::string s;
    return s;
}
std::string& keptPassword() {
    static std::string s;
    return s;
}

}  // namespace

extern "C" int32_t cfsSetUser(const char* user, const char* password) {
    try {
        std::lock_guard<std::mutex> lock(credentialsMutex());
        keptUser() = user ? user : "";
        keptPassword() = password ? password : "";
        return 1;
    } catch (...) {
        return 0;
    }
}

extern "C" void cfsStandInCredentials(cfsStandInTake_fn take, void* context) {
    if (!take) {
        return;
    }
    std::lock_guard<std::mutex> lock(credentialsMutex());
    take(keptUser().c_str(), keptPassword().c_str(), context);
}
