// morvelip-osc-cli export FILE --vcd OUT --csv OUT [--bit-rate R]: replays an oscillogram file
// and writes the four channel traces as a value change dump and/or as CSV
// (core/files/trace_export.h).

#include <QCommandLineOption>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/replay.h"
#include "core/files/osc_file.h"
#include "core/files/trace_export.h"

namespace cli {

namespace {

struct ExportRequest {
    QString file;
    std::optional<QString> vcd;
    std::optional<QString> csv;
    std::optional<double> bitRate;
};

void addExportOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Replays an oscillogram file as the window's load action does in a program that has "
        "just started, and writes the four channel traces as a value change dump (one wire "
        "each: strobe, tx, rx1, rx2) and/or as CSV (a header row, then the tick and the four "
        "values at every change). A value is 1 while the trace stands at the upper level of its "
        "channel (the status bit clear). The files are replaced only once fully written."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The .osc file."));
    parser.addOption({QStringLiteral("vcd"), QStringLiteral("Writes the value change dump to OUT."),
                      QStringLiteral("OUT")});
    parser.addOption(
        {QStringLiteral("csv"), QStringLiteral("Writes the CSV to OUT."), QStringLiteral("OUT")});
    parser.addOption({QStringLiteral("bit-rate"),
                      QStringLiteral("Bits a second of the link, so that the dump's times are real "
                                     "(256 ticks a bit). Without it one tick is one time unit (1 "
                                     "ns). The CSV always counts ticks."),
                      QStringLiteral("R")});
}

std::optional<QString> valueIfSet(const QCommandLineParser& parser, const QString& name) {
    return parser.isSet(name) ? std::optional<QString>(parser.value(name)) : std::nullopt;
}

// -1 and the request filled in, or the exit status of a usage error or the help.
int parseExport(const QStringList& args, ExportRequest& request) {
    QCommandLineParser parser;
    addExportOptions(parser);
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    if (const int status = takeSingleFile(parser, args, request.file); status >= 0) {
        return status;
    }
    request.vcd = valueIfSet(parser, QStringLiteral("vcd"));
    request.csv = valueIfSet(parser, QStringLiteral("csv"));
    if (!request.vcd && !request.csv) {
        return usageError(parser, args, QStringLiteral("Give --vcd OUT, --csv OUT or both."));
    }
    if (const std::optional<QString> text = valueIfSet(parser, QStringLiteral("bit-rate"))) {
        bool ok = false;
        const double r = text->toDouble(&ok);
        if (!ok || !std::isfinite(r) || r <= 0 || r > 1e12) {
            return usageError(parser, args,
                              QStringLiteral("The bit rate must be a positive number of bits "
                                             "a second, not '%1'.")
                                  .arg(*text));
        }
        request.bitRate = r;
    }
    return -1;
}

bool writeOrReport(const QString& path, const std::string& bytes) {
    try {
        osc::writeFileAtomically(localPath(path), bytes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    return true;
}

int runExportRequest(const ExportRequest& request) {
    osc::CaptureEngine engine;
    if (!replayFileForCli(request.file, engine)) {
        return 1;
    }
    if (request.vcd && !writeOrReport(*request.vcd, osc::VcdText(engine.traces, request.bitRate))) {
        return 1;
    }
    if (request.csv && !writeOrReport(*request.csv, osc::CsvText(engine.traces))) {
        return 1;
    }
    return 0;
}

}  // namespace

int runExport(const QStringList& args) {
    ExportRequest request;
    if (const int status = parseExport(args, request); status >= 0) {
        return status;
    }
    return runExportRequest(request);
}

}  // namespace cli
