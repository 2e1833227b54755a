// morvelip-osc-cli frames FILE [--channel C]... [decoder and link options] [--filter EXPR]
// [--format text|csv|json]: replays an oscillogram file, decodes the frames of the chosen
// channels with their link layer and prints one frame a line, row or object in order of start,
// with a summary on stderr.

#include <QCommandLineOption>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/frame_options.h"
#include "app/cli/replay.h"
#include "core/files/link_export.h"
#include "core/view/time_text.h"

namespace cli {

namespace {

struct FramesRequest {
    FrameCliRequest frames;
    QString filter;
    std::optional<double> bitRate;
};

// Options into request; -1 to go on, else the exit status.
int parseFrames(const QStringList& args, FramesRequest& request) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Replays an oscillogram file as the window's load action does in a program that has "
        "just started and decodes the flag-delimited frames of channel traces, reading one bit "
        "per bit period as the bit-stream decoder does. Prints one frame per line (text), row "
        "(csv) or object (json) in order of start: its number, channel, start and end in bits "
        "(a marker at the start and a cursor at the end decode the frame with its flags), "
        "bytes (payload and check), check and error; csv and json then give its link layer: "
        "address, frame_type (I, S, U), command (S and U frames), ns, nr, pf, role (command on "
        "the primary's line, response on the others), answer_to (the number of the command a "
        "response answers), response_bits and issue (no_answer, unsolicited, retransmission, "
        "sequence_gap). A summary goes to stderr. Exit status 0 once the file was read, "
        "whatever the frames; 2 for an unreadable file, bad options or a bad filter."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The .osc file."));
    const FrameCliOptions options(parser);
    const QCommandLineOption filterOption(
        QStringLiteral("filter"),
        QStringLiteral("Only the frames the expression passes, such as 'channel == 2 && (issue "
                       "== no_answer || rt > 40)' or 'bytes ~ \"01 3E ?? 7E\"'. Fields: index, "
                       "channel, start, end, bits, status, error, address, type, command, ns, "
                       "nr, pf, role, issue, rt (response bits), rt_ms (with --bit-rate), "
                       "bytes; == != < <= > >=, ~ for bytes, && || ! and parentheses."),
        QStringLiteral("EXPR"));
    const QCommandLineOption bitRateOption(
        QStringLiteral("bit-rate"),
        QStringLiteral("Bits a second of the link, for rt_ms in --filter."), QStringLiteral("R"));
    parser.addOptions({filterOption, bitRateOption});
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    if (const int status = takeSingleFile(parser, args, request.frames.file); status >= 0) {
        return status;
    }
    if (const int status = options.read(parser, args, request.frames); status >= 0) {
        return status;
    }
    if (parser.isSet(bitRateOption)) {
        const QString text = parser.value(bitRateOption);
        request.bitRate = osc::parseBitRate(text.toStdString());
        if (!request.bitRate) {
            return usageError(parser, args,
                              QStringLiteral("The bit rate must be a positive number of bits a "
                                             "second, not '%1'.")
                                  .arg(text));
        }
    }
    request.filter = parser.value(filterOption);
    return -1;
}

// "morvelip-osc-cli frames: --filter: position 9: expected ..." and the expression with a mark
// under the place.
int filterError(const QStringList& args, const std::string& text, const osc::FilterError& e) {
    std::string out = args.value(0).toStdString() +
                      ": --filter: " + osc::filterErrorText(e, osc::FilterLanguage::English) +
                      "\n  " + text + "\n  " + std::string(e.column - 1, ' ') + "^\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    return 2;
}

}  // namespace

int runFrames(const QStringList& args) {
    FramesRequest request;
    if (const int status = parseFrames(args, request); status >= 0) {
        return status;
    }
    osc::FilterSettings settings;
    settings.bitRate = request.bitRate;
    const std::string filterText = request.filter.toStdString();
    const osc::FilterParse filter = osc::FrameFilter::parse(filterText, settings);
    if (!filter.ok()) {
        return filterError(args, filterText, *filter.error);
    }
    osc::CaptureEngine engine;
    engine.frames.setEnabled(true);
    engine.frames.setOptions(request.frames.decoder, request.frames.channels);
    engine.link.setOptions(request.frames.link);
    if (!replayFileForCli(request.frames.file, engine)) {
        return 2;
    }
    const osc::FrameRecords records(engine.frames, engine.link);
    const bool written =
        osc::writeFrameRecords(records, request.frames.format, filter.filter,
                               [](std::string_view piece) { return writeStdout(piece); });
    if (!written) {
        reportOutputFailure(args);
        return 1;
    }
    const std::string summary = frameSummary(engine.frames, request.frames.channels);
    std::fwrite(summary.data(), 1, summary.size(), stderr);
    return 0;
}

}  // namespace cli
