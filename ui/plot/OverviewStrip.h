#pragma once
// The overview strip above the scroll bar: the whole capture at once, the four traces drawn
// small from the renderer's level-of-detail summary (a repaint costs the strip's width, not
// the capture), and the plot's window as a box. A click centres the window on the place
// clicked; dragging moves it along. The strip spans the capture and the window together, so
// that the box is always in sight.
//
// It follows the view state's window by itself and the traces when told (markDirty), and
// repaints only when a trace or the window changed: at most about 10 times a second when only
// the window moved, 4 while data arrives (the strip spans the whole capture, so a live capture
// changes it little between two looks). It draws from the plot's level-of-detail summaries.

#include <QTimer>
#include <QVector>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

#include "core/capture/capture_engine.h"
#include "core/trace/trace_summary.h"
#include "core/view/plot_mapping.h"
#include "ui/plot/PlotState.h"
#include "ui/plot/StairRenderer.h"

namespace ui {

class OverviewStrip : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kHeight = 26;

    // engine: the traces drawn; plot: the window boxed and moved; summaries: those of the
    // engine's series, shared with the plot.
    OverviewStrip(const osc::CaptureEngine& engine, PlotState& plot,
                  osc::SeriesSummaries& summaries, QWidget* parent = nullptr);

    // The ticks the strip spans (the capture and the window), and its pixel mapping.
    osc::AxisRange span() const;
    double pixelForTick(double tick) const;
    double tickAt(double pixelX) const;
    // The window's box in widget pixels.
    QRect windowBox() const;
    // Paints the strip into p (the paint event; tests render it into an image).
    void paintStrip(QPainter& p);
    // Drawn over the strip's traces, clipped to them, with the strip's mapping of the whole
    // capture: where the frames and the bad frames lie.
    using Overlay = std::function<void(QPainter&, const osc::PlotMapping&)>;
    void setOverlay(Overlay overlay) { overlay_ = std::move(overlay); }
    // Checks soon whether the picture is out of date.
    static constexpr int kWindowMs = 100;
    static constexpr int kDataMs = 250;
    void markDirty();
    // Repaints asked for so far (work done, for tests).
    std::uint64_t repaintsRequested() const { return repaintsRequested_; }

  signals:
    // The user moved the window from the strip (the plot and the scroll bar follow).
    void windowMoved(double centreTick);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    Overlay overlay_;
    struct Signature {
        std::array<std::uint64_t, osc::kChannelCount> revisions{};
        double min = 0, max = 0;
        QSize size;
        bool operator==(const Signature&) const = default;
    };
    Signature signature() const;
    QRect stripRect() const;               // inside the frame line
    double centreAt(double pixelX) const;  // the window's new middle for a click at pixelX

    const osc::CaptureEngine& engine_;
    osc::SeriesSummaries& summaries_;
    QVector<QPointF> polyline_;
    std::vector<QRect> stairRects_;
    QTimer dirtyTimer_;
    std::optional<Signature> painted_;
    std::uint64_t repaintsRequested_ = 0;
    bool dragging_ = false;
};

}  // namespace ui
