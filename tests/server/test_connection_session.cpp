// The login's library calls, the rebuild's call order and item accounting against a recording
// fake of the libraries, and the loader's errors.

#include "server/connection_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/server/server_folder.h"

namespace server {
namespace {

using Outcome = DeviceListResult::Outcome;

// Serves one configuration text and per-address records, and records every call.
class FakeLibraries : public TelemechanicsApi {
  public:
    std::string config;
    std::map<std::uint32_t, std::vector<std::string>> records;  // by the address' third word
    std::int32_t getConfigResult = 1;
    std::int32_t isConnectedResult = 1;
    bool throwOnRecords = false;
    std::function<void(const char*)> onGetConfig;

    std::vector<std::string> calls;
    std::vector<std::string> configPaths;
    std::map<std::int32_t, int> closes;
    std::vector<std::int32_t> opened;
    std::vector<std::int32_t> openCounts;

    std::int32_t cfsSetUser(const char* user, const char* password) override {
        calls.push_back(std::string("cfsSetUser ") + user + " " + password);
        return 1;
    }
    std::int32_t tmcConnect(const char* nt, const char* tm, std::int32_t a, std::int32_t b,
                            std::int32_t c) override {
        calls.push_back(std::string("tmcConnect ") + nt + " " + tm + " " + std::to_string(a) +
                        std::to_string(b) + std::to_string(c));
        return 7;
    }
    std::int32_t tmcIsConnected(std::int32_t connection) override {
        calls.push_back("tmcIsConnected " + std::to_string(connection));
        return isConnectedResult;
    }
    std::int32_t tmcDntGetConfig(std::int32_t connection, const char* path) override {
        calls.push_back("tmcDntGetConfig " + std::to_string(connection));
        configPaths.push_back(path);
        if (onGetConfig) {
            onGetConfig(path);
        } else {
            std::ofstream(path, std::ios::binary) << config;
        }
        return getConfigResult;
    }
    std::int32_t tmcDntOpenItem(std::int32_t, std::int32_t count,
                                const std::uint32_t* address) override {
        openCounts.push_back(count);
        const std::int32_t item = static_cast<std::int32_t>(100 + address[2]);
        opened.push_back(item);
        next_[item] = 0;
        for (int i = 3; i < 16; ++i) {
            EXPECT_EQ(address[i], 0xFFFFFFFFu);
        }
        return item;
    }
    const unsigned char* tmcDntGetNextItem(std::int32_t item) override {
        calls.push_back("next " + std::to_string(item));
        if (throwOnRecords) {
            throw std::runtime_error("records broke");
        }
        const auto& list = records[static_cast<std::uint32_t>(item - 100)];
        std::size_t& n = next_[item];
        if (n >= list.size()) {
            return nullptr;
        }
        return reinterpret_cast<const unsigned char*>(list[n++].data());
    }
    std::int32_t tmcDntCloseItem(std::int32_t item) override {
        ++closes[item];
        return 1;
    }

  private:
    std::map<std::int32_t, std::size_t> next_;
};

std::string record(char kind, const std::string& text) {
    return std::string(1, kind) + '\0' + text + '\0';
}

std::vector<std::string> leftovers(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    return names;
}

class SessionTest : public ::testing::Test {
  protected:
    testing::ServerFolder folder;
    FakeLibraries fake;
};

TEST_F(SessionTest, CredentialsOnlyForANonEmptyUserNameInWindows1251) {
    ConnectionSession session(fake);
    session.applyCredentials("", "secret");
    EXPECT_TRUE(fake.calls.empty());
    session.applyCredentials("Оператор", "пароль");
    ASSERT_EQ(fake.calls.size(), 1u);
    EXPECT_EQ(fake.calls[0],
              "cfsSetUser \xCE\xEF\xE5\xF0\xE0\xF2\xEE\xF0 \xEF\xE0\xF0\xEE\xEB\xFC");
    session.applyCredentials("u", "");
    EXPECT_EQ(fake.calls.back(), "cfsSetUser u ");
}

TEST_F(SessionTest, ConnectPrefixesTheTmServerAndPassesZeros) {
    ConnectionSession session(fake);
    EXPECT_EQ(session.connect("Сервер", "tm"), 7);
    EXPECT_EQ(session.connect("", ""), 7);
    ASSERT_EQ(fake.calls.size(), 2u);
    EXPECT_EQ(fake.calls[0], "tmcConnect \xD1\xE5\xF0\xE2\xE5\xF0 dnt$tm 000");
    EXPECT_EQ(fake.calls[1], "tmcConnect  dnt$ 000");
}

TEST_F(SessionTest, Caption) {
    ConnectionSession session(fake);
    struct Row {
        const char* name;
        std::int32_t handle;
        std::int32_t answer;
        std::string caption;
    } rows[] = {
        {"not connected", -1, 1, "МорвелIP-осциллограф"},
        {"library says not connected", 7, 0, "МорвелIP-осциллограф"},
        {"library answers other than 1", 7, 2, "МорвелIP-осциллограф"},
        {"connected", 7, 1, "МорвелIP-осциллограф - NT\\ТМ"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        fake.calls.clear();
        fake.isConnectedResult = r.answer;
        EXPECT_EQ(session.caption(r.handle, "NT", "ТМ"), r.caption);
        // -1 never reaches the library.
        EXPECT_EQ(fake.calls.empty(), r.handle == -1);
    }
}

TEST_F(SessionTest, FetchFailureText) {
    EXPECT_EQ(FetchFailureText("localhost", "demo"),
              "Не удалось получить конфигурацию с localhost\\demo");
    EXPECT_EQ(FetchFailureText("", ""), "Не удалось получить конфигурацию с \\");
}

TEST_F(SessionTest, FetchFailureSkipsTheConnectionTestAndRemovesTheFile) {
    fake.getConfigResult = 0;
    const DeviceListResult r = RebuildDeviceList(fake, -1, folder.tempFolder());
    EXPECT_EQ(r.outcome, Outcome::FetchFailed);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"tmcDntGetConfig -1"}));
    EXPECT_TRUE(leftovers(folder.tempFolder()).empty());
}

TEST_F(SessionTest, ConnectionDownAfterTheFetchFails) {
    fake.config = "2197815296,0,1;1,A\n";
    fake.isConnectedResult = 0;
    const DeviceListResult r = RebuildDeviceList(fake, 7, folder.tempFolder());
    EXPECT_EQ(r.outcome, Outcome::FetchFailed);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"tmcDntGetConfig 7", "tmcIsConnected 7"}));
    EXPECT_TRUE(fake.opened.empty());
}

TEST_F(SessionTest, EveryItemIsClosedOnceAndRecordsStopAtTheFirstMatch) {
    fake.config = "2197815296,0,1;1,A\n2197815296,0,2;1,B\n2197815296,0,3;1,C\n";
    fake.records[1] = {record(0, "Model = X"), record(0, "IP-Addr = 1.1.1.1"),
                       record(0, "IP-Addr = 9.9.9.9")};
    fake.records[2] = {record(5, "IP-Addr = 9.9.9.9")};
    const DeviceListResult r = RebuildDeviceList(fake, 7, folder.tempFolder());
    EXPECT_EQ(r.outcome, Outcome::Listed);
    EXPECT_EQ(r.entries, (std::vector<std::string>{"A (IP:1.1.1.1)", "B", "C"}));
    EXPECT_EQ(fake.opened, (std::vector<std::int32_t>{101, 102, 103}));
    EXPECT_EQ(fake.openCounts, (std::vector<std::int32_t>{16, 16, 16}));
    EXPECT_EQ(fake.closes, (std::map<std::int32_t, int>{{101, 1}, {102, 1}, {103, 1}}));
    const std::vector<std::string> expected{"tmcDntGetConfig 7", "tmcIsConnected 7", "next 101",
                                            "next 101",  // stops at the match
                                            "next 102",          "next 102",         "next 103"};
    EXPECT_EQ(fake.calls, expected);
}

TEST_F(SessionTest, TemporaryFileIsNewEachTimeAndNamedFromTmp) {
    RebuildDeviceList(fake, 7, folder.tempFolder());
    RebuildDeviceList(fake, 7, folder.tempFolder());
    ASSERT_EQ(fake.configPaths.size(), 2u);
    EXPECT_NE(fake.configPaths[0], fake.configPaths[1]);
    for (const std::string& p : fake.configPaths) {
        const std::filesystem::path path(p);
        EXPECT_EQ(path.parent_path(), folder.tempFolder());
        EXPECT_EQ(path.filename().string().rfind("tmp", 0), 0u) << p;
    }
    EXPECT_TRUE(leftovers(folder.tempFolder()).empty());
}

TEST_F(SessionTest, FileThatVanishedIsAReadErrorKeepingNothingOnDisk) {
    fake.onGetConfig = [](const char* path) { std::filesystem::remove(path); };
    const DeviceListResult r = RebuildDeviceList(fake, 7, folder.tempFolder());
    EXPECT_EQ(r.outcome, Outcome::ReadError);
    EXPECT_FALSE(r.keepsConnection());
    EXPECT_FALSE(r.error.empty());
    EXPECT_TRUE(leftovers(folder.tempFolder()).empty());
}

TEST_F(SessionTest, ReadErrorEndsTheReadingSilently) {
    // A folder in place of the file opens, but reading it fails at once.
    fake.onGetConfig = [](const char* path) {
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
    };
    const DeviceListResult r = RebuildDeviceList(fake, 7, folder.tempFolder());
    EXPECT_EQ(r.outcome, Outcome::Listed);
    EXPECT_TRUE(r.entries.empty());
    EXPECT_TRUE(leftovers(folder.tempFolder()).empty());
}

TEST_F(SessionTest, ExceptionFromTheLibraryStillClosesTheItemAndRemovesTheFile) {
    fake.config = "2197815296,0,4;1,A\n";
    fake.throwOnRecords = true;
    EXPECT_THROW(RebuildDeviceList(fake, 7, folder.tempFolder()), std::runtime_error);
    EXPECT_EQ(fake.closes, (std::map<std::int32_t, int>{{104, 1}}));
    EXPECT_TRUE(leftovers(folder.tempFolder()).empty());
}

TEST(LibraryLoading, ErrorsNameTheLibraryAndTheFunction) {
    try {
        LoadTelemechanicsLibraries("/nonexistent/libtmconn.so", "/nonexistent/libcfshare.so");
        FAIL() << "loaded";
    } catch (const LibraryLoadError& e) {
        EXPECT_NE(std::string(e.what()).find(
                      "Не удалось загрузить библиотеку /nonexistent/libcfshare.so"),
                  std::string::npos)
            << e.what();
    }
    // The tests run from <build>/tests, the stand-ins are in <build>/lib.
    const std::string lib =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path().string() +
        "/lib/";
    try {
        // The credentials library in place of the connection library lacks its functions.
        LoadTelemechanicsLibraries(lib + "libcfshare.so", lib + "libcfshare.so");
        FAIL() << "loaded";
    } catch (const LibraryLoadError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "В библиотеке " + lib + "libcfshare.so нет функции tmcConnect");
    }
    EXPECT_NO_THROW(LoadTelemechanicsLibraries(lib + "libtmconn.so", lib + "libcfshare.so"));
}

}  // namespace
}  // namespace server
