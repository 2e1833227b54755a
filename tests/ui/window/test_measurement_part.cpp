// The measurement part without a window: a fake view holds the mouse position in axis values
// and records the readouts.

#include <gtest/gtest.h>

#include <optional>

#include "ui/plot/PlotState.h"
#include "ui/window/MeasurementPart.h"

namespace {

class FakeView : public ui::MeasurementView {
  public:
    QRect plotRect() const override { return {60, 8, 700, 360}; }
    double pointerBottomValue() const override { return mouseTicks; }
    int channelAtMouse() const override { return channel; }
    osc::BitStreamOptions bitStreamOptions() const override { return options; }
    void setBitStreamOptions(const osc::BitStreamOptions& o) override { options = o; }
    void setCursorText(const QString& t) override { cursor = t; }
    void setMarkerText(const QString& t) override { marker = t; }
    void setDistanceText(const QString& t) override { distance = t; }
    void setDecodedText(const QString& b, const QString& v) override {
        bits = b;
        values = v;
        ++decoded;
    }

    double mouseTicks = 0;
    int channel = 2;
    osc::BitStreamOptions options;
    QString cursor = "???", marker = "???", distance = "???", bits = "XXX", values = "XXX";
    int decoded = 0, repaints = 0;
};

class MeasurementPartTest : public ::testing::Test {
  protected:
    void setTrace(int channel, std::initializer_list<std::pair<osc::Tick, int>> points) {
        osc::ChannelTrace& t = engine.traces[static_cast<std::size_t>(channel)];
        t.clear();
        for (auto [x, y] : points) {
            t.add(x, static_cast<std::uint8_t>(y));
        }
    }
    void moveTo(double ticks, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        view.mouseTicks = ticks;
        part.mouseMove(mods, 100, 100);  // inside the plotting rectangle
    }
    osc::CaptureEngine engine;
    FakeView view;
    ui::PlotState plot{engine.window};
    ui::MeasurementPart part{engine, plot, view};
    // The plot repaints when the cursor or the marker is set.
    QMetaObject::Connection cursorRepaints =
        QObject::connect(&plot, &ui::PlotState::cursorChanged, [this] { ++view.repaints; });
    QMetaObject::Connection markerRepaints =
        QObject::connect(&plot, &ui::PlotState::markerChanged, [this] { ++view.repaints; });
};

TEST_F(MeasurementPartTest, CursorFromTheMouseTable) {
    setTrace(2, {{0, 3}, {1000, 4}, {3000, 3}});
    for (osc::ChannelTrace* line : {&engine.markerLine, &engine.cursorLine}) {
        line->add(0, 0);
        line->add(1, 0);
    }
    struct Row {
        const char* name;
        double windowMin, mouse;
        int channel;
        Qt::KeyboardModifiers mods;
        double cursor;
        const char* readout;
    };
    const Row rows[] = {
        {"snapped inside the second level", 0, 2000, 2, {}, 1000, "3 + 232/256"},
        {"on a point: the level before it", 0, 1000, 2, {}, 0, "0"},
        {"left of the window", 1500, 2000, 2, {}, 1000, "3 + 232/256"},
        {"trace ends left of the window", 5000, 6000, 2, {}, -1, "???"},
        {"no channel: rounded, halves to even", 0, 2000.5, -1, {}, 2000, "7 + 208/256"},
        {"Ctrl: rounded", 0, 2001.5, 2, Qt::ControlModifier, 2002, "7 + 210/256"},
    };
    for (const Row& r : rows) {
        engine.window.setMinMax(r.windowMin, r.windowMin + 25600);
        view.channel = r.channel;
        const int repaints = view.repaints;
        moveTo(r.mouse, r.mods);
        EXPECT_EQ(part.cursorX(), r.cursor) << r.name;
        EXPECT_EQ(view.cursor, QString::fromUtf8(r.readout)) << r.name;
        EXPECT_EQ(engine.cursorLine.x(0), static_cast<osc::Tick>(r.cursor)) << r.name;
        EXPECT_EQ(engine.cursorLine.x(1), static_cast<osc::Tick>(r.cursor)) << r.name;
        EXPECT_EQ(engine.cursorLine.y(0), 20) << r.name;
        EXPECT_EQ(view.repaints, repaints + 1) << r.name;
    }
    // At or left of the trace's first point the read fails: nothing changes, not even the line.
    engine.window.setMinMax(0, 25600);
    view.channel = 2;
    moveTo(2000);
    const int repaints = view.repaints;
    moveTo(0);
    EXPECT_EQ(part.cursorX(), 1000);
    EXPECT_EQ(view.repaints, repaints);
    // Outside the plotting rectangle (right and bottom edges outside) nothing happens.
    view.mouseTicks = 500;
    for (const QPoint p : {QPoint(59, 100), QPoint(760, 100), QPoint(100, 7), QPoint(100, 368)}) {
        part.mouseMove({}, p.x(), p.y());
        EXPECT_EQ(part.cursorX(), 1000) << p.x() << "," << p.y();
    }
}

// The decoder's worked example: marker and cursor on points of channel 2, four bits a group.
TEST_F(MeasurementPartTest, ClickThenMoveDecodesBetweenMarkerAndCursor) {
    const int levels[] = {4, 3, 4, 4, 4, 4, 4, 3, 4, 4, 3, 3, 4};
    osc::ChannelTrace& t = engine.traces[2];
    t.clear();
    t.add(0, 4);
    for (int i = 0; i < 13; ++i) {
        t.add(10240 + 256 * i, static_cast<std::uint8_t>(levels[i]));
    }
    t.add(20000, 4);
    for (osc::ChannelTrace* line : {&engine.markerLine, &engine.cursorLine}) {
        line->add(0, 0);
        line->add(1, 0);
    }
    engine.window.setMinMax(0, 25600);
    view.options.bitsPerGroup = 4;
    moveTo(10241);
    EXPECT_EQ(view.bits, QStringLiteral("?"));  // no marker yet: the decoder fails
    part.click();
    EXPECT_EQ(part.markerX(), 10240);
    EXPECT_EQ(view.marker, QStringLiteral("40"));
    EXPECT_EQ(engine.markerLine.x(0), 10240);
    moveTo(13313);
    EXPECT_EQ(view.distance, QStringLiteral("12"));
    EXPECT_EQ(view.bits, QStringLiteral("1011 1110 1100  "));
    EXPECT_EQ(view.values, QStringLiteral("D 7 3 "));

    // A bit count of 0 ends the move inside the decoder: labels and cursor line stay.
    view.options.bitsPerGroup = 0;
    const int decoded = view.decoded;
    moveTo(13057);
    EXPECT_EQ(part.cursorX(), 13056);  // set before the decoder ran
    EXPECT_EQ(engine.cursorLine.x(0), 13312);
    EXPECT_EQ(view.decoded, decoded);
    EXPECT_THROW(part.decodeBitStream(), std::domain_error);

    // The start of a capture forgets the marker without touching its readout.
    part.setMarkerX(0);
    EXPECT_EQ(view.marker, QStringLiteral("40"));
    view.options.bitsPerGroup = 8;
    moveTo(13313);
    EXPECT_EQ(view.bits, QStringLiteral("?"));
}

}  // namespace
