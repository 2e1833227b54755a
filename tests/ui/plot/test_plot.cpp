// The oscillogram plot as the main window sets it up: labels, hit test, window arithmetic,
// mouse zoom and pan, coalesced repaints, and what a paint puts on the pixels.
#include <QCheckBox>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QWheelEvent>

#include <cstdlib>

#include "tests/ui/capture_test_support.h"
#include "tests/ui/ui_test_support.h"

using uitest::WindowTest;
using namespace uitest;  // the components by name

namespace {

class Plot : public WindowTest {
  protected:
    void SetUp() override {
        startUp();
        w = frmMain;
        chart = Chart1();
    }
    // Makes the plotting rectangle 9 * 40 pixels high, so that whole and half levels fall on
    // whole pixel rows.
    void exactRows() {
        const int delta = 360 - chart->plotRect().height();
        w->resize(w->width(), w->height() + delta);
        QApplication::processEvents();
        ASSERT_EQ(chart->plotRect().height(), 360);
    }
    void mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent e(type, pos, chart->mapToGlobal(pos), button, buttons, mods);
        QApplication::sendEvent(chart, &e);
    }
    void drag(QPoint from, QPoint to, Qt::MouseButton button) {
        mouse(QEvent::MouseButtonPress, from, button, button);
        mouse(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, button);
        mouse(QEvent::MouseMove, to, Qt::NoButton, button);
        mouse(QEvent::MouseButtonRelease, to, button, Qt::NoButton);
    }
    QImage render() {
        QImage image(chart->size(), QImage::Format_RGB32);
        QPainter p(&image);
        chart->paintPlot(p);
        return image;
    }
    // Whether some pixel within one pixel of (x, y) has the colour.
    static bool near(const QImage& image, double x, double y, QColor colour) {
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                const int px = static_cast<int>(std::lround(x)) + dx;
                const int py = static_cast<int>(std::lround(y)) + dy;
                if (image.rect().contains(px, py) && image.pixelColor(px, py) == colour) {
                    return true;
                }
            }
        }
        return false;
    }
    osc::PlotWindow& window() { return w->engine().window; }

    TfrmMain* w = nullptr;
    OscPlot* chart = nullptr;
};

// While a capture runs, a line whose last change lies back in time is drawn at its level up to
// the newest time base, not only to its last point; the traces' points stay as they are.
TEST_F(Plot, ALiveLineWithOneEdgeIsDrawnToTheNewestTime) {
    auto owned = std::make_unique<RecordingEndpoint>();
    RecordingEndpoint* endpoint = owned.get();
    w->setEndpoint(std::move(owned));
    exactRows();
    w->actOSCstartExecute();
    // One edge of "Передача" with the first strobe edge, then the strobe alone for 60 periods.
    endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, 0x44, 0}));
    for (int i = 0; i < 60; ++i) {
        endpoint->inject(bytes({'#', 8, 0, 0, 0, 0, 0, 0, i % 2 ? 0x44 : 0x40, 0}));
    }
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
    const osc::Tick now = w->engine().state.FTimeBase;
    ASSERT_GE(now, 60 * 256);
    const osc::ChannelTrace& line = w->engine().traces[1];
    ASSERT_EQ(line.count(), 2u);  // the first point and the edge: nothing added for drawing
    EXPECT_EQ(line.lastX(), 256);
    window().setMinMax(0, 25600);
    const QColor trace = OscPlot::Colours::screen().trace;
    const QImage live = render();
    EXPECT_TRUE(near(live, chart->pixelForBottom(static_cast<double>(now) - 256),
                     chart->pixelForLeft(5), trace));
    EXPECT_FALSE(near(live, chart->pixelForBottom(static_cast<double>(now) + 2560),
                      chart->pixelForLeft(5), trace));
    EXPECT_EQ(line.count(), 2u);
    // After the stop the closing point holds it there.
    w->actOSCstopExecute();
    EXPECT_TRUE(near(render(), chart->pixelForBottom(static_cast<double>(now) - 256),
                     chart->pixelForLeft(5), trace));
}

TEST_F(Plot, AxisLabelTexts) {
    struct Row {
        OscPlot::Axis axis;
        double value;
        QString text;
    };
    const Row rows[] = {
        {OscPlot::Axis::Bottom, 0, ""},        {OscPlot::Axis::Bottom, 2560, "10"},
        {OscPlot::Axis::Bottom, 25600, "100"}, {OscPlot::Axis::Bottom, -2560, "-10"},
        {OscPlot::Axis::Bottom, 255, "0"},     {OscPlot::Axis::Bottom, 513, "2"},
        {OscPlot::Axis::Left, 0, ""},          {OscPlot::Axis::Left, 1, "Приём2"},
        {OscPlot::Axis::Left, 2, ""},          {OscPlot::Axis::Left, 3, "Приём1"},
        {OscPlot::Axis::Left, 5, "Передача"},  {OscPlot::Axis::Left, 7, "Строб"},
        {OscPlot::Axis::Left, 8, ""},          {OscPlot::Axis::Left, 9, ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(chart->axisLabelText(r.axis, r.value), r.text) << r.value;
    }
}

TEST_F(Plot, BottomLabelsStayReadableOnWideWindows) {
    window().setMinMax(0, 1e9);
    const double step = chart->bottomLabelStep();
    EXPECT_EQ(std::fmod(step, 2560.0), 0.0);
    EXPECT_GE(step / 1e9 * chart->plotRect().width(), QFontMetrics(chart->font()).height());
    window().setMinMax(0, 25600);
    EXPECT_EQ(chart->bottomLabelStep(), 2560);
}

TEST_F(Plot, HitTestAtPixelRows) {
    exactRows();
    const int top = chart->plotRect().top();
    auto row = [&](double level) { return top + static_cast<int>((9 - level) * 40); };
    struct Row {
        const char* name;
        int y;
        int channel;
    };
    const Row rows[] = {
        {"level 2, upper bound of channel 3", row(2), 3},
        {"level 1, lower bound of channel 3", row(1), 3},
        {"just below level 1", row(1) + 1, -1},
        {"level 2.5, gap", row(2.5), -1},
        {"level 3", row(3), 2},
        {"level 6", row(6), 1},
        {"level 7", row(7), 0},
        {"level 8", row(8), 0},
        {"just above level 8", row(8) - 1, -1},
        {"level 0.5", row(0.5), -1},
    };
    for (const Row& r : rows) {
        chart->setPointerOverride(QPoint(chart->plotRect().center().x(), r.y));
        EXPECT_EQ(w->ChannelAtMouse(), r.channel) << r.name;
    }
}

TEST_F(Plot, PixelConversionsRoundTrip) {
    const QRect r = chart->plotRect();
    EXPECT_EQ(chart->bottomValueAt(r.left()), 0);
    EXPECT_DOUBLE_EQ(chart->bottomValueAt(r.left() + r.width()), 25600);
    EXPECT_DOUBLE_EQ(chart->leftValueAt(r.top()), 9);
    EXPECT_DOUBLE_EQ(chart->leftValueAt(r.top() + r.height()), 0);
    for (const double t : {0.0, 1234.5, 25600.0}) {
        EXPECT_NEAR(chart->bottomValueAt(chart->pixelForBottom(t)), t, 1e-6);
    }
    chart->setPointerOverride(QPoint(r.left() + r.width() / 2, r.top()));
    EXPECT_NEAR(chart->pointerBottomValue(), 25600.0 * (r.width() / 2) / r.width(), 1e-6);
    EXPECT_DOUBLE_EQ(chart->pointerLeftValue(), 9);
}

TEST_F(Plot, BitCountKeepsTheLeftEdge) {
    struct Row {
        const char* name;
        int bits;
        double min, max;
    };
    const Row rows[] = {
        {"50 bits from 5120", 50, 5120, 17920},
        {"negative count ends at the old minimum", -10, 5120 - 2560, 5120},
        {"zero width", 0, 5120, 5120},
    };
    for (const Row& r : rows) {
        window().setMinMax(5120, 99999);
        seWindowBitsCount()->setValue(r.bits);
        EXPECT_EQ(window().minimum(), r.min) << r.name;
        EXPECT_EQ(window().maximum(), r.max) << r.name;
        render();  // an empty or reversed range draws without failing
        seWindowBitsCount()->setValue(1);
    }
}

TEST_F(Plot, ScrollingKeepsTheWholeWidth) {
    ScrollBar1()->setRange(0, 1000000);
    window().setMinMax(0, 25600.7);
    ScrollBar1()->setValue(1000);
    EXPECT_EQ(window().minimum(), 1000);
    EXPECT_EQ(window().maximum(), 26600);
}

TEST_F(Plot, SyncScrollBarDoesNotRunTheScrollHandler) {
    const struct {
        double min, max;
        int range, position;
    } rows[] = {
        {5000.9, 30000.5, 30000, 5000},
        {-100, 500, 500, 0},                     // position clamped into the range
        {1e12, 1e12 + 25600, INT_MAX, INT_MAX},  // beyond the scroll bar's int range
    };
    for (const auto& r : rows) {
        window().setMinMax(r.min, r.max);
        w->SyncScrollBar();
        EXPECT_EQ(ScrollBar1()->minimum(), 0);
        EXPECT_EQ(ScrollBar1()->maximum(), r.range);
        EXPECT_EQ(ScrollBar1()->value(), r.position);
        EXPECT_EQ(window().minimum(), r.min);  // ScrollBar1Change stayed detached
        EXPECT_EQ(window().maximum(), r.max);
    }
}

TEST_F(Plot, ZoomPanAndUndoLeaveTheScrollBarAlone) {
    ScrollBar1()->setRange(0, 50000);
    ScrollBar1()->setValue(0);
    const QRect r = chart->plotRect();
    const QPoint a(r.left() + 100, r.top() + 10), b(r.left() + 300, r.top() + r.height() - 10);
    const double t0 = chart->bottomValueAt(a.x()), t1 = chart->bottomValueAt(b.x());
    drag(a, b, Qt::LeftButton);
    EXPECT_DOUBLE_EQ(window().minimum(), t0);
    EXPECT_DOUBLE_EQ(window().maximum(), t1);
    // The rectangle zooms the ticks only: all four channels stay in sight.
    EXPECT_EQ(chart->leftMinimum(), 0);
    EXPECT_EQ(chart->leftMaximum(), 9);

    const double width = window().maximum() - window().minimum();
    const double perPixel = width / r.width();
    drag(QPoint(r.left() + 200, r.top() + 50), QPoint(r.left() + 150, r.top() + 50),
         Qt::RightButton);
    EXPECT_NEAR(window().minimum(), t0 + 50 * perPixel, 1e-6);
    EXPECT_NEAR(window().maximum() - window().minimum(), width, 1e-6);

    const double left = window().minimum();
    drag(QPoint(r.left() + 300, r.top() + 50), QPoint(r.left() + 100, r.top() + 80),
         Qt::LeftButton);
    EXPECT_EQ(window().minimum(), left);
    EXPECT_EQ(window().maximum(), left + 100 * 256);
    EXPECT_EQ(chart->leftMinimum(), 0);
    EXPECT_EQ(chart->leftMaximum(), 9);
    EXPECT_EQ(ScrollBar1()->value(), 0);
}

TEST_F(Plot, WheelZoomsAboutThePointer) {
    const QRect r = chart->plotRect();
    const QPointF at(r.left() + r.width() / 4.0, r.center().y());
    const double under = chart->bottomValueAt(at.x());
    QWheelEvent in(at, chart->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart, &in);
    EXPECT_NEAR(window().maximum() - window().minimum(), 25600 * 0.8, 1e-6);
    EXPECT_NEAR(chart->bottomValueAt(at.x()), under, 1e-6);
    QWheelEvent pan(at, chart->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::ShiftModifier, Qt::NoScrollPhase, false);
    const double width = window().maximum() - window().minimum();
    QApplication::sendEvent(chart, &pan);
    EXPECT_NEAR(window().maximum() - window().minimum(), width, 1e-6);
    EXPECT_NEAR(chart->bottomValueAt(at.x()), under + width / 10, 1e-6);
}

TEST_F(Plot, ClickWithoutMovementIsAClickNotAZoom) {
    QSignalSpy clicks(chart, &OscPlot::clicked);
    QSignalSpy moves(chart, &OscPlot::mouseMoved);
    const QPoint p = chart->plotRect().center();
    mouse(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(window().maximum(), 25600);
    drag(p, p + QPoint(40, 40), Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton, Qt::ControlModifier);
    ASSERT_GE(moves.count(), 3);
    const QList<QVariant> last = moves.last();
    EXPECT_EQ(last[0].value<Qt::KeyboardModifiers>(), Qt::ControlModifier);
    EXPECT_EQ(last[1].toInt(), p.x());
    EXPECT_EQ(last[2].toInt(), p.y());
}

TEST_F(Plot, LargeTracePaintsExpectedPixels) {
    osc::CaptureEngine& e = w->engine();
    // Channel 0 toggles every 100 ticks for a million points; channel 3 stays at level 1;
    // channel 1 is hidden.
    osc::ChannelTrace& strobe = e.traces[0];
    strobe.clear();
    for (int i = 0; i < 1'000'000; ++i) {
        strobe.add(i * 100LL, i % 2 ? 8 : 7);
    }
    e.traces[3].clear();
    e.traces[3].add(0, 1);
    e.traces[3].add(100'000'000, 1);
    e.traces[1].clear();
    e.traces[1].add(0, 5);
    e.traces[1].add(100'000'000, 5);
    e.traces[1].setHidden(true);
    for (osc::ChannelTrace* line : {&e.markerLine, &e.cursorLine}) {
        line->setX(0, line == &e.markerLine ? 12800 : 6400);
        line->setX(1, line == &e.markerLine ? 12800 : 6400);
        line->setY(0, 20);
    }
    const QColor yellow(255, 255, 0), red(255, 0, 0), white(255, 255, 255), black(0, 0, 0);
    const QRect r = chart->plotRect();

    window().setMinMax(0, 25600);
    QImage image = render();
    if (!qgetenv("MO_SHOT_DIR").isEmpty())
        image.save(qgetenv("MO_SHOT_DIR") + "/large.png");
    const double mid = r.left() + r.width() * 0.75;
    EXPECT_TRUE(near(image, mid, chart->pixelForLeft(1), yellow));
    EXPECT_FALSE(near(image, mid, chart->pixelForLeft(5), yellow));  // hidden
    EXPECT_TRUE(near(image, chart->pixelForBottom(12800), chart->pixelForLeft(4.5), red));
    EXPECT_TRUE(near(image, chart->pixelForBottom(6400), chart->pixelForLeft(4.5), white));
    EXPECT_EQ(image.pixelColor(static_cast<int>(mid), static_cast<int>(chart->pixelForLeft(3))),
              black);
    // Between two level changes of channel 0 (ticks 10000..10100 at level 7): one flat row.
    window().setMinMax(9950, 10250);
    image = render();
    const double flat = chart->pixelForBottom(10050);
    EXPECT_TRUE(near(image, flat, chart->pixelForLeft(7), yellow));
    EXPECT_FALSE(near(image, flat, chart->pixelForLeft(7.5), yellow));
    EXPECT_TRUE(near(image, chart->pixelForBottom(10100), chart->pixelForLeft(7.5), yellow));

    // The whole capture: every column of channel 0 spans both its levels.
    window().setMinMax(0, 100'000'000);
    image = render();
    for (const double f : {0.1, 0.5, 0.9}) {
        const double x = r.left() + r.width() * f;
        EXPECT_TRUE(near(image, x, chart->pixelForLeft(7.5), yellow)) << f;
        EXPECT_TRUE(near(image, x, chart->pixelForLeft(1), yellow)) << f;
    }
}

TEST_F(Plot, RepaintsAreCoalesced) {
    int paints = 0;
    struct Counter : QObject {
        int* n;
        explicit Counter(int* c) : n(c) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint)
                ++*n;
            return false;
        }
    } counter(&paints);
    chart->installEventFilter(&counter);
    // Waits are for work to be done (the coalescing timer fired, a paint arrived), never for
    // a fixed time. (QTRY_* would end the test quietly on a time-out: qWaitFor and ASSERT.)
    ASSERT_TRUE(QTest::qWaitFor([&] { return !chart->repaintPending(); }, 10000));
    QApplication::processEvents();
    paints = 0;
    const std::uint64_t requested = chart->repaintsRequested();
    osc::ChannelTrace& t = w->engine().traces[2];
    for (int i = 1; i <= 200; ++i) {
        t.add(i * 10, i % 2 ? 3 : 4);
        chart->markDirty();
    }
    EXPECT_TRUE(chart->repaintPending());
    ASSERT_TRUE(QTest::qWaitFor([&] { return paints >= 1; }, 10000));
    EXPECT_EQ(chart->repaintsRequested(), requested + 1);  // one repaint for 200 changes
    EXPECT_GE(paints, 1);
    EXPECT_LE(paints, 2);
    paints = 0;
    chart->markDirty();  // nothing changed since the last paint
    ASSERT_TRUE(QTest::qWaitFor([&] { return !chart->repaintPending(); }, 10000));
    QApplication::processEvents();
    EXPECT_EQ(chart->repaintsRequested(), requested + 1);
    EXPECT_EQ(paints, 0);
    chart->removeEventFilter(&counter);
}

TEST_F(Plot, ProgressBarStepsAndWrapsAround) {
    ProgressBar1()->setValue(0);
    for (int i = 0; i < 10; ++i)
        w->ProgressBar1StepIt();
    EXPECT_EQ(ProgressBar1()->value(), 100);
    w->ProgressBar1StepIt();
    EXPECT_EQ(ProgressBar1()->value(), 10);
    ProgressBar1()->setValue(95);
    w->ProgressBar1StepIt();
    EXPECT_EQ(ProgressBar1()->value(), 5);
}

// A count of steps lands where as many single steps do, at once also for huge counts.
TEST_F(Plot, ProgressBarTakesACountOfSteps) {
    const auto setStart = [&](int start) {
        if (start < 0)
            ProgressBar1()->reset();  // value -1, below the range
        else
            ProgressBar1()->setValue(start);
    };
    for (const int start : {-1, 0, 3, 50, 95, 100}) {
        for (std::uint64_t n = 0; n < 260; n += 7) {
            setStart(start);
            for (std::uint64_t k = 0; k < n; ++k)
                w->ProgressBar1StepIt();
            const int expected = ProgressBar1()->value();
            setStart(start);
            w->ProgressBar1StepIt(n);
            ASSERT_EQ(ProgressBar1()->value(), expected) << start << " + " << n;
        }
    }
    ProgressBar1()->setValue(0);
    w->ProgressBar1StepIt(std::uint64_t{1} << 62);
    EXPECT_EQ(ProgressBar1()->value(), 10 + static_cast<int>(((1ull << 62) - 1) % 10 * 10));
}

TEST_F(Plot, TraceKeepsHexLinesWithCrLf) {
    const std::uint8_t datagram[] = {0x23, 0x08, 0x0A, 0xFF};
    w->TraceDatagram(datagram, 4);
    EXPECT_EQ(w->traceLog().lineCount(), 0);  // tracing off
    cbTraceEnabled()->setChecked(true);
    w->IdUDPServer1UDPRead(datagram);
    w->TraceDatagram(datagram, 1);
    EXPECT_EQ(w->traceLog().lineCount(), 2);
    EXPECT_EQ(w->traceLog().text(), QByteArray("23 08 0A FF \r\n23 \r\n"));
    w->traceLog().flushToMemo();
    Memo1()->selectAll();
    EXPECT_EQ(Memo1()->selectedText(), QStringLiteral("23 08 0A FF \n23 \n"));
    // The memo's keys are its own, not the window's shortcuts for the plot.
    for (const int key : {int(Qt::Key_PageUp), int(Qt::Key_Home), int(Qt::Key_Plus)}) {
        QKeyEvent override(QEvent::ShortcutOverride, key, Qt::NoModifier,
                           key == Qt::Key_Plus ? QStringLiteral("+") : QString());
        override.ignore();  // as the shortcut map sends it
        QApplication::sendEvent(Memo1(), &override);
        EXPECT_TRUE(override.isAccepted()) << key;
    }
    // While tracing is on the memo is read-only; with it off the user's typing opens the editor
    // and is part of the trace.
    QTest::keyClick(Memo1(), Qt::Key_Return);
    EXPECT_FALSE(w->traceLog().editing());
    cbTraceEnabled()->setChecked(false);
    QTest::keyClick(Memo1(), Qt::Key_Return);
    ASSERT_TRUE(w->traceLog().editing());
    auto* editor = w->findChild<QPlainTextEdit*>(QStringLiteral("Memo1Editor"));
    ASSERT_NE(editor, nullptr);
    QKeyEvent zhe(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("Ж"));
    QApplication::sendEvent(editor, &zhe);
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("23 08 0A FF \n23 \nЖ"));
    EXPECT_EQ(w->traceLog().lineCount(), 3);
    EXPECT_TRUE(w->traceLog().text().startsWith("23 08 0A FF \r\n23 \r\n"));
    EXPECT_TRUE(w->traceLog().text().endsWith("\r\n"));
    w->traceLog().clear();
    EXPECT_FALSE(w->traceLog().editing());
    EXPECT_TRUE(editor->isHidden());
    EXPECT_EQ(w->traceLog().lineCount(), 0);
    EXPECT_TRUE(w->traceLog().text().isEmpty());
}

// With MO_SHOT_DIR set, writes pictures of the window with synthetic traces (for looking).
TEST_F(Plot, ScreenshotsOnRequest) {
    const QByteArray dir = qgetenv("MO_SHOT_DIR");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "MO_SHOT_DIR not set";
    }
    osc::CaptureEngine& e = w->engine();
    std::srand(7);
    for (int c = 0; c < osc::kChannelCount; ++c) {
        osc::ChannelTrace& t = e.traces[static_cast<std::size_t>(c)];
        t.clear();
        const auto& info = osc::kChannels[static_cast<std::size_t>(c)];
        osc::Tick x = 0;
        bool set = true;
        for (int i = 0; i < 200000; ++i) {
            t.add(x, set ? info.levelSet : info.levelClear);
            x += c == 0 ? 256 : 256 * (1 + std::rand() % 4);
            set = !set;
        }
    }
    for (osc::ChannelTrace* line : {&e.markerLine, &e.cursorLine}) {
        const osc::Tick x = line == &e.markerLine ? 5120 : 14000;
        line->setX(0, x);
        line->setX(1, x);
        line->setY(0, 20);
    }
    w->resize(1000, 560);
    QApplication::processEvents();
    w->grab().save(QString::fromUtf8(dir) + "/window-100bits.png");
    window().setMinMax(0, 51200000);
    w->SyncScrollBar();
    pbPanel()->show();
    w->grab().save(QString::fromUtf8(dir) + "/window-whole.png");
}

}  // namespace
