#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <string>

#include "tests/app/cli_run.h"

namespace {

using clitest::fixture;
using clitest::runCli;

const char* const kWorkedExample =
    "0 0 7\n0 256 7\n0 512 8\n0 512 8\n"
    "1 0 5\n1 256 5\n1 273 5\n1 512 5\n"
    "2 0 3\n2 256 3\n2 512 4\n"
    "3 0 1\n3 256 1\n3 512 2\n";

// One strobe edge, then the data ends: closing points at 256 with the strobe set.
const char* const kOneEdge =
    "0 0 7\n0 256 7\n0 256 7\n1 0 5\n1 256 6\n2 0 3\n2 256 4\n3 0 1\n3 256 2\n";

TEST(CliTraces, PrintsEveryPointOfTheReplay) {
    struct Row {
        const char* file;
        const char* out;
    };
    const Row rows[] = {
        {"worked_example.osc", kWorkedExample},
        {"worked_example_lf.osc", kWorkedExample},
        {"worked_example_cr.osc", kWorkedExample},
        {"empty_line_middle.osc", kOneEdge},
        {"nul_ends_text.osc", kOneEdge},
        {"empty.osc", "0 0 7\n0 0 8\n1 0 5\n1 0 6\n2 0 3\n2 0 4\n3 0 1\n3 0 2\n"},
        // All four lines set at once; the odd last byte and the trailing "80" are not used.
        {"separators_lower_case.osc",
         "0 0 7\n0 256 7\n0 256 7\n1 0 5\n1 256 5\n1 256 5\n"
         "2 0 3\n2 256 3\n2 256 3\n3 0 1\n3 256 1\n3 256 1\n"},
        // Four periods with the data lines steady: channels 1 to 3 completed, the strobe not.
        {"steady_lines.osc",
         "0 0 7\n0 256 7\n0 512 8\n0 768 7\n0 1024 8\n0 1024 8\n"
         "1 0 5\n1 256 5\n1 512 5\n1 768 5\n1 1024 6\n"
         "2 0 3\n2 256 3\n2 512 3\n2 768 3\n2 1024 4\n"
         "3 0 1\n3 256 1\n3 512 1\n3 768 1\n3 1024 2\n"},
    };
    for (const Row& row : rows) {
        const auto r = runCli({"traces", fixture(row.file)});
        EXPECT_EQ(r.exitCode, 0) << row.file << ": " << r.err;
        EXPECT_EQ(r.out, row.out) << row.file;
        EXPECT_EQ(r.err, "") << row.file;
    }
}

TEST(CliTraces, Failures) {
    struct Row {
        const char* name;
        QStringList args;
        int exitCode;
        std::string err;  // exact, or the start of it for usage errors
        bool exact;
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Files that are not 8-bit text, and a FIFO that no program writes (refused at once: the
    // test would not end otherwise).
    const auto write = [&dir](const char* name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    QByteArray utf16;
    for (const char c : std::string("23 08 00 00 00 00 00 00 04 00 \r\n")) {
        utf16 += c;
        utf16 += '\0';
    }
    write("utf16.osc", utf16);
    write("binary.osc", QByteArray(100, '\0') + "23 08 ");
    ASSERT_EQ(::mkfifo(dir.filePath("pipe.osc").toLocal8Bit().constData(), 0600), 0);
    const std::string at = dir.path().toStdString() + "/";
    const Row rows[] = {
        {"bad group, where it stands",
         {"traces", fixture("bad_group.osc")},
         1,
         fixture("bad_group.osc").toStdString() + ":2:1: bad hex group \"2G\"\n",
         true},
        {"bad group of Windows-1251 letters",
         {"traces", fixture("bad_group_cyrillic.osc")},
         1,
         fixture("bad_group_cyrillic.osc").toStdString() +
             ":2:1: bad hex group \"\xD0\x96\xD0\xB6\"\n",
         true},
        {"missing file, named as given",
         {"traces", "no-such-file.osc"},
         1,
         "Cannot open file no-such-file.osc: No such file or directory\n",
         true},
        {"a folder", {"traces", "."}, 1, "Cannot open file .: Is a directory\n", true},
        {"UTF-16",
         {"traces", "utf16.osc"},
         1,
         "Cannot open file utf16.osc: UTF-16 text, not 8-bit text\n",
         true},
        {"binary",
         {"traces", "binary.osc"},
         1,
         "Cannot open file binary.osc: binary data with NUL bytes, not text\n",
         true},
        {"a FIFO",
         {"traces", "pipe.osc"},
         1,
         "Cannot open file pipe.osc: a FIFO (named pipe), not a regular file\n",
         true},
        {"no file", {"traces"}, 2, "morvelip-osc-cli traces: FILE is missing.", false},
        {"two files", {"traces", "a.osc", "b.osc"}, 2, "morvelip-osc-cli traces: Only one", false},
        {"unknown option",
         {"traces", "--frobnicate", "a.osc"},
         2,
         "morvelip-osc-cli traces: Unknown option 'frobnicate'.",
         false},
    };
    for (const Row& row : rows) {
        const auto r = runCli(row.args, dir.path());
        EXPECT_EQ(r.exitCode, row.exitCode) << row.name;
        EXPECT_EQ(r.out, "") << row.name;
        if (row.exact) {
            EXPECT_EQ(r.err, row.err) << row.name;
        } else {
            EXPECT_EQ(r.err.substr(0, row.err.size()), row.err) << row.name;
            EXPECT_NE(r.err.find("Usage: morvelip-osc-cli traces [options] FILE"),
                      std::string::npos)
                << row.name;
        }
    }
}

// Output that cannot be written is named with the system's reason.
TEST(CliTraces, OutputThatCannotBeWritten) {
    QProcess p;
    p.setStandardOutputFile(QStringLiteral("/dev/full"));
    p.start(clitest::binaryDir() + QStringLiteral("/bin/morvelip-osc-cli"),
            {"traces", fixture("worked_example.osc")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_EQ(p.readAllStandardError().toStdString(),
              "morvelip-osc-cli traces: cannot write the output: No space left on device\n");
}

TEST(CliTraces, Help) {
    const auto r = runCli({"traces", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("Usage: morvelip-osc-cli traces [options] FILE\n", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST(CliTraces, LongFileInOneGo) {
    // 2000 datagrams of 100 pairs: every pair a strobe edge, the transmit line every fourth.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("long.osc");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    int strobe = 0;
    int tx = 0;
    long long pairs = 0;
    for (int d = 0; d < 2000; ++d) {
        QByteArray line = "23 08 00 00 00 00 00 00 ";
        for (int k = 0; k < 100; ++k, ++pairs) {
            strobe ^= 0x04;
            if (pairs % 4 == 0) {
                tx ^= 0x40;
            }
            line += QByteArray::number(strobe | tx, 16).rightJustified(2, '0') + " 00 ";
        }
        file.write(line + "\r\n");
    }
    file.close();
    const auto r = runCli({"traces", path});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Strobe: start, 200000 edges, closing; the other channels completed to a point a period.
    std::size_t lines = 0;
    std::size_t strobeLines = 0;
    for (std::size_t i = 0; i < r.out.size(); ++i) {
        if (r.out[i] == '\n') {
            ++lines;
        }
        if ((i == 0 || r.out[i - 1] == '\n') && r.out[i] == '0') {
            ++strobeLines;
        }
    }
    EXPECT_EQ(strobeLines, 200002u);
    const std::string lastStrobe = "\n0 51200000 8\n";
    EXPECT_NE(r.out.find(lastStrobe), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 14), "\n3 51200000 2\n");
    EXPECT_GT(lines, strobeLines + 3 * 200000);
}

}  // namespace
