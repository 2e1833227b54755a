#pragma once
// A folder of server definitions and a folder for temporary files, both removed afterwards;
// TMCONN_SERVERS_DIR points at the definitions while it lives.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace server::testing {

class ServerFolder {
  public:
    ServerFolder() {
        static int serial = 0;
        root_ = std::filesystem::temp_directory_path() /
                ("mo-servers-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        std::filesystem::create_directories(root_ / "servers");
        std::filesystem::create_directories(root_ / "tmp");
        ::setenv("TMCONN_SERVERS_DIR", (root_ / "servers").c_str(), 1);
    }
    ~ServerFolder() {
        ::unsetenv("TMCONN_SERVERS_DIR");
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    ServerFolder(const ServerFolder&) = delete;
    ServerFolder& operator=(const ServerFolder&) = delete;

    // Writes a file of the server NT/TM (folder names in UTF-8), creating the folder.
    void write(const std::string& nt, const std::string& tm, const std::string& file,
               const std::string& bytes) const {
        const std::filesystem::path folder = root_ / "servers" / nt / tm;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / file, std::ios::binary) << bytes;
    }
    void remove(const std::string& nt, const std::string& tm, const std::string& file) const {
        std::filesystem::remove(root_ / "servers" / nt / tm / file);
    }
    std::filesystem::path tempFolder() const { return root_ / "tmp"; }
    // What is left in the temporary folder.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(tempFolder())) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

  private:
    std::filesystem::path root_;
};

}  // namespace server::testing
