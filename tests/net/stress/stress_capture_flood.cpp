// A capture of a simulated device under a flood: `morvelip-osc-cli capture` records the device
// on 127.0.0.3 for SECONDS while another process sends DATAGRAMS random datagrams (random
// lengths 1 to MAX bytes, random bytes) from 127.0.0.4 into the capture's port, as fast as it
// can or at RATE a second. Reports what the capture printed, how long it ran, how many
// datagrams the device sent before it was stopped and how many the file holds, and checks that
// every one of the device's is there, the capture ended on time and the counts add up.
//   stress_capture_flood CLI [SECONDS [DATAGRAMS [MAX [RATE [--accept-any]]]]]

#include <fcntl.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "netsim/udp_device_server.h"
#include "tests/net/stress/stress_common.h"

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t number(const std::string& text, const std::string& pattern) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern)) ? std::stoull(m[1].str()) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CLI [SECONDS [DATAGRAMS [MAX [RATE [--accept-any]]]]]\n",
                     argv[0]);
        return 2;
    }
    const std::string cli = argv[1];
    const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    const long datagrams = argc > 3 ? std::atol(argv[3]) : 1'000'000;
    const std::size_t maxLength = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 1400;
    const double rate = argc > 5 ? std::atof(argv[5]) : 0;
    const bool acceptAny = argc > 6 && std::strcmp(argv[6], "--accept-any") == 0;

    osc::net::DeviceServerOptions d;
    d.endpoint.bindAddress = "127.0.0.3";
    d.endpoint.port = 0;
    osc::net::UdpDeviceServer device(d);
    std::atomic<bool> started{false};
    std::atomic<std::uint64_t> sentBeforeStop{0};
    std::atomic<std::int64_t> startNs{0};
    std::atomic<std::int64_t> stopNs{0};
    const auto ns = [] { return Clock::now().time_since_epoch().count(); };
    device.setCommandObserver([&](const osc::net::DeviceCommandEvent& e) {
        if (e.kind == osc::sim::CommandKind::Start) {
            startNs = ns();
            started = true;
        } else if (e.kind == osc::sim::CommandKind::Stop) {
            stopNs = ns();
            sentBeforeStop = device.datagramsStreamed();
        }
    });
    device.start();
    const std::uint16_t port = device.localPort();
    const std::string portText = std::to_string(port);
    char folder[] = "/tmp/capture-flood-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string file = std::string(folder) + "/flood.osc";
    const std::string output = std::string(folder) + "/capture.out";

    const auto begin = Clock::now();
    const pid_t capture = ::fork();
    if (capture == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<std::string> args{
            cli,      "capture", "--device",      "127.0.0.3", "--bind",    "127.0.0.2",
            "--port", portText,  "--device-port", portText,    "--seconds", std::to_string(seconds),
            "-o",     file};
        if (acceptAny) {
            args.push_back("--accept-any");
        }
        std::vector<char*> argvv;
        for (std::string& a : args) {
            argvv.push_back(a.data());
        }
        argvv.push_back(nullptr);
        ::execv(cli.c_str(), argvv.data());
        std::perror("execv");
        ::_exit(127);
    }
    while (!started) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const pid_t flood = stress::spawn([=] {
        const int fd = stress::senderSocket("127.0.0.4");
        const sockaddr_in to = stress::loopback("127.0.0.2", port);
        std::mt19937_64 rng(4711);
        std::vector<std::uint8_t> buf(maxLength);
        long sent = 0;
        long failed = 0;
        const auto t0 = Clock::now();
        for (long i = 0; i < datagrams; ++i) {
            const std::size_t length = 1 + rng() % maxLength;
            for (std::size_t k = 0; k < length; k += 8) {
                const std::uint64_t r = rng();
                std::memcpy(buf.data() + k, &r, std::min<std::size_t>(8, length - k));
            }
            if (::sendto(fd, buf.data(), length, 0, reinterpret_cast<const sockaddr*>(&to),
                         sizeof to) == static_cast<ssize_t>(length)) {
                ++sent;
            } else {
                ++failed;
            }
            if (rate > 0 && i % 64 == 0) {
                std::this_thread::sleep_until(t0 + std::chrono::duration<double>(i / rate));
            }
        }
        std::printf("flood: %ld datagrams sent in %.2f s (%ld failed sends)\n", sent,
                    std::chrono::duration<double>(Clock::now() - t0).count(), failed);
        return 0;
    });
    int status = 0;
    ::waitpid(capture, &status, 0);
    const double ran = static_cast<double>(stopNs - startNs) / 1e9;  // start to stop command
    const double total = std::chrono::duration<double>(Clock::now() - begin).count();
    stress::waitFor(flood);
    device.stop();

    const std::string text = osc::readWholeFile(output);
    std::printf("%s", text.c_str());
    std::uint64_t lines = 0;
    try {
        lines = osc::inspectOscLines(file).datagrams;
    } catch (const osc::FileError&) {
        // no file: no lines
    }
    const std::uint64_t received = number(text, R"(Datagrams received: (\d+))");
    std::uint64_t fromDevice = number(text, R"(: (\d+) from the device)");
    if (text.find("all from the device") != std::string::npos) {
        fromDevice = received;
    }
    const std::uint64_t foreign = number(text, R"((\d+) from other senders)");
    const std::uint64_t written = number(text, R"(Datagrams written: (\d+))");
    const std::uint64_t slow = number(text, R"(disk too slow (\d+))");
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::printf(
        "capture: exit %d, %.3f s from its start command to its stop command (%.3f s in all)\n"
        "device: %llu datagrams sent before the stop command arrived, %llu in all\n"
        "file: %llu lines\n",
        exitCode, ran, total, static_cast<unsigned long long>(sentBeforeStop.load()),
        static_cast<unsigned long long>(device.datagramsStreamed()),
        static_cast<unsigned long long>(lines));
    const bool deviceKept = fromDevice >= sentBeforeStop.load();
    const bool onTime = ran < seconds + 0.1;
    const bool addsUp = received == fromDevice + foreign && lines == written &&
                        received == written + slow + (acceptAny ? 0 : foreign);
    std::printf("every device datagram kept: %s; ended on time: %s; counts add up: %s\n",
                deviceKept ? "yes" : "NO", onTime ? "yes" : "NO", addsUp ? "yes" : "NO");
    const bool ok = exitCode == 0 && deviceKept && onTime && addsUp;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    std::string rm = std::string("rm -rf ") + folder;
    return std::system(rm.c_str()) == 0 && ok ? 0 : 1;
}
