// morvelip-osc-cli decode FILE --channel C --marker M --cursor K [--bits N] [--reverse]
// [--invert] [--unstuff]: replays an oscillogram file and decodes the bits of channel C's trace
// between marker M and cursor K, printing the two decoder lines as the window shows them.

#include <cstdio>
#include <optional>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/replay.h"
#include "core/bit_stream.h"

namespace cli {

namespace {

std::optional<long long> wholeNumber(const QString& text) {
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return v;
}

}  // namespace

int runDecode(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Replays an oscillogram file as the window's load action does in a program that has "
        "just started, then decodes the bits of one channel's trace between a marker and a "
        "cursor as the window does on a mouse move. Prints two lines: the bit groups and the "
        "values of the full groups in hex, each exactly as its readout shows it (trailing "
        "spaces kept). Both lines are \"?\" when the decoder fails: no marker (M = 0), a span "
        "of 257 bits or more, or a marker or cursor that is not the X of a point of the "
        "trace."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The .osc file."));
    const QCommandLineOption channelOption(
        QStringLiteral("channel"), QStringLiteral("The channel whose trace is decoded, 0 to 3."),
        QStringLiteral("C"));
    const QCommandLineOption markerOption(QStringLiteral("marker"),
                                          QStringLiteral("The marker position in whole ticks."),
                                          QStringLiteral("M"));
    const QCommandLineOption cursorOption(
        QStringLiteral("cursor"),
        QStringLiteral("The cursor position in whole ticks, greater than M."), QStringLiteral("K"));
    const QCommandLineOption bitsOption(QStringLiteral("bits"),
                                        QStringLiteral("Bits per group, 1 to 16 (default 8)."),
                                        QStringLiteral("N"), QStringLiteral("8"));
    const QCommandLineOption reverseOption(QStringLiteral("reverse"),
                                           QStringLiteral("The first bit of a group is its most "
                                                          "significant bit."));
    const QCommandLineOption invertOption(QStringLiteral("invert"),
                                          QStringLiteral("Every sampled bit is inverted."));
    const QCommandLineOption unstuffOption(
        QStringLiteral("unstuff"), QStringLiteral("Drops a 0 that follows exactly five 1s."));
    parser.addOptions({channelOption, markerOption, cursorOption, bitsOption, reverseOption,
                       invertOption, unstuffOption});
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    QString file;
    if (const int status = takeSingleFile(parser, args, file); status >= 0) {
        return status;
    }
    if (!parser.isSet(channelOption) || !parser.isSet(markerOption) ||
        !parser.isSet(cursorOption)) {
        return usageError(parser, args,
                          QStringLiteral("--channel, --marker and --cursor are needed."));
    }
    const std::optional<long long> channel = wholeNumber(parser.value(channelOption));
    if (!channel || *channel < 0 || *channel >= osc::kChannelCount) {
        return usageError(parser, args, QStringLiteral("--channel takes 0 to 3."));
    }
    // Whole ticks within the range a double holds exactly.
    constexpr long long kLimit = 1LL << 53;
    const std::optional<long long> marker = wholeNumber(parser.value(markerOption));
    const std::optional<long long> cursor = wholeNumber(parser.value(cursorOption));
    if (!marker || !cursor || *marker <= -kLimit || *marker >= kLimit || *cursor <= -kLimit ||
        *cursor >= kLimit) {
        return usageError(parser, args,
                          QStringLiteral("--marker and --cursor take whole numbers of ticks."));
    }
    if (*cursor <= *marker) {
        return usageError(parser, args, QStringLiteral("The cursor must lie right of the marker."));
    }
    const std::optional<long long> bits = wholeNumber(parser.value(bitsOption));
    if (!bits || *bits < 1 || *bits > 16) {
        return usageError(parser, args, QStringLiteral("--bits takes 1 to 16."));
    }

    osc::CaptureEngine engine;
    if (!replayFileForCli(file, engine)) {
        return 1;
    }
    osc::BitStreamOptions options;
    options.bitsPerGroup = static_cast<int>(*bits);
    options.reverse = parser.isSet(reverseOption);
    options.invert = parser.isSet(invertOption);
    options.unstuff = parser.isSet(unstuffOption);
    const osc::BitStreamResult result =
        osc::DecodeBitStream(engine.traces, static_cast<int>(*channel),
                             static_cast<double>(*marker), static_cast<double>(*cursor), options);
    const std::string out = result.bitText + '\n' + result.valueText + '\n';
    if (!writeStdout(out)) {
        std::fprintf(stderr, "%s: cannot write the output\n", qPrintable(args.value(0)));
        return 1;
    }
    return 0;
}

}  // namespace cli
