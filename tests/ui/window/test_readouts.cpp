// The readouts and the decode lines as the operator reads them: whole at 800 x 436 with a bit
// rate and nine-digit positions, in one font size; the decode follows its options without a
// mouse move, says why it shows "?", and the readouts follow a start and a load.

#include <QCheckBox>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>

#include <cmath>
#include <fstream>

#include "tests/ui/capture_test_support.h"
#include "ui/widgets/ReadoutLabel.h"
#include "ui/window/MeasurementPart.h"
#include "ui/window/ToolsPart.h"

namespace uitest {
namespace {

class Readouts : public CaptureTest {
  protected:
    void moveTo(double ticks, double level) {
        const QPoint p(static_cast<int>(std::lround(Chart1()->pixelForBottom(ticks))),
                       static_cast<int>(std::lround(Chart1()->pixelForLeft(level))));
        Chart1()->setPointerOverride(p);
        frmMain->Chart1MouseMove(Qt::NoModifier, p.x(), p.y());
    }
    void setTrace(int channel, std::initializer_list<std::pair<osc::Tick, int>> points) {
        osc::ChannelTrace& t = frmMain->engine().traces[static_cast<std::size_t>(channel)];
        t.clear();
        for (auto [x, y] : points) {
            t.add(x, static_cast<std::uint8_t>(y));
        }
    }
};

TEST_F(Readouts, NoneIsCutAt800x436WithABitRateAndNineDigits) {
    frmMain->resize(800, 436);
    frmMain->tools().setBitRate(1200);
    const QFont panelFont = lblMarker()->font();
    const osc::Tick far = 999999999LL * 256;
    frmMain->measurement().measure(0, static_cast<double>(far - 1000 * 256 + 255),
                                   static_cast<double>(far + 255));
    QApplication::processEvents();
    QLabel* readouts[] = {lblMarker(), lblStrobe(), lblDiff()};
    EXPECT_TRUE(lblMarker()->text().startsWith(QStringLiteral("999998999 + 255/256 (")));
    for (QLabel* l : readouts) {
        SCOPED_TRACE(l->objectName().toStdString());
        ASSERT_TRUE(l->text().contains(QLatin1Char('('))) << l->text().toStdString();  // a time
        const QFont shown = dynamic_cast<ui::ReadoutLabel*>(l)->fittedFont();
        EXPECT_EQ(shown, panelFont) << "one font size, never shrunk";
        EXPECT_LE(QFontMetrics(shown).horizontalAdvance(l->text()), l->contentsRect().width());
        EXPECT_TRUE(Panel3()->rect().contains(l->geometry())) << l->text().toStdString();
        // Left of the controls at the right of the panel.
        EXPECT_LT(l->geometry().right(), seWindowBitsCount()->x() - 60);
        for (QLabel* other : readouts) {
            if (other != l) {
                EXPECT_FALSE(l->geometry().intersects(other->geometry()));
            }
        }
    }
    // The decode lines under the readouts, inside the panel.
    const auto* area = frmMain->findChild<QScrollArea*>(QStringLiteral("DecodeArea"));
    ASSERT_NE(area, nullptr);
    for (QLabel* l : readouts) {
        EXPECT_GT(area->geometry().top(), l->geometry().bottom());
    }
    EXPECT_TRUE(Panel3()->rect().contains(area->geometry()));
    // Short texts again: the designed places and height.
    frmMain->tools().setBitRate(std::nullopt);
    frmMain->measurement().measure(0, 256, 512);
    EXPECT_EQ(lblMarker()->x(), 68);
    EXPECT_EQ(lblStrobe()->x(), 219);
    EXPECT_EQ(Panel3()->height(), 63);
}

TEST_F(Readouts, TheDecodeFollowsItsOptionsAndSaysWhyItFails) {
    // Channel 2: 1 0 1 1 between 256 and 1280.
    setTrace(2, {{0, 3}, {256, 3}, {512, 4}, {768, 3}, {1280, 4}});
    frmMain->engine().window.setMinMax(0, 25600);
    // No marker yet: "?", and the tooltip says why.
    moveTo(1000, 3.5);
    EXPECT_EQ(lblBitStream()->text(), QStringLiteral("?"));
    EXPECT_TRUE(lblBitStream()->toolTip().startsWith(QStringLiteral("Нет маркера")));
    moveTo(300, 3.5);
    frmMain->Chart1Click();
    moveTo(1300, 3.5);
    const QString plain = lblBitStream()->text();
    ASSERT_NE(plain, QStringLiteral("?"));
    EXPECT_TRUE(lblBitStream()->toolTip().isEmpty());
    // Ticked without a mouse move: decoded again at once.
    cbInverseBits()->setChecked(true);
    EXPECT_NE(lblBitStream()->text(), plain);
    const QString inverted = lblBitStream()->text();
    seByteBitsCount()->setValue(3);
    EXPECT_NE(lblBytesDecoded()->text().toStdString(), "");
    EXPECT_NE(lblBitStream()->text(), inverted);
    cbInverseBits()->setChecked(false);
    seByteBitsCount()->setValue(8);
    EXPECT_EQ(lblBitStream()->text(), plain);
    // A cursor off the line's changes: the reason names the line.
    moveTo(1300, 1.5);
    moveTo(300, 3.5);
    frmMain->measurement().measure(2, 256, 700);
    EXPECT_EQ(lblBitStream()->text(), QStringLiteral("?"));
    EXPECT_EQ(lblBitStream()->toolTip(),
              QStringLiteral("Маркер или курсор не на смене уровня линии «Приём1»"));
    // Selectable and copyable.
    EXPECT_TRUE(lblBitStream()->textInteractionFlags() & Qt::TextSelectableByMouse);
}

TEST_F(Readouts, AStartAndALoadRefreshTheReadouts) {
    setTrace(2, {{0, 3}, {1000, 4}, {3000, 3}});
    moveTo(2000, 3.5);
    frmMain->Chart1Click();
    moveTo(3300, 3.5);
    ASSERT_NE(lblMarker()->text(), QStringLiteral("???"));
    ASSERT_NE(lblDiff()->text(), QStringLiteral("???"));
    frmMain->actOSCstartExecute();
    EXPECT_EQ(lblMarker()->text(), QStringLiteral("???"));
    EXPECT_EQ(lblDiff()->text(), QStringLiteral("???"));
    EXPECT_EQ(frmMain->measurement().markerX(), 0);
    frmMain->actOSCstopExecute();

    setTrace(2, {{0, 3}, {1000, 4}, {3000, 3}});
    moveTo(2000, 3.5);
    frmMain->Chart1Click();
    moveTo(3300, 3.5);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("r.osc"));
    std::ofstream(file.toStdString()) << "23 08 00 00 00 00 00 00 04 00 \r\n";
    frmMain->LoadOscFile(file);
    EXPECT_EQ(lblMarker()->text(), QStringLiteral("???"));
    EXPECT_EQ(lblDiff()->text(), QStringLiteral("???"));
    EXPECT_EQ(lblBitStream()->text(), QStringLiteral("?"));
}

}  // namespace
}  // namespace uitest
