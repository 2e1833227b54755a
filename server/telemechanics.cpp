#include "server/telemechanics.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "abi/tmconn_api.h"

namespace server {

namespace fs = std::filesystem;

namespace {

fs::path executableFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
}

// In this order: beside the program (a site's own library), the build tree's lib/ beside bin/,
// the installed private folder lib/morvelip-osc, the search path (with the program's RPATH),
// and last the library folder of the build that compiled this, so that an installed program
// never prefers a build tree that happens to be there. The private folder is tried by path
// as well as through the RPATH: the loader may disregard $ORIGIN for a program that holds a
// file capability (the installed ones bind port 971 through one).
std::vector<std::string> candidatesFor(const std::string& file) {
    std::vector<std::string> out;
    const fs::path exeDir = executableFolder();
    if (!exeDir.empty()) {
        out.push_back((exeDir / file).string());
        out.push_back((exeDir.parent_path() / "lib" / file).string());
        out.push_back((exeDir.parent_path() / "lib" / "morvelip-osc" / file).string());
    }
    out.push_back(file);  // the system's search path
#ifdef MO_BUILD_LIBRARY_DIR
    out.push_back((fs::path(MO_BUILD_LIBRARY_DIR) / file).string());
#endif
    return out;
}

void* openLibrary(const std::string& file, const std::vector<std::string>& candidates) {
    std::string lastError = "not found";
    for (const std::string& candidate : candidates) {
        const bool isPath = candidate.find('/') != std::string::npos;
        std::error_code ec;
        if (isPath && !fs::exists(candidate, ec)) {
            continue;
        }
        dlerror();
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return handle;
        }
        const char* why = dlerror();
        lastError = why ? why : "unknown error";
    }
    throw LibraryLoadError("Не удалось загрузить библиотеку " + file + ": " + lastError);
}

template <typename Fn>
Fn resolve(void* library, const std::string& file, const char* name) {
    dlerror();
    void* symbol = dlsym(library, name);
    if (!symbol) {
        throw LibraryLoadError("В библиотеке " + file + " нет функции " + name);
    }
    return reinterpret_cast<Fn>(symbol);
}

class LoadedLibraries final : public TelemechanicsApi {
  public:
    // Each library is tried at its candidate places in turn; the names are those of the messages.
    LoadedLibraries(const std::string& tmc, const std::vector<std::string>& tmcCandidates,
                    const std::string& cfs, const std::vector<std::string>& cfsCandidates) {
        // The credentials library first: the connection library may look for it when it connects.
        void* cfshare = openLibrary(cfs, cfsCandidates);
        void* tmconn = openLibrary(tmc, tmcCandidates);
        setUser_ = resolve<cfsSetUser_fn>(cfshare, cfs, "cfsSetUser");
        connect_ = resolve<tmcConnect_fn>(tmconn, tmc, "tmcConnect");
        isConnected_ = resolve<tmcIsConnected_fn>(tmconn, tmc, "tmcIsConnected");
        getConfig_ = resolve<tmcDntGetConfig_fn>(tmconn, tmc, "tmcDntGetConfig");
        openItem_ = resolve<tmcDntOpenItem_fn>(tmconn, tmc, "tmcDntOpenItem");
        nextItem_ = resolve<tmcDntGetNextItem_fn>(tmconn, tmc, "tmcDntGetNextItem");
        closeItem_ = resolve<tmcDntCloseItem_fn>(tmconn, tmc, "tmcDntCloseItem");
    }

    std::int32_t cfsSetUser(const char* user, const char* password) override {
        return setUser_(user, password);
    }
    std::int32_t tmcConnect(const char* nt, const char* tm, std::int32_t a, std::int32_t b,
                            std::int32_t c) override {
        return connect_(nt, tm, a, b, c);
    }
    std::int32_t tmcIsConnected(std::int32_t connection) override {
        return isConnected_(connection);
    }
    std::int32_t tmcDntGetConfig(std::int32_t connection, const char* path) override {
        return getConfig_(connection, path);
    }
    std::int32_t tmcDntOpenItem(std::int32_t connection, std::int32_t count,
                                const std::uint32_t* address) override {
        return openItem_(connection, count, address);
    }
    const unsigned char* tmcDntGetNextItem(std::int32_t item) override {
        return static_cast<const unsigned char*>(nextItem_(item));
    }
    std::int32_t tmcDntCloseItem(std::int32_t item) override { return closeItem_(item); }

  private:
    cfsSetUser_fn setUser_ = nullptr;
    tmcConnect_fn connect_ = nullptr;
    tmcIsConnected_fn isConnected_ = nullptr;
    tmcDntGetConfig_fn getConfig_ = nullptr;
    tmcDntOpenItem_fn openItem_ = nullptr;
    tmcDntGetNextItem_fn nextItem_ = nullptr;
    tmcDntCloseItem_fn closeItem_ = nullptr;
};

}  // namespace

std::unique_ptr<TelemechanicsApi> LoadTelemechanicsLibraries() {
    const std::string tmc = "libtmconn.so";
    const std::string cfs = "libcfshare.so";
    return std::make_unique<LoadedLibraries>(tmc, candidatesFor(tmc), cfs, candidatesFor(cfs));
}

std::unique_ptr<TelemechanicsApi> LoadTelemechanicsLibraries(const std::string& tmconnFile,
                                                             const std::string& cfshareFile) {
    return std::make_unique<LoadedLibraries>(tmconnFile, std::vector<std::string>{tmconnFile},
                                             cfshareFile, std::vector<std::string>{cfshareFile});
}

}  // namespace server
