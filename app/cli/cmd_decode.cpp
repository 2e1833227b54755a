// morvelip-osc-cli decode FILE --channel C --marker M --cursor K [--bits N] [--reverse]
// [--invert] [--unstuff]: replays an oscillogram file and decodes the bits of channel C's trace
// between marker M and cursor K, printing the two decoder lines as the window shows them.

#include <cstdio>
#include <optional>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/replay.h"
#include "core/frames/bit_stream.h"

namespace cli {

namespace {

struct DecodeRequest {
    QString file;
    int channel = 0;
    long long marker = 0;
    long long cursor = 0;
    osc::BitStreamOptions options;
};

std::optional<long long> wholeNumber(const QString& text) {
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return v;
}

void addDecodeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Replays an oscillogram file as the window's load action does in a program that has "
        "just started, then decodes the bits of one channel's trace between a marker and a "
        "cursor as the window does on a mouse move. Prints two lines: the bit groups and the "
        "values of the full groups in hex, each exactly as its readout shows it (trailing "
        "spaces kept). Both lines are \"?\" when the decoder fails: no marker (M = 0), a span "
        "of 257 bits or more, or a marker or cursor that is not the X of a point of the "
        "trace."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The .osc file."));
    parser.addOptions({
        {QStringLiteral("channel"), QStringLiteral("The channel whose trace is decoded, 0 to 3."),
         QStringLiteral("C")},
        {QStringLiteral("marker"), QStringLiteral("The marker position in whole ticks."),
         QStringLiteral("M")},
        {QStringLiteral("cursor"),
         QStringLiteral("The cursor position in whole ticks, greater than M."),
         QStringLiteral("K")},
        {QStringLiteral("bits"), QStringLiteral("Bits per group, 1 to 16 (default 8)."),
         QStringLiteral("N"), QStringLiteral("8")},
        {QStringLiteral("reverse"),
         QStringLiteral("The first bit of a group is its most significant bit.")},
        {QStringLiteral("invert"), QStringLiteral("Every sampled bit is inverted.")},
        {QStringLiteral("unstuff"), QStringLiteral("Drops a 0 that follows exactly five 1s.")},
    });
}

// The numbers of the request; an empty text when they are fine, else the usage error's text.
QString takeDecodeNumbers(const QCommandLineParser& parser, DecodeRequest& request) {
    if (!parser.isSet("channel") || !parser.isSet("marker") || !parser.isSet("cursor")) {
        return QStringLiteral("--channel, --marker and --cursor are needed.");
    }
    const std::optional<long long> channel = wholeNumber(parser.value("channel"));
    if (!channel || *channel < 0 || *channel >= osc::kChannelCount) {
        return QStringLiteral("--channel takes 0 to 3.");
    }
    // Whole ticks within the range a double holds exactly.
    constexpr long long kLimit = 1LL << 53;
    const std::optional<long long> marker = wholeNumber(parser.value("marker"));
    const std::optional<long long> cursor = wholeNumber(parser.value("cursor"));
    if (!marker || !cursor || *marker <= -kLimit || *marker >= kLimit || *cursor <= -kLimit ||
        *cursor >= kLimit) {
        return QStringLiteral("--marker and --cursor take whole numbers of ticks.");
    }
    if (*cursor <= *marker) {
        return QStringLiteral("The cursor must lie right of the marker.");
    }
    const std::optional<long long> bits = wholeNumber(parser.value("bits"));
    if (!bits || *bits < 1 || *bits > 16) {
        return QStringLiteral("--bits takes 1 to 16.");
    }
    request.channel = static_cast<int>(*channel);
    request.marker = *marker;
    request.cursor = *cursor;
    request.options.bitsPerGroup = static_cast<int>(*bits);
    return QString();
}

// -1 and the request filled in, or the exit status of a usage error or the help.
int parseDecode(const QStringList& args, DecodeRequest& request) {
    QCommandLineParser parser;
    addDecodeOptions(parser);
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    if (const int status = takeSingleFile(parser, args, request.file); status >= 0) {
        return status;
    }
    if (const QString error = takeDecodeNumbers(parser, request); !error.isEmpty()) {
        return usageError(parser, args, error);
    }
    request.options.reverse = parser.isSet("reverse");
    request.options.invert = parser.isSet("invert");
    request.options.unstuff = parser.isSet("unstuff");
    return -1;
}

}  // namespace

int runDecode(const QStringList& args) {
    DecodeRequest request;
    if (const int status = parseDecode(args, request); status >= 0) {
        return status;
    }
    osc::CaptureEngine engine;
    if (!replayFileForCli(request.file, engine)) {
        return 1;
    }
    const osc::BitStreamResult result =
        osc::DecodeBitStream(engine.traces, request.channel, static_cast<double>(request.marker),
                             static_cast<double>(request.cursor), request.options);
    if (!writeStdout(result.bitText + '\n' + result.valueText + '\n')) {
        reportOutputFailure(args);
        return 1;
    }
    return 0;
}

}  // namespace cli
