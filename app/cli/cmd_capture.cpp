// morvelip-osc-cli capture: records a capture from a device into an oscillogram file, as the
// window makes one with tracing on: identity request, start command, every datagram of the
// device received for the given time as a trace line, stop command. The lines go to FILE.part
// as they arrive (out at least every 200 ms), which is renamed over FILE at the end: a killed
// capture leaves a valid .osc file with all but its last moments.
//
// The capture is a CaptureSession over the endpoint; this file owns the socket and the loop
// that hands the session its datagrams, a time-boxed batch at a time, with the end time, the
// signals and the device's silence looked at between batches.

#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/replay.h"
#include "core/capture/capture_engine.h"
#include "core/capture/capture_session.h"
#include "core/capture/memory_ceiling.h"
#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "core/files/streamed_osc_file.h"
#include "core/protocol/datagram.h"
#include "net/endpoint_link.h"
#include "net/udp_endpoint.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The signal that asked to end the capture (SIGINT, SIGTERM), 0 while none.
volatile sig_atomic_t gInterrupted = 0;
void onInterrupt(int signal) {
    gInterrupted = signal;
}

// A datagram's decoding never holds the loop up for longer than this before the end time and
// the signals are looked at again, nor does a wait for datagrams.
constexpr auto kSlice = 20ms;

// After the stop command: how long the datagrams still waiting or on their way are taken.
constexpr auto kFinalDrain = 50ms;

// Exit statuses besides 0 (ran its time), 1 (failed) and 2 (usage).
constexpr int kMemoryStopStatus = 3;

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
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
    bool acceptAny = false;
    osc::net::UdpEndpointOptions endpoint;
};

// What the recording came to.
struct CaptureResult {
    std::int64_t bitPeriods = 0;
    osc::CaptureCounts counts;
    osc::net::EndpointStats stats;
    std::uint64_t written = 0;  // lines in the file
    std::uint64_t unread = 0;   // received by the endpoint, still queued at the end
    bool memoryStop = false;
    std::uint64_t heldBytes = 0;  // at the memory stop
    int signal = 0;               // the signal that ended it early
    std::string sendError;        // a failed command after the file was opened
};

// The recording file as the session's recorder.
class FileRecorder : public osc::CaptureRecorder {
  public:
    explicit FileRecorder(osc::StreamedOscFile& file) : file_(file) {}
    void append(std::span<const std::uint8_t> datagram, bool foreign) noexcept override {
        file_.append(datagram, foreign);
    }
    osc::OscLineDrops dropped() const override { return file_.dropped(); }

  private:
    osc::StreamedOscFile& file_;
};

// -1 to go on, else the exit status (help, usage error).
int parseCaptureOptions(const QStringList& args, CaptureOptions& o) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Records a capture from a device into an oscillogram file: sends the identity request "
        "and waits up to 2 s for the reply (without one the commands carry six zero bytes), "
        "sends the start command, records every datagram of the device received for the given "
        "time as one trace line, sends the stop command and puts the file in place. Datagrams "
        "from other senders than the device's address and port are counted and left out. The "
        "lines go to FILE.part as they arrive, a valid oscillogram file even after a kill, "
        "which replaces FILE at the end. The capture stops early, keeping everything received, "
        "before its memory could pass the limit. A device silent for 2 s is told on standard "
        "error.\n\n"
        "Exit status: 0 when the capture ran its time, 3 when the memory limit stopped it "
        "early, 130 or 143 when SIGINT or SIGTERM ended it (the file is put in place in all "
        "three cases), 1 when it failed, 2 for a usage error."));
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
                                  QStringLiteral("Local address to listen on (default: all)."),
                                  QStringLiteral("ADDR"));
    const QCommandLineOption memoryLimit(
        QStringLiteral("memory-limit"),
        QStringLiteral("Memory the capture may use, e.g. 512M or 2G (default: half of what the "
                       "system can give)."),
        QStringLiteral("SIZE"));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("Replace a FILE.part that an earlier, killed capture left behind."));
    const QCommandLineOption acceptAny(
        QStringLiteral("accept-any"),
        QStringLiteral("Record the datagrams of every sender, not only the device's (an "
                       "identity reply still counts only from the device)."));
    parser.addOptions(
        {device, seconds, output, port, devicePort, bind, memoryLimit, force, acceptAny});
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
    o.acceptAny = parser.isSet(acceptAny);
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

// The loop that owns the endpoint: hands the session every datagram with its sender, in
// batches of at most kSlice, until `done` says so between two of them.
class Pump {
  public:
    Pump(osc::net::UdpEndpoint& endpoint, osc::CaptureSession& session)
        : endpoint_(endpoint), session_(session) {
        endpoint_.setReadyCallback([this] { waiter_.notify(); });
    }
    ~Pump() { endpoint_.setReadyCallback({}); }
    Pump(const Pump&) = delete;
    Pump& operator=(const Pump&) = delete;

    // Consumes what is waiting for up to kSlice, or until `stop` holds after a datagram; waits
    // up to kSlice (and not past `until`) when nothing was waiting.
    template <typename Stop>
    void step(Clock::time_point until, const Stop& stop) {
        const Clock::time_point sliceEnd = Clock::now() + kSlice;
        bool any = false;
        while (!gInterrupted && endpoint_.takeReceivedFrom(datagram_, from_)) {
            any = true;
            session_.consume(datagram_, from_);
            if (stop() || Clock::now() >= sliceEnd) {
                return;
            }
        }
        if (!any && !gInterrupted) {
            waiter_.waitUntil(std::min(until, Clock::now() + kSlice));
        }
    }

  private:
    osc::net::UdpEndpoint& endpoint_;
    osc::CaptureSession& session_;
    Waiter waiter_;
    std::vector<std::uint8_t> datagram_;
    std::optional<osc::PeerAddress> from_;
};

// The identity request and up to 2 s for the device's reply.
void identify(osc::CaptureSession& session, Pump& pump, const CaptureOptions& o) {
    session.requestIdentity();
    const Clock::time_point until = Clock::now() + 2s;
    while (!session.identified() && !gInterrupted && Clock::now() < until) {
        pump.step(until, [&] { return session.identified(); });
    }
    if (session.identified()) {
        std::printf("Device %s identity %s\n", o.address.c_str(),
                    osc::deviceIdText(session.identity()).c_str());
    } else {
        std::printf("No identity reply from %s within 2 s; going on with 00:00:00:00:00:00\n",
                    o.address.c_str());
    }
    std::fflush(stdout);
}

// Start command, every datagram into the file and the engine until the time is up, a signal,
// the memory ceiling or a failed write, then the stop command.
void record(osc::CaptureSession& session, Pump& pump, const CaptureOptions& o,
            osc::StreamedOscFile& out, CaptureResult& r) {
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    session.start();
    const Clock::time_point begin = Clock::now();
    const Clock::time_point until = begin + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(o.seconds));
    Clock::time_point nextProgress = begin;
    bool silent = false;
    while (!gInterrupted && !r.memoryStop && !out.failed() && !session.timeUp()) {
        pump.step(until, [&] {
            r.memoryStop = r.memoryStop || session.checkCeiling();
            return r.memoryStop || session.timeUp();
        });
        // Once per silent spell: the device sent nothing for 2 s.
        const bool silentNow = session.deviceSilent();
        if (silentNow && !silent) {
            std::fprintf(stderr, "%s: warning: no datagram from the device %s for 2 s\n",
                         o.name.c_str(), o.address.c_str());
        }
        silent = silentNow;
        const Clock::time_point now = Clock::now();
        if (terminal && now >= nextProgress) {
            const osc::CaptureCounts c = session.counts();
            std::printf("\r%.1f s  %llu datagrams  %llu bytes  %llu foreign ",
                        std::chrono::duration<double>(now - begin).count(),
                        static_cast<unsigned long long>(c.taken),
                        static_cast<unsigned long long>(c.takenBytes),
                        static_cast<unsigned long long>(c.foreign));
            std::fflush(stdout);
            nextProgress = now + 250ms;
        }
    }
    if (terminal) {
        std::printf("\n");
    }
    r.signal = gInterrupted;
    r.heldBytes = session.heldBytes();
    try {
        session.sendStop();
    } catch (const osc::net::EndpointError& e) {
        r.sendError = e.what();  // what was received is kept all the same
    }
    // What arrived before the device stopped, waiting in the queue or on its way, is still the
    // capture's; what a moment does not take is counted as unread. A capture at its memory
    // limit takes nothing more.
    if (!r.memoryStop) {
        const Clock::time_point deadline = Clock::now() + kFinalDrain;
        while (Clock::now() < deadline) {
            pump.step(deadline, [] { return false; });
        }
    }
    session.end();
}

void printSummary(const CaptureResult& r, const CaptureOptions& o) {
    const osc::net::EndpointStats& s = r.stats;
    const osc::CaptureCounts& c = r.counts;
    const auto u = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    if (c.foreign == 0) {
        std::printf("Datagrams received: %llu (%llu bytes), all from the device\n", u(c.received),
                    u(c.takenBytes));
    } else {
        std::printf(
            "Datagrams received: %llu: %llu from the device, %llu from other senders (%s; the "
            "last from %s)\n",
            u(c.received), u(c.fromDevice), u(c.foreign), o.acceptAny ? "recorded" : "left out",
            osc::peerText(*c.lastForeign).c_str());
    }
    std::printf("Datagrams written: %llu\n", u(r.written));
    const std::uint64_t dropped = s.droppedByKernel + s.droppedQueueFull + s.droppedEmpty +
                                  s.droppedOversize + c.notWritten.total() + r.unread;
    std::printf(
        "Datagrams dropped: %llu (receive buffer full %llu, queue full %llu, empty %llu, longer "
        "than 8192 bytes %llu, disk too slow %llu, unread at the end %llu); receive errors: "
        "%llu\n",
        u(dropped), u(s.droppedByKernel), u(s.droppedQueueFull), u(s.droppedEmpty),
        u(s.droppedOversize), u(c.notWritten.total()), u(r.unread), u(s.receiveErrors));
    std::printf("Bit periods captured: %lld\n", static_cast<long long>(r.bitPeriods));
    std::fflush(stdout);
}

// The file put in place, or left as it is with the reason; the exit status.
int finishOutput(const CaptureOptions& o, osc::StreamedOscFile& out, const CaptureResult& r) {
    const char* name = o.name.c_str();
    const auto u = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    if (out.failed()) {
        std::fprintf(stderr, "%s: cannot write %s: %s; it holds the datagrams received before\n",
                     name, out.writingPath().c_str(), out.error().c_str());
        return 1;
    }
    if (r.counts.taken == 0) {
        out.discard();
        if (r.counts.foreign > 0) {
            std::fprintf(stderr,
                         "%s: no datagram was received from %s (%llu from other senders were "
                         "left out); %s not written\n",
                         name, o.address.c_str(), u(r.counts.foreign), o.outputPath.c_str());
        } else {
            std::fprintf(stderr, "%s: no datagram was received; %s not written\n", name,
                         o.outputPath.c_str());
        }
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
    const osc::OscLineDrops& slow = r.counts.notWritten;
    if (slow.total() > 0) {
        std::fprintf(stderr,
                     "%s: the disk did not keep up: %llu datagrams were not written (%llu from "
                     "other senders, %llu from the device)\n",
                     name, u(slow.total()), u(slow.foreign), u(slow.device));
    }
    if (!r.sendError.empty()) {
        std::fprintf(stderr, "%s: %s\n", name, r.sendError.c_str());
        return 1;
    }
    if (r.memoryStop) {
        std::fprintf(stderr,
                     "%s: stopped early: the traces hold %s, and their next growth could pass "
                     "the memory limit of %s; %s holds every datagram received\n",
                     name, osc::memorySizeText(r.heldBytes).c_str(),
                     osc::memorySizeText(o.memoryLimit).c_str(), o.outputPath.c_str());
        return kMemoryStopStatus;
    }
    if (r.signal != 0) {
        std::fprintf(stderr, "%s: stopped early by %s; %s holds what was received\n", name,
                     r.signal == SIGINT ? "SIGINT" : "SIGTERM", o.outputPath.c_str());
        return 128 + r.signal;
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
    try {
        endpoint.activate();
    } catch (const osc::net::EndpointError& e) {
        std::fprintf(stderr, "%s: cannot open the UDP port: %s\n", o.name.c_str(), e.what());
        return 1;
    }
    osc::net::EndpointLink link(&endpoint);
    osc::CaptureEngine engine;
    osc::CaptureSession session(engine, link, steadyMs);
    session.setAcceptAnySender(o.acceptAny);
    session.setMemoryLimit(o.memoryLimit);
    session.setDuration(static_cast<std::int64_t>(o.seconds * 1000));
    session.chooseDevice(o.address);
    Pump pump(endpoint, session);
    CaptureResult r;
    std::unique_ptr<osc::StreamedOscFile> out;
    std::unique_ptr<FileRecorder> recorder;
    try {
        identify(session, pump, o);
        if (gInterrupted != 0) {
            std::fprintf(stderr, "%s: stopped by %s before the start; nothing written\n",
                         o.name.c_str(), gInterrupted == SIGINT ? "SIGINT" : "SIGTERM");
            return 128 + gInterrupted;
        }
        out = openOutput(o);
        if (!out) {
            return 1;
        }
        recorder = std::make_unique<FileRecorder>(*out);
        session.setRecorder(recorder.get());
        record(session, pump, o, *out, r);
    } catch (const osc::net::EndpointError& e) {
        std::fprintf(stderr, "%s: %s\n", o.name.c_str(), e.what());
        if (out) {
            out->discard();  // only a failed start command gets here: nothing was recorded
        }
        return 1;
    }
    out->finish();  // every line out, so that the counts below are final
    r.bitPeriods = engine.state.FTimeBase / osc::kTicksPerBit;
    r.counts = session.counts();
    r.stats = endpoint.stats();
    r.unread = endpoint.queued();
    r.written = out->written();
    printSummary(r, o);
    return finishOutput(o, *out, r);
}

}  // namespace cli
