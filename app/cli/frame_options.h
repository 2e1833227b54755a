#pragma once
// The options that `frames` and `stats` share: the channels, the frame decoder's options, the
// link layer's options and the output format; and the summary of the frames on stderr.

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

struct FrameCliRequest {
    QString file;
    osc::FrameOptions decoder;
    unsigned channels = osc::kDataChannels;
    osc::LinkOptions link;
    osc::FrameListFormat format = osc::FrameListFormat::Text;
};

// A channel as the options take it: 0 to 3, its name or strobe, tx, rx1, rx2 (any letter case).
std::optional<int> channelNumber(const QString& text);

class FrameCliOptions {
  public:
    FrameCliOptions();
    void addTo(QCommandLineParser& parser) const;
    // The values into request (the FILE aside); -1 to go on, else the exit status of the usage
    // error printed.
    int read(const QCommandLineParser& parser, const QStringList& args,
             FrameCliRequest& request) const;

  private:
    QCommandLineOption channel_, invert_, msb_, noStuffing_, check_, min_, max_, addressBytes_,
        modulo_, primary_, timeout_, format_;
};

// "channel 2 Приём1 (x25): 40 frames, 38 good, 2 bad (bad check 1, unfinished 1)" a decoded
// channel, then the total.
std::string frameSummary(const osc::CaptureFrames& frames, unsigned channels);

}  // namespace cli
