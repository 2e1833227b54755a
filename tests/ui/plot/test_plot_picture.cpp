// Pictures of the plot: the traces' colours where the plot draws them, a picture at a chosen
// size equal to the plot of that size, SVG that parses as XML with a path per trace, PDF, the
// clipboard, and files written whole.

#include "ui/plot/PlotPicture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QXmlStreamReader>

#include <map>
#include <stdexcept>

#include "core/files/osc_file.h"
#include "tests/ui/ui_test_support.h"
#include "ui/plot/OscPlot.h"
#include "ui/widgets/Fonts.h"

namespace {

const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);

// A known capture: each channel steps between its levels at 2560 and 5120; the window shows
// 0 to 7680; the marker at 3840, the cursor at 6400.
void fillCapture(osc::CaptureEngine& engine) {
    for (std::size_t c = 0; c < osc::kChannelCount; ++c) {
        const auto lower = static_cast<std::uint8_t>(osc::kChannels[c].levelSet);
        engine.traces[c].add(0, lower);
        engine.traces[c].add(2560, lower + 1);
        engine.traces[c].add(5120, lower);
        engine.traces[c].add(7680, lower);
    }
    engine.window.setMinMax(0, 7680);
    for (auto [line, x] : {std::pair{&engine.markerLine, 3840}, {&engine.cursorLine, 6400}}) {
        line->add(x, 20);
        line->add(x, 0);
    }
}

// Whether the colour is at (x, y) or a pixel next to it (the line may round either way).
bool colourNear(const QImage& image, double x, double y, const QColor& colour) {
    for (int dx = -1; dx <= 1; ++dx) {
        for (int dy = -1; dy <= 1; ++dy) {
            const QPoint p(static_cast<int>(std::lround(x)) + dx,
                           static_cast<int>(std::lround(y)) + dy);
            if (image.rect().contains(p) && image.pixelColor(p) == colour) {
                return true;
            }
        }
    }
    return false;
}

class PlotPicture : public ::testing::Test {
  protected:
    PlotPicture() {
        fillCapture(engine);
        plot.setEngine(&engine);
        plot.resize(400, 300);
    }
    QApplication& app = uitest::app();  // before the widgets
    osc::CaptureEngine engine;
    OscPlot plot;
    QTemporaryDir dir;
};

TEST_F(PlotPicture, TracesMarkerAndCursorHaveTheirColoursWhereThePlotDrawsThem) {
    const QImage image = ui::plotImage(plot, plot.size());
    ASSERT_EQ(image.size(), QSize(400, 300));
    for (std::size_t c = 0; c < osc::kChannelCount; ++c) {
        SCOPED_TRACE(c);
        const int lower = osc::kChannels[c].levelSet;
        // Lower level left of 2560, upper level between 2560 and 5120, lower again after.
        EXPECT_TRUE(
            colourNear(image, plot.pixelForBottom(1200), plot.pixelForLeft(lower), kYellow));
        EXPECT_FALSE(
            colourNear(image, plot.pixelForBottom(1200), plot.pixelForLeft(lower + 1), kYellow));
        EXPECT_TRUE(
            colourNear(image, plot.pixelForBottom(3000), plot.pixelForLeft(lower + 1), kYellow));
        EXPECT_FALSE(
            colourNear(image, plot.pixelForBottom(3000), plot.pixelForLeft(lower), kYellow));
        EXPECT_TRUE(
            colourNear(image, plot.pixelForBottom(5800), plot.pixelForLeft(lower), kYellow));
    }
    EXPECT_TRUE(colourNear(image, plot.pixelForBottom(3840), plot.pixelForLeft(4.5), kRed));
    EXPECT_TRUE(colourNear(image, plot.pixelForBottom(6400), plot.pixelForLeft(4.5), kWhite));
    EXPECT_FALSE(colourNear(image, plot.pixelForBottom(1200), plot.pixelForLeft(0.5), kYellow));
}

// A picture at another size is the plot laid out at that size, not a scaled copy; painting it
// leaves the widget's own layout as it was.
// For reports: a header above the plot, wrapped to the width and never cut, and a light
// palette; the plot below the header is the same plot in the print colours.
TEST_F(PlotPicture, ALightPictureWithItsHeader) {
    ui::PictureLook look;
    look.header = true;
    look.light = true;
    look.headerLines = {QStringLiteral("МорвелIP-осциллограф: Захват: КП-7 (IP:10.0.0.5)"),
                        QStringLiteral("Маркер: 15    Курсор: 25    Разность: 10"),
                        QStringLiteral("Биты: ") + QString(400, QLatin1Char('1'))};
    const int header = ui::pictureHeaderHeight(look, 400);
    const QImage image = ui::plotImage(plot, plot.size(), look);
    ASSERT_EQ(image.size(), QSize(400, 300 + header));
    // Three lines, the long one wrapped onto more: taller than three lines of text.
    EXPECT_GT(header, 3 * QFontMetrics(ui::formFont()).height());
    EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::white));
    int dark = 0;
    for (int y = 0; y < header; ++y) {
        for (int x = 0; x < 400; ++x) {
            dark += image.pixelColor(x, y).lightness() < 100;
        }
    }
    EXPECT_GT(dark, 200);  // the text is there, dark on light
    const QColor trace = OscPlot::Colours::print().trace;
    const int lower = osc::kChannels[0].levelSet;
    EXPECT_TRUE(
        colourNear(image, plot.pixelForBottom(1200), header + plot.pixelForLeft(lower), trace));
    EXPECT_TRUE(
        colourNear(image, plot.pixelForBottom(3000), header + plot.pixelForLeft(lower + 1), trace));
    EXPECT_FALSE(colourNear(image, plot.pixelForBottom(1200), plot.pixelForLeft(lower), kYellow));
    // Without the header the picture is the plot alone; SVG and PDF carry the header too.
    EXPECT_EQ(ui::plotImage(plot, plot.size(), {false, true, look.headerLines}).size(),
              QSize(400, 300));
    const QByteArray svg = ui::plotPictureBytes(plot, plot.size(), ui::PictureFormat::Svg, look);
    EXPECT_TRUE(svg.contains("Разность: 10")) << svg.left(2000).toStdString();
    EXPECT_TRUE(svg.contains(QStringLiteral("0 0 400 %1").arg(300 + header).toUtf8()));
}

TEST_F(PlotPicture, AChosenSizeIsThePlotAtThatSize) {
    OscPlot big;
    big.setEngine(&engine);
    big.resize(1000, 420);
    const QRect before = plot.plotRect();
    EXPECT_EQ(ui::plotImage(plot, QSize(1000, 420)), ui::plotImage(big, big.size()));
    EXPECT_EQ(plot.plotRect(), before);
    EXPECT_EQ(ui::plotImage(plot, QSize(0, 100000)).size(), QSize(1, ui::kMaxPictureSide));
}

TEST_F(PlotPicture, SvgParsesAsXmlWithAPathPerSeries) {
    const QByteArray svg = ui::plotPictureBytes(plot, QSize(640, 360), ui::PictureFormat::Svg);
    QXmlStreamReader xml(svg);
    std::vector<QString> strokes{QString()};  // the stroke in force, by nesting
    std::map<QString, int> paths;             // path elements by stroke colour
    bool root = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            QString stroke = xml.attributes().value(QStringLiteral("stroke")).toString();
            strokes.push_back(stroke.isEmpty() ? strokes.back() : stroke);
            if (xml.name() == QLatin1String("svg")) {
                root = true;
                EXPECT_EQ(xml.attributes().value(QStringLiteral("viewBox")).toString(),
                          QStringLiteral("0 0 640 360"));
            }
            if (xml.name() == QLatin1String("path")) {
                ++paths[strokes.back().toLower()];
            }
        } else if (xml.isEndElement()) {
            strokes.pop_back();
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(root);
    EXPECT_EQ(paths[QStringLiteral("#ffff00")], 4);  // one per channel trace
    EXPECT_EQ(paths[QStringLiteral("#ff0000")], 1);  // the marker
    EXPECT_EQ(paths[QStringLiteral("#ffffff")], 1);  // the cursor
    EXPECT_TRUE(svg.contains("<text"));              // the axis labels as text
}

TEST_F(PlotPicture, FilesAreWrittenWholeInTheFormatOfTheirExtension) {
    const QString png = dir.filePath(QStringLiteral("plot.PNG"));
    ui::savePlotPicture(plot, png, QSize(320, 200));
    QImage read(png);
    EXPECT_EQ(read.convertToFormat(QImage::Format_RGB32), ui::plotImage(plot, QSize(320, 200)));

    const QString pdf = dir.filePath(QStringLiteral("plot.pdf"));
    ui::savePlotPicture(plot, pdf, QSize(320, 200));
    const std::string bytes = osc::readWholeFile(pdf.toStdString());
    EXPECT_EQ(bytes.rfind("%PDF-", 0), 0u);
    EXPECT_NE(bytes.find("/MediaBox [0 0 320.000000 200.000000]"), std::string::npos)
        << bytes.substr(bytes.find("/MediaBox"), 40);

    const QString svg = dir.filePath(QStringLiteral("plot.svg"));
    ui::savePlotPicture(plot, svg, QSize(320, 200));
    EXPECT_EQ(osc::readWholeFile(svg.toStdString()).rfind("<?xml", 0), 0u);

    // An extension that names no format writes nothing.
    EXPECT_THROW(ui::savePlotPicture(plot, dir.filePath(QStringLiteral("plot.bmp")), {10, 10}),
                 std::runtime_error);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(PlotPicture, CopyPutsThePlotOnTheClipboard) {
    ui::copyPlotPicture(plot);
    const QImage copied = QGuiApplication::clipboard()->image();
    EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB32), ui::plotImage(plot, plot.size()));
}

}  // namespace
