// morvelip-osc-cli: the capture engine without a window.

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>

#include "app/cli/commands.h"

namespace {

struct Subcommand {
    const char* name;
    const char* summary;
    int (*run)(const QStringList& args);
};

constexpr Subcommand kSubcommands[] = {
    {"traces", "replay an oscillogram file and print every trace point", cli::runTraces},
    {"decode", "replay a file and decode the bits between marker and cursor", cli::runDecode},
    {"export", "replay a file and write its traces as VCD or CSV", cli::runExport},
    {"frames", "replay a file and list the frames of its data lines", cli::runFrames},
    {"stats", "replay a file and count the frames and answers of each station", cli::runStats},
    {"sim", "run a simulated device on UDP", cli::runSim},
    {"capture", "record a capture from a device into an oscillogram file", cli::runCapture},
    {"record", "record devices for days: segments, triggers, one file per event", cli::runRecord},
    {"devices", "list the devices of a telemechanics server", cli::runDevices},
};

void printUsage(std::FILE* out) {
    std::fprintf(
        out,
        "Usage: morvelip-osc-cli SUBCOMMAND [OPTIONS]\n"
        "  or:  morvelip-osc-cli --help | --version\n\n"
        "The engine of the window program without a window: replays oscillogram files\n"
        "(.osc) and prints, decodes or exports their traces, lists the devices of a\n"
        "telemechanics server, records a capture from a device over UDP, records\n"
        "several devices for days with triggers, and runs a simulated device.\n\nSubcommands:\n");
    for (const Subcommand& s : kSubcommands) {
        std::fprintf(out, "  %-9s %s\n", s.name, s.summary);
    }
    std::fprintf(out,
                 "\nmorvelip-osc-cli SUBCOMMAND --help shows the options of one.\n"
                 "\nOptions:\n"
                 "  -h, --help     Shows this help.\n"
                 "  -v, --version  Shows the version.\n");
}

bool isOption(const char* arg, const char* shortName, const char* longName) {
    return std::strcmp(arg, shortName) == 0 || std::strcmp(arg, longName) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("morvelip-osc-cli");
    QCoreApplication::setApplicationVersion(QStringLiteral(MO_VERSION));
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    if (isOption(argv[1], "-h", "--help")) {
        printUsage(stdout);
        return 0;
    }
    if (isOption(argv[1], "-v", "--version")) {
        std::printf("morvelip-osc-cli %s\n", MO_VERSION);
        return 0;
    }
    for (const Subcommand& s : kSubcommands) {
        if (std::strcmp(argv[1], s.name) == 0) {
            QStringList args;
            args << QStringLiteral("morvelip-osc-cli %1").arg(QString::fromUtf8(s.name));
            for (int i = 2; i < argc; ++i) {
                args << QString::fromLocal8Bit(argv[i]);
            }
            return s.run(args);
        }
    }
    std::fprintf(stderr, "morvelip-osc-cli: unknown subcommand '%s'\n\n", argv[1]);
    printUsage(stderr);
    return 2;
}
