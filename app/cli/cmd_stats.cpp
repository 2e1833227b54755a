// morvelip-osc-cli stats FILE [--channel C]... [decoder and link options]
// [--format text|csv|json]: replays an oscillogram file, decodes the frames with their link
// layer and prints the statistics of each station (address), with the frames' summary on
// stderr.

#include <cstdio>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/frame_options.h"
#include "app/cli/replay.h"
#include "core/files/link_export.h"

namespace cli {

namespace {

int parseStats(const QStringList& args, FrameCliRequest& request) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Replays an oscillogram file as the window's load action does in a program that has "
        "just started, decodes the frames of the data lines and their link layer, and prints "
        "for each station (address), over its good frames in both roles: frames, bytes, "
        "commands, responses, I, S and U frames, polls (commands with P=1), answers, "
        "no_answer, retransmission, sequence_gap, unsolicited, REJ, SREJ, RNR, FRMR and the "
        "response times in bits (least, mean, 95th percentile by nearest rank, greatest); the "
        "text format adds the frames, bad frames and aborts of each line. A summary of the "
        "frames goes to stderr. Exit status 0 once the file was read; 2 for an unreadable "
        "file or bad options."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The .osc file."));
    const FrameCliOptions options(parser);
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    if (const int status = takeSingleFile(parser, args, request.file); status >= 0) {
        return status;
    }
    return options.read(parser, args, request);
}

}  // namespace

int runStats(const QStringList& args) {
    FrameCliRequest request;
    if (const int status = parseStats(args, request); status >= 0) {
        return status;
    }
    osc::CaptureEngine engine;
    engine.frames.setEnabled(true);
    engine.frames.setOptions(request.decoder, request.channels);
    engine.link.setOptions(request.link);
    if (!replayFileForCli(request.file, engine)) {
        return 2;
    }
    const osc::LinkAnalyser& link = engine.link.analyser();
    const std::string out =
        osc::formatStationStats(link.stations(), link.lines(), request.channels, request.format);
    if (!writeStdout(out)) {
        std::fprintf(stderr, "%s: cannot write the output\n", qPrintable(args.value(0)));
        return 1;
    }
    const std::string summary = frameSummary(engine.frames, request.channels);
    std::fwrite(summary.data(), 1, summary.size(), stderr);
    return 0;
}

}  // namespace cli
