#include "ui/plot/OverviewStrip.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "core/view/plot_navigation.h"

namespace ui {

namespace {

const QColor kTraceColour(150, 150, 0);  // dimmer than the plot's: the box stands out
const QColor kBoxColour(255, 255, 255);
const QColor kFrameColour(96, 96, 96);

}  // namespace

OverviewStrip::OverviewStrip(const osc::CaptureEngine& engine, PlotState& plot,
                             osc::SeriesSummaries& summaries, QWidget* parent)
    : QWidget(parent), engine_(engine), summaries_(summaries) {
    setObjectName(QStringLiteral("Overview"));
    setFixedHeight(kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Весь захват; щелчок или перетаскивание переносит окно"));
    dirtyTimer_.setSingleShot(true);
    connect(&dirtyTimer_, &QTimer::timeout, this, [this] {
        if (!painted_ || !(*painted_ == signature())) {
            ++repaintsRequested_;
            update();
        }
    });
    connect(&plot, &PlotState::windowChanged, this, [this] { markDirty(); });
}

void OverviewStrip::markDirty() {
    const bool tracesChanged = painted_ && painted_->revisions != signature().revisions;
    const int wait = tracesChanged ? kDataMs : kWindowMs;
    if (!dirtyTimer_.isActive() || dirtyTimer_.remainingTime() > wait) {
        dirtyTimer_.start(wait);
    }
}

OverviewStrip::Signature OverviewStrip::signature() const {
    Signature s;
    for (std::size_t c = 0; c < s.revisions.size(); ++c) {
        s.revisions[c] = engine_.traces[c].revision();
    }
    s.min = engine_.window.minimum();
    s.max = engine_.window.maximum();
    s.size = size();
    return s;
}

osc::AxisRange OverviewStrip::span() const {
    osc::AxisRange r{engine_.window.minimum(), engine_.window.maximum()};
    if (const std::optional<osc::AxisRange> extent = osc::captureExtent(engine_.traces)) {
        r.minimum = std::min(r.minimum, extent->minimum);
        r.maximum = std::max(r.maximum, extent->maximum);
    }
    return r;
}

QRect OverviewStrip::stripRect() const {
    return rect().adjusted(1, 1, -1, -1);
}

double OverviewStrip::pixelForTick(double tick) const {
    const osc::AxisRange s = span();
    const QRect r = stripRect();
    const double width = s.maximum - s.minimum;
    if (!(width > 0) || !std::isfinite(width)) {
        return r.left();
    }
    return r.left() + (tick - s.minimum) * r.width() / width;
}

double OverviewStrip::tickAt(double pixelX) const {
    const osc::AxisRange s = span();
    const QRect r = stripRect();
    return s.minimum + (pixelX - r.left()) * (s.maximum - s.minimum) / std::max(1, r.width());
}

QRect OverviewStrip::windowBox() const {
    const QRect r = stripRect();
    const int left = static_cast<int>(std::floor(pixelForTick(engine_.window.minimum())));
    const int right = static_cast<int>(std::ceil(pixelForTick(engine_.window.maximum())));
    // At least 5 pixels wide, so that a short window stays in sight on a long capture.
    const int width = std::max(5, right - left);
    return QRect(std::clamp(left, r.left(), r.right() - 4), r.top(), width, r.height());
}

void OverviewStrip::paintEvent(QPaintEvent* event) {
    const bool stale = !painted_ || !(*painted_ == signature());
    QPainter p(this);
    paintStrip(p);
    if (stale && !QRegion(rect()).subtracted(event->region()).isEmpty()) {
        painted_.reset();  // a part painted: the rest is older
        update();
    }
}

void OverviewStrip::paintStrip(QPainter& p) {
    painted_ = signature();
    p.fillRect(rect(), Qt::black);
    p.setPen(kFrameColour);
    p.drawLine(0, 0, width() - 1, 0);
    const QRect r = stripRect();
    const osc::AxisRange s = span();

    ui::StairMapping m;
    m.windowMin = s.minimum;
    m.windowMax = s.maximum;
    m.left = r.left();
    m.columns = r.width();
    m.levelMin = 0.5;  // the eight levels of the four channels, a band each
    m.levelMax = 8.5;
    m.top = r.top();
    m.height = r.height();
    if (m.windowMax > m.windowMin) {
        p.save();
        p.setClipRect(r);
        p.setPen(QPen(kTraceColour, 0));
        for (int c = 0; c < osc::kChannelCount; ++c) {
            const osc::ChannelTrace& trace = engine_.traces[static_cast<std::size_t>(c)];
            ui::buildStairPolyline(trace, summaries_.of(c, trace), m, polyline_,
                                   ui::ColumnEdges::WholeBlocks);
            if (polyline_.size() >= 2) {
                ui::drawStairs(p, polyline_, r, kTraceColour, stairRects_);
            }
        }
        if (overlay_) {
            osc::PlotMapping mapping;
            mapping.windowMin = m.windowMin;
            mapping.windowMax = m.windowMax;
            mapping.left = m.left;
            mapping.columns = m.columns;
            mapping.levelMin = m.levelMin;
            mapping.levelMax = m.levelMax;
            mapping.top = m.top;
            mapping.height = m.height;
            overlay_(p, mapping);
        }
        p.restore();
    }

    const QRect box = windowBox();
    QColor fill = kBoxColour;
    fill.setAlpha(72);
    p.fillRect(box, fill);
    p.setPen(kBoxColour);
    p.drawRect(box.adjusted(0, 0, -1, -1));
}

double OverviewStrip::centreAt(double pixelX) const {
    const double tick = tickAt(pixelX);
    // Inside the capture: a drag past its end does not carry the window (and with it the
    // strip's span) further and further.
    if (const std::optional<osc::AxisRange> extent = osc::captureExtent(engine_.traces)) {
        return std::clamp(tick, extent->minimum, extent->maximum);
    }
    return tick;
}

void OverviewStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        emit windowMoved(centreAt(event->position().x()));
    }
}

void OverviewStrip::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        emit windowMoved(centreAt(event->position().x()));
    }
}

void OverviewStrip::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
    }
}

}  // namespace ui
