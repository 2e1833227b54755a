// morvelip-osc-cli export FILE --vcd OUT --csv OUT --pcapng OUT [--bit-rate R]: replays an
// oscillogram file and writes the four channel traces as a value change dump and/or as CSV
// (core/files/trace_export.h), and the decoded frames as a pcapng capture
// (core/files/pcapng_export.h), each streamed into its file as it is made.

#include <QCommandLineOption>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/frame_options.h"
#include "app/cli/replay.h"
#include "core/files/osc_file.h"
#include "core/files/pcapng_export.h"
#include "core/files/trace_export.h"

namespace cli {

namespace {

struct ExportRequest {
    QString file;
    std::optional<QString> vcd;
    std::optional<QString> csv;
    std::optional<QString> pcapng;
    std::optional<double> bitRate;
    FrameDecoderChoice decoder;
    int primary = 1;
    bool allFrames = false;
};

std::optional<QString> valueIfSet(const QCommandLineParser& parser, const QString& name) {
    return parser.isSet(name) ? std::optional<QString>(parser.value(name)) : std::nullopt;
}

// -1 and the request filled in, or the exit status of a usage error or the help.
int parseExport(const QStringList& args, ExportRequest& request) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Replays an oscillogram file as the window's load action does in a program that has "
        "just started, and writes the four channel traces as a value change dump (one wire "
        "each: strobe, tx, rx1, rx2) and/or as CSV (a header row, then the tick and the four "
        "values at every change). A value is 1 while the trace stands at the upper level of its "
        "channel (the status bit clear). With --pcapng it also decodes the frames (the options "
        "of the frames subcommand) and writes them as a pcapng capture of link type SDLC: a "
        "packet per good frame with its address, control and information fields, an interface "
        "per decoded channel, the frame's number as the packet's comment. The files are "
        "replaced only once fully written."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The .osc file."));
    parser.addOption({QStringLiteral("vcd"), QStringLiteral("Writes the value change dump to OUT."),
                      QStringLiteral("OUT")});
    parser.addOption(
        {QStringLiteral("csv"), QStringLiteral("Writes the CSV to OUT."), QStringLiteral("OUT")});
    parser.addOption({QStringLiteral("pcapng"),
                      QStringLiteral("Writes the decoded frames as a pcapng capture to OUT."),
                      QStringLiteral("OUT")});
    parser.addOption({QStringLiteral("bit-rate"),
                      QStringLiteral("Bits a second of the link, so that the dump's times are real "
                                     "(256 ticks a bit). Without it one tick is one time unit (1 "
                                     "ns) in the dump and one bit lasts 1 us in the pcapng "
                                     "capture. The CSV always counts ticks."),
                      QStringLiteral("R")});
    parser.addOption({QStringLiteral("all-frames"),
                      QStringLiteral("The pcapng capture holds the bad frames too, each with its "
                                     "error in the comment.")});
    parser.addOption({QStringLiteral("primary"),
                      QStringLiteral("The primary station's channel (default 1, Передача): its "
                                     "frames are outbound in the pcapng capture, the others' "
                                     "inbound."),
                      QStringLiteral("CHANNEL"), QStringLiteral("1")});
    const FrameDecoderOptions decoderOptions(parser);
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    if (const int status = takeSingleFile(parser, args, request.file); status >= 0) {
        return status;
    }
    request.vcd = valueIfSet(parser, QStringLiteral("vcd"));
    request.csv = valueIfSet(parser, QStringLiteral("csv"));
    request.pcapng = valueIfSet(parser, QStringLiteral("pcapng"));
    if (!request.vcd && !request.csv && !request.pcapng) {
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
    const QString primary = parser.value(QStringLiteral("primary"));
    const std::optional<int> primaryChannel = channelNumber(primary);
    if (!primaryChannel) {
        return usageError(parser, args,
                          QStringLiteral("Unknown channel '%1': --primary takes 0 to 3 or a "
                                         "channel's name.")
                              .arg(primary));
    }
    request.primary = *primaryChannel;
    request.allFrames = parser.isSet(QStringLiteral("all-frames"));
    return decoderOptions.read(parser, args, request.decoder);
}

// Streams a writer's text into the file (held in a private temporary file when the file can
// only be written in place); a failure is reported on stderr with its reason.
bool writeOrReport(const QString& path, const std::function<void(osc::OutputSink&)>& write) {
    try {
        osc::writeFileThroughSink(
            localPath(path),
            [&](osc::OutputSink& sink) {
                write(sink);
                return true;
            },
            true);
    } catch (const osc::FileError& e) {
        std::fprintf(stderr, "%s\n", e.message().c_str());
        return false;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    return true;
}

int runExportRequest(const ExportRequest& request) {
    osc::CaptureEngine engine;
    if (request.pcapng) {
        engine.frames.setEnabled(true);
        engine.frames.setOptions(request.decoder.options, request.decoder.channels);
    }
    if (!replayFileForCli(request.file, engine)) {
        return 1;
    }
    auto writeTraces = [&](const std::optional<QString>& out, osc::ExportFormat format,
                           std::optional<double> rate) {
        return !out || writeOrReport(*out, [&](osc::OutputSink& sink) {
            osc::writeTraces(engine.traces, format, rate, std::nullopt, sink);
        });
    };
    if (!writeTraces(request.vcd, osc::ExportFormat::Vcd, request.bitRate) ||
        !writeTraces(request.csv, osc::ExportFormat::Csv, std::nullopt)) {
        return 1;
    }
    if (request.pcapng) {
        osc::PcapngOptions options;
        options.channels = request.decoder.channels;
        options.primaryChannel = request.primary;
        options.allFrames = request.allFrames;
        options.bitRate = request.bitRate;
        osc::CaptureFrameWalk walk(engine.frames);
        if (!writeOrReport(*request.pcapng,
                           [&](osc::OutputSink& sink) { osc::writePcapng(walk, options, sink); })) {
            return 1;
        }
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
