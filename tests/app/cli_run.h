#pragma once
// Runs the built morvelip-osc-cli and collects what it printed.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdlib>
#include <string>

namespace clitest {

struct Run {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline QString binaryDir() {
    return QString::fromLocal8Bit(std::getenv("MO_BINARY_DIR"));
}
inline QString sourceDir() {
    return QString::fromLocal8Bit(std::getenv("MO_SOURCE_DIR"));
}
inline QString fixture(const QString& name) {
    return sourceDir() + QStringLiteral("/tests/data/osc/") + name;
}

inline Run runCli(const QStringList& args, const QString& workingDir = QString()) {
    QProcess p;
    if (!workingDir.isEmpty()) {
        p.setWorkingDirectory(workingDir);
    }
    p.start(binaryDir() + QStringLiteral("/bin/morvelip-osc-cli"), args);
    Run r;
    if (!p.waitForStarted(10000) || !p.waitForFinished(60000)) {
        r.err = "the program did not run to its end";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

}  // namespace clitest
