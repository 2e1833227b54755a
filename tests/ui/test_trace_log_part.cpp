// The trace log part without a window: a fake view stands for the memo and the file dialogs,
// and a fake capture records what a replay drives.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/osc_file.h"
#include "ui/TraceLogPart.h"

namespace {

using Log = std::vector<std::string>;

class FakeView : public ui::TraceLogView, public ui::MessageSink {
  public:
    bool tracingEnabled() const override { return tracing; }
    void appendToMemo(const QString& lines) override {
        memo += (memo.isEmpty() ? QString() : QStringLiteral("\n")) + lines;
        ++appends;
        if (part) {
            part->memoChanged();  // as the memo's change signal would
        }
    }
    void clearMemo() override {
        memo.clear();
        if (part) {
            part->memoChanged();
        }
    }
    QString memoText() const override { return memo; }
    void scheduleMemoFlush() override { ++flushRequests; }
    QString chooseOscFile(FileDialog d) override {
        dialogs.push_back(d == FileDialog::Save ? "save" : "open");
        return file;
    }
    void showError(const QString& text, const QString&) override { errors << text; }
    void reportException(const QString& text) override { errors << text; }

    bool tracing = true;
    QString memo, file;
    int appends = 0, flushRequests = 0;
    std::vector<std::string> dialogs;
    QStringList errors;
    ui::TraceLogPart* part = nullptr;
};

class TraceLogPartTest : public ::testing::Test {
  protected:
    TraceLogPartTest() { view.part = &part; }
    void trace(std::vector<std::uint8_t> bytes) {
        part.traceDatagram(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    FakeView view;
    Log capture;
    bool closeAfterFirst = false;
    ui::TraceLogPart part{view, view,
                          ui::TraceLogPart::Capture{
                              .start = [this] { capture.push_back("start"); },
                              .stop = [this] { capture.push_back("stop"); },
                              .decode =
                                  [this](const std::uint8_t* d, std::int32_t n) {
                                      capture.push_back(osc::traceLine({d, std::size_t(n)}));
                                  },
                              .closing = [this] { return closeAfterFirst && capture.size() > 1; },
                          }};
    QTemporaryDir dir;
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
    EXPECT_EQ(view.appends, 0);  // nothing laid out until the flush
    part.flushToMemo();
    EXPECT_EQ(view.appends, 1);
    EXPECT_EQ(view.memo, QStringLiteral("23 08 0A \nFF \n"));
    EXPECT_EQ(part.lineCount(), 3);
    EXPECT_EQ(part.text(), QByteArray("23 08 0A \r\nFF \r\n\r\n"));

    // Text the user types makes the memo the trace, in Windows-1251.
    view.memo += QStringLiteral("\nЖ");
    part.memoChanged();
    EXPECT_EQ(part.text(), QByteArray("23 08 0A \r\nFF \r\n\r\n\xC6\r\n"));
    EXPECT_EQ(part.lineCount(), 4);

    // Saving writes exactly the text; cancelling writes nothing.
    view.file = dir.filePath(QStringLiteral("t.osc"));
    part.save();
    std::ifstream in(view.file.toStdString(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "23 08 0A \r\nFF \r\n\r\n\xC6\r\n");
    part.clear();
    EXPECT_EQ(part.lineCount(), 0);
    EXPECT_TRUE(part.text().isEmpty());
    part.save();  // an empty trace: the message after the dialog
    EXPECT_EQ(view.errors, QStringList{QStringLiteral("Включите трассировку принимаемых посылок")});
    view.file.clear();
    part.save();
    EXPECT_EQ(view.dialogs, (std::vector<std::string>{"save", "save", "save"}));
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
        {"bad group: no stop",
         "23 \n2G 08 \n",
         false,
         {"start", "23 "},
         "'$2G' is not a valid integer value"},
        {"bad group in the files' code page",
         "23 \n\xC6\xE6 08 \n",
         false,
         {"start", "23 "},
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
            part.load();
        } catch (const std::exception& e) {
            error = e.what();
        }
        EXPECT_EQ(capture, r.capture) << r.name;
        EXPECT_EQ(error, r.error ? r.error : "") << r.name;
    }
    // A file that cannot be opened fails before the start.
    view.file = dir.filePath(QStringLiteral("missing.osc"));
    capture.clear();
    EXPECT_THROW(part.load(), std::runtime_error);
    EXPECT_TRUE(capture.empty());
}

}  // namespace
