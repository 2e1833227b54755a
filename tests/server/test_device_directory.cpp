// The device directory over the stand-in libraries, serving server definitions written here.

#include "server/device_directory.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/connection_session.h"
#include "tests/server/server_folder.h"

namespace server {
namespace {

using testing::ServerFolder;
using Outcome = DeviceListResult::Outcome;
using Entries = std::vector<std::string>;

TelemechanicsApi& libraries() {
    static std::unique_ptr<TelemechanicsApi> api = LoadTelemechanicsLibraries();
    return *api;
}

struct Listing {
    DeviceListResult result;
    std::int32_t connection = -1;
};

Listing listOf(const ServerFolder& folder, const std::string& nt = "nt",
               const std::string& tm = "tm") {
    ConnectionSession session(libraries());
    Listing l;
    l.connection = session.connect(nt, tm);
    l.result = RebuildDeviceList(libraries(), l.connection, folder.tempFolder());
    return l;
}

struct DirectoryRow {
    const char* name;
    std::string config;
    std::string items;
    Entries entries;
};

TEST(DeviceDirectory, EntriesFromConfigurationAndRecords) {
    const std::string fifty(50, '7');
    const DirectoryRow rows[] = {
        {"address record and bare name",
         "2197815296,1;1,A\r\n2197815296,2;1,B\r\n",
         "[2197815296,1]\n0 IP-Addr = 10.0.0.1\n",
         {"A (IP:10.0.0.1)", "B"}},
        {"record of another kind is skipped",
         "2197815296,1;1,A\n",
         "[2197815296,1]\n3 IP-Addr = 10.9.9.9\n0 IP-Addr = 10.0.0.2\n",
         {"A (IP:10.0.0.2)"}},
        {"only a record of another kind: bare name",
         "2197815296,1;1,A\n",
         "[2197815296,1]\n1 IP-Addr = 10.9.9.9\n",
         {"A"}},
        {"marker inside a multi-line property",
         "2197815296,1;1,A\n",
         "[2197815296,1]\n0 Type = IP\\r\\nIP-Addr = 10.0.0.3\\r\\nPort = 971\n",
         {"A (IP:10.0.0.3)"}},
        {"more than 50 characters behind the marker",
         "2197815296,1;1,A\n",
         "[2197815296,1]\n0 IP-Addr = " + fifty + "123\n",
         {"A (IP:" + fifty + ")"}},
        {"line end right behind the marker",
         "2197815296,1;1,A\n",
         "[2197815296,1]\n0 IP-Addr = \\r\\n10.0.0.4\n",
         {"A (IP:)"}},
        {"first matching record wins",
         "2197815296,1;1,A\n",
         "[2197815296,1]\n0 Model = X\n0 IP-Addr = first\n0 IP-Addr = second\n",
         {"A (IP:first)"}},
        {"empty configuration", "", "", {}},
        {"lines that are not device lines",
         "; comment\r\n\r\n1,1;3,Server\r\n2197815296;2,Link\r\n2197815296;1;NoComma\r\n"
         "x2197815296;1,X\r\n   \t2197815296 , 1 ; 1 , Spaced\r\n",
         "",
         {" Spaced"}},
        {"the item is found by its whole address",
         "2197815296,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,1,Full\n2197815296,1,2;1,Short\n",
         "[2197815296,1,2]\n0 IP-Addr = short\n"
         "[2197815296,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15]\n0 IP-Addr = full\n",
         {"Full (IP:full)", "Short (IP:short)"}},
        {"first word wrapped around 2^32",
         "6492782592;1,Wrapped\n",
         "[2197815296]\n0 IP-Addr = 10.0.0.5\n",
         {"Wrapped (IP:10.0.0.5)"}},
        {"Windows-1251 names decoded",
         "2197815296;1,\xCA\xCF-1 \xB9"
         "2 \xAB\xC0\xBB\n",
         "[2197815296]\n0 IP-Addr = 10.0.0.6\n",
         {"КП-1 №2 «А» (IP:10.0.0.6)"}},
        {"code 26 ends the file",
         "2197815296;1,A\n\x1a"
         "2197815296;1,B\n",
         "",
         {"A"}},
        {"last line without line end", "2197815296;1,A", "", {"A"}},
    };
    for (const DirectoryRow& r : rows) {
        SCOPED_TRACE(r.name);
        ServerFolder folder;
        folder.write("nt", "tm", "config", r.config);
        folder.write("nt", "tm", "items", r.items);
        const Listing l = listOf(folder);
        ASSERT_NE(l.connection, -1);
        EXPECT_EQ(l.result.outcome, Outcome::Listed);
        EXPECT_TRUE(l.result.keepsConnection());
        EXPECT_EQ(l.result.entries, r.entries);
        EXPECT_TRUE(folder.leftovers().empty());
    }
}

TEST(DeviceDirectory, ItemsThatFailToOpenGiveBareNames) {
    ServerFolder folder;
    folder.write("nt", "tm", "config", "2197815296;1,A\n2197815296;1,B\n");
    folder.write("nt", "tm", "items", "[2197815296]\n0 IP-Addr = 10.0.0.1\n");
    folder.write("nt", "tm", "items-fail", "");
    const Listing l = listOf(folder);
    EXPECT_EQ(l.result.outcome, Outcome::Listed);
    EXPECT_EQ(l.result.entries, (Entries{"A", "B"}));
}

struct FailureRow {
    const char* name;
    const char* switchFile;
    const char* switchContent;
    bool connects;
};

TEST(DeviceDirectory, FailureSwitchesFailTheFetch) {
    const FailureRow rows[] = {
        {"connection refused", "refuse-connect", "", false},
        {"configuration not fetched", "config-fails", "", true},
        {"connection reported down", "disconnected", "", true},
        {"credentials not listed", "users", "operator:secret\n", false},
    };
    for (const FailureRow& r : rows) {
        SCOPED_TRACE(r.name);
        ServerFolder folder;
        folder.write("nt", "tm", "config", "2197815296;1,A\n");
        folder.write("nt", "tm", r.switchFile, r.switchContent);
        const Listing l = listOf(folder);
        EXPECT_EQ(l.connection != -1, r.connects);
        EXPECT_EQ(l.result.outcome, Outcome::FetchFailed);
        EXPECT_FALSE(l.result.keepsConnection());
        EXPECT_TRUE(l.result.entries.empty());
        EXPECT_TRUE(folder.leftovers().empty());
    }
}

TEST(DeviceDirectory, ServersThatDoNotExistOrCannotBeFoldersRefuse) {
    ServerFolder folder;
    folder.write("nt", "tm", "config", "2197815296;1,A\n");
    ConnectionSession session(libraries());
    const char* const names[][2] = {{"nt", "other"}, {"other", "tm"}, {"", "tm"},    {"nt", ""},
                                    {".", "tm"},     {"nt", ".."},    {"nt/tm", ""}, {"nt", "tm/"},
                                    {"..", "nt/tm"}, {"nt\\x", "tm"}};
    for (const auto& n : names) {
        SCOPED_TRACE(std::string(n[0]) + " / " + n[1]);
        EXPECT_EQ(session.connect(n[0], n[1]), -1);
    }
    EXPECT_NE(session.connect("nt", "tm"), -1);
    // The TM server is named with its prefix; without it there is no such server.
    EXPECT_EQ(libraries().tmcConnect("nt", "tm", 0, 0, 0), -1);
}

TEST(DeviceDirectory, CredentialsServeTheNextConnection) {
    ServerFolder folder;
    folder.write("nt", "tm", "config", "2197815296;1,A\n");
    folder.write("nt", "tm", "users", "# operators\noperator:secret\r\n\xD0\xAF:p:w\n");
    ConnectionSession session(libraries());
    session.applyCredentials("operator", "wrong");
    EXPECT_EQ(session.connect("nt", "tm"), -1);
    session.applyCredentials("operator", "secret");
    const std::int32_t good = session.connect("nt", "tm");
    EXPECT_NE(good, -1);
    EXPECT_TRUE(session.isConnected(good));
    // Kept until replaced: an empty user name sets nothing.
    session.applyCredentials("", "ignored");
    EXPECT_NE(session.connect("nt", "tm"), -1);
    // Cyrillic user name passed in Windows-1251, a password with a colon.
    session.applyCredentials("Я", "p:w");
    EXPECT_NE(session.connect("nt", "tm"), -1);
    session.applyCredentials("Я", "p");
    EXPECT_EQ(session.connect("nt", "tm"), -1);
}

TEST(DeviceDirectory, FailedHandleAndFailedItemAsTheInterfaceRequires) {
    ServerFolder folder;
    TelemechanicsApi& api = libraries();
    const std::string path = (folder.tempFolder() / "c.txt").string();
    EXPECT_EQ(api.tmcDntGetConfig(-1, path.c_str()), 0);
    EXPECT_NE(api.tmcIsConnected(-1), 1);
    const std::uint32_t address[16] = {0x83000000u};
    const std::int32_t item = api.tmcDntOpenItem(-1, 16, address);
    EXPECT_EQ(api.tmcDntGetNextItem(item), nullptr);
    api.tmcDntCloseItem(item);
    EXPECT_EQ(api.tmcDntGetNextItem(12345678), nullptr);
}

TEST(DeviceDirectory, RecordsHaveTheirKindAndZeroEndedText) {
    ServerFolder folder;
    folder.write("nt", "tm", "config", "");
    folder.write("nt", "tm", "items", "[5,6]\n7 a\\\\b\\n\n0\n255 x\n256 too big\nnot a record\n");
    ConnectionSession session(libraries());
    const std::int32_t c = session.connect("nt", "tm");
    std::uint32_t address[16];
    std::fill(std::begin(address), std::end(address), 0xFFFFFFFFu);
    address[0] = 5;
    address[1] = 6;
    const std::int32_t item = libraries().tmcDntOpenItem(c, 16, address);
    const unsigned char* r = libraries().tmcDntGetNextItem(item);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[0], 7);
    EXPECT_STREQ(reinterpret_cast<const char*>(r + 2), "a\\b\n");
    r = libraries().tmcDntGetNextItem(item);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[0], 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(r + 2), "");
    r = libraries().tmcDntGetNextItem(item);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[0], 255);
    EXPECT_EQ(libraries().tmcDntGetNextItem(item), nullptr);
    EXPECT_EQ(libraries().tmcDntCloseItem(item), 1);
    // A closed item yields nothing more.
    EXPECT_EQ(libraries().tmcDntGetNextItem(item), nullptr);
}

TEST(DeviceDirectory, ConfigurationIsHandedOutByteForByte) {
    ServerFolder folder;
    const std::string bytes(
        "a\r\n\xC0\xFF\x00\x1a"
        "z",
        8);
    folder.write("nt", "tm", "config", bytes);
    ConnectionSession session(libraries());
    const std::int32_t c = session.connect("nt", "tm");
    const std::filesystem::path path = folder.tempFolder() / "copy";
    ASSERT_EQ(libraries().tmcDntGetConfig(c, path.c_str()), 1);
    std::ifstream in(path, std::ios::binary);
    const std::string copy((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(copy, bytes);
}

TEST(DeviceDirectory, TemporaryFolderThatIsMissingIsAReadErrorThatDropsTheConnection) {
    ServerFolder folder;
    folder.write("nt", "tm", "config", "2197815296;1,A\n");
    ConnectionSession session(libraries());
    const std::int32_t c = session.connect("nt", "tm");
    const DeviceListResult r = RebuildDeviceList(libraries(), c, folder.tempFolder() / "missing");
    EXPECT_EQ(r.outcome, Outcome::ReadError);
    EXPECT_FALSE(r.keepsConnection());
    EXPECT_NE(r.error.find("missing"), std::string::npos);
}

TEST(DeviceDirectory, TemporaryFolderFallsBackToTheWorkingFolder) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/nonexistent/mo-test", 1);
    EXPECT_EQ(TemporaryFolder(), std::filesystem::path("."));
    ::setenv("TMPDIR", ("/" + std::string(300, 'x')).c_str(), 1);
    EXPECT_EQ(TemporaryFolder(), std::filesystem::path("."));
    ::setenv("TMPDIR", "/tmp", 1);
    EXPECT_EQ(TemporaryFolder(), std::filesystem::path("/tmp"));
    if (old) {
        ::setenv("TMPDIR", saved.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

TEST(DeviceDirectory, DemoServerListsItsDevices) {
    ::unsetenv("TMCONN_SERVERS_DIR");
    ConnectionSession session(libraries());
    const std::int32_t c = session.connect("localhost", "demo");
    ASSERT_NE(c, -1);
    const DeviceListResult r = session.refreshDeviceList(c);
    EXPECT_EQ(r.outcome, Outcome::Listed);
    EXPECT_EQ(r.entries, (Entries{"КП-1 Подстанция «Северная» (IP:127.0.0.11)",
                                  "КП-2 Насосная станция (IP:127.0.0.12)",
                                  "КП-3 Котельная №2 (IP:127.0.0.13)", "КП-4 Склад"}));
    EXPECT_EQ(session.caption(c, "localhost", "demo"), "МорвелIP-осциллограф - localhost\\demo");
}

}  // namespace
}  // namespace server
