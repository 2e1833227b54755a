#include "ui/FrameBands.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/Fonts.h"

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

const FrameBands::BadIndex& FrameBands::badOf(int channel) {
    BadIndex& b = bad_[static_cast<std::size_t>(channel)];
    const std::vector<osc::Frame>& frames = frames_.frames(channel);
    const osc::FrameCheck check = frames_.checkInUse(channel);
    if (frames.size() < b.seen || check != b.check ||
        (b.seen > 0 && frames[b.seen - 1].start != b.lastStart)) {
        b = BadIndex{};
        b.check = check;
    }
    for (std::size_t i = b.seen; i < frames.size(); ++i) {
        if (!frames[i].good()) {
            b.bad.push_back(static_cast<std::uint32_t>(i));
        }
    }
    b.seen = frames.size();
    b.lastStart = frames.empty() ? 0 : frames.back().start;
    return b;
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
        const std::vector<osc::Frame>& frames = frames_.frames(c);
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
            paintMarks(p, m, band, c, frames, range);
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
        p.fillRect(whole, bad ? kBadPayload : kPayload);
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
                            const std::vector<osc::Frame>& frames, osc::FrameRange range) {
    const std::vector<std::uint32_t>& bad = badOf(channel).bad;
    std::size_t i = range.first;
    while (i < range.last) {
        const double px =
            std::max(m.left, std::floor(m.pixelForTick(static_cast<double>(frames[i].start))));
        // The frames that start left of the next column's edge share this column.
        std::size_t j = osc::firstFrameFrom(frames, i + 1, m.tickAt(px + 1));
        j = std::clamp(j, i + 1, range.last);
        const auto b = std::lower_bound(bad.begin(), bad.end(), static_cast<std::uint32_t>(i));
        const bool anyBad = b != bad.end() && *b < j;
        p.fillRect(QRectF(px, band.top(), 1, band.height()), anyBad ? kMarkBad : kMarkGood);
        ++stats_.marks;
        i = j;
    }
}

}  // namespace ui
