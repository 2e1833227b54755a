// Nothing lost between captures: a capture made with tracing off is saved from its journal, a
// second start keeps the first capture in "Последние захваты", and a kept capture replays as
// it was captured.

#include <QFileDialog>
#include <QTreeWidget>

#include <fstream>
#include <iterator>

#include "core/files/osc_file.h"
#include "tests/ui/capture_test_support.h"
#include "ui/window/CaptureStatusPart.h"
#include "ui/window/MeasurementPart.h"
#include "ui/window/RecentCapturesPart.h"
#include "ui/window/ToolsPart.h"

namespace uitest {
namespace {

std::string readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class RecentCaptures : public CaptureTest {
  protected:
    // A capture of n sample datagrams whose status steps through `salt`.
    void capture(int n, int salt) {
        frmMain->actOSCstartExecute();
        for (int i = 0; i < n; ++i) {
            endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, ((i + salt) % 2) * 0x44,
                                    ((i * salt) % 3) * 0x40, 0x80, 0}));
        }
        settle();
    }
    static std::string lines(int n, int salt) {
        std::string text;
        for (int i = 0; i < n; ++i) {
            text += osc::traceLine(bytes({'#', 8, 0, 0, 0, 0, 0, 0, ((i + salt) % 2) * 0x44,
                                          ((i * salt) % 3) * 0x40, 0x80, 0})) +
                    "\r\n";
        }
        return text;
    }
    // Answers the save file dialog with name.
    ui::ScopedModalHook saveAs(const QString& name) {
        return ui::ScopedModalHook([name](QDialog& d) {
            auto* fd = dynamic_cast<QFileDialog*>(&d);
            if (!fd) {
                return int(QDialog::Rejected);
            }
            fd->selectFile(name);
            return int(QDialog::Accepted);
        });
    }
    std::vector<std::pair<osc::Tick, int>> strobe() const {
        std::vector<std::pair<osc::Tick, int>> points;
        const osc::ChannelTrace& t = frmMain->engine().traces[0];
        for (std::size_t i = 0; i < t.count(); ++i) {
            points.emplace_back(t.x(i), t.y(i));
        }
        return points;
    }
    QTemporaryDir dir;
};

TEST_F(RecentCaptures, ACaptureWithTracingOffIsSavedFromItsJournal) {
    ASSERT_FALSE(cbTraceEnabled()->isChecked());
    capture(50, 1);
    // While it runs, what has reached the journal so far.
    frmMain->actOSCstopExecute();
    const QString file = dir.filePath(QStringLiteral("saved.osc"));
    {
        const auto hook = saveAs(file);
        frmMain->findChild<QAction*>(QStringLiteral("actSaveCapture"))->trigger();
    }
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
    EXPECT_EQ(readFile(file), lines(50, 1));
    // The same bytes as the kept journal.
    const std::vector<osc::KeptCapture> kept = frmMain->recentCaptures().captures().list();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(readFile(QString::fromStdString(kept[0].path.string())), readFile(file));
    EXPECT_EQ(kept[0].datagrams, 50u);
    // The trace log and its message stay as they were.
    const QString traceFile = dir.filePath(QStringLiteral("trace.osc"));
    {
        const auto hook = saveAs(traceFile);
        frmMain->actSaveToFileExecute();
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Включите трассировку принимаемых посылок"));
}

TEST_F(RecentCaptures, ASecondStartKeepsTheFirstCaptureWhichReplaysAsItWas) {
    capture(30, 1);
    frmMain->actOSCstopExecute();
    const auto first = strobe();
    capture(20, 2);  // stopped by the start below, which keeps it too
    const auto second = strobe();
    capture(10, 3);
    frmMain->actOSCstopExecute();
    const std::vector<osc::KeptCapture> kept = frmMain->recentCaptures().captures().list();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].datagrams, 10u);
    EXPECT_EQ(kept[1].datagrams, 20u);
    EXPECT_EQ(kept[2].datagrams, 30u);
    EXPECT_EQ(readFile(QString::fromStdString(kept[1].path.string())), lines(20, 2));

    // The list shows them, newest first; the oldest is chosen and replayed.
    int rows = -1;
    QString columns;
    {
        const ui::ScopedModalHook hook([&](QDialog& d) {
            auto* list =
                d.findChild<QTreeWidget*>(QString::fromLatin1(ui::RecentCapturesPart::kList));
            if (!list) {
                return int(QDialog::Rejected);
            }
            rows = list->topLevelItemCount();
            columns = list->topLevelItem(2)->text(3);
            list->setCurrentItem(list->topLevelItem(2));
            return int(QDialog::Accepted);
        });
        frmMain->findChild<QAction*>(QStringLiteral("actRecentCaptures"))->trigger();
    }
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(columns, QStringLiteral("30"));  // its datagrams
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(strobe(), first);
    EXPECT_NE(strobe(), second);
    EXPECT_EQ(frmMain->captureStatus().state(), ui::CaptureStatusPart::State::Stopped);
    // On screen now: the kept file, saved as it is.
    const QString file = dir.filePath(QStringLiteral("again.osc"));
    {
        const auto hook = saveAs(file);
        frmMain->recentCaptures().saveCaptureOnScreen();
    }
    EXPECT_EQ(readFile(file), lines(30, 1));
}

TEST_F(RecentCaptures, TheStatusBarSaysWhatIsOnScreen) {
    const auto* shown = frmMain->findChild<QLabel*>(QStringLiteral("stShown"));
    ASSERT_NE(shown, nullptr);
    frmMain->actOSCstartExecute();  // no device chosen
    EXPECT_TRUE(shown->text().startsWith(QStringLiteral("Устройство не выбрано")))
        << shown->text().toStdString();
    frmMain->actOSCstopExecute();
    const QString file = dir.filePath(QStringLiteral("shown.osc"));
    std::ofstream(file.toStdString()) << "23 08 00 00 00 00 00 00 04 00 \r\n";
    frmMain->LoadOscFile(file);
    EXPECT_EQ(shown->text(), QStringLiteral("Файл: shown.osc"));
    EXPECT_EQ(frmMain->fileOnScreen(), file);
    ComboBox1()->addItem(QStringLiteral("КП-7 (IP:10.0.0.5)"));
    ComboBox1()->setCurrentIndex(0);
    frmMain->ComboBox1Change();
    frmMain->actOSCstartExecute();
    EXPECT_TRUE(shown->text().startsWith(QStringLiteral("Захват: КП-7 (IP:10.0.0.5), ")))
        << shown->text().toStdString();
    EXPECT_TRUE(frmMain->fileOnScreen().isEmpty());
}

// The picture's header holds the device and the readouts as the window shows them.
TEST_F(RecentCaptures, ThePictureHeaderHoldsTheDeviceAndReadouts) {
    ComboBox1()->addItem(QStringLiteral("КП-7 (IP:10.0.0.5)"));
    ComboBox1()->setCurrentIndex(0);
    frmMain->ComboBox1Change();
    capture(40, 1);
    frmMain->actOSCstopExecute();
    frmMain->measurement().measure(0, 512, 2048);
    frmMain->tools().setPictureLook(true, true);
    const ui::PictureLook look = frmMain->tools().pictureLook();
    EXPECT_TRUE(look.light);
    ASSERT_EQ(look.headerLines.size(), 4);
    EXPECT_TRUE(look.headerLines[0].contains(QStringLiteral("КП-7 (IP:10.0.0.5)")))
        << look.headerLines[0].toStdString();
    EXPECT_EQ(look.headerLines[1], QStringLiteral("Маркер: 2    Курсор: 8    Разность: 6"));
    EXPECT_TRUE(look.headerLines[2].startsWith(QStringLiteral("Биты: ")));
    // Stored: the next run starts with the same look.
    frmMain->tools().setPictureLook(false, true);
    EXPECT_FALSE(frmMain->tools().pictureLook().header);
}

}  // namespace
}  // namespace uitest
