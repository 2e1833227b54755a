#include "ui/frames/FrameBands.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/widgets/Fonts.h"

namespace ui {

namespace {

const QColor kFlag(60, 60, 120);
const QColor kPayload(0, 95, 95);
const QColor kCheck(125, 90, 0);
const QColor kBadFlag(110, 30, 30);
const QColor kBadPayload(140, 0, 0);
const QColor kBadCheck(185, 40, 40);
const QColor kText(235, 235, 235);
const QColor kBadOutline(255, 60, 60);
const QColor kMarkGood(0, 170, 170);
const QColor kMarkBad(255, 50, 50);

constexpr double kMinCellPixels = 3;  // narrower byte cells: the frame as one band
constexpr std::uint8_t kFlagByte = 0x7E;

QFont bandFont() {
    return arialFont(8);
}

QColor cellColour(osc::FramePart part, bool bad) {
    switch (part) {
        case osc::FramePart::Flag:
            return bad ? kBadFlag : kFlag;
        case osc::FramePart::Payload:
            return bad ? kBadPayload : kPayload;
        case osc::FramePart::Check:
            return bad ? kBadCheck : kCheck;
    }
    return kPayload;
}

}  // namespace

QList<FrameBands::LegendEntry> FrameBands::legend() {
    return {{QStringLiteral("флаг"), cellColour(osc::FramePart::Flag, false)},
            {QStringLiteral("данные"), cellColour(osc::FramePart::Payload, false)},
            {QStringLiteral("контроль"), cellColour(osc::FramePart::Check, false)},
            {QStringLiteral("флаг с ошибкой"), cellColour(osc::FramePart::Flag, true)},
            {QStringLiteral("данные с ошибкой"), cellColour(osc::FramePart::Payload, true)},
            {QStringLiteral("контроль с ошибкой"), cellColour(osc::FramePart::Check, true)}};
}

QString FrameBands::legendText() {
    QString text;
    for (const LegendEntry& e : legend()) {
        text += QStringLiteral("<span style=\"color:%1\">&#9632;</span>&nbsp;%2&nbsp;&nbsp; ")
                    .arg(e.colour.name(), e.text);
    }
    return text.trimmed();
}

FrameBands::FrameBands(const osc::CaptureFrames& frames) : frames_(frames) {
    const QFont font = bandFont();
    for (int b = 0; b < 256; ++b) {
        QStaticText& t = hex_[static_cast<std::size_t>(b)];
        t.setText(QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper());
        t.setTextFormat(Qt::PlainText);
        t.setPerformanceHint(QStaticText::AggressiveCaching);
        t.prepare(QTransform(), font);
    }
    hexWidth_ = QFontMetricsF(font).horizontalAdvance(QStringLiteral("DD"));
}

QRectF FrameBands::bandFor(int channel, const osc::PlotMapping& m) {
    if (channel < 0 || channel >= osc::kChannelCount) {
        return {};
    }
    const double lower = osc::kChannels[static_cast<std::size_t>(channel)].levelSet;
    const double top = m.pixelForLevel(lower - 0.1);
    const double bottom = m.pixelForLevel(lower - 0.9);
    return QRectF(m.left, std::round(top), m.columns, std::round(bottom) - std::round(top));
}

double FrameBands::pixelX(const osc::PlotMapping& m, osc::Tick tick) {
    // Far outside the rectangle the exact pixel does not matter; keep it in the painter's range.
    const double x = std::round(m.pixelForTick(static_cast<double>(tick)));
    return std::clamp(x, m.left - 4, m.left + m.columns + 4);
}

const FrameBands::Index& FrameBands::indexOf(int channel) {
    Index& x = index_[static_cast<std::size_t>(channel)];
    const osc::FrameSequence& frames = frames_.frames(channel);
    const osc::FrameCheck check = frames_.checkInUse(channel);
    const std::size_t seen = x.starts.size();
    if (frames.size() < seen || check != x.check ||
        (seen > 0 &&
         (frames[seen - 1].start != x.starts.back() || frames[seen - 1].end != x.lastEnd))) {
        x = Index{};
        x.check = check;
    }
    x.starts.reserve(frames.size());
    for (std::size_t i = x.starts.size(); i < frames.size(); ++i) {
        x.starts.push_back(frames[i].start);
        if (!frames[i].good()) {
            x.bad.push_back(static_cast<std::uint32_t>(i));
        }
    }
    x.lastEnd = frames.empty() ? 0 : frames.back().end;
    return x;
}

void FrameBands::paint(QPainter& p, const osc::PlotMapping& m) {
    stats_ = {};
    if (!enabled_ || !(m.windowMax > m.windowMin) || m.columns < 1) {
        return;
    }
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setFont(bandFont());
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const osc::FrameSequence& frames = frames_.frames(c);
        if (frames.empty()) {
            continue;
        }
        const QRectF band = bandFor(c, m);
        if (band.height() < 1) {
            continue;
        }
        const osc::FrameRange range = osc::framesInWindow(frames, m.windowMin, m.windowMax);
        if (range.size() == 0) {
            continue;
        }
        if (static_cast<double>(range.size()) * kPixelsPerFrame <= m.columns) {
            for (std::size_t i = range.first; i < range.last; ++i) {
                paintFrame(p, m, band, frames[i]);
            }
        } else {
            paintMarks(p, m, band, c, range);
        }
    }
    // The plain bands in two calls.
    p.setPen(Qt::NoPen);
    for (auto [rects, colour] :
         {std::pair{&plain_, kPayload}, std::pair{&plainBad_, kBadPayload}}) {
        if (!rects->empty()) {
            p.setBrush(colour);
            p.drawRects(rects->data(), static_cast<int>(rects->size()));
            rects->clear();
        }
    }
    p.restore();
}

void FrameBands::paintFrame(QPainter& p, const osc::PlotMapping& m, const QRectF& band,
                            const osc::Frame& f) {
    ++stats_.bands;
    const bool bad = !f.good();
    const double x0 = pixelX(m, f.start);
    const double x1 = std::max(pixelX(m, f.end), x0 + 1);
    const QRectF whole(x0, band.top(), x1 - x0, band.height());
    const double perCell = (x1 - x0) / static_cast<double>(f.bytes.size() + 2);
    if (perCell < kMinCellPixels) {
        (bad ? plainBad_ : plain_).push_back(whole.toRect());
        return;
    }
    const double right = m.left + m.columns;
    const bool withText = band.height() + 2 >= QFontMetricsF(bandFont()).height();
    osc::frameCells(f, cells_);
    for (const osc::FrameCell& cell : cells_) {
        const double cx0 = pixelX(m, cell.start);
        const double cx1 = pixelX(m, cell.end);
        if (cx1 < m.left || cx0 > right || cx1 <= cx0) {
            continue;
        }
        ++stats_.cells;
        // A pixel of the black background between neighbouring cells.
        const double gap = cx1 - cx0 >= 4 ? 1 : 0;
        p.fillRect(QRectF(cx0, band.top(), cx1 - cx0 - gap, band.height()),
                   cellColour(cell.part, bad));
        if (withText && cx1 - cx0 - gap >= hexWidth_ + 4) {
            const std::uint8_t value =
                cell.part == osc::FramePart::Flag ? kFlagByte : f.bytes[cell.byte];
            const QStaticText& text = hex_[value];
            const QSizeF size = text.size();
            p.setPen(kText);
            p.drawStaticText(QPointF(std::round((cx0 + cx1 - gap - size.width()) / 2),
                                     std::round(band.center().y() - size.height() / 2)),
                             text);
            ++stats_.texts;
        }
    }
    if (bad) {
        p.setPen(kBadOutline);
        p.setBrush(Qt::NoBrush);
        p.drawRect(whole.adjusted(0, 0, -1, -1));
    }
}

void FrameBands::paintMarks(QPainter& p, const osc::PlotMapping& m, const QRectF& band, int channel,
                            osc::FrameRange range) {
    const Index& x = indexOf(channel);
    const std::vector<osc::Tick>& starts = x.starts;
    const std::vector<std::uint32_t>& bad = x.bad;
    range.last = std::min(range.last, starts.size());
    // Runs of neighbouring marked columns of one colour become one rectangle.
    const int top = static_cast<int>(band.top());
    const int height = static_cast<int>(band.height());
    int runStart = 0, runEnd = 0;  // columns [runStart, runEnd) of the open run
    bool runBad = false;
    auto flush = [&] {
        if (runEnd > runStart) {
            p.fillRect(QRect(runStart, top, runEnd - runStart, height),
                       runBad ? kMarkBad : kMarkGood);
        }
    };
    std::size_t i = range.first;
    std::size_t b = static_cast<std::size_t>(
        std::lower_bound(bad.begin(), bad.end(), static_cast<std::uint32_t>(i)) - bad.begin());
    while (i < range.last) {
        const int px = static_cast<int>(
            std::max(m.left, std::floor(m.pixelForTick(static_cast<double>(starts[i])))));
        // The frames that start left of the next column's edge share this column: a gallop
        // from here, then a binary search, over the starts alone.
        const double edge = m.tickAt(px + 1);
        std::size_t lo = i + 1, hi = i + 1, step = 1;
        while (hi < range.last && static_cast<double>(starts[hi]) < edge) {
            lo = hi + 1;
            hi = std::min(range.last, hi + step);
            step *= 2;
        }
        const auto it =
            std::partition_point(starts.begin() + static_cast<std::ptrdiff_t>(std::min(lo, hi)),
                                 starts.begin() + static_cast<std::ptrdiff_t>(hi),
                                 [edge](osc::Tick t) { return static_cast<double>(t) < edge; });
        const std::size_t j =
            std::max<std::size_t>(i + 1, static_cast<std::size_t>(it - starts.begin()));
        while (b < bad.size() && bad[b] < i) {
            ++b;
        }
        const bool anyBad = b < bad.size() && bad[b] < j;
        if (px < runEnd) {
            // The same column again (rounding at its edge): a bad frame makes it red.
            if (anyBad && !runBad) {
                --runEnd;
                flush();
                runStart = runEnd;
                runEnd = runStart + 1;
                runBad = true;
            }
        } else if (px == runEnd && anyBad == runBad) {
            ++runEnd;
        } else {
            flush();
            runStart = px;
            runEnd = px + 1;
            runBad = anyBad;
        }
        ++stats_.marks;
        i = j;
    }
    flush();
}

}  // namespace ui
