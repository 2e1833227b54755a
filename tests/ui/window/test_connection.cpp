// The connect action in the window over the stand-in libraries and server definitions written
// to a temporary folder: cancel, credentials, a failed fetch, the caption and the device list.

#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>

#include <fstream>

#include <QAbstractItemView>
#include <QMenu>
#include <QTest>
#include "server/connection_session.h"

#include "tests/ui/ui_test_support.h"
#include "ui/widgets/DeviceListLook.h"

namespace uitest {
namespace {

// The loaded stand-ins, with every call counted.
class CountingApi : public server::TelemechanicsApi {
  public:
    CountingApi() : real_(server::LoadTelemechanicsLibraries()) {}
    std::int32_t cfsSetUser(const char* u, const char* p) override {
        ++setUser;
        return real_->cfsSetUser(u, p);
    }
    std::int32_t tmcConnect(const char* nt, const char* tm, std::int32_t a, std::int32_t b,
                            std::int32_t c) override {
        ++connects;
        lastTm = tm;
        return real_->tmcConnect(nt, tm, a, b, c);
    }
    std::int32_t tmcIsConnected(std::int32_t h) override { return real_->tmcIsConnected(h); }
    std::int32_t tmcDntGetConfig(std::int32_t h, const char* f) override {
        ++fetches;
        return real_->tmcDntGetConfig(h, f);
    }
    std::int32_t tmcDntOpenItem(std::int32_t h, std::int32_t n, const std::uint32_t* a) override {
        return real_->tmcDntOpenItem(h, n, a);
    }
    const unsigned char* tmcDntGetNextItem(std::int32_t i) override {
        return real_->tmcDntGetNextItem(i);
    }
    std::int32_t tmcDntCloseItem(std::int32_t i) override { return real_->tmcDntCloseItem(i); }

    int setUser = 0, connects = 0, fetches = 0;
    std::string lastTm;

  private:
    std::unique_ptr<server::TelemechanicsApi> real_;
};

class Connection : public WindowTest {
  protected:
    Connection() {
        qputenv("TMCONN_SERVERS_DIR", servers.path().toUtf8());
        QDir(servers.path()).mkpath(QStringLiteral("nt1/tm1"));
        std::ofstream(serverFile("config")) << "2197815296;1,KP-1\r\n2197815296,5;1,KP-2\r\n";
        std::ofstream(serverFile("items")) << "[2197815296]\n0 IP-Addr = 10.1.2.3\n";
    }
    ~Connection() override { qunsetenv("TMCONN_SERVERS_DIR"); }
    std::string serverFile(const char* name) const {
        return servers.filePath(QStringLiteral("nt1/tm1/") + QLatin1String(name)).toStdString();
    }
    void SetUp() override {
        startUp(QDialog::Rejected);
        frmMain->setConnectionSession(std::make_unique<server::ConnectionSession>(api));
    }
    // Runs the connect action with the dialog filled in and answered.
    void connectWith(const QString& nt, const QString& tm, const QString& user, int answer) {
        ui::ScopedModalHook hook([&](QDialog&) {
            loginEdit("ServerE")->setText(nt);
            loginEdit("TmsE")->setText(tm);
            loginEdit("UserE")->setText(user);
            loginEdit("PasswordE")->setText(QStringLiteral("secret"));
            if (answer == QDialog::Accepted) {
                LoginDlg->BitBtn1Click();
            }
            return answer;
        });
        ui::guarded(frmMain, [] { frmMain->actConnectExecute(); });
    }
    QTemporaryDir servers;
    CountingApi api;
};

TEST_F(Connection, CancelCallsNothing) {
    connectWith(QStringLiteral("nt1"), QStringLiteral("tm1"), QStringLiteral("u"),
                QDialog::Rejected);
    EXPECT_EQ(api.setUser + api.connects + api.fetches, 0);
    EXPECT_EQ(frmMain->connection().connection(), -1);
    EXPECT_EQ(frmMain->windowTitle(), QStringLiteral("МорвелIP-осциллограф"));
}

TEST_F(Connection, ConnectedWindowListsTheDevicesAndShowsTheServers) {
    connectWith(QStringLiteral("nt1"), QStringLiteral("tm1"), QString(), QDialog::Accepted);
    EXPECT_EQ(api.setUser, 0);  // an empty user name hands no credentials over
    EXPECT_EQ(api.connects, 1);
    EXPECT_EQ(api.lastTm, "dnt$tm1");
    EXPECT_NE(frmMain->connection().connection(), -1);
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(ComboBox1()->count(), 2);
    EXPECT_EQ(ComboBox1()->itemText(0), QStringLiteral("KP-1 (IP:10.1.2.3)"));
    EXPECT_EQ(ComboBox1()->itemText(1), QStringLiteral("KP-2"));
    EXPECT_EQ(ComboBox1()->currentIndex(), -1);
    EXPECT_EQ(frmMain->windowTitle(), QStringLiteral("МорвелIP-осциллограф - nt1\\tm1"));
    // While connected the action shows nothing and connects nothing.
    int shown = 0;
    {
        ui::ScopedModalHook hook([&](QDialog&) { return ++shown, int(QDialog::Accepted); });
        frmMain->actConnectExecute();
    }
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(api.connects, 1);
}

TEST_F(Connection, FailedFetchShowsTheMessageAndLeavesTheProgramNotConnected) {
    connectWith(QStringLiteral("nt1"), QStringLiteral("nosuch"), QStringLiteral("operator"),
                QDialog::Accepted);
    EXPECT_EQ(api.setUser, 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Ошибка"));
    EXPECT_EQ(messages[0].text, QStringLiteral("Не удалось получить конфигурацию с nt1\\nosuch"));
    EXPECT_EQ(frmMain->connection().connection(), -1);
    EXPECT_EQ(ComboBox1()->count(), 0);
    EXPECT_EQ(frmMain->windowTitle(), QStringLiteral("МорвелIP-осциллограф"));

    // The next connect action asks again, and now succeeds.
    connectWith(QStringLiteral("nt1"), QStringLiteral("tm1"), QString(), QDialog::Accepted);
    EXPECT_EQ(ComboBox1()->count(), 2);
    EXPECT_NE(frmMain->connection().connection(), -1);
}

// The device list shows whole entries (tooltips, a drop-down as wide as the longest) and drops
// down also when it is empty.
class DeviceList : public WindowTest {
  protected:
    void SetUp() override { startUp(); }
};

TEST_F(DeviceList, WholeEntriesAndAnEmptyListThatDropsDown) {
    QComboBox* list = ComboBox1();
    ASSERT_EQ(list->count(), 0);
    ui::dropDownList(list);
    const QMenu* empty = list->findChild<QMenu*>(QStringLiteral("EmptyDeviceList"));
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->isVisible());
    EXPECT_GE(empty->width(), list->width());
    ASSERT_EQ(empty->actions().size(), 1);
    EXPECT_EQ(empty->actions()[0]->text(), QStringLiteral("Нет устройств"));
    EXPECT_FALSE(empty->actions()[0]->isEnabled());
    EXPECT_TRUE(ui::listDroppedDown(list));
    ui::closeDropDown(list);
    EXPECT_FALSE(ui::listDroppedDown(list));
    EXPECT_EQ(list->count(), 0) << "the empty line is no entry";
    // A click of the user's on the empty list does the same.
    QTest::mouseClick(list, Qt::LeftButton);
    EXPECT_TRUE(empty->isVisible());
    ui::closeDropDown(list);

    const QString longEntry =
        QStringLiteral("КП-1 Подстанция «Северная», ввод 2, ячейка 14 (IP:192.168.100.200)");
    list->addItems({QStringLiteral("КП-2"), longEntry});
    EXPECT_EQ(list->itemData(1, Qt::ToolTipRole).toString(), longEntry);
    EXPECT_GT(QFontMetrics(list->font()).horizontalAdvance(longEntry), list->width())
        << "the entry is wider than the list itself";
    EXPECT_GE(list->view()->minimumWidth(),
              QFontMetrics(list->view()->font()).horizontalAdvance(longEntry));
    list->setCurrentIndex(1);
    EXPECT_EQ(list->toolTip(), longEntry);
    ui::dropDownList(list);
    EXPECT_TRUE(list->view()->isVisible());
    EXPECT_GE(list->view()->width(),
              QFontMetrics(list->view()->font()).horizontalAdvance(longEntry));
    EXPECT_FALSE(empty->isVisible());
    ui::closeDropDown(list);
}

}  // namespace
}  // namespace uitest
