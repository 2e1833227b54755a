// Start-up order, the window as created, and the connect action's dialog.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include "tests/ui/ui_test_support.h"

using uitest::WindowTest;
using namespace uitest;  // the components by name

namespace {

bool onScreen(QWidget* w) {
    return w->windowHandle() && w->windowHandle()->isVisible();
}

class Startup : public WindowTest {};

TEST_F(Startup, LoginDialogComesUpBeforeTheMainWindowIsOnScreen) {
    bool dialogVisible = false, mainOnScreen = true, createdFirst = false;
    onDialog = [&] {
        dialogVisible = LoginDlg->isVisible();
        mainOnScreen = onScreen(frmMain);
        createdFirst = frmMain->windowTitle() == TfrmMain::defaultCaption();
    };
    startUp();
    EXPECT_EQ(dialogRuns, 1);
    EXPECT_TRUE(dialogVisible);
    EXPECT_FALSE(mainOnScreen);
    EXPECT_TRUE(createdFirst);  // FormCreate ran before the dialog
    EXPECT_TRUE(onScreen(frmMain));
    EXPECT_FALSE(LoginDlg->isVisible());
}

TEST_F(Startup, RealModalLoopCancelledByTimer) {
    // The dialog's own event loop, closed from inside it as a user pressing Esc would.
    ui::ScopedModalHook real({});
    ui::createForms({});
    bool mainOnScreenDuringDialog = true;
    QTimer::singleShot(0, [&] {
        mainOnScreenDuringDialog = onScreen(frmMain);
        LoginDlg->reject();
    });
    ui::showMainForm();
    EXPECT_FALSE(mainOnScreenDuringDialog);
    EXPECT_EQ(frmMain->windowTitle(), QStringLiteral("МорвелIP-осциллограф"));
    EXPECT_EQ(frmMain->connection().connection(), -1);
    EXPECT_EQ(ComboBox1()->count(), 0);
}

TEST_F(Startup, FirstRunLooksAsCreated) {
    startUp();
    TfrmMain& w = *frmMain;
    EXPECT_EQ(w.frameGeometry(), QRect(0, 103, 800, 436));  // the outer frame
    EXPECT_EQ(w.windowState(), Qt::WindowNoState);
    EXPECT_EQ(seByteBitsCount()->value(), 8);
    EXPECT_EQ(seWindowBitsCount()->value(), 100);
    EXPECT_FALSE(cbReverseBits()->isChecked());
    EXPECT_FALSE(cbInverseBits()->isChecked());
    EXPECT_FALSE(cbBitStaff()->isChecked());
    EXPECT_FALSE(cbTraceEnabled()->isChecked());
    EXPECT_EQ(w.engine().window.minimum(), 0);
    EXPECT_EQ(w.engine().window.maximum(), 25600);
    EXPECT_EQ(PageControl1()->currentWidget(), TabSheet1());
    EXPECT_EQ(PageControl1()->tabPosition(), QTabWidget::South);
    EXPECT_EQ(PageControl1()->tabText(0), QStringLiteral("Осциллограмма"));
    EXPECT_EQ(PageControl1()->tabText(1), QStringLiteral("Отладка"));
    EXPECT_TRUE(pbPanel()->isHidden());
    EXPECT_TRUE(messages.empty());
    // Marker and cursor lines: exactly (0,0) and (1,0).
    for (const osc::ChannelTrace* line : {&w.engine().markerLine, &w.engine().cursorLine}) {
        ASSERT_EQ(line->count(), 2u);
        EXPECT_EQ(line->x(0), 0);
        EXPECT_EQ(line->y(0), 0);
        EXPECT_EQ(line->x(1), 1);
        EXPECT_EQ(line->y(1), 0);
    }
}

// Qt's own dialogs and buttons in Russian, like the rest of the program.
TEST_F(Startup, QtDialogsSpeakRussian) {
    ASSERT_TRUE(ui::installQtTranslations(app())) << "qt6-translations-l10n installed?";
    EXPECT_TRUE(ui::installQtTranslations(app())) << "a second call changes nothing";
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Save);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove(QLatin1Char('&')),
              QStringLiteral("Отмена"));
    EXPECT_EQ(box.button(QMessageBox::Save)->text().remove(QLatin1Char('&')),
              QStringLiteral("Сохранить"));
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
    bool russian = false;
    for (const QLabel* l : labels) {
        russian |= l->text().contains(QStringLiteral("Имя файла"));
    }
    EXPECT_TRUE(russian) << "the file dialog's name label";
    // What Qt's translations miss: the type of a folder in the file list.
    EXPECT_EQ(QFileIconProvider().type(QFileInfo(QDir::tempPath())), QStringLiteral("Папка"));
}

TEST_F(Startup, ToolBarButtonsInOrderAndComponentsPlaced) {
    startUp();
    const QList<QAction*> expected{actConnect(),      actOSCstart(),   actOSCstop(),
                                   actLoadFromFile(), actSaveToFile(), actLoadFromFile()};
    // The six buttons first; the tools after the status panel follow them.
    ASSERT_GE(toolButtons().size(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(toolButtons()[i]->defaultAction(), expected[i]) << i;
        EXPECT_EQ(toolButtons()[i]->toolButtonStyle(), Qt::ToolButtonIconOnly);
        EXPECT_FALSE(toolButtons()[i]->icon().isNull()) << i;
    }
    EXPECT_EQ(ComboBox1()->geometry().topLeft(), QPoint(128, 1));
    EXPECT_EQ(ComboBox1()->width(), 300);
    EXPECT_FALSE(ComboBox1()->isEditable());
    EXPECT_EQ(Panel1()->geometry(), QRect(431, 2, 300, 21));
    EXPECT_EQ(seWindowBitsCount()->geometry(), QRect(536, 4, 57, 21));
    EXPECT_EQ(seByteBitsCount()->geometry(), QRect(669, 4, 57, 21));
    EXPECT_EQ(Panel3()->height(), 63);
    EXPECT_EQ(pbPanel()->size(), QSize(265, 41));
    EXPECT_EQ(Timer1()->interval(), 1000);
    EXPECT_TRUE(Timer1()->isActive());
}

TEST_F(Startup, ConnectActionShowsDialogOnlyWhileNotConnected) {
    startUp();
    int runs = 0;
    ui::ScopedModalHook modal([&](QDialog&) {
        ++runs;
        return int(QDialog::Rejected);
    });
    actConnect()->trigger();
    EXPECT_EQ(runs, 1);  // cancelled at start-up: the button opens it again
    frmMain->connection().setConnection(7);
    actConnect()->trigger();
    EXPECT_EQ(runs, 1);
}

TEST_F(Startup, StatusPanelShowsAddressAndIdentity) {
    startUp();
    TfrmMain& w = *frmMain;
    EXPECT_EQ(Panel1()->text(), QString());  // empty until the first tick
    w.Timer1Timer();
    EXPECT_EQ(Panel1()->text(), QStringLiteral("???"));
    w.acquisition().setDeviceAddress(QStringLiteral("10.0.0.5"));
    w.engine().state.FDeviceId = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    w.Timer1Timer();
    EXPECT_EQ(Panel1()->text(), QStringLiteral("IP=10.0.0.5 MAC=00:1A:2B:3C:4D:5E"));
}

TEST_F(Startup, EscapingErrorIsReportedAndTheLoopGoesOn) {
    startUp();
    ui::guarded(frmMain, [] { throw std::runtime_error("Не удалось отправить"); });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, ui::MessageKind::Exception);
    EXPECT_EQ(messages[0].text, QStringLiteral("Не удалось отправить."));
    EXPECT_EQ(messages[0].caption, ui::applicationTitle());
    EXPECT_EQ(messages[0].icon, QMessageBox::Critical);
}

TEST_F(Startup, DemoFlagReachesTheWindow) {
    ui::createForms({.demo = true});
    EXPECT_TRUE(frmMain->demoMode());
}

}  // namespace
