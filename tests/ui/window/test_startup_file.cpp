// A file given at start-up ("open with"): replayed once the window is shown, and the unattended
// run that quits after it, checked against the engine's own replay of the same file.
#include <QFile>

#include <cstdio>
#include <string>

#include "core/files/osc_file.h"
#include "tests/ui/ui_test_support.h"

using uitest::WindowTest;

namespace {

std::string sourceFile(const char* relative) {
    return std::string(qgetenv("MO_SOURCE_DIR").constData()) + "/" + relative;
}

// What the unattended run prints: "C points lastX" per channel.
std::string summaryOf(const osc::CaptureEngine& engine) {
    std::string out;
    for (std::size_t c = 0; c < engine.traces.size(); ++c) {
        const osc::ChannelTrace& t = engine.traces[c];
        char line[64];
        std::snprintf(line, sizeof line, "%zu %zu %lld\n", c, t.count(),
                      t.empty() ? 0LL : static_cast<long long>(t.lastX()));
        out += line;
    }
    return out;
}

std::string engineSummary(const std::string& text) {
    osc::CaptureEngine engine;
    try {
        engine.replayOscText(text);
    } catch (const std::exception&) {
        // The lines before a bad group stay replayed and the window stops there: closing
        // points and the completion.
        engine.closeTraces();
        engine.completeTraces();
    }
    return summaryOf(engine);
}

class StartupFile : public WindowTest {};

TEST_F(StartupFile, QuitAfterLoadReplaysAsTheEngineAndReportsFailures) {
    struct Row {
        const char* name;
        std::string file;
        int exitCode;
        const char* stderrHas;
    };
    const Row rows[] = {
        {"worked example", sourceFile("tests/data/osc/worked_example.osc"), 0, ""},
        {"decode fixture", sourceFile("tests/data/decode/bits_101111101100.osc"), 0, ""},
        {"empty file", sourceFile("tests/data/osc/empty.osc"), 0, ""},
        {"bad group", sourceFile("tests/data/osc/bad_group.osc"), 1, "is not a valid integer"},
        {"missing file", config.path().toStdString() + "/none.osc", 1, "Cannot open file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ui::StartupOptions options;
        options.demo = true;  // no UDP port of the machine
        options.file = QString::fromStdString(row.file);
        options.quitAfterLoad = true;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int code = ui::runApplication(uitest::app(), options);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(code, row.exitCode);
        EXPECT_NE(err.find(row.stderrHas), std::string::npos) << err;
        EXPECT_EQ(frmMain, nullptr);  // the windows are gone after the run
        // Unattended: the login dialog is cancelled by the run itself, no box reaches the user.
        EXPECT_EQ(unexpectedDialogs, 0);
        EXPECT_TRUE(messages.empty());
        if (QFile::exists(options.file)) {
            EXPECT_EQ(out, engineSummary(osc::readWholeFile(row.file)));
        }
    }
}

// A file given at start-up opens at once, without the login dialog; the connect button still
// logs in afterwards.
TEST_F(StartupFile, AttendedStartOpensTheFileWithoutTheLoginDialog) {
    const std::string file = sourceFile("tests/data/decode/bits_101111101100.osc");
    const std::string expected = engineSummary(osc::readWholeFile(file));
    int dialogs = 0;
    ui::ScopedModalHook modal([&](QDialog&) {
        ++dialogs;
        return int(QDialog::Rejected);
    });
    // The event loop runs until the window holds the replayed traces (or gives up), then the
    // connect button is pressed.
    std::string seen;
    int dialogsAtReplay = -1;
    int polls = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (frmMain && summaryOf(frmMain->engine()) == expected) {
            seen = expected;
            dialogsAtReplay = dialogs;
            frmMain->actConnectExecute();
            QCoreApplication::quit();
        } else if (++polls > 20000) {
            QCoreApplication::quit();
        }
    });
    poll.start(1);
    ui::StartupOptions options;
    options.demo = true;
    options.file = QString::fromStdString(file);
    EXPECT_EQ(ui::runApplication(uitest::app(), options), 0);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(dialogsAtReplay, 0);
    EXPECT_EQ(dialogs, 1);  // the login, from the connect button
    EXPECT_TRUE(messages.empty());
}

}  // namespace
