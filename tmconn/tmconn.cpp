// Stand-in for the telemechanics connection library. It serves configurations from a folder of
// server definitions: the server "dnt$TM" on the NT server NT is the folder NT/TM, holding
//   config           the configuration text, handed out byte for byte;
//   items            the records of configuration items (see servers/README.md);
//   users            optional "name:password" lines; other credentials are refused;
//   refuse-connect   present: tmcConnect fails;
//   config-fails     present: tmcDntGetConfig fails;
//   disconnected     present: tmcIsConnected answers 0;
//   items-fail       present: every tmcDntOpenItem fails.
// The folder of definitions is $TMCONN_SERVERS_DIR, else share/morvelip-osc/servers of the
// prefix the library is installed in (lib/ or lib/morvelip-osc/), else the servers/ folder of
// the source tree.

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "abi/standin_credentials.h"
#include "abi/tmconn_api.h"
#include "codepage/win1251.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTmPrefix = "dnt$";
constexpr int32_t kFailed = -1;
constexpr std::size_t kAddressWords = 16;
constexpr uint32_t kNoWord = 0xFFFFFFFFu;

using Address = std::vector<uint32_t>;  // always kAddressWords words

struct OpenItem {
    std::vector<std::string> records;  // kind, 0, text, 0
    std::size_t next = 0;
};

struct State {
    std::mutex mutex;
    std::map<int32_t, fs::path> connections;
    std::map<int32_t, OpenItem> items;
    int32_t lastConnection = 0;
    int32_t lastItem = 0;
};

State& state() {
    static State s;
    return s;
}

template <typename Map>
int32_t freeHandle(const Map& used, int32_t& last) {
    do {
        last = last == INT32_MAX ? 1 : last + 1;
    } while (used.count(last) != 0);
    return last;
}

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

std::optional<std::string> readWholeFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        out.push_back(line);
        if (lf == std::string_view::npos) {
            break;
        }
        text.remove_prefix(lf + 1);
    }
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

fs::path serversRoot() {
    if (const char* env = std::getenv("TMCONN_SERVERS_DIR"); env && *env) {
        return fs::path(env);
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&serversRoot), &info) != 0 && info.dli_fname) {
        std::error_code ec;
        const fs::path lib = fs::weakly_canonical(fs::path(info.dli_fname), ec);
        if (!ec) {
            // PREFIX/lib/morvelip-osc/libtmconn.so (installed) or PREFIX/lib/libtmconn.so.
            const fs::path folder = lib.parent_path();
            for (const fs::path& prefix :
                 {folder.parent_path(), folder.parent_path().parent_path()}) {
                fs::path installed = prefix / "share" / "morvelip-osc" / "servers";
                if (fs::is_directory(installed, ec)) {
                    return installed;
                }
            }
        }
    }
#ifdef TMCONN_SOURCE_SERVERS_DIR
    return fs::path(TMCONN_SOURCE_SERVERS_DIR);
#else
    return fs::path("servers");
#endif
}

// A server name as a folder name: decoded to UTF-8, never empty, ".", ".." or with a separator.
std::optional<std::string> folderName(const char* name) {
    if (!name) {
        return std::nullopt;
    }
    std::string utf8 = codepage::Win1251ToUtf8(name);
    if (utf8.empty() || utf8 == "." || utf8 == ".." ||
        utf8.find_first_of("/\\") != std::string::npos) {
        return std::nullopt;
    }
    return utf8;
}

struct Credentials {
    std::string user;
    std::string password;
};

void takeCredentials(const char* user, const char* password, void* context) {
    auto* c = static_cast<Credentials*>(context);
    c->user = user ? user : "";
    c->password = password ? password : "";
}

// What cfsSetUser last kept, in the cfshare stand-in loaded into this process.
Credentials keptCredentials() {
    Credentials c;
    void* fn = nullptr;
    if (void* lib = dlopen("libcfshare.so", RTLD_NOW | RTLD_NOLOAD)) {
        fn = dlsym(lib, "cfsStandInCredentials");
        dlclose(lib);  // only drops the reference taken by RTLD_NOLOAD
    }
    if (!fn) {
        fn = dlsym(RTLD_DEFAULT, "cfsStandInCredentials");
    }
    if (fn) {
        reinterpret_cast<cfsStandInCredentials_fn>(fn)(takeCredentials, &c);
    }
    return c;
}

bool credentialsAccepted(const fs::path& folder) {
    const fs::path usersFile = folder / "users";
    if (!present(usersFile)) {
        return true;
    }
    const std::optional<std::string> users = readWholeFile(usersFile);
    if (!users) {
        return false;
    }
    const Credentials given = keptCredentials();
    const std::string user = codepage::Win1251ToUtf8(given.user);
    const std::string password = codepage::Win1251ToUtf8(given.password);
    for (std::string_view line : lines(*users)) {
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        if (line.substr(0, colon) == user && line.substr(colon + 1) == password) {
            return true;
        }
    }
    return false;
}

std::optional<uint32_t> parseWord(std::string_view s) {
    s = trimmed(s);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.size() > 20) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (char c : s) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > kNoWord) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(value);
}

// "[w0,w1,...]": up to sixteen words, the rest kNoWord.
std::optional<Address> parseHeader(std::string_view line) {
    line = trimmed(line);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') {
        return std::nullopt;
    }
    std::string_view inner = line.substr(1, line.size() - 2);
    Address address(kAddressWords, kNoWord);
    if (trimmed(inner).empty()) {
        return address;
    }
    std::size_t i = 0;
    while (true) {
        if (i == kAddressWords) {
            return std::nullopt;
        }
        const std::size_t comma = inner.find(',');
        const std::optional<uint32_t> word = parseWord(inner.substr(0, comma));
        if (!word) {
            return std::nullopt;
        }
        address[i++] = *word;
        if (comma == std::string_view::npos) {
            return address;
        }
        inner.remove_prefix(comma + 1);
    }
}

std::string unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'n' || next == 'r' || next == '\\') {
                out.push_back(next == 'n' ? '\n' : next == 'r' ? '\r' : '\\');
                ++i;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// "KIND TEXT" as a record: kind byte, unused byte, text, zero byte.
std::optional<std::string> parseRecord(std::string_view line) {
    std::size_t digits = 0;
    unsigned kind = 0;
    while (digits < line.size() && digits < 4 && line[digits] >= '0' && line[digits] <= '9') {
        kind = kind * 10 + static_cast<unsigned>(line[digits] - '0');
        ++digits;
    }
    if (digits == 0 || kind > 255 || (digits < line.size() && line[digits] != ' ')) {
        return std::nullopt;
    }
    std::string_view text = line.substr(digits);
    if (!text.empty()) {
        text.remove_prefix(1);
    }
    std::string record;
    record.push_back(static_cast<char>(kind));
    record.push_back('\0');
    record += unescaped(text);
    return record;
}

// The records listed for the address in an items file; none when it is not listed.
std::vector<std::string> recordsOf(std::string_view itemsText, const Address& wanted) {
    std::vector<std::string> records;
    bool inWanted = false;
    bool found = false;
    for (std::string_view line : lines(itemsText)) {
        if (trimmed(line).empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (found) {
                break;  // the first listing of an address counts
            }
            const std::optional<Address> header = parseHeader(line);
            inWanted = header && *header == wanted;
            found = inWanted;
            continue;
        }
        if (inWanted) {
            if (std::optional<std::string> record = parseRecord(line)) {
                records.push_back(std::move(*record));
            }
        }
    }
    return records;
}

std::optional<fs::path> connectionFolder(int32_t connection) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.connections.find(connection);
    if (it == s.connections.end()) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace

extern "C" int32_t tmcConnect(const char* ntServer, const char* tmServer, int32_t, int32_t,
                              int32_t) {
    try {
        if (!tmServer || std::strncmp(tmServer, kTmPrefix.data(), kTmPrefix.size()) != 0) {
            return kFailed;
        }
        const std::optional<std::string> nt = folderName(ntServer);
        const std::optional<std::string> tm = folderName(tmServer + kTmPrefix.size());
        if (!nt || !tm) {
            return kFailed;
        }
        const fs::path folder = serversRoot() / *nt / *tm;
        std::error_code ec;
        if (!fs::is_directory(folder, ec) || present(folder / "refuse-connect") ||
            !credentialsAccepted(folder)) {
            return kFailed;
        }
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const int32_t handle = freeHandle(s.connections, s.lastConnection);
        s.connections.emplace(handle, folder);
        return handle;
    } catch (...) {
        return kFailed;
    }
}

extern "C" int32_t tmcIsConnected(int32_t connection) {
    try {
        const std::optional<fs::path> folder = connectionFolder(connection);
        return folder && !present(*folder / "disconnected") ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" int32_t tmcDntGetConfig(int32_t connection, const char* filePath) {
    try {
        const std::optional<fs::path> folder = connectionFolder(connection);
        if (!folder || !filePath || !*filePath || present(*folder / "config-fails")) {
            return 0;
        }
        const std::optional<std::string> config = readWholeFile(*folder / "config");
        if (!config) {
            return 0;
        }
        std::ofstream out(filePath, std::ios::binary | std::ios::trunc);
        out.write(config->data(), static_cast<std::streamsize>(config->size()));
        out.close();
        return out ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" int32_t tmcDntOpenItem(int32_t connection, int32_t count, const uint32_t* address) {
    try {
        const std::optional<fs::path> folder = connectionFolder(connection);
        if (!folder || !address || count < 0 || count > static_cast<int32_t>(kAddressWords) ||
            present(*folder / "items-fail")) {
            return kFailed;
        }
        Address wanted(kAddressWords, kNoWord);
        for (int32_t i = 0; i < count; ++i) {
            wanted[static_cast<std::size_t>(i)] = address[i];
        }
        OpenItem item;
        if (const std::optional<std::string> items = readWholeFile(*folder / "items")) {
            item.records = recordsOf(*items, wanted);
        }
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const int32_t handle = freeHandle(s.items, s.lastItem);
        s.items.emplace(handle, std::move(item));
        return handle;
    } catch (...) {
        return kFailed;
    }
}

extern "C" const void* tmcDntGetNextItem(int32_t item) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.items.find(item);
    if (it == s.items.end() || it->second.next >= it->second.records.size()) {
        return nullptr;
    }
    return it->second.records[it->second.next++].data();
}

extern "C" int32_t tmcDntCloseItem(int32_t item) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.items.erase(item) != 0 ? 1 : 0;
}
