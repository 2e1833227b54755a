#pragma once
// Subcommands of morvelip-osc-cli. Each takes its arguments with args[0] the program name and
// the subcommand ("morvelip-osc-cli traces"), prints to stdout/stderr and returns the exit
// status: 0 done, 1 failed, 2 usage error.

#include <QStringList>

namespace cli {

int runTraces(const QStringList& args);
int runDecode(const QStringList& args);
int runExport(const QStringList& args);
int runFrames(const QStringList& args);
int runStats(const QStringList& args);
int runSim(const QStringList& args);
int runCapture(const QStringList& args);
int runRecord(const QStringList& args);
int runDevices(const QStringList& args);

}  // namespace cli
