#pragma once
// The oscillogram plot (component Chart1): the four channel traces, the marker line and the
// cursor line of an osc::CaptureEngine, drawn as stairs on black over a bottom axis in ticks
// (the engine's window) and a left axis 0..9.
//
// Mouse: left drag to the right zooms to the dragged span of ticks (the levels stay 0..9); left
// drag to the left undoes the zoom (zoomUndone: the window gets back the width the user chose,
// the left axis 0..9); right or
// middle drag pans horizontally; the wheel zooms horizontally about the pointer, Shift+wheel (or
// a horizontal wheel) pans. None of these touches the scroll bar. A left press and release
// without movement is a click. Every move is reported by mouseMoved.
//
// Repaints: data changes only call markDirty(); a single-shot timer coalesces them into at most
// about 60 repaints a second for the user's moves and 30 for arriving data, and skips the
// repaint when no trace revision, window or hidden flag changed since the last paint.

#include <QColor>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/trace/trace_summary.h"
#include "core/view/plot_mapping.h"
#include "ui/plot/LabelImages.h"
#include "ui/plot/PlotState.h"
#include "ui/plot/StairRenderer.h"

class OscPlot : public QWidget {
    Q_OBJECT
  public:
    enum class Axis { Left, Bottom };

    static constexpr int kLeftLabelsSize = 50;  // pixels reserved for the left-axis labels

    explicit OscPlot(QWidget* parent = nullptr);

    // The traces and lines to draw, and the view state whose window they are drawn in (the
    // plot repaints when it changes, its mouse moves go through it, and its bit rate sets the
    // bottom labels' room). Without a state the plot keeps one of its own over the engine's
    // window.
    void setEngine(osc::CaptureEngine* engine, ui::PlotState* state = nullptr);
    osc::CaptureEngine* engine() const { return engine_; }

    // The plotting rectangle in widget coordinates: left and top edges inside, right and bottom
    // edges outside (QRect::contains).
    QRect plotRect() const;
    // Conversions between widget pixels and axis values.
    double bottomValueAt(double pixelX) const;
    double leftValueAt(double pixelY) const;
    double pixelForBottom(double ticks) const;
    double pixelForLeft(double value) const;

    // The mouse pointer taken from the pointer itself (QCursor::pos()), in widget coordinates;
    // tests may fix it with setPointerOverride.
    QPoint pointerPosition() const;
    void setPointerOverride(std::optional<QPoint> pos) { pointerOverride_ = pos; }
    double pointerBottomValue() const { return bottomValueAt(pointerPosition().x()); }
    double pointerLeftValue() const { return leftValueAt(pointerPosition().y()); }

    // The left axis: 0..9 unless a zoom changed it.
    double leftMinimum() const { return leftMin_; }
    double leftMaximum() const { return leftMax_; }
    void resetLeftAxis();

    // Mouse zoom and pan, as the mouse handlers apply them (public for tests).
    void zoomTo(const QRect& pixels);
    void panByPixels(double dx);
    void zoomAbout(double pixelX, double factor);

    // The formatted text of an axis label before the getAxisLabel hook ("#": whole number,
    // empty for 0), and after it.
    static QString formatAxisValue(double value);
    QString axisLabelText(Axis axis, double value);

    // Requests a coalesced repaint: at most about 60 a second after the user's moves, 30 while
    // data arrives (a live capture moves the window with every datagram; a scrolling picture
    // needs no more, and painting is most of what a capture costs).
    static constexpr int kInteractiveMs = 16;
    static constexpr int kDataMs = 33;
    void markDirty(int intervalMs = kInteractiveMs);
    bool repaintPending() const { return dirtyTimer_.isActive(); }
    // The trace of a series (the four channels, the marker and the cursor line), nullptr
    // without an engine.
    const osc::ChannelTrace* series(int index) const;
    // The level-of-detail summaries of the series, brought in line with their traces when read
    // (the overview strip draws from them too, rather than summarise the same blocks again).
    osc::SeriesSummaries& summaries() { return summaries_; }
    // Repaints that the coalescing timer has asked for so far (work done, for tests).
    std::uint64_t repaintsRequested() const { return repaintsRequested_; }
    // Paints the whole widget content into p (the paint event and QImage rendering use it).
    void paintPlot(QPainter& p);
    // The colours of a paint: the screen's (black ground) or a light, print-friendly set.
    struct Colours {
        QColor background, trace, marker, cursor, grid, bottomLabels, axis;
        static Colours screen();
        static Colours print();
    };
    // Paints the plot as it would look at `size` into p (pictures at a chosen size); the widget
    // itself stays as it is. On an SVG painter the series are paths.
    void paintPlotAt(QPainter& p, QSize size, const Colours& colours = Colours::screen());

    // The widest bottom-axis label expected, which sets the height of the label band
    // ("000000" unless set; the labels are vertical).
    void setBottomLabelSample(const QString& text);

    // Drawn on every paint inside the plotting rectangle (clipped to it) after the grid and
    // before the series, so that the traces and the marker and cursor lines stay on top: the
    // frame annotations. Gets the mapping of that paint.
    using Overlay = std::function<void(QPainter&, const osc::PlotMapping&)>;
    void setOverlay(Overlay overlay);

    // Colours of the four channels' lines; an invalid colour draws that line in the palette's.
    void setChannelColours(const std::array<QColor, osc::kChannelCount>& colours) {
        channelColours_ = colours;
        update();
    }

    // The newest time base while a capture runs (nothing otherwise): each channel's line is
    // drawn at its current level up to it. Asked at every paint.
    using LiveEnd = std::function<std::optional<osc::Tick>()>;
    void setLiveEnd(LiveEnd liveEnd) { liveEnd_ = std::move(liveEnd); }

    // Centred horizontally near the top of the plot on every resize (the progress panel).
    void setCentredPanel(QWidget* panel);

    // Step of the bottom-axis labels in ticks: a multiple of 2560 wide enough for the text.
    double bottomLabelStep() const;

  signals:
    void getAxisLabel(OscPlot::Axis axis, double value, QString* text);
    void clicked();
    void mouseMoved(Qt::KeyboardModifiers modifiers, int x, int y);
    void zoomUndone();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    struct Signature {
        std::array<std::uint64_t, osc::kSeriesCount> revisions{};
        std::array<bool, osc::kSeriesCount> hidden{};
        double min = 0, max = 0, leftMin = 0, leftMax = 0;
        std::optional<osc::Tick> liveEnd;
        QSize size;
        bool operator==(const Signature&) const = default;
    };
    Signature signature() const;
    void onDirtyTimer();
    void placePanel();
    osc::PlotMapping plotMapping() const;  // the rectangle against the window and the levels
    QSize canvasSize() const { return paintSize_ ? *paintSize_ : size(); }
    int bottomLabelsHeight() const;
    ui::StairMapping mapping() const;

    void setWindow(const osc::AxisRange& range);  // a mouse move of the window

    osc::CaptureEngine* engine_ = nullptr;
    QPointer<ui::PlotState> state_;
    std::unique_ptr<ui::PlotState> ownState_;  // without the window's
    double leftMin_ = 0, leftMax_ = 9;
    osc::SeriesSummaries summaries_;
    QVector<QPointF> polyline_;
    std::vector<QRect> stairRects_;
    ui::LabelImages labels_;
    QTimer dirtyTimer_;
    QElapsedTimer sinceDirtyTimer_;  // the last look for changes: live data keeps its rhythm
    std::optional<Signature> painted_;
    std::uint64_t repaintsRequested_ = 0;
    std::optional<QPoint> pointerOverride_;
    QPointer<QWidget> centredPanel_;
    Overlay overlay_;
    LiveEnd liveEnd_;
    std::array<QColor, osc::kChannelCount> channelColours_{};
    std::optional<QSize> paintSize_;    // the size paintPlotAt paints at, while it does
    const Colours* colours_ = nullptr;  // those of paintPlotAt, while it paints; else the screen's
    int bottomLabelsHeight_ = 0;        // 0: from the default sample

    enum class Drag { None, Pending, Zoom, Pan };
    Drag drag_ = Drag::None;
    QPoint pressPos_, lastPos_;
};
