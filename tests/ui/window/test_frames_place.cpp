// The frames table under the plot: the whole page of the tab "Кадры" moves into the plot's
// splitter and back, a row chosen there moves the plot beside it, and the place and the sizes
// are kept between runs.

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QSplitter>
#include <QTableView>

#include "tests/app/cli_run.h"
#include "tests/ui/ui_test_support.h"
#include "ui/frames/FrameBands.h"
#include "ui/frames/FramesPart.h"
#include "ui/plot/OverviewStrip.h"
#include "ui/window/FramesPlacePart.h"

namespace uitest {
namespace {

class FramesPlace : public WindowTest {
  protected:
    static QSplitter* splitter() { return frmMain->findChild<QSplitter*>("PlotSplitter"); }
    static QWidget* page() { return frmMain->frames().page(); }
    void restart() {
        ui::destroyForms();
        startUp();
    }
};

TEST_F(FramesPlace, TheTableMovesUnderThePlotAndStaysThere) {
    startUp();
    frmMain->resize(800, 600);
    ASSERT_EQ(PageControl1()->count(), 4);  // with "Триггеры"
    QAction* toggle = frmMain->findChild<QAction*>(QStringLiteral("actFramesUnderPlot"));
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+U")));
    toggle->trigger();
    EXPECT_TRUE(frmMain->framesPlace().underPlot());
    EXPECT_EQ(page()->parentWidget(), splitter());
    EXPECT_EQ(PageControl1()->count(), 3);  // its tab is gone while the page is here
    QApplication::processEvents();

    // A row chosen in the table moves the plot that sits above it, on the same page.
    frmMain->LoadOscFile(clitest::fixture(QStringLiteral("frames_session.osc")));
    frmMain->frames().refresh();
    ASSERT_GT(frmMain->frames().model().rowCount(), 3);
    const osc::AxisRange before{frmMain->engine().window.minimum(),
                                frmMain->engine().window.maximum()};
    frmMain->frames().chooseRow(3);
    EXPECT_NE(
        (osc::AxisRange{frmMain->engine().window.minimum(), frmMain->engine().window.maximum()}),
        before);
    EXPECT_EQ(PageControl1()->currentWidget(), TabSheet1());
    EXPECT_TRUE(Chart1()->isVisibleTo(frmMain));
    EXPECT_TRUE(frmMain->frames().table()->isVisibleTo(frmMain));
    const QRect plot(Chart1()->mapTo(TabSheet1(), QPoint(0, 0)), Chart1()->size());
    const QRect table(page()->mapTo(TabSheet1(), QPoint(0, 0)), page()->size());
    EXPECT_GT(table.top(), plot.bottom());

    // The overview strip shows where the frames lie, in the bands' colours, and the table's
    // page explains the colours.
    auto* strip = frmMain->findChild<ui::OverviewStrip*>();
    ASSERT_NE(strip, nullptr);
    QImage image(strip->size(), QImage::Format_RGB32);
    {
        QPainter p(&image);
        strip->paintStrip(p);
    }
    int coloured = 0;
    for (const ui::FrameBands::LegendEntry& e : ui::FrameBands::legend()) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                coloured += image.pixelColor(x, y) == e.colour;
            }
        }
    }
    EXPECT_GT(coloured, 10);
    const auto* legend = page()->findChild<QLabel*>(QStringLiteral("lblFrameLegend"));
    ASSERT_NE(legend, nullptr);
    EXPECT_TRUE(legend->text().contains(QStringLiteral("данные с ошибкой")));

    // Sizes and place kept across a restart.
    splitter()->setSizes({300, 150});
    emit splitter()->splitterMoved(300, 1);
    const QList<int> sizes = splitter()->sizes();
    restart();
    frmMain->resize(800, 600);
    EXPECT_TRUE(frmMain->framesPlace().underPlot());
    EXPECT_EQ(PageControl1()->count(), 3);
    QApplication::processEvents();
    // The same share for the plot (the window may be of another height).
    const QList<int> now = splitter()->sizes();
    ASSERT_EQ(now.size(), 2);
    EXPECT_NEAR(double(now[0]) / (now[0] + now[1]), double(sizes[0]) / (sizes[0] + sizes[1]), 0.02);

    // Back on its tab, the last one.
    frmMain->findChild<QAction*>(QStringLiteral("actFramesUnderPlot"))->trigger();
    EXPECT_FALSE(frmMain->framesPlace().underPlot());
    ASSERT_EQ(PageControl1()->count(), 4);  // with "Триггеры"
    EXPECT_EQ(PageControl1()->tabText(2), QStringLiteral("Кадры"));
    EXPECT_EQ(PageControl1()->widget(2), page());
    restart();
    EXPECT_FALSE(frmMain->framesPlace().underPlot());
}

}  // namespace
}  // namespace uitest
