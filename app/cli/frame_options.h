#pragma once
// The frame decoder's options on the command line, shared by the subcommands that decode
// frames (frames, stats, export --pcapng): --channel, --invert, --msb-first, --no-stuffing,
// --check, --min-length and --max-length; with them the link layer's options and the output
// format that frames and stats share; and the summary of the frames on stderr.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "core/files/frame_export.h"
#include "core/frames/capture_frames.h"
#include "core/link/link_fields.h"

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

struct FrameCliRequest {
    QString file;
    osc::FrameOptions decoder;
    unsigned channels = osc::kDataChannels;
    osc::LinkOptions link;
    osc::FrameListFormat format = osc::FrameListFormat::Text;
};

// The decoder's options above, the link layer's (--address-bytes, --modulo, --primary,
// --answer-timeout) and --format.
class FrameCliOptions {
  public:
    // Adds the options to parser.
    explicit FrameCliOptions(QCommandLineParser& parser);
    // The values into request (the FILE aside); -1 to go on, else the exit status of the usage
    // error printed.
    int read(const QCommandLineParser& parser, const QStringList& args,
             FrameCliRequest& request) const;

  private:
    FrameDecoderOptions decoder_;
    QCommandLineOption addressBytes_, modulo_, primary_, timeout_, format_;
};

// "channel 2 Приём1 (x25): 40 frames, 38 good, 2 bad (bad check 1, unfinished 1)" a decoded
// channel, then the total.
std::string frameSummary(const osc::CaptureFrames& frames, unsigned channels);

}  // namespace cli
