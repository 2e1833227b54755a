#pragma once
// Decoded frames on the plot: each frame as a band under its trace, in the free strip between
// the trace's lower level and the channel below it. Zoomed in, a band shows its flags, payload
// bytes and check bytes in colours of their own with each byte in hex; a bad frame is red.
// Further out a frame is a plain band, and where frames come closer than a few pixels, one mark
// per pixel column that holds frames (red when one of them is bad).
//
// Only the frames in the window are visited: binary searches over each channel's frames find
// them, and in the marks mode one search per marked column skips the frames in it, so a paint
// costs the width of the plot, not the number of frames.
//
// With the link analysis of the frames, a frame with link fields carries its type ("I 3/5",
// "RR", "SNRM") in front of its bytes: on the opening flag's cell, widened to the left into the
// idle line when the cell is too narrow, or in the middle of a plain band wide enough for it.
// A frame with a link issue (no answer, unsolicited, repeated, a gap) is outlined in amber, and
// a marked column holding one is amber unless it also holds a bad frame.

#include <QColor>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QStaticText>
#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/frames/capture_frames.h"
#include "core/link/link_analysis.h"
#include "core/view/frame_view.h"
#include "core/view/plot_mapping.h"

class QPainter;

namespace ui {

class FrameBands {
  public:
    explicit FrameBands(const osc::CaptureFrames& frames);

    void setEnabled(bool on) { enabled_ = on; }
    bool enabled() const { return enabled_; }
    // The link analysis of the same frames (nullptr: none, no types and no issues drawn).
    void setLink(const osc::LinkAnalysis* link) { link_ = link; }

    // Draws the bands of every decoded channel (the painter clipped to the plotting
    // rectangle).
    void paint(QPainter& p, const osc::PlotMapping& m);

    // The band of a channel in pixels: from a tenth to nine tenths of the way down from the
    // channel's lower level to one level below it.
    static QRectF bandFor(int channel, const osc::PlotMapping& m);
    // The horizontal pixel of a tick, as the band painter places cell edges.
    static double pixelX(const osc::PlotMapping& m, osc::Tick tick);
    // Frames in the window of one channel are drawn one by one when there are at most this
    // many per pixel column, else as marks per column.
    static constexpr double kPixelsPerFrame = 3;

    // What the last paint did, for the tests and the benchmark.
    struct Stats {
        std::size_t bands = 0;   // frames drawn as bands
        std::size_t cells = 0;   // flags and bytes drawn as cells of their own
        std::size_t texts = 0;   // hex texts drawn
        std::size_t marks = 0;   // columns marked
        std::size_t types = 0;   // type texts drawn
        std::size_t issues = 0;  // frames outlined for a link issue, and columns marked for one
        std::vector<std::string> typeTexts;  // the type texts drawn, left to right per channel
    };
    const Stats& lastPaint() const { return stats_; }

    // The bands' colours with their meanings, for a legend: flag, data, check, each good and
    // with an error.
    struct LegendEntry {
        QString text;
        QColor colour;
    };
    static QList<LegendEntry> legend();
    // The legend as one line of rich text (a coloured square before each meaning).
    static QString legendText();

  private:
    // One channel's frames in a compact form, kept up with a growing capture: the start of
    // each frame (the marks search these, a few cache lines instead of whole frames), the
    // indices of the bad ones and of those with a final link issue.
    struct Index {
        std::vector<osc::Tick> starts;
        std::vector<std::uint32_t> bad;
        std::vector<std::uint32_t> issues;
        std::size_t issuesRead = 0;  // frames looked at for issues
        std::uint64_t linkGeneration = 0;
        osc::Tick lastEnd = 0;
        osc::FrameCheck check = osc::FrameCheck::X25;
    };
    const Index& indexOf(int channel, const osc::LinkAnalyser* analyser);
    void paintFrame(QPainter& p, const osc::PlotMapping& m, const QRectF& band,
                    const osc::FrameSequence& frames, std::size_t i, int channel,
                    const osc::LinkAnalyser* analyser);
    void paintMarks(QPainter& p, const osc::PlotMapping& m, const QRectF& band, int channel,
                    osc::FrameRange range, const osc::LinkAnalyser* analyser);
    const QStaticText& typeText(const std::string& text);

    // A type text to draw once the plain bands are down.
    struct Label {
        QPointF at;
        const QStaticText* text;
    };

    const osc::CaptureFrames& frames_;
    const osc::LinkAnalysis* link_ = nullptr;
    std::uint64_t linkGeneration_ = 0;
    bool enabled_ = true;
    std::array<Index, osc::kChannelCount> index_{};
    std::vector<QRect> plain_, plainBad_;  // frames drawn as plain bands, batched per colour
    std::vector<QRect> plainIssue_;        // outlines of plain bands with a link issue
    std::vector<Label> labels_;
    std::unordered_map<std::string, QStaticText> typeTexts_;
    std::vector<osc::FrameCell> cells_;
    std::array<QStaticText, 256> hex_;
    double hexWidth_ = 0;
    Stats stats_;
};

}  // namespace ui
