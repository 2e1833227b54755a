#pragma once
// The capture as the window holds it: decoder state, the four channel traces, the marker and
// cursor lines and the plot window, with what the start and stop actions do to them. The
// window and the command-line tool both drive captures and replays through this class.

#include <filesystem>
#include <functional>
#include <span>
#include <string_view>

#include "core/frames/capture_frames.h"
#include "core/link/link_analysis.h"
#include "core/protocol/sample_decoder.h"
#include "core/view/plot_window.h"

namespace osc {

class CaptureEngine {
  public:
    CaptureEngine();

    // Decodes one datagram; for a sample datagram also shifts the window when the time base
    // has passed its maximum and tells the frames how far the traces are settled (they read
    // the new points when next asked). Returns the kind (Sample: the caller brings the scroll
    // bar into line and lets the user interface run).
    DatagramKind decodeDatagram(std::span<const std::uint8_t> data);

    // Start action: the time base back to 0 (FLastStrobe and FLastStatus stay).
    void resetTimeBase() { state.FTimeBase = 0; }
    // Start action: each channel trace cleared and given its first point (0, level for the set
    // bit), whatever FLastStatus holds; the frames forgotten.
    void restartTraces();
    // Stop action: a closing point at the time base on each channel, at the level of its bit in
    // FLastStatus.
    void closeTraces();
    // Stop action: the frames finished over the closed traces, then the completion of channels
    // 1, 2, 3 (not the strobe), in O(1) for traces grown
    // in order. Returns the progress steps of all three; progress, when given, gets each
    // channel's steps once that channel is completed.
    std::uint64_t completeTraces(const std::function<void(std::uint64_t steps)>& progress = {});

    // Largest X among the points of all six series.
    double largestX() const;

    // A replay as a program that has just started runs it: start (time base 0, traces
    // restarted), every datagram of the file text decoded until the data ends, stop (closing
    // points, completion). Throws OscFormatError at a bad group (the lines before it replayed,
    // no stop). onDatagram, when given, runs after each replayed datagram.
    void replayOscText(std::string_view text, const std::function<void()>& onDatagram = {});
    // The same straight from a file, a chunk at a time (OscFileReader): memory does not grow
    // with the file. A file that cannot be opened or read fails before the start
    // (FileError "Cannot open file FILE" with the reason), nothing changed.
    void replayOscFile(const std::filesystem::path& path,
                       const std::function<void()>& onDatagram = {});

    DecoderState state;
    ChannelTraces traces;
    ChannelTrace markerLine;  // series 4: two points, (0,0) and (1,0) at creation
    ChannelTrace cursorLine;  // series 5: likewise
    PlotWindow window;
    // Decoded live once enabled (frames.setEnabled before the start): what the sample datagrams
    // have settled is read whenever the frames are asked for.
    CaptureFrames frames;
    // The link layer of those frames (answers, link issues, stations), read from them when
    // asked; nothing is done until then.
    LinkAnalysis link{frames};
};

}  // namespace osc
