// morvelip-osc-cli capture: records a capture from a device into an oscillogram file, as the
// window makes one with tracing on: identity request, start command, every datagram received
// for the given time as a trace line, stop command. The lines go to FILE.part as they arrive
// (out at least every 200 ms), which is renamed over FILE at the end: a killed capture leaves
// a valid .osc file with all but its last moments.

#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/replay.h"
#include "core/capture/capture_engine.h"
#include "core/capture/memory_ceiling.h"
#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "core/files/streamed_osc_file.h"
#include "core/protocol/datagram.h"
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

struct CaptureOptions {
    std::string name;  // "morvelip-osc-cli capture", for messages
    std::string address;
    std::string outputPath;
    double seconds = 0;
    std::uint64_t memoryLimit = 0;
    bool memoryLimitGiven = false;
    bool force = false;
    osc::net::UdpEndpointOptions endpoint;
};

// What the recording came to.
struct CaptureResult {
    osc::DeviceId id{};
    bool identified = false;
    std::uint64_t datagrams = 0;
    std::uint64_t bytes = 0;
    std::int64_t bitPeriods = 0;
    osc::net::EndpointStats stats;
    bool memoryStop = false;
    std::uint64_t memoryHeld = 0;
    std::string sendError;  // a failed command after the file was opened
};

// -1 to go on, else the exit status (help, usage error).
int parseCaptureOptions(const QStringList& args, CaptureOptions& o) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Records a capture from a device into an oscillogram file: sends the identity request "
        "and waits up to 2 s for the reply (without one the commands carry six zero bytes), "
        "sends the start command, records every datagram received for the given time as one "
        "trace line, sends the stop command and puts the file in place. The lines go to "
        "FILE.part as they arrive, a valid oscillogram file even after a kill, which replaces "
        "FILE at the end. The capture stops early, keeping everything received, before its "
        "memory could pass the limit."));
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
    const QCommandLineOption memoryLimit(
        QStringLiteral("memory-limit"),
        QStringLiteral("Memory the capture may use, e.g. 512M or 2G (default: half of what the "
                       "system can give)."),
        QStringLiteral("SIZE"));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("Replace a FILE.part that an earlier, killed capture left behind."));
    parser.addOptions({device, seconds, output, port, devicePort, bind, memoryLimit, force});
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
    o.seconds = parser.value(seconds).toDouble(&ok);
    if (!ok || !(o.seconds > 0) || o.seconds > 86400 * 7) {
        return usageError(parser, args, QStringLiteral("--seconds takes a positive number."));
    }
    if (!parsePort(parser.value(port), o.endpoint.port) ||
        !parsePort(parser.value(devicePort), o.endpoint.devicePort)) {
        return usageError(parser, args, QStringLiteral("A port is 0 to 65535."));
    }
    if (parser.isSet(memoryLimit)) {
        const auto limit = osc::parseMemorySize(parser.value(memoryLimit).toStdString());
        if (!limit) {
            return usageError(parser, args,
                              QStringLiteral("--memory-limit takes a size such as 512M or 2G, "
                                             "not '%1'.")
                                  .arg(parser.value(memoryLimit)));
        }
        o.memoryLimit = *limit;
        o.memoryLimitGiven = true;
    }
    o.force = parser.isSet(force);
    o.endpoint.bindAddress = parser.value(bind).toStdString();
    o.address = parser.value(device).toStdString();
    o.outputPath = localPath(parser.value(output));
    o.name = args.value(0).toStdString();
    return -1;
}

void installInterruptHandlers() {
    struct sigaction interrupt {};
    interrupt.sa_handler = onInterrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, nullptr);
    sigaction(SIGTERM, &interrupt, nullptr);
    // A file size limit ends the writing with an error, not the program.
    signal(SIGXFSZ, SIG_IGN);
}

// The identity request and up to 2 s for the reply.
void identify(osc::net::UdpEndpoint& endpoint, Waiter& waiter, const CaptureOptions& o,
              CaptureResult& r) {
    endpoint.send(o.address, osc::identityRequest());
    std::vector<std::uint8_t> datagram;
    const Clock::time_point until = Clock::now() + 2s;
    while (!r.identified && Clock::now() < until && !gInterrupted) {
        while (endpoint.takeReceived(datagram)) {
            if (osc::classifyDatagram(datagram) == osc::DatagramKind::IdentityReply) {
                r.id = osc::identityOf(datagram);
                r.identified = true;
            }
        }
        if (!r.identified) {
            waiter.waitUntil(std::min(until, Clock::now() + 100ms));
        }
    }
    if (r.identified) {
        std::printf("Device %s identity %s\n", o.address.c_str(), osc::deviceIdText(r.id).c_str());
    } else {
        std::printf("No identity reply from %s within 2 s; going on with 00:00:00:00:00:00\n",
                    o.address.c_str());
    }
    std::fflush(stdout);
}

// Start command, every datagram into the file and the engine until the time is up, an
// interrupt, the memory ceiling or a failed write, then the stop command.
void record(osc::net::UdpEndpoint& endpoint, Waiter& waiter, const CaptureOptions& o,
            osc::StreamedOscFile& out, CaptureResult& r) {
    osc::CaptureEngine engine;
    const osc::MemoryCeiling ceiling(o.memoryLimit);
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    engine.resetTimeBase();
    engine.restartTraces();
    endpoint.send(o.address, osc::startCommand(r.id));
    const Clock::time_point begin = Clock::now();
    const Clock::time_point until = begin + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(o.seconds));
    Clock::time_point nextProgress = begin;
    std::vector<std::uint8_t> datagram;
    while (!gInterrupted && !r.memoryStop && !out.failed()) {
        while (endpoint.takeReceived(datagram)) {
            out.append(datagram);
            engine.decodeDatagram(datagram);
            ++r.datagrams;
            r.bytes += datagram.size();
            r.memoryHeld = osc::traceMemoryBytes(engine.traces);
            if (ceiling.mustStop(r.memoryHeld)) {
                r.memoryStop = true;
                break;
            }
        }
        const Clock::time_point now = Clock::now();
        if (now >= until) {
            break;
        }
        if (terminal && now >= nextProgress) {
            std::printf("\r%.1f s  %llu datagrams  %llu bytes ",
                        std::chrono::duration<double>(now - begin).count(),
                        static_cast<unsigned long long>(r.datagrams),
                        static_cast<unsigned long long>(r.bytes));
            std::fflush(stdout);
            nextProgress = now + 250ms;
        }
        waiter.waitUntil(std::min(until, now + 100ms));
    }
    if (terminal) {
        std::printf("\n");
    }
    r.bitPeriods = engine.state.FTimeBase / osc::kTicksPerBit;
    try {
        endpoint.send(o.address, osc::stopCommand(r.id));
    } catch (const osc::net::EndpointError& e) {
        r.sendError = e.what();  // what was received is kept all the same
    }
    r.stats = endpoint.stats();
}

void printSummary(const CaptureResult& r) {
    const osc::net::EndpointStats& s = r.stats;
    const std::uint64_t dropped = s.droppedEmpty + s.droppedOversize + s.droppedQueueFull;
    std::printf("Datagrams received: %llu (%llu bytes)\n",
                static_cast<unsigned long long>(r.datagrams),
                static_cast<unsigned long long>(r.bytes));
    std::printf(
        "Datagrams dropped: %llu (empty %llu, longer than 8192 bytes %llu, queue full "
        "%llu); receive errors: %llu\n",
        static_cast<unsigned long long>(dropped), static_cast<unsigned long long>(s.droppedEmpty),
        static_cast<unsigned long long>(s.droppedOversize),
        static_cast<unsigned long long>(s.droppedQueueFull),
        static_cast<unsigned long long>(s.receiveErrors));
    std::printf("Bit periods captured: %lld\n", static_cast<long long>(r.bitPeriods));
    std::fflush(stdout);
}

// The file put in place, or left as it is with the reason; the exit status.
int finishOutput(const CaptureOptions& o, osc::StreamedOscFile& out, const CaptureResult& r) {
    const char* name = o.name.c_str();
    if (out.failed()) {
        std::fprintf(stderr, "%s: cannot write %s: %s; it holds the datagrams received before\n",
                     name, out.writingPath().c_str(), out.error().c_str());
        return 1;
    }
    if (r.datagrams == 0) {
        out.discard();
        std::fprintf(stderr, "%s: no datagram was received; %s not written\n", name,
                     o.outputPath.c_str());
        return 1;
    }
    try {
        out.commit();
    } catch (const osc::FileError& e) {
        std::fprintf(stderr, "%s: %s; the datagrams stay in %s\n", name, e.message().c_str(),
                     out.writingPath().c_str());
        return 1;
    }
    std::printf("Written %s\n", o.outputPath.c_str());
    if (r.memoryStop) {
        std::fprintf(stderr,
                     "%s: stopped early: the traces hold %s, and their next growth could pass "
                     "the memory limit of %s; %s holds every datagram received\n",
                     name, osc::memorySizeText(r.memoryHeld).c_str(),
                     osc::memorySizeText(o.memoryLimit).c_str(), o.outputPath.c_str());
    }
    if (!r.sendError.empty()) {
        std::fprintf(stderr, "%s: %s\n", name, r.sendError.c_str());
        return 1;
    }
    return 0;
}

// Opens FILE.part; nothing and a message on stderr when it cannot be had.
std::unique_ptr<osc::StreamedOscFile> openOutput(const CaptureOptions& o) {
    try {
        return std::make_unique<osc::StreamedOscFile>(o.outputPath, o.force);
    } catch (const osc::LeftoverRecordingError& e) {
        std::fprintf(stderr, "%s: %s; replay or move it, or give --force to replace it\n",
                     o.name.c_str(), e.message().c_str());
    } catch (const osc::FileError& e) {
        std::fprintf(stderr, "%s: %s\n", o.name.c_str(), e.message().c_str());
    }
    return nullptr;
}

}  // namespace

int runCapture(const QStringList& args) {
    CaptureOptions o;
    if (const int status = parseCaptureOptions(args, o); status >= 0) {
        return status;
    }
    if (!o.memoryLimitGiven) {
        o.memoryLimit = osc::defaultMemoryLimit(osc::readMemoryBudget());
    }
    installInterruptHandlers();
    osc::net::UdpEndpoint endpoint(o.endpoint);
    Waiter waiter;
    endpoint.setReadyCallback([&waiter] { waiter.notify(); });
    try {
        endpoint.activate();
    } catch (const osc::net::EndpointError& e) {
        std::fprintf(stderr, "%s: cannot open the UDP port: %s\n", o.name.c_str(), e.what());
        return 1;
    }
    CaptureResult r;
    std::unique_ptr<osc::StreamedOscFile> out;
    try {
        identify(endpoint, waiter, o, r);
        out = openOutput(o);
        if (!out) {
            return 1;
        }
        record(endpoint, waiter, o, *out, r);
    } catch (const osc::net::EndpointError& e) {
        std::fprintf(stderr, "%s: %s\n", o.name.c_str(), e.what());
        if (out) {
            out->discard();  // only a failed start command gets here: nothing was recorded
        }
        return 1;
    }
    printSummary(r);
    return finishOutput(o, *out, r);
}

}  // namespace cli
