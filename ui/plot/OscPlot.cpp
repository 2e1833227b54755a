#include "ui/plot/OscPlot.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/view/time_text.h"
#include "ui/plot/WholePixels.h"
#include "ui/widgets/Fonts.h"

namespace {

constexpr int kTickLength = 4;
constexpr int kTopMargin = 8;
constexpr int kRightMargin = 12;
constexpr int kBevel = 2;

const QColor kTraceColour(255, 255, 0);
const QColor kMarkerColour(255, 0, 0);
const QColor kCursorColour(255, 255, 255);
const QColor kGridColour(48, 48, 48);
const QColor kBottomLabelColour(128, 128, 128);
const QColor kAxisColour(255, 255, 255);

QFont labelFont() {
    return ui::arialFont(8);
}

// Width of the left-axis label column: the reserved 50 pixels, more when a substitute font
// makes a channel name wider.
int leftLabelsWidth() {
    static const int width = [] {
        const QFontMetrics fm(labelFont());
        int w = OscPlot::kLeftLabelsSize;
        for (const osc::ChannelInfo& c : osc::kChannels) {
            w = std::max(w, fm.horizontalAdvance(QString::fromUtf8(c.name)) + 2);
        }
        return w;
    }();
    return width;
}

// Height of a bottom-axis label band that holds the sample text vertically.
int labelBandHeight(const QString& sample) {
    return QFontMetrics(labelFont()).horizontalAdvance(sample) + kTickLength + 4;
}

}  // namespace

OscPlot::OscPlot(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Chart1"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(120, 80);
    dirtyTimer_.setSingleShot(true);
    dirtyTimer_.setInterval(16);
    connect(&dirtyTimer_, &QTimer::timeout, this, &OscPlot::onDirtyTimer);
}

void OscPlot::setEngine(osc::CaptureEngine* engine, ui::PlotState* state) {
    if (state_) {
        state_->disconnect(this);
    }
    engine_ = engine;
    ownState_.reset();
    if (engine && !state) {
        ownState_ = std::make_unique<ui::PlotState>(engine->window);
        state = ownState_.get();
    }
    state_ = state;
    if (state_) {
        connect(state_, &ui::PlotState::windowChanged, this, [this](osc::WindowChange change) {
            markDirty(osc::followersOf(change).dataPace ? kDataMs : kInteractiveMs);
        });
        connect(state_, &ui::PlotState::markerChanged, this, [this] { markDirty(); });
        connect(state_, &ui::PlotState::cursorChanged, this, [this] { markDirty(); });
        // Times in the labels make them wider.
        connect(state_, &ui::PlotState::bitRateChanged, this, [this] {
            setBottomLabelSample(
                QString::fromStdString(osc::bottomAxisLabelSample(state_->bitRate())));
            update();
        });
    }
    painted_.reset();
    update();
}

const osc::ChannelTrace* OscPlot::series(int index) const {
    if (!engine_) {
        return nullptr;
    }
    if (index < osc::kChannelCount) {
        return &engine_->traces[static_cast<std::size_t>(index)];
    }
    return index == osc::kMarkerSeries ? &engine_->markerLine : &engine_->cursorLine;
}

int OscPlot::bottomLabelsHeight() const {
    static const int standard = labelBandHeight(QStringLiteral("000000"));
    return bottomLabelsHeight_ > 0 ? bottomLabelsHeight_ : standard;
}

void OscPlot::setBottomLabelSample(const QString& text) {
    const int height = labelBandHeight(text);
    if (height != bottomLabelsHeight()) {
        bottomLabelsHeight_ = height;
        painted_.reset();
        placePanel();
        update();
    }
}

QRect OscPlot::plotRect() const {
    const int left = kBevel + leftLabelsWidth() + kTickLength + 2;
    const int bottomLabels = bottomLabelsHeight();
    const QSize canvas = canvasSize();
    const int width = std::max(1, canvas.width() - left - kRightMargin);
    const int height = std::max(1, canvas.height() - kTopMargin - bottomLabels - kBevel);
    return QRect(left, kTopMargin, width, height);
}

osc::PlotMapping OscPlot::plotMapping() const {
    const QRect r = plotRect();
    osc::PlotMapping m;
    if (engine_) {
        m.windowMin = engine_->window.minimum();
        m.windowMax = engine_->window.maximum();
    }
    m.left = r.left();
    m.columns = r.width();
    m.levelMin = leftMin_;
    m.levelMax = leftMax_;
    m.top = r.top();
    m.height = r.height();
    return m;
}

ui::StairMapping OscPlot::mapping() const {
    const osc::PlotMapping p = plotMapping();
    ui::StairMapping m;
    m.windowMin = p.windowMin;
    m.windowMax = p.windowMax;
    m.left = p.left;
    m.columns = static_cast<int>(p.columns);
    m.levelMin = p.levelMin;
    m.levelMax = p.levelMax;
    m.top = p.top;
    m.height = p.height;
    return m;
}

double OscPlot::bottomValueAt(double pixelX) const {
    return plotMapping().tickAt(pixelX);
}

double OscPlot::leftValueAt(double pixelY) const {
    return plotMapping().levelAt(pixelY);
}

double OscPlot::pixelForBottom(double ticks) const {
    return plotMapping().pixelForTick(ticks);
}

double OscPlot::pixelForLeft(double value) const {
    return plotMapping().pixelForLevel(value);
}

QPoint OscPlot::pointerPosition() const {
    if (pointerOverride_) {
        return *pointerOverride_;
    }
    return mapFromGlobal(QCursor::pos());
}

void OscPlot::resetLeftAxis() {
    leftMin_ = 0;
    leftMax_ = 9;
    update();
}

void OscPlot::zoomTo(const QRect& pixels) {
    if (!engine_) {
        return;
    }
    const osc::PlotMapping m = plotMapping();
    const std::optional<osc::AxisRange> window =
        osc::zoomWindowToPixels(m, pixels.left(), pixels.width());
    if (!window) {
        return;
    }
    setWindow(*window);
}

void OscPlot::panByPixels(double dx) {
    if (!engine_) {
        return;
    }
    const double offset = osc::panOffsetForPixels(plotMapping(), dx);
    setWindow({engine_->window.minimum() + offset, engine_->window.maximum() + offset});
}

void OscPlot::zoomAbout(double pixelX, double factor) {
    if (!engine_) {
        return;
    }
    const std::optional<osc::AxisRange> window = osc::zoomWindowAbout(
        {engine_->window.minimum(), engine_->window.maximum()}, bottomValueAt(pixelX), factor);
    if (!window) {
        return;
    }
    setWindow(*window);
}

void OscPlot::setWindow(const osc::AxisRange& range) {
    state_->setWindow(range, osc::WindowChange::Mouse);
    update();  // at once: the user's hand is on it
}

QString OscPlot::formatAxisValue(double value) {
    const double r = std::round(value);
    if (!std::isfinite(r) || r == 0) {
        return {};
    }
    return QString::number(r, 'f', 0);
}

QString OscPlot::axisLabelText(Axis axis, double value) {
    QString text = formatAxisValue(value);
    emit getAxisLabel(axis, value, &text);
    return text;
}

double OscPlot::bottomLabelStep() const {
    return osc::bottomLabelStep(plotMapping(), QFontMetrics(labelFont()).height() + 2);
}

void OscPlot::markDirty(int intervalMs) {
    // A look every interval while changes keep coming, however they are bunched: the interval
    // counts from the last look, not from the first change after it. A user's move brings a
    // look that data set further off nearer.
    const qint64 interval = std::max(0, intervalMs);
    const qint64 since = sinceDirtyTimer_.isValid() ? sinceDirtyTimer_.elapsed() : interval;
    const int wait = static_cast<int>(std::clamp<qint64>(interval - since, 0, interval));
    if (!dirtyTimer_.isActive() || dirtyTimer_.remainingTime() > wait) {
        dirtyTimer_.start(wait);
    }
}

OscPlot::Signature OscPlot::signature() const {
    Signature s;
    for (int i = 0; i < osc::kSeriesCount; ++i) {
        if (const osc::ChannelTrace* t = series(i)) {
            s.hidden[static_cast<std::size_t>(i)] = t->hidden();
            s.revisions[static_cast<std::size_t>(i)] = t->hidden() ? 0 : t->revision();
        }
    }
    if (engine_) {
        s.min = engine_->window.minimum();
        s.max = engine_->window.maximum();
    }
    s.leftMin = leftMin_;
    s.leftMax = leftMax_;
    s.size = size();
    if (liveEnd_) {
        s.liveEnd = liveEnd_();
    }
    return s;
}

void OscPlot::onDirtyTimer() {
    sinceDirtyTimer_.start();
    if (!painted_ || !(*painted_ == signature())) {
        ++repaintsRequested_;
        update();
    }
}

void OscPlot::setOverlay(Overlay overlay) {
    overlay_ = std::move(overlay);
    update();
}

void OscPlot::setCentredPanel(QWidget* panel) {
    centredPanel_ = panel;
    placePanel();
}

void OscPlot::placePanel() {
    if (!centredPanel_) {
        return;
    }
    const QRect r = plotRect();
    centredPanel_->move((width() - centredPanel_->width()) / 2, r.top() + r.height() / 5);
}

void OscPlot::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placePanel();
}

void OscPlot::paintEvent(QPaintEvent* event) {
    // A paint of a part only (the progress panel hidden, a window moved away) puts the current
    // traces there, while the rest still shows the last whole paint: after a change since then,
    // the whole plot is painted again.
    const bool stale = !painted_ || !(*painted_ == signature());
    QPainter p(this);
    paintPlot(p);
    if (stale && !QRegion(rect()).subtracted(event->region()).isEmpty()) {
        painted_.reset();
        update();
    }
}

OscPlot::Colours OscPlot::Colours::screen() {
    return {Qt::black,   kTraceColour,       kMarkerColour, kCursorColour,
            kGridColour, kBottomLabelColour, kAxisColour};
}

OscPlot::Colours OscPlot::Colours::print() {
    return {Qt::white,         QColor(0, 0, 160),     QColor(200, 0, 0),
            QColor(0, 120, 0), QColor(205, 205, 205), QColor(80, 80, 80),
            Qt::black};
}

void OscPlot::paintPlotAt(QPainter& p, QSize size, const Colours& colours) {
    const std::optional<Signature> painted = painted_;
    paintSize_ = size;
    colours_ = &colours;
    const struct Back {
        const Colours*& colours;
        ~Back() { colours = nullptr; }
    } back{colours_};
    try {
        paintPlot(p);
    } catch (...) {
        paintSize_.reset();
        throw;
    }
    paintSize_.reset();
    painted_ = painted;  // what the widget shows has not changed
}

void OscPlot::paintPlot(QPainter& p) {
    painted_ = signature();
    static const Colours kScreen = Colours::screen();
    const Colours& c = colours_ ? *colours_ : kScreen;
    const QRect all(QPoint(0, 0), canvasSize());
    const QRect r = plotRect();
    p.fillRect(all, c.background);
    // Lowered bevel.
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(all.topLeft(), all.topRight());
    p.drawLine(all.topLeft(), all.bottomLeft());
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(all.bottomLeft(), all.bottomRight());
    p.drawLine(all.topRight(), all.bottomRight());

    const ui::StairMapping m = mapping();
    const double span = m.windowMax - m.windowMin;
    const QFont font = labelFont();
    p.setFont(font);
    const QFontMetrics fm(font);

    // Bottom axis: grid, ticks and vertical labels.
    const int axisY = r.top() + r.height();
    if (span > 0 && std::isfinite(span)) {
        const double step = bottomLabelStep();
        const double first = std::ceil(m.windowMin / step) * step;
        const int labelLength = std::max(1, all.height() - axisY);
        for (int k = 0; k <= m.columns; ++k) {
            const double v = first + k * step;
            if (v > m.windowMax) {
                break;
            }
            const int x = static_cast<int>(std::lround(pixelForBottom(v)));
            ui::drawDottedLine(p, QPoint(x, r.top()), QPoint(x, axisY), c.grid);
            p.setPen(c.axis);
            p.drawLine(x, axisY, x, axisY + kTickLength);
            const QString text = axisLabelText(Axis::Bottom, v);
            if (text.isEmpty()) {
                continue;
            }
            labels_.draw(p, QPoint(x, axisY + kTickLength + 2), -90,
                         QRect(-labelLength, -fm.height() / 2, labelLength, fm.height()),
                         Qt::AlignRight | Qt::AlignVCenter, text, c.bottomLabels, font);
        }
    }
    // Left axis: one label per whole value.
    for (int v = static_cast<int>(std::ceil(leftMin_)); v <= std::floor(leftMax_) && v <= 1000;
         ++v) {
        const int y = static_cast<int>(std::lround(pixelForLeft(v)));
        ui::drawDottedLine(p, QPoint(r.left(), y), QPoint(r.left() + r.width(), y), c.grid);
        p.setPen(c.axis);
        p.drawLine(r.left() - kTickLength, y, r.left() - 1, y);
        const QString text = axisLabelText(Axis::Left, v);
        if (!text.isEmpty()) {
            labels_.draw(
                p, QPoint(r.left() - kTickLength - 2 - leftLabelsWidth(), y - fm.height() / 2), 0,
                QRect(0, 0, leftLabelsWidth(), fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                text, c.axis, font);
        }
    }

    // Series: channel traces, then the marker and cursor lines over them.
    p.save();
    p.setClipRect(r.adjusted(0, 0, 1, 1));
    p.setRenderHint(QPainter::Antialiasing, false);
    if (overlay_) {
        overlay_(p, plotMapping());
    }
    for (int i = 0; i < osc::kSeriesCount; ++i) {
        const osc::ChannelTrace* trace = series(i);
        if (!trace || trace->hidden()) {
            continue;
        }
        ui::buildStairPolyline(*trace, summaries_.of(i, *trace), m, polyline_);
        if (i < osc::kChannelCount && painted_->liveEnd) {
            ui::extendToLiveEnd(*trace, m, static_cast<double>(*painted_->liveEnd), polyline_);
        }
        if (polyline_.size() < 2) {
            continue;
        }
        const QColor colour = i < osc::kChannelCount
                                  ? (channelColours_[static_cast<std::size_t>(i)].isValid()
                                         ? channelColours_[static_cast<std::size_t>(i)]
                                         : c.trace)
                              : i == osc::kMarkerSeries ? c.marker
                                                        : c.cursor;
        if (p.paintEngine() && p.paintEngine()->type() == QPaintEngine::SVG) {
            p.setPen(QPen(colour, 0));
            QPainterPath path;
            path.addPolygon(QPolygonF(polyline_));
            p.drawPath(path);  // a path element, as drawing programs take traces
        } else {
            ui::drawStairs(p, polyline_, r.adjusted(0, 0, 1, 1), colour, stairRects_);
        }
    }
    p.restore();

    // Axis lines.
    p.setPen(c.axis);
    p.drawLine(r.left() - 1, r.top(), r.left() - 1, axisY);
    p.drawLine(r.left() - 1, axisY, r.left() + r.width(), axisY);

    if (drag_ == Drag::Zoom) {
        // The zoom takes the dragged span of ticks only: the band over the plot's full height.
        const QRect band(QPoint(std::min(pressPos_.x(), lastPos_.x()), r.top()),
                         QPoint(std::max(pressPos_.x(), lastPos_.x()), axisY));
        p.setPen(QPen(c.axis, 0, Qt::DotLine));
        p.drawRect(band);
    }
}

void OscPlot::mousePressEvent(QMouseEvent* event) {
    pressPos_ = lastPos_ = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        drag_ = Drag::Pending;
    } else if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        drag_ = Drag::Pan;
    }
}

void OscPlot::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit mouseMoved(event->modifiers(), pos.x(), pos.y());
    switch (drag_) {
        case Drag::Pending:
            if ((pos - pressPos_).manhattanLength() >= QApplication::startDragDistance()) {
                drag_ = Drag::Zoom;
                lastPos_ = pos;
                update();
            }
            break;
        case Drag::Zoom:
            lastPos_ = pos;
            update();
            break;
        case Drag::Pan:
            panByPixels(pos.x() - lastPos_.x());
            lastPos_ = pos;
            break;
        case Drag::None:
            break;
    }
}

void OscPlot::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const Drag drag = drag_;
    drag_ = Drag::None;
    if (event->button() == Qt::LeftButton) {
        if (drag == Drag::Pending) {
            emit clicked();
        } else if (drag == Drag::Zoom) {
            if (pos.x() < pressPos_.x()) {
                resetLeftAxis();
                emit zoomUndone();
            } else {
                zoomTo(QRect(std::min(pos.x(), pressPos_.x()), std::min(pos.y(), pressPos_.y()),
                             std::abs(pos.x() - pressPos_.x()), std::abs(pos.y() - pressPos_.y())));
            }
            update();
        }
    }
}

void OscPlot::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const double x = event->position().x();
    if ((event->modifiers() & Qt::ShiftModifier) || (delta.y() == 0 && delta.x() != 0)) {
        const int d = delta.y() != 0 ? delta.y() : delta.x();
        panByPixels(d / 120.0 * plotRect().width() / 10.0);
    } else if (delta.y() != 0) {
        zoomAbout(x, std::pow(0.8, delta.y() / 120.0));
    }
    event->accept();
}
