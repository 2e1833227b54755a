// Moving about a capture: the keys and actions, "Бит в окне" following every zoom, the
// rectangle zoom on ticks only, "Перейти к биту…", and the overview strip.

#include <QImage>
#include <QInputDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include "core/view/plot_navigation.h"
#include "core/view/plot_window.h"
#include "tests/ui/capture_test_support.h"
#include "ui/plot/OverviewStrip.h"
#include "ui/window/NavigationPart.h"

namespace uitest {
namespace {

class Navigation : public WindowTest {
  protected:
    void SetUp() override {
        startUp();
        // A capture of 10000 bits on every channel.
        for (int c = 0; c < osc::kChannelCount; ++c) {
            osc::ChannelTrace& t = engine().traces[static_cast<std::size_t>(c)];
            const osc::ChannelInfo& info = osc::kChannels[static_cast<std::size_t>(c)];
            for (osc::Tick x = 0; x <= 2'560'000; x += 256 * (c + 1)) {
                t.add(x, (x / 256) % 2 ? info.levelSet : info.levelClear);
            }
        }
        engine().traces[0].add(2'560'000, 8);
        window().setMinMax(25600, 51200);  // bits 100 to 200
    }
    osc::CaptureEngine& engine() { return frmMain->engine(); }
    osc::PlotWindow& window() { return engine().window; }
    osc::AxisRange now() { return {window().minimum(), window().maximum()}; }
    QAction* action(const char* name) {
        QAction* a = frmMain->findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(a, nullptr) << name;
        return a;
    }
    // The window active and the plot focused, as after a click on it.
    void focusPlot() {
        frmMain->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
        Chart1()->setFocus();
        QApplication::processEvents();
    }
    ui::OverviewStrip* overview() { return component<ui::OverviewStrip>("Overview"); }
};

// Every action that the window gained or gave a key: its key, and the key named in its tooltip;
// the six buttons of the tool bar first and in their order, the new ones after them.
TEST_F(Navigation, ActionsHaveKeysNamedInTheirTooltips) {
    const std::pair<const char*, QKeySequence> rows[] = {
        {"actZoomFit", QKeySequence(Qt::Key_Home)},
        {"actGoToBit", QKeySequence(Qt::CTRL | Qt::Key_G)},
        {"actZoomIn", QKeySequence(Qt::Key_Plus)},
        {"actZoomOut", QKeySequence(Qt::Key_Minus)},
        {"actPanLeft", QKeySequence(Qt::Key_Left)},
        {"actPanRight", QKeySequence(Qt::Key_Right)},
        {"actPageLeft", QKeySequence(Qt::Key_PageUp)},
        {"actPageRight", QKeySequence(Qt::Key_PageDown)},
        {"actLoadFromFile", QKeySequence(Qt::CTRL | Qt::Key_O)},
        {"actSaveToFile", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"actOSCstart", QKeySequence(Qt::Key_F5)},
        {"actOSCstop", QKeySequence(Qt::SHIFT | Qt::Key_F5)},
    };
    for (const auto& [name, key] : rows) {
        QAction* a = action(name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->shortcut(), key) << name;
        EXPECT_TRUE(a->toolTip().startsWith(a->text())) << name;
        EXPECT_TRUE(a->toolTip().contains(key.toString(QKeySequence::NativeText)))
            << name << ": " << a->toolTip().toStdString();
    }
    // The captions of the window's own actions stay as they were.
    EXPECT_EQ(actLoadFromFile()->text(), QStringLiteral("Считать график из файла"));
    EXPECT_EQ(actOSCstop()->text(), QStringLiteral("Останов осциллографа"));
    // Their buttons stand left of the overview strip (the tool bar's row is full).
    QToolButton* fit = component<QToolButton>("btnZoomFit");
    QToolButton* goTo = component<QToolButton>("btnGoToBit");
    ASSERT_TRUE(fit && goTo);
    EXPECT_EQ(fit->defaultAction(), action("actZoomFit"));
    EXPECT_EQ(goTo->defaultAction(), action("actGoToBit"));
    EXPECT_FALSE(fit->icon().isNull());
    EXPECT_LT(fit->x(), goTo->x());
    EXPECT_LT(goTo->geometry().right(), overview()->x());
    EXPECT_EQ(fit->parentWidget(), overview()->parentWidget());
}

// Key -> window, each from bits 100 to 200 of a 10000-bit capture, with the plot focused;
// "Бит в окне" shows the width afterwards.
TEST_F(Navigation, KeysMoveTheWindow) {
    struct Row {
        const char* name;
        int key;
        Qt::KeyboardModifiers mods;
        osc::AxisRange window;
    };
    const Row rows[] = {
        {"Home: the whole capture", Qt::Key_Home, Qt::NoModifier, {0, 2'560'000}},
        {"+ zooms in about the middle", Qt::Key_Plus, Qt::NoModifier, {32000, 44800}},
        {"= is the + key unshifted", Qt::Key_Equal, Qt::NoModifier, {32000, 44800}},
        {"- zooms out", Qt::Key_Minus, Qt::NoModifier, {12800, 64000}},
        {"right arrow: a tenth", Qt::Key_Right, Qt::NoModifier, {28160, 53760}},
        {"left arrow: a tenth", Qt::Key_Left, Qt::NoModifier, {23040, 48640}},
        {"page down: a window", Qt::Key_PageDown, Qt::NoModifier, {51200, 76800}},
        {"page up: a window", Qt::Key_PageUp, Qt::NoModifier, {0, 25600}},
    };
    focusPlot();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        window().setMinMax(25600, 51200);
        QTest::keyClick(Chart1(), static_cast<Qt::Key>(r.key), r.mods);
        EXPECT_EQ(now(), r.window);
        EXPECT_EQ(seWindowBitsCount()->value(), osc::windowBitsOf(r.window));
        EXPECT_EQ(ScrollBar1()->value(), static_cast<int>(r.window.minimum));
    }
    // A spin box keeps its own keys: the arrow moves its text cursor, not the window.
    window().setMinMax(25600, 51200);
    seWindowBitsCount()->setFocus();
    QTest::keyClick(seWindowBitsCount(), Qt::Key_Left);
    EXPECT_EQ(now(), (osc::AxisRange{25600, 51200}));
}

// "Бит в окне" shows the width after every zoom (wheel, rectangle, fit, keys) without setting
// the width again (its change handler would keep the left edge and round to whole bits);
// undoing a mouse zoom returns to the width the user chose there.
TEST_F(Navigation, BitCountFollowsEveryZoom) {
    QSignalSpy changes(seWindowBitsCount(), &QSpinBox::valueChanged);
    OscPlot* chart = Chart1();
    const QRect r = chart->plotRect();
    const QPointF at(r.left() + r.width() / 3.0, r.center().y());
    QWheelEvent wheel(at, chart->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart, &wheel);
    const osc::AxisRange wheeled = now();
    EXPECT_NEAR(wheeled.maximum - wheeled.minimum, 25600 * 0.8, 1e-6);
    EXPECT_EQ(seWindowBitsCount()->value(), 80);
    EXPECT_EQ(now(), wheeled) << "the width stays the wheel's, not 80 whole bits";

    // A rectangle drag: the ticks between its edges; the levels stay 0..9.
    const auto mouse = [&](QEvent::Type type, QPoint pos, Qt::MouseButton b, Qt::MouseButtons bs) {
        QMouseEvent e(type, pos, chart->mapToGlobal(pos), b, bs, Qt::NoModifier);
        QApplication::sendEvent(chart, &e);
    };
    const QPoint a(r.left() + 50, r.top() + 30), b(r.left() + 250, r.top() + 60);
    const double t0 = chart->bottomValueAt(a.x()), t1 = chart->bottomValueAt(b.x());
    mouse(QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);
    EXPECT_DOUBLE_EQ(window().minimum(), t0);
    EXPECT_DOUBLE_EQ(window().maximum(), t1);
    EXPECT_EQ(chart->leftMinimum(), 0);
    EXPECT_EQ(chart->leftMaximum(), 9);
    EXPECT_EQ(seWindowBitsCount()->value(), osc::windowBitsOf(now()));

    frmMain->navigation().zoomToFit();
    EXPECT_EQ(seWindowBitsCount()->value(), 10000);
    frmMain->navigation().zoomBy(0.5);
    EXPECT_EQ(seWindowBitsCount()->value(), 5000);
    EXPECT_EQ(changes.count(), 0) << "shown, not set: the change handler never ran";

    // Undo (a left drag to the left): the width chosen in the spin box, 100 bits.
    const double left = window().minimum();
    mouse(QEvent::MouseButtonPress, b, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseMove, a, Qt::NoButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, a, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(now(), (osc::AxisRange{left, left + 25600}));
    EXPECT_EQ(seWindowBitsCount()->value(), 100);
    // A width typed in by the user is the one to return to from then on.
    seWindowBitsCount()->setValue(40);
    frmMain->navigation().zoomBy(2);
    EXPECT_EQ(seWindowBitsCount()->value(), 80);
    frmMain->Chart1UndoZoom();
    EXPECT_EQ(seWindowBitsCount()->value(), 40);
    EXPECT_EQ(window().maximum() - window().minimum(), 40 * 256);
}

// Every writer of the window goes through the view state, and who follows depends on the
// writer alone: the plot always repaints; "Бит в окне" shows the width unless it set the width
// itself; the scroll bar follows the actions and the data, not the mouse, the start action, the
// bit count or itself. Each row starts from a scroll bar and a bit count that no window gives.
TEST_F(Navigation, EveryWriterOfTheWindowIsFollowedAsItsKindSays) {
    OscPlot* chart = Chart1();
    const QRect r = chart->plotRect();
    const auto wheel = [&] {
        const QPointF at(r.left() + r.width() / 3.0, r.center().y());
        QWheelEvent e(at, chart->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(chart, &e);
    };
    const auto overviewClick = [&] {
        ui::OverviewStrip* strip = overview();
        const QPointF pos(strip->pixelForTick(1'280'000), strip->height() / 2.0);
        QMouseEvent press(QEvent::MouseButtonPress, pos, strip->mapToGlobal(pos), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(strip, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, pos, strip->mapToGlobal(pos),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(strip, &release);
    };
    // A sample datagram whose strobe edge comes after the window: the decoder shifts it.
    const auto sampleAfterWindow = [&] {
        engine().state.FTimeBase = 60000;
        const std::uint8_t strobe = engine().state.FLastStrobe ? 0x00 : 0x04;
        const std::uint8_t datagram[] = {'#', 8, 0, 0, 0, 0, 0, 0, strobe, 0};
        frmMain->DecodeDatagram(datagram, sizeof datagram);
    };
    struct Row {
        const char* name;
        std::function<void()> write;
        bool scrollBarFollows;
        std::optional<int> bitCount;  // what "Бит в окне" shows after; none: the window's width
    };
    const Row rows[] = {
        {"Home", [] { QTest::keyClick(Chart1(), Qt::Key_Home); }, true, {}},
        {"a page to the right", [] { QTest::keyClick(Chart1(), Qt::Key_PageDown); }, true, {}},
        {"the overview strip", overviewClick, true, {}},
        {"the wheel", wheel, false, {}},
        {"the decoder", sampleAfterWindow, true, {}},
        {"the scroll bar", [] { ScrollBar1()->setValue(5); }, false, {}},
        {"Бит в окне", [] { seWindowBitsCount()->setValue(37); }, false, 37},
        {"the start action", [] { frmMain->actOSCstartExecute(); }, false, 12345},
    };
    frmMain->setEndpoint(std::make_unique<RecordingEndpoint>());
    focusPlot();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        window().setMinMax(25600, 51200);
        {
            const QSignalBlocker quietBar(ScrollBar1());
            const QSignalBlocker quietBits(seWindowBitsCount());
            ScrollBar1()->setRange(0, 7);
            ScrollBar1()->setValue(3);
            seWindowBitsCount()->setValue(12345);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !chart->repaintPending(); }, 10000));
        row.write();
        ASSERT_NE(now(), (osc::AxisRange{25600, 51200})) << "the window moved";
        EXPECT_TRUE(chart->repaintPending());
        if (row.scrollBarFollows) {
            const osc::ScrollBarState bar = osc::scrollBarFor(window());
            EXPECT_EQ(ScrollBar1()->maximum(), bar.maximum);
            EXPECT_EQ(ScrollBar1()->value(), bar.position);
        } else {
            EXPECT_EQ(ScrollBar1()->maximum(), 7);
        }
        EXPECT_EQ(seWindowBitsCount()->value(), row.bitCount.value_or(osc::windowBitsOf(now())));
    }
}

// "Перейти к биту…" asks through the one dialog path: the answer centres the window on the
// bit, the dialog offers the capture's range, and a cancel changes nothing.
TEST_F(Navigation, GoToBitCentresTheWindow) {
    double asked = -1, maximum = -1;
    ui::ScopedModalHook answer([&](QDialog& d) {
        auto& input = dynamic_cast<QInputDialog&>(d);
        asked = input.doubleValue();
        maximum = input.doubleMaximum();
        input.setDoubleValue(5000);
        return int(QDialog::Accepted);
    });
    action("actGoToBit")->trigger();
    EXPECT_EQ(asked, 150) << "the bit in the middle of the window";
    EXPECT_EQ(maximum, 10000);
    EXPECT_EQ(now(), (osc::AxisRange{5000 * 256 - 12800, 5000 * 256 + 12800}));
    EXPECT_EQ(ScrollBar1()->value(), 5000 * 256 - 12800);
    {
        ui::ScopedModalHook cancel([](QDialog& d) {
            dynamic_cast<QInputDialog&>(d).setDoubleValue(7);
            return int(QDialog::Rejected);
        });
        action("actGoToBit")->trigger();
    }
    EXPECT_EQ(now(), (osc::AxisRange{5000 * 256 - 12800, 5000 * 256 + 12800}));
    EXPECT_EQ(unexpectedDialogs, 0);
}

// The strip spans the capture; a click centres the window there, a drag carries it along, and
// a drag past the capture's end stops at the end. The picture shows the box where the window is.
TEST_F(Navigation, OverviewClickAndDragMoveTheWindow) {
    ui::OverviewStrip* strip = overview();
    ASSERT_NE(strip, nullptr);
    const QRect placed(strip->mapTo(TabSheet1(), QPoint(0, 0)), strip->size());
    EXPECT_LT(placed.bottom(), ScrollBar1()->geometry().top());
    EXPECT_GT(placed.top(), Chart1()->geometry().bottom());
    EXPECT_EQ(strip->span(), (osc::AxisRange{0, 2'560'000}));

    const auto mouse = [&](QEvent::Type type, double x, Qt::MouseButton b, Qt::MouseButtons bs) {
        const QPointF pos(x, strip->height() / 2.0);
        QMouseEvent e(type, pos, strip->mapToGlobal(pos), b, bs, Qt::NoModifier);
        QApplication::sendEvent(strip, &e);
    };
    const double half = strip->pixelForTick(1'280'000);
    mouse(QEvent::MouseButtonPress, half, Qt::LeftButton, Qt::LeftButton);
    EXPECT_NEAR((window().minimum() + window().maximum()) / 2, strip->tickAt(half), 1e-6);
    EXPECT_NEAR(window().maximum() - window().minimum(), 25600, 1e-6);
    EXPECT_EQ(ScrollBar1()->value(), static_cast<int>(window().minimum()));
    mouse(QEvent::MouseMove, strip->pixelForTick(640'000), Qt::NoButton, Qt::LeftButton);
    EXPECT_NEAR((window().minimum() + window().maximum()) / 2, 640'000, 2'560'000 / 500.0);
    mouse(QEvent::MouseMove, strip->width() + 500, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(window().maximum(), 2'560'000 + 12800) << "the middle stops at the capture's end";
    mouse(QEvent::MouseButtonRelease, 0, Qt::LeftButton, Qt::NoButton);
    const double before = window().minimum();
    mouse(QEvent::MouseMove, 10, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(window().minimum(), before) << "a move without the button is no drag";

    // The picture: the box's edges in white where the window is, traces in the strip.
    window().setMinMax(1'280'000, 1'536'000);
    QImage image(strip->size(), QImage::Format_RGB32);
    {
        QPainter p(&image);
        strip->paintStrip(p);
    }
    const QRect box = strip->windowBox();
    EXPECT_NEAR(box.left(), strip->pixelForTick(1'280'000), 1);
    EXPECT_NEAR(box.right() + 1, strip->pixelForTick(1'536'000), 1.5);
    EXPECT_EQ(image.pixelColor(box.left(), box.center().y()), QColor(Qt::white));
    int traced = 0;
    for (int x = 2; x < box.left() - 2; ++x) {
        for (int y = 1; y < image.height(); ++y) {
            traced += image.pixelColor(x, y).red() > 100 && image.pixelColor(x, y).blue() < 50;
        }
    }
    EXPECT_GT(traced, box.left()) << "the traces are drawn left of the box";
}

}  // namespace
}  // namespace uitest
