#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "tests/app/cli_run.h"

namespace {

using clitest::fixture;
using clitest::runCli;

std::string readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return "(missing)";
    }
    return f.readAll().toStdString();
}

// The lines of the dump after its header.
std::vector<std::string> dumpBody(const std::string& vcd) {
    const std::string marker = "$enddefinitions $end\n";
    const auto at = vcd.find(marker);
    std::vector<std::string> lines;
    if (at == std::string::npos) {
        return lines;
    }
    std::string line;
    for (std::size_t i = at + marker.size(); i < vcd.size(); ++i) {
        if (vcd[i] == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += vcd[i];
        }
    }
    return lines;
}

class CliExport : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString out(const char* name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

TEST_F(CliExport, CsvHasARowPerChange) {
    const auto r = runCli({"export", fixture("steady_lines.osc"), "--csv", out("a.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    // Upper level (the status bit clear) reads 1. The completion's points change nothing.
    EXPECT_EQ(readFile(out("a.csv")),
              "tick,strobe,tx,rx1,rx2\n"
              "0,0,0,0,0\n"
              "512,1,0,0,0\n"
              "768,0,0,0,0\n"
              "1024,1,1,1,1\n");
}

TEST_F(CliExport, VcdDeclaresFourWiresAndDumpsTheChanges) {
    const auto r = runCli({"export", fixture("worked_example.osc"), "--vcd", out("a.vcd")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string vcd = readFile(out("a.vcd"));
    for (const char* decl :
         {"$var wire 1 s strobe $end\n", "$var wire 1 t tx $end\n", "$var wire 1 r rx1 $end\n",
          "$var wire 1 q rx2 $end\n", "$timescale 1 ns $end\n", "$scope module osc $end\n"}) {
        EXPECT_NE(vcd.find(decl), std::string::npos) << decl;
    }
    EXPECT_NE(vcd.find("strobe = \xD0\xA1\xD1\x82\xD1\x80\xD0\xBE\xD0\xB1"), std::string::npos);
    EXPECT_EQ(dumpBody(vcd), (std::vector<std::string>{"#0", "$dumpvars", "0s", "0t", "0r", "0q",
                                                       "$end", "#512", "1s", "1r", "1q", "#513"}));
}

TEST_F(CliExport, BitRateMakesTimesReal) {
    struct Row {
        const char* rate;
        const char* timescale;
        const char* endTime;  // 1024 ticks: four bit periods
    };
    const Row rows[] = {
        {"1", "$timescale 10 ns $end", "#400000000"},     // 4 s, exactly
        {"1000", "$timescale 10 ps $end", "#400000000"},  // 4 ms, exactly
        {"9600", "$timescale 10 ns $end", "#41667"},      // 416.67 us, rounded
        {"115200", "$timescale 1 ns $end", "#34722"},     // 34.722 us, rounded
        {"0.5", "$timescale 100 us $end", "#80000"},      // 8 s
    };
    for (const Row& row : rows) {
        const auto r = runCli(
            {"export", fixture("steady_lines.osc"), "--vcd", out("b.vcd"), "--bit-rate", row.rate});
        ASSERT_EQ(r.exitCode, 0) << row.rate << ": " << r.err;
        const std::string vcd = readFile(out("b.vcd"));
        EXPECT_NE(vcd.find(std::string(row.timescale) + "\n"), std::string::npos) << row.rate;
        const auto body = dumpBody(vcd);
        ASSERT_FALSE(body.empty()) << row.rate;
        // The last change (all four wires), then the timestamp that closes it.
        ASSERT_GE(body.size(), 6u) << row.rate;
        EXPECT_EQ(body[body.size() - 6], row.endTime) << row.rate;
    }
}

TEST_F(CliExport, BothAtOnce) {
    const auto r = runCli(
        {"export", fixture("worked_example.osc"), "--vcd", out("c.vcd"), "--csv", out("c.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(out("c.csv")), "tick,strobe,tx,rx1,rx2\n0,0,0,0,0\n512,1,0,1,1\n");
    EXPECT_EQ(dumpBody(readFile(out("c.vcd"))).size(), 12u);
}

TEST_F(CliExport, FailuresLeaveNoFileAndKeepOldOnes) {
    {
        QFile old(out("old.csv"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    {
        QFile plain(out("plain"));
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    }
    struct Row {
        const char* name;
        QStringList args;
        int exitCode;
        std::string err;
    };
    const Row rows[] = {
        {"bad group",
         {"export", fixture("bad_group.osc"), "--csv", out("old.csv")},
         1,
         "'$2G' is not a valid integer value\n"},
        {"missing input",
         {"export", "missing.osc", "--csv", out("old.csv")},
         1,
         "Cannot open file missing.osc\n"},
        {"output below a regular file",
         {"export", fixture("worked_example.osc"), "--csv", out("plain") + "/x.csv"},
         1,
         ("Cannot create file " + out("plain") + "/x.csv\n").toStdString()},
        {"output is a folder",
         {"export", fixture("worked_example.osc"), "--vcd", dir_.path()},
         1,
         ("Cannot create file " + dir_.path() + "\n").toStdString()},
    };
    for (const Row& row : rows) {
        const auto r = runCli(row.args, dir_.path());
        EXPECT_EQ(r.exitCode, row.exitCode) << row.name;
        EXPECT_EQ(r.err, row.err) << row.name;
        EXPECT_EQ(r.out, "") << row.name;
    }
    EXPECT_EQ(readFile(out("old.csv")), "old");
    QStringList names = QDir(dir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    names.sort();
    EXPECT_EQ(names, (QStringList{"old.csv", "plain"}));
}

TEST_F(CliExport, UsageErrors) {
    struct Row {
        const char* name;
        QStringList args;
        const char* message;
    };
    const Row rows[] = {
        {"no output", {"export", fixture("empty.osc")}, "Give --vcd OUT, --csv OUT or both."},
        {"no file", {"export", "--csv", "x.csv"}, "FILE is missing."},
        {"zero bit rate",
         {"export", fixture("empty.osc"), "--vcd", "x.vcd", "--bit-rate", "0"},
         "The bit rate must be a positive number of bits a second, not '0'."},
        {"text bit rate",
         {"export", fixture("empty.osc"), "--vcd", "x.vcd", "--bit-rate", "fast"},
         "The bit rate must be a positive number of bits a second, not 'fast'."},
        {"option without value",
         {"export", fixture("empty.osc"), "--vcd"},
         "Missing value after '--vcd'."},
    };
    for (const Row& row : rows) {
        const auto r = runCli(row.args, dir_.path());
        EXPECT_EQ(r.exitCode, 2) << row.name;
        EXPECT_EQ(r.err.rfind(std::string("morvelip-osc-cli export: ") + row.message + "\n", 0), 0u)
            << row.name << ": " << r.err;
        EXPECT_EQ(r.out, "") << row.name;
    }
    EXPECT_TRUE(QDir(dir_.path()).isEmpty());
    const auto help = runCli({"export", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--bit-rate <R>"), std::string::npos);
}

TEST_F(CliExport, DumpOpensInALogicAnalyserSuite) {
    const QString sigrok = QStandardPaths::findExecutable("sigrok-cli");
    if (sigrok.isEmpty()) {
        GTEST_SKIP() << "sigrok-cli is not installed";
    }
    const auto r = runCli(
        {"export", fixture("steady_lines.osc"), "--vcd", out("d.vcd"), "--bit-rate", "9600"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    QProcess p;
    p.start(sigrok, {"-I", "vcd", "-i", out("d.vcd"), "--show"});
    ASSERT_TRUE(p.waitForFinished(30000));
    const std::string shown = p.readAllStandardOutput().toStdString();
    EXPECT_NE(shown.find("Channels: 4\n- strobe: logic\n- tx: logic\n- rx1: logic\n- rx2: logic"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("Samplerate: 100000000"), std::string::npos) << shown;  // 10 ns
}

// What a reader of the dump makes of it, sample by sample (one tick a sample without a bit
// rate), collapsed to the rows of the CSV export: every channel's every change is there.
TEST_F(CliExport, LogicAnalyserSuiteReadsEveryChange) {
    const QString sigrok = QStandardPaths::findExecutable("sigrok-cli");
    if (sigrok.isEmpty()) {
        GTEST_SKIP() << "sigrok-cli is not installed";
    }
    for (const char* name : {"steady_lines.osc", "worked_example.osc", "worked_example_lf.osc"}) {
        SCOPED_TRACE(name);
        const auto r =
            runCli({"export", fixture(name), "--vcd", out("e.vcd"), "--csv", out("e.csv")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        QProcess p;
        p.start(sigrok, {"-I", "vcd", "-i", out("e.vcd"), "-O", "csv"});
        ASSERT_TRUE(p.waitForFinished(30000));
        std::string rows = "tick,strobe,tx,rx1,rx2\n";
        std::string previous;
        long long sample = 0;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
            if (line.isEmpty() || line.startsWith(';') || line.startsWith("META") ||
                line.startsWith("logic")) {
                continue;
            }
            if (line.toStdString() != previous) {
                previous = line.toStdString();
                rows += std::to_string(sample) + "," + previous + "\n";
            }
            ++sample;
        }
        EXPECT_EQ(rows, readFile(out("e.csv")));
    }
}

}  // namespace
