// morvelip-osc-cli capture: records a capture from a device into an oscillogram file, as the
// window makes one with tracing on: identity request, start command, every datagram received
// for the given time as a trace line, stop command, the trace saved.

#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/replay.h"
#include "core/capture_engine.h"
#include "core/datagram.h"
#include "core/osc_file.h"
#include "net/udp_endpoint.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

volatile sig_atomic_t gInterrupted = 0;
void onInterrupt(int) {
    gInterrupted = 1;
}

// Wakes the capturing thread when the endpoint has datagrams waiting.
class Waiter {
  public:
    void notify() {
        std::lock_guard lock(mutex_);
        ready_ = true;
        cv_.notify_all();
    }
    void waitUntil(Clock::time_point until) {
        std::unique_lock lock(mutex_);
        cv_.wait_until(lock, until, [this] { return ready_; });
        ready_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool ready_ = false;
};

bool parsePort(const QString& text, std::uint16_t& port) {
    bool ok = false;
    const uint v = text.toUInt(&ok);
    if (!ok || v > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(v);
    return true;
}

}  // namespace

int runCapture(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Records a capture from a device into an oscillogram file: sends the identity request "
        "and waits up to 2 s for the reply (without one the commands carry six zero bytes), "
        "sends the start command, records every datagram received for the given time as one "
        "trace line, sends the stop command and writes the file."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("The device's address (IPv4 or host name)."),
                                    QStringLiteral("ADDR"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("How long to record."), QStringLiteral("S"));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The .osc file to write."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Local UDP port (default 971)."),
                                  QStringLiteral("P"), QStringLiteral("971"));
    const QCommandLineOption devicePort(QStringLiteral("device-port"),
                                        QStringLiteral("The device's UDP port (default 971)."),
                                        QStringLiteral("P"), QStringLiteral("971"));
    const QCommandLineOption bind(QStringLiteral("bind"),
                                  QStringLiteral("Local address (default: all)."),
                                  QStringLiteral("ADDR"));
    parser.addOptions({device, seconds, output, port, devicePort, bind});
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(parser, args, QStringLiteral("No arguments are taken."));
    }
    if (!parser.isSet(device) || !parser.isSet(seconds) || !parser.isSet(output)) {
        return usageError(parser, args, QStringLiteral("--device, --seconds and -o are needed."));
    }
    bool ok = false;
    const double duration = parser.value(seconds).toDouble(&ok);
    if (!ok || !(duration > 0) || duration > 86400 * 7) {
        return usageError(parser, args, QStringLiteral("--seconds takes a positive number."));
    }
    osc::net::UdpEndpointOptions options;
    if (!parsePort(parser.value(port), options.port) ||
        !parsePort(parser.value(devicePort), options.devicePort)) {
        return usageError(parser, args, QStringLiteral("A port is 0 to 65535."));
    }
    options.bindAddress = parser.value(bind).toStdString();
    const std::string address = parser.value(device).toStdString();
    const std::string outputPath = localPath(parser.value(output));
    const std::string name = args.value(0).toStdString();
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;

    struct sigaction interrupt {};
    interrupt.sa_handler = onInterrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, nullptr);
    sigaction(SIGTERM, &interrupt, nullptr);

    osc::net::UdpEndpoint endpoint(options);
    Waiter waiter;
    endpoint.setReadyCallback([&waiter] { waiter.notify(); });
    std::string trace;
    osc::CaptureEngine engine;
    std::uint64_t datagrams = 0;
    std::uint64_t bytes = 0;
    osc::DeviceId id{};
    try {
        endpoint.activate();
    } catch (const osc::net::EndpointError& e) {
        std::fprintf(stderr, "%s: cannot open the UDP port: %s\n", name.c_str(), e.what());
        return 1;
    }
    try {
        endpoint.send(address, osc::identityRequest());
        std::vector<std::uint8_t> datagram;
        bool identified = false;
        const Clock::time_point idUntil = Clock::now() + 2s;
        while (!identified && Clock::now() < idUntil && !gInterrupted) {
            while (endpoint.takeReceived(datagram)) {
                if (osc::classifyDatagram(datagram) == osc::DatagramKind::IdentityReply) {
                    id = osc::identityOf(datagram);
                    identified = true;
                }
            }
            if (!identified) {
                waiter.waitUntil(std::min(idUntil, Clock::now() + 100ms));
            }
        }
        if (identified) {
            std::printf("Device %s identity %s\n", address.c_str(), osc::deviceIdText(id).c_str());
        } else {
            std::printf("No identity reply from %s within 2 s; going on with 00:00:00:00:00:00\n",
                        address.c_str());
        }
        std::fflush(stdout);

        engine.resetTimeBase();
        engine.restartTraces();
        endpoint.send(address, osc::startCommand(id));
        const Clock::time_point begin = Clock::now();
        const Clock::time_point until = begin + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(duration));
        Clock::time_point nextProgress = begin;
        while (!gInterrupted) {
            while (endpoint.takeReceived(datagram)) {
                osc::appendTraceLine(trace, datagram);
                trace += "\r\n";
                engine.decodeDatagram(datagram);
                ++datagrams;
                bytes += datagram.size();
            }
            const Clock::time_point now = Clock::now();
            if (now >= until) {
                break;
            }
            if (terminal && now >= nextProgress) {
                std::printf("\r%.1f s  %llu datagrams  %llu bytes ",
                            std::chrono::duration<double>(now - begin).count(),
                            static_cast<unsigned long long>(datagrams),
                            static_cast<unsigned long long>(bytes));
                std::fflush(stdout);
                nextProgress = now + 250ms;
            }
            waiter.waitUntil(std::min(until, now + 100ms));
        }
        if (terminal) {
            std::printf("\n");
        }
        endpoint.send(address, osc::stopCommand(id));
    } catch (const osc::net::EndpointError& e) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
        return 1;
    }

    const osc::net::EndpointStats s = endpoint.stats();
    const std::uint64_t dropped = s.droppedEmpty + s.droppedOversize + s.droppedQueueFull;
    std::printf("Datagrams received: %llu (%llu bytes)\n",
                static_cast<unsigned long long>(datagrams), static_cast<unsigned long long>(bytes));
    std::printf(
        "Datagrams dropped: %llu (empty %llu, longer than 8192 bytes %llu, queue full "
        "%llu); receive errors: %llu\n",
        static_cast<unsigned long long>(dropped), static_cast<unsigned long long>(s.droppedEmpty),
        static_cast<unsigned long long>(s.droppedOversize),
        static_cast<unsigned long long>(s.droppedQueueFull),
        static_cast<unsigned long long>(s.receiveErrors));
    std::printf("Bit periods captured: %lld\n",
                static_cast<long long>(engine.state.FTimeBase / osc::kTicksPerBit));
    std::fflush(stdout);
    if (trace.empty()) {
        std::fprintf(stderr, "%s: no datagram was received; %s not written\n", name.c_str(),
                     outputPath.c_str());
        return 1;
    }
    try {
        osc::writeFileAtomically(outputPath, trace);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
        return 1;
    }
    std::printf("Written %s\n", outputPath.c_str());
    return 0;
}

}  // namespace cli
