#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <string>

#include "tests/app/cli_run.h"

namespace {

using clitest::fixture;
using clitest::runCli;

// Twelve datagrams of a simulated device (seed 3, 128 pairs each); one bit of receive line 1
// flipped in period 420, inside the answer frame 380..487; the capture ends inside the next
// answer.
const char* const kText =
    "1  1 Передача  25 + 128/256 .. 73 + 128/256  32 bits  01 30 1C 27  x25 good\n"
    "2  2 Приём1  79 + 128/256 .. 143 + 128/256  48 bits  01 30 38 0C C5 D4  x25 good\n"
    "3  1 Передача  167 + 128/256 .. 216 + 128/256  32 bits  02 31 FD 1C  x25 good\n"
    "4  3 Приём2  222 + 128/256 .. 302 + 128/256  64 bits  02 31 D5 C1 1C 1D 70 11  x25 good\n"
    "5  1 Передача  326 + 128/256 .. 374 + 128/256  32 bits  01 32 0E 04  x25 good\n"
    "6  2 Приём1  380 + 128/256 .. 487 + 128/256  89 bits  01 32 7D E5 B2 E2 2B E5 8A CB 10 00  "
    "x25 none  misaligned\n"
    "7  1 Передача  511 + 128/256 .. 560 + 128/256  32 bits  02 33 EF 3F  x25 good\n"
    "8  3 Приём2  566 + 128/256 .. 662 + 128/256  80 bits  02 33 09 81 65 08 F1 74 58 33  x25 "
    "good\n"
    "9  1 Передача  686 + 128/256 .. 734 + 128/256  32 bits  01 34 38 61  x25 good\n"
    "10  2 Приём1  740 + 128/256 .. 768  20 bits  01 34 03  x25 none  unfinished\n";

const char* const kSummary =
    "channel 1 Передача (x25): 5 frames, 5 good, 0 bad\n"
    "channel 2 Приём1 (x25): 3 frames, 1 good, 2 bad (misaligned 1, unfinished 1)\n"
    "channel 3 Приём2 (x25): 2 frames, 2 good, 0 bad\n"
    "total: 10 frames, 8 good, 2 bad (misaligned 1, unfinished 1)\n";

QStringList lines(const std::string& out) {
    return QString::fromStdString(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

TEST(CliFrames, ThreeFormatsOfTheSameFrames) {
    const QString file = fixture("frames_session.osc");
    const auto text = runCli({"frames", file});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out, kText);
    EXPECT_EQ(text.err, kSummary);

    const auto csv = runCli({"frames", file, "--format", "csv"});
    const auto json = runCli({"frames", file, "--format=json"});
    ASSERT_EQ(csv.exitCode, 0);
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_EQ(csv.err, kSummary);
    const QStringList rows = lines(csv.out);
    ASSERT_EQ(rows.size(), 11);
    EXPECT_EQ(rows[0],
              "index,channel,name,start,end,start_ticks,end_ticks,bits,bytes,check,status,error");
    EXPECT_EQ(rows[6], QString::fromUtf8("6,2,Приём1,380 + 128/256,487 + 128/256,97408,124800,89,"
                                         "01 32 7D E5 B2 E2 2B E5 8A CB 10 00,x25,none,"
                                         "misaligned"));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out;
    const QJsonArray frames = doc.array();
    ASSERT_EQ(frames.size(), 10);
    const QStringList keys = rows[0].split(QLatin1Char(','));
    for (int i = 0; i < frames.size(); ++i) {
        const QStringList cells = rows[i + 1].split(QLatin1Char(','));
        const QJsonObject o = frames[i].toObject();
        ASSERT_EQ(o.size(), keys.size());
        for (int k = 0; k < keys.size(); ++k) {
            const QJsonValue v = o.value(keys[k]);
            const QString asText = v.isDouble() ? QString::number(v.toInteger()) : v.toString();
            EXPECT_EQ(asText, cells[k]) << "frame " << i << " " << keys[k].toStdString();
        }
    }
}

TEST(CliFrames, OptionsAndExitStatuses) {
    const QString file = fixture("frames_session.osc");
    struct Row {
        const char* name;
        QStringList args;
        int exitCode;
        std::string out;  // exact, or the start of stderr when exitCode != 0
    };
    const Row rows[] = {
        {"one channel by name",
         {"frames", file, "--channel", "Приём2", "--format", "csv"},
         0,
         "index,channel,name,start,end,start_ticks,end_ticks,bits,bytes,check,status,error\n"
         "1,3,Приём2,222 + 128/256,302 + 128/256,56960,77440,64,02 31 D5 C1 1C 1D 70 11,x25,"
         "good,none\n"
         "2,3,Приём2,566 + 128/256,662 + 128/256,145024,169600,80,02 33 09 81 65 08 F1 74 58 33,"
         "x25,good,none\n"},
        {"auto check, strobe only", {"frames", file, "--channel=0", "--check", "auto"}, 0, ""},
        {"empty file", {"frames", fixture("empty.osc"), "--format", "json"}, 0, "[]\n"},
        {"missing file",
         {"frames", "no-such-file.osc"},
         2,
         "Cannot open file no-such-file.osc: No such file or directory\n"},
        {"bad group",
         {"frames", fixture("bad_group.osc")},
         2,
         fixture("bad_group.osc").toStdString() + ":2:1: bad hex group \"2G\"\n"},
        {"unknown check",
         {"frames", file, "--check", "crc8"},
         2,
         "morvelip-osc-cli frames: --check takes"},
        {"unknown format",
         {"frames", file, "--format", "xml"},
         2,
         "morvelip-osc-cli frames: --format takes"},
        {"channel 4",
         {"frames", file, "--channel", "4"},
         2,
         "morvelip-osc-cli frames: Unknown channel '4'"},
        {"zero length",
         {"frames", file, "--min-length", "0"},
         2,
         "morvelip-osc-cli frames: --min-length and --max-length"},
        {"no file", {"frames"}, 2, "morvelip-osc-cli frames: FILE is missing."},
    };
    for (const Row& row : rows) {
        const auto r = runCli(row.args);
        EXPECT_EQ(r.exitCode, row.exitCode) << row.name << ": " << r.err;
        if (row.exitCode == 0) {
            EXPECT_EQ(r.out, row.out) << row.name;
        } else {
            EXPECT_EQ(r.out, "") << row.name;
            EXPECT_EQ(r.err.substr(0, row.out.size()), row.out) << row.name << ": " << r.err;
        }
    }
    // The line read inverted: frames of a sort, none of them good.
    const auto inverted = runCli({"frames", file, "--invert"});
    EXPECT_EQ(inverted.exitCode, 0);
    EXPECT_NE(inverted.err.find("\ntotal: 6 frames, 0 good, 6 bad"), std::string::npos)
        << inverted.err;

    const auto help = runCli({"frames", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--no-stuffing"), std::string::npos);
}

}  // namespace
