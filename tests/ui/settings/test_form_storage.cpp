// The settings store of both windows: what a restore takes from stored values, what a save writes.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSpinBox>

#include "tests/ui/ui_test_support.h"

using uitest::kLoginKey;
using uitest::kMainKey;
using uitest::store;
using uitest::stored;
using uitest::WindowTest;
using namespace uitest;  // the components by name

namespace {

class Storage : public WindowTest {
  protected:
    void storeMain(const std::vector<std::pair<QString, QString>>& values) {
        store(kMainKey, QStringLiteral("TfrmMain"), values);
    }
    QVariant storedMain(const QString& name) {
        return stored(kMainKey, QStringLiteral("TfrmMain"), name);
    }
    void writeRawMain(const QByteArray& body) {
        const QString path = ui::iniFilePathFor(kMainKey);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[TfrmMain]\n" + body);
    }
    const QString suffix = ui::screenSuffix();
    const QString ppi = QString::number(ui::currentPixelsPerInch());
};

TEST_F(Storage, KeysMapOntoIniFilesUnderTheConfigFolder) {
    EXPECT_EQ(ui::iniFilePathFor(kMainKey), config.path() + "/Kestrowel/MorvelIP_OSC/MainForm.ini");
    EXPECT_EQ(ui::iniFilePathFor(kLoginKey),
              config.path() + "/Kestrowel/MorvelIP_OSC/LoginDlg.ini");
}

TEST_F(Storage, FirstRunWritesEveryValueAtClose) {
    startUp();
    EXPECT_EQ(dialogRuns, 1);  // the notification runs with nothing stored
    frmMain->close();
    const std::vector<std::pair<QString, QString>> expected{
        {"FormVersion", "0"},
        {"Flags", "0"},
        {"ShowCmd", "1"},
        {"PixelsPerInch", ppi},
        {"MinMaxPos" + suffix, "-1,-1,-1,-1"},
        {"MinMaxPos", "-1,-1,-1,-1"},
        {"NormPos" + suffix, "0,103,800,539"},
        {"NormPos", "0,103,800,539"},
        {"Visible", "0"},
        {"cbReverseBits_Checked", "False"},
        {"seByteBitsCount_Value", "8"},
        {"seWindowBitsCount_Value", "100"},
        {"cbInverseBits_Checked", "False"},
        {"cbBitStaff_Checked", "False"},
    };
    for (const auto& [name, text] : expected) {
        EXPECT_EQ(storedMain(name).toString(), text) << name.toStdString();
    }
}

// Records the order of writes on top of the real store.
class RecordingSection : public ui::SettingsSection {
  public:
    RecordingSection(std::unique_ptr<ui::SettingsSection> inner, QStringList& log)
        : inner_(std::move(inner)), log_(log) {}
    bool readText(const QString& n, QString& t) override { return inner_->readText(n, t); }
    void writeText(const QString& n, const QString& t) override {
        log_ << n;
        inner_->writeText(n, t);
    }
    void close() override { inner_->close(); }

  private:
    std::unique_ptr<ui::SettingsSection> inner_;
    QStringList& log_;
};

TEST_F(Storage, SaveWritesInTheFixedOrderAndDestructionDoesNotSaveAgain) {
    QStringList log;
    ui::SectionFactory previous = ui::setSectionFactory(
        [&](const QString& key, const QString& section) -> std::unique_ptr<ui::SettingsSection> {
            if (section != QStringLiteral("TfrmMain")) {
                return ui::openQSettingsSection(key, section);
            }
            return std::make_unique<RecordingSection>(ui::openQSettingsSection(key, section), log);
        });
    startUp();
    EXPECT_EQ(frmMain->formStorage().state(), ui::FormStorage::State::Restored);
    frmMain->close();
    EXPECT_EQ(frmMain->formStorage().state(), ui::FormStorage::State::Saved);
    ui::destroyForms();
    ui::setSectionFactory(std::move(previous));
    const QStringList expected{
        "FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos" + suffix, "MinMaxPos",
        "NormPos" + suffix, "NormPos", "Visible", "cbReverseBits_Checked", "seByteBitsCount_Value",
        "seWindowBitsCount_Value", "cbInverseBits_Checked", "cbBitStaff_Checked",
        // The frames tab's options, after the window's own five.
        "cbFrameChannel0_Checked", "cbFrameChannel1_Checked", "cbFrameChannel2_Checked",
        "cbFrameChannel3_Checked", "cbFrameInvert_Checked", "cbFrameStuffing_Checked",
        "cmbFrameBitOrder_ItemIndex", "cmbFrameCheck_ItemIndex", "seFrameMinLength_Value",
        "cbFrameBands_Checked",
        // The link layer's options and the last filters.
        "cbLink_Checked", "cmbLinkAddress_ItemIndex", "cmbLinkModulo_ItemIndex",
        "cmbLinkPrimary_ItemIndex", "seLinkTimeout_Value", "cmbFrameExpr_Item1",
        "cmbFrameExpr_Item2", "cmbFrameExpr_Item3", "cmbFrameExpr_Item4", "cmbFrameExpr_Item5",
        "cmbFrameExpr_Item6", "cmbFrameExpr_Item7", "cmbFrameExpr_Item8", "cmbFrameExpr_Item9",
        "cmbFrameExpr_Item10",
        // The trigger panel's fields.
        "cbTriggerOn_Checked", "edTriggerCondition_Text", "edTriggerPre_Text", "edTriggerPost_Text",
        "edTriggerDuration_Text", "edTriggerFolder_Text", "cmbTriggerMode_ItemIndex"};
    EXPECT_EQ(log, expected);
}

TEST_F(Storage, DestructionWithoutCloseSavesWithVisibleOne) {
    startUp();
    ui::destroyForms();
    EXPECT_EQ(storedMain("Visible").toString(), "1");
    EXPECT_EQ(storedMain("FormVersion").toString(), "0");
}

TEST_F(Storage, NormalFrameSources) {
    struct Row {
        const char* name;
        std::vector<std::pair<QString, QString>> values;
        QRect frame;  // left, top, width, height expected after start-up
    };
    const QString s = ui::screenSuffix();
    const Row rows[] = {
        {"suffixed value wins over the plain one",
         {{"NormPos" + s, "30,40,530,340"}, {"NormPos", "10,20,610,420"}},
         QRect(30, 40, 500, 300)},
        {"plain value when no suffixed one",
         {{"NormPos", "10,20,610,420"}},
         QRect(10, 20, 600, 400)},
        {"empty suffixed value falls back",
         {{"NormPos" + s, "  "}, {"NormPos", "10,20,610,420"}},
         QRect(10, 20, 600, 400)},
        {"missing fields keep the current frame", {{"NormPos", "5,6"}}, QRect(5, 6, 795, 533)},
        {"non-numeric field keeps its current value",
         {{"NormPos", "x,50,500,y"}},
         QRect(0, 50, 500, 489)},
        {"left not below right: unchanged",
         {{"NormPos", "500,10,400,300"}},
         QRect(0, 103, 800, 436)},
        {"other pixels per inch: unchanged",
         {{"NormPos", "10,20,610,420"}, {"PixelsPerInch", "7"}},
         QRect(0, 103, 800, 436)},
        {"a MinMaxPos alone applies the current frame",
         {{"MinMaxPos", "1,2,3,4"}},
         QRect(0, 103, 800, 436)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        uitest::TempConfig own;
        storeMain(r.values);
        startUp();
        const QRect frame = frmMain->frameGeometry();  // the outer frame
        EXPECT_EQ(frame, r.frame) << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                  << frame.height();
        EXPECT_EQ(dialogRuns, 1);
        ui::destroyForms();
        dialogRuns = 0;
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(Storage, DamagedFrameIsClampedToTheDesktop) {
    storeMain({{"NormPos", "-99999999,-5,2147483647,2147483647"}});
    startUp();
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    EXPECT_LE(frmMain->frameGeometry().width(), desktop.width());
    EXPECT_LE(frmMain->frameGeometry().height(), desktop.height());
    EXPECT_GE(frmMain->pos().x(), -32000);
}

TEST_F(Storage, UnquotedListValueCountsAsItsText) {
    writeRawMain("NormPos=10,20,610,420\n");
    startUp();
    EXPECT_EQ(frmMain->frameGeometry(), QRect(10, 20, 600, 400));
}

TEST_F(Storage, DifferentPixelsPerInchStillRestoresStateAndProperties) {
    storeMain({{"NormPos", "10,20,610,420"},
               {"PixelsPerInch", "1"},
               {"ShowCmd", "3"},
               {"seByteBitsCount_Value", "12"}});
    startUp();
    EXPECT_TRUE(frmMain->isMaximized());
    frmMain->close();  // the normal frame is still the created one
    EXPECT_EQ(storedMain("NormPos").toString(), "0,103,800,539");
    EXPECT_EQ(seByteBitsCount()->value(), 12);
}

TEST_F(Storage, ShowCmdMinimizedOpensNormalThenMinimizes) {
    storeMain({{"ShowCmd", "2"}});
    Qt::WindowStates during = Qt::WindowMinimized;
    onDialog = [&] { during = frmMain->windowState(); };
    startUp();
    EXPECT_EQ(during, Qt::WindowNoState);
    QApplication::processEvents();
    EXPECT_TRUE(frmMain->isMinimized());
}

TEST_F(Storage, ClosingMinimizedOrMaximizedWritesItsShowCmd) {
    startUp();
    frmMain->showMinimized();
    frmMain->close();
    EXPECT_EQ(storedMain("ShowCmd").toString(), "2");
    ui::destroyForms();
    startUp();
    frmMain->showMaximized();
    frmMain->close();
    EXPECT_EQ(storedMain("ShowCmd").toString(), "3");
    EXPECT_EQ(storedMain("NormPos").toString(), "0,103,800,539");  // the normal frame
}

TEST_F(Storage, VersionBelowZeroRestoresNothingButCloseSaves) {
    storeMain(
        {{"FormVersion", "-1"}, {"seByteBitsCount_Value", "12"}, {"NormPos", "10,20,610,420"}});
    startUp();
    EXPECT_EQ(dialogRuns, 0);  // no connect action
    EXPECT_EQ(seByteBitsCount()->value(), 8);
    EXPECT_EQ(frmMain->pos(), QPoint(0, 103));
    frmMain->close();
    EXPECT_EQ(storedMain("FormVersion").toString(), "0");
    EXPECT_EQ(storedMain("seByteBitsCount_Value").toString(), "8");
    EXPECT_EQ(storedMain("NormPos").toString(), "0,103,800,539");
}

TEST_F(Storage, StoredPropertyTexts) {
    struct Row {
        const char* name;
        QString valueName;
        QString text;
        std::function<bool(TfrmMain&)> check;
    };
    const Row rows[] = {
        {"byte bits clamped to 16", "seByteBitsCount_Value", "40",
         [](TfrmMain&) { return seByteBitsCount()->value() == 16; }},
        {"byte bits clamped to 1", "seByteBitsCount_Value", "-5",
         [](TfrmMain&) { return seByteBitsCount()->value() == 1; }},
        {"half rounds to even (down)", "seByteBitsCount_Value", "8.5",
         [](TfrmMain&) { return seByteBitsCount()->value() == 8; }},
        {"half rounds to even (up)", "seByteBitsCount_Value", "9.5",
         [](TfrmMain&) { return seByteBitsCount()->value() == 10; }},
        {"not a number leaves the value", "seByteBitsCount_Value", "abc",
         [](TfrmMain&) { return seByteBitsCount()->value() == 8; }},
        {"blanks are trimmed", "seByteBitsCount_Value", " \t12 ",
         [](TfrmMain&) { return seByteBitsCount()->value() == 12; }},
        {"window bits unbounded", "seWindowBitsCount_Value", "100000",
         [](TfrmMain&) { return seWindowBitsCount()->value() == 100000; }},
        {"true in lower case checks", "cbBitStaff_Checked", "true",
         [](TfrmMain&) { return cbBitStaff()->isChecked(); }},
        {"yes leaves the box unchanged", "cbBitStaff_Checked", "yes",
         [](TfrmMain&) { return !cbBitStaff()->isChecked(); }},
        {"TRUE with blanks checks", "cbReverseBits_Checked", "  TRUE ",
         [](TfrmMain&) { return cbReverseBits()->isChecked(); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        uitest::TempConfig own;
        storeMain({{r.valueName, r.text}});
        startUp();
        EXPECT_TRUE(r.check(*frmMain));
        ui::destroyForms();
    }
}

TEST_F(Storage, WindowBitsSetTheWindowWidthBeforeTheWindowIsShown) {
    storeMain({{"seWindowBitsCount_Value", "250"}});
    double widthDuringDialog = 0;
    onDialog = [&] {
        widthDuringDialog = frmMain->engine().window.maximum() - frmMain->engine().window.minimum();
    };
    startUp();
    EXPECT_EQ(widthDuringDialog, 64000);
}

TEST_F(Storage, WrongTypeEndsTheRestoreAndNothingIsSaved) {
    writeRawMain("FormVersion=0\nFlags=@Rect(0 0 10 10)\nseByteBitsCount_Value=12\n");
    startUp();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, ui::MessageKind::Exception);
    EXPECT_EQ(messages[0].text, QStringLiteral("Invalid data type for 'Flags'"));
    EXPECT_EQ(dialogRuns, 0);
    EXPECT_EQ(seByteBitsCount()->value(), 8);
    EXPECT_EQ(frmMain->formStorage().state(), ui::FormStorage::State::NotRestored);
    frmMain->close();
    ui::destroyForms();
    EXPECT_FALSE(storedMain("ShowCmd").isValid());
}

TEST_F(Storage, WrongTypeOfAStoredPropertyIsIgnored) {
    writeRawMain("seByteBitsCount_Value=@ByteArray(12)\ncbBitStaff_Checked=True\n");
    startUp();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(seByteBitsCount()->value(), 8);
    EXPECT_TRUE(cbBitStaff()->isChecked());
    EXPECT_EQ(dialogRuns, 1);
}

TEST_F(Storage, WriteFailureIsReported) {
    startUp();
    // The configuration folder becomes a plain file: the INI file cannot be created.
    const QString blocker = config.path() + "/blocked";
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    qputenv("XDG_CONFIG_HOME", blocker.toUtf8());
    frmMain->close();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Failed to set data for 'FormVersion'"));
    EXPECT_EQ(frmMain->formStorage().state(), ui::FormStorage::State::Restored);
}

// --- Login dialog -----------------------------------------------------------------------------

class LoginStorage : public WindowTest {
  protected:
    // Shows the dialog through the connect action and closes it with `result`.
    void connectOnce(int result, const std::function<void(TLoginDlg&)>& whileOpen = {}) {
        ui::ScopedModalHook modal([&](QDialog& d) {
            d.show();
            if (whileOpen)
                whileOpen(*LoginDlg);
            d.done(result);
            return result;
        });
        frmMain->actConnectExecute();
    }
};

TEST_F(LoginStorage, ServerNamesRestoredAtShowAndSavedAtEveryClose) {
    store(kLoginKey, "TLoginDlg", {{"ServerE_Text", "  nt1 "}, {"TmsE_Text", "tm1"}});
    QString seenServer, seenTms;
    onDialog = [&] {
        seenServer = loginEdit("ServerE")->text();
        seenTms = loginEdit("TmsE")->text();
    };
    startUp();
    EXPECT_EQ(seenServer, "nt1");
    EXPECT_EQ(seenTms, "tm1");
    for (const int result : {int(QDialog::Rejected), int(QDialog::Accepted)}) {
        const QString name = QStringLiteral("srv%1").arg(result);
        connectOnce(result, [&](TLoginDlg& d) {
            loginEdit("ServerE", &d)->setText(name);
            loginEdit("UserE", &d)->setText("operator");
            loginEdit("PasswordE", &d)->setText("secret");
        });
        EXPECT_EQ(stored(kLoginKey, "TLoginDlg", "ServerE_Text").toString(), name);
    }
    EXPECT_FALSE(stored(kLoginKey, "TLoginDlg", "UserE_Text").isValid());
    EXPECT_FALSE(stored(kLoginKey, "TLoginDlg", "PasswordE_Text").isValid());
    // Hidden between uses, the dialog keeps what was typed.
    EXPECT_EQ(loginEdit("UserE")->text(), "operator");
}

TEST_F(LoginStorage, OpensCentredUntilAPlacementIsStored) {
    QPoint centredAt;
    onDialog = [&] { centredAt = LoginDlg->pos(); };
    startUp();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(centredAt + QPoint(LoginDlg->width() / 2, LoginDlg->height() / 2), area.center());
    ui::destroyForms();

    // A stored frame: its left and top, the dialog's own fixed size.
    store(kLoginKey, "TLoginDlg",
          {{"NormPos" + ui::screenSuffix(), "12,34,900,900"}, {"FormVersion", "0"}});
    QRect placed;
    onDialog = [&] { placed = QRect(LoginDlg->pos(), LoginDlg->size()); };
    startUp();
    EXPECT_EQ(placed, QRect(12, 34, 339, 176));
}

TEST_F(LoginStorage, OkHandsOnlyANonEmptyUserName) {
    startUp();
    std::vector<std::pair<QString, QString>> calls;
    LoginDlg->setUser = [&](const QString& u, const QString& p) { calls.emplace_back(u, p); };
    loginEdit("PasswordE")->setText("pw");
    LoginDlg->BitBtn1Click();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(LoginDlg->result(), QDialog::Accepted);
    loginEdit("UserE")->setText("op");
    LoginDlg->BitBtn1Click();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::make_pair(QString("op"), QString("pw")));
    EXPECT_EQ(loginEdit("PasswordE")->echoMode(), QLineEdit::Password);
}

}  // namespace
