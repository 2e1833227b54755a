// morvelip-osc: the window program.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <optional>

#include "core/capture/memory_ceiling.h"
#include "ui/window/Startup.h"

namespace {

void nameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("morvelip-osc"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrowel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MO_VERSION));
}

// --help and --version are answered without a window system, so that they work over SSH, in
// a build without a display and for the manual page generator.
bool asksForTextOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "МорвелIP-осциллограф: captures and decodes the logic lines of telemechanics devices.\n"
        "\n"
        "At start the login dialog asks for the telemechanics server; the device list then\n"
        "offers its IP devices. The device's oscilloscope is started and stopped from the\n"
        "tool bar; the four lines are drawn live. Datagrams talk to the devices on UDP port\n"
        "971. A FILE given on the command line is replayed once the window is shown, as the\n"
        "load button does; so is an .osc file dropped on the window.\n"
        "\n"
        "Plot: left drag to the right zooms, to the left restores; right or middle drag pans;\n"
        "the wheel zooms about the pointer, Shift+wheel pans. Keys: Home the whole capture,\n"
        "Ctrl+G go to a bit, + and - zoom, Left and Right pan, PgUp and PgDn page, F5 start,\n"
        "Shift+F5 stop, Ctrl+O load, Ctrl+S save."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Open on the built-in demo server and devices."));
    parser.addOption(demo);
    const QCommandLineOption quitAfterLoad(
        QStringLiteral("quit-after-load"),
        QStringLiteral("Replay FILE and quit, for scripts and checks: no login dialog, messages "
                       "go to standard error, each channel's point count and last X are "
                       "printed, and the exit status is 1 when an error was shown."));
    parser.addOption(quitAfterLoad);
    const QCommandLineOption memoryLimit(
        QStringLiteral("memory-limit"),
        QStringLiteral("Stop a capture cleanly before its traces and trace log hold SIZE "
                       "(512M, 2G, 1.5G; binary units). Default: a safe share of the memory the "
                       "system can give."),
        QStringLiteral("SIZE"));
    parser.addOption(memoryLimit);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Oscillogram file (.osc) to replay."),
                                 QStringLiteral("[FILE]"));

    if (asksForTextOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        nameApplication();
        parser.process(app);  // prints and exits
        return 0;
    }

    QApplication app(argc, argv);
    nameApplication();
#ifdef MO_DESKTOP_FILE_NAME
    QGuiApplication::setDesktopFileName(QStringLiteral(MO_DESKTOP_FILE_NAME));
#endif
    parser.process(app);

    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "morvelip-osc: only one FILE may be given\n");
        return 2;
    }
    ui::StartupOptions options;
    options.demo = parser.isSet(demo);
    options.file = files.value(0);
    options.quitAfterLoad = parser.isSet(quitAfterLoad);
    if (parser.isSet(memoryLimit)) {
        const QString text = parser.value(memoryLimit);
        const std::optional<std::uint64_t> bytes = osc::parseMemorySize(text.toStdString());
        if (!bytes) {
            std::fprintf(stderr, "morvelip-osc: --memory-limit: not a size: %s\n",
                         text.toLocal8Bit().constData());
            return 2;
        }
        options.memoryLimit = *bytes;
    }
    if (options.quitAfterLoad && options.file.isEmpty()) {
        std::fprintf(stderr, "morvelip-osc: --quit-after-load needs a FILE\n");
        return 2;
    }
    return ui::runApplication(app, options);
}
