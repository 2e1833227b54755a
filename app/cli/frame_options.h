#pragma once
// The frame decoder's options on the command line, shared by the subcommands that decode
// frames (frames, export --pcapng): --channel, --invert, --msb-first, --no-stuffing, --check,
// --min-length and --max-length.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>

#include "core/frames/capture_frames.h"

namespace cli {

// A channel by number (0 to 3), by its name ("Передача") or short name (strobe, tx, rx1, rx2),
// case ignored; nullopt for anything else.
std::optional<int> channelNumber(const QString& text);

struct FrameDecoderChoice {
    osc::FrameOptions options;
    unsigned channels = osc::kDataChannels;
};

class FrameDecoderOptions {
  public:
    // Adds the options to parser.
    explicit FrameDecoderOptions(QCommandLineParser& parser);
    // The options given into choice; -1 to go on, else the usage error's exit status (2).
    int read(const QCommandLineParser& parser, const QStringList& args,
             FrameDecoderChoice& choice) const;

  private:
    QCommandLineOption channel_;
    QCommandLineOption invert_;
    QCommandLineOption msb_;
    QCommandLineOption noStuffing_;
    QCommandLineOption check_;
    QCommandLineOption min_;
    QCommandLineOption max_;
};

}  // namespace cli
