#include "server/device_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>

#include "codepage/win1251.h"
#include "core/directory/config_line.h"

namespace server {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kTempPathBuffer = 260;
// A library that never ends an item's records would hang the window; no real item has this many.
constexpr std::size_t kMostRecordsPerItem = 1u << 20;

std::string systemError(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::uint64_t millisecondTicks() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The configuration's temporary file: created empty and exclusively (so no file that was there
// before is ever used or removed), and removed when the rebuild ends, however it ends.
class TemporaryConfigFile {
  public:
    explicit TemporaryConfigFile(const fs::path& folder) {
        static std::atomic<unsigned> serial{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = "tmp" + std::to_string(millisecondTicks()) + "_" +
                                     std::to_string(::getpid()) + "_" + std::to_string(serial++) +
                                     ".tmp";
            path_ = folder / name;
            const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::close(fd);
                created_ = true;
                return;
            }
            error_ = errno;
            if (error_ != EEXIST) {
                return;
            }
        }
    }
    ~TemporaryConfigFile() {
        if (created_) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }
    TemporaryConfigFile(const TemporaryConfigFile&) = delete;
    TemporaryConfigFile& operator=(const TemporaryConfigFile&) = delete;

    bool created() const { return created_; }
    int error() const { return error_; }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
    bool created_ = false;
    int error_ = 0;
};

class ItemCloser {
  public:
    ItemCloser(TelemechanicsApi& api, std::int32_t item) : api_(api), item_(item) {}
    ~ItemCloser() { api_.tmcDntCloseItem(item_); }
    ItemCloser(const ItemCloser&) = delete;
    ItemCloser& operator=(const ItemCloser&) = delete;

  private:
    TelemechanicsApi& api_;
    std::int32_t item_;
};

// The address that the first kind 0 record with the marker gives, if any.
std::optional<std::string> deviceAddress(TelemechanicsApi& api, std::int32_t connection,
                                         const osc::TItemAddress& address) {
    const std::int32_t item =
        api.tmcDntOpenItem(connection, static_cast<std::int32_t>(address.size()), address.data());
    ItemCloser closer(api, item);
    for (std::size_t n = 0; n < kMostRecordsPerItem; ++n) {
        const unsigned char* record = api.tmcDntGetNextItem(item);
        if (!record) {
            break;
        }
        if (record[0] != 0) {
            continue;
        }
        const char* text = reinterpret_cast<const char*>(record + 2);
        if (std::optional<std::string> found = osc::AddressFromProperty(text)) {
            return found;
        }
    }
    return std::nullopt;
}

std::string readErrorText(const fs::path& path, int error) {
    return "Ошибка ввода-вывода при чтении файла конфигурации " + path.string() + ": " +
           systemError(error);
}

}  // namespace

std::string FetchFailureText(std::string_view ntServer, std::string_view tmServer) {
    std::string text = "Не удалось получить конфигурацию с ";
    text += ntServer;
    text += "\\";
    text += tmServer;
    return text;
}

fs::path TemporaryFolder() {
    std::error_code ec;
    fs::path folder = fs::temp_directory_path(ec);
    if (ec || folder.empty() || folder.string().size() >= kTempPathBuffer) {
        return fs::path(".");
    }
    return folder;
}

DeviceListResult RebuildDeviceList(TelemechanicsApi& api, std::int32_t connection) {
    return RebuildDeviceList(api, connection, TemporaryFolder());
}

DeviceListResult RebuildDeviceList(TelemechanicsApi& api, std::int32_t connection,
                                   const fs::path& tempFolder) {
    DeviceListResult result;
    TemporaryConfigFile file(tempFolder);
    if (!file.created()) {
        result.outcome = DeviceListResult::Outcome::ReadError;
        result.error = "Не удалось создать временный файл " + file.path().string() + ": " +
                       systemError(file.error());
        return result;
    }
    if (api.tmcDntGetConfig(connection, file.path().c_str()) == 0 ||
        api.tmcIsConnected(connection) != 1) {
        result.outcome = DeviceListResult::Outcome::FetchFailed;
        return result;
    }

    std::FILE* in = std::fopen(file.path().c_str(), "rb");
    if (!in) {
        result.outcome = DeviceListResult::Outcome::ReadError;
        result.error = readErrorText(file.path(), errno);
        return result;
    }
    auto treat = [&](std::string_view line) {
        const osc::ParsedConfigLine parsed = osc::ParseConfigLine(line);
        if (!parsed.isDeviceLine()) {
            return;
        }
        const std::optional<std::string> address =
            deviceAddress(api, connection, parsed.head.Address);
        result.entries.push_back(
            codepage::Win1251ToUtf8(osc::DeviceEntryText(parsed.name, address)));
    };
    osc::ConfigLineSplitter splitter;
    char buffer[65536];
    try {
        while (!splitter.ended()) {
            const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
            splitter.feed(std::string_view(buffer, got), treat);
            if (got < sizeof buffer) {
                // A read error drops the line it interrupted; the end of the file ends the last.
                if (!std::ferror(in)) {
                    splitter.finish(treat);
                }
                break;
            }
        }
    } catch (...) {
        std::fclose(in);
        throw;
    }
    if (std::fclose(in) != 0) {
        result.outcome = DeviceListResult::Outcome::ReadError;
        result.error = readErrorText(file.path(), errno);
    }
    return result;
}

}  // namespace server
