#pragma once
// Replaying an oscillogram file for the subcommands, as the window's load action does in a
// program that has just started, and the option handling they share.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <string_view>

#include "core/capture/capture_engine.h"
#include "core/files/osc_file.h"
#include "core/files/output_sink.h"

namespace cli {

// Reads the file and replays it through engine (start, every datagram, stop). On failure prints
// the error on stderr ("Cannot open file FILE: No such file or directory", "FILE:12:7: bad hex
// group "4G"") and returns false; the engine then holds what the replay had reached.
// A bad group's characters are shown as Windows-1251 text, as the window wrote them.
bool replayFileForCli(const QString& path, osc::CaptureEngine& engine);
// "'$Ж1' is not a valid integer value": the group's two bytes read as Windows-1251.
QString oscFormatErrorText(const osc::OscFormatError& error);
// "FILE:12:7: bad hex group "Ж1"": where the group stands in the file (the text above when the
// error does not say).
QString oscFormatErrorText(const QString& path, const osc::OscFormatError& error);
// After a failed write to stdout (errno set): "morvelip-osc-cli traces: cannot write the
// output: No space left on device" on stderr.
void reportOutputFailure(const QStringList& args);

// The file name as the core file functions take it (the local 8-bit encoding).
std::string localPath(const QString& path);

// Parses args (args[0] "morvelip-osc-cli SUBCOMMAND") with a --help option added. Returns -1
// when the caller goes on; otherwise the exit status: 0 after printing the help on stdout, 2
// after printing a usage error and the help on stderr.
int parseSubcommand(QCommandLineParser& parser, const QStringList& args);
// Prints a usage error for the subcommand on stderr; returns 2.
int usageError(const QCommandLineParser& parser, const QStringList& args, const QString& message);
// The one positional FILE argument into file; returns -1 when there is exactly one, otherwise
// the usage error's exit status (2).
int takeSingleFile(const QCommandLineParser& parser, const QStringList& args, QString& file);

// Writes bytes to stdout in one go; false when the write failed (errno says why).
bool writeStdout(std::string_view bytes);
// Writes what write gives to stdout a buffer at a time as it comes; false when stdout did not
// take it (or write returned false).
bool writeStdoutThroughSink(const std::function<bool(osc::OutputSink&)>& write);

}  // namespace cli
