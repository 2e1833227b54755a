#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <string>

#include "cli_run.h"

namespace {

using clitest::fixture;
using clitest::runCli;

// The session of the frames test: stations 1 and 2 polled in turn, each answer 6 bits after its
// poll; station 1's second answer damaged, its third cut off by the end of the capture.
const char* const kText =
    "station 1: frames 4, bytes 18, commands 3, responses 1, I 4, S 0, U 0\n"
    "  polls 3, answers 1, no_answer 0, retransmission 0, sequence_gap 0, unsolicited 0\n"
    "  REJ 0, SREJ 0, RNR 0, FRMR 0\n"
    "  response bits: min 6, mean 6, p95 6, max 6\n"
    "station 2: frames 4, bytes 26, commands 2, responses 2, I 0, S 2, U 2\n"
    "  polls 2, answers 2, no_answer 0, retransmission 0, sequence_gap 0, unsolicited 0\n"
    "  REJ 0, SREJ 0, RNR 0, FRMR 0\n"
    "  response bits: min 6, mean 6, p95 6, max 6\n"
    "line 1 Передача: frames 5, good 5, bad 0, aborts 0\n"
    "line 2 Приём1: frames 3, good 1, bad 2, aborts 0\n"
    "line 3 Приём2: frames 2, good 2, bad 0, aborts 0\n";

const char* const kHeader =
    "address,frames,bytes,commands,responses,i_frames,s_frames,u_frames,polls,answers,"
    "no_answer,retransmission,sequence_gap,unsolicited,rej,srej,rnr,frmr,response_bits_min,"
    "response_bits_mean,response_bits_p95,response_bits_max\n";

TEST(CliStats, ThreeFormatsOfTheSameStations) {
    const QString file = fixture("frames_session.osc");
    const auto text = runCli({"stats", file});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out, kText);
    // The frames' summary, as `frames` gives it.
    EXPECT_EQ(text.err, runCli({"frames", file}).err);

    const auto csv = runCli({"stats", file, "--format", "csv"});
    EXPECT_EQ(csv.exitCode, 0);
    EXPECT_EQ(csv.out, std::string(kHeader) +
                           "1,4,18,3,1,4,0,0,3,1,0,0,0,0,0,0,0,0,6,6,6,6\n"
                           "2,4,26,2,2,0,2,2,2,2,0,0,0,0,0,0,0,0,6,6,6,6\n");

    const auto json = runCli({"stats", file, "--format", "json"});
    EXPECT_EQ(json.exitCode, 0);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out;
    const QStringList keys = QString::fromLatin1(kHeader).trimmed().split(QLatin1Char(','));
    const QStringList rows =
        QString::fromStdString(csv.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(doc.array().size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QJsonObject o = doc.array()[i].toObject();
        EXPECT_EQ(o.size(), keys.size());
        const QStringList cells = rows[i + 1].split(QLatin1Char(','));
        for (int k = 0; k < keys.size(); ++k) {
            ASSERT_TRUE(o.value(keys[k]).isDouble()) << keys[k].toStdString();
            EXPECT_EQ(QString::number(o.value(keys[k]).toDouble(), 'g', 17), cells[k])
                << keys[k].toStdString();
        }
    }
}

TEST(CliStats, OptionsAndExitStatuses) {
    const QString file = fixture("frames_session.osc");
    struct Row {
        const char* name;
        QStringList args;
        int exitCode;
        std::string out;  // exact, or the start of stderr when exitCode != 0
    };
    const Row rows[] = {
        {"an answer timeout no answer meets",
         {"stats", file, "--answer-timeout", "5", "--format", "csv"},
         0,
         std::string(kHeader) + "1,4,18,3,1,4,0,0,3,0,3,0,0,0,0,0,0,0,,,,\n"
                                "2,4,26,2,2,0,2,2,2,0,2,0,0,0,0,0,0,0,,,,\n"},
        {"no address field",
         {"stats", file, "--address-bytes", "0", "--format", "json"},
         0,
         "[\n{\"address\":null,\"frames\":8,\"bytes\":44,\"commands\":5,\"responses\":3,"
         "\"i_frames\":4,\"s_frames\":4,\"u_frames\":0,\"polls\":0,\"answers\":0,"
         "\"no_answer\":0,\"retransmission\":2,\"sequence_gap\":0,\"unsolicited\":3,\"rej\":0,"
         "\"srej\":0,\"rnr\":0,\"frmr\":0,\"response_bits_min\":null,\"response_bits_mean\":null,"
         "\"response_bits_p95\":null,\"response_bits_max\":null}\n]\n"},
        {"empty file", {"stats", fixture("empty.osc"), "--format", "json"}, 0, "[]\n"},
        {"empty file as csv", {"stats", fixture("empty.osc"), "--format", "csv"}, 0, kHeader},
        {"missing file",
         {"stats", "no-such-file.osc"},
         2,
         "Cannot open file no-such-file.osc: No such file or directory\n"},
        {"unknown format",
         {"stats", file, "--format", "xml"},
         2,
         "morvelip-osc-cli stats: --format takes"},
        {"bad modulo",
         {"stats", file, "--modulo", "7"},
         2,
         "morvelip-osc-cli stats: --modulo takes 8 or 128."},
        {"no file", {"stats"}, 2, "morvelip-osc-cli stats: FILE is missing."},
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
    const auto help = runCli({"stats", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--answer-timeout"), std::string::npos);
    EXPECT_NE(runCli({"--help"}).out.find("stats"), std::string::npos);
}

}  // namespace
