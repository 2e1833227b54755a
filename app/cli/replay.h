#pragma once
// Replaying an oscillogram file for the subcommands, as the window's load action does in a
// program that has just started.

#include <QString>

#include "core/capture_engine.h"

namespace cli {

// Reads the file and replays it through engine (start, every datagram, stop). On failure prints
// the error's text on stderr ("Cannot open file FILE", "'$2G' is not a valid integer value")
// and returns false; the engine then holds what the replay had reached.
bool replayFileForCli(const QString& path, osc::CaptureEngine& engine);

// The file name as the core file functions take it (the local 8-bit encoding).
std::string localPath(const QString& path);

}  // namespace cli
