#include "app/cli/replay.h"

#include "core/files/save_target.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

namespace cli {

std::string localPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}

namespace {

// Files come from the window's trace, whose 8-bit characters are Windows-1251.
QString groupCharacters(std::string_view group) {
    QStringDecoder decode("windows-1251");
    const QByteArray bytes(group.data(), static_cast<qsizetype>(group.size()));
    return decode.isValid() ? decode(bytes) : QString::fromLatin1(bytes);
}

}  // namespace

QString oscFormatErrorText(const osc::OscFormatError& error) {
    const std::string_view group = error.group();
    if (group.empty()) {
        return QString::fromLocal8Bit(error.what());
    }
    return QStringLiteral("'$") + groupCharacters(group) +
           QStringLiteral("' is not a valid integer value");
}

QString oscFormatErrorText(const QString& path, const osc::OscFormatError& error) {
    if (error.group().empty() || error.line() == 0) {
        return oscFormatErrorText(error);
    }
    return QStringLiteral("%1:%2:%3: bad hex group \"%4\"")
        .arg(path)
        .arg(error.line())
        .arg(error.column())
        .arg(groupCharacters(error.group()));
}

bool replayFileForCli(const QString& path, osc::CaptureEngine& engine) {
    try {
        engine.replayOscFile(localPath(path));
    } catch (const osc::OscFormatError& e) {
        const QByteArray text = oscFormatErrorText(path, e).toLocal8Bit();
        std::fprintf(stderr, "%s\n", text.constData());
        return false;
    } catch (const osc::FileError& e) {
        std::fprintf(stderr, "%s\n", e.message().c_str());
        return false;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    return true;
}

void reportOutputFailure(const QStringList& args) {
    const int error = errno;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", qPrintable(args.value(0)),
                 osc::systemReason(error != 0 ? error : EIO).c_str());
}

namespace {

// The parser names the program by its path; the help names the subcommand instead.
QString helpText(const QCommandLineParser& parser, const QStringList& args) {
    QString text = parser.helpText();
    const QStringList appArgs = QCoreApplication::arguments();
    const QString exe = appArgs.isEmpty() ? QString() : appArgs.constFirst();
    const QString usage = QStringLiteral("Usage: ");
    if (text.startsWith(usage + exe)) {
        text.replace(usage.size(), exe.size(), args.value(0));
    }
    return text;
}

}  // namespace

int parseSubcommand(QCommandLineParser& parser, const QStringList& args) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    if (!parser.parse(args)) {
        return usageError(parser, args, parser.errorText());
    }
    if (parser.isSet(help)) {
        const QByteArray text = helpText(parser, args).toLocal8Bit();
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
        return 0;
    }
    return -1;
}

int usageError(const QCommandLineParser& parser, const QStringList& args, const QString& message) {
    const QByteArray text = (args.value(0) + QStringLiteral(": ") + message +
                             QStringLiteral("\n\n") + helpText(parser, args))
                                .toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    return 2;
}

bool writeStdout(std::string_view bytes) {
    errno = 0;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
    if (!ok) {
        const int error = errno;
        std::fflush(stdout);
        errno = error;
        return false;
    }
    return std::fflush(stdout) == 0;
}

namespace {

struct StdoutFailed : std::runtime_error {
    StdoutFailed() : std::runtime_error("stdout did not take the output") {}
};

}  // namespace

bool writeStdoutThroughSink(const std::function<bool(osc::OutputSink&)>& write) {
    errno = 0;
    osc::OutputSink sink([](std::string_view bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
            throw StdoutFailed{};
        }
    });
    try {
        if (!write(sink)) {
            return false;
        }
        sink.flush();
    } catch (const StdoutFailed&) {
        const int error = errno;
        std::fflush(stdout);
        errno = error;
        return false;
    }
    return std::fflush(stdout) == 0;
}

}  // namespace cli

namespace cli {

int takeSingleFile(const QCommandLineParser& parser, const QStringList& args, QString& file) {
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        return usageError(parser, args,
                          files.isEmpty() ? QStringLiteral("FILE is missing.")
                                          : QStringLiteral("Only one FILE is taken."));
    }
    file = files.constFirst();
    return -1;
}

}  // namespace cli
