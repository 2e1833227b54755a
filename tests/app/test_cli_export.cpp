#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
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
         fixture("bad_group.osc").toStdString() + ":2:1: bad hex group \"2G\"\n"},
        {"missing input",
         {"export", "missing.osc", "--csv", out("old.csv")},
         1,
         "Cannot open file missing.osc: No such file or directory\n"},
        {"output below a regular file",
         {"export", fixture("worked_example.osc"), "--csv", out("plain") + "/x.csv"},
         1,
         ("Cannot create file " + out("plain") + "/x.csv: Not a directory\n").toStdString()},
        {"output is a folder",
         {"export", fixture("worked_example.osc"), "--vcd", dir_.path()},
         1,
         ("Cannot create file " + dir_.path() + ": Is a directory\n").toStdString()},
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

// The texts as they were before the writers streamed (tests/data/export, written by the
// program that built each text whole), byte for byte: traces and frames, every format. The
// frames' CSV and JSON have since gained the link layer's columns after the old ones (those
// are unchanged).
TEST_F(CliExport, SameBytesAsTheWholeTextWriters) {
    const QString golden = clitest::sourceDir() + "/tests/data/export/";
    const QString file = fixture("frames_session.osc");
    auto r = runCli({"export", file, "--vcd", out("a.vcd"), "--csv", out("a.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(out("a.vcd")), readFile(golden + "frames_session.vcd"));
    EXPECT_EQ(readFile(out("a.csv")), readFile(golden + "frames_session.csv"));
    r = runCli({"export", file, "--vcd", out("b.vcd"), "--bit-rate", "9600"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(out("b.vcd")), readFile(golden + "frames_session_9600.vcd"));
    for (const char* format : {"text", "csv", "json"}) {
        r = runCli({"frames", file, "--format", format});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, readFile(golden + "frames_session_frames." + format)) << format;
    }
    r = runCli({"frames", file, "--format", "json", "--channel", "2", "--check", "auto"});
    EXPECT_EQ(r.out, readFile(golden + "frames_session_frames_rx1.json"));
}

// What a packet analyser reads from the pcapng export, packet by packet: every frame's address
// and sequence numbers as its bytes say, its line, direction, number and time.
TEST_F(CliExport, PcapngReadByAPacketAnalyser) {
    const QString tshark = QStandardPaths::findExecutable("tshark");
    if (tshark.isEmpty()) {
        GTEST_SKIP() << "tshark is not installed";
    }
    const QString file = fixture("frames_session.osc");
    const auto frames = runCli({"frames", file, "--format", "csv"});
    ASSERT_EQ(frames.exitCode, 0) << frames.err;
    struct Row {
        const char* name;
        QStringList options;
        bool bad;        // bad frames included
        int primary;     // the outbound line
        double bitRate;  // 0: none, a bit lasts 1 us
    };
    const Row rows[] = {
        {"good frames", {}, false, 1, 0},
        {"all frames, another primary, a bit rate",
         {"--all-frames", "--primary", "rx1", "--bit-rate", "9600"},
         true,
         2,
         9600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto r =
            runCli(QStringList{"export", file, "--pcapng", out("f.pcapng")} + row.options);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        QProcess p;
        p.start(tshark, {"-r", out("f.pcapng"),
                         "-T", "fields",
                         "-E", "separator=;",
                         "-e", "sdlc.address",
                         "-e", "sdlc.control.n_s",
                         "-e", "sdlc.control.n_r",
                         "-e", "frame.comment",
                         "-e", "frame.interface_name",
                         "-e", "frame.packet_flags_direction",
                         "-e", "frame.time_epoch"});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        const QStringList got =
            QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QStringList expected;
        for (const QString& line :
             QString::fromStdString(frames.out).split('\n', Qt::SkipEmptyParts).mid(1)) {
            const QStringList f = line.split(',');
            const bool good = f[11] == "none";
            if (!good && !row.bad) {
                continue;
            }
            const QStringList bytes = f[8].split(' ');
            const int control = bytes[1].toInt(nullptr, 16);
            QString ns;
            QString nr = QString::number((control >> 5) & 7);
            if ((control & 1) == 0) {
                ns = QString::number((control >> 1) & 7);  // an I frame
            } else if ((control & 3) == 3) {
                nr.clear();  // a U frame has neither
            }
            const double seconds = f[5].toDouble() / 256 / (row.bitRate > 0 ? row.bitRate : 1e6);
            expected << QStringLiteral("0x%1;%2;%3;frame %4%5;%6;0x%7;%8")
                            .arg(bytes[0].toLower().rightJustified(2, '0'), ns, nr, f[0],
                                 good ? QString() : ": " + f[11], f[2],
                                 f[1].toInt() == row.primary ? "00000002" : "00000001",
                                 QString::number(seconds, 'f', 9));
        }
        EXPECT_EQ(got.size(), row.bad ? 10 : 8);
        EXPECT_EQ(got.join('\n').toStdString(), expected.join('\n').toStdString());
    }
}

TEST_F(CliExport, PcapngOptionsAndTheFileItWrites) {
    const auto bad =
        runCli({"export", fixture("empty.osc"), "--pcapng", out("x.pcapng"), "--primary", "5"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.err.rfind("morvelip-osc-cli export: Unknown channel '5': --primary takes 0 to "
                            "3 or a channel's name.\n",
                            0),
              0u)
        << bad.err;
    EXPECT_TRUE(QDir(dir_.path()).isEmpty());
    // An empty capture: the section header and one interface per decoded line, no packet.
    const auto r = runCli({"export", fixture("empty.osc"), "--pcapng", out("e.pcapng"), "--channel",
                           "1", "--channel", "rx2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string file = readFile(out("e.pcapng"));
    ASSERT_GE(file.size(), 28u);
    EXPECT_EQ(file.substr(0, 4), std::string("\x0A\x0D\x0D\x0A", 4));
    int interfaces = 0;
    for (std::size_t at = 0; at + 8 <= file.size();) {
        const auto u32 = [&](std::size_t i) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(file[i])) |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(file[i + 1])) << 8 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(file[i + 2])) << 16 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(file[i + 3])) << 24;
        };
        interfaces += u32(at) == 1 ? 1 : 0;
        EXPECT_NE(u32(at), 6u);
        ASSERT_GT(u32(at + 4), 0u);
        at += u32(at + 4);
    }
    EXPECT_EQ(interfaces, 2);
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
