#pragma once
// The telemechanics connection libraries as the programs call them: an interface with one
// member per library function (texts are the libraries' Windows-1251 texts), and the loader
// of libtmconn.so and libcfshare.so.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace server {

class TelemechanicsApi {
  public:
    virtual ~TelemechanicsApi() = default;
    virtual std::int32_t cfsSetUser(const char* user, const char* password) = 0;
    virtual std::int32_t tmcConnect(const char* ntServer, const char* tmServer, std::int32_t a,
                                    std::int32_t b, std::int32_t c) = 0;
    virtual std::int32_t tmcIsConnected(std::int32_t connection) = 0;
    virtual std::int32_t tmcDntGetConfig(std::int32_t connection, const char* filePath) = 0;
    virtual std::int32_t tmcDntOpenItem(std::int32_t connection, std::int32_t count,
                                        const std::uint32_t* address) = 0;
    // The record: byte 0 kind, byte 1 unused, text from byte 2 to a zero byte; null at the end.
    virtual const unsigned char* tmcDntGetNextItem(std::int32_t item) = 0;
    virtual std::int32_t tmcDntCloseItem(std::int32_t item) = 0;
};

// A library that cannot be loaded, or that lacks one of the functions; the text names both.
class LibraryLoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Loads libtmconn.so and libcfshare.so and resolves every function. Each library is looked
// for beside the executable, in ../lib from it, in the build tree's library folder, and last
// on the system's search path, so that libraries put in place of the stand-ins are used.
// Throws LibraryLoadError. The libraries stay loaded for the rest of the process.
std::unique_ptr<TelemechanicsApi> LoadTelemechanicsLibraries();
// The same from the two given files (paths, or bare names for the system's search path).
std::unique_ptr<TelemechanicsApi> LoadTelemechanicsLibraries(const std::string& tmconnFile,
                                                             const std::string& cfshareFile);

}  // namespace server
