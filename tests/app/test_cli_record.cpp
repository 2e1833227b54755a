// record against two simulated devices with faults on loopback addresses: the segments hold
// every datagram each device sent, once; each event's file holds its frame; the events equal
// what `frames` finds in the recording afterwards; a device restarted during the run streams
// again into its folder. Then a settings file with retention, and the errors of bad settings.
// The test waits for what the programs print, never for a time.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "tests/app/cli_run.h"

namespace {

using clitest::runCli;

QString cliPath() {
    return clitest::binaryDir() + QStringLiteral("/bin/morvelip-osc-cli");
}

// A program in the background whose output is read line by line as it comes.
class Background {
  public:
    explicit Background(const QStringList& args) {
        p_.start(cliPath(), args);
        started_ = p_.waitForStarted(5000);
    }
    ~Background() {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished(5000);
        }
    }
    bool started() const { return started_; }
    // Reads what has come; the lines so far of stdout and stderr.
    void read() {
        out_ += p_.readAllStandardOutput().toStdString();
        err_ += p_.readAllStandardError().toStdString();
    }
    // Waits until `done` holds over what was printed; false after a long while (a broken
    // program, not a measurement).
    template <typename Done>
    bool waitFor(const Done& done, int limitMs = 30000) {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            read();
            if (done(out_, err_)) {
                return true;
            }
            if (timer.elapsed() > limitMs || p_.state() == QProcess::NotRunning) {
                read();
                return done(out_, err_);
            }
            p_.waitForReadyRead(50);
        }
    }
    bool waitForErr(const std::string& part, std::size_t times = 1) {
        return waitFor([&](const std::string&, const std::string& err) {
            std::size_t n = 0;
            for (std::size_t at = err.find(part); at != std::string::npos;
                 at = err.find(part, at + 1)) {
                ++n;
            }
            return n >= times;
        });
    }
    // SIGTERM and the exit code (-1 when it did not end by itself).
    int terminate() {
        p_.terminate();
        if (!p_.waitForFinished(20000) || p_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        read();
        return p_.exitCode();
    }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

  private:
    QProcess p_;
    bool started_ = false;
    std::string out_, err_;
};

// A simulated device; its count of sample datagrams sent once it is stopped.
struct Sim {
    std::unique_ptr<Background> process;
    std::uint64_t stop() {
        if (!process || process->terminate() != 0) {
            return 0;
        }
        const std::string& out = process->out();
        const std::size_t at = out.find("after ");
        return at == std::string::npos ? 0 : std::stoull(out.substr(at + 6));
    }
};
Sim startSim(const QString& address, quint16 port, const QStringList& extra) {
    Sim s;
    s.process = std::make_unique<Background>(
        QStringList{"sim", "--bind", address, "--port", QString::number(port)} + extra);
    if (!s.process->started() ||
        !s.process->waitFor([](const std::string& out, const std::string&) {
            return out.find("listening") != std::string::npos;
        })) {
        s.process.reset();
    }
    return s;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder,
                                           const std::string& extension) {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        if (e.path().extension() == extension) {
            out.push_back(e.path());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The device's segments one after another in one file; the number of sample lines.
std::uint64_t joinSegments(const std::filesystem::path& folder, const std::filesystem::path& to) {
    std::string all;
    std::uint64_t samples = 0;
    for (const auto& f : filesIn(folder, ".osc")) {
        const osc::JournalInfo info = osc::inspectOscLines(f);
        EXPECT_EQ(info.bytes, std::filesystem::file_size(f)) << f << ": a line cut short";
        const std::string text = osc::readWholeFile(f);
        for (std::size_t at = text.find("23 08 "); at != std::string::npos;
             at = text.find("\r\n23 08 ", at + 1)) {
            ++samples;
        }
        all += text;
    }
    osc::writeFileAtomically(to, all);
    return samples;
}

// The bytes of the frames `frames FILE --filter EXPR` lists, as a multiset.
std::multiset<std::string> framesFound(const std::filesystem::path& file, const QString& filter) {
    const clitest::Run r = runCli(
        {"frames", QString::fromStdString(file.string()), "--filter", filter, "--format", "json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::multiset<std::string> out;
    for (const QJsonValue& v : QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array()) {
        out.insert(v.toObject().value("bytes").toString().toStdString());
    }
    return out;
}

TEST(CliRecord, TwoFaultyDevicesOneRestartedEveryDatagramOnceAndEveryFaultInAnEventFile) {
    QTemporaryDir tmp;
    const std::filesystem::path dir = tmp.filePath("rec").toStdString();
    const quint16 port = static_cast<quint16>(20000 + (::getpid() + 7) % 20000);
    const QString p = QString::number(port);
    Sim a = startSim("127.0.0.2", port, {"--bit-errors", "0.03", "--loss", "0.03", "--seed", "3"});
    Sim b = startSim("127.0.0.3", port, {"--bit-errors", "0.03", "--loss", "0.03", "--seed", "5"});
    if (!a.process || !b.process) {
        GTEST_SKIP() << "port " << port << " is taken here";
    }
    Background rec({"record",
                    "--device",
                    "127.0.0.2:" + p,
                    "--device",
                    "127.0.0.3:" + p,
                    "--bind",
                    "127.0.0.1",
                    "--port",
                    p,
                    "--dir",
                    QString::fromStdString(dir.string()),
                    "--segment",
                    "1s",
                    "--trigger",
                    "error != none",
                    "--trigger",
                    "issue == no_answer",
                    "--pre",
                    "0.3",
                    "--post",
                    "0.2",
                    "--silence",
                    "1",
                    "--json"});
    ASSERT_TRUE(rec.started());
    const std::string devA = "127.0.0.2_" + std::to_string(port);
    const std::string devB = "127.0.0.3_" + std::to_string(port);
    ASSERT_TRUE(rec.waitForErr(": streaming, identity 02:00:7F:00:00:0", 2)) << rec.err();
    // Some events of each device, then the first device restarted: its stream stops, it is
    // asked again, and the new one streams into the same folder.
    const auto eventsOf = [](const std::string& out, const std::string& dev) {
        std::size_t n = 0;
        for (std::size_t at = out.find("\"device\":\"" + dev); at != std::string::npos;
             at = out.find("\"device\":\"" + dev, at + 1)) {
            ++n;
        }
        return n;
    };
    ASSERT_TRUE(rec.waitFor([&](const std::string& out, const std::string&) {
        return eventsOf(out, devA) >= 3 && eventsOf(out, devB) >= 3;
    })) << rec.out();
    const std::uint64_t sentA1 = a.stop();
    ASSERT_GT(sentA1, 0u);
    ASSERT_TRUE(rec.waitForErr(devA + ": no datagram for")) << rec.err();
    Sim a2 = startSim("127.0.0.2", port, {"--bit-errors", "0.03", "--loss", "0.03", "--seed", "4"});
    ASSERT_TRUE(a2.process);
    ASSERT_TRUE(rec.waitForErr(devA + ": streaming again after")) << rec.err();
    const std::size_t before = eventsOf(rec.out(), devA);
    ASSERT_TRUE(rec.waitFor([&](const std::string& out, const std::string&) {
        return eventsOf(out, devA) >= before + 3;
    })) << rec.out();
    ASSERT_EQ(rec.terminate(), 0) << rec.err();
    const std::uint64_t sentA2 = a2.stop();
    const std::uint64_t sentB = b.stop();
    EXPECT_NE(rec.err().find("stopping: SIGTERM"), std::string::npos);

    // Every datagram each device sent, once, in whole lines; nothing left being written.
    EXPECT_EQ(joinSegments(dir / devA, dir / "a.osc"), sentA1 + sentA2);
    EXPECT_EQ(joinSegments(dir / devB, dir / "b.osc"), sentB);
    EXPECT_GE(filesIn(dir / devA, ".osc").size(), 2u);
    for (const auto& dev : {devA, devB}) {
        EXPECT_TRUE(filesIn(dir / dev, ".part").empty());
        EXPECT_TRUE(filesIn(dir / dev / "events", ".part").empty());
    }

    // Each event line names its file, whose JSON holds the frame as a replay of the file
    // finds it; the events of each trigger are the frames `frames` finds in the whole
    // recording afterwards.
    std::map<std::string, std::multiset<std::string>> live;  // device and trigger: bytes
    std::size_t lines = 0;
    for (const QByteArray& line : QByteArray::fromStdString(rec.out()).split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        ++lines;
        const QJsonObject e = QJsonDocument::fromJson(line).object();
        ASSERT_FALSE(e.isEmpty()) << line.toStdString();
        const std::string device = e.value("device").toString().toStdString();
        const std::string trigger = e.value("trigger").toString().toStdString();
        const std::string bytes = e.value("bytes").toString().toStdString();
        if (e.value("error").toString() != QLatin1String("unfinished")) {
            live[device + " " + trigger].insert(bytes);  // a frame cut short by the stop aside
        }
        const std::filesystem::path file = e.value("file").toString().toStdString();
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        std::filesystem::path json = file;
        json.replace_extension(".json");
        const QJsonObject report =
            QJsonDocument::fromJson(QByteArray::fromStdString(osc::readWholeFile(json))).object();
        EXPECT_EQ(report.value("device").toString().toStdString(), device);
        bool found = false;
        for (const QJsonValue& v : report.value("events").toArray()) {
            const QJsonObject frame = v.toObject().value("frame").toObject();
            if (frame.value("bytes").toString().toStdString() == bytes &&
                frame.value("index").toInt() > 0) {
                found = true;
            }
        }
        EXPECT_TRUE(found) << "no frame " << bytes << " in " << json;
    }
    EXPECT_GT(lines, 9u);
    for (const auto& [dev, file] : {std::pair{devA, "a.osc"}, std::pair{devB, "b.osc"}}) {
        EXPECT_EQ(framesFound(dir / file, "error != none && error != unfinished"),
                  live[dev + " error != none"])
            << dev;
        const std::multiset<std::string> found = framesFound(dir / file, "issue == no_answer");
        const std::multiset<std::string>& seen = live[dev + " issue == no_answer"];
        if (dev == devA) {
            // The kill cut the first stream: the poll whose answer it cut is followed, in the
            // joined recording, by the second stream's first command (a no_answer there), while
            // the live analysis of the first stream ended at the silence without one.
            EXPECT_TRUE(std::includes(found.begin(), found.end(), seen.begin(), seen.end())) << dev;
            EXPECT_LE(found.size(), seen.size() + 1) << dev;
        } else {
            EXPECT_EQ(found, seen) << dev;
        }
    }
}

TEST(CliRecord, SettingsFileRetentionAndErrors) {
    QTemporaryDir tmp;
    const std::filesystem::path dir = tmp.filePath("rec").toStdString();
    const quint16 port = static_cast<quint16>(20000 + (::getpid() + 11) % 20000);
    Sim sim = startSim("127.0.0.2", port, {});
    if (!sim.process) {
        GTEST_SKIP() << "port " << port << " is taken here";
    }
    const QString config = tmp.filePath("rec.conf");
    const std::string text =
        "# a recorder of one device\n"
        "device = 127.0.0.2:" +
        std::to_string(port) +
        "\n"
        "dir = " +
        dir.string() +
        "\n"
        "bind = 127.0.0.1\n"
        "port = " +
        std::to_string(port) +
        "\n"
        "segment = 1s   # short, for the test\n"
        "keep = 100K\n";
    osc::writeFileAtomically(config.toStdString(), text);
    Background rec({"record", "--config", config});
    ASSERT_TRUE(rec.started());
    // Segments of about 58 KiB a second: the oldest go once there are more than 100 KiB.
    ASSERT_TRUE(rec.waitForErr("retention: deleted", 2)) << rec.err();
    ASSERT_EQ(rec.terminate(), 0) << rec.err();
    sim.stop();
    const std::string device = "127.0.0.2_" + std::to_string(port);
    const std::vector<std::filesystem::path> left = filesIn(dir / device, ".osc");
    ASSERT_GE(left.size(), 1u);
    // The first two segments were deleted, oldest first.
    std::vector<std::string> deleted;
    for (std::size_t at = rec.err().find("retention: deleted "); at != std::string::npos;
         at = rec.err().find("retention: deleted ", at + 1)) {
        const std::size_t start = at + 19;
        deleted.push_back(rec.err().substr(start, rec.err().find(' ', start) - start));
    }
    ASSERT_GE(deleted.size(), 2u);
    EXPECT_LT(deleted[0], deleted[1]);
    EXPECT_LT(deleted.back(), left.front().string());
    for (const std::string& d : deleted) {
        EXPECT_FALSE(std::filesystem::exists(d)) << d;
    }

    struct Bad {
        const char* name;
        std::string text;
        std::string message;
    };
    const std::vector<Bad> bad{
        {"unknown key", "dir = /tmp/x\nspeed = 9600\n", "rec.conf:2: unknown setting 'speed'"},
        {"bad value", "device = 10.0.0.5\n\ndir = /tmp/x\npre = soon\n",
         "rec.conf:4: pre: 'soon' is not a span"},
        {"bad trigger", "device = 10.0.0.5\ndir = /tmp/x\ntrigger = status = bad\n",
         "rec.conf:3: trigger: position 8"},
        {"no equals", "device 10.0.0.5\n", "rec.conf:1: expected 'key = value'"},
        {"twice", "dir = /a\ndir = /b\n", "rec.conf:2: 'dir' is given twice"},
        {"ambiguous keep", "device = h\ndir = /a\nkeep = 30m\n", "rec.conf:3: keep: '30m' is"},
    };
    for (const Bad& row : bad) {
        osc::writeFileAtomically(config.toStdString(), row.text);
        const clitest::Run r = runCli({"record", "--config", config});
        EXPECT_EQ(r.exitCode, 2) << row.name;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << row.name << ": " << r.err;
    }
    // The command line replaces the file's setting: the device from the file, no folder.
    osc::writeFileAtomically(config.toStdString(), "device = 10.0.0.5\ndir = /nonexistent/x\n");
    EXPECT_EQ(runCli({"record", "--config", config, "--trigger", "silent(rx9) > 1s"}).exitCode, 2);
    EXPECT_EQ(runCli({"record", "--device", "10.0.0.5"}).exitCode, 2);
    EXPECT_EQ(runCli({"record", "--device", "10.0.0.5:99999", "--dir", "x"}).exitCode, 2);
}

}  // namespace
