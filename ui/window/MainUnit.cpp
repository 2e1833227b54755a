#include "ui/window/MainUnit.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QPainter>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "core/view/time_text.h"
#include "net/udp_endpoint.h"
#include "ui/frames/FrameBands.h"
#include "ui/plot/OverviewStrip.h"
#include "ui/settings/FormStorage.h"
#include "ui/tracelog/TraceTab.h"
#include "ui/widgets/DeviceListLook.h"
#include "ui/widgets/Fonts.h"
#include "ui/widgets/WindowFrame.h"
#include "ui/window/ActionToolBar.h"
#include "ui/window/CaptureStatusPart.h"
#include "ui/window/FramesPlacePart.h"
#include "ui/window/RecentCapturesPart.h"
#include "ui/window/TriggerPart.h"

TfrmMain* frmMain = nullptr;

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
    frmMain = this;
    setObjectName(QStringLiteral("frmMain"));
    setFont(ui::formFont());
    ui::OuterFrame::place(*this, QRect(0, 103, 800, 436));  // the outer frame

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    ActionToolBar1 = new ui::ActionToolBar(this, central);
    column->addWidget(ActionToolBar1);
    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    PageControl1->setDocumentMode(true);
    column->addWidget(PageControl1, 1);
    TabSheet1 = new ui::OscillogramTab(FEngine, plotState_);
    PageControl1->addTab(TabSheet1, QStringLiteral("Осциллограмма"));
    TabSheet2 = new ui::TraceTab;
    PageControl1->addTab(TabSheet2, QStringLiteral("Отладка"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    FormStorage1 =
        new ui::FormStorage(this, QStringLiteral("Software\\Kestrowel\\MorvelIP_OSC\\MainForm"),
                            QStringLiteral("TfrmMain"), this);
    FormStorage1->setObjectName(QStringLiteral("FormStorage1"));
    FormStorage1->setMainWindow(true);
    TabSheet1->Panel3->storeSettingsIn(*FormStorage1);
    createParts();
    PageControl1->setCurrentWidget(TabSheet1);
    setCentralWidget(central);
    frames_->storeSettingsIn(*FormStorage1);  // after the five, under names of their own
    triggers_->storeSettingsIn(*FormStorage1);
    FormStorage1->onRestorePlacement = [this] {
        ui::guarded(this, [this] { FormStorage1RestorePlacement(); });
    };
    wire();
    createCaptureParts();
    setEndpoint(std::make_unique<osc::net::UdpEndpoint>());
    acquisition_->setJournalFolder(osc::defaultJournalFolder());
    captureStatus_->addReceptionSettings(FormStorage1->key());
    Timer1->start();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    acquisition_->releaseEndpoint();  // its receiving thread ends before the window goes
    FormStorage1->windowDestroyed();
    if (frmMain == this) {
        frmMain = nullptr;
    }
}

void TfrmMain::createParts() {
    ui::ReadoutPanel* panel = TabSheet1->Panel3;
    QComboBox* devices = ActionToolBar1->ComboBox1;
    traceLog_ = std::make_unique<ui::TraceLogPart>(
        *TabSheet2, messages_,
        ui::TraceLogPart::Collaborators{
            .openJournal = [this](std::uint64_t id) { return acquisition_->openJournal(id); }});
    TabSheet2->showLines(traceLog_->storedLines());
    acquisitionWidgets_ = std::make_unique<ui::AcquisitionWidgets>(
        *devices, *panel->seWindowBitsCount, *ActionToolBar1->Panel1, *TabSheet1->pbPanel);
    acquisition_ = std::make_unique<ui::AcquisitionPart>(
        FEngine, plotState_, *acquisitionWidgets_, messages_,
        ui::AcquisitionPart::Collaborators{
            .traceDatagram = std::bind_front(&ui::TraceLogPart::traceDatagram, traceLog_.get()),
            .traceLogBytes = std::bind_front(&ui::TraceLogPart::memoryBytes, traceLog_.get()),
        });
    TabSheet1->Chart1->setLiveEnd([this] { return acquisition_->liveEnd(); });
    measurement_ = std::make_unique<ui::MeasurementPart>(FEngine, plotState_, *panel);
    connectionWidgets_ = std::make_unique<ui::ConnectionWidgets>(*this, *devices);
    connection_ = std::make_unique<ui::ConnectionPart>(*connectionWidgets_, messages_);
    journalRecovery_ = std::make_unique<ui::JournalPart>(
        this, messages_, ui::JournalPart::Collaborators{.replay = [this](const std::string& text) {
            acquisition_->replayText(text);
            TabSheet1->Chart1->setFocus();  // the keys go on to the plot
        }});
    frames_ = std::make_unique<ui::FramesPart>(FEngine, plotState_, messages_, this);
    PageControl1->addTab(frames_->page(), QStringLiteral("Кадры"));
    triggers_ =
        new ui::TriggerPart(FEngine, plotState_, this,
                            {.receiverDrops = [this] { return acquisition_->receiverDrops(); }});
    PageControl1->addTab(triggers_->page(), QStringLiteral("Триггеры"));
    TabSheet1->Overview->setOverlay([this](QPainter& p, const osc::PlotMapping& m) {
        frames_->bands().paint(p, m);
        triggers_->paintMarks(p, m, true);
    });
    navigation_ =
        new ui::NavigationPart(FEngine.traces, plotState_, this, panel->seWindowBitsCount);
    TabSheet1->addStripButton(navigation_->fitAction(), "btnZoomFit");
    TabSheet1->addStripButton(navigation_->goToBitAction(), "btnGoToBit");
    TabSheet1->Chart1->setFocus();
    captureStatus_ = new ui::CaptureStatusPart(
        statusBar(), {.clockMs = {},
                      .receiverDrops = [this] { return acquisition_->receiverDrops(); },
                      .foreign =
                          [this] {
                              const osc::CaptureCounts c = acquisition_->counts();
                              return ui::CaptureStatusPart::ForeignDatagrams{
                                  c.foreign, c.lastForeign, acquisition_->acceptAnySender()};
                          },
                      .deviceSilent = [this] { return acquisition_->deviceSilent(); }});
}

void TfrmMain::createCaptureParts() {
    const QString key = FormStorage1->key();
    tools_ = new ui::ToolsPart(this, key, TabSheet1->Chart1, plotState_, FEngine, messages_,
                               {.openFile = [this](const QString& file) { LoadOscFile(file); },
                                .pictureHeader =
                                    [this] {
                                        return ui::pictureHeaderLines(
                                            defaultCaption(), captureStatus_->shownText(),
                                            TabSheet1->Panel3->pictureLines());
                                    }});
    tools_->addButtons(ActionToolBar1, 733);  // after the status panel
    framesPlace_ = new ui::FramesPlacePart(this, key, PageControl1, TabSheet1->PlotSplitter,
                                           frames_->page(), QStringLiteral("Кадры"));
    recentCaptures_ = new ui::RecentCapturesPart(
        this, key, messages_, osc::defaultRecentCapturesFolder(),
        {.captureOnScreen = [this] { return acquisition_->captureOnScreen(); },
         .fileOnScreen = [this] { return fileOnScreen(); },
         .replay = [this](const QString& file) { ReplayKeptCapture(file); }});
    acquisition_->setRecentCaptures(&recentCaptures_->captures());
    framesPlace_->addButton(statusBar());
    recentCaptures_->addButton(statusBar());
    sessionWidgets_ = std::make_unique<ui::SessionWidgets>(*TabSheet1->Panel3, *frames_->page(),
                                                           *TabSheet1->Chart1);
    session_ =
        new ui::SessionPart(this, plotState_, FEngine.traces, *sessionWidgets_, messages_,
                            {.captureFile = [this] { return fileOnScreen(); },
                             .decodedChannel = [this] { return measurement_->decodedChannel(); }});
    TabSheet1->Chart1->setOverlay([this](QPainter& p, const osc::PlotMapping& m) {
        frames_->bands().paint(p, m);
        triggers_->paintMarks(p, m, false);
        session_->paint(p, m);
    });
    connect(traceLog_.get(), &ui::TraceLogPart::saved, tools_, &ui::ToolsPart::fileUsed);
    connect(acquisition_.get(), &ui::AcquisitionPart::started, session_, &ui::SessionPart::clear);
    connect(session_, &ui::SessionPart::measureWanted, this,
            [this](int c, double m, double x) { measurement_->measure(c, m, x); });
}

void TfrmMain::wire() {
    auto run = [this](void (TfrmMain::*handler)()) {
        return [this, handler] { ui::guarded(this, [this, handler] { (this->*handler)(); }); };
    };
    OscPlot* chart = TabSheet1->Chart1;
    const ui::ActionToolBar& bar = *ActionToolBar1;
    for (auto [action, handler] : {std::pair{bar.actConnect, &TfrmMain::actConnectExecute},
                                   {bar.actOSCstart, &TfrmMain::actOSCstartExecute},
                                   {bar.actOSCstop, &TfrmMain::actOSCstopExecute},
                                   {bar.actSaveToFile, &TfrmMain::actSaveToFileExecute},
                                   {bar.actLoadFromFile, &TfrmMain::actLoadFromFileExecute}}) {
        connect(action, &QAction::triggered, this, run(handler));
    }
    connect(bar.Action2, &QAction::triggered, this, &QWidget::close);
    // Every pick of an entry by the user, also of the entry already selected; setting the
    // selection from the program raises nothing.
    connect(ActionToolBar1->ComboBox1, &QComboBox::activated, this,
            run(&TfrmMain::ComboBox1Change));
    connect(Timer1, &QTimer::timeout, this, run(&TfrmMain::Timer1Timer));
    connect(TabSheet1->Panel3->seWindowBitsCount, &QSpinBox::valueChanged, this,
            run(&TfrmMain::seWindowBitsCountChange));
    connect(TabSheet1->ScrollBar1, &QScrollBar::valueChanged, this,
            run(&TfrmMain::ScrollBar1Change));
    connect(chart, &OscPlot::getAxisLabel, this,
            [this](OscPlot::Axis axis, double value, QString* text) {
                ui::guarded(this, [&] { Chart1GetAxisLabel(axis, value, *text); });
            });
    connect(chart, &OscPlot::mouseMoved, this, [this](Qt::KeyboardModifiers shift, int x, int y) {
        ui::guarded(this, [&] { Chart1MouseMove(shift, x, y); });
    });
    connect(chart, &OscPlot::clicked, this, run(&TfrmMain::Chart1Click));
    connect(chart, &OscPlot::zoomUndone, this, run(&TfrmMain::Chart1UndoZoom));
    connect(TabSheet1->Overview, &ui::OverviewStrip::windowMoved, navigation_,
            &ui::NavigationPart::centreOn);

    // What the parts' changes bring about in the others.
    ui::AcquisitionPart* acquisition = acquisition_.get();
    connect(acquisition, &ui::AcquisitionPart::tracesChanged, this, [this, chart](bool arriving) {
        chart->markDirty(arriving ? OscPlot::kDataMs : OscPlot::kInteractiveMs);
        TabSheet1->Overview->markDirty();
        frames_->framesMayHaveChanged();
        if (arriving) {
            SyncScrollBar();
        }
    });
    connect(acquisition, &ui::AcquisitionPart::started, captureStatus_,
            &ui::CaptureStatusPart::started);
    connect(acquisition, &ui::AcquisitionPart::started, traceLog_.get(), &ui::TraceLogPart::clear);
    connect(acquisition, &ui::AcquisitionPart::stopped, captureStatus_,
            &ui::CaptureStatusPart::stopped);
    connect(acquisition, &ui::AcquisitionPart::datagramDecoded, captureStatus_,
            &ui::CaptureStatusPart::datagram);
    connect(acquisition, &ui::AcquisitionPart::fileShown, captureStatus_,
            &ui::CaptureStatusPart::showFile);
    connect(acquisition, &ui::AcquisitionPart::captureShown, captureStatus_,
            &ui::CaptureStatusPart::showCapture);
    connect(acquisition, &ui::AcquisitionPart::notShownChanged, captureStatus_,
            &ui::CaptureStatusPart::setNotShown);
    connect(acquisition, &ui::AcquisitionPart::started, measurement_.get(),
            &ui::MeasurementPart::resetForNewTraces);
    connect(captureStatus_, &ui::CaptureStatusPart::receptionChanged, acquisition,
            [acquisition](const ui::ReceptionSettings& r) {
                acquisition->setAcceptAnySender(r.acceptAnySender);
                acquisition->setListenAddress(r.listenAddress.toStdString());
            });
    connect(TabSheet1->Panel3, &ui::ReadoutPanel::decoderOptionsChanged, this,
            [this] { ui::guarded(this, [this] { measurement_->optionsChanged(); }); });
    connect(frames_.get(), &ui::FramesPart::frameChosen, measurement_.get(),
            &ui::MeasurementPart::measureFrame);
    connect(frames_.get(), &ui::FramesPart::bandsChanged, chart, qOverload<>(&QWidget::update));
    connect(frames_.get(), &ui::FramesPart::plotWanted, this,
            [this] { PageControl1->setCurrentWidget(TabSheet1); });
    connect(acquisition, &ui::AcquisitionPart::started, triggers_, &ui::TriggerPart::started);
    connect(acquisition, &ui::AcquisitionPart::stopped, triggers_, &ui::TriggerPart::stopped);
    connect(acquisition, &ui::AcquisitionPart::datagramDecoded, triggers_,
            &ui::TriggerPart::datagramDecoded);
    connect(triggers_, &ui::TriggerPart::stopRequested, this, run(&TfrmMain::actOSCstopExecute));
    connect(triggers_, &ui::TriggerPart::goTo, navigation_,
            [this](osc::Tick t) { navigation_->centreOn(static_cast<double>(t)); });
    connect(triggers_, &ui::TriggerPart::plotWanted, this,
            [this] { PageControl1->setCurrentWidget(TabSheet1); });
    connect(triggers_, &ui::TriggerPart::pageWanted, this,
            [this] { PageControl1->setCurrentWidget(triggers_->page()); });
    connect(triggers_, &ui::TriggerPart::eventsChanged, this, [this, chart] {
        chart->markDirty();
        TabSheet1->Overview->markDirty();
    });
    connect(TabSheet2, &ui::TraceTab::memoFlushDue, traceLog_.get(),
            &ui::TraceLogPart::flushToMemo);
    connect(TabSheet2, &ui::TraceTab::editRequested, this,
            [this] { ui::guarded(this, [this] { traceLog_->beginEdit(); }); });
}

// --- Handlers ---------------------------------------------------------------------------------

void TfrmMain::FormCreate() {
    connection_->setConnection(-1);
    setWindowTitle(defaultCaption());
    for (osc::ChannelTrace* line : {&FEngine.markerLine, &FEngine.cursorLine}) {
        if (line->empty()) {
            line->add(0, 0);
            line->add(1, 0);
        }
    }
}

void TfrmMain::actLoadFromFileExecute() {
    const QString file = ui::chooseOscFile(this, ui::TraceLogView::FileDialog::Open);
    if (file.isEmpty()) {
        TabSheet1->Chart1->setFocus();
        return;
    }
    LoadOscFile(file);
}

void TfrmMain::LoadOscFile(const QString& fileName) {
    ReplayKeptCapture(fileName);
    tools_->fileUsed(fileName);
}

void TfrmMain::ReplayKeptCapture(const QString& fileName) {
    acquisition_->replayFile(fileName);
    session_->restoreFor(fileName);
    TabSheet1->Chart1->setFocus();
}

void TfrmMain::OfferUnfinishedJournals() {
    // The device list dropped down after the login goes up for the questions.
    ui::askWithListClosed(ActionToolBar1->ComboBox1, [this](const auto& beforeAsking) {
        return journalRecovery_->offerUnfinished(osc::defaultJournalFolder(), beforeAsking);
    });
}

void TfrmMain::Chart1GetAxisLabel(OscPlot::Axis axis, double value, QString& labelText) {
    // A channel named in the session: its name on the left axis at its lower level.
    if (axis == OscPlot::Axis::Left && session_) {
        if (QString name = session_->levelName(labelText.toInt()); !name.isEmpty()) {
            labelText = std::move(name);
            return;
        }
    }
    labelText = QString::fromStdString(
        axis == OscPlot::Axis::Left ? osc::leftAxisLabel(labelText.toInt())
                                    : osc::bottomAxisLabelWithTime(value, plotState_.bitRate()));
}

void TfrmMain::ScrollBar1Change() {
    osc::PlotWindow window = plotState_.window();
    osc::applyScrollPosition(window, TabSheet1->ScrollBar1->value());
    plotState_.setWindow({window.minimum(), window.maximum()}, osc::WindowChange::ScrollBar);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        FormStorage1->closeGranted();
        acquisition_->windowClosing();
        tools_->windowClosing();
    }
}
