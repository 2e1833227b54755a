// The tab "Кадры" in the window: a loaded session's frames in the table, a chosen row measured
// on the plot with the frame's bytes in the decode lines, the navigation keys, the options
// stored with the window's settings (garbage tolerated), a changed option decoding again, and
// the CSV export against the command-line tool's output for the same file.

#include <QFile>
#include <QFileDialog>
#include <QProcess>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "core/files/frame_export.h"
#include "core/frames/bit_stream.h"
#include "core/view/frame_view.h"
#include "core/view/plot_labels.h"
#include "core/view/plot_navigation.h"
#include "tests/app/cli_run.h"
#include "tests/ui/ui_test_support.h"

namespace uitest {
namespace {

class FramesTab : public WindowTest {
  protected:
    void load(const char* fixture = "frames_session.osc") {
        frmMain->LoadOscFile(clitest::fixture(QString::fromLatin1(fixture)));
        frames().refresh();
    }
    static ui::FramesPart& frames() { return frmMain->frames(); }
    static ui::FrameTableModel& model() { return frames().model(); }
    static int currentRow() { return frames().table()->currentIndex().row(); }
    static QString text(const char* label) { return component<QLabel>(label)->text(); }
    void storeMain(const std::vector<std::pair<QString, QString>>& values) {
        store(kMainKey, QStringLiteral("TfrmMain"), values);
    }
    static QString storedMain(const char* name) {
        return stored(kMainKey, QStringLiteral("TfrmMain"), QString::fromLatin1(name)).toString();
    }
};

std::string hexSpaced(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += osc::frameBytesHex(std::span<const std::uint8_t>(&b, 1)) + ' ';
    }
    return out;
}

TEST_F(FramesTab, LoadedSessionInTheTableAndEachRowMeasured) {
    startUp();
    auto* tabs = PageControl1();
    ASSERT_EQ(tabs->count(), 4);  // and "Триггеры"
    EXPECT_EQ(tabs->tabText(0), "Осциллограмма");
    EXPECT_EQ(tabs->tabText(1), "Отладка");
    EXPECT_EQ(tabs->tabText(2), "Кадры");
    load();
    const std::vector<osc::Frame> all = frmMain->engine().frames.byStart();
    ASSERT_EQ(all.size(), 10u);
    ASSERT_EQ(model().rowCount(), 10);
    EXPECT_EQ(text("lblFrameCounts"),
              "Передача: верных 5, ошибочных 0    Приём1: верных 1, ошибочных 2    "
              "Приём2: верных 2, ошибочных 0    всего: верных 8, ошибочных 2");

    for (int r = 0; r < 10; ++r) {
        const osc::Frame& f = all[static_cast<std::size_t>(r)];
        SCOPED_TRACE("row " + std::to_string(r));
        // Something else measured before: the row replaces it.
        cbBitStaff()->setChecked(false);
        seByteBitsCount()->setValue(5);
        ASSERT_TRUE(frames().chooseRow(r));
        EXPECT_EQ(currentRow(), r);
        EXPECT_EQ(frmMain->measurement().markerX(), static_cast<double>(f.start));
        EXPECT_EQ(frmMain->measurement().cursorX(), static_cast<double>(f.end));
        EXPECT_EQ(frmMain->engine().markerLine.x(0), f.start);
        EXPECT_EQ(frmMain->engine().cursorLine.x(1), f.end);
        EXPECT_EQ(lblMarker()->text().toStdString(), osc::TicksToBitText(f.start));
        EXPECT_EQ(lblStrobe()->text().toStdString(), osc::TicksToBitText(f.end));
        EXPECT_EQ(lblDiff()->text().toStdString(), osc::TicksToBitText(f.end - f.start));
        EXPECT_TRUE(cbBitStaff()->isChecked());
        EXPECT_EQ(seByteBitsCount()->value(), 8);
        // The frame in the window.
        EXPECT_LE(frmMain->engine().window.minimum(), static_cast<double>(f.start));
        EXPECT_GE(frmMain->engine().window.maximum(), static_cast<double>(f.end));
        // The decode lines: the flags and the frame's bytes between them, as the bit-stream
        // decoder reads them between marker and cursor with "Стафф" ticked.
        if (f.good()) {
            EXPECT_EQ(lblBytesDecoded()->text().toStdString(),
                      "7E " + hexSpaced(f.bytes.vector()) + "7E ");
        }
        osc::BitStreamOptions b;
        b.unstuff = true;
        b.spanLimit = 1e18;
        const osc::BitStreamResult read =
            osc::DecodeBitStream(frmMain->engine().traces, f.channel, static_cast<double>(f.start),
                                 static_cast<double>(f.end), b);
        EXPECT_EQ(lblBitStream()->text().toStdString(), read.bitText);
        EXPECT_EQ(lblBytesDecoded()->text().toStdString(), read.valueText);
    }
    // Enter (or a double click) brings the plot forward.
    tabs->setCurrentIndex(2);
    component<QAction>("actFrameShow")->trigger();
    EXPECT_EQ(tabs->currentIndex(), 0);
}

// A chosen row widens a narrow window to its frame: "Бит в окне" shows the new width (as after
// every other move of the window) without setting it, the scroll bar follows, and undoing a
// zoom returns to the width chosen in the field.
TEST_F(FramesTab, ChosenRowWidensTheWindowAndBitsInWindowShowsIt) {
    startUp();
    seWindowBitsCount()->setValue(2);
    load();
    QSignalSpy handlerRuns(seWindowBitsCount(), &QSpinBox::valueChanged);
    int widest = 0;
    for (int r = 0; r < model().rowCount(); ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        ASSERT_TRUE(frames().chooseRow(r));
        const osc::PlotWindow& w = frmMain->engine().window;
        const osc::Frame& f = *model().frameAt(r);
        EXPECT_LE(w.minimum(), static_cast<double>(f.start));
        EXPECT_GE(w.maximum(), static_cast<double>(f.end));
        const int bits = osc::windowBitsOf({w.minimum(), w.maximum()});
        EXPECT_EQ(seWindowBitsCount()->value(), bits);
        EXPECT_EQ(ScrollBar1()->value(), static_cast<int>(w.minimum()));
        widest = std::max(widest, bits);
    }
    EXPECT_GT(widest, 50) << "some frame is much wider than the 2 bits chosen";
    EXPECT_EQ(handlerRuns.count(), 0) << "shown, not set";
    frmMain->Chart1UndoZoom();
    EXPECT_EQ(frmMain->engine().window.maximum() - frmMain->engine().window.minimum(), 2 * 256);
    EXPECT_EQ(seWindowBitsCount()->value(), 2);
}

TEST_F(FramesTab, KeysStepThroughTheFramesAndTheBadOnes) {
    startUp();
    load();
    frmMain->engine().window.setMinMax(0, 25600);
    struct Step {
        const char* action;
        int row;
    };
    // Rows 5 (misaligned) and 9 (unfinished) are the bad ones.
    const Step steps[] = {
        {"actFrameNext", 0},     {"actFrameNext", 1},        {"actFramePrevious", 0},
        {"actFramePrevious", 0}, {"actFrameNextBad", 5},     {"actFrameNextBad", 9},
        {"actFrameNextBad", 9},  {"actFramePreviousBad", 5}, {"actFramePreviousBad", 5},
        {"actFrameNext", 6},
    };
    for (const Step& s : steps) {
        component<QAction>(s.action)->trigger();
        EXPECT_EQ(currentRow(), s.row) << s.action;
        EXPECT_EQ(frmMain->measurement().markerX(),
                  static_cast<double>(model().frameAt(s.row)->start));
    }
    // Each action with its key, named in its tooltip.
    const std::pair<const char*, const char*> keys[] = {
        {"actFrameNext", "F3"},
        {"actFramePrevious", "Shift+F3"},
        {"actFrameNextBad", "F4"},
        {"actFramePreviousBad", "Shift+F4"},
        {"actFramesExport", "Ctrl+Shift+F"},
    };
    for (const auto& [name, key] : keys) {
        QAction* a = component<QAction>(name);
        EXPECT_EQ(a->shortcut().toString(), key) << name;
        EXPECT_TRUE(a->toolTip().contains(QString::fromLatin1(key))) << name;
    }

    // The keys themselves, on the plot's tab, with the filter on one channel, sorted by end
    // descending: the steps follow the table's order.
    component<QComboBox>("cmbFrameFilter")->setCurrentIndex(3);  // Приём1
    frames().table()->sortByColumn(ui::FrameTableModel::End, Qt::DescendingOrder);
    ASSERT_EQ(model().rowCount(), 3);
    frmMain->activateWindow();
    QApplication::setActiveWindow(frmMain);
    frames().chooseRow(0);
    QTest::keyClick(frmMain, Qt::Key_F3);
    EXPECT_EQ(currentRow(), 1);
    EXPECT_EQ(model().numberAt(1), 6u);
    QTest::keyClick(frmMain, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(currentRow(), 0);

    // In the table its own moving keys move through the rows, although the window uses some
    // of them to move the plot.
    component<QComboBox>("cmbFrameFilter")->setCurrentIndex(0);
    frames().table()->sortByColumn(ui::FrameTableModel::Number, Qt::AscendingOrder);
    PageControl1()->setCurrentIndex(2);
    frames().chooseRow(0);
    frames().table()->setFocus();
    QTest::keyClick(frames().table(), Qt::Key_PageDown);
    const int paged = currentRow();
    EXPECT_GT(paged, 0);
    QTest::keyClick(frames().table(), Qt::Key_PageUp);
    EXPECT_EQ(currentRow(), 0);
    QTest::keyClick(frames().table(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(currentRow(), 9);
    const double left = frmMain->engine().window.minimum();
    QTest::keyClick(frames().table(), Qt::Key_Home);  // the first column: the window stays
    EXPECT_EQ(frmMain->engine().window.minimum(), left);
    QTest::keyClick(frames().table(), Qt::Key_Up);
    EXPECT_EQ(currentRow(), 8);
    EXPECT_EQ(frmMain->measurement().markerX(), static_cast<double>(model().frameAt(8)->start));
}

TEST_F(FramesTab, OptionsStoredAndRestoredGarbageTolerated) {
    startUp();
    component<QCheckBox>("cbFrameChannel0")->setChecked(true);
    component<QCheckBox>("cbFrameChannel3")->setChecked(false);
    component<QCheckBox>("cbFrameInvert")->setChecked(true);
    component<QCheckBox>("cbFrameStuffing")->setChecked(false);
    component<QComboBox>("cmbFrameBitOrder")->setCurrentIndex(1);
    component<QComboBox>("cmbFrameCheck")->setCurrentIndex(4);
    component<QSpinBox>("seFrameMinLength")->setValue(7);
    component<QCheckBox>("cbFrameBands")->setChecked(false);
    frmMain->close();
    const std::pair<const char*, const char*> written[] = {
        {"cbFrameChannel0_Checked", "True"}, {"cbFrameChannel1_Checked", "True"},
        {"cbFrameChannel2_Checked", "True"}, {"cbFrameChannel3_Checked", "False"},
        {"cbFrameInvert_Checked", "True"},   {"cbFrameStuffing_Checked", "False"},
        {"cmbFrameBitOrder_ItemIndex", "1"}, {"cmbFrameCheck_ItemIndex", "4"},
        {"seFrameMinLength_Value", "7"},     {"cbFrameBands_Checked", "False"},
        {"seByteBitsCount_Value", "8"},  // the window's own values stay as they were
    };
    for (const auto& [name, value] : written) {
        EXPECT_EQ(storedMain(name), value) << name;
    }
    ui::destroyForms();

    // The next run takes them back and decodes with them.
    startUp();
    EXPECT_TRUE(frames().options().invert);
    EXPECT_FALSE(frames().options().stuffing);
    EXPECT_EQ(frames().options().order, osc::BitOrder::MsbFirst);
    EXPECT_EQ(frames().options().check, osc::FrameCheck::Auto);
    EXPECT_EQ(frames().options().minLength, 7);
    EXPECT_EQ(frames().channels(), 0b0111u);
    EXPECT_FALSE(frames().bands().enabled());
    frames().applyOptions();
    EXPECT_EQ(frmMain->engine().frames.options().check, osc::FrameCheck::Auto);
    EXPECT_EQ(frmMain->engine().frames.channels(), 0b0111u);
    ui::destroyForms();

    // Garbage in every value: the defaults.
    storeMain({{"cbFrameChannel0_Checked", "yes"},
               {"cbFrameChannel1_Checked", ""},
               {"cbFrameChannel2_Checked", "\x01\x02"},
               {"cbFrameChannel3_Checked", "1"},
               {"cbFrameInvert_Checked", "Tru"},
               {"cbFrameStuffing_Checked", "0"},
               {"cmbFrameBitOrder_ItemIndex", "-1"},
               {"cmbFrameCheck_ItemIndex", "99999999999999999999"},
               {"seFrameMinLength_Value", "abc"},
               {"cbFrameBands_Checked", "False,True"}});
    startUp();
    const osc::FrameOptions defaults;
    EXPECT_EQ(frames().options().invert, defaults.invert);
    EXPECT_EQ(frames().options().stuffing, defaults.stuffing);
    EXPECT_EQ(frames().options().order, defaults.order);
    EXPECT_EQ(frames().options().check, defaults.check);
    EXPECT_EQ(frames().options().minLength, defaults.minLength);
    EXPECT_EQ(frames().channels(), osc::kDataChannels);
    EXPECT_TRUE(frames().bands().enabled());
    ui::destroyForms();

    // Numbers out of range: the nearest allowed value, or unchanged for a list.
    storeMain({{"seFrameMinLength_Value", "1e9"}, {"cmbFrameCheck_ItemIndex", "5"}});
    startUp();
    EXPECT_EQ(frames().options().minLength, osc::FrameOptions{}.maxLength);
    EXPECT_EQ(frames().options().check, osc::FrameCheck::X25);
}

TEST_F(FramesTab, ChangedOptionsDecodeAgain) {
    startUp();
    load();
    ASSERT_EQ(model().rowCount(), 10);
    frames().chooseRow(3);
    component<QComboBox>("cmbFrameCheck")->setCurrentIndex(3);  // нет
    frames().applyOptions();
    ASSERT_EQ(model().rowCount(), 10);
    EXPECT_EQ(currentRow(), -1);  // the frames are new
    for (int r = 0; r < model().rowCount(); ++r) {
        EXPECT_EQ(model().data(model().index(r, ui::FrameTableModel::Check)).toString(), "нет");
    }
    EXPECT_EQ(text("lblFrameCounts"),
              "Передача: верных 5, ошибочных 0    Приём1: верных 1, ошибочных 2    "
              "Приём2: верных 2, ошибочных 0    всего: верных 8, ошибочных 2");
    // Only the transmit line.
    component<QCheckBox>("cbFrameChannel2")->setChecked(false);
    component<QCheckBox>("cbFrameChannel3")->setChecked(false);
    frames().applyOptions();
    EXPECT_EQ(model().rowCount(), 5);
    EXPECT_EQ(text("lblFrameCounts"), "Передача: верных 5, ошибочных 0");
    component<QCheckBox>("cbFrameChannel1")->setChecked(false);
    frames().applyOptions();
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_EQ(text("lblFrameCounts"), "Не выбран ни один канал");
    // The options also take effect by themselves a moment after the change: the change starts
    // the delay, which is cut short here instead of waited for.
    component<QCheckBox>("cbFrameChannel1")->setChecked(true);
    auto* delay = frames().findChild<QTimer*>(QStringLiteral("FrameOptionsDelay"));
    ASSERT_NE(delay, nullptr);
    ASSERT_TRUE(delay->isActive());
    delay->start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !delay->isActive(); }, 10000));
    frames().refresh();
    EXPECT_EQ(model().rowCount(), 5);
}

TEST_F(FramesTab, CsvExportEqualsTheCommandLineTool) {
    startUp();
    load();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("frames.csv"));
    frames().exportCsvTo(file);
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const std::string csv = written.readAll().toStdString();
    const clitest::Run cli =
        clitest::runCli({"frames", clitest::fixture("frames_session.osc"), "--format", "csv"});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_EQ(csv, cli.out);

    // Only the bad ones: the tool's rows with their numbers, nothing else.
    component<QCheckBox>("cbFrameOnlyBad")->setChecked(true);
    ASSERT_EQ(model().rowCount(), 2);
    int dialogs = 0;
    const QString bad = dir.filePath(QStringLiteral("bad.csv"));
    {
        ui::ScopedModalHook hook([&](QDialog& d) {
            ++dialogs;
            auto* fd = dynamic_cast<QFileDialog*>(&d);
            EXPECT_NE(fd, nullptr);
            if (fd) {
                EXPECT_EQ(fd->defaultSuffix(), "csv");
                fd->selectFile(bad);
            }
            return int(QDialog::Accepted);
        });
        component<QAction>("actFramesExport")->trigger();
    }
    EXPECT_EQ(dialogs, 1);
    QFile badFile(bad);
    ASSERT_TRUE(badFile.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(badFile.readAll()).split('\n', Qt::SkipEmptyParts);
    const QStringList cliLines = QString::fromStdString(cli.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], cliLines[0]);
    EXPECT_EQ(lines[1], cliLines[6]);
    EXPECT_EQ(lines[2], cliLines[10]);

    // A file that cannot be written: the error is reported, nothing else happens.
    messages.clear();
    {
        ui::ScopedModalHook hook([&](QDialog& d) {
            dynamic_cast<QFileDialog&>(d).selectFile(dir.filePath("no/such/folder/x.csv"));
            return int(QDialog::Accepted);
        });
        component<QAction>("actFramesExport")->trigger();
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith("Cannot create file"))
        << messages[0].text.toStdString();
}

}  // namespace
}  // namespace uitest
