// morvelip-osc-cli record: a recorder of one or many devices that runs until SIGTERM or
// --seconds. One UDP socket sends each device its identity request and start command and
// files every datagram by its sender; each device is a DeviceRecorder (segments, triggers,
// event files, asking again when silent); this file owns the socket, the loop, the signals,
// retention across the devices and the options (also read from a settings file, --config).

#include <signal.h>

#include <QCommandLineParser>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/frame_options.h"
#include "app/cli/replay.h"
#include "core/capture/device_recorder.h"
#include "core/capture/memory_ceiling.h"
#include "core/capture/segment_retention.h"
#include "core/capture/settings_text.h"
#include "core/view/time_text.h"
#include "net/address.h"
#include "net/endpoint_link.h"
#include "net/udp_endpoint.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

volatile sig_atomic_t gStop = 0;
void onStopSignal(int signal) {
    gStop = signal;
}

// The longest the loop handles datagrams before it looks at the timers and the signals, and
// the longest it waits for datagrams.
constexpr auto kSlice = 20ms;
// After the stop commands: how long the datagrams still on their way are taken.
constexpr auto kFinalDrain = 200ms;
// How often retention looks at the segments.
constexpr auto kRetentionEvery = 10s;

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}
std::int64_t wallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct DeviceSpec {
    std::string host;
    std::uint16_t port = osc::kDevicePort;
    std::string folderName;  // HOST, or HOST_PORT for another port than 971
};

struct RecordRequest {
    std::string name;  // "morvelip-osc-cli record", for messages
    std::vector<DeviceSpec> devices;
    std::uint16_t port = osc::kDevicePort;
    std::string bind;
    std::string dir;
    std::int64_t segmentMs = std::int64_t{15} * 60 * 1000;
    std::optional<osc::RetentionRule> keep;
    std::vector<std::string> triggerTexts;
    std::vector<osc::TriggerCondition> triggers;
    osc::TimeSpan pre = osc::TimeSpan::seconds(30);
    osc::TimeSpan post = osc::TimeSpan::seconds(10);
    std::int64_t silenceMs = 5000;
    double seconds = 0;  // 0: until a signal
    bool json = false;
    bool validate = false;
    std::optional<double> bitRate;
    std::uint64_t memoryLimit = 0;  // 0: the default share of the system's
    osc::FrameOptions frames;
    unsigned channels = osc::kDataChannels;
    osc::LinkOptions link;
};

// One setting from the command line ("--pre") or a settings file ("FILE:12").
struct Setting {
    QString key;
    QString value;
    QString origin;
};

struct RecordOption {
    const char* name;
    const char* valueName;  // nullptr: a flag
    const char* help;
    bool repeatable;
};

constexpr RecordOption kOptions[] = {
    {"device", "HOST[:PORT]",
     "A device to record (its port 971 unless given); may be repeated. Its files go into "
     "DIR/HOST (DIR/HOST_PORT for another port).",
     true},
    {"dir", "DIR", "The folder of the recording.", false},
    {"port", "P", "Local UDP port of the one socket (default 971).", false},
    {"bind", "ADDR", "Local address to listen on (default: all).", false},
    {"segment", "SPAN",
     "Length of a segment file, such as 15m (default), 1h or 30s; segments begin at its "
     "multiples (UTC).",
     false},
    {"keep", "AGE|SIZE",
     "Retention: segments older than AGE (7d, 36h, 90min) or the oldest beyond SIZE (50G, "
     "500M) of all devices' segments are deleted; event files are kept (default: all kept).",
     false},
    {"trigger", "EXPR",
     "A trigger: a frame filter such as 'status == bad', 'issue == no_answer' or 'bytes ~ "
     "\"01 3E ??\"' (see frames --help), 'silent(rx1) > 2s' or 'loss'; may be repeated.",
     true},
    {"pre", "SPAN", "The window before an event: seconds (default 30), or bits such as 4096b.",
     false},
    {"post", "SPAN", "The window after an event (default 10 s).", false},
    {"silence", "SECONDS",
     "A device silent this long is asked again every 3 s until it streams (default 5).", false},
    {"seconds", "S", "Stop after this long (default: at SIGTERM or SIGINT).", false},
    {"json", nullptr, "One JSON object per event on standard output.", false},
    {"bit-rate", "R",
     "Bits a second of the devices' links: spans in seconds become bits (otherwise they are "
     "measured by the datagrams' arrival); rt_ms in triggers.",
     false},
    {"memory-limit", "SIZE",
     "Memory the recorder may use, e.g. 2G (default: half of what the system can give).", false},
    {"channel", "C", "A channel to decode frames of (default 1, 2 and 3); may be repeated.", true},
    {"check", "CHECK", "Frame check: x25 (default), ccitt-false, crc32, none or auto.", false},
    {"invert", nullptr, "Every line bit is inverted.", false},
    {"msb-first", nullptr, "The first bit of a byte is its most significant bit.", false},
    {"no-stuffing", nullptr, "The 0 after five 1s is data, not stuffing.", false},
    {"address-bytes", "N", "The address field: 0, 1 (default), 2 or extended.", false},
    {"modulo", "M", "Sequence numbers modulo 8 (default) or 128.", false},
    {"primary", "CHANNEL", "The primary station's line (default 1, Передача).", false},
    {"answer-timeout", "BITS",
     "An answer starts within this many bits of its command (default 0: until the next "
     "command).",
     false},
    {"validate", nullptr,
     "Reads the settings, says what would be recorded, and exits: 0 when they are good, 2 when "
     "not.",
     false},
    {"config", "FILE",
     "Settings from FILE: one 'key = value' a line, keys as the long options above (device and "
     "trigger repeated, flags as true or false), '#' comments. Options given here replace the "
     "file's of the same name.",
     false},
};

const RecordOption* optionNamed(const QString& key) {
    for (const RecordOption& o : kOptions) {
        if (key == QLatin1String(o.name)) {
            return &o;
        }
    }
    return nullptr;
}

std::optional<DeviceSpec> deviceSpec(const QString& text) {
    DeviceSpec d;
    QString host = text.trimmed();
    const int colon = static_cast<int>(host.lastIndexOf(QLatin1Char(':')));
    if (colon >= 0) {
        bool ok = false;
        const uint port = host.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            return std::nullopt;
        }
        d.port = static_cast<std::uint16_t>(port);
        host = host.left(colon);
    }
    if (host.isEmpty()) {
        return std::nullopt;
    }
    d.host = host.toStdString();
    std::string folder;
    for (const char c : d.host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        folder += plain ? c : '_';
    }
    if (folder == "." || folder == "..") {
        folder = "_";
    }
    d.folderName = d.port == osc::kDevicePort ? folder : folder + "_" + std::to_string(d.port);
    return d;
}

std::optional<bool> flagValue(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("1") ||
        t == QLatin1String("on")) {
        return true;
    }
    if (t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("0") ||
        t == QLatin1String("off")) {
        return false;
    }
    return std::nullopt;
}

// A span in seconds by default; its text for the error message when it is not one.
std::optional<osc::TimeSpan> spanValue(const QString& text) {
    return osc::parseTimeSpan(text.toStdString());
}

// Applies one setting to the request; an empty text, or the message of what is wrong.
QString apply(RecordRequest& r, const Setting& s, bool& channelsGiven) {
    const QString& v = s.value;
    const std::string key = s.key.toStdString();
    if (key == "device") {
        const std::optional<DeviceSpec> d = deviceSpec(v);
        if (!d) {
            return QStringLiteral("'%1' is not HOST or HOST:PORT (PORT 1 to 65535)").arg(v);
        }
        r.devices.push_back(*d);
    } else if (key == "dir") {
        r.dir = localPath(v.trimmed());
    } else if (key == "port") {
        bool ok = false;
        const uint p = v.trimmed().toUInt(&ok);
        if (!ok || p > 65535) {
            return QStringLiteral("a port is 0 to 65535, not '%1'").arg(v);
        }
        r.port = static_cast<std::uint16_t>(p);
    } else if (key == "bind") {
        r.bind = v.trimmed().toStdString();
    } else if (key == "segment") {
        const std::optional<osc::TimeSpan> span = spanValue(v);
        if (!span || span->unit != osc::TimeSpan::Unit::Milliseconds || span->amount < 1000) {
            return QStringLiteral(
                       "a segment is a time of at least a second, such as 15m or 1h, "
                       "not '%1'")
                .arg(v);
        }
        r.segmentMs = static_cast<std::int64_t>(span->amount);
    } else if (key == "keep") {
        r.keep = osc::parseRetention(v.toStdString());
        if (!r.keep) {
            return QStringLiteral(
                       "'%1' is neither an age such as 7d, 36h or 90min nor a size "
                       "such as 50G or 500M")
                .arg(v);
        }
    } else if (key == "trigger") {
        r.triggerTexts.push_back(v.toStdString());
    } else if (key == "pre" || key == "post") {
        const std::optional<osc::TimeSpan> span = spanValue(v);
        if (!span) {
            return QStringLiteral("'%1' is not a span such as 30, 2.5s, 500ms or 4096b").arg(v);
        }
        (key == "pre" ? r.pre : r.post) = *span;
    } else if (key == "silence") {
        const std::optional<osc::TimeSpan> span = spanValue(v);
        if (!span || span->unit != osc::TimeSpan::Unit::Milliseconds || span->amount < 100) {
            return QStringLiteral("'%1' is not a time such as 5 or 2.5s").arg(v);
        }
        r.silenceMs = static_cast<std::int64_t>(span->amount);
    } else if (key == "seconds") {
        bool ok = false;
        r.seconds = v.trimmed().toDouble(&ok);
        if (!ok || !(r.seconds > 0) || r.seconds > 86400.0 * 3660) {
            return QStringLiteral("a positive number of seconds, not '%1'").arg(v);
        }
    } else if (key == "json" || key == "invert" || key == "msb-first" || key == "no-stuffing" ||
               key == "validate") {
        const std::optional<bool> on = flagValue(v);
        if (!on) {
            return QStringLiteral("true or false, not '%1'").arg(v);
        }
        if (key == "json") {
            r.json = *on;
        } else if (key == "validate") {
            r.validate = *on;
        } else if (key == "invert") {
            r.frames.invert = *on;
        } else if (key == "msb-first") {
            r.frames.order = *on ? osc::BitOrder::MsbFirst : osc::BitOrder::LsbFirst;
        } else {
            r.frames.stuffing = !*on;
        }
    } else if (key == "bit-rate") {
        r.bitRate = osc::parseBitRate(v.toStdString());
        if (!r.bitRate) {
            return QStringLiteral("a positive number of bits a second, not '%1'").arg(v);
        }
    } else if (key == "memory-limit") {
        const auto limit = osc::parseMemorySize(v.toStdString());
        if (!limit) {
            return QStringLiteral("a size such as 512M or 2G, not '%1'").arg(v);
        }
        r.memoryLimit = *limit;
    } else if (key == "channel") {
        if (!channelsGiven) {
            r.channels = 0;
            channelsGiven = true;
        }
        for (const QString& one : v.split(QLatin1Char(','))) {
            const std::optional<int> c = channelNumber(one);
            if (!c) {
                return QStringLiteral("unknown channel '%1': 0 to 3 or a channel's name").arg(one);
            }
            r.channels |= 1u << *c;
        }
    } else if (key == "check") {
        const QString t = v.trimmed().toLower();
        bool known = false;
        for (const osc::FrameCheck c :
             {osc::FrameCheck::X25, osc::FrameCheck::CcittFalse, osc::FrameCheck::Crc32,
              osc::FrameCheck::None, osc::FrameCheck::Auto}) {
            if (t.toStdString() == osc::frameCheckName(c)) {
                r.frames.check = c;
                known = true;
            }
        }
        if (!known) {
            return QStringLiteral("x25, ccitt-false, crc32, none or auto, not '%1'").arg(v);
        }
    } else if (key == "address-bytes") {
        const QString t = v.trimmed().toLower();
        if (t == QLatin1String("0")) {
            r.link.address = osc::AddressMode::None;
        } else if (t == QLatin1String("1")) {
            r.link.address = osc::AddressMode::One;
        } else if (t == QLatin1String("2")) {
            r.link.address = osc::AddressMode::Two;
        } else if (t == QLatin1String("extended")) {
            r.link.address = osc::AddressMode::Extended;
        } else {
            return QStringLiteral("0, 1, 2 or extended, not '%1'").arg(v);
        }
    } else if (key == "modulo") {
        const QString t = v.trimmed();
        if (t != QLatin1String("8") && t != QLatin1String("128")) {
            return QStringLiteral("8 or 128, not '%1'").arg(v);
        }
        r.link.modulo = t.toInt();
    } else if (key == "primary") {
        const std::optional<int> c = channelNumber(v);
        if (!c) {
            return QStringLiteral("unknown channel '%1': 0 to 3 or a channel's name").arg(v);
        }
        r.link.primary = *c;
    } else if (key == "answer-timeout") {
        bool ok = false;
        const qulonglong t = v.trimmed().toULongLong(&ok);
        if (!ok || t > osc::kMaxAnswerTimeout) {
            return QStringLiteral("a whole number of bits, not '%1'").arg(v);
        }
        r.link.answerTimeout = t;
    }
    return QString();
}

void printError(const RecordRequest& r, const QString& origin, const QString& message) {
    std::fprintf(stderr, "%s: %s: %s\n", r.name.c_str(), qPrintable(origin), qPrintable(message));
}

// The settings of a file; false (with the error printed) when it cannot be read or parsed.
bool readConfig(const RecordRequest& r, const QString& path, std::vector<Setting>& out) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(r, path, QStringLiteral("cannot read it: %1").arg(file.errorString()));
        return false;
    }
    const QByteArray bytes = file.read(static_cast<qint64>(osc::kMaxSettingsText) + 1);
    const osc::SettingsParse parse =
        osc::parseSettingsText(std::string_view(bytes.constData(), bytes.size()));
    if (!parse.ok()) {
        printError(r, QStringLiteral("%1:%2").arg(path).arg(parse.error->line),
                   QString::fromStdString(parse.error->message));
        return false;
    }
    for (const osc::SettingLine& s : parse.settings) {
        const QString key = QString::fromStdString(s.key);
        const QString origin = QStringLiteral("%1:%2").arg(path).arg(s.line);
        const RecordOption* option = optionNamed(key);
        if (option == nullptr || key == QLatin1String("config")) {
            printError(r, origin,
                       QStringLiteral("unknown setting '%1' (the settings are the long options "
                                      "of record --help)")
                           .arg(key));
            return false;
        }
        out.push_back({key, QString::fromStdString(s.value), origin});
    }
    return true;
}

// -1 to go on, else the exit status (help, usage error).
int parseRecord(const QStringList& args, RecordRequest& r) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Records one or many devices until SIGTERM, SIGINT or --seconds: one UDP socket sends "
        "each device the identity request and the start command and files every datagram by "
        "its sender into the device's folder under DIR, as segment files named by their start "
        "time (UTC), each a valid oscillogram file written as the datagrams arrive (NAME.part "
        "while it is written). Triggers are evaluated as the frames are decoded: each event's "
        "window (--pre, --post) goes into DIR/DEVICE/events/ as an oscillogram file with a JSON "
        "file beside it, overlapping windows into one file, and one line per event is printed "
        "on standard output. A device silent for --silence seconds is asked again every 3 s "
        "until it streams; a full disk or a folder that disappears is told on standard error "
        "and survived. SIGTERM or SIGINT sends the stop command to every device and closes "
        "every file.\n\n"
        "Exit status: 0 when stopped by --seconds or a signal, 1 when it could not start, 2 for "
        "a usage error."));
    for (const RecordOption& o : kOptions) {
        if (o.valueName != nullptr) {
            parser.addOption(QCommandLineOption(QString::fromLatin1(o.name),
                                                QString::fromUtf8(o.help),
                                                QString::fromLatin1(o.valueName)));
        } else {
            parser.addOption(
                QCommandLineOption(QString::fromLatin1(o.name), QString::fromUtf8(o.help)));
        }
    }
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    r.name = args.value(0).toStdString();
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(parser, args, QStringLiteral("No arguments are taken."));
    }
    std::vector<Setting> settings;
    if (parser.isSet(QStringLiteral("config")) &&
        !readConfig(r, parser.value(QStringLiteral("config")), settings)) {
        return 2;
    }
    // Options on the command line replace the file's settings of the same name.
    for (const RecordOption& o : kOptions) {
        const QString key = QString::fromLatin1(o.name);
        if (key == QLatin1String("config") || !parser.isSet(key)) {
            continue;
        }
        std::erase_if(settings, [&](const Setting& s) { return s.key == key; });
        if (o.valueName == nullptr) {
            settings.push_back({key, QStringLiteral("true"), QStringLiteral("--") + key});
        } else {
            for (const QString& v : parser.values(key)) {
                settings.push_back({key, v, QStringLiteral("--") + key});
            }
        }
    }
    std::set<QString> seen;
    bool channelsGiven = false;
    for (const Setting& s : settings) {
        const RecordOption* option = optionNamed(s.key);
        if (!option->repeatable && !seen.insert(s.key).second) {
            printError(r, s.origin, QStringLiteral("'%1' is given twice").arg(s.key));
            return 2;
        }
        if (const QString error = apply(r, s, channelsGiven); !error.isEmpty()) {
            printError(r, s.origin, QStringLiteral("%1: %2").arg(s.key, error));
            return 2;
        }
    }
    if (r.devices.empty() || r.dir.empty()) {
        return usageError(parser, args,
                          QStringLiteral("At least one --device and --dir are needed."));
    }
    std::set<std::string> folders;
    for (const DeviceSpec& d : r.devices) {
        if (!folders.insert(d.folderName).second) {
            return usageError(parser, args,
                              QStringLiteral("The device %1 is given twice.")
                                  .arg(QString::fromStdString(d.folderName)));
        }
    }
    osc::FilterSettings filterSettings;
    filterSettings.bitRate = r.bitRate;
    for (const Setting& s : settings) {
        if (s.key != QLatin1String("trigger")) {
            continue;
        }
        const osc::TriggerParse parse = osc::parseTrigger(s.value.toStdString(), filterSettings);
        if (!parse.ok()) {
            printError(r, s.origin,
                       QStringLiteral("trigger: %1").arg(QString::fromStdString(parse.error)));
            if (parse.filterError) {
                std::fprintf(stderr, "  %s\n  %s^\n", qPrintable(s.value),
                             std::string(parse.filterError->column - 1, ' ').c_str());
            }
            return 2;
        }
        r.triggers.push_back(*parse.condition);
    }
    return -1;
}

// A device's commands go to its own port, over the recorder's one socket.
class RecordLink : public osc::DeviceLink {
  public:
    RecordLink(osc::net::UdpEndpoint& endpoint, std::uint16_t port)
        : endpoint_(endpoint), port_(port) {}
    void send(const std::string& address, std::span<const std::uint8_t> bytes) override {
        endpoint_.sendTo(osc::net::resolveAddress(address), port_, bytes);
    }
    std::optional<std::vector<osc::PeerAddress>> deviceSenders(
        const std::string& address) override {
        return osc::net::deviceSenderSet(osc::net::resolveAllAddresses(address), port_);
    }
    std::uint64_t receiverDrops() const override {
        return osc::net::lostDatagrams(endpoint_.stats());
    }

  private:
    osc::net::UdpEndpoint& endpoint_;
    std::uint16_t port_;
};

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

// Events on stdout, one line each; the log on stderr. Either may be called from the report
// writer's thread.
class Output : public osc::RecorderOutput {
  public:
    explicit Output(bool json) : json_(json) {}
    void event(const osc::RecordedEvent& e) override {
        const std::string line =
            (json_ ? osc::recordedEventJson(e) : osc::recordedEventText(e)) + "\n";
        std::lock_guard lock(mutex_);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    void log(const std::string& line) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }

  private:
    bool json_;
    std::mutex mutex_;
};

void installSignals() {
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    signal(SIGXFSZ, SIG_IGN);  // a file size limit fails the write, not the program
    signal(SIGPIPE, SIG_IGN);
}

// Retention on a thread of its own: deleting segments of hundreds of MiB can take a while,
// which the loop that takes the datagrams must not wait for.
class Retention {
  public:
    Retention(std::string dir, osc::RetentionRule rule, Output& output)
        : dir_(std::move(dir)), rule_(rule), output_(output), thread_([this] { run(); }) {}
    ~Retention() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Retention(const Retention&) = delete;
    Retention& operator=(const Retention&) = delete;

    // A pass soon, keeping the segments being written.
    void request(std::vector<std::filesystem::path> active) {
        {
            std::lock_guard lock(mutex_);
            active_ = std::move(active);
            pending_ = true;
        }
        wake_.notify_all();
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || pending_; });
            if (stopping_) {
                return;
            }
            pending_ = false;
            const std::vector<std::filesystem::path> active = active_;
            lock.unlock();
            pass(active);
            lock.lock();
        }
    }
    void pass(const std::vector<std::filesystem::path>& active) {
        const std::vector<osc::SegmentFile> segments = osc::listSegments(dir_);
        for (const std::size_t i : osc::segmentsToDelete(segments, rule_, wallMs(), active)) {
            std::error_code ec;
            std::filesystem::remove(segments[i].path, ec);
            output_.log(ec ? "retention: cannot delete " + segments[i].path.string() + ": " +
                                 ec.message()
                           : "retention: deleted " + segments[i].path.string() + " (" +
                                 osc::memorySizeText(segments[i].bytes) + ")");
        }
    }

    const std::string dir_;
    const osc::RetentionRule rule_;
    Output& output_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::filesystem::path> active_;
    bool pending_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

class Recorder {
  public:
    Recorder(const RecordRequest& r, osc::net::UdpEndpoint& endpoint, Output& output)
        : r_(r),
          endpoint_(endpoint),
          output_(output),
          reports_([this](const std::string& e) { output_.log("event report: " + e); }) {
        const std::uint64_t limit =
            r.memoryLimit > 0 ? r.memoryLimit : osc::defaultMemoryLimit(osc::readMemoryBudget());
        const std::uint64_t share = limit / (2 * r.devices.size());
        ringBytes_ = static_cast<std::size_t>(
            std::clamp<std::uint64_t>(share / 2, 1 << 20, std::uint64_t{1} << 30));
        rollBytes_ =
            static_cast<std::size_t>(std::clamp<std::uint64_t>(share / 8, 1 << 20, 16u << 20));
        pendingBytes_ =
            static_cast<std::size_t>(std::clamp<std::uint64_t>(share / 8, 1 << 20, 16u << 20));
        for (const DeviceSpec& d : r.devices) {
            links_.push_back(std::make_unique<RecordLink>(endpoint, d.port));
            osc::DeviceRecorderSettings s;
            s.name = d.folderName;
            s.address = d.host;
            s.folder = std::filesystem::path(r.dir) / d.folderName;
            s.segmentMs = r.segmentMs;
            s.triggers = r.triggers;
            s.windows.pre = r.pre;
            s.windows.post = r.post;
            s.windows.bitRate = r.bitRate;
            s.analysis.frames = r.frames;
            s.analysis.channels = r.channels;
            s.analysis.link = r.link;
            s.analysis.ringBytes = ringBytes_;
            s.analysis.rollBytes = rollBytes_;
            s.silenceMs = r.silenceMs;
            s.timing.maxPendingBytes = pendingBytes_;
            devices_.push_back(std::make_unique<osc::DeviceRecorder>(
                std::move(s), *links_.back(), osc::RecorderClocks{steadyMs, wallMs}, output_,
                &reports_));
        }
        endpoint_.setReadyCallback([this] { waiter_.notify(); });
        if (r.keep) {
            retention_ = std::make_unique<Retention>(r.dir, *r.keep, output_);
        }
    }
    ~Recorder() { endpoint_.setReadyCallback({}); }

    void run() {
        output_.log("recording " + std::to_string(devices_.size()) + " device" +
                    (devices_.size() == 1 ? "" : "s") + " into " + r_.dir +
                    " (memory a device: the datagrams the windows before events may reach, up "
                    "to " +
                    osc::memorySizeText(ringBytes_) + ", and an analysis of up to " +
                    osc::memorySizeText(rollBytes_) + ")");
        for (auto& d : devices_) {
            for (const std::string& line : osc::recoverLeftovers(d->settings().folder)) {
                output_.log(d->name() + ": " + line);
            }
        }
        dropsBase_ = osc::net::lostDatagrams(endpoint_.stats());
        const osc::net::EndpointStats base = endpoint_.stats();
        kernelBase_ = base.droppedByKernel;
        queueBase_ = base.droppedQueueFull;
        if (retention_) {
            retention_->request({});
        }
        for (auto& d : devices_) {
            d->start();
        }
        const Clock::time_point begin = Clock::now();
        const std::optional<Clock::time_point> until =
            r_.seconds > 0 ? std::optional(begin + std::chrono::duration_cast<Clock::duration>(
                                                       std::chrono::duration<double>(r_.seconds)))
                           : std::nullopt;
        Clock::time_point nextRetention = begin + kRetentionEvery;
        while (gStop == 0 && (!until || Clock::now() < *until)) {
            pump(until.value_or(Clock::now() + kSlice));
            const std::uint64_t drops = osc::net::lostDatagrams(endpoint_.stats()) - dropsBase_;
            for (auto& d : devices_) {
                d->setReceiverDrops(drops);
                d->poll();
            }
            // Retention looks again whenever a segment has been put in place, and now and then.
            std::uint64_t segments = 0;
            for (auto& d : devices_) {
                segments += d->counts().segments;
            }
            if (retention_ && (Clock::now() >= nextRetention || segments != segmentsSeen_)) {
                retention_->request(activeSegments());
                segmentsSeen_ = segments;
                nextRetention = Clock::now() + kRetentionEvery;
            }
        }
        if (gStop != 0) {
            output_.log(std::string("stopping: ") + (gStop == SIGINT ? "SIGINT" : "SIGTERM"));
        }
        for (auto& d : devices_) {
            d->sendStop();
        }
        const Clock::time_point deadline = Clock::now() + kFinalDrain;
        while (Clock::now() < deadline) {
            pump(deadline);
        }
        for (auto& d : devices_) {
            d->close();
        }
        reports_.flush();
        summary();
    }

  private:
    // Hands each waiting datagram to its device, for up to kSlice; waits up to kSlice when
    // none was waiting.
    void pump(Clock::time_point until) {
        const Clock::time_point sliceEnd = Clock::now() + kSlice;
        bool any = false;
        while (endpoint_.takeReceivedFrom(datagram_, from_)) {
            any = true;
            dispatch();
            if (Clock::now() >= sliceEnd) {
                return;
            }
        }
        if (!any && gStop == 0) {
            waiter_.waitUntil(std::min(until, Clock::now() + kSlice));
        }
    }

    void dispatch() {
        if (from_) {
            for (auto& d : devices_) {
                if (d->owns(*from_)) {
                    d->consume(datagram_, from_);
                    return;
                }
            }
        }
        ++foreign_;
        const std::string who = from_ ? osc::peerText(*from_) : std::string("an unknown sender");
        if (foreignSeen_.size() < 16 && foreignSeen_.insert(who).second) {
            output_.log("datagrams from " + who +
                        ", which is none of the devices, are left out (counted)");
        }
    }

    // The segments being written now, which retention leaves alone.
    std::vector<std::filesystem::path> activeSegments() const {
        std::vector<std::filesystem::path> active;
        for (const auto& d : devices_) {
            if (const auto p = d->currentSegment()) {
                active.push_back(*p);
            }
        }
        return active;
    }

    void summary() {
        for (auto& d : devices_) {
            const osc::DeviceRecorder::Counts c = d->counts();
            output_.log(d->name() + ": " + std::to_string(c.datagrams) + " datagrams (" +
                        std::to_string(c.bytes) + " bytes) in " + std::to_string(c.segments) +
                        " segment" + (c.segments == 1 ? "" : "s") + ", " +
                        std::to_string(c.events) + " event" + (c.events == 1 ? "" : "s") + ", " +
                        std::to_string(c.gaps) + " silent spell" + (c.gaps == 1 ? "" : "s") + ", " +
                        std::to_string(c.notWritten) + " not written");
        }
        const osc::net::EndpointStats s = endpoint_.stats();
        output_.log("datagrams dropped by this computer: " +
                    std::to_string(osc::net::lostDatagrams(s) - dropsBase_) +
                    " (receive buffer full " + std::to_string(s.droppedByKernel - kernelBase_) +
                    ", queue full " + std::to_string(s.droppedQueueFull - queueBase_) +
                    "); from other senders: " + std::to_string(foreign_));
    }

    const RecordRequest& r_;
    osc::net::UdpEndpoint& endpoint_;
    Output& output_;
    osc::EventReportWriter reports_;
    std::vector<std::unique_ptr<RecordLink>> links_;
    std::vector<std::unique_ptr<osc::DeviceRecorder>> devices_;
    Waiter waiter_;
    std::vector<std::uint8_t> datagram_;
    std::optional<osc::PeerAddress> from_;
    std::uint64_t foreign_ = 0;
    std::set<std::string> foreignSeen_;
    std::uint64_t dropsBase_ = 0;
    std::uint64_t kernelBase_ = 0;
    std::uint64_t queueBase_ = 0;
    std::uint64_t segmentsSeen_ = 0;
    std::unique_ptr<Retention> retention_;
    std::size_t ringBytes_ = 0;
    std::size_t rollBytes_ = 0;
    std::size_t pendingBytes_ = 0;
};

// What the settings come to, for --validate.
void describe(const RecordRequest& r) {
    std::printf("Settings are good: %zu device%s into %s\n", r.devices.size(),
                r.devices.size() == 1 ? "" : "s", r.dir.c_str());
    for (const DeviceSpec& d : r.devices) {
        std::printf("  device %s port %u -> %s/%s\n", d.host.c_str(), static_cast<unsigned>(d.port),
                    r.dir.c_str(), d.folderName.c_str());
    }
    std::printf(
        "  local port %u%s%s; segments of %s", static_cast<unsigned>(r.port),
        r.bind.empty() ? "" : " on ", r.bind.c_str(),
        osc::timeSpanText(osc::TimeSpan::milliseconds(static_cast<double>(r.segmentMs))).c_str());
    if (r.keep && r.keep->maxAgeMs) {
        std::printf(
            ", kept %s",
            osc::timeSpanText(osc::TimeSpan::milliseconds(static_cast<double>(*r.keep->maxAgeMs)))
                .c_str());
    } else if (r.keep && r.keep->maxBytes) {
        std::printf(", kept up to %s", osc::memorySizeText(*r.keep->maxBytes).c_str());
    }
    std::printf("\n");
    for (const osc::TriggerCondition& t : r.triggers) {
        std::printf("  trigger (%s) %s\n", std::string(osc::triggerKindName(t.kind)).c_str(),
                    t.text.c_str());
    }
    if (!r.triggers.empty()) {
        std::printf("  windows: %s before, %s after each event\n", osc::timeSpanText(r.pre).c_str(),
                    osc::timeSpanText(r.post).c_str());
    }
}

}  // namespace

int runRecord(const QStringList& args) {
    RecordRequest r;
    if (const int status = parseRecord(args, r); status >= 0) {
        return status;
    }
    if (r.validate) {
        describe(r);
        return 0;
    }
    installSignals();
    osc::net::UdpEndpointOptions options;
    options.bindAddress = r.bind;
    options.port = r.port;
    // Room for the bursts of every device while the loop is busy: 4 MiB a device, at least the
    // endpoint's 8 MiB (the kernel caps it at net.core.rmem_max without CAP_NET_ADMIN).
    options.receiveBufferBytes = static_cast<int>(std::clamp<std::size_t>(
        r.devices.size() * (std::size_t{4} << 20), std::size_t{8} << 20, std::size_t{64} << 20));
    osc::net::UdpEndpoint endpoint(options);
    try {
        endpoint.activate();
    } catch (const osc::net::EndpointError& e) {
        std::fprintf(stderr, "%s: cannot open the UDP port: %s\n", r.name.c_str(), e.what());
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(r.dir, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot make the folder %s: %s\n", r.name.c_str(), r.dir.c_str(),
                     ec.message().c_str());
        return 1;
    }
    Output output(r.json);
    Recorder recorder(r, endpoint, output);
    recorder.run();
    return 0;
}

}  // namespace cli
