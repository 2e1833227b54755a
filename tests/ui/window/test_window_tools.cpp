// The tools after the status panel, in the window: exports equal to the command line's and
// read by a logic-analyser suite, the stretch between marker and cursor, cancelled exports,
// dropped files, the recent files across restarts and garbage, the bit rate in the readouts,
// and a key and a tooltip for every new action.

#include <QCheckBox>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#include <cmath>
#include <fstream>

#include "core/files/osc_file.h"
#include "core/files/trace_export.h"
#include "core/view/plot_labels.h"
#include "core/view/time_text.h"
#include "tests/app/cli_run.h"
#include "tests/ui/capture_test_support.h"
#include "ui/plot/PlotPicture.h"
#include "ui/window/BitRate.h"
#include "ui/window/ExportPart.h"

namespace uitest {
namespace {

std::string readFile(const QString& path) {
    return osc::readWholeFile(path.toStdString());
}

// The engine's replay of a file, as a program that has just started does it.
std::string summaryOf(const osc::ChannelTraces& traces) {
    std::string out;
    for (const osc::ChannelTrace& t : traces) {
        out +=
            std::to_string(t.count()) + " " + (t.empty() ? "-" : std::to_string(t.lastX())) + "\n";
    }
    return out;
}

class WindowTools : public CaptureTest {
  protected:
    QString out(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    // A copy of a fixture in the test's folder.
    QString copyOf(const char* fixture, const char* name) const {
        QFile::copy(clitest::fixture(QString::fromLatin1(fixture)), out(name));
        return out(name);
    }
    // Cursor at `ticks` without snapping (Ctrl), as the mouse would put it.
    void cursorAt(double ticks) {
        const QPoint p(static_cast<int>(std::lround(Chart1()->pixelForBottom(ticks))),
                       static_cast<int>(std::lround(Chart1()->pixelForLeft(4.5))));
        Chart1()->setPointerOverride(p);
        frmMain->Chart1MouseMove(Qt::ControlModifier, p.x(), p.y());
    }
    // Closes the program and starts it again, on a recording endpoint.
    void restart() {
        ui::destroyForms();
        SetUp();
    }
    // Runs the export action with the dialog answered.
    void exportAs(const QString& file, osc::ExportFormat format, bool stretch = false,
                  bool allFrames = false) {
        ui::ScopedModalHook answer([&](QDialog& d) {
            auto& dialog = dynamic_cast<ui::ExportDialog&>(d);
            dialog.setFileName(file);
            dialog.setFormat(format);
            dialog.setStretchChosen(stretch);
            dialog.setAllFrames(allFrames);
            dialog.accept();
            return dialog.result();
        });
        component<QAction>("actExport")->trigger();
    }
    QTemporaryDir dir;
};

// The window's export is the command line's export of the same file, byte for byte, with and
// without a bit rate.
TEST_F(WindowTools, ExportEqualsTheCommandLineExport) {
    const QString file = clitest::fixture(QStringLiteral("worked_example.osc"));
    frmMain->LoadOscFile(file);
    for (const char* rate : {"", "9600"}) {
        SCOPED_TRACE(rate);
        frmMain->tools().setBitRate(osc::parseBitRate(rate));
        exportAs(out("w.vcd"), osc::ExportFormat::Vcd);
        exportAs(out("w.csv"), osc::ExportFormat::Csv);
        QStringList args{"export", file, "--vcd", out("c.vcd"), "--csv", out("c.csv")};
        if (*rate) {
            args << "--bit-rate" << rate;
        }
        const clitest::Run r = clitest::runCli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFile(out("w.vcd")), readFile(out("c.vcd")));
        EXPECT_EQ(readFile(out("w.csv")), readFile(out("c.csv")));
    }
    EXPECT_TRUE(messages.empty());
}

// The stretch holds the values in force at the marker and the changes up to the cursor, and
// nothing else; a logic-analyser suite reads both dumps.
TEST_F(WindowTools, StretchExportHoldsOnlyMarkerToCursor) {
    frmMain->LoadOscFile(clitest::fixture(QStringLiteral("frames_session.osc")));
    const osc::ChannelTraces& traces = frmMain->engine().traces;
    const double last = static_cast<double>(traces[0].lastX());
    frmMain->engine().window.setMinMax(0, last);
    cursorAt(last * 0.3);
    frmMain->Chart1Click();
    cursorAt(last * 0.6);
    const auto stretch =
        ui::markerCursorStretch(frmMain->measurement().markerX(), frmMain->measurement().cursorX());
    ASSERT_TRUE(stretch);
    exportAs(out("s.csv"), osc::ExportFormat::Csv, true);
    exportAs(out("s.vcd"), osc::ExportFormat::Vcd, true);
    const std::string csv = readFile(out("s.csv"));
    EXPECT_EQ(csv, osc::ExportText(traces, osc::ExportFormat::Csv, std::nullopt, *stretch));
    // Every row lies in [marker, cursor), the first one at the marker.
    int rows = 0;
    for (const QString& line : QString::fromStdString(csv).split('\n', Qt::SkipEmptyParts)) {
        if (rows++ == 0) {
            continue;
        }
        const osc::Tick tick = line.section(',', 0, 0).toLongLong();
        EXPECT_GE(tick, stretch->from);
        EXPECT_LT(tick, stretch->to);
        if (rows == 2) {
            EXPECT_EQ(tick, stretch->from);
        }
    }
    EXPECT_GT(rows, 3);
    const std::string whole = osc::CsvText(traces);
    EXPECT_LT(csv.size(), whole.size());
    const std::string vcd = readFile(out("s.vcd"));
    EXPECT_EQ(vcd.substr(vcd.rfind('#')), "#" + std::to_string(stretch->to) + "\n");

    const QString sigrok = QStandardPaths::findExecutable(QStringLiteral("sigrok-cli"));
    if (sigrok.isEmpty()) {
        GTEST_SKIP() << "sigrok-cli is not installed";
    }
    exportAs(out("w.vcd"), osc::ExportFormat::Vcd, false);
    for (const char* name : {"s.vcd", "w.vcd"}) {
        SCOPED_TRACE(name);
        QProcess p;
        p.start(sigrok, {"-I", "vcd", "-i", out(name), "--show"});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().contains("Channels: 4"));
    }
}

// The comments of a pcapng file's packets ("frame 3"), read block by block.
QStringList packetComments(const std::string& file) {
    auto u32 = [&](std::size_t i) {
        std::uint32_t v = 0;
        for (int k = 3; k >= 0; --k) {
            v = v << 8 | static_cast<unsigned char>(file[i + static_cast<std::size_t>(k)]);
        }
        return v;
    };
    QStringList comments;
    for (std::size_t at = 0; at + 12 <= file.size() && u32(at + 4) >= 12;) {
        if (u32(at) == 6) {
            std::size_t o = at + 28 + (u32(at + 20) + 3) / 4 * 4;
            while (o + 4 <= at + u32(at + 4) - 4 && (file[o] | file[o + 1]) != 0) {
                const std::size_t length = u32(o) >> 16;
                if ((u32(o) & 0xFFFF) == 1) {
                    comments << QString::fromStdString(file.substr(o + 4, length));
                }
                o += 4 + (length + 3) / 4 * 4;
            }
        }
        at += u32(at + 4);
    }
    return comments;
}

// The window's pcapng export is the command line's of the same file, byte for byte; the
// stretch between marker and cursor holds the frames that start in it, with their numbers.
TEST_F(WindowTools, PcapngExportEqualsTheCommandLine) {
    const QString file = clitest::fixture(QStringLiteral("frames_session.osc"));
    frmMain->LoadOscFile(file);
    for (const bool all : {false, true}) {
        SCOPED_TRACE(all);
        frmMain->tools().setBitRate(all ? std::optional<double>(9600) : std::nullopt);
        exportAs(out("w.pcapng"), osc::ExportFormat::Pcapng, false, all);
        QStringList args{"export", file, "--pcapng", out("c.pcapng")};
        if (all) {
            args << "--all-frames"
                 << "--bit-rate"
                 << "9600";
        }
        const clitest::Run r = clitest::runCli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFile(out("w.pcapng")), readFile(out("c.pcapng")));
        EXPECT_EQ(packetComments(readFile(out("w.pcapng"))).size(), all ? 10 : 8);
    }
    const std::vector<osc::Frame> frames = frmMain->engine().frames.byStart();
    ASSERT_EQ(frames.size(), 10u);
    frmMain->engine().window.setMinMax(0, static_cast<double>(frames.back().end));
    auto between = [&](std::size_t k) {
        return static_cast<double>(frames[k - 1].start + frames[k].start) / 2;
    };
    cursorAt(between(2));
    frmMain->Chart1Click();
    cursorAt(between(6));
    exportAs(out("s.pcapng"), osc::ExportFormat::Pcapng, true, true);
    EXPECT_EQ(packetComments(readFile(out("s.pcapng"))),
              (QStringList{"frame 3", "frame 4", "frame 5", "frame 6: misaligned"}));

    // The dialog: the extension, the bad frames' box and the time scale follow the format.
    ui::ExportDialog dialog(frmMain, out("x.vcd"), std::nullopt, std::nullopt);
    auto* allFrames = dialog.findChild<QCheckBox*>(QStringLiteral("cbAllFrames"));
    auto* scale = dialog.findChild<QLabel*>(QStringLiteral("lblTimeScale"));
    ASSERT_TRUE(allFrames && scale);
    EXPECT_FALSE(allFrames->isEnabled());
    dialog.setFormat(osc::ExportFormat::Pcapng);
    EXPECT_EQ(dialog.request().fileName, out("x.pcapng"));
    EXPECT_TRUE(allFrames->isEnabled());
    EXPECT_EQ(scale->text(), QStringLiteral("Скорость не задана: в pcapng один бит — 1 мкс"));
    dialog.setAllFrames(true);
    EXPECT_TRUE(dialog.request().allFrames);
    dialog.setFormat(osc::ExportFormat::Csv);
    EXPECT_EQ(dialog.request().fileName, out("x.csv"));
    EXPECT_FALSE(dialog.request().allFrames);
    EXPECT_EQ(scale->text(), QStringLiteral("Скорость не задана: в VCD один тик — 1 нс"));
    dialog.setFileName(out("y.PCAPNG"));
    EXPECT_EQ(dialog.request().format, osc::ExportFormat::Pcapng);
}

// A progress that cancels after a number of steps.
class CancellingProgress final : public ui::ExportProgress {
  public:
    explicit CancellingProgress(int steps) : left_(steps) {}
    void setProgress(double share) override {
        EXPECT_GE(share, last);
        last = share;
        --left_;
        ++calls;
    }
    bool cancelled() const override { return left_ <= 0; }
    double last = 0;
    int calls = 0;

  private:
    int left_;
};

// A long export reports its progress step by step; cancelled, it leaves no file and keeps an
// old one as it was.
TEST_F(WindowTools, LongExportShowsProgressAndCancelsWithoutAFile) {
    osc::ChannelTraces traces;
    for (osc::Tick x = 0; x < 200000; ++x) {
        traces[1].add(x * 300 + (x % 7), static_cast<std::uint8_t>(5 + x % 2));
    }
    const QString file = out("long.vcd");
    CancellingProgress complete(1 << 30);
    ASSERT_TRUE(ui::writeTraceExport(traces, {file, osc::ExportFormat::Vcd, {}}, 9600, complete));
    EXPECT_GT(complete.calls, 40);
    EXPECT_EQ(complete.last, 1.0);
    EXPECT_EQ(readFile(file), osc::VcdText(traces, 9600));

    for (const int steps : {1, 10}) {
        SCOPED_TRACE(steps);
        std::ofstream(file.toStdString()) << "old";
        CancellingProgress cancelling(steps);
        EXPECT_FALSE(
            ui::writeTraceExport(traces, {file, osc::ExportFormat::Csv, {}}, {}, cancelling));
        EXPECT_EQ(readFile(file), "old");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("long.vcd")});
    }
    QFile::remove(file);
    CancellingProgress cancelling(3);
    EXPECT_FALSE(ui::writeTraceExport(traces, {file, osc::ExportFormat::Csv, {}}, {}, cancelling));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// An .osc file dropped on the window is replayed as the load action does; other drops are
// refused.
TEST_F(WindowTools, ADroppedFileReplays) {
    const QString file = copyOf("worked_example.osc", "dropped.osc");
    osc::CaptureEngine reference;
    reference.replayOscFile(file.toStdString());
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(frmMain, &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent dropped(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton,
                           Qt::NoModifier);
        QApplication::sendEvent(frmMain, &dropped);
        settle();
        return dropped.isAccepted();
    };
    EXPECT_FALSE(drop({QUrl::fromLocalFile(out("notes.txt"))}));
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.org/x.osc"))}));
    EXPECT_FALSE(drop({QUrl::fromLocalFile(file), QUrl::fromLocalFile(file)}));
    EXPECT_EQ(summaryOf(frmMain->engine().traces), summaryOf(osc::ChannelTraces{}));
    ASSERT_TRUE(drop({QUrl::fromLocalFile(file)}));
    EXPECT_EQ(summaryOf(frmMain->engine().traces), summaryOf(reference.traces));
    EXPECT_EQ(frmMain->tools().recentFiles().files().value(0), file);
    EXPECT_TRUE(messages.empty());
}

// The list survives a restart, drops files that are gone, and takes garbage in the store as
// no entry.
TEST_F(WindowTools, RecentFilesSurviveARestartMissingFilesAndGarbage) {
    const QString a = copyOf("worked_example.osc", "a.osc");
    const QString b = copyOf("steady_lines.osc", "b.osc");
    frmMain->LoadOscFile(a);
    frmMain->LoadOscFile(b);
    frmMain->LoadOscFile(a);
    EXPECT_EQ(frmMain->tools().recentFiles().files(), (QStringList{a, b}));

    QFile::remove(a);
    {
        QSettings s(ui::iniFilePathFor(kMainKey), QSettings::IniFormat);
        s.beginGroup(ui::ToolsPart::recentSection());
        s.setValue(QStringLiteral("File3"), QStringLiteral("relative/x.osc"));
        s.setValue(QStringLiteral("File4"), QString(b).insert(1, QChar(1)));
        s.setValue(QStringLiteral("File5"), QSize(3, 4));  // not a text
        s.setValue(QStringLiteral("File6"), QByteArray("\0\xff/x", 4));
        s.setValue(QStringLiteral("File7"), b);  // twice
        s.setValue(QStringLiteral("File8"), QString(70000, QChar('/')));
        s.setValue(QStringLiteral("File9"), dir.path());  // a folder
        s.setValue(QStringLiteral("File10"), QStringLiteral("/a,b,c.osc"));
        s.endGroup();
    }
    restart();
    EXPECT_EQ(frmMain->tools().recentFiles().files(), QStringList{b});

    // The menu offers it and opens it.
    QMenu* menu = frmMain->tools().recentMenu();
    frmMain->tools().rebuildRecentMenu();
    QAction* first = menu->findChild<QAction*>(QStringLiteral("actRecentFile1"));
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->text().startsWith(QStringLiteral("&1 b.osc")));
    first->trigger();
    settle();
    osc::CaptureEngine reference;
    reference.replayOscFile(b.toStdString());
    EXPECT_EQ(summaryOf(frmMain->engine().traces), summaryOf(reference.traces));

    // A file removed while listed leaves the menu when it opens next.
    QFile::remove(b);
    frmMain->tools().rebuildRecentMenu();
    EXPECT_TRUE(frmMain->tools().recentFiles().files().isEmpty());
    EXPECT_EQ(menu->actions().size(), 1);
    EXPECT_FALSE(menu->actions().constFirst()->isEnabled());
    EXPECT_TRUE(messages.empty());
}

// With a bit rate the readouts and the axis add times; without one they are the plain bit
// texts. The rate is kept between runs; garbage in the store is no rate.
TEST_F(WindowTools, BitRateAddsTimesToTheReadoutsAndIsKept) {
    frmMain->LoadOscFile(clitest::fixture(QStringLiteral("steady_lines.osc")));
    frmMain->engine().window.setMinMax(0, 25600);
    cursorAt(2560);
    frmMain->Chart1Click();
    cursorAt(5000);
    const QRegularExpression bits(QStringLiteral("^-?\\d+( \\+ \\d+/256)?$"));
    for (QLabel* l : {lblMarker(), lblStrobe(), lblDiff()}) {
        EXPECT_TRUE(bits.match(l->text()).hasMatch()) << l->text().toStdString();
    }
    const QString markerBits = lblMarker()->text();
    EXPECT_EQ(Chart1()->axisLabelText(OscPlot::Axis::Bottom, 2560), QStringLiteral("10"));

    auto answer = [this](const QString& text) {
        ui::ScopedModalHook hook([&](QDialog& d) {
            auto& dialog = dynamic_cast<ui::BitRateDialog&>(d);
            dialog.setText(text);
            dialog.accept();
            return dialog.result();
        });
        component<QAction>("actBitRate")->trigger();
    };
    answer(QStringLiteral("9 600"));
    const auto marker = osc::truncateToTick(frmMain->measurement().markerX());
    const auto cursor = osc::truncateToTick(frmMain->measurement().cursorX());
    EXPECT_EQ(lblMarker()->text(), QString::fromStdString(osc::PositionText(marker, 9600)));
    EXPECT_TRUE(lblMarker()->text().startsWith(markerBits + QStringLiteral(" (")));
    EXPECT_EQ(lblStrobe()->text(), QString::fromStdString(osc::PositionText(cursor, 9600)));
    EXPECT_EQ(lblDiff()->text(),
              QString::fromStdString(osc::PositionText(std::abs(cursor - marker), 9600)));
    EXPECT_EQ(Chart1()->axisLabelText(OscPlot::Axis::Bottom, 2560),
              QStringLiteral("10 (1,042 мс)"));
    EXPECT_TRUE(messages.empty());

    // A text that is no rate is refused and changes nothing.
    answer(QStringLiteral("быстро"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(frmMain->tools().bitRate(), 9600);

    restart();
    EXPECT_EQ(frmMain->tools().bitRate(), 9600);
    answer(QString());
    EXPECT_EQ(frmMain->tools().bitRate(), std::nullopt);
    EXPECT_EQ(Chart1()->axisLabelText(OscPlot::Axis::Bottom, 2560), QStringLiteral("10"));

    for (const QVariant& garbage :
         {QVariant(QStringLiteral("-5")), QVariant(QStringLiteral("9600 бит/с")),
          QVariant(QSize(1, 2)), QVariant(QString(100000, QChar('9'))),
          QVariant(QStringLiteral("1e999"))}) {
        {
            QSettings s(ui::iniFilePathFor(kMainKey), QSettings::IniFormat);
            s.setValue(ui::ToolsPart::readoutSection() + QStringLiteral("/BitRate"), garbage);
        }
        restart();
        EXPECT_EQ(frmMain->tools().bitRate(), std::nullopt)
            << garbage.toString().left(20).toStdString();
    }
}

// The pictures through their actions: the dialog's file and size, the clipboard.
TEST_F(WindowTools, PictureActionsSaveAndCopy) {
    frmMain->LoadOscFile(clitest::fixture(QStringLiteral("worked_example.osc")));
    {
        ui::ScopedModalHook hook([&](QDialog& d) {
            auto& dialog = dynamic_cast<ui::PictureDialog&>(d);
            EXPECT_EQ(dialog.pictureSize(), Chart1()->size());
            // Beside the file opened last, named after it.
            EXPECT_EQ(dialog.fileName(),
                      QFileInfo(clitest::fixture(QStringLiteral("worked_example.png")))
                          .absoluteFilePath());
            dialog.setFileName(out("p.txt"));
            dialog.accept();  // no format: refused, the dialog stays
            EXPECT_EQ(dialog.result(), QDialog::Rejected);
            dialog.setFileName(out("p.png"));
            dialog.setPictureSize({300, 150});
            dialog.accept();
            return dialog.result();
        });
        component<QAction>("actSavePicture")->trigger();
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(QImage(out("p.png")).size(), QSize(300, 150));
    // The next dialogs start in the folder written to, with the extension used last there.
    EXPECT_EQ(frmMain->tools().suggestedFile(out("p.png"), QStringLiteral("vcd")),
              out("worked_example.png"));
    EXPECT_EQ(frmMain->tools().suggestedFile(QString(), QStringLiteral("vcd")),
              out("worked_example.vcd"));
    component<QAction>("actCopyPicture")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), Chart1()->size());
}

TEST_F(WindowTools, EveryNewActionHasAKeyAndATooltipNamingIt) {
    struct Row {
        const char* action;
        QKeySequence key;
    };
    const Row rows[] = {
        {"actSavePicture", QKeySequence(QStringLiteral("Ctrl+Shift+S"))},
        {"actCopyPicture", QKeySequence(QStringLiteral("Ctrl+Shift+C"))},
        {"actExport", QKeySequence(QStringLiteral("Ctrl+E"))},
        {"actRecentFiles", QKeySequence(QStringLiteral("Ctrl+Shift+O"))},
        {"actBitRate", QKeySequence(QStringLiteral("Ctrl+B"))},
    };
    QList<QKeySequence> keys;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.action);
        QAction* a = component<QAction>(row.action);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->shortcut(), row.key);
        EXPECT_TRUE(a->toolTip().contains(row.key.toString(QKeySequence::NativeText)));
        EXPECT_TRUE(frmMain->actions().contains(a));  // the key works without a menu open
        EXPECT_FALSE(keys.contains(a->shortcut()));
        keys << a->shortcut();
    }
    // The three buttons follow the status panel, inside the window's 800 pixels.
    const QList<QToolButton*> buttons = toolButtons();
    ASSERT_EQ(buttons.size(), 9);
    for (int i = 6; i < 9; ++i) {
        EXPECT_GE(buttons[i]->x(), Panel1()->geometry().right());
        EXPECT_LE(buttons[i]->geometry().right(), 800);
        EXPECT_FALSE(buttons[i]->toolTip().isEmpty());
        EXPECT_FALSE(buttons[i]->icon().isNull());
    }
}

}  // namespace
}  // namespace uitest
