// morvelip-osc-cli devices, run as a user runs it, on the demo server and on definitions
// written to a temporary folder.

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

QString cliPath() {
    const char* dir = std::getenv("MO_BINARY_DIR");
    return QString::fromUtf8(dir ? dir : ".") + "/bin/morvelip-osc-cli";
}

CliRun runCli(const QStringList& args, const QByteArray& input = {},
              const QString& serversDir = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("TMCONN_SERVERS_DIR");
    if (!serversDir.isEmpty()) {
        env.insert("TMCONN_SERVERS_DIR", serversDir);
    }
    p.setProcessEnvironment(env);
    p.start(cliPath(), QStringList{"devices"} + args);
    EXPECT_TRUE(p.waitForStarted(10000));
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(30000));
    CliRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

void writeFile(const QString& path, const std::string& bytes) {
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

TEST(CliDevices, DemoServerEntriesInListOrder) {
    const CliRun r = runCli({"--nt-server", "localhost", "--tm-server", "demo"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "КП-1 Подстанция «Северная» (IP:127.0.0.11)\n"
              "КП-2 Насосная станция (IP:127.0.0.12)\n"
              "КП-3 Котельная №2 (IP:127.0.0.13)\n"
              "КП-4 Склад\n");
    EXPECT_EQ(r.err, "");
}

TEST(CliDevices, FailedFetchNamesTheServers) {
    const CliRun r = runCli({"--nt-server", "localhost", "--tm-server", "нет"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Не удалось получить конфигурацию с localhost\\нет\n");
}

TEST(CliDevices, CredentialsFromOptionsAndStandardInput) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString server = dir.path() + "/nt/tm";
    ASSERT_TRUE(QDir().mkpath(server));
    writeFile(server + "/config", "2197815296;1,\xCA\xCF\r\n");
    writeFile(server + "/users", "Оператор:тайна 1\n");
    const QStringList base{"--nt-server", "nt", "--tm-server", "tm", "--user", "Оператор"};
    struct Row {
        const char* name;
        QStringList args;
        QByteArray input;
        int exitCode;
    } rows[] = {
        {"password option", base + QStringList{"--password", "тайна 1"}, {}, 0},
        {"password from standard input", base + QStringList{"--password", "-"},
         QByteArray("тайна 1\r\n"), 0},
        {"wrong password", base + QStringList{"--password", "тайна 2"}, {}, 1},
        {"wrong password from standard input", base + QStringList{"--password", "-"},
         QByteArray("тайна 2\n"), 1},
        {"no credentials", QStringList{"--nt-server", "nt", "--tm-server", "tm"}, {}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const CliRun r = runCli(row.args, row.input, dir.path());
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_EQ(r.out, row.exitCode == 0 ? "КП\n" : "");
        // The password never shows.
        EXPECT_EQ(r.out.find("тайна"), std::string::npos);
        EXPECT_EQ(r.err.find("тайна"), std::string::npos);
    }
}

TEST(CliDevices, ServersDirOption) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/a/b"));
    writeFile(dir.path() + "/a/b/config", "");
    const CliRun r = runCli({"--nt-server", "a", "--tm-server", "b", "--servers-dir", dir.path()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(CliDevices, UsageErrors) {
    EXPECT_EQ(runCli({"--nt-server", "localhost"}).exitCode, 2);
    EXPECT_EQ(runCli({"--tm-server", "demo"}).exitCode, 2);
    EXPECT_EQ(runCli({"--bogus"}).exitCode, 2);
    const CliRun help = runCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--nt-server"), std::string::npos);
}

}  // namespace
