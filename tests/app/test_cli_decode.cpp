#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <string>

#include "tests/app/cli_run.h"

namespace {

using clitest::runCli;

// Channel 2 carries the bits 101111101100 in the bit periods from tick 10240 to 13056 and a 1
// at 13312; channels 1 and 3 stay at their lower level. The replay completes the traces, so
// there is a point every 256 ticks.
QString fixture() {
    return clitest::sourceDir() + QStringLiteral("/tests/data/decode/bits_101111101100.osc");
}

QStringList decodeArgs(const QStringList& extra, const QString& channel = "2",
                       const QString& marker = "10240", const QString& cursor = "13312") {
    return QStringList{"decode",   fixture(), "--channel", channel,
                       "--marker", marker,    "--cursor",  cursor} +
           extra;
}

struct Row {
    const char* name;
    QStringList args;
    const char* out;
};

TEST(CliDecode, PrintsBothReadoutsAsTheWindowShowsThem) {
    const Row rows[] = {
        {"default 8 bits", decodeArgs({}), "10111110 1100 \n7D \n"},
        {"4 bits", decodeArgs({"--bits", "4"}), "1011 1110 1100  \nD 7 3 \n"},
        {"reverse", decodeArgs({"--bits", "4", "--reverse"}), "1011 1110 1100  \nB E C \n"},
        {"invert", decodeArgs({"--bits", "4", "--invert"}), "0100 0001 0011  \n2 8 C \n"},
        {"unstuff", decodeArgs({"--bits", "4", "--unstuff"}), "1011 1111 100 \nD F \n"},
        {"6 bits", decodeArgs({"--bits", "6"}), "101111 101100  \n3D 0D \n"},
        {"16 bits", decodeArgs({"--bits", "16"}), "101111101100 \n\n"},
        {"another channel's trace", decodeArgs({}, "1"), "00000000 0000 \n00 \n"},
        {"cursor between points", decodeArgs({}, "2", "10240", "13313"), "?\n?\n"},
        {"no marker", decodeArgs({}, "2", "0", "13312"), "?\n?\n"},
        {"span of 257 bits", decodeArgs({}, "2", "256", "66048"), "?\n?\n"},
        {"cursor beyond the trace", decodeArgs({}, "2", "10240", "99999"), "?\n?\n"},
    };
    for (const Row& row : rows) {
        const auto r = runCli(row.args);
        EXPECT_EQ(r.exitCode, 0) << row.name << ": " << r.err;
        EXPECT_EQ(r.out, row.out) << row.name;
        EXPECT_EQ(r.err, "") << row.name;
    }
}

TEST(CliDecode, UsageErrors) {
    const struct {
        const char* name;
        QStringList args;
        const char* message;
    } rows[] = {
        {"cursor on the marker", decodeArgs({}, "2", "10240", "10240"),
         "The cursor must lie right of the marker."},
        {"cursor left of the marker", decodeArgs({}, "2", "10240", "256"),
         "The cursor must lie right of the marker."},
        {"channel 4", decodeArgs({}, "4"), "--channel takes 0 to 3."},
        {"channel -1", decodeArgs({}, "-1"), "--channel takes 0 to 3."},
        {"channel not a number", decodeArgs({}, "two"), "--channel takes 0 to 3."},
        {"0 bits", decodeArgs({"--bits", "0"}), "--bits takes 1 to 16."},
        {"17 bits", decodeArgs({"--bits", "17"}), "--bits takes 1 to 16."},
        {"fraction of a tick", decodeArgs({}, "2", "10240.5"),
         "--marker and --cursor take whole numbers of ticks."},
        {"no cursor", QStringList{"decode", fixture(), "--channel", "2", "--marker", "1"},
         "--channel, --marker and --cursor are needed."},
        {"no file", QStringList{"decode", "--channel", "2", "--marker", "1", "--cursor", "2"},
         "FILE is missing."},
        {"unknown option", decodeArgs({"--bytes", "4"}), "Unknown option 'bytes'."},
    };
    for (const auto& row : rows) {
        const auto r = runCli(row.args);
        EXPECT_EQ(r.exitCode, 2) << row.name;
        EXPECT_EQ(r.out, "") << row.name;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << row.name << ": " << r.err;
    }
}

TEST(CliDecode, HelpAndMissingFile) {
    const auto help = runCli({"decode", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--unstuff"), std::string::npos) << help.out;

    const auto missing = runCli({"decode", "/nonexistent/none.osc", "--channel", "2", "--marker",
                                 "256", "--cursor", "512"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Cannot open file /nonexistent/none.osc: No such file or directory\n");
}

}  // namespace
