// morvelip-osc-cli frames FILE [--channel C]... [decoder options] [--format text|csv|json]:
// replays an oscillogram file, decodes the frames of the chosen channels and prints one frame a
// line, row or object in order of start, with a summary on stderr.

#include <QCommandLineOption>
#include <charconv>
#include <cstdio>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/frame_options.h"
#include "app/cli/replay.h"
#include "core/files/frame_export.h"

namespace cli {

namespace {

using Format = osc::FrameListFormat;

struct FramesRequest {
    QString file;
    FrameDecoderChoice decoder;
    Format format = Format::Text;
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
        "bytes (payload and check), check and error. A summary goes to stderr. Exit status 0 "
        "once the file was read, whatever the frames; 2 for an unreadable file or bad options."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The .osc file."));
    const FrameDecoderOptions decoderOptions(parser);
    const QCommandLineOption formatOption(QStringLiteral("format"),
                                          QStringLiteral("text (default), csv or json."),
                                          QStringLiteral("FORMAT"), QStringLiteral("text"));
    parser.addOption(formatOption);
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    if (const int status = takeSingleFile(parser, args, request.file); status >= 0) {
        return status;
    }
    if (const int status = decoderOptions.read(parser, args, request.decoder); status >= 0) {
        return status;
    }
    const QString format = parser.value(formatOption).trimmed().toLower();
    if (format == QLatin1String("text")) {
        request.format = Format::Text;
    } else if (format == QLatin1String("csv")) {
        request.format = Format::Csv;
    } else if (format == QLatin1String("json")) {
        request.format = Format::Json;
    } else {
        return usageError(parser, args, QStringLiteral("--format takes text, csv or json."));
    }
    return -1;
}

void appendNumber(std::string& out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// "channel 2 Приём1 (x25): 40 frames, 38 good, 2 bad (bad check 1, unfinished 1)"
std::string summaryLine(const std::string& what, const osc::FrameCounts& n) {
    std::string out = what + ": ";
    appendNumber(out, static_cast<long long>(n.frames));
    out += " frames, ";
    appendNumber(out, static_cast<long long>(n.good));
    out += " good, ";
    appendNumber(out, static_cast<long long>(n.bad));
    out += " bad";
    std::string kinds;
    for (int e = 1; e < osc::kFrameErrorCount; ++e) {
        const std::uint64_t count = n.byError[static_cast<std::size_t>(e)];
        if (count != 0) {
            kinds += kinds.empty() ? " (" : ", ";
            kinds += osc::frameErrorName(static_cast<osc::FrameError>(e));
            kinds += ' ';
            appendNumber(kinds, static_cast<long long>(count));
        }
    }
    if (!kinds.empty()) {
        kinds += ')';
    }
    return out + kinds + '\n';
}

std::string printSummary(const osc::CaptureFrames& frames, unsigned channels) {
    std::string out;
    osc::FrameCounts total;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        if ((channels & (1u << c)) == 0) {
            continue;
        }
        const osc::FrameCounts n = frames.counts(c);
        std::string what = "channel ";
        appendNumber(what, c);
        what += ' ';
        what += osc::kChannels[static_cast<std::size_t>(c)].name;
        what += " (";
        what += osc::frameCheckName(frames.checkInUse(c));
        what += ')';
        out += summaryLine(what, n);
        total.frames += n.frames;
        total.good += n.good;
        total.bad += n.bad;
        for (std::size_t e = 0; e < total.byError.size(); ++e) {
            total.byError[e] += n.byError[e];
        }
    }
    return out + summaryLine("total", total);
}

}  // namespace

int runFrames(const QStringList& args) {
    FramesRequest request;
    if (const int status = parseFrames(args, request); status >= 0) {
        return status;
    }
    osc::CaptureEngine engine;
    engine.frames.setEnabled(true);
    engine.frames.setOptions(request.decoder.options, request.decoder.channels);
    if (!replayFileForCli(request.file, engine)) {
        return 2;
    }
    osc::CaptureFrameWalk walk(engine.frames);
    if (!writeStdoutThroughSink([&](osc::OutputSink& sink) {
            return osc::writeFrameList(walk, request.format, sink);
        })) {
        reportOutputFailure(args);
        return 1;
    }
    const std::string summary = printSummary(engine.frames, request.decoder.channels);
    std::fwrite(summary.data(), 1, summary.size(), stderr);
    return 0;
}

}  // namespace cli
