#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
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
              "index,channel,name,start,end,start_ticks,end_ticks,bits,bytes,check,status,error,"
              "address,frame_type,command,ns,nr,pf,role,answer_to,response_bits,issue");
    EXPECT_EQ(rows[6], QString::fromUtf8("6,2,Приём1,380 + 128/256,487 + 128/256,97408,124800,89,"
                                         "01 32 7D E5 B2 E2 2B E5 8A CB 10 00,x25,none,"
                                         "misaligned,,,,,,,response,,,"));
    // The link layer: polls of stations 1 and 2 and their answers 6 bits after each poll ends.
    EXPECT_EQ(rows[1].section(QLatin1Char(','), 12), QStringLiteral("1,I,,0,1,true,command,,,"));
    EXPECT_EQ(rows[2].section(QLatin1Char(','), 12), QStringLiteral("1,I,,0,1,true,response,1,6,"));
    EXPECT_EQ(rows[4].section(QLatin1Char(','), 12),
              QStringLiteral("2,S,RR,,1,true,response,3,6,"));
    EXPECT_EQ(rows[7].section(QLatin1Char(','), 12), QStringLiteral("2,U,UP,,,true,command,,,"));
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
            ASSERT_FALSE(v.isUndefined()) << keys[k].toStdString();
            const QString asText = v.isNull()   ? QString()
                                   : v.isBool() ? QString::fromLatin1(v.toBool() ? "true" : "false")
                                   : v.isDouble() ? QString::number(v.toDouble(), 'g', 17)
                                                  : v.toString();
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
        {"one channel by name: answers without their polls",
         {"frames", file, "--channel", "Приём2", "--format", "csv"},
         0,
         "index,channel,name,start,end,start_ticks,end_ticks,bits,bytes,check,status,error,"
         "address,frame_type,command,ns,nr,pf,role,answer_to,response_bits,issue\n"
         "1,3,Приём2,222 + 128/256,302 + 128/256,56960,77440,64,02 31 D5 C1 1C 1D 70 11,x25,"
         "good,none,2,S,RR,,1,true,response,,,unsolicited\n"
         "2,3,Приём2,566 + 128/256,662 + 128/256,145024,169600,80,02 33 09 81 65 08 F1 74 58 33,"
         "x25,good,none,2,U,UP,,,true,response,,,unsolicited\n"},
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

// The numbers of the frames listed (the first field of each text line or CSV row).
std::string numbers(const std::string& out) {
    std::string n;
    for (const QString& line : lines(out)) {
        const QString first = line.section(QRegularExpression(QStringLiteral("[ ,]")), 0, 0);
        if (first != QLatin1String("index")) {
            n += (n.empty() ? "" : " ") + first.toStdString();
        }
    }
    return n;
}

TEST(CliFrames, LinkOptionsAndFilter) {
    const QString file = fixture("frames_session.osc");
    struct Row {
        const char* name;
        QStringList args;
        const char* numbers;
    };
    const Row rows[] = {
        {"every frame", {}, "1 2 3 4 5 6 7 8 9 10"},
        {"responses without issues",
         {"--filter", "issue == none && role == response"},
         "2 4 6 8 10"},
        {"precedence", {"--filter", "channel == 1 && pf == true || index == 6"}, "1 3 5 6 7 9"},
        {"parentheses", {"--filter", "channel == 1 && (pf == true || index == 6)"}, "1 3 5 7 9"},
        {"a line by its name", {"--filter", "channel == Приём1"}, "2 6 10"},
        {"bytes", {"--filter", "bytes ~ \"02 ?? D5\""}, "4"},
        {"response times", {"--filter", "rt == 6 && rt_ms > 0.62", "--bit-rate", "9600"}, "2 4 8"},
        {"the answer timeout",
         {"--answer-timeout", "5", "--filter", "issue == no_answer"},
         "1 3 5 7 9"},
        {"a timeout the answers meet", {"--answer-timeout", "7", "--filter", "rt >= 0"}, "2 4 8"},
        {"the primary on receive line 1",
         {"--primary", "rx1", "--filter", "role == command"},
         "2 6 10"},
        {"two address bytes",
         {"--address-bytes", "2", "--filter", "address == 0x130 && ns == 4"},
         "2"},
        {"no address", {"--address-bytes", "0", "--filter", "address >= 0"}, ""},
        {"modulo 128", {"--modulo", "128", "--filter", "ns == 24 && nr == 28"}, "2"},
        {"decoder options still apply", {"--channel", "1", "--filter", "rt >= 0"}, ""},
    };
    for (const Row& row : rows) {
        QStringList args{"frames", file};
        args += row.args;
        const auto text = runCli(args);
        EXPECT_EQ(text.exitCode, 0) << row.name << ": " << text.err;
        EXPECT_EQ(numbers(text.out), row.numbers) << row.name;
        args += QStringList{"--format", "csv"};
        const auto csv = runCli(args);
        EXPECT_EQ(numbers(csv.out), row.numbers) << row.name << " (csv)";
    }

    struct Bad {
        const char* name;
        QStringList args;
        std::string err;  // the start of stderr
    };
    const Bad bad[] = {
        {"address bytes",
         {"--address-bytes", "3"},
         "morvelip-osc-cli frames: --address-bytes takes 0, 1, 2 or extended.\n"},
        {"modulo", {"--modulo", "16"}, "morvelip-osc-cli frames: --modulo takes 8 or 128.\n"},
        {"primary",
         {"--primary", "5"},
         "morvelip-osc-cli frames: Unknown channel '5': --primary takes 0 to 3"},
        {"answer timeout",
         {"--answer-timeout", "-1"},
         "morvelip-osc-cli frames: --answer-timeout takes a whole number of bits"},
        {"bit rate",
         {"--bit-rate", "fast"},
         "morvelip-osc-cli frames: The bit rate must be a positive number"},
        {"filter without a value",
         {"--filter", "index =="},
         "morvelip-osc-cli frames: --filter: position 9: expected a value after '==', found the "
         "end\n  index ==\n          ^\n"},
        {"filter in Russian names",
         {"--filter", "channel == Приём3 && ns == 1"},
         "morvelip-osc-cli frames: --filter: position 12: 'Приём3' is not a value of "
         "'channel' (0-3, Строб, Передача, Приём1, Приём2, strobe, tx, rx1, rx2)\n"
         "  channel == Приём3 && ns == 1\n"
         "             ^\n"},
        {"rt_ms without a bit rate",
         {"--filter", "rt_ms < 1"},
         "morvelip-osc-cli frames: --filter: position 1: 'rt_ms' needs a bit rate\n"},
    };
    for (const Bad& row : bad) {
        QStringList args{"frames", file};
        args += row.args;
        const auto r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << row.name;
        EXPECT_EQ(r.out, "") << row.name;
        EXPECT_EQ(r.err.substr(0, row.err.size()), row.err) << row.name << ": " << r.err;
    }
}

}  // namespace
