// Saving the trace as an oscillogram file and loading one again, through the file dialogs as
// a user answers them.

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "net/udp_endpoint.h"
#include "tests/ui/capture_test_support.h"
#include "ui/window/CaptureStatusPart.h"

namespace uitest {
namespace {

std::string readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void writeFile(const QString& path, const std::string& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << bytes;
}

class OscFiles : public CaptureTest {
  protected:
    // Runs a handler with the file dialog answered by name (empty: cancelled).
    void withDialog(const QString& name, void (TfrmMain::*handler)()) {
        ui::ScopedModalHook hook([this, name](QDialog& d) {
            ++dialogs;
            auto* fd = dynamic_cast<QFileDialog*>(&d);
            EXPECT_NE(fd, nullptr);
            if (fd) {
                EXPECT_EQ(fd->nameFilters().value(0),
                          QStringLiteral("Файлы осциллограм ОИК (*.osc)"));
                EXPECT_EQ(fd->defaultSuffix(), QStringLiteral("osc"));
            }
            if (name.isEmpty()) {
                return int(QDialog::Rejected);
            }
            fd->selectFile(name);
            return int(QDialog::Accepted);
        });
        ui::guarded(frmMain, [handler] { (frmMain->*handler)(); });
    }
    std::vector<std::vector<std::pair<osc::Tick, int>>> traces() const {
        std::vector<std::vector<std::pair<osc::Tick, int>>> all;
        for (const osc::ChannelTrace& t : frmMain->engine().traces) {
            all.emplace_back();
            for (std::size_t i = 0; i < t.count(); ++i) {
                all.back().emplace_back(t.x(i), t.y(i));
            }
        }
        return all;
    }
    QTemporaryDir dir;
    int dialogs = 0;
};

TEST_F(OscFiles, SavedCaptureLoadsBackToTheSameTraces) {
    cbTraceEnabled()->setChecked(true);
    frmMain->actOSCstartExecute();
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x04, 0, 0x44, 17, 0x40, 0}));
    // Ending on the status the capture began with, so that the replay judges its first
    // changes against the same last status.
    endpoint->inject(bytes({'#', 9, 0, 0, 0, 0, 0, 0, 0x44, 0, 0xC0, 100, 0x00, 50}));
    settle();
    frmMain->actOSCstopExecute();
    const auto captured = traces();

    const QString file = dir.filePath(QStringLiteral("capture.osc"));
    withDialog(file, &TfrmMain::actSaveToFileExecute);
    EXPECT_EQ(readFile(file),
              "23 08 00 00 00 00 00 00 04 00 44 11 40 00 \r\n"
              "23 09 00 00 00 00 00 00 44 00 C0 64 00 32 \r\n");

    withDialog(file, &TfrmMain::actLoadFromFileExecute);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(traces(), captured);
    EXPECT_EQ(frmMain->traceLog().lineCount(), 0);  // the load's start action cleared the trace

    // Saving right after a load finds the trace empty: the message, and no file.
    const QString second = dir.filePath(QStringLiteral("second.osc"));
    withDialog(second, &TfrmMain::actSaveToFileExecute);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Включите трассировку принимаемых посылок"));
    EXPECT_EQ(messages[0].caption, QStringLiteral("Ошибка"));
    EXPECT_FALSE(QFile::exists(second));
}

TEST_F(OscFiles, CancelledDialogsDoNothing) {
    frmMain->measurement().setMarkerX(700);
    withDialog({}, &TfrmMain::actLoadFromFileExecute);
    withDialog({}, &TfrmMain::actSaveToFileExecute);
    EXPECT_EQ(dialogs, 2);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(frmMain->measurement().markerX(), 700);
    EXPECT_TRUE(endpoint->sent.empty());
}

TEST_F(OscFiles, LoadErrorsAreReportedWithTheirTexts) {
    const QString missing = dir.filePath(QStringLiteral("missing.osc"));
    withDialog(missing, &TfrmMain::actLoadFromFileExecute);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, ui::MessageKind::Exception);
    EXPECT_EQ(messages[0].text, QStringLiteral("Cannot open file ") + missing + ".");
    EXPECT_TRUE(endpoint->sent.empty());  // before the start action

    // A bad group: the lines before it are replayed, then the replay stops (closing points,
    // completion, "Останов") and the error is reported.
    const QString bad = dir.filePath(QStringLiteral("bad.osc"));
    writeFile(bad,
              "23 08 00 00 00 00 00 00 04 00 \r\n2G 08 \r\n23 08 00 00 00 00 00 00 00 00 \r\n");
    withDialog(bad, &TfrmMain::actLoadFromFileExecute);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, QStringLiteral("'$2G' is not a valid integer value."));
    // First point, the strobe edge and the closing point.
    EXPECT_EQ(frmMain->engine().traces[0].count(), 3u);
    EXPECT_EQ(frmMain->captureStatus().state(), ui::CaptureStatusPart::State::Stopped);
    EXPECT_TRUE(endpoint->sent.empty());  // a replay commands no device
    EXPECT_TRUE(pbPanel()->isHidden());

    // A save into a folder that does not exist cannot create its file.
    cbTraceEnabled()->setChecked(true);
    frmMain->traceLog().appendLine(QStringLiteral("23 "));
    const QString nowhere = dir.filePath(QStringLiteral("no/such/folder/x.osc"));
    withDialog(nowhere, &TfrmMain::actSaveToFileExecute);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].text, QStringLiteral("Cannot create file ") + nowhere + ".");
    EXPECT_EQ(messages[2].detail, QStringLiteral("No such file or directory"));  // the reason
}

// A replay needs no port: with port 971 (here a test port) held by another socket the file is
// replayed as usual, and the endpoint stays closed.
TEST_F(OscFiles, ReplayWithThePortHeldByAnotherSocket) {
    osc::net::UdpEndpointOptions options;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    osc::net::UdpEndpoint holder(options);
    holder.activate();
    options.port = holder.localPort();
    frmMain->setEndpoint(std::make_unique<osc::net::UdpEndpoint>(options));
    const QString file = dir.filePath(QStringLiteral("one.osc"));
    writeFile(file, "23 08 00 00 00 00 00 00 04 00 \r\n");
    withDialog(file, &TfrmMain::actLoadFromFileExecute);
    EXPECT_TRUE(messages.empty()) << messages.front().detail.toStdString();
    EXPECT_EQ(frmMain->engine().traces[0].count(), 3u);  // first point, edge, closing point
    EXPECT_FALSE(frmMain->endpoint().active());
    EXPECT_EQ(frmMain->captureStatus().state(), ui::CaptureStatusPart::State::Stopped);

    // A capture still needs the port, and says so.
    frmMain->actOSCstartExecute();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].detail.contains(QStringLiteral("Address already in use")))
        << messages[0].detail.toStdString();
}

// Sample datagrams that arrive while a file is replayed (a device streaming) are left off the
// plot and counted: the traces are exactly those that the command-line tool gets from the file,
// "Посылки" counts the file's datagrams, and no command goes to the device.
TEST_F(OscFiles, ReplayDuringALiveStreamShowsTheFileAlone) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "23 %02X 00 00 00 00 00 00 %02X 00 %02X 00 \r\n",
                      8 + i % 2, (i % 3) * 0x40 + (i % 2) * 4, (i * 7) % 256);
        text += line;
    }
    const QString file = dir.filePath(QStringLiteral("file.osc"));
    writeFile(file, text);
    osc::CaptureEngine cli;
    cli.replayOscFile(file.toStdString());

    // Once after a capture with another last status, once with the device streaming meanwhile.
    frmMain->actOSCstartExecute();
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0xC4, 0, 0xFF, 0}));
    settle();
    frmMain->actOSCstopExecute();
    const std::size_t sentBefore = endpoint->sent.size();
    for (int i = 0; i < 25; ++i) {
        endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, (i % 2) * 0x44, 0, 0xC0, 0}));
    }
    withDialog(file, &TfrmMain::actLoadFromFileExecute);
    settle();  // what was still queued after the replay is left off too
    EXPECT_TRUE(messages.empty());
    for (std::size_t c = 0; c < osc::kChannelCount; ++c) {
        const osc::ChannelTrace& got = frmMain->engine().traces[c];
        const osc::ChannelTrace& want = cli.traces[c];
        ASSERT_EQ(got.count(), want.count()) << c;
        for (std::size_t i = 0; i < got.count(); ++i) {
            ASSERT_EQ(got.x(i), want.x(i)) << c << " " << i;
            ASSERT_EQ(got.y(i), want.y(i)) << c << " " << i;
        }
    }
    EXPECT_EQ(frmMain->captureStatus().stats().datagrams(), 40u);
    EXPECT_EQ(frmMain->acquisition().notShown(), 25u);
    EXPECT_EQ(endpoint->sent.size(), sentBefore);
    EXPECT_EQ(frmMain->traceLog().lineCount(), 0);
    const auto* notShown = frmMain->findChild<QLabel*>(QStringLiteral("stNotShown"));
    ASSERT_NE(notShown, nullptr);
    EXPECT_EQ(notShown->text(), QStringLiteral("Не показаны: 25"));

    // The next capture draws the network again.
    frmMain->actOSCstartExecute();
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x04, 0}));
    settle();
    EXPECT_EQ(frmMain->engine().traces[0].count(), 2u);
    EXPECT_FALSE(frmMain->acquisition().showingFile());
    EXPECT_TRUE(notShown->isHidden());
}

// Every way a load ends leaves the program stopped ("Останов"), with what was replayed drawn.
TEST_F(OscFiles, EveryEndOfALoadLeavesItStopped) {
    struct Row {
        const char* name;
        std::string text;
        std::size_t strobePoints;  // with the closing point
        bool error;
    };
    const Row rows[] = {
        {"the end", "23 08 00 00 00 00 00 00 04 00 \r\n", 3, false},
        {"an empty line", "23 08 00 00 00 00 00 00 04 00 \r\n\r\n23 09 \r\n", 3, false},
        {"a bad group", "23 08 00 00 00 00 00 00 04 00 \r\nZZ \r\n", 3, true},
        {"an empty file", "", 2, false},
    };
    for (const Row& r : rows) {
        messages.clear();
        const QString file = dir.filePath(QStringLiteral("end.osc"));
        writeFile(file, r.text);
        withDialog(file, &TfrmMain::actLoadFromFileExecute);
        EXPECT_EQ(frmMain->captureStatus().state(), ui::CaptureStatusPart::State::Stopped)
            << r.name;
        EXPECT_FALSE(frmMain->acquisition().replaying()) << r.name;
        EXPECT_EQ(frmMain->engine().traces[0].count(), r.strobePoints) << r.name;
        EXPECT_EQ(messages.size(), r.error ? 1u : 0u) << r.name;
    }
    // A read error midway (a folder opens, but cannot be read).
    messages.clear();
    withDialog(dir.path(), &TfrmMain::actLoadFromFileExecute);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_FALSE(frmMain->acquisition().replaying());
    EXPECT_NE(frmMain->captureStatus().state(), ui::CaptureStatusPart::State::Replaying);
    EXPECT_TRUE(endpoint->sent.empty());
    EXPECT_FALSE(endpoint->active());
}

TEST_F(OscFiles, EmptyLineEndsTheReplayThenTheStopRuns) {
    const QString file = dir.filePath(QStringLiteral("gap.osc"));
    writeFile(file, "23 08 00 00 00 00 00 00 04 00 \n\n23 08 00 00 00 00 00 00 00 00 \n");
    withDialog(file, &TfrmMain::actLoadFromFileExecute);
    EXPECT_TRUE(messages.empty());
    const osc::ChannelTrace& strobe = frmMain->engine().traces[0];
    ASSERT_EQ(strobe.count(), 3u);  // first point, the edge at 256, the closing point
    EXPECT_EQ(strobe.x(1), 256);
    EXPECT_EQ(strobe.x(2), 256);
}

TEST_F(OscFiles, FailedSaveLeavesTheOldFileIntact) {
    // The chosen name is taken by a folder: the save fails and what was there stays.
    const QString taken = dir.filePath(QStringLiteral("taken.osc"));
    ASSERT_TRUE(QDir().mkpath(taken + QStringLiteral("/inside")));
    cbTraceEnabled()->setChecked(true);
    frmMain->traceLog().appendLine(QStringLiteral("23 "));
    withDialog(taken, &TfrmMain::actSaveToFileExecute);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(QDir(taken + QStringLiteral("/inside")).exists());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0);  // no temporary left
}

}  // namespace
}  // namespace uitest

namespace uitest {
namespace {

TEST_F(OscFiles, ClosingTheWindowEndsAReplayPromptly) {
    // A long file: closing the window while it replays ends the replay at once.
    const QString file = dir.filePath(QStringLiteral("long.osc"));
    std::string line = "23 08 00 00 00 00 00 00 ";
    for (int i = 0; i < 256; ++i) {
        line += i % 2 ? "04 00 " : "00 00 ";
    }
    line += "\r\n";
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += line;
    }
    writeFile(file, text);
    // The window closes at the first chance the replay gives (its first processing of pending
    // events): no line after that one is decoded.
    osc::Tick closedAt = -1;
    QTimer::singleShot(0, frmMain, [&] {
        closedAt = frmMain->engine().state.FTimeBase;
        frmMain->close();
    });
    withDialog(file, &TfrmMain::actLoadFromFileExecute);
    EXPECT_EQ(frmMain->engine().state.FTimeBase, closedAt);
    EXPECT_TRUE(frmMain->isHidden());
    EXPECT_LT(frmMain->engine().state.FTimeBase, 20000LL * 256 * 256);  // not all replayed
    EXPECT_TRUE(pbPanel()->isHidden());
}

// What the window runs between the lines of a long replay can end it: a start takes the plot
// over (the rest of the file is not decoded and its stop does not run), and another load
// replays its own file whole, the first replay ending there too.
TEST_F(OscFiles, AStartOrAnotherLoadDuringAReplayTakesThePlotOver) {
    const QString longFile = dir.filePath(QStringLiteral("long.osc"));
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += i % 2 ? "23 08 00 00 00 00 00 00 04 00 \r\n" : "23 08 00 00 00 00 00 00 00 00 \r\n";
    }
    writeFile(longFile, text);
    const QString shortFile = dir.filePath(QStringLiteral("short.osc"));
    writeFile(shortFile, "23 08 00 00 00 00 00 00 04 00 44 11 40 00 \r\n");
    osc::CaptureEngine cli;
    cli.replayOscFile(shortFile.toStdString());

    QTimer::singleShot(0, frmMain, [] { frmMain->actOSCstartExecute(); });
    withDialog(longFile, &TfrmMain::actLoadFromFileExecute);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(frmMain->acquisition().replaying());
    EXPECT_TRUE(frmMain->acquisition().capturing());
    EXPECT_EQ(frmMain->captureStatus().state(), ui::CaptureStatusPart::State::Capturing);
    EXPECT_TRUE(frmMain->fileOnScreen().isEmpty());
    EXPECT_EQ(frmMain->engine().state.FTimeBase, 0);  // nothing of the file after the start
    EXPECT_FALSE(pbPanel()->isVisible());
    frmMain->actOSCstopExecute();

    QTimer::singleShot(0, frmMain, [&] { frmMain->LoadOscFile(shortFile); });
    withDialog(longFile, &TfrmMain::actLoadFromFileExecute);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(frmMain->acquisition().replaying());
    EXPECT_EQ(frmMain->captureStatus().state(), ui::CaptureStatusPart::State::Stopped);
    EXPECT_EQ(frmMain->fileOnScreen(), shortFile);
    for (std::size_t c = 0; c < osc::kChannelCount; ++c) {
        const osc::ChannelTrace& got = frmMain->engine().traces[c];
        const osc::ChannelTrace& want = cli.traces[c];
        ASSERT_EQ(got.count(), want.count()) << c;
        for (std::size_t i = 0; i < got.count(); ++i) {
            ASSERT_EQ(got.x(i), want.x(i)) << c << " " << i;
            ASSERT_EQ(got.y(i), want.y(i)) << c << " " << i;
        }
    }
    EXPECT_TRUE(pbPanel()->isHidden());
}

}  // namespace
}  // namespace uitest
