// morvelip-osc: the window program.
#include <QApplication>
#include <QCommandLineParser>

#include "ui/Startup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("morvelip-osc"));
    QApplication::setOrganizationName(QStringLiteral("Kestrowel"));
    QApplication::setApplicationVersion(QStringLiteral(MO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "МорвелIP-осциллограф: captures and decodes the logic lines of telemechanics devices.\n"
        "Plot: left drag to the right zooms, to the left restores; right or middle drag pans;\n"
        "the wheel zooms about the pointer, Shift+wheel pans."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Open on the built-in demo server and devices."));
    parser.addOption(demo);
    parser.process(app);

    ui::StartupOptions options;
    options.demo = parser.isSet(demo);
    return ui::runApplication(app, options);
}
