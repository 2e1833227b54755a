#include "ui/window/OscillogramTab.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

#include "core/capture/capture_engine.h"
#include "ui/plot/OscPlot.h"
#include "ui/plot/OverviewStrip.h"
#include "ui/plot/PlotState.h"
#include "ui/window/ReadoutPanel.h"

namespace ui {

namespace {

int clampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

}  // namespace

CompletionPanel::CompletionPanel(const QPalette& palette, QWidget* plot) : QFrame(plot) {
    setObjectName(QStringLiteral("pbPanel"));
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
    setAutoFillBackground(true);
    setPalette(palette);
    resize(265, 41);
    Label6 = new QLabel(QStringLiteral("Обработка графика"), this);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->setGeometry(2, 3, 261, 14);
    Label6->setAlignment(Qt::AlignCenter);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(8, 19, 249, 16);
    hide();
}

OscillogramTab::OscillogramTab(osc::CaptureEngine& engine, PlotState& plot) : engine_(engine) {
    setObjectName(QStringLiteral("TabSheet1"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    // The plot and its panels on top of a splitter, which can take the frames table under them.
    PlotSplitter = new QSplitter(Qt::Vertical, this);
    PlotSplitter->setObjectName(QStringLiteral("PlotSplitter"));
    PlotSplitter->setChildrenCollapsible(false);
    page->addWidget(PlotSplitter);
    auto* plotArea = new QWidget(PlotSplitter);
    plotArea->setObjectName(QStringLiteral("PlotArea"));
    PlotSplitter->addWidget(plotArea);
    auto* column = new QVBoxLayout(plotArea);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    Chart1 = new OscPlot;  // into the tab after the panel, and so after it in the focus chain
    Chart1->setEngine(&engine, &plot);
    Chart1->setFocusPolicy(Qt::StrongFocus);  // the navigation keys go to the plot
    Panel3 = new ReadoutPanel(*Chart1, plotArea);
    column->addWidget(Panel3);
    column->addWidget(Chart1, 1);
    // The overview strip with the navigation buttons at its left: the tool bar's row is full at
    // the window's width.
    auto* stripRow = new QWidget(plotArea);
    stripRow->setObjectName(QStringLiteral("OverviewRow"));
    stripRow_ = new QHBoxLayout(stripRow);
    stripRow_->setContentsMargins(0, 0, 0, 0);
    stripRow_->setSpacing(0);
    Overview = new OverviewStrip(engine, plot, Chart1->summaries(), stripRow);
    stripRow_->addWidget(Overview, 1);
    column->addWidget(stripRow);
    ScrollBar1 = new QScrollBar(Qt::Horizontal, plotArea);
    ScrollBar1->setObjectName(QStringLiteral("ScrollBar1"));
    ScrollBar1->setFixedHeight(16);
    ScrollBar1->setRange(0, 0);
    ScrollBar1->setSingleStep(256);
    ScrollBar1->setPageStep(2560);
    column->addWidget(ScrollBar1);
    pbPanel = new CompletionPanel(Panel3->editPalette(), Chart1);
    Chart1->setCentredPanel(pbPanel);
    connect(&plot, &PlotState::windowChanged, this, [this](osc::WindowChange change) {
        if (osc::followersOf(change).scrollBar) {
            syncScrollBar();
        }
    });
}

void OscillogramTab::addStripButton(QAction* action, const char* name) {
    auto* b = new QToolButton(Overview->parentWidget());
    b->setObjectName(QString::fromLatin1(name));
    b->setDefaultAction(action);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setAutoRaise(true);
    b->setIconSize(QSize(16, 16));
    b->setFixedSize(22, OverviewStrip::kHeight);
    stripRow_->insertWidget(stripButtons_++, b);
}

void OscillogramTab::syncScrollBar() {
    const osc::ScrollBarState s = osc::scrollBarFor(engine_.window);
    const QSignalBlocker detached(ScrollBar1);
    // The values change with every sample datagram; the bar is drawn at most about 10 times a
    // second (its thumb moves a pixel or two meanwhile), so that a fast stream or a replay does
    // not spend its time there.
    if (ScrollBar1->updatesEnabled()) {
        ScrollBar1->setUpdatesEnabled(false);
        QTimer::singleShot(100, ScrollBar1, [bar = ScrollBar1] { bar->setUpdatesEnabled(true); });
    }
    ScrollBar1->setRange(clampToInt(s.minimum), clampToInt(s.maximum));
    ScrollBar1->setValue(clampToInt(s.position));
}

}  // namespace ui
