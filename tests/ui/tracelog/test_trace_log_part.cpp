// The trace log part without a window: a fake view stands for the memo and the file dialogs;
// and the replay of a file, with a fake capture that records what the replay drives.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/files/osc_file.h"
#include "ui/tracelog/OscReplay.h"
#include "ui/tracelog/TraceLogPart.h"

namespace {

using Log = std::vector<std::string>;

class FakeView : public ui::TraceLogView, public ui::MessageSink {
  public:
    bool tracingEnabled() const override { return tracing; }
    void storedLinesChanged() override { ++refreshes; }
    void openEditor(const QString& text) override {
        editing = true;
        editor = text;
    }
    void appendToEditor(const QString& lines) override {
        editor += (editor.isEmpty() ? QString() : QStringLiteral("\n")) + lines;
        ++appends;
    }
    QString editorText() const override { return editor; }
    void closeEditor() override {
        editing = false;
        editor.clear();
    }
    void showMemoHint(const QString& text) override { hints << text; }
    void scheduleMemoFlush() override { ++flushRequests; }
    QString chooseOscFile(FileDialog d) override {
        dialogs.push_back(d == FileDialog::Save ? "save" : "open");
        return file;
    }
    void beginSaveProgress(std::uint64_t total, bool cancellable) override {
        progress.push_back(total);
        EXPECT_TRUE(cancellable);
    }
    bool saveProgress(std::uint64_t done) override {
        progress.push_back(done);
        return progress.size() - 1 != cancelAt;
    }
    void endSaveProgress() override { progress.push_back(0); }
    void showError(const QString& text, const QString&) override { errors << text; }
    void reportException(const QString& text) override { errors << text; }

    // The memo as it shows the stored lines: joined by '\n', each ending with it.
    QString memo(const ui::TraceLogPart& part) const {
        const ui::TraceLineSource& lines = part.storedLines();
        QString text;
        for (const QString& line : lines.readLines(0, lines.lineCount())) {
            text += line + QLatin1Char('\n');
        }
        return text;
    }

    bool tracing = true;
    bool editing = false;
    QString editor, file;
    int appends = 0, flushRequests = 0, refreshes = 0;
    std::vector<std::string> dialogs;
    QStringList errors, hints;
    std::vector<std::uint64_t> progress;  // total, every done, 0 at the end
    std::size_t cancelAt = SIZE_MAX;      // the progress call (counting the total) that cancels
};

class TraceLogPartTest : public ::testing::Test {
  protected:
    void trace(std::vector<std::uint8_t> bytes) {
        part.traceDatagram(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    QTemporaryDir dir;
    FakeView view;
    Log capture;
    bool closeAfterFirst = false;
    ui::TraceLogPart part{view,
                          view,
                          {},
                          {.memoryBudget = 64u << 10,
                           .spillFolder = dir.path().toStdString() + "/spill",
                           .chunkBytes = 16u << 10}};
    // The capture that a replay drives.
    struct FakeCapture : ui::ReplayTarget {
        explicit FakeCapture(TraceLogPartTest& test) : t(test) {}
        bool startReplay() override {
            t.capture.push_back("start");
            return true;
        }
        bool replayDatagram(std::span<const std::uint8_t> d) override {
            t.capture.push_back(osc::traceLine(d));
            return !(t.closeAfterFirst && t.capture.size() > 1);
        }
        void stopReplay() override { t.capture.push_back("stop"); }
        TraceLogPartTest& t;
    } replayTarget{*this};
    // The load action after its dialog.
    void load() { ui::replayOscFile(view.file, replayTarget); }
};

TEST_F(TraceLogPartTest, LinesReachTheMemoInBatchesAndTheFileByteForByte) {
    view.tracing = false;
    trace({0x23});
    EXPECT_EQ(part.lineCount(), 0);
    view.tracing = true;
    trace({0x23, 0x08, 0x0A});
    trace({0xFF});
    part.traceDatagram(nullptr, 5);  // no bytes: an empty line
    EXPECT_EQ(view.flushRequests, 3);
    EXPECT_EQ(view.refreshes, 0);  // nothing drawn until the flush
    part.flushToMemo();
    EXPECT_EQ(view.refreshes, 1);
    EXPECT_EQ(view.memo(part), QStringLiteral("23 08 0A \nFF \n\n"));
    EXPECT_EQ(part.lineCount(), 3);
    EXPECT_EQ(part.text(), QByteArray("23 08 0A \r\nFF \r\n\r\n"));

    // The memo is read-only while tracing is on; with it off, typing opens the editor on the
    // trace's text, and the text the user types makes it the trace, in Windows-1251.
    EXPECT_FALSE(part.beginEdit());
    EXPECT_EQ(view.hints.size(), 1);
    view.tracing = false;
    ASSERT_TRUE(part.beginEdit());
    EXPECT_EQ(view.editor, QStringLiteral("23 08 0A \nFF \n"));
    view.editor += QStringLiteral("\nЖ");
    EXPECT_EQ(part.text(), QByteArray("23 08 0A \r\nFF \r\n\r\n\xC6\r\n"));
    EXPECT_EQ(part.lineCount(), 4);
    // New lines go on after the user's text.
    view.tracing = true;
    trace({0x47});
    EXPECT_EQ(view.appends, 0);
    EXPECT_EQ(part.lineCount(), 5);
    EXPECT_EQ(view.appends, 1);

    // Saving writes exactly the text; cancelling the dialog writes nothing.
    view.file = dir.filePath(QStringLiteral("t.osc"));
    part.save();
    std::ifstream in(view.file.toStdString(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "23 08 0A \r\nFF \r\n\r\n\xC6\r\n47 \r\n");
    part.clear();
    EXPECT_FALSE(view.editing);
    EXPECT_EQ(part.lineCount(), 0);
    EXPECT_TRUE(part.text().isEmpty());
    part.save();  // an empty trace: the message after the dialog
    EXPECT_EQ(view.errors, QStringList{QStringLiteral("Включите трассировку принимаемых посылок")});
    view.file.clear();
    part.save();
    EXPECT_EQ(view.dialogs, (std::vector<std::string>{"save", "save", "save"}));
}

// Hours of tracing in small: the bytes move to the spill file, the memory stays at the budget,
// a save streams the text in pieces with its progress, and a cancelled save leaves the old file.
TEST_F(TraceLogPartTest, ALongTraceIsKeptOutOfMemoryAndSavedInPieces) {
    std::string expected;
    std::vector<std::uint8_t> d(520);
    for (int i = 0; i < 6000; ++i) {
        for (std::size_t k = 0; k < d.size(); ++k) {
            d[k] = static_cast<std::uint8_t>(i * 31 + k);
        }
        trace(d);
        expected += osc::traceLine(d) + "\r\n";
    }
    EXPECT_EQ(part.lineCount(), 6000);
    EXPECT_GT(part.store().spilledBytes(), 6000u * 520 - (128u << 10));
    EXPECT_LT(part.memoryBytes(), (256u << 10) + 6000u * 4);  // the budget, slack, the index
    EXPECT_EQ(view.memo(part).size(), static_cast<qsizetype>(expected.size() - 6000));
    // Too long to edit in the window.
    view.tracing = false;
    EXPECT_FALSE(part.beginEdit());
    ASSERT_EQ(view.hints.size(), 1);
    EXPECT_TRUE(view.hints[0].startsWith(QStringLiteral("Трасса слишком велика для правки")));

    const QString name = dir.filePath(QStringLiteral("long.osc"));
    std::ofstream(name.toStdString(), std::ios::binary) << "old";
    view.file = name;
    view.cancelAt = 3;
    part.save();
    const auto read = [&] {
        std::ifstream in(name.toStdString(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(), "old");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("long.osc")});
    ASSERT_EQ(view.progress.size(), 5u);  // total, three pieces, closed
    EXPECT_EQ(view.progress.front(), expected.size());

    view.progress.clear();
    view.cancelAt = SIZE_MAX;
    part.save();
    EXPECT_EQ(read(), expected);
    ASSERT_GT(view.progress.size(), 8u);
    EXPECT_EQ(view.progress[view.progress.size() - 2], expected.size());
    EXPECT_TRUE(view.errors.isEmpty());
}

TEST_F(TraceLogPartTest, ReplayTable) {
    struct Row {
        const char* name;
        std::string file;
        bool closing;
        Log capture;
        const char* error;  // nullptr: none
    };
    const Row rows[] = {
        {"CR LF lines",
         "23 08 \r\nab cd \r\n",
         false,
         {"start", "23 08 ", "AB CD ", "stop"},
         nullptr},
        {"LF and CR line ends",
         "23 \n0A \r47 ",
         false,
         {"start", "23 ", "0A ", "47 ", "stop"},
         nullptr},
        {"separators unchecked, tail ignored",
         "23-08-0A",
         false,
         {"start", "23 08 ", "stop"},
         nullptr},
        {"an empty line ends the data", "23 \n\n47 \n", false, {"start", "23 ", "stop"}, nullptr},
        {"empty file", "", false, {"start", "stop"}, nullptr},
        {"a NUL ends the text",
         std::string("23 \n\0"
                     "47 \n",
                     9),
         false,
         {"start", "23 ", "stop"},
         nullptr},
        // Whatever ends a load leaves the capture stopped, the replayed part drawn.
        {"bad group: stopped, then the error",
         "23 \n2G 08 \n",
         false,
         {"start", "23 ", "stop"},
         "'$2G' is not a valid integer value"},
        {"bad group in the files' code page",
         "23 \n\xC6\xE6 08 \n",
         false,
         {"start", "23 ", "stop"},
         "'$\xD0\x96\xD0\xB6' is not a valid integer value"},
        {"closing window: no stop", "23 \n24 \n25 \n", true, {"start", "23 "}, nullptr},
    };
    for (const Row& r : rows) {
        const QString name = dir.filePath(QStringLiteral("r.osc"));
        std::ofstream(name.toStdString(), std::ios::binary) << r.file;
        view.file = name;
        capture.clear();
        closeAfterFirst = r.closing;
        std::string error;
        try {
            load();
        } catch (const std::exception& e) {
            error = e.what();
        }
        EXPECT_EQ(capture, r.capture) << r.name;
        EXPECT_EQ(error, r.error ? r.error : "") << r.name;
    }
    // A file that cannot be opened fails before the start.
    view.file = dir.filePath(QStringLiteral("missing.osc"));
    capture.clear();
    EXPECT_THROW(load(), std::runtime_error);
    EXPECT_TRUE(capture.empty());
}

}  // namespace
