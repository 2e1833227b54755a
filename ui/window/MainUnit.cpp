#include "ui/window/MainUnit.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>

#include "core/view/plot_labels.h"
#include "core/view/plot_window.h"
#include "core/view/time_text.h"
#include "net/udp_endpoint.h"
#include "server/connection_session.h"
#include "ui/dialogs/logind.h"
#include "ui/plot/OverviewStrip.h"
#include "ui/settings/FormStorage.h"
#include "ui/widgets/DeviceListLook.h"
#include "ui/widgets/Fonts.h"
#include "ui/widgets/ReadoutLabel.h"
#include "ui/widgets/SvgIcon.h"
#include "ui/widgets/WindowFrame.h"
#include "ui/window/CaptureStatusPart.h"
#include "ui/window/ExportPart.h"
#include "ui/window/FramesPlacePart.h"
#include "ui/window/NavigationPart.h"
#include "ui/window/RecentCapturesPart.h"
#include "ui/window/SessionPart.h"
#include "ui/window/TriggerPart.h"

TfrmMain* frmMain = nullptr;

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect bounds,
              Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(text, parent);
    if (name) {
        l->setObjectName(QString::fromLatin1(name));
    }
    l->setGeometry(bounds);
    l->setAlignment(align);
    return l;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& text, QRect bounds) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setGeometry(bounds);
    return c;
}

// A position readout: the whole text always shown (ui/widgets/ReadoutLabel.h).
QLabel* readout(QWidget* parent, const char* name, QRect bounds) {
    auto* l = new ui::ReadoutLabel(QStringLiteral("???"), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(bounds);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

int clampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

// A replay runs (the start action it runs is a replay's) for the lifetime of the object.
class ReplayScope {
  public:
    explicit ReplayScope(int& depth) : depth_(depth) { ++depth_; }
    ~ReplayScope() { --depth_; }
    ReplayScope(const ReplayScope&) = delete;
    ReplayScope& operator=(const ReplayScope&) = delete;

  private:
    int& depth_;
};

std::int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent),
      acquisition_(
          FEngine, *this, messages_,
          {
              .traceDatagram = [this](const std::uint8_t* data,
                                      std::int32_t length) { TraceDatagram(data, length); },
              .clearTrace = [this] { traceLog_.clear(); },
              .resetMarker = [this] { measurement_.resetForNewTraces(); },
              .postToUiThread =
                  [this](std::function<void()> f) {
                      QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
                  },
              .closing = [this] { return FClosing; },
              .clockMs = [] { return steadyMilliseconds(); },
              .traceLogBytes = [this] { return traceLog_.memoryBytes(); },
              .started =
                  [this] {
                      captureStatus_->started(replaying_ > 0);
                      showWhatIsOnScreen();
                      if (session_) {
                          session_->clear();  // a new capture or file: a session of its own
                      }
                      triggers_->started(replaying_ > 0);
                  },
              .stopped =
                  [this] {
                      captureStatus_->stopped();
                      triggers_->stopped();
                  },
              .decoded =
                  [this](std::span<const std::uint8_t> data, osc::DatagramKind kind) {
                      captureStatus_->datagram(data, kind);
                      triggers_->datagramDecoded(data, kind);
                  },
              .notShown = [this](std::uint64_t n) { captureStatus_->setNotShown(n); },
          }),
      measurement_(FEngine, *this),
      connection_(*this, messages_),
      traceLog_(
          *this, messages_,
          {
              .start =
                  [this] {
                      shownFile_ = std::exchange(loadingFile_, QString());
                      acquisition_.beginReplay();
                  },
              .stop =
                  [this] {
                      acquisition_.endReplay();
                      Chart1->setFocus();  // the keys go on to the plot
                  },
              .decode = [this](const std::uint8_t* data,
                               std::int32_t length) { DecodeDatagram(data, length); },
              .closing = [this] { return FClosing || !acquisition_.replaying(); },
              .journalCopy = [this] { return acquisition_.journalCopy(); },
              .openJournal = [this](std::uint64_t id) { return acquisition_.openJournal(id); },
          }),
      journalRecovery_(this, messages_,
                       {
                           .replay =
                               [this](const std::string& text) {
                                   const ReplayScope replay(replaying_);
                                   traceLog_.replayText(text);
                               },
                           .chooseSaveFile = [this] { return chooseOscFile(FileDialog::Save); },
                       }) {
    frmMain = this;
    setObjectName(QStringLiteral("frmMain"));
    setFont(ui::formFont());
    ui::OuterFrame::place(*this, QRect(0, 103, 800, 436));  // the outer frame

    createActions();
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    createToolBar(central);
    column->addWidget(ActionToolBar1);
    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    PageControl1->setDocumentMode(true);
    column->addWidget(PageControl1, 1);
    createOscillogramTab();
    createTraceTab();
    createFramesTab();
    PageControl1->setCurrentWidget(TabSheet1);
    setCentralWidget(central);
    createNavigation();
    captureStatus_ = new ui::CaptureStatusPart(
        statusBar(), {.clockMs = [] { return steadyMilliseconds(); },
                      .receiverDrops = [this] { return receiverDrops(); },
                      .foreign =
                          [this] {
                              const osc::CaptureCounts c = acquisition_.counts();
                              return ui::CaptureStatusPart::ForeignDatagrams{
                                  c.foreign, c.lastForeign, acquisition_.acceptAnySender()};
                          },
                      .deviceSilent = [this] { return acquisition_.deviceSilent(); }});

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);

    FormStorage1 =
        new ui::FormStorage(this, QStringLiteral("Software\\Kestrowel\\MorvelIP_OSC\\MainForm"),
                            QStringLiteral("TfrmMain"), this);
    FormStorage1->setObjectName(QStringLiteral("FormStorage1"));
    FormStorage1->setMainWindow(true);
    for (auto [component, property] : {std::pair<QWidget*, const char*>{cbReverseBits, "Checked"},
                                       {seByteBitsCount, "Value"},
                                       {seWindowBitsCount, "Value"},
                                       {cbInverseBits, "Checked"},
                                       {cbBitStaff, "Checked"}}) {
        FormStorage1->addStoredProperty(component, QString::fromLatin1(property));
    }
    frames_->storeSettingsIn(*FormStorage1);  // after the five, under names of their own
    triggers_->storeSettingsIn(*FormStorage1);
    framesPlace_ = new ui::FramesPlacePart(this, FormStorage1->key(), PageControl1, plotSplitter_,
                                           frames_->page(), QStringLiteral("Кадры"));
    FormStorage1->onRestorePlacement = [this] {
        ui::guarded(this, [this] { FormStorage1RestorePlacement(); });
    };

    wire();
    tools_ = new ui::ToolsPart(
        this, FormStorage1->key(), Chart1, FEngine, messages_,
        {
            .openFile = [this](const QString& file) { LoadOscFile(file); },
            .stretch =
                [this] {
                    return ui::markerCursorStretch(measurement_.markerX(), measurement_.cursorX());
                },
            .bitRateChanged =
                [this](std::optional<double> rate) {
                    measurement_.setBitRate(rate);
                    frames_->setBitRate(rate);
                    triggers_->setBitRate(rate);
                    Chart1->setBottomLabelSample(
                        QString::fromStdString(osc::bottomAxisLabelSample(rate)));
                    Chart1->update();
                },
            .closing = [this] { return FClosing; },
            .pictureHeader =
                [this] {
                    QStringList lines;
                    const QString shown = captureStatus_->shownText();
                    lines << defaultCaption() +
                                 (shown.isEmpty() ? QString() : QStringLiteral(": ") + shown) +
                                 QStringLiteral(". Снимок ") +
                                 QDateTime::currentDateTime().toString(
                                     QStringLiteral("dd.MM.yyyy HH:mm:ss"));
                    lines << QStringLiteral("Маркер: %1    Курсор: %2    Разность: %3")
                                 .arg(lblMarker->text(), lblStrobe->text(), lblDiff->text());
                    lines << QStringLiteral("Биты: ") + lblBitStream->text();
                    lines << QStringLiteral("Значения: ") + lblBytesDecoded->text();
                    return lines;
                },
        });
    tools_->addButtons(ActionToolBar1, 733);  // after the status panel
    recentCaptures_ = new ui::RecentCapturesPart(
        this, FormStorage1->key(), messages_, osc::defaultRecentCapturesFolder(),
        {
            .captureOnScreen = [this] { return acquisition_.captureOnScreen(); },
            .fileOnScreen = [this] { return fileOnScreen(); },
            .replay = [this](const QString& file) { ReplayKeptCapture(file); },
            .chooseSaveFile = [this] { return chooseOscFile(FileDialog::Save); },
        });
    acquisition_.setRecentCaptures(&recentCaptures_->captures());
    framesPlace_->addButton(statusBar());
    recentCaptures_->addButton(statusBar());
    createSession();
    setEndpoint(std::make_unique<osc::net::UdpEndpoint>());
    acquisition_.setJournalFolder(osc::defaultJournalFolder());
    captureStatus_->addReceptionSettings(
        FormStorage1->key(), [this](const ui::ReceptionSettings& r) {
            acquisition_.setAcceptAnySender(r.acceptAnySender);
            acquisition_.setListenAddress(r.listenAddress.toStdString());
        });
    Timer1->start();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    acquisition_.releaseEndpoint();  // its receiving thread ends before the window goes
    FormStorage1->windowDestroyed();
    if (frmMain == this) {
        frmMain = nullptr;
    }
}

void TfrmMain::createActions() {
    auto make = [this](const char* name, const QString& caption, const char* image) {
        auto* a = new QAction(caption, this);
        a->setObjectName(QString::fromLatin1(name));
        if (image) {
            a->setIcon(
                ui::svgFileIcon(QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(image))));
        }
        return a;
    };
    actConnect = make("actConnect", QStringLiteral("Присоединиться к серверу"), "connect");
    Action2 = make("Action2", QStringLiteral("Выход"), nullptr);
    actOSCstart = make("actOSCstart", QStringLiteral("Пуск осциллографа"), "start");
    actOSCstop = make("actOSCstop", QStringLiteral("Останов осциллографа"), "stop");
    actSaveToFile = make("actSaveToFile", QStringLiteral("Записать график в файл"), "save");
    actLoadFromFile = make("actLoadFromFile", QStringLiteral("Считать график из файла"), "load");
}

void TfrmMain::createToolBar(QWidget* parent) {
    ActionToolBar1 = new QWidget(parent);
    ActionToolBar1->setObjectName(QStringLiteral("ActionToolBar1"));
    ActionToolBar1->setFixedHeight(26);
    int x = 2;
    for (QAction* a :
         {actConnect, actOSCstart, actOSCstop, actLoadFromFile, actSaveToFile, actLoadFromFile}) {
        auto* b = new QToolButton(ActionToolBar1);
        b->setDefaultAction(a);
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setAutoRaise(true);
        b->setIconSize(QSize(16, 16));
        b->setGeometry(x, 2, 21, 22);
        x += 21;
    }
    ComboBox1 = new QComboBox(ActionToolBar1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(false);
    ComboBox1->setFont(ui::arialFont(10, 13));
    ComboBox1->setGeometry(128, 1, 300, 23);
    Panel1 = new QLabel(ActionToolBar1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(431, 2, 300, 21);
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setAutoFillBackground(true);
    Panel1->setFont(ui::arialFont(10, 13));
    QPalette pal = Panel1->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, QColor(0, 255, 0));
    Panel1->setPalette(pal);
}

void TfrmMain::createOscillogramTab() {
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(TabSheet1, QStringLiteral("Осциллограмма"));
    auto* page = new QVBoxLayout(TabSheet1);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    // The plot and its panels on top of a splitter, which can take the frames table under them.
    plotSplitter_ = new QSplitter(Qt::Vertical, TabSheet1);
    plotSplitter_->setObjectName(QStringLiteral("PlotSplitter"));
    plotSplitter_->setChildrenCollapsible(false);
    page->addWidget(plotSplitter_);
    auto* plotArea = new QWidget(plotSplitter_);
    plotArea->setObjectName(QStringLiteral("PlotArea"));
    plotSplitter_->addWidget(plotArea);
    auto* column = new QVBoxLayout(plotArea);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel3 = new QFrame(plotArea);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(63);
    Panel3->setAutoFillBackground(true);
    QPalette pal = Panel3->palette();
    const QColor text = QApplication::palette().color(QPalette::ToolTipBase);
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::ButtonText, text);
    Panel3->setPalette(pal);
    Panel3->setFont(ui::formFont());
    QFont bold = ui::formFont();
    bold.setBold(true);
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;

    markerCaption_ = label(Panel3, nullptr, QStringLiteral("Маркер"), {4, 8, 59, 13}, right);
    lblMarker = readout(Panel3, "lblMarker", {68, 8, 85, 13});
    QLabel* cursorCaption =
        label(Panel3, nullptr, QStringLiteral("Курсор"), {155, 8, 59, 13}, right);
    cursorCaption_ = cursorCaption;
    lblStrobe = readout(Panel3, "lblStrobe", {219, 8, 85, 13});
    QLabel* distanceCaption =
        label(Panel3, nullptr, QStringLiteral("Разность"), {306, 8, 59, 13}, right);
    distanceCaption_ = distanceCaption;
    lblDiff = readout(Panel3, "lblDiff", {370, 8, 88, 13});
    for (QLabel* l : {lblMarker, lblStrobe, lblDiff}) {
        l->setFont(bold);
    }
    const QLabel* bitsCaption =
        label(Panel3, nullptr, QStringLiteral("Бит в окне"), {460, 8, 70, 13}, right);
    ui::widenReadouts(
        {{lblMarker, cursorCaption}, {lblStrobe, distanceCaption}, {lblDiff, bitsCaption}});
    seWindowBitsCount = new QSpinBox(Panel3);
    seWindowBitsCount->setObjectName(QStringLiteral("seWindowBitsCount"));
    seWindowBitsCount->setRange(INT_MIN, INT_MAX);  // no bounds
    seWindowBitsCount->setValue(100);
    seWindowBitsCount->setGeometry(536, 4, 57, 21);
    label(Panel3, nullptr, QStringLiteral("Бит в байте"), {593, 8, 70, 13}, right);
    seByteBitsCount = new QSpinBox(Panel3);
    seByteBitsCount->setObjectName(QStringLiteral("seByteBitsCount"));
    seByteBitsCount->setRange(1, 16);
    seByteBitsCount->setValue(8);
    seByteBitsCount->setGeometry(669, 4, 57, 21);
    // The spin edits keep the ordinary edit colours inside the black panel.
    const QPalette normal = QApplication::palette();
    QPalette editPalette = pal;
    for (const QPalette::ColorRole role :
         {QPalette::Base, QPalette::Text, QPalette::Window, QPalette::WindowText, QPalette::Button,
          QPalette::ButtonText, QPalette::Highlight, QPalette::HighlightedText}) {
        editPalette.setColor(role, normal.color(role));
    }
    for (QSpinBox* s : {seWindowBitsCount, seByteBitsCount}) {
        s->setPalette(editPalette);
    }
    cbReverseBits = checkBox(Panel3, "cbReverseBits", QStringLiteral("Рев"), {732, 6, 47, 17});
    cbInverseBits = checkBox(Panel3, "cbInverseBits", QStringLiteral("Инв"), {732, 22, 47, 17});
    cbBitStaff = checkBox(Panel3, "cbBitStaff", QStringLiteral("Стафф"), {732, 38, 60, 17});
    // The boxes keep the ordinary box and tick colours; only their captions are light.
    QPalette boxPalette = editPalette;
    boxPalette.setColor(QPalette::WindowText, text);
    boxPalette.setColor(QPalette::Window, Qt::black);
    for (QCheckBox* c : {cbReverseBits, cbInverseBits, cbBitStaff}) {
        c->setPalette(boxPalette);
    }
    // The decode lines: selectable and copyable (the label's context menu), scrolled sideways
    // when longer than the panel.
    decodeArea_ = new QScrollArea(Panel3);
    decodeArea_->setObjectName(QStringLiteral("DecodeArea"));
    decodeArea_->setFrameShape(QFrame::NoFrame);
    decodeArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    decodeArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    decodeArea_->setWidgetResizable(false);
    decodeArea_->setGeometry(9, 31, 715, 26);
    auto* decodeLines = new QWidget;
    decodeLines->setAutoFillBackground(false);
    decodeLines->setPalette(pal);
    decodeArea_->viewport()->setAutoFillBackground(false);
    auto* lines = new QVBoxLayout(decodeLines);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(0);
    lines->setSizeConstraint(QLayout::SetFixedSize);
    lblBitStream = label(decodeLines, "lblBitStream", QStringLiteral("XXX"), {0, 0, 715, 13});
    lblBitStream->setFont(ui::arialNarrowFont(8));
    lblBytesDecoded =
        label(decodeLines, "lblBytesDecoded", QStringLiteral("XXX"), {0, 13, 715, 13});
    for (QLabel* l : {lblBitStream, lblBytesDecoded}) {
        l->setFixedHeight(13);
        l->setMinimumWidth(715);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        l->setCursor(Qt::IBeamCursor);
        lines->addWidget(l);
    }
    decodeArea_->setWidget(decodeLines);
    column->addWidget(Panel3);

    Chart1 = new OscPlot(plotArea);
    Chart1->setEngine(&FEngine);
    Chart1->setLiveEnd([this]() -> std::optional<osc::Tick> {
        if (acquisition_.capturing()) {
            return FEngine.state.FTimeBase;  // the lines go on at their levels up to now
        }
        return std::nullopt;
    });
    Chart1->setFocusPolicy(Qt::StrongFocus);  // the navigation keys go to the plot
    column->addWidget(Chart1, 1);

    // The overview strip, with the navigation buttons at its left (createNavigation): the
    // tool bar's row is full at the window's width.
    auto* overviewRow = new QWidget(plotArea);
    overviewRow->setObjectName(QStringLiteral("OverviewRow"));
    auto* row = new QHBoxLayout(overviewRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    Overview = new ui::OverviewStrip(FEngine, *Chart1, overviewRow);
    row->addWidget(Overview, 1);
    column->addWidget(overviewRow);

    ScrollBar1 = new QScrollBar(Qt::Horizontal, plotArea);
    ScrollBar1->setObjectName(QStringLiteral("ScrollBar1"));
    ScrollBar1->setFixedHeight(16);
    ScrollBar1->setRange(0, 0);
    ScrollBar1->setSingleStep(256);
    ScrollBar1->setPageStep(2560);
    column->addWidget(ScrollBar1);

    pbPanel = new QFrame(Chart1);
    pbPanel->setObjectName(QStringLiteral("pbPanel"));
    pbPanel->setFrameShape(QFrame::Panel);
    pbPanel->setFrameShadow(QFrame::Raised);
    pbPanel->setAutoFillBackground(true);
    pbPanel->setPalette(editPalette);
    pbPanel->resize(265, 41);
    Label6 = label(pbPanel, "Label6", QStringLiteral("Обработка графика"), {2, 3, 261, 14},
                   Qt::AlignCenter);
    ProgressBar1 = new QProgressBar(pbPanel);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(8, 19, 249, 16);
    pbPanel->hide();
    Chart1->setCentredPanel(pbPanel);
}

void TfrmMain::createTraceTab() {
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Отладка"));
    auto* column = new QVBoxLayout(TabSheet2);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    Panel2 = new QFrame(TabSheet2);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(18);
    cbTraceEnabled = checkBox(Panel2, "cbTraceEnabled", QStringLiteral("Разрешить трассировку"),
                              {4, 1, 250, 17});
    column->addWidget(Panel2);
    memo_ = new ui::TraceMemo(TabSheet2);
    Memo1 = memo_->lineView();
    Memo1->setSource(&traceLog_.storedLines());
    column->addWidget(memo_, 1);
}

void TfrmMain::createFramesTab() {
    frames_ = std::make_unique<ui::FramesPart>(
        FEngine, measurement_, messages_,
        ui::FramesHooks{
            .setDecoderOptions =
                [this](const osc::BitStreamOptions& o) {
                    seByteBitsCount->setValue(o.bitsPerGroup);
                    cbReverseBits->setChecked(o.reverse);
                    cbInverseBits->setChecked(o.invert);
                    cbBitStaff->setChecked(o.unstuff);
                },
            .windowMoved =
                [this] {
                    SyncScrollBar();
                    Chart1->markDirty();
                },
            .repaintPlot = [this] { Chart1->update(); },
            .showPlot = [this] { PageControl1->setCurrentWidget(TabSheet1); },
            .chooseCsvFile = {},
        },
        this);
    PageControl1->addTab(frames_->page(), QStringLiteral("Кадры"));
    triggers_ =
        new ui::TriggerPart(FEngine, this,
                            {.clockMs = [] { return steadyMilliseconds(); },
                             .wallMs = [] { return QDateTime::currentMSecsSinceEpoch(); },
                             .receiverDrops = [this] { return acquisition_.receiverDrops(); }});
    PageControl1->addTab(triggers_->page(), QStringLiteral("Триггеры"));
    Overview->setOverlay([this](QPainter& p, const osc::PlotMapping& m) {
        frames_->bands().paint(p, m);
        triggers_->paintMarks(p, m, true);
    });
    Chart1->setOverlay([this](QPainter& p, const osc::PlotMapping& m) {
        frames_->bands().paint(p, m);
        triggers_->paintMarks(p, m, false);
        if (session_) {
            session_->paint(p, m);
        }
    });
}

void TfrmMain::wire() {
    auto run = [this](void (TfrmMain::*handler)()) {
        return [this, handler] { ui::guarded(this, [this, handler] { (this->*handler)(); }); };
    };
    connect(actConnect, &QAction::triggered, this, run(&TfrmMain::actConnectExecute));
    connect(actOSCstart, &QAction::triggered, this, run(&TfrmMain::actOSCstartExecute));
    connect(actOSCstop, &QAction::triggered, this, run(&TfrmMain::actOSCstopExecute));
    connect(actSaveToFile, &QAction::triggered, this, run(&TfrmMain::actSaveToFileExecute));
    connect(actLoadFromFile, &QAction::triggered, this, run(&TfrmMain::actLoadFromFileExecute));
    connect(Action2, &QAction::triggered, this, &QWidget::close);
    // Every pick of an entry by the user, also of the entry already selected; setting the
    // selection from the program raises nothing.
    connect(ComboBox1, &QComboBox::activated, this, run(&TfrmMain::ComboBox1Change));
    connect(Timer1, &QTimer::timeout, this, run(&TfrmMain::Timer1Timer));
    connect(seWindowBitsCount, &QSpinBox::valueChanged, this,
            run(&TfrmMain::seWindowBitsCountChange));
    connect(ScrollBar1, &QScrollBar::valueChanged, this, run(&TfrmMain::ScrollBar1Change));
    connect(Chart1, &OscPlot::getAxisLabel, this,
            [this](OscPlot::Axis axis, double value, QString* text) {
                ui::guarded(this, [&] { Chart1GetAxisLabel(axis, value, *text); });
            });
    connect(Chart1, &OscPlot::mouseMoved, this, [this](Qt::KeyboardModifiers shift, int x, int y) {
        ui::guarded(this, [&] { Chart1MouseMove(shift, x, y); });
    });
    connect(Chart1, &OscPlot::clicked, this, run(&TfrmMain::Chart1Click));
    // The decode follows its options at once, not at the next mouse move.
    const auto redecode = [this] { ui::guarded(this, [this] { measurement_.optionsChanged(); }); };
    connect(seByteBitsCount, &QSpinBox::valueChanged, this, redecode);
    for (QCheckBox* c : {cbReverseBits, cbInverseBits, cbBitStaff}) {
        connect(c, &QCheckBox::toggled, this, redecode);
    }
    connect(Chart1, &OscPlot::zoomUndone, this, run(&TfrmMain::Chart1UndoZoom));
    connect(Chart1, &OscPlot::windowChangedByMouse, this, [this] { navigation_->followWidth(); });
    connect(Overview, &ui::OverviewStrip::windowMoved, this,
            [this](double tick) { ui::guarded(this, [&] { navigation_->centreOn(tick); }); });
    connect(triggers_, &ui::TriggerPart::stopRequested, this, run(&TfrmMain::actOSCstopExecute));
    connect(triggers_, &ui::TriggerPart::goTo, this,
            [this](osc::Tick t) { navigation_->centreOn(static_cast<double>(t)); });
    connect(triggers_, &ui::TriggerPart::plotWanted, this,
            [this] { PageControl1->setCurrentWidget(TabSheet1); });
    connect(triggers_, &ui::TriggerPart::pageWanted, this,
            [this] { PageControl1->setCurrentWidget(triggers_->page()); });
    connect(triggers_, &ui::TriggerPart::eventsChanged, this, [this] {
        Chart1->markDirty();
        Overview->update();
    });
    connect(memo_, &ui::TraceMemo::editRequested, this,
            [this] { ui::guarded(this, [this] { traceLog_.beginEdit(); }); });
}

// --- Handlers ---------------------------------------------------------------------------------

void TfrmMain::FormCreate() {
    connection_.setConnection(-1);
    setWindowTitle(defaultCaption());
    for (osc::ChannelTrace* line : {&FEngine.markerLine, &FEngine.cursorLine}) {
        if (line->empty()) {
            line->add(0, 0);
            line->add(1, 0);
        }
    }
}

void TfrmMain::FormStorage1RestorePlacement() {
    if (connectAtStart_) {
        actConnectExecute();
    }
}

void TfrmMain::actConnectExecute() {
    connection_.connect();
}

void TfrmMain::actOSCstartExecute() {
    acquisition_.start();
}

void TfrmMain::actOSCstopExecute() {
    acquisition_.stop();
    Chart1->setFocus();  // the keys go on to the plot
}

void TfrmMain::actSaveToFileExecute() {
    chosenOscFile_.clear();
    if (traceLog_.save() && !chosenOscFile_.isEmpty()) {
        tools_->fileUsed(chosenOscFile_);
    }
}

void TfrmMain::actLoadFromFileExecute() {
    const QString name = chooseOscFile(FileDialog::Open);
    if (!name.isEmpty()) {
        LoadOscFile(name);
    }
}

void TfrmMain::LoadOscFile(const QString& fileName) {
    ReplayKeptCapture(fileName);
    tools_->fileUsed(fileName);
}

void TfrmMain::ReplayKeptCapture(const QString& fileName) {
    const ReplayScope replay(replaying_);
    loadingFile_ = fileName;  // on screen once the replay starts (the file opened)
    const struct Forget {
        QString& file;
        ~Forget() { file.clear(); }
    } forget{loadingFile_};
    traceLog_.loadFile(fileName);
    session_->restoreFor(fileName);
    Chart1->setFocus();
}

QString TfrmMain::fileOnScreen() const {
    return acquisition_.showingFile() ? shownFile_ : QString();
}

void TfrmMain::OfferUnfinishedJournals() {
    // The device list dropped down after the login would take the question's input and close
    // it: the list goes up for the questions and comes down again after them.
    const bool dropped = ui::listDroppedDown(ComboBox1);
    const int asked = journalRecovery_.offerUnfinished(osc::defaultJournalFolder(), [&] {
        if (dropped) {
            ui::closeDropDown(ComboBox1);
        }
    });
    if (dropped && asked > 0) {
        ui::dropDownList(ComboBox1);
    }
}

void TfrmMain::ComboBox1Change() {
    acquisition_.selectDevice();
}

void TfrmMain::Timer1Timer() {
    acquisition_.refreshStatus();
}

void TfrmMain::IdUDPServer1UDPRead(std::span<const std::uint8_t> datagram) {
    acquisition_.receive(datagram);
}

void TfrmMain::DecodeDatagram(const std::uint8_t* data, std::int32_t length) {
    acquisition_.decode(data, length);
}

void TfrmMain::TraceDatagram(const std::uint8_t* data, std::int32_t length) {
    traceLog_.traceDatagram(data, length);
}

void TfrmMain::Chart1GetAxisLabel(OscPlot::Axis axis, double value, QString& labelText) {
    // A channel named in the session: its name on the left axis at its lower level.
    if (axis == OscPlot::Axis::Left && session_) {
        const int level = labelText.toInt();
        for (int c = 0; c < osc::kChannelCount; ++c) {
            if (osc::kChannels[static_cast<std::size_t>(c)].levelSet == level &&
                !session_->channelName(c).isEmpty()) {
                labelText = session_->channelName(c);
                return;
            }
        }
    }
    labelText = QString::fromStdString(
        axis == OscPlot::Axis::Left
            ? osc::leftAxisLabel(labelText.toInt())
            : osc::bottomAxisLabelWithTime(value, tools_ ? tools_->bitRate() : std::nullopt));
}

void TfrmMain::seWindowBitsCountChange() {
    osc::applyWindowBits(FEngine.window, seWindowBitsCount->value());
    navigation_->bitsChosen(seWindowBitsCount->value());
    Chart1->markDirty();
}

void TfrmMain::ScrollBar1Change() {
    osc::applyScrollPosition(FEngine.window, ScrollBar1->value());
    Chart1->markDirty();
}

void TfrmMain::Chart1MouseMove(Qt::KeyboardModifiers shift, int x, int y) {
    measurement_.mouseMove(shift, x, y);
}

void TfrmMain::Chart1Click() {
    measurement_.click();
}

void TfrmMain::DecodeBitStream() {
    measurement_.decodeBitStream();
}

bool TfrmMain::ActivateEndpoint() {
    return acquisition_.activateEndpoint();
}

void TfrmMain::RefreshDeviceList() {
    connection_.refreshDeviceList();
}

int TfrmMain::ChannelAtMouse() const {
    return osc::channelAtY(Chart1->pointerLeftValue());
}

void TfrmMain::Chart1UndoZoom() {
    // Back to the width chosen in "Бит в окне", which showed the zoom's width meanwhile.
    osc::applyWindowBits(FEngine.window, navigation_->chosenBits());
    navigation_->followWidth();
    Chart1->markDirty();
}

// --- Helpers ----------------------------------------------------------------------------------

void TfrmMain::SyncScrollBar() {
    const osc::ScrollBarState s = osc::scrollBarFor(FEngine.window);
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

void TfrmMain::ProgressBar1StepIt(std::uint64_t steps) {
    acquisition_.stepProgress(steps);
}

void TfrmMain::setEndpoint(std::unique_ptr<osc::net::DatagramEndpoint> endpoint) {
    acquisition_.setEndpoint(std::move(endpoint));
}

void TfrmMain::setConnectionSession(std::unique_ptr<server::ConnectionSession> session) {
    connection_.setSession(std::move(session));
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        FormStorage1->closeGranted();
        FClosing = true;
    }
}

void TfrmMain::createNavigation() {
    navigation_ = new ui::NavigationPart(FEngine, this, seWindowBitsCount, [this] {
        Chart1->markDirty();
        SyncScrollBar();
    });
    // The keys of the actions the window had without them; captions stay as they are.
    ui::keyed(actLoadFromFile, {QKeySequence(Qt::CTRL | Qt::Key_O)});
    ui::keyed(actSaveToFile, {QKeySequence(Qt::CTRL | Qt::Key_S)});
    ui::keyed(actOSCstart, {QKeySequence(Qt::Key_F5)});
    ui::keyed(actOSCstop, {QKeySequence(Qt::SHIFT | Qt::Key_F5)});
    // Their buttons left of the overview strip, which they act on with it.
    auto* row = static_cast<QHBoxLayout*>(Overview->parentWidget()->layout());
    int at = 0;
    for (auto [a, name] : {std::pair{navigation_->fitAction(), "btnZoomFit"},
                           std::pair{navigation_->goToBitAction(), "btnGoToBit"}}) {
        auto* b = new QToolButton(Overview->parentWidget());
        b->setObjectName(QString::fromLatin1(name));
        b->setDefaultAction(a);
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setAutoRaise(true);
        b->setIconSize(QSize(16, 16));
        b->setFixedSize(22, ui::OverviewStrip::kHeight);
        row->insertWidget(at++, b);
    }
    ui::attachDeviceListLook(ComboBox1);
    Chart1->setFocus();
}

void TfrmMain::createSession() {
    session_ = new ui::SessionPart(
        this, messages_,
        {
            .captureFile = [this] { return fileOnScreen(); },
            .cursorX = [this] { return measurement_.cursorX(); },
            .centreOn = [this](double tick) { navigation_->centreOn(tick); },
            .collectView = [this] { return collectSessionView(); },
            .applyView = [this](const osc::Session& s) { applySessionView(s); },
            .changed =
                [this] {
                    applyChannelLooks();
                    Chart1->update();
                },
            .positionText =
                [this](osc::Tick t) {
                    return QString::fromStdString(osc::PositionText(t, tools_->bitRate()));
                },
        });
}

osc::Session TfrmMain::collectSessionView() const {
    osc::Session s;
    s.view = {{FEngine.window.minimum(), FEngine.window.maximum()}};
    s.marker = measurement_.markerX();
    s.cursor = measurement_.cursorX();
    s.decodeChannel = measurement_.decodedChannel();
    s.decoder = {seByteBitsCount->value(), cbReverseBits->isChecked(), cbInverseBits->isChecked(),
                 cbBitStaff->isChecked()};
    // The frames' options as their controls are stored ("cbFrameInvert_Checked").
    for (const QWidget* w : frames_->page()->findChildren<QWidget*>()) {
        const QString name = w->objectName();
        if (const auto* box = qobject_cast<const QCheckBox*>(w);
            box && name.startsWith("cbFrame")) {
            s.frameOptions.emplace_back((name + QStringLiteral("_Checked")).toStdString(),
                                        box->isChecked() ? "True" : "False");
        } else if (const auto* list = qobject_cast<const QComboBox*>(w);
                   list && name.startsWith("cmbFrame")) {
            s.frameOptions.emplace_back((name + QStringLiteral("_ItemIndex")).toStdString(),
                                        std::to_string(list->currentIndex()));
        } else if (const auto* spin = qobject_cast<const QSpinBox*>(w);
                   spin && name.startsWith("seFrame")) {
            s.frameOptions.emplace_back((name + QStringLiteral("_Value")).toStdString(),
                                        std::to_string(spin->value()));
        }
    }
    return s;
}

void TfrmMain::applySessionView(const osc::Session& s) {
    seByteBitsCount->setValue(s.decoder.bitsPerGroup);
    cbReverseBits->setChecked(s.decoder.reverse);
    cbInverseBits->setChecked(s.decoder.invert);
    cbBitStaff->setChecked(s.decoder.unstuff);
    for (const auto& [key, value] : s.frameOptions) {
        const QString name = QString::fromStdString(key);
        const QString object = name.section(QLatin1Char('_'), 0, 0);
        const QString text = QString::fromStdString(value);
        QWidget* w = frames_->page()->findChild<QWidget*>(object);
        if (auto* box = qobject_cast<QCheckBox*>(w); box && name.endsWith("_Checked")) {
            box->setChecked(text == QStringLiteral("True"));
        } else if (auto* list = qobject_cast<QComboBox*>(w); list && name.endsWith("_ItemIndex")) {
            bool ok = false;
            const int index = text.toInt(&ok);
            if (ok && index >= 0 && index < list->count()) {
                list->setCurrentIndex(index);
            }
        } else if (auto* spin = qobject_cast<QSpinBox*>(w); spin && name.endsWith("_Value")) {
            bool ok = false;
            const int v = text.toInt(&ok);
            if (ok) {
                spin->setValue(v);
            }
        }
    }
    if (s.view) {
        FEngine.window.setMinMax(s.view->first, s.view->second);
        navigation_->followWidth();
        SyncScrollBar();
    }
    if (s.marker != 0 && s.cursor >= 0) {
        measurement_.measure(std::max(0, s.decodeChannel), s.marker, s.cursor);
    }
    Chart1->markDirty();
}

void TfrmMain::applyChannelLooks() {
    std::array<QColor, osc::kChannelCount> colours{};
    for (int c = 0; c < osc::kChannelCount; ++c) {
        colours[static_cast<std::size_t>(c)] = session_->channelColour(c);
        FEngine.traces[static_cast<std::size_t>(c)].setHidden(!session_->channelVisible(c));
    }
    Chart1->setChannelColours(colours);
    Chart1->markDirty();
}

void TfrmMain::showWhatIsOnScreen() {
    if (acquisition_.showingFile()) {
        if (shownFile_.isEmpty()) {
            captureStatus_->setShown(QStringLiteral("Журнал захвата"), {});
        } else {
            captureStatus_->setShown(QStringLiteral("Файл: ") + QFileInfo(shownFile_).fileName(),
                                     QDir::toNativeSeparators(shownFile_));
        }
        return;
    }
    const QString when =
        QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    if (acquisition_.deviceAddress().isEmpty()) {
        captureStatus_->setShown(
            QStringLiteral("Устройство не выбрано: захват ничего не получит"),
            QStringLiteral("Выберите устройство в списке, затем запустите осциллограф (F5)"));
        return;
    }
    const QString device =
        ComboBox1->currentIndex() >= 0 ? ComboBox1->currentText() : acquisition_.deviceAddress();
    captureStatus_->setShown(QStringLiteral("Захват: %1, %2").arg(device, when),
                             QStringLiteral("Устройство и время пуска захвата на экране"));
}

std::uint64_t TfrmMain::receiverDrops() {
    return acquisition_.receiverDrops();
}

// --- The parts' views -------------------------------------------------------------------------

std::optional<QString> TfrmMain::selectedDeviceEntry() const {
    if (ComboBox1->currentIndex() < 0) {
        return std::nullopt;
    }
    return ComboBox1->currentText();
}

int TfrmMain::windowBits() const {
    return seWindowBitsCount->value();
}

QString TfrmMain::statusText() const {
    return Panel1->text();
}

void TfrmMain::setStatusText(const QString& text) {
    Panel1->setText(text);
}

void TfrmMain::beginCompletion() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    pbPanel->show();
    pbPanel->repaint();
}

void TfrmMain::endCompletion() {
    pbPanel->hide();
    QApplication::restoreOverrideCursor();
}

ui::AcquisitionView::Progress TfrmMain::progress() const {
    return {ProgressBar1->minimum(), ProgressBar1->maximum(), ProgressBar1->value()};
}

void TfrmMain::setProgress(int value, bool drawNow) {
    ProgressBar1->setValue(value);
    if (drawNow) {
        ProgressBar1->repaint();
    }
}

void TfrmMain::plotChanged() {
    Chart1->markDirty();
}

void TfrmMain::samplesDecoded() {
    Chart1->markDirty(OscPlot::kDataMs);
}

void TfrmMain::syncScrollBar() {
    SyncScrollBar();
}

void TfrmMain::processPendingEvents() {
    QCoreApplication::processEvents();
}

QRect TfrmMain::plotRect() const {
    return Chart1->plotRect();
}

double TfrmMain::pointerBottomValue() const {
    return Chart1->pointerBottomValue();
}

int TfrmMain::channelAtMouse() const {
    return ChannelAtMouse();
}

osc::BitStreamOptions TfrmMain::bitStreamOptions() const {
    osc::BitStreamOptions options;
    options.bitsPerGroup = seByteBitsCount->value();
    options.reverse = cbReverseBits->isChecked();
    options.invert = cbInverseBits->isChecked();
    options.unstuff = cbBitStaff->isChecked();
    return options;
}

void TfrmMain::setCursorText(const QString& text) {
    lblStrobe->setText(text);
    layOutReadouts();
}

void TfrmMain::setMarkerText(const QString& text) {
    lblMarker->setText(text);
    layOutReadouts();
}

void TfrmMain::setDistanceText(const QString& text) {
    lblDiff->setText(text);
    layOutReadouts();
}

void TfrmMain::setDecodedText(const QString& bits, const QString& values) {
    lblBitStream->setText(bits);
    lblBytesDecoded->setText(values);
    layOutReadouts();
}

void TfrmMain::setDecodeReason(const QString& reason) {
    lblBitStream->setToolTip(reason);
    lblBytesDecoded->setToolTip(reason);
}

void TfrmMain::layOutReadouts() {
    // The designed places while every text fits them; otherwise each readout as wide as its
    // text, the pairs flowing onto further rows before the controls at the right.
    constexpr int kRow = 15, kTop = 8, kGap = 5, kRight = 456;
    const std::pair<QLabel*, QLabel*> pairs[] = {
        {markerCaption_, lblMarker}, {cursorCaption_, lblStrobe}, {distanceCaption_, lblDiff}};
    if (designedReadouts_.isEmpty()) {
        for (const auto& [caption, readout] : pairs) {
            designedReadouts_ << caption->geometry() << readout->geometry();
        }
    }
    bool fits = true;
    int needed[3] = {};
    for (int i = 0; i < 3; ++i) {
        QLabel* readout = pairs[i].second;
        needed[i] = QFontMetrics(readout->font()).horizontalAdvance(readout->text()) + 4;
        fits = fits && needed[i] <= designedReadouts_[qsizetype{2} * i + 1].width();
    }
    int bottom = kTop + 13;
    if (fits) {
        for (int i = 0; i < 3; ++i) {
            pairs[i].first->setGeometry(designedReadouts_[qsizetype{2} * i]);
            pairs[i].second->setGeometry(designedReadouts_[qsizetype{2} * i + 1]);
        }
    } else {
        int x = 4, y = kTop;
        for (int i = 0; i < 3; ++i) {
            const int caption = designedReadouts_[qsizetype{2} * i].width();
            const int width = std::max(designedReadouts_[qsizetype{2} * i + 1].width(), needed[i]);
            if (x > 4 && x + caption + kGap + width > kRight) {
                x = 4;
                y += kRow;
            }
            pairs[i].first->setGeometry(x, y, caption, 13);
            pairs[i].second->setGeometry(x + caption + kGap, y, width, 13);
            x += caption + kGap + width + 4;
        }
        bottom = y + 13;
    }
    // The decode lines under the readouts, with a scroll bar when longer than the panel.
    QWidget* lines = decodeArea_->widget();
    lines->adjustSize();
    const int scroll =
        lines->width() > 715 ? decodeArea_->horizontalScrollBar()->sizeHint().height() : 0;
    decodeArea_->setGeometry(9, bottom + 10, 715, 26 + scroll);
    const int height = std::max(63, bottom + 10 + 26 + scroll + 6);
    if (Panel3->height() != height) {
        Panel3->setFixedHeight(height);
    }
}

bool TfrmMain::runLogin(
    const std::function<void(const QString& user, const QString& password)>& setUser) {
    if (!LoginDlg) {
        return false;
    }
    LoginDlg->setUser = setUser;
    if (demoMode_) {
        LoginDlg->setDefaultServerNames(QStringLiteral("localhost"), QStringLiteral("demo"));
    }
    return ui::runModal(*LoginDlg) == QDialog::Accepted;
}

QString TfrmMain::ntServer() const {
    return LoginDlg ? LoginDlg->ntServer() : QString();
}

QString TfrmMain::tmServer() const {
    return LoginDlg ? LoginDlg->tmServer() : QString();
}

void TfrmMain::setCaption(const QString& caption) {
    setWindowTitle(caption);
}

void TfrmMain::setDeviceEntries(const QStringList& entries) {
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    ComboBox1->addItems(entries);
    ComboBox1->setCurrentIndex(-1);  // no entry selected until the user picks one
}

void TfrmMain::dropDownDeviceList() {
    ui::dropDownList(ComboBox1);
}

bool TfrmMain::tracingEnabled() const {
    return cbTraceEnabled->isChecked();
}

void TfrmMain::storedLinesChanged() {
    Memo1->linesChanged();
}

void TfrmMain::openEditor(const QString& text) {
    memo_->openEditor(text);
}

void TfrmMain::appendToEditor(const QString& lines) {
    memo_->appendToEditor(lines);
}

QString TfrmMain::editorText() const {
    return memo_->editorText();
}

void TfrmMain::closeEditor() {
    memo_->closeEditor();
}

void TfrmMain::showMemoHint(const QString& text) {
    memo_->showHint(text);
}

void TfrmMain::beginSaveProgress(std::uint64_t total, bool cancellable) {
    memo_->beginSaveProgress(total, cancellable);
}

bool TfrmMain::saveProgress(std::uint64_t done) {
    return memo_->saveProgress(done);
}

void TfrmMain::endSaveProgress() {
    memo_->endSaveProgress();
}

void TfrmMain::scheduleMemoFlush() {
    if (!memoFlushTimer_) {
        memoFlushTimer_ = new QTimer(this);
        memoFlushTimer_->setSingleShot(true);
        memoFlushTimer_->setInterval(50);
        connect(memoFlushTimer_, &QTimer::timeout, this, [this] { traceLog_.flushToMemo(); });
    }
    if (!memoFlushTimer_->isActive()) {
        memoFlushTimer_->start();
    }
}

QString TfrmMain::chooseOscFile(FileDialog which) {
    const bool save = which == FileDialog::Save;
    QFileDialog dialog(this);
    dialog.setObjectName(save ? QStringLiteral("SaveDialog1") : QStringLiteral("OpenDialog1"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A typed name of a file that does not exist is accepted by both; saving overwrites an
    // existing file without a question.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilter(QStringLiteral("Файлы осциллограм ОИК (*.osc)"));
    dialog.setDefaultSuffix(QStringLiteral("osc"));
    if (ui::runModal(dialog) != QDialog::Accepted) {
        return {};
    }
    const QStringList files = dialog.selectedFiles();
    chosenOscFile_ = files.isEmpty() ? QString() : files.front();
    return chosenOscFile_;
}
