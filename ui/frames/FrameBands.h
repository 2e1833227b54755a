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

#include <QColor>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QStaticText>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

#include "core/frames/capture_frames.h"
#include "core/view/frame_view.h"
#include "core/view/plot_mapping.h"

class QPainter;

namespace ui {

class FrameBands {
  public:
    explicit FrameBands(const osc::CaptureFrames& frames);

    void setEnabled(bool on) { enabled_ = on; }
    bool enabled() const { return enabled_; }

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
        std::size_t bands = 0;  // frames drawn as bands
        std::size_t cells = 0;  // flags and bytes drawn as cells of their own
        std::size_t texts = 0;  // hex texts drawn
        std::size_t marks = 0;  // columns marked
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
    // each frame (the marks search these, a few cache lines instead of whole frames) and the
    // indices of the bad ones.
    struct Index {
        std::vector<osc::Tick> starts;
        std::vector<std::uint32_t> bad;
        osc::Tick lastEnd = 0;
        osc::FrameCheck check = osc::FrameCheck::X25;
    };
    const Index& indexOf(int channel);
    void paintFrame(QPainter& p, const osc::PlotMapping& m, const QRectF& band,
                    const osc::Frame& f);
    void paintMarks(QPainter& p, const osc::PlotMapping& m, const QRectF& band, int channel,
                    osc::FrameRange range);

    const osc::CaptureFrames& frames_;
    bool enabled_ = true;
    std::array<Index, osc::kChannelCount> index_{};
    std::vector<QRect> plain_, plainBad_;  // frames drawn as plain bands, batched per colour
    std::vector<osc::FrameCell> cells_;
    std::array<QStaticText, 256> hex_;
    double hexWidth_ = 0;
    Stats stats_;
};

}  // namespace ui
