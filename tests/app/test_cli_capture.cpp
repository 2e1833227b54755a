// capture against sim: over loopback, and on the real port 971 with each program in a network
// namespace of its own, joined by a veth pair. The recorded file replays through `traces`, and
// a frame decoded from it gives back the text the device was told to send.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "core/frames/bit_stream.h"
#include "core/protocol/sample_decoder.h"
#include "tests/app/cli_run.h"

namespace {

using clitest::runCli;

QString cliPath() {
    return clitest::binaryDir() + QStringLiteral("/bin/morvelip-osc-cli");
}

// Runs a command to its end; the exit code, or -1 when it could not run.
int runQuiet(const QString& program, const QStringList& args, std::string* err = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000) || !p.waitForFinished(30000)) {
        return -1;
    }
    if (err != nullptr) {
        *err = p.readAllStandardError().toStdString();
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The simulated device in the background until it is told to stop by SIGTERM.
class SimProcess {
  public:
    SimProcess(const QString& program, const QStringList& args) {
        p_.start(program, args);
        started_ = p_.waitForStarted(5000) && p_.waitForReadyRead(5000);
        listening_ = p_.readLine().toStdString();
    }
    ~SimProcess() {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished(5000);
        }
    }
    bool started() const { return started_; }
    const std::string& listeningLine() const { return listening_; }
    // Waits for a printed line holding `part`; false after timeoutMs.
    bool waitForLine(const std::string& part, int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            while (p_.canReadLine()) {
                if (p_.readLine().toStdString().find(part) != std::string::npos) {
                    return true;
                }
            }
            p_.waitForReadyRead(50);
        }
        return false;
    }
    // SIGTERM; the exit code (-1 when it did not end cleanly) and what it printed since.
    int terminate(std::string& out) {
        p_.terminate();
        if (!p_.waitForFinished(5000) || p_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        out = p_.readAllStandardOutput().toStdString();
        return p_.exitCode();
    }

  private:
    QProcess p_;
    bool started_ = false;
    std::string listening_;
};

// Two network namespaces joined by a veth pair, removed again in the destructor.
class NamespacePair {
  public:
    NamespacePair() {
        const std::string tag = std::to_string(::getpid() % 100000);
        device_ = QString::fromStdString("mo-link-dev-" + tag);
        client_ = QString::fromStdString("mo-link-cli-" + tag);
        const QString vethA = QString::fromStdString("mlk" + tag + "a");
        const QString vethB = QString::fromStdString("mlk" + tag + "b");
        deviceIp_ = "10.213." + std::to_string(::getpid() % 250) + ".1";
        clientIp_ = "10.213." + std::to_string(::getpid() % 250) + ".2";
        const QString ip = QStringLiteral("ip");
        std::string err;
        if (runQuiet(ip, {"netns", "add", device_}, &err) != 0) {
            why_ = "ip netns add failed: " + err;
            return;
        }
        made_ = 1;
        if (runQuiet(ip, {"netns", "add", client_}, &err) != 0) {
            why_ = "ip netns add failed: " + err;
            return;
        }
        made_ = 2;
        const std::vector<QStringList> steps{
            {"link", "add", vethA, "netns", device_, "type", "veth", "peer", "name", vethB, "netns",
             client_},
            {"-n", device_, "addr", "add", QString::fromStdString(deviceIp_ + "/24"), "dev", vethA},
            {"-n", client_, "addr", "add", QString::fromStdString(clientIp_ + "/24"), "dev", vethB},
            {"-n", device_, "link", "set", vethA, "up"},
            {"-n", client_, "link", "set", vethB, "up"},
            {"-n", device_, "link", "set", "lo", "up"},
            {"-n", client_, "link", "set", "lo", "up"},
        };
        for (const QStringList& step : steps) {
            if (runQuiet(ip, step, &err) != 0) {
                why_ = "ip " + step.join(' ').toStdString() + " failed: " + err;
                return;
            }
        }
        ready_ = true;
    }
    ~NamespacePair() {
        if (made_ >= 2)
            runQuiet(QStringLiteral("ip"), {"netns", "del", client_});
        if (made_ >= 1)
            runQuiet(QStringLiteral("ip"), {"netns", "del", device_});
    }
    bool ready() const { return ready_; }
    const std::string& why() const { return why_; }
    QStringList inDevice(const QStringList& command) const { return in(device_, command); }
    QStringList inClient(const QStringList& command) const { return in(client_, command); }
    const std::string& deviceIp() const { return deviceIp_; }

  private:
    static QStringList in(const QString& ns, const QStringList& command) {
        return QStringList{"netns", "exec", ns} + command;
    }
    QString device_, client_;
    std::string deviceIp_, clientIp_;
    std::string why_;
    int made_ = 0;
    bool ready_ = false;
};

// Whole lines of an .osc file.
std::size_t inspectLines(const QString& file) {
    return static_cast<std::size_t>(osc::inspectOscLines(file.toStdString()).datagrams);
}

// The traces printed by `traces FILE`, "C X Y" a line.
osc::ChannelTraces parseTraces(const std::string& text) {
    osc::ChannelTraces traces;
    std::istringstream in(text);
    int c = 0;
    long long x = 0;
    int y = 0;
    while (in >> c >> x >> y) {
        traces[static_cast<std::size_t>(c)].add(x, static_cast<std::uint8_t>(y));
    }
    return traces;
}

// Whether a value text begins with a pattern of the same form, "??" standing for any byte.
bool startsLike(const std::string& text, const std::string& pattern) {
    if (text.size() < pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '?' && pattern[i] != text[i]) {
            return false;
        }
    }
    return true;
}

// Finds the first frame on a channel whose bytes begin like `expectedPrefix`: the line bits
// are read at the trace's points one bit period apart (1 for the upper level), a flag 01111110
// opens and closes a frame, and the bit-stream decoder runs between the two flags with stuffed
// bits removed. Returns its value text, or nothing when no frame decodes so.
std::optional<std::string> decodeFrameWith(const osc::ChannelTraces& traces, int channel,
                                           const std::string& expectedPrefix) {
    const osc::ChannelTrace& t = traces[static_cast<std::size_t>(channel)];
    std::vector<osc::Tick> xs;
    std::vector<int> bits;
    osc::Tick last = -1;
    for (std::size_t i = 0; i < t.count(); ++i) {
        if (t.x(i) - last >= osc::kTicksPerBit) {
            last = t.x(i);
            xs.push_back(last);
            bits.push_back((t.y(i) + 1) % 2);
        }
    }
    const std::vector<int> flag{0, 1, 1, 1, 1, 1, 1, 0};
    std::vector<std::size_t> flags;
    for (std::size_t i = 0; i + 8 <= bits.size(); ++i) {
        if (std::equal(flag.begin(), flag.end(), bits.begin() + static_cast<std::ptrdiff_t>(i))) {
            flags.push_back(i);
            i += 7;
        }
    }
    for (std::size_t k = 0; k + 1 < flags.size(); ++k) {
        const std::size_t start = flags[k] + 8;
        const std::size_t end = flags[k + 1];
        if (end <= start || end >= xs.size()) {
            continue;
        }
        osc::BitStreamOptions o;
        o.bitsPerGroup = 8;
        o.unstuff = true;
        const osc::BitStreamResult r = osc::DecodeBitStream(
            traces, channel, static_cast<double>(xs[start]), static_cast<double>(xs[end]), o);
        if (r.status == osc::BitStreamStatus::Decoded && startsLike(r.valueText, expectedPrefix)) {
            return r.valueText;
        }
    }
    return std::nullopt;
}

void checkRecording(const QString& file, const std::string& captureOut) {
    EXPECT_NE(captureOut.find("identity 02:00:"), std::string::npos) << captureOut;
    EXPECT_NE(captureOut.find("Datagrams dropped: 0"), std::string::npos) << captureOut;
    EXPECT_NE(captureOut.find("Bit periods captured: "), std::string::npos) << captureOut;

    // Every line is a sample datagram of 8 + 512 bytes ending in CR LF.
    const std::string text = osc::readWholeFile(file.toStdString());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.rfind("23 08 02 00 ", 0), 0u);
    EXPECT_EQ(text.find("\r\n"), 520u * 3);

    const clitest::Run replay = runCli({"traces", file});
    ASSERT_EQ(replay.exitCode, 0) << replay.err;
    const osc::ChannelTraces traces = parseTraces(replay.out);
    ASSERT_GT(traces[0].count(), 1000u);
    // "Hello" in the I frames of the stations 5 and 9 on the receive lines: the address, the
    // control field, 48 65 6C 6C 6F and the two bytes of the frame check.
    for (const auto& [channel, address] : {std::pair{2, "05"}, std::pair{3, "09"}}) {
        const auto values =
            decodeFrameWith(traces, channel, std::string(address) + " ?? 48 65 6C 6C 6F ");
        ASSERT_TRUE(values) << "no frame with the text on channel " << channel;
        EXPECT_EQ(values->size(), 9u * 3) << *values;
    }
    // The link set up on the transmit line: SNRM with P to each station.
    EXPECT_TRUE(decodeFrameWith(traces, 1, "05 93 "));
    EXPECT_TRUE(decodeFrameWith(traces, 1, "09 93 "));
}

TEST(CliCapture, AgainstSimOnLoopback) {
    QTemporaryDir dir;
    const quint16 port = static_cast<quint16>(20000 + ::getpid() % 20000);
    const QString portText = QString::number(port);
    SimProcess sim(cliPath(), {"sim", "--bind", "127.0.0.3", "--port", portText, "--text", "Hello",
                               "--bit-errors", "0.1", "--loss", "0.1", "--late", "0.1"});
    ASSERT_TRUE(sim.started());
    if (sim.listeningLine().find("listening") == std::string::npos) {
        GTEST_SKIP() << "port " << port << " is taken here";
    }
    EXPECT_NE(sim.listeningLine().find("02:00:7F:00:00:03 listening on 127.0.0.3:" +
                                       std::to_string(port)),
              std::string::npos)
        << sim.listeningLine();

    const QString file = dir.filePath("loopback.osc");
    const clitest::Run capture =
        runCli({"capture", "--device", "127.0.0.3", "--seconds", "1", "-o", file, "--bind",
                "127.0.0.2", "--port", portText, "--device-port", portText});
    ASSERT_EQ(capture.exitCode, 0) << capture.out << capture.err;
    checkRecording(file, capture.out);
    // The flipped bits asked for: bad frames among the good ones.
    const clitest::Run frames = runCli({"frames", file});
    ASSERT_EQ(frames.exitCode, 0) << frames.err;
    EXPECT_NE(frames.err.find(" bad (bad check "), std::string::npos) << frames.err;

    std::string simOut;
    EXPECT_EQ(sim.terminate(simOut), 0);
    EXPECT_NE(simOut.find("127.0.0.2:" + std::to_string(port) + " identity request (2 bytes)"),
              std::string::npos)
        << simOut;
    EXPECT_NE(simOut.find(" start (9 bytes)"), std::string::npos) << simOut;
    EXPECT_NE(simOut.find(" stop (9 bytes)"), std::string::npos) << simOut;
}

TEST(CliCapture, OnPort971InSeparateNetworkNamespaces) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "network namespaces need root";
    }
    NamespacePair ns;
    if (!ns.ready()) {
        GTEST_SKIP() << ns.why();
    }
    QTemporaryDir dir;
    SimProcess sim(QStringLiteral("ip"), ns.inDevice({cliPath(), "sim", "--text", "Hello"}));
    ASSERT_TRUE(sim.started());
    ASSERT_NE(sim.listeningLine().find("listening on 0.0.0.0:971"), std::string::npos)
        << sim.listeningLine();

    const QString file = dir.filePath("netns.osc");
    QProcess capture;
    capture.start(QStringLiteral("ip"), ns.inClient({cliPath(), "capture", "--device",
                                                     QString::fromStdString(ns.deviceIp()),
                                                     "--seconds", "1", "-o", file}));
    ASSERT_TRUE(capture.waitForFinished(20000));
    const std::string out = capture.readAllStandardOutput().toStdString();
    ASSERT_EQ(capture.exitCode(), 0) << out << capture.readAllStandardError().toStdString();
    checkRecording(file, out);

    std::string simOut;
    EXPECT_EQ(sim.terminate(simOut), 0);
    EXPECT_NE(simOut.find(":971 start (9 bytes)"), std::string::npos) << simOut;
}

TEST(CliCapture, FailuresExitWithOneAndSayWhy) {
    QTemporaryDir dir;
    const QString file = dir.filePath("never.osc");
    struct Row {
        const char* name;
        QStringList args;
        const char* message;
    };
    const std::vector<Row> rows{
        {"unresolvable device",
         {"capture", "--device", "rtu.invalid", "--seconds", "1", "-o", file, "--port", "0"},
         "Cannot resolve host name 'rtu.invalid'"},
        {"port of an address that is not ours",
         {"capture", "--device", "127.0.0.1", "--seconds", "1", "-o", file, "--bind", "192.0.2.1",
          "--port", "0"},
         "cannot open the UDP port: Cannot bind UDP port 0 on 192.0.2.1: "},
    };
    for (const Row& row : rows) {
        const clitest::Run r = runCli(row.args);
        EXPECT_EQ(r.exitCode, 1) << row.name;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << row.name << ": " << r.err;
    }
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(runCli({"capture", "--device", "x", "-o", file}).exitCode, 2);
    EXPECT_EQ(runCli({"sim", "--bit-rate", "0"}).exitCode, 2);
    EXPECT_EQ(runCli({"sim", "--mac", "00:11:22:33:44"}).exitCode, 2);
    for (const auto& [option, value] :
         {std::pair{"--loss", "1.5"}, std::pair{"--bit-errors", "-0.1"}, std::pair{"--late", "x"},
          std::pair{"--loss", "nan"}, std::pair{"--late", ""}}) {
        const clitest::Run r = runCli({"sim", option, value});
        EXPECT_EQ(r.exitCode, 2) << option << " " << value;
        EXPECT_NE(r.err.find(std::string(option) + " takes a share from 0 to 1, such as 0.02."),
                  std::string::npos)
            << r.err;
    }
}

// A sim on loopback at a port of this test's own; nothing when the port is taken.
struct LoopbackSim {
    quint16 port = 0;
    std::unique_ptr<SimProcess> sim;
};
LoopbackSim startLoopbackSim(int offset, const QStringList& extra = {}) {
    LoopbackSim s;
    s.port = static_cast<quint16>(20000 + (::getpid() + offset) % 20000);
    s.sim = std::make_unique<SimProcess>(
        cliPath(), QStringList{"sim", "--bind", "127.0.0.3", "--port", QString::number(s.port),
                               "--text", "Hello"} +
                       extra);
    if (!s.sim->started() || s.sim->listeningLine().find("listening") == std::string::npos) {
        s.sim.reset();
    }
    return s;
}

QStringList captureArgs(const LoopbackSim& s, const QString& file, const QString& seconds) {
    const QString port = QString::number(s.port);
    return {"capture", "--device",  "127.0.0.3", "--seconds", seconds,         "-o", file,
            "--bind",  "127.0.0.2", "--port",    port,        "--device-port", port};
}

// Waits until the whole lines of an .osc file being written reach `count`; false when they have
// not after a long while (a broken program, not a measurement).
bool waitForLines(const QString& file, std::size_t count) {
    for (int i = 0; i < 3000; ++i) {
        if (QFile::exists(file) && inspectLines(file) >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// N of the sim's "Stopped by signal S after N sample datagrams".
std::size_t streamedCount(const std::string& simOut) {
    const std::string key = " after ";
    const std::size_t at = simOut.rfind(key);
    return at == std::string::npos ? 0 : std::stoul(simOut.substr(at + key.size()));
}

TEST(CliCapture, AKilledCaptureLeavesAValidPartFileWithAllButTheLastSecond) {
    QTemporaryDir dir;
    LoopbackSim s = startLoopbackSim(1);
    if (!s.sim) {
        GTEST_SKIP() << "port " << s.port << " is taken here";
    }
    const QString file = dir.filePath("killed.osc");
    const QString part = file + ".part";
    QProcess capture;
    capture.start(cliPath(), captureArgs(s, file, "60"));
    ASSERT_TRUE(capture.waitForStarted(5000));
    ASSERT_TRUE(s.sim->waitForLine(" start (9 bytes)", 10000));
    // The device streams until it is stopped and says how many datagrams it sent; the capture,
    // which has no end in sight, has them all in its file within a moment.
    ASSERT_TRUE(waitForLines(part, 150));
    std::string simOut;
    ASSERT_EQ(s.sim->terminate(simOut), 0);
    const std::size_t sent = streamedCount(simOut);
    ASSERT_GE(sent, 150u) << simOut;
    ASSERT_TRUE(waitForLines(part, sent));
    ::kill(static_cast<pid_t>(capture.processId()), SIGKILL);
    ASSERT_TRUE(capture.waitForFinished(5000));
    EXPECT_EQ(capture.exitStatus(), QProcess::CrashExit);
    EXPECT_FALSE(QFile::exists(file)) << "only a finished capture replaces the file";

    // Every datagram the device sent is there, in whole lines, and nothing else.
    std::string text = osc::readWholeFile(part.toStdString());
    text.resize(text.rfind("\r\n") + 2);  // a line cut by the kill itself does not count
    std::size_t lines = 0;
    for (std::size_t pos = 0; pos < text.size(); pos += 520 * 3 + 2, ++lines) {
        ASSERT_EQ(text.compare(pos, 6, "23 08 "), 0) << "line " << lines;
        ASSERT_EQ(text.compare(pos + 520 * 3, 2, "\r\n"), 0) << "line " << lines;
    }
    const std::size_t due = sent;
    EXPECT_GE(lines, due) << simOut;
    EXPECT_LE(lines, sent);
    const clitest::Run replay = runCli({"traces", part});
    EXPECT_EQ(replay.exitCode, 0) << replay.err;

    // Started again, it names what the killed one left rather than replacing it; --force does.
    s = startLoopbackSim(1);
    if (!s.sim) {
        GTEST_SKIP() << "port " << s.port << " was taken meanwhile";
    }
    const clitest::Run again = runCli(captureArgs(s, file, "1"));
    EXPECT_EQ(again.exitCode, 1);
    const std::string count = std::to_string(inspectLines(part));
    EXPECT_NE(again.err.find(part.toStdString() + " holds an earlier recording of " + count +
                             " datagrams"),
              std::string::npos)
        << again.err;
    EXPECT_NE(again.err.find("give --force to replace it"), std::string::npos) << again.err;
    const clitest::Run forced = runCli(captureArgs(s, file, "1") << "--force");
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_FALSE(QFile::exists(part));
}

TEST(CliCapture, MemoryLimitStopsTheCaptureCleanlyWithEverythingKept) {
    QTemporaryDir dir;
    LoopbackSim s = startLoopbackSim(2, {"--bit-rate", "100000"});
    if (!s.sim) {
        GTEST_SKIP() << "port " << s.port << " is taken here";
    }
    const QString file = dir.filePath("ceiling.osc");
    const clitest::Run r = runCli(captureArgs(s, file, "30") << "--memory-limit"
                                                             << "64K");
    ASSERT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_NE(r.err.find("stopped early: the traces hold "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("could pass the memory limit of 64 KiB; " + file.toStdString() +
                         " holds every datagram received"),
              std::string::npos)
        << r.err;
    const std::size_t received = r.out.find("Datagrams received: ");
    ASSERT_NE(received, std::string::npos) << r.out;
    const std::size_t datagrams = std::stoul(r.out.substr(received + 20));
    EXPECT_GT(datagrams, 0u);
    EXPECT_LT(datagrams, 30u * 781) << "stopped well before the time was up";
    EXPECT_EQ(inspectLines(file), datagrams) << "every datagram received is in the file";
    EXPECT_FALSE(QFile::exists(file + ".part"));
    EXPECT_EQ(runCli({"traces", file}).exitCode, 0);

    const clitest::Run bad = runCli(captureArgs(s, file, "1") << "--memory-limit"
                                                              << "lots");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("--memory-limit takes a size such as 512M or 2G, not 'lots'."),
              std::string::npos)
        << bad.err;
}

// A device that falls silent is told once on stderr; SIGINT ends the capture with its file in
// place, every datagram the device sent in it, and the status 128 + SIGINT.
TEST(CliCapture, ASilentDeviceIsToldAndSigintEndsTheCaptureWithItsFile) {
    QTemporaryDir dir;
    LoopbackSim s = startLoopbackSim(5);
    if (!s.sim) {
        GTEST_SKIP() << "port " << s.port << " is taken here";
    }
    const QString file = dir.filePath("silent.osc");
    QProcess capture;
    capture.start(cliPath(), captureArgs(s, file, "600"));
    ASSERT_TRUE(capture.waitForStarted(5000));
    ASSERT_TRUE(s.sim->waitForLine(" start (9 bytes)", 10000));
    ASSERT_TRUE(waitForLines(file + ".part", 10));
    std::string simOut;
    ASSERT_EQ(s.sim->terminate(simOut), 0);
    const std::size_t sent = streamedCount(simOut);

    const std::string warning =
        "morvelip-osc-cli capture: warning: no datagram from the device 127.0.0.3 for 2 s\n";
    std::string err;
    for (int i = 0; i < 600 && err.find(warning) == std::string::npos; ++i) {
        capture.waitForReadyRead(50);
        err += capture.readAllStandardError().toStdString();
    }
    ASSERT_NE(err.find(warning), std::string::npos) << err;
    ::kill(static_cast<pid_t>(capture.processId()), SIGINT);
    ASSERT_TRUE(capture.waitForFinished(10000));
    err += capture.readAllStandardError().toStdString();
    EXPECT_EQ(capture.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(capture.exitCode(), 128 + SIGINT) << err;
    EXPECT_EQ(err, warning + "morvelip-osc-cli capture: stopped early by SIGINT; " +
                       file.toStdString() + " holds what was received\n");
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_FALSE(QFile::exists(file + ".part"));
    EXPECT_EQ(inspectLines(file), sent);
    const std::string out = capture.readAllStandardOutput().toStdString();
    EXPECT_NE(out.find("Datagrams written: " + std::to_string(sent) + "\n"), std::string::npos)
        << out;
}

// A sender of datagrams on a loopback address of its own (port chosen by the system, unless
// given).
class LoopbackSender {
  public:
    explicit LoopbackSender(const char* ip, std::uint16_t port = 0)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in local = address(ip, port);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    ~LoopbackSender() { ::close(fd_); }
    LoopbackSender(const LoopbackSender&) = delete;
    LoopbackSender& operator=(const LoopbackSender&) = delete;
    bool bound() const { return bound_; }
    // Sends until the socket takes it (a full send buffer is waited out); false on an error.
    bool send(const char* ip, std::uint16_t port, const std::vector<std::uint8_t>& bytes) {
        const sockaddr_in to = address(ip, port);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                        sizeof to) == static_cast<ssize_t>(bytes.size());
    }

  private:
    static sockaddr_in address(const char* ip, std::uint16_t port) {
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port);
        ::inet_pton(AF_INET, ip, &sin.sin_addr);
        return sin;
    }
    int fd_;
    bool bound_ = false;
};

// The numbers of capture's summary.
struct Summary {
    std::uint64_t received = 0, fromDevice = 0, foreign = 0, written = 0, dropped = 0;
    std::uint64_t kernel = 0, queue = 0, empty = 0, oversize = 0, slowDisk = 0, unread = 0;
};
std::optional<Summary> parseSummary(const std::string& out) {
    Summary s;
    std::smatch m;
    static const std::regex all(R"(Datagrams received: (\d+) \(\d+ bytes\), all from the device)");
    static const std::regex mixed(
        R"(Datagrams received: (\d+): (\d+) from the device, (\d+) from other senders)");
    static const std::regex written(R"(Datagrams written: (\d+))");
    static const std::regex dropped(
        R"(Datagrams dropped: (\d+) \(receive buffer full (\d+), queue full (\d+), empty (\d+), )"
        R"(longer than 8192 bytes (\d+), disk too slow (\d+), unread at the end (\d+)\))");
    const auto n = [&m](int i) { return std::stoull(m[i].str()); };
    if (std::regex_search(out, m, mixed)) {
        s = {n(1), n(2), n(3)};
    } else if (std::regex_search(out, m, all)) {
        s.received = s.fromDevice = n(1);
    } else {
        return std::nullopt;
    }
    if (!std::regex_search(out, m, written)) {
        return std::nullopt;
    }
    s.written = n(1);
    if (!std::regex_search(out, m, dropped)) {
        return std::nullopt;
    }
    s.dropped = n(1);
    s.kernel = n(2);
    s.queue = n(3);
    s.empty = n(4);
    s.oversize = n(5);
    s.slowDisk = n(6);
    s.unread = n(7);
    return s;
}

// A capture of the sim over loopback while others write into its port: spoofed sample
// datagrams and identity replies from a second loopback address and from the device's address
// at another port, and a flood of random datagrams. Only the device's datagrams reach the file,
// all of them; the others are counted; the counts add up; the device's identity stays (the sim
// obeys the stop command, which carries it). With --accept-any the others are recorded too, and
// the identity still stays the device's.
TEST(CliCapture, OnlyTheDevicesDatagramsAreRecordedWhateverElseArrives) {
    QTemporaryDir dir;
    for (const bool acceptAny : {false, true}) {
        SCOPED_TRACE(acceptAny ? "--accept-any" : "the device only");
        LoopbackSim s = startLoopbackSim(3 + (acceptAny ? 1 : 0));
        if (!s.sim) {
            GTEST_SKIP() << "port " << s.port << " is taken here";
        }
        const QString file = dir.filePath(acceptAny ? "any.osc" : "device.osc");
        QStringList args = captureArgs(s, file, "2");
        if (acceptAny) {
            args << "--accept-any";
        }
        QProcess capture;
        capture.start(cliPath(), args);
        ASSERT_TRUE(capture.waitForStarted(5000));
        ASSERT_TRUE(s.sim->waitForLine(" start (9 bytes)", 10000));

        LoopbackSender stranger("127.0.0.4");
        LoopbackSender impostor("127.0.0.3");  // the device's address, another port
        ASSERT_TRUE(stranger.bound() && impostor.bound());
        std::mt19937 random(acceptAny ? 2 : 1);
        std::uint64_t sent = 0;
        const auto send = [&](LoopbackSender& from, const std::vector<std::uint8_t>& d) {
            sent += from.send("127.0.0.2", s.port, d) ? 1 : 0;
        };
        const std::vector<std::uint8_t> spoofedSample{0x23, 0x08, 0, 0, 0, 0, 0, 0, 0xD4, 0x10};
        const std::vector<std::uint8_t> spoofedId{0x47, 0x00, 0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
        for (int i = 0; i < 100; ++i) {
            send(stranger, spoofedSample);
            send(impostor, spoofedSample);
            send(i % 2 ? stranger : impostor, spoofedId);
        }
        for (int i = 0; i < 20000; ++i) {
            std::vector<std::uint8_t> d(1 + random() % 512);
            for (std::uint8_t& b : d) {
                b = static_cast<std::uint8_t>(random());
            }
            send(stranger, d);
            if (i % 500 == 0) {
                std::this_thread::yield();
            }
        }
        ASSERT_TRUE(capture.waitForFinished(30000));
        const std::string out = capture.readAllStandardOutput().toStdString();
        const std::string err = capture.readAllStandardError().toStdString();
        ASSERT_EQ(capture.exitCode(), 0) << out << err;
        std::string simOut;
        ASSERT_EQ(s.sim->terminate(simOut), 0);
        EXPECT_NE(simOut.find(" stop (9 bytes)"), std::string::npos)
            << "the stop command carried another identity: " << simOut;
        EXPECT_NE(out.find("identity 02:00:7F:00:00:03"), std::string::npos) << out;

        const std::optional<Summary> sum = parseSummary(out);
        ASSERT_TRUE(sum) << out;
        EXPECT_EQ(sum->received, sum->fromDevice + sum->foreign);
        // Every datagram that reached the socket was received or counted dropped.
        EXPECT_LE(sum->foreign, sent);
        EXPECT_GE(sum->foreign + sum->kernel + sum->queue + sum->unread, sent) << out;
        EXPECT_EQ(sum->empty + sum->oversize, 0u);
        EXPECT_EQ(sum->slowDisk, 0u);
        EXPECT_EQ(sum->written, acceptAny ? sum->received : sum->fromDevice) << out;
        EXPECT_EQ(inspectLines(file), sum->written);
        if (!acceptAny) {
            EXPECT_NE(out.find("from other senders (left out; the last from 127.0.0."),
                      std::string::npos)
                << out;
            // Only the sim's sample datagrams: 8 + 512 bytes each, CR LF.
            const std::string text = osc::readWholeFile(file.toStdString());
            ASSERT_EQ(text.size() % (520 * 3 + 2), 0u);
            for (std::size_t pos = 0; pos < text.size(); pos += 520 * 3 + 2) {
                ASSERT_EQ(text.compare(pos, 12, "23 08 02 00 "), 0) << "at " << pos;
            }
            EXPECT_EQ(runCli({"traces", file}).exitCode, 0);
        }
    }
}

}  // namespace
