// morvelip-osc-cli devices: logs in to a telemechanics server as the connect action does and
// prints its device list, one entry per line.

#include <QCommandLineParser>
#include <cstdio>
#include <iostream>
#include <string>

#include "app/cli/commands.h"

#include "server/connection_session.h"

namespace cli {

namespace {

// One line of standard input, without its line end.
std::string passwordFromStdin() {
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

void printError(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

int runDevices(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Connects to a telemechanics server and prints its device list, one entry per line.");
    parser.addHelpOption();
    const QCommandLineOption ntOption("nt-server", "NT server name.", "NT");
    const QCommandLineOption tmOption("tm-server", "TM server name (without \"dnt$\").", "TM");
    const QCommandLineOption userOption("user", "User name (none: no credentials are set).",
                                        "USER");
    const QCommandLineOption passwordOption(
        "password", "Password; \"-\" reads it from the first line of standard input.", "PASSWORD");
    const QCommandLineOption serversOption(
        "servers-dir", "Folder of server definitions for the stand-in library.", "DIR");
    parser.addOptions({ntOption, tmOption, userOption, passwordOption, serversOption});
    if (!parser.parse(args)) {
        printError(parser.errorText().toStdString());
        return 2;
    }
    if (parser.isSet("help")) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (!parser.isSet(ntOption) || !parser.isSet(tmOption) ||
        !parser.positionalArguments().isEmpty()) {
        printError(
            "morvelip-osc-cli devices: --nt-server and --tm-server are needed "
            "(--help lists the options)");
        return 2;
    }
    const std::string nt = parser.value(ntOption).toStdString();
    const std::string tm = parser.value(tmOption).toStdString();
    const std::string user = parser.value(userOption).toStdString();
    std::string password = parser.value(passwordOption).toStdString();
    if (password == "-") {
        password = passwordFromStdin();
    }
    if (parser.isSet(serversOption)) {
        qputenv("TMCONN_SERVERS_DIR", parser.value(serversOption).toLocal8Bit());
    }

    try {
        server::ConnectionSession session;
        session.applyCredentials(user, password);
        const std::int32_t connection = session.connect(nt, tm);
        const server::DeviceListResult result = session.refreshDeviceList(connection);
        switch (result.outcome) {
            case server::DeviceListResult::Outcome::FetchFailed:
                printError(server::FetchFailureText(nt, tm));
                return 1;
            case server::DeviceListResult::Outcome::ReadError:
                printError(result.error);
                return 1;
            case server::DeviceListResult::Outcome::Listed:
                break;
        }
        for (const std::string& entry : result.entries) {
            std::fwrite(entry.data(), 1, entry.size(), stdout);
            std::fputc('\n', stdout);
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        printError(e.what());
        return 1;
    }
}

}  // namespace cli
