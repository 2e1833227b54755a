// Cursor and marker in the window, with the mouse at chosen plot positions: snapping, the
// readouts, the bit-stream decoder's labels, and a whole frame read from a simulated capture.

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>

#include <cmath>

#include "core/files/osc_file.h"
#include "sim/hdlc.h"
#include "sim/sim_device.h"
#include "tests/ui/capture_test_support.h"

namespace uitest {
namespace {

class CursorMarker : public CaptureTest {
  protected:
    // The mouse at (ticks, left-axis value) of the plot, then the move handler.
    void moveTo(double ticks, double level, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        const QPoint p(static_cast<int>(std::lround(Chart1()->pixelForBottom(ticks))),
                       static_cast<int>(std::lround(Chart1()->pixelForLeft(level))));
        Chart1()->setPointerOverride(p);
        frmMain->Chart1MouseMove(mods, p.x(), p.y());
    }
    void setTrace(int channel, std::initializer_list<std::pair<osc::Tick, int>> points) {
        osc::ChannelTrace& t = frmMain->engine().traces[static_cast<std::size_t>(channel)];
        t.clear();
        for (auto [x, y] : points) {
            t.add(x, static_cast<std::uint8_t>(y));
        }
    }
    QString text(QLabel* l) const { return l->text(); }
};

TEST_F(CursorMarker, CursorSnapsToTheStartOfTheLevelUnderTheMouse) {
    setTrace(2, {{0, 3}, {1000, 4}, {3000, 3}});  // channel 2: band 3..4
    frmMain->engine().window.setMinMax(0, 25600);
    struct Row {
        const char* name;
        double windowMin, mouse;
        double cursor;
        const char* readout;
    };
    const Row rows[] = {
        {"inside the second level", 0, 2000, 1000, "3 + 232/256"},
        {"inside the first level", 0, 500, 0, "0"},
        {"window from 1500", 1500, 2000, 1000, "3 + 232/256"},
        {"trace ends left of the window", 5000, 6000, -1, "???"},
    };
    for (const Row& r : rows) {
        frmMain->engine().window.setMinMax(r.windowMin, r.windowMin + 25600);
        moveTo(r.mouse, 3.5);
        EXPECT_EQ(frmMain->measurement().cursorX(), r.cursor) << r.name;
        EXPECT_EQ(text(lblStrobe()), QString::fromLatin1(r.readout)) << r.name;
        EXPECT_EQ(frmMain->engine().cursorLine.x(0), static_cast<osc::Tick>(r.cursor)) << r.name;
        EXPECT_EQ(frmMain->engine().cursorLine.y(0), 20) << r.name;
        EXPECT_EQ(frmMain->engine().cursorLine.y(1), 0) << r.name;
    }
}

TEST_F(CursorMarker, MouseAtTheFirstPointChangesNothing) {
    setTrace(2, {{1000, 3}, {3000, 4}});
    moveTo(2000, 3.5);
    ASSERT_EQ(frmMain->measurement().cursorX(), 1000);
    moveTo(900, 3.5);  // left of the trace's very first point: the read fails
    EXPECT_EQ(frmMain->measurement().cursorX(), 1000);
    EXPECT_EQ(text(lblStrobe()), QStringLiteral("3 + 232/256"));
}

TEST_F(CursorMarker, GapsBetweenBandsAndCtrlGiveTheRoundedMousePosition) {
    setTrace(2, {{0, 3}, {1000, 4}, {3000, 3}});
    moveTo(2000, 2.5);  // between the bands of channels 3 and 2
    EXPECT_NE(frmMain->measurement().cursorX(), 1000);
    EXPECT_EQ(frmMain->measurement().cursorX(), std::nearbyint(frmMain->measurement().cursorX()));
    EXPECT_NEAR(frmMain->measurement().cursorX(), 2000, 60);
    moveTo(2000, 3.5, Qt::ControlModifier);
    EXPECT_NEAR(frmMain->measurement().cursorX(), 2000, 60);
    // Outside the plotting rectangle nothing happens.
    const double before = frmMain->measurement().cursorX();
    frmMain->Chart1MouseMove(Qt::NoModifier, -5, -5);
    EXPECT_EQ(frmMain->measurement().cursorX(), before);
}

TEST_F(CursorMarker, ClickSetsTheMarkerAndMovesShowTheDistance) {
    setTrace(2, {{0, 3}, {1000, 4}, {3000, 3}, {3512, 4}});
    moveTo(2000, 3.5);
    frmMain->Chart1Click();
    EXPECT_EQ(frmMain->measurement().markerX(), 1000);
    EXPECT_EQ(text(lblMarker()), QStringLiteral("3 + 232/256"));
    EXPECT_EQ(frmMain->engine().markerLine.x(1), 1000);
    moveTo(3300, 3.5);
    EXPECT_EQ(text(lblDiff()), QStringLiteral("7 + 208/256"));
    // Cursor on the marker: distance 0, the decoder does not run (the labels stay).
    lblBitStream()->setText(QStringLiteral("kept"));
    moveTo(2000, 3.5);
    EXPECT_EQ(text(lblDiff()), QStringLiteral("0"));
    EXPECT_EQ(text(lblBitStream()), QStringLiteral("kept"));
}

TEST_F(CursorMarker, DecoderFailuresShowQuestionMarks) {
    setTrace(2, {{0, 3}, {1000, 4}, {3000, 3}});
    // A click while the cursor is -1 gives the marker -1, shown as "0".
    frmMain->engine().window.setMinMax(5000, 30600);
    moveTo(6000, 3.5);
    frmMain->Chart1Click();
    EXPECT_EQ(frmMain->measurement().markerX(), -1);
    EXPECT_EQ(text(lblMarker()), QStringLiteral("0"));
    // The marker -1 is on no point: the decoder fails.
    frmMain->engine().window.setMinMax(0, 25600);
    moveTo(2000, 3.5);
    EXPECT_EQ(text(lblBitStream()), QStringLiteral("?"));
    EXPECT_EQ(text(lblBytesDecoded()), QStringLiteral("?"));
    // A marker on the point at tick 0 counts as no marker: no distance, "?".
    moveTo(500, 3.5);
    frmMain->Chart1Click();
    lblDiff()->setText(QStringLiteral("kept"));
    lblBitStream()->setText(QStringLiteral("x"));
    moveTo(2000, 3.5);
    EXPECT_EQ(text(lblDiff()), QStringLiteral("kept"));
    EXPECT_EQ(text(lblBitStream()), QStringLiteral("?"));
}

// A capture of a simulated device, the marker on the first bit after a frame's opening flag
// and the cursor on its closing flag: the labels show the payload and the frame check in hex.
TEST_F(CursorMarker, FrameOfASimulatedCaptureReadsBackItsBytes) {
    osc::sim::DeviceOptions options;
    options.link.seed = 11;
    osc::sim::SimulatedDevice device("127.0.0.11", options);
    device.link().keepLog(true);
    seWindowBitsCount()->setValue(200);
    frmMain->actOSCstartExecute();
    device.setStreaming(true);
    for (int i = 0; i < 4; ++i) {
        const std::vector<std::uint8_t> d = device.nextDatagram();
        frmMain->DecodeDatagram(d.data(), static_cast<std::int32_t>(d.size()));
    }
    frmMain->actOSCstopExecute();

    const auto tickOfPeriod = [](std::int64_t p) {
        return static_cast<double>((p + 1) * 256 + osc::sim::kDataChangeTime);
    };
    const osc::sim::SentFrame& first = device.link().log().at(0);  // the opening SNRM
    const auto start = static_cast<std::int64_t>(first.start);
    const std::vector<std::uint8_t> payload = first.bytes;
    const auto bits = static_cast<std::int64_t>(first.end - first.start);
    const double marker = tickOfPeriod(start + 8);
    const double cursor = tickOfPeriod(start + bits - 8);
    frmMain->engine().window.setMinMax(marker - 2560, marker + 51200);
    seByteBitsCount()->setValue(8);
    cbBitStaff()->setChecked(true);
    moveTo(marker + 120, 5.5);  // channel 1, the transmit line
    frmMain->Chart1Click();
    ASSERT_EQ(frmMain->measurement().markerX(), marker);
    moveTo(cursor + 120, 5.5);
    ASSERT_EQ(frmMain->measurement().cursorX(), cursor);

    std::vector<std::uint8_t> expected = payload;
    const std::uint16_t fcs = osc::sim::frameCheck(payload);
    expected.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    expected.push_back(static_cast<std::uint8_t>(fcs >> 8));
    EXPECT_EQ(text(lblBytesDecoded()).toStdString(), osc::traceLine(expected));
}

}  // namespace
}  // namespace uitest
