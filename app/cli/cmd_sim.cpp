// morvelip-osc-cli sim: one simulated device on UDP until SIGINT or SIGTERM.

#include <signal.h>

#include <QCommandLineParser>
#include <cstdio>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/replay.h"
#include "net/address.h"
#include "netsim/udp_device_server.h"

namespace cli {

namespace {

bool parseMac(const QString& text, osc::DeviceId& id) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint v = parts[i].toUInt(&ok, 16);
        if (!ok || parts[i].size() != 2 || v > 255) {
            return false;
        }
        id[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
    }
    return true;
}

void addSimOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Runs one simulated device on UDP until SIGINT or SIGTERM. It answers the identity "
        "request, and between a start and a stop command streams the sample datagrams of a "
        "polled serial link to the sender of the start command: a primary station on the "
        "transmit line sets up stations 5 and 9 with SNRM, then polls them in turn with I "
        "frames and RR, and they answer on the two receive lines with I frames, RR or RNR. "
        "--loss, --bit-errors and --late add faults; a signal while streaming ends the "
        "stream with DISC and UA for each station. One line is printed when it listens and "
        "one per datagram received."));
    parser.addOptions({
        {"bind", "Local address (default: all).", "ADDR"},
        {"port", "Local UDP port (default 971).", "P", "971"},
        {"mac", "Identity (default: derived from --bind).", "XX:XX:XX:XX:XX:XX"},
        {"bit-rate", "Bits per second, 1 to 1000000 (default 9600).", "R", "9600"},
        {"seed", "Seed of the conversation and its faults (default 1).", "S", "1"},
        {"text", "Information field of every I frame instead.", "TEXT"},
        {"loss", "Share of answers not sent, 0 to 1 (default 0).", "P", "0"},
        {"bit-errors", "Share of frames with one bit flipped, 0 to 1 (default 0).", "P", "0"},
        {"late", "Share of answers sent late, 0 to 1 (default 0).", "P", "0"},
        {"pairs", "Sample pairs a datagram, 1 to 4092 (default 256).", "N", "256"},
    });
}

// The device's options from the parsed ones; an empty text when they are fine, else the usage
// error's text.
QString takeSimOptions(const QCommandLineParser& parser, osc::net::DeviceServerOptions& options) {
    options.endpoint.bindAddress = parser.value("bind").toStdString();
    bool ok = false;
    const uint portValue = parser.value("port").toUInt(&ok);
    if (!ok || portValue > 65535) {
        return QStringLiteral("--port takes 0 to 65535.");
    }
    options.endpoint.port = static_cast<std::uint16_t>(portValue);
    options.device.bitRate = parser.value("bit-rate").toInt(&ok);
    if (!ok || options.device.bitRate < 1 || options.device.bitRate > 1'000'000) {
        return QStringLiteral("--bit-rate takes 1 to 1000000.");
    }
    options.device.pairsPerDatagram = parser.value("pairs").toInt(&ok);
    if (!ok || options.device.pairsPerDatagram < 1 || options.device.pairsPerDatagram > 4092) {
        return QStringLiteral("--pairs takes 1 to 4092.");
    }
    options.device.link.seed = parser.value("seed").toULongLong(&ok);
    if (!ok) {
        return QStringLiteral("--seed takes a whole number.");
    }
    options.device.link.text = parser.value("text").toStdString();
    for (const auto& [name, share] :
         {std::pair{"loss", &options.device.link.faults.loss},
          std::pair{"bit-errors", &options.device.link.faults.bitErrors},
          std::pair{"late", &options.device.link.faults.late}}) {
        *share = parser.value(QLatin1String(name)).toDouble(&ok);
        if (!ok || !(*share >= 0 && *share <= 1)) {
            return QStringLiteral("--%1 takes a share from 0 to 1, such as 0.02.")
                .arg(QLatin1String(name));
        }
    }
    if (parser.isSet("mac")) {
        osc::DeviceId id{};
        if (!parseMac(parser.value("mac"), id)) {
            return QStringLiteral("--mac takes six hex bytes joined by ':'.");
        }
        options.device.identity = id;
    }
    return QString();
}

// -1 and the options filled in, or the exit status of a usage error or the help.
int parseSim(const QStringList& args, osc::net::DeviceServerOptions& options) {
    QCommandLineParser parser;
    addSimOptions(parser);
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(parser, args, QStringLiteral("No arguments are taken."));
    }
    if (const QString error = takeSimOptions(parser, options); !error.isEmpty()) {
        return usageError(parser, args, error);
    }
    return -1;
}

void printCommand(const osc::net::DeviceCommandEvent& e) {
    std::printf("%s:%u %s (%zu bytes)\n", osc::net::ipv4Text(e.from.ip).c_str(),
                static_cast<unsigned>(e.from.port), osc::sim::commandName(e.kind), e.length);
    std::fflush(stdout);
}

// Serves until one of stopSignals arrives; throws EndpointError.
void serveUntil(const osc::net::DeviceServerOptions& options, const sigset_t& stopSignals) {
    osc::net::UdpDeviceServer server(options);
    server.setCommandObserver(printCommand);
    server.start();
    const std::string& bind = options.endpoint.bindAddress;
    std::printf("Simulated device %s listening on %s:%u, %d bit/s\n",
                osc::deviceIdText(server.identity()).c_str(),
                bind.empty() ? "0.0.0.0" : bind.c_str(), static_cast<unsigned>(server.localPort()),
                options.device.bitRate);
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    std::printf("Stopped by signal %d after %llu sample datagrams\n", signal,
                static_cast<unsigned long long>(server.datagramsStreamed()));
    std::fflush(stdout);
}

}  // namespace

int runSim(const QStringList& args) {
    osc::net::DeviceServerOptions options;
    if (const int status = parseSim(args, options); status >= 0) {
        return status;
    }
    // The signals are taken by sigwait; blocked before any thread starts, so that no other
    // thread receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    try {
        serveUntil(options, stopSignals);
    } catch (const osc::net::EndpointError& e) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args.value(0)), e.what());
        return 1;
    }
    return 0;
}

}  // namespace cli
