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

struct DevicesRequest {
    std::string nt;
    std::string tm;
    std::string user;
    std::string password;
};

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

void addDevicesOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "Connects to a telemechanics server and prints its device list, one entry per line.");
    parser.addHelpOption();
    parser.addOptions({
        {"nt-server", "NT server name.", "NT"},
        {"tm-server", "TM server name (without \"dnt$\").", "TM"},
        {"user", "User name (none: no credentials are set).", "USER"},
        {"password", "Password; \"-\" reads it from the first line of standard input.", "PASSWORD"},
        {"servers-dir", "Folder of server definitions for the stand-in library.", "DIR"},
    });
}

// -1 and the request filled in, or the exit status of a usage error or the help.
int parseDevices(const QStringList& args, DevicesRequest& request) {
    QCommandLineParser parser;
    addDevicesOptions(parser);
    if (!parser.parse(args)) {
        printError(parser.errorText().toStdString());
        return 2;
    }
    if (parser.isSet("help")) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (!parser.isSet("nt-server") || !parser.isSet("tm-server") ||
        !parser.positionalArguments().isEmpty()) {
        printError(
            "morvelip-osc-cli devices: --nt-server and --tm-server are needed "
            "(--help lists the options)");
        return 2;
    }
    request.nt = parser.value("nt-server").toStdString();
    request.tm = parser.value("tm-server").toStdString();
    request.user = parser.value("user").toStdString();
    request.password = parser.value("password").toStdString();
    if (request.password == "-") {
        request.password = passwordFromStdin();
    }
    if (parser.isSet("servers-dir")) {
        qputenv("TMCONN_SERVERS_DIR", parser.value("servers-dir").toLocal8Bit());
    }
    return -1;
}

int listDevices(const DevicesRequest& request) {
    server::ConnectionSession session;
    session.applyCredentials(request.user, request.password);
    const std::int32_t connection = session.connect(request.nt, request.tm);
    const server::DeviceListResult result = session.refreshDeviceList(connection);
    switch (result.outcome) {
        case server::DeviceListResult::Outcome::FetchFailed:
            printError(server::FetchFailureText(request.nt, request.tm));
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
}

}  // namespace

int runDevices(const QStringList& args) {
    DevicesRequest request;
    if (const int status = parseDevices(args, request); status >= 0) {
        return status;
    }
    try {
        return listDevices(request);
    } catch (const std::exception& e) {
        printError(e.what());
        return 1;
    }
}

}  // namespace cli
