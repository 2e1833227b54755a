#pragma once
// Replaying an oscillogram file for the subcommands, as the window's load action does in a
// program that has just started, and the option handling they share.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <string>
#include <string_view>

#include "core/capture/capture_engine.h"
#include "core/files/osc_file.h"

namespace cli {

// Reads the file and replays it through engine (start, every datagram, stop). On failure prints
// the error's text on stderr ("Cannot open file FILE", "'$2G' is not a valid integer value")
// and returns false; the engine then holds what the replay had reached.
// A bad group's characters are shown as Windows-1251 text, as the window wrote them.
bool replayFileForCli(const QString& path, osc::CaptureEngine& engine);
// "'$Ж1' is not a valid integer value": the group's two bytes read as Windows-1251.
QString oscFormatErrorText(const osc::OscFormatError& error);

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

// Writes bytes to stdout in one go; false when the write failed.
bool writeStdout(std::string_view bytes);

}  // namespace cli
