// morvelip-osc-cli traces FILE: replays an oscillogram file and prints every point of the four
// channel traces, "C X Y" a line, channel 0 first, each channel in trace order.

#include <charconv>
#include <cstdio>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/replay.h"

namespace cli {

namespace {

void appendNumber(std::string& out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// -1 and the file, or the exit status of a usage error or the help.
int parseTraces(const QStringList& args, QString& file) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Replays an oscillogram file as the window's load action does in a program that has "
        "just started, and prints every point of the four channel traces, one a line, as "
        "\"C X Y\": the channel (0 to 3), X in whole ticks and the level. Channel 0 comes "
        "first, each channel's points in trace order."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The .osc file."));
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    return takeSingleFile(parser, args, file);
}

// Writes the lines a chunk at a time: a long capture has billions of points (its completion
// points among them), far more text than memory holds at once.
bool writePointLines(const osc::ChannelTraces& traces) {
    constexpr std::size_t kChunk = 1 << 20;
    std::string out;
    out.reserve(kChunk + 64);
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const osc::ChannelTrace& trace = traces[static_cast<std::size_t>(c)];
        for (const osc::TracePoint p : trace.points()) {
            out += static_cast<char>('0' + c);
            out += ' ';
            appendNumber(out, p.x);
            out += ' ';
            appendNumber(out, p.y);
            out += '\n';
            if (out.size() >= kChunk) {
                errno = 0;
                if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) {
                    return false;
                }
                out.clear();
            }
        }
    }
    return writeStdout(out);
}

}  // namespace

int runTraces(const QStringList& args) {
    QString file;
    if (const int status = parseTraces(args, file); status >= 0) {
        return status;
    }
    osc::CaptureEngine engine;
    if (!replayFileForCli(file, engine)) {
        return 1;
    }
    if (!writePointLines(engine.traces)) {
        reportOutputFailure(args);
        return 1;
    }
    return 0;
}

}  // namespace cli
