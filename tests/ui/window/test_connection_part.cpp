// The connection part without a window: a fake view answers the login, fake libraries answer
// the connection and the configuration, and every call goes into one log.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "server/connection_session.h"
#include "ui/window/ConnectionPart.h"

namespace {

using Log = std::vector<std::string>;

// Two devices, the first with an address: "KP-1 (IP:10.1.2.3)" and "KP-2".
class FakeLibraries : public server::TelemechanicsApi {
  public:
    explicit FakeLibraries(Log& log) : log_(log) {}
    std::int32_t cfsSetUser(const char* user, const char* password) override {
        log_.push_back(std::string("cfsSetUser ") + user + " " + password);
        return 1;
    }
    std::int32_t tmcConnect(const char* nt, const char* tm, std::int32_t, std::int32_t,
                            std::int32_t) override {
        log_.push_back(std::string("tmcConnect ") + nt + " " + tm);
        return std::string(nt) == "down" ? -1 : 5;
    }
    std::int32_t tmcIsConnected(std::int32_t h) override { return h == 5 && online ? 1 : 0; }
    std::int32_t tmcDntGetConfig(std::int32_t h, const char* path) override {
        log_.push_back("tmcDntGetConfig " + std::to_string(h));
        if (h != 5) {
            return 0;
        }
        std::ofstream(path, std::ios::binary) << "2197815296;1,KP-1\r\n2197815296,5;1,KP-2\r\n";
        return 1;
    }
    std::int32_t tmcDntOpenItem(std::int32_t, std::int32_t, const std::uint32_t*) override {
        const std::int32_t item = ++opened_;
        records_[item] = item == 1 ? 1 : 0;  // only the first device has an address record
        return item;
    }
    const unsigned char* tmcDntGetNextItem(std::int32_t item) override {
        static const unsigned char kRecord[] = "\0\0IP-Addr = 10.1.2.3";
        return records_[item]-- > 0 ? kRecord : nullptr;
    }
    std::int32_t tmcDntCloseItem(std::int32_t) override { return 1; }

    bool online = true;

  private:
    Log& log_;
    std::map<std::int32_t, int> records_;
    std::int32_t opened_ = 0;
};

class FakeView : public ui::ConnectionView, public ui::MessageSink {
  public:
    explicit FakeView(Log& log) : log_(log) {}
    bool runLogin(const std::function<void(const QString&, const QString&)>& setUser) override {
        log_.push_back("login");
        if (confirm && !user.isEmpty()) {
            setUser(user, QStringLiteral("secret"));
        }
        return confirm;
    }
    QString ntServer() const override { return nt; }
    QString tmServer() const override { return tm; }
    void setCaption(const QString& c) override { log_.push_back("caption " + c.toStdString()); }
    void setDeviceEntries(const QStringList& e) override {
        log_.push_back("entries " + e.join(QLatin1Char('|')).toStdString());
    }
    void dropDownDeviceList() override { log_.push_back("drop down"); }
    void showError(const QString& text, const QString&) override {
        log_.push_back("error " + text.toStdString());
    }
    void reportException(const QString& text) override {
        log_.push_back("report " + text.toStdString());
    }

    bool confirm = true;
    QString nt = QStringLiteral("nt1"), tm = QStringLiteral("tm1"), user;

  private:
    Log& log_;
};

TEST(ConnectionPart, ConnectActionTable) {
    struct Row {
        const char* name;
        bool confirm;
        const char* nt;
        const char* user;
        std::int32_t before;
        Log log;
        std::int32_t after;
    };
    const std::string listed = "entries KP-1 (IP:10.1.2.3)|KP-2";
    const Row rows[] = {
        {"cancelled: nothing called", false, "nt1", "", -1, {"login"}, -1},
        {"empty user: no credentials, connected",
         true,
         "nt1",
         "",
         -1,
         {"login", "tmcConnect nt1 dnt$tm1", "entries ", "tmcDntGetConfig 5", listed, "drop down",
          "caption МорвелIP-осциллограф - nt1\\tm1"},
         5},
        {"credentials before the connection",
         true,
         "nt1",
         "op",
         -1,
         {"login", "cfsSetUser op secret", "tmcConnect nt1 dnt$tm1", "entries ",
          "tmcDntGetConfig 5", listed, "drop down", "caption МорвелIP-осциллограф - nt1\\tm1"},
         5},
        {"failed connect: the fetch reports it, not connected",
         true,
         "down",
         "",
         -1,
         {"login", "tmcConnect down dnt$tm1", "entries ", "tmcDntGetConfig -1", "entries ",
          "error Не удалось получить конфигурацию с down\\tm1", "caption МорвелIP-осциллограф"},
         -1},
        {"already connected: nothing at all", true, "nt1", "op", 7, {}, 7},
    };
    for (const Row& r : rows) {
        Log log;
        FakeLibraries libraries(log);
        FakeView view(log);
        view.confirm = r.confirm;
        view.nt = QString::fromUtf8(r.nt);
        view.user = QString::fromUtf8(r.user);
        ui::ConnectionPart part(view, view);
        part.setSession(std::make_unique<server::ConnectionSession>(libraries));
        part.setConnection(r.before);
        part.connect();
        EXPECT_EQ(log, r.log) << r.name;
        EXPECT_EQ(part.connection(), r.after) << r.name;
    }
}

TEST(ConnectionPart, AConnectionLostBeforeTheFetchAsksForTheLoginAgain) {
    Log log;
    FakeLibraries libraries(log);
    FakeView view(log);
    ui::ConnectionPart part(view, view);
    part.setSession(std::make_unique<server::ConnectionSession>(libraries));
    libraries.online = false;
    part.connect();
    EXPECT_EQ(part.connection(), -1);
    EXPECT_EQ(log.back(), "caption МорвелIP-осциллограф");
    libraries.online = true;
    log.clear();
    part.connect();
    EXPECT_EQ(log.front(), "login");
    EXPECT_EQ(part.connection(), 5);
}

}  // namespace
