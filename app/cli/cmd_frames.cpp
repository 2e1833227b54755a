// morvelip-osc-cli frames FILE [--channel C]... [decoder options] [--format text|csv|json]:
// replays an oscillogram file, decodes the frames of the chosen channels and prints one frame a
// line, row or object in order of start, with a summary on stderr.

#include <QCommandLineOption>
#include <array>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/replay.h"
#include "core/files/frame_export.h"

namespace cli {

namespace {

constexpr std::array<const char*, osc::kChannelCount> kShortNames = {"strobe", "tx", "rx1", "rx2"};

using Format = osc::FrameListFormat;

struct FramesRequest {
    QString file;
    osc::FrameOptions options;
    unsigned channels = osc::kDataChannels;
    Format format = Format::Text;
};

std::optional<int> channelNumber(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    const int n = t.toInt(&ok);
    if (ok) {
        return n >= 0 && n < osc::kChannelCount ? std::optional<int>(n) : std::nullopt;
    }
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (t.compare(QString::fromUtf8(osc::kChannels[i].name), Qt::CaseInsensitive) == 0 ||
            t.compare(QString::fromLatin1(kShortNames[i]), Qt::CaseInsensitive) == 0) {
            return c;
        }
    }
    return std::nullopt;
}

std::optional<int> lengthValue(const QString& text) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < 1 || n > (1 << 20)) {
        return std::nullopt;
    }
    return n;
}

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
    const QCommandLineOption channelOption(
        QStringLiteral("channel"),
        QStringLiteral("A channel to decode: 0 to 3, its name or strobe, tx, rx1, rx2; may be "
                       "repeated (default: 1, 2 and 3)."),
        QStringLiteral("C"));
    const QCommandLineOption invertOption(QStringLiteral("invert"),
                                          QStringLiteral("Every line bit is inverted."));
    const QCommandLineOption msbOption(
        QStringLiteral("msb-first"),
        QStringLiteral("The first bit of a byte is its most significant bit."));
    const QCommandLineOption noStuffingOption(
        QStringLiteral("no-stuffing"),
        QStringLiteral("The 0 after five 1s is data, not stuffing."));
    const QCommandLineOption checkOption(
        QStringLiteral("check"),
        QStringLiteral("Frame check: x25 (default), ccitt-false, crc32, none, or auto (the one "
                       "that fits most frames of a channel)."),
        QStringLiteral("CHECK"), QStringLiteral("x25"));
    const QCommandLineOption minOption(
        QStringLiteral("min-length"),
        QStringLiteral("Fewest bytes of a frame, check included (default 2)."), QStringLiteral("N"),
        QStringLiteral("2"));
    const QCommandLineOption maxOption(
        QStringLiteral("max-length"),
        QStringLiteral("Most bytes of a frame; longer ones are reported too long (default 4096)."),
        QStringLiteral("N"), QStringLiteral("4096"));
    const QCommandLineOption formatOption(QStringLiteral("format"),
                                          QStringLiteral("text (default), csv or json."),
                                          QStringLiteral("FORMAT"), QStringLiteral("text"));
    parser.addOptions({channelOption, invertOption, msbOption, noStuffingOption, checkOption,
                       minOption, maxOption, formatOption});
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    if (const int status = takeSingleFile(parser, args, request.file); status >= 0) {
        return status;
    }
    if (parser.isSet(channelOption)) {
        request.channels = 0;
        for (const QString& value : parser.values(channelOption)) {
            for (const QString& one : value.split(QLatin1Char(','))) {
                const std::optional<int> c = channelNumber(one);
                if (!c) {
                    return usageError(parser, args,
                                      QStringLiteral("Unknown channel '%1': --channel takes 0 to "
                                                     "3 or a channel's name.")
                                          .arg(one));
                }
                request.channels |= 1u << *c;
            }
        }
    }
    osc::FrameOptions& o = request.options;
    o.invert = parser.isSet(invertOption);
    o.order = parser.isSet(msbOption) ? osc::BitOrder::MsbFirst : osc::BitOrder::LsbFirst;
    o.stuffing = !parser.isSet(noStuffingOption);
    const QString check = parser.value(checkOption).trimmed().toLower();
    bool known = false;
    for (const osc::FrameCheck c :
         {osc::FrameCheck::X25, osc::FrameCheck::CcittFalse, osc::FrameCheck::Crc32,
          osc::FrameCheck::None, osc::FrameCheck::Auto}) {
        if (check == QString::fromLatin1(osc::frameCheckName(c).data(),
                                         static_cast<qsizetype>(osc::frameCheckName(c).size()))) {
            o.check = c;
            known = true;
        }
    }
    if (!known) {
        return usageError(parser, args,
                          QStringLiteral("--check takes x25, ccitt-false, crc32, none or auto."));
    }
    const std::optional<int> minLength = lengthValue(parser.value(minOption));
    const std::optional<int> maxLength = lengthValue(parser.value(maxOption));
    if (!minLength || !maxLength) {
        return usageError(parser, args,
                          QStringLiteral("--min-length and --max-length take 1 to 1048576."));
    }
    o.minLength = *minLength;
    o.maxLength = *maxLength;
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
    engine.frames.setOptions(request.options, request.channels);
    if (!replayFileForCli(request.file, engine)) {
        return 2;
    }
    const std::string out = osc::formatFrames(engine.frames.byStart(), request.format);
    if (!writeStdout(out)) {
        reportOutputFailure(args);
        return 1;
    }
    const std::string summary = printSummary(engine.frames, request.channels);
    std::fwrite(summary.data(), 1, summary.size(), stderr);
    return 0;
}

}  // namespace cli
