// The frames drawn on the plot, painted into an image and read back pixel by pixel: the bands
// under their traces at the frames' pixels, flags, payload and check in their colours, a bad
// frame in red, hex texts where the bytes are wide enough, and one mark per column further out.
// With the link layer: each frame's type before its bytes, link issues outlined in amber and
// amber marks further out.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cmath>
#include <random>
#include <set>

#include "core/link/link_fields.h"
#include "core/view/frame_view.h"
#include "tests/ui/frame_lines.h"
#include "tests/ui/link_session.h"
#include "tests/ui/ui_test_support.h"
#include "ui/frames/FrameBands.h"

namespace {

using ui::FrameBands;
using uitest::Bits;
using uitest::Bytes;
using uitest::FrameLine;

bool black(QRgb c) {
    return qRed(c) == 0 && qGreen(c) == 0 && qBlue(c) == 0;
}
bool reddish(QRgb c) {
    return qRed(c) > qGreen(c) + qBlue(c) + 40 && qRed(c) > 100;
}
bool amber(QRgb c) {
    return qRed(c) > 200 && qGreen(c) > 120 && qGreen(c) < 210 && qBlue(c) < 80;
}

struct Canvas {
    QImage image{900, 500, QImage::Format_RGB32};
    osc::PlotMapping m;
    Canvas(double min, double max) {
        m.windowMin = min;
        m.windowMax = max;
        m.left = 50;
        m.columns = 800;
        m.levelMin = 0;
        m.levelMax = 9;
        m.top = 8;
        m.height = 450;
    }
    void paint(FrameBands& bands) {
        image.fill(Qt::black);
        QPainter p(&image);
        p.setClipRect(QRectF(m.left, m.top, m.columns, m.height));
        bands.paint(p, m);
    }
    QRgb at(double x, double y) const {
        return image.pixel(static_cast<int>(x), static_cast<int>(y));
    }
};

TEST(FrameBands, BandsAtTheFramesPixels) {
    uitest::app();
    osc::CaptureEngine engine;
    FrameLine tx;
    tx.ones(10);
    const std::size_t good = tx.frame(uitest::stuffedBits(uitest::withX25({0x01, 0x30, 0xA5})));
    tx.ones(20);
    const std::size_t bad = tx.frame(uitest::stuffedBits({0x01, 0x30, 0x00, 0x00}));
    tx.ones(10);
    uitest::captureLines(engine, {{1, tx.bits}}, {}, osc::kDataChannels);
    const osc::FrameSequence& frames = engine.frames.frames(1);
    ASSERT_EQ(frames.size(), 2u);
    ASSERT_EQ(frames[0].start, FrameLine::tickOf(good));
    ASSERT_EQ(frames[1].start, FrameLine::tickOf(bad));
    ASSERT_FALSE(frames[1].good());

    // Both frames in a window of 800 pixels: some 4 pixels a bit, 35 a byte.
    Canvas canvas(static_cast<double>(frames[0].start) - 2560,
                  static_cast<double>(frames[1].end) + 2560);
    FrameBands bands(engine.frames);
    canvas.paint(bands);
    EXPECT_EQ(bands.lastPaint().bands, 2u);
    EXPECT_EQ(bands.lastPaint().cells, 7u + 6u);
    EXPECT_EQ(bands.lastPaint().texts, 13u);

    // The band lies in the gap under the channel's lower level, clear of both traces.
    const QRectF band = FrameBands::bandFor(1, canvas.m);
    EXPECT_GT(band.top(), canvas.m.pixelForLevel(5));
    EXPECT_LT(band.bottom(), canvas.m.pixelForLevel(4));
    EXPECT_GT(band.height(), 20);
    const double y = band.top() + 2;  // above the hex texts

    std::vector<osc::FrameCell> cells;
    osc::frameCells(frames[0], cells);
    ASSERT_EQ(cells.size(), 7u);  // flag, 3 payload bytes, 2 check bytes, flag
    std::set<QRgb> partColours[3];
    for (const osc::FrameCell& c : cells) {
        const double x0 = FrameBands::pixelX(canvas.m, c.start);
        const double x1 = FrameBands::pixelX(canvas.m, c.end);
        EXPECT_FALSE(black(canvas.at(x0, y))) << "cell at " << c.start;
        EXPECT_FALSE(black(canvas.at(x1 - 2, y))) << "cell at " << c.start;
        EXPECT_TRUE(black(canvas.at(x1 - 1, y))) << "the gap after the cell at " << c.start;
        EXPECT_FALSE(reddish(canvas.at(x0, y)));
        partColours[static_cast<int>(c.part)].insert(canvas.at(x0 + 2, y));
        // A light hex text in the middle of the cell.
        bool text = false;
        for (double x = x0 + 1; x < x1 - 1; ++x) {
            text = text || qGreen(canvas.at(x, band.center().y())) > 200;
        }
        EXPECT_TRUE(text) << "cell at " << c.start;
    }
    for (const auto& colours : partColours) {
        EXPECT_EQ(colours.size(), 1u);  // one colour per kind of cell
    }
    EXPECT_NE(*partColours[0].begin(), *partColours[1].begin());
    EXPECT_NE(*partColours[1].begin(), *partColours[2].begin());
    EXPECT_NE(*partColours[0].begin(), *partColours[2].begin());
    // Nothing left of the frame, nothing above or below the band.
    const double start = FrameBands::pixelX(canvas.m, frames[0].start);
    EXPECT_TRUE(black(canvas.at(start - 1, y)));
    EXPECT_TRUE(black(canvas.at(start + 5, band.top() - 1)));
    EXPECT_TRUE(black(canvas.at(start + 5, band.bottom() + 1)));

    // The bad frame: red cells in a red frame.
    osc::frameCells(frames[1], cells);
    for (const osc::FrameCell& c : cells) {
        EXPECT_TRUE(reddish(canvas.at(FrameBands::pixelX(canvas.m, c.start) + 2, y)))
            << "cell at " << c.start;
    }

    // Zoomed out: the bytes no longer fit a text, then not even a cell.
    Canvas wide(0, static_cast<double>(frames[1].end) * 12);
    wide.paint(bands);
    EXPECT_EQ(bands.lastPaint().bands, 2u);
    EXPECT_EQ(bands.lastPaint().texts, 0u);
    Canvas wider(0, static_cast<double>(frames[1].end) * 60);
    wider.paint(bands);
    EXPECT_EQ(bands.lastPaint().bands, 2u);
    EXPECT_EQ(bands.lastPaint().cells, 0u);
    EXPECT_FALSE(black(wider.at(FrameBands::pixelX(wider.m, frames[0].start), y)));

    // Switched off: nothing.
    bands.setEnabled(false);
    canvas.paint(bands);
    EXPECT_EQ(bands.lastPaint().bands, 0u);
    EXPECT_TRUE(black(canvas.at(start + 5, y)));
}

// Hundreds of frames in 800 columns: one mark per column that holds a frame's start, red when
// a bad frame starts there, and nothing in the other columns.
TEST(FrameBands, MarksPerColumnFurtherOut) {
    uitest::app();
    osc::CaptureEngine engine;
    std::mt19937 rng(2);
    FrameLine tx;
    for (int k = 0; k < 900; ++k) {
        tx.ones(1 + rng() % 200);
        Bits bits = uitest::stuffedBits(uitest::withX25({static_cast<std::uint8_t>(rng())}));
        if (rng() % 7 == 0) {
            bits[3] ^= 1;
        }
        tx.frame(bits);
    }
    uitest::captureLines(engine, {{3, tx.bits}}, {}, osc::kDataChannels);
    const osc::FrameSequence& frames = engine.frames.frames(3);
    ASSERT_GT(frames.size(), 850u);
    // A window over the middle part of the capture.
    const double min = static_cast<double>(frames[100].start) + 1000;
    const double max = static_cast<double>(frames[800].end);
    Canvas canvas(min, max);
    FrameBands bands(engine.frames);
    canvas.paint(bands);
    EXPECT_EQ(bands.lastPaint().bands, 0u);

    std::vector<int> expected(800, 0);  // 0 nothing, 1 good, 2 bad
    for (const osc::Frame& f : frames) {
        if (static_cast<double>(f.end) <= min || static_cast<double>(f.start) >= max) {
            continue;
        }
        const int column = std::max(
            0,
            static_cast<int>(std::floor(canvas.m.pixelForTick(static_cast<double>(f.start)))) - 50);
        expected[static_cast<std::size_t>(column)] =
            std::max(expected[static_cast<std::size_t>(column)], f.good() ? 1 : 2);
    }
    const double y = FrameBands::bandFor(3, canvas.m).center().y();
    std::size_t marked = 0;
    for (int column = 0; column < 800; ++column) {
        const QRgb c = canvas.at(50 + column, y);
        const int got = black(c) ? 0 : reddish(c) ? 2 : 1;
        ASSERT_EQ(got, expected[static_cast<std::size_t>(column)]) << "column " << column;
        marked += got != 0;
    }
    EXPECT_EQ(bands.lastPaint().marks, marked);
    EXPECT_GT(marked, 300u);
}

// A polled exchange: the type of each good frame on its opening flag (widened into the idle
// line before it when the flag is too narrow for it), a frame without its answer outlined in
// amber; further out, amber marks where such frames start.
TEST(FrameBands, TypesBeforeTheBytesAndLinkIssuesMarked) {
    uitest::app();
    osc::CaptureEngine engine;
    uitest::captureLink(engine, {.loss = 0.08, .bitErrors = 0.02, .late = 0}, 100'000, 7);
    const osc::LinkAnalyser& a = engine.link.analyser();
    const osc::FrameSequence& tx = engine.frames.frames(1);
    std::size_t lost = 0;  // a command without its answer, with an I frame before it
    for (std::size_t i = 1; i < tx.size() && lost == 0; ++i) {
        if (a.info(1, i).has(osc::LinkIssue::NoAnswer) &&
            engine.link.fields(tx[i]).type == osc::LinkType::I) {
            lost = i;
        }
    }
    ASSERT_GT(lost, 0u);
    const osc::Frame& f = tx[lost];
    // Some 2.7 pixels a bit: the bytes get their hex texts, the type does not fit the flag.
    Canvas canvas(static_cast<double>(f.start) - 100 * 256,
                  static_cast<double>(f.start) + 200 * 256);
    FrameBands bands(engine.frames);
    bands.setLink(&engine.link);
    canvas.paint(bands);
    std::vector<std::string> types;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const osc::FrameSequence& frames = engine.frames.frames(c);
        const osc::FrameRange range =
            osc::framesInWindow(frames, canvas.m.windowMin, canvas.m.windowMax);
        for (std::size_t i = range.first; i < range.last; ++i) {
            if (frames[i].good() && FrameBands::pixelX(canvas.m, frames[i].start) > 60) {
                types.push_back(osc::linkTypeText(engine.link.fields(frames[i]), true));
            }
        }
    }
    ASSERT_GE(types.size(), 2u);
    EXPECT_EQ(bands.lastPaint().typeTexts, types);
    EXPECT_EQ(bands.lastPaint().typeTexts.front().substr(0, 2), "I ");
    EXPECT_GE(bands.lastPaint().issues, 1u);

    const QRectF band = FrameBands::bandFor(1, canvas.m);
    const double x0 = FrameBands::pixelX(canvas.m, f.start);
    const double x1 = FrameBands::pixelX(canvas.m, f.end);
    EXPECT_TRUE(amber(canvas.at(x0 + 1, band.center().y())));
    EXPECT_TRUE(amber(canvas.at((x0 + x1) / 2, band.top() + 1)));
    EXPECT_TRUE(amber(canvas.at(x1 - 2, band.center().y())));
    // The type's cell reaches into the idle line before the frame, in the flag's colour.
    const QRgb flag = canvas.at(x0 + 4, band.top() + 3);
    EXPECT_EQ(canvas.at(x0 - 4, band.top() + 3), flag);
    EXPECT_FALSE(black(canvas.at(x0 - 4, band.top() + 3)));
    // A light text over it, left of the frame's start too.
    bool text = false;
    for (double x = x0 - 12; x < x0; ++x) {
        for (double y = band.top() + 2; y < band.bottom() - 2; ++y) {
            text = text || qGreen(canvas.at(x, y)) > 200;
        }
    }
    EXPECT_TRUE(text);

    // Without the link layer: no types, no amber.
    bands.setLink(nullptr);
    canvas.paint(bands);
    EXPECT_TRUE(bands.lastPaint().typeTexts.empty());
    EXPECT_EQ(bands.lastPaint().issues, 0u);
    EXPECT_FALSE(amber(canvas.at(x0 + 1, band.center().y())));
    EXPECT_TRUE(black(canvas.at(x0 - 4, band.top() + 3)));

    // The whole capture: one mark per column, red with a bad frame, else amber with an issue.
    bands.setLink(&engine.link);
    Canvas all(0, static_cast<double>(engine.state.FTimeBase));
    all.paint(bands);
    ASSERT_EQ(bands.lastPaint().bands, 0u);
    std::vector<int> expected(800, 0);  // 0 nothing, 1 good, 2 issue, 3 bad
    for (std::size_t i = 0; i < tx.size(); ++i) {
        const int column = std::max(
            0, static_cast<int>(std::floor(all.m.pixelForTick(static_cast<double>(tx[i].start)))) -
                   50);
        const int level = !tx[i].good() ? 3 : a.info(1, i).issues != 0 ? 2 : 1;
        int& e = expected[static_cast<std::size_t>(column)];
        e = std::max(e, level);
    }
    const double y = FrameBands::bandFor(1, all.m).center().y();
    int issues = 0;
    for (int column = 0; column < 800; ++column) {
        const QRgb c = all.at(50 + column, y);
        const int got = black(c) ? 0 : amber(c) ? 2 : reddish(c) ? 3 : 1;
        ASSERT_EQ(got, expected[static_cast<std::size_t>(column)]) << "column " << column;
        issues += got == 2;
    }
    EXPECT_GT(issues, 5);
}

}  // namespace
