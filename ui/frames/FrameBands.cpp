#include "ui/frames/FrameBands.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "core/link/link_fields.h"
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
const QColor kIssueOutline(255, 176, 0);
const QColor kMarkIssue(255, 176, 0);

constexpr double kMinCellPixels = 3;  // narrower byte cells: the frame as one band
constexpr std::uint8_t kFlagByte = 0x7E;
constexpr std::size_t kMaxTypeTexts = 1024;  // prepared type texts kept

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

const QStaticText& FrameBands::typeText(const std::string& text) {
    auto it = typeTexts_.find(text);
    if (it == typeTexts_.end()) {
        if (typeTexts_.size() >= kMaxTypeTexts) {
            typeTexts_.clear();  // modulo 128 has many; they are prepared again when seen
        }
        QStaticText t(QString::fromStdString(text));
        t.setTextFormat(Qt::PlainText);
        t.setPerformanceHint(QStaticText::AggressiveCaching);
        t.prepare(QTransform(), bandFont());
        it = typeTexts_.emplace(text, std::move(t)).first;
    }
    return it->second;
}

const FrameBands::Index& FrameBands::indexOf(int channel, const osc::LinkAnalyser* analyser) {
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
    if (analyser != nullptr) {
        if (x.linkGeneration != linkGeneration_) {
            x.issues.clear();
            x.issuesRead = 0;
            x.linkGeneration = linkGeneration_;
        }
        // The frames whose issues are final: those read, but for the command still waiting.
        std::size_t final = std::min(analyser->analysed(channel), frames.size());
        const osc::FrameRef open = analyser->openCommand();
        if (open.valid() && open.channel == channel && !analyser->ended()) {
            final = std::min(final, open.index);
        }
        for (std::size_t i = x.issuesRead; i < final; ++i) {
            if (analyser->info(channel, i).issues != 0) {
                x.issues.push_back(static_cast<std::uint32_t>(i));
            }
        }
        x.issuesRead = std::max(x.issuesRead, final);
    }
    return x;
}

void FrameBands::paint(QPainter& p, const osc::PlotMapping& m) {
    stats_ = {};
    if (!enabled_ || !(m.windowMax > m.windowMin) || m.columns < 1) {
        return;
    }
    const osc::LinkAnalyser* analyser = nullptr;
    if (link_ != nullptr) {
        linkGeneration_ = link_->generation();  // reads what the frames have settled since
        analyser = &link_->analyser();
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
                paintFrame(p, m, band, frames, i, c, analyser);
            }
        } else {
            paintMarks(p, m, band, c, range, analyser);
        }
    }
    // The plain bands in two calls, their outlines in one, then the types over them.
    p.setPen(Qt::NoPen);
    for (auto [rects, colour] :
         {std::pair{&plain_, kPayload}, std::pair{&plainBad_, kBadPayload}}) {
        if (!rects->empty()) {
            p.setBrush(colour);
            p.drawRects(rects->data(), static_cast<int>(rects->size()));
            rects->clear();
        }
    }
    if (!plainIssue_.empty()) {
        p.setPen(kIssueOutline);
        p.setBrush(Qt::NoBrush);
        for (QRect& r : plainIssue_) {
            r.adjust(0, 0, -1, -1);
        }
        p.drawRects(plainIssue_.data(), static_cast<int>(plainIssue_.size()));
        plainIssue_.clear();
    }
    if (!labels_.empty()) {
        p.setPen(kText);
        for (const Label& l : labels_) {
            p.drawStaticText(l.at, *l.text);
        }
        labels_.clear();
    }
    p.restore();
}

void FrameBands::paintFrame(QPainter& p, const osc::PlotMapping& m, const QRectF& band,
                            const osc::FrameSequence& frames, std::size_t i, int channel,
                            const osc::LinkAnalyser* analyser) {
    const osc::Frame& f = frames[i];
    ++stats_.bands;
    const bool bad = !f.good();
    const double x0 = pixelX(m, f.start);
    const double x1 = std::max(pixelX(m, f.end), x0 + 1);
    const QRectF whole(x0, band.top(), x1 - x0, band.height());
    const bool withText = band.height() + 2 >= QFontMetricsF(bandFont()).height();
    // The link layer's word on the frame: its type, and whether it has an issue.
    const QStaticText* type = nullptr;
    bool issue = false;
    std::string typeString;
    if (analyser != nullptr && !bad) {
        typeString = osc::linkTypeText(link_->fields(f), true);
        if (withText && !typeString.empty()) {
            type = &typeText(typeString);
        }
        issue = i < analyser->analysed(channel) && analyser->info(channel, i).issues != 0;
    }
    auto label = [&](double left, double right) {
        const QSizeF size = type->size();
        labels_.push_back({QPointF(std::round((left + right - size.width()) / 2),
                                   std::round(band.center().y() - size.height() / 2)),
                           type});
        ++stats_.types;
        stats_.typeTexts.push_back(typeString);
    };
    const double perCell = (x1 - x0) / static_cast<double>(f.bytes.size() + 2);
    if (perCell < kMinCellPixels) {
        (bad ? plainBad_ : plain_).push_back(whole.toRect());
        if (issue) {
            plainIssue_.push_back(whole.toRect());
            ++stats_.issues;
        }
        if (type != nullptr && x1 - x0 >= type->size().width() + 6) {
            label(x0, x1);
        }
        return;
    }
    const double right = m.left + m.columns;
    osc::frameCells(f, cells_);
    for (std::size_t k = 0; k < cells_.size(); ++k) {
        const osc::FrameCell& cell = cells_[k];
        const double cx0 = pixelX(m, cell.start);
        const double cx1 = pixelX(m, cell.end);
        if (cx1 < m.left || cx0 > right || cx1 <= cx0) {
            continue;
        }
        ++stats_.cells;
        // A pixel of the black background between neighbouring cells.
        const double gap = cx1 - cx0 >= 4 ? 1 : 0;
        const QColor colour = cellColour(cell.part, bad);
        p.fillRect(QRectF(cx0, band.top(), cx1 - cx0 - gap, band.height()), colour);
        if (k == 0 && type != nullptr && cell.part == osc::FramePart::Flag) {
            // The type on the opening flag, the cell widened to the left into the idle line
            // when it is too narrow (as far as the previous frame's end allows).
            const double need = type->size().width() + 8 - (cx1 - cx0 - gap);
            const double room =
                cx0 - std::max(m.left, i > 0 ? pixelX(m, frames[i - 1].end) + 2 : m.left);
            if (need <= 0) {
                label(cx0, cx1 - gap);
                continue;
            }
            if (need <= room) {
                p.fillRect(QRectF(cx0 - need, band.top(), need, band.height()), colour);
                label(cx0 - need, cx1 - gap);
                continue;
            }
        }
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
    } else if (issue) {
        p.setPen(QPen(kIssueOutline, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(whole.adjusted(1, 1, -1, -1));
        ++stats_.issues;
    }
}

void FrameBands::paintMarks(QPainter& p, const osc::PlotMapping& m, const QRectF& band, int channel,
                            osc::FrameRange range, const osc::LinkAnalyser* analyser) {
    const Index& x = indexOf(channel, analyser);
    const std::vector<osc::Tick>& starts = x.starts;
    const std::vector<std::uint32_t>& bad = x.bad;
    const std::vector<std::uint32_t>& issues = x.issues;
    range.last = std::min(range.last, starts.size());
    // Runs of neighbouring marked columns of one colour become one rectangle. A column's
    // colour: red with a bad frame, else amber with a link issue, else the good colour.
    enum Level { Good, Issue, Bad };
    const QColor colours[] = {kMarkGood, kMarkIssue, kMarkBad};
    const int top = static_cast<int>(band.top());
    const int height = static_cast<int>(band.height());
    int runStart = 0, runEnd = 0;  // columns [runStart, runEnd) of the open run
    int runLevel = Good;
    auto flush = [&] {
        if (runEnd > runStart) {
            p.fillRect(QRect(runStart, top, runEnd - runStart, height), colours[runLevel]);
        }
    };
    std::size_t i = range.first;
    std::size_t b = static_cast<std::size_t>(
        std::lower_bound(bad.begin(), bad.end(), static_cast<std::uint32_t>(i)) - bad.begin());
    std::size_t s = static_cast<std::size_t>(
        std::lower_bound(issues.begin(), issues.end(), static_cast<std::uint32_t>(i)) -
        issues.begin());
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
        while (s < issues.size() && issues[s] < i) {
            ++s;
        }
        int level = Good;
        if (b < bad.size() && bad[b] < j) {
            level = Bad;
        } else if (s < issues.size() && issues[s] < j) {
            level = Issue;
            ++stats_.issues;
        }
        if (px < runEnd) {
            // The same column again (rounding at its edge): the stronger colour takes it.
            if (level > runLevel) {
                --runEnd;
                flush();
                runStart = runEnd;
                runEnd = runStart + 1;
                runLevel = level;
            }
        } else if (px == runEnd && level == runLevel) {
            ++runEnd;
        } else {
            flush();
            runStart = px;
            runEnd = px + 1;
            runLevel = level;
        }
        ++stats_.marks;
        i = j;
    }
    flush();
}

}  // namespace ui
