#pragma once
// Shared set-up of the window tests: one QApplication on the offscreen platform, a private
// settings folder per test, recorded message boxes, and the two windows created as at start-up.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <memory>
#include <vector>

#include "ui/dialogs/logind.h"
#include "ui/settings/FormStorage.h"
#include "ui/tracelog/TraceLogWidget.h"
#include "ui/widgets/Messages.h"
#include "ui/window/MainUnit.h"
#include "ui/window/Startup.h"

namespace uitest {

inline QApplication& app() {
    static int argc = 1;
    static char name[] = "ui-test";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* instance = [] {
        auto* a = new QApplication(argc, argv);
        QApplication::setApplicationName(QStringLiteral("morvelip-osc-test"));
        return a;
    }();
    return *instance;
}

// XDG_CONFIG_HOME and XDG_STATE_HOME (the capture journals) point into a fresh temporary
// folder for the lifetime of the object.
class TempConfig {
  public:
    TempConfig() : old_(qgetenv("XDG_CONFIG_HOME")), oldState_(qgetenv("XDG_STATE_HOME")) {
        qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
        qputenv("XDG_STATE_HOME", (dir_.path() + QStringLiteral("/state")).toUtf8());
    }
    ~TempConfig() {
        qputenv("XDG_CONFIG_HOME", old_);
        qputenv("XDG_STATE_HOME", oldState_);
    }
    QString path() const { return dir_.path(); }
    QString statePath() const { return dir_.path() + QStringLiteral("/state"); }

  private:
    QTemporaryDir dir_;
    QByteArray old_;
    QByteArray oldState_;
};

inline const QString kMainKey = QStringLiteral("Software\\Kestrowel\\MorvelIP_OSC\\MainForm");
inline const QString kLoginKey = QStringLiteral("Software\\Kestrowel\\MorvelIP_OSC\\LoginDlg");

// Values written through QSettings, as a previous run would have left them.
inline void store(const QString& key, const QString& section,
                  const std::vector<std::pair<QString, QString>>& values) {
    QSettings s(ui::iniFilePathFor(key), QSettings::IniFormat);
    s.beginGroup(section);
    for (const auto& [name, text] : values) {
        s.setValue(name, text);
    }
    s.endGroup();
    s.sync();
}

inline QVariant stored(const QString& key, const QString& section, const QString& name) {
    QSettings s(ui::iniFilePathFor(key), QSettings::IniFormat);
    s.beginGroup(section);
    return s.value(name);
}

// A component of the main window, found by its object name.
template <class T = QWidget>
T* component(const char* name) {
    T* c = frmMain ? frmMain->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    if (!c) {
        ADD_FAILURE() << "frmMain has no component " << name;
    }
    return c;
}

// The main window's components by their names.
#define UITEST_COMPONENT(type, name)   \
    inline type* name() {              \
        return component<type>(#name); \
    }
UITEST_COMPONENT(QAction, actConnect)
UITEST_COMPONENT(QAction, actOSCstart)
UITEST_COMPONENT(QAction, actOSCstop)
UITEST_COMPONENT(QAction, actSaveToFile)
UITEST_COMPONENT(QAction, actLoadFromFile)
UITEST_COMPONENT(QComboBox, ComboBox1)
UITEST_COMPONENT(QLabel, Panel1)
UITEST_COMPONENT(QTabWidget, PageControl1)
UITEST_COMPONENT(QWidget, TabSheet1)
UITEST_COMPONENT(QFrame, Panel3)
UITEST_COMPONENT(QLabel, lblMarker)
UITEST_COMPONENT(QLabel, lblStrobe)
UITEST_COMPONENT(QLabel, lblDiff)
UITEST_COMPONENT(QSpinBox, seWindowBitsCount)
UITEST_COMPONENT(QSpinBox, seByteBitsCount)
UITEST_COMPONENT(QCheckBox, cbReverseBits)
UITEST_COMPONENT(QCheckBox, cbInverseBits)
UITEST_COMPONENT(QCheckBox, cbBitStaff)
UITEST_COMPONENT(QLabel, lblBitStream)
UITEST_COMPONENT(QLabel, lblBytesDecoded)
UITEST_COMPONENT(OscPlot, Chart1)
UITEST_COMPONENT(QScrollBar, ScrollBar1)
UITEST_COMPONENT(QFrame, pbPanel)
UITEST_COMPONENT(QProgressBar, ProgressBar1)
UITEST_COMPONENT(QCheckBox, cbTraceEnabled)
UITEST_COMPONENT(ui::TraceLogWidget, Memo1)
UITEST_COMPONENT(QTimer, Timer1)
#undef UITEST_COMPONENT

// An edit of the login dialog by its name ("ServerE", "TmsE", "UserE", "PasswordE").
inline QLineEdit* loginEdit(const char* name, TLoginDlg* dialog = LoginDlg) {
    QLineEdit* e = dialog ? dialog->findChild<QLineEdit*>(QString::fromLatin1(name)) : nullptr;
    if (!e) {
        ADD_FAILURE() << "LoginDlg has no edit " << name;
    }
    return e;
}

// The tool bar's buttons, left to right.
inline QList<QToolButton*> toolButtons() {
    return component<>("ActionToolBar1")
        ->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly);
}

// Base fixture: application, private settings, recorded messages, windows torn down after.
class WindowTest : public ::testing::Test {
  protected:
    WindowTest()
        : messages_(ui::setMessageHook([this](const ui::Message& m) { messages.push_back(m); })),
          modal_(ui::setModalHook([this](QDialog&) {
              ++unexpectedDialogs;
              return int(QDialog::Rejected);
          })) {
        app();
    }
    ~WindowTest() override {
        ui::destroyForms();
        ui::setModalHook(std::move(modal_));
        ui::setMessageHook(std::move(messages_));
    }

    // Start-up with the login dialog answered by `answer` (Rejected by default).
    void startUp(int answer = QDialog::Rejected) {
        ui::createForms({});
        ui::ScopedModalHook modal([this, answer](QDialog& d) {
            ++dialogRuns;
            d.show();
            onDialog();
            d.done(answer);
            return answer;
        });
        ui::showMainForm();
        QApplication::processEvents();
    }
    // Runs while the login dialog is up during start-up.
    std::function<void()> onDialog = [] {};

    TempConfig config;
    std::vector<ui::Message> messages;
    int dialogRuns = 0;
    int unexpectedDialogs = 0;  // modal dialogs outside startUp, answered Rejected

  private:
    ui::MessageHook messages_;
    ui::ModalHook modal_;
};

}  // namespace uitest
