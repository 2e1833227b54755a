#include "ui/frames/FramesPart.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

#include "core/files/frame_export.h"
#include "core/view/frame_view.h"
#include "ui/frames/FrameFilterField.h"
#include "ui/frames/StationsView.h"
#include "ui/plot/PlotState.h"
#include "ui/settings/FormStorage.h"
#include "ui/widgets/ExportProgress.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

constexpr int kRefreshMs = 200;
constexpr int kOptionsDelayMs = 150;  // typing in the length, several settings restored at once

// The entries of the check list, in the order of osc::FrameCheck.
constexpr osc::FrameCheck kChecks[] = {osc::FrameCheck::X25, osc::FrameCheck::CcittFalse,
                                       osc::FrameCheck::Crc32, osc::FrameCheck::None,
                                       osc::FrameCheck::Auto};
// The entries of the address list, in the order of osc::AddressMode.
constexpr osc::AddressMode kAddressModes[] = {osc::AddressMode::None, osc::AddressMode::One,
                                              osc::AddressMode::Two, osc::AddressMode::Extended};
constexpr int kMaxAnswerTimeoutBits = 1'000'000'000;
constexpr std::size_t kMaxBackSteps = 64;

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& text, const QString& tip) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setToolTip(tip);
    return c;
}

QLabel* caption(QWidget* parent, const QString& text) {
    return new QLabel(text, parent);
}

}  // namespace

FramesPart::FramesPart(osc::CaptureEngine& engine, PlotState& plot, MessageSink& messages,
                       QWidget* window)
    : QObject(nullptr),
      engine_(engine),
      plot_(plot),
      messages_(messages),
      bands_(engine.frames),
      model_(std::make_unique<FrameTableModel>(engine.frames)) {
    model_->setLinkAnalysis(&engine.link);
    buildPage();
    createActions(window);
    engine_.frames.setEnabled(true);
    engine_.frames.setOptions(options(), channels());
    filterTimer_ = new QTimer(this);
    filterTimer_->setSingleShot(true);
    filterTimer_->setInterval(0);
    connect(filterTimer_, &QTimer::timeout, this, [this] { runFilterPass(); });
    applyLinkOptions();

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(kRefreshMs);
    // Only while the page is in sight: its actions and its showing bring it up to date.
    connect(refreshTimer_, &QTimer::timeout, this, [this] {
        if (page_->isVisible()) {
            refresh();
        }
    });
    page_->installEventFilter(this);
    optionsTimer_ = new QTimer(this);
    optionsTimer_->setObjectName(QStringLiteral("FrameOptionsDelay"));
    optionsTimer_->setSingleShot(true);
    optionsTimer_->setInterval(kOptionsDelayMs);
    connect(optionsTimer_, &QTimer::timeout, this,
            [this] { guarded(messages_, [this] { applyOptions(); }); });
    setBitRate(plot_.bitRate());
    connect(&plot_, &PlotState::bitRateChanged, this, [this] { setBitRate(plot_.bitRate()); });
}

FramesPart::~FramesPart() {
    // The table goes with the page, before the model it shows.
    delete page_;
}

void FramesPart::buildPage() {
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("tsFrames"));
    // The tab never widens or heightens the window: narrower than its rows, the rows are cut
    // at the right; lower than its rows and a few lines of the table, at the bottom.
    page_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    auto* column = new QVBoxLayout(page_);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);

    // Three short rows, so that the tab fits the window at its first size: the lines and what
    // the table shows, the decoder's options, the navigation.
    auto* lines = new QHBoxLayout;
    lines->setSpacing(6);
    lines->addWidget(caption(page_, QStringLiteral("Каналы:")));
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const QString name = QString::fromUtf8(osc::kChannels[static_cast<std::size_t>(c)].name);
        auto* box =
            checkBox(page_, nullptr, name, QStringLiteral("Искать кадры на линии «%1»").arg(name));
        box->setObjectName(QStringLiteral("cbFrameChannel%1").arg(c));
        box->setChecked((osc::kDataChannels & (1u << c)) != 0);
        channelBoxes_[c] = box;
        lines->addWidget(box);
    }
    cbFrameBands = checkBox(page_, "cbFrameBands", QStringLiteral("На графике"),
                            QStringLiteral("Показывать кадры под линиями графика"));
    cbFrameBands->setChecked(true);
    lines->addWidget(cbFrameBands);
    lines->addSpacing(12);
    lines->addWidget(caption(page_, QStringLiteral("Показать")));
    cmbFrameFilter = new QComboBox(page_);
    cmbFrameFilter->setObjectName(QStringLiteral("cmbFrameFilter"));
    cmbFrameFilter->addItem(QStringLiteral("все каналы"));
    for (const osc::ChannelInfo& c : osc::kChannels) {
        cmbFrameFilter->addItem(QString::fromUtf8(c.name));
    }
    cmbFrameFilter->setToolTip(QStringLiteral("Кадры одного канала или всех"));
    lines->addWidget(cmbFrameFilter);
    cbFrameOnlyBad = checkBox(page_, "cbFrameOnlyBad", QStringLiteral("только ошибочные"),
                              QStringLiteral("Показывать только кадры с ошибкой"));
    lines->addWidget(cbFrameOnlyBad);
    lines->addStretch(1);
    column->addLayout(lines);

    auto* options = new QHBoxLayout;
    options->setSpacing(6);
    options->addWidget(caption(page_, QStringLiteral("Контроль")));
    cmbFrameCheck = new QComboBox(page_);
    cmbFrameCheck->setObjectName(QStringLiteral("cmbFrameCheck"));
    for (const osc::FrameCheck c : kChecks) {
        cmbFrameCheck->addItem(FrameTableModel::checkName(c));
    }
    cmbFrameCheck->setToolTip(
        QStringLiteral("Контрольная сумма в конце кадра; «авто» выбирает для каждой линии ту, "
                       "что подходит к большинству кадров"));
    options->addWidget(cmbFrameCheck);
    options->addWidget(caption(page_, QStringLiteral("Порядок бит")));
    cmbFrameBitOrder = new QComboBox(page_);
    cmbFrameBitOrder->setObjectName(QStringLiteral("cmbFrameBitOrder"));
    cmbFrameBitOrder->addItem(QStringLiteral("младший первым"));
    cmbFrameBitOrder->addItem(QStringLiteral("старший первым"));
    cmbFrameBitOrder->setToolTip(QStringLiteral("Какой бит байта передаётся первым"));
    options->addWidget(cmbFrameBitOrder);
    cbFrameInvert = checkBox(page_, "cbFrameInvert", QStringLiteral("Инв"),
                             QStringLiteral("Инвертировать каждый бит линии"));
    options->addWidget(cbFrameInvert);
    cbFrameStuffing = checkBox(page_, "cbFrameStuffing", QStringLiteral("Стафф"),
                               QStringLiteral("Удалять 0 после пяти 1 внутри кадра"));
    cbFrameStuffing->setChecked(true);
    options->addWidget(cbFrameStuffing);
    options->addWidget(caption(page_, QStringLiteral("Мин. длина")));
    seFrameMinLength = new QSpinBox(page_);
    seFrameMinLength->setObjectName(QStringLiteral("seFrameMinLength"));
    seFrameMinLength->setRange(1, osc::FrameOptions{}.maxLength);
    seFrameMinLength->setValue(osc::FrameOptions{}.minLength);
    seFrameMinLength->setToolTip(
        QStringLiteral("Меньше байтов между флагами (с контрольной суммой) — короткий кадр"));
    options->addWidget(seFrameMinLength);
    options->addStretch(1);
    column->addLayout(options);

    auto* link = new QHBoxLayout;
    link->setSpacing(6);
    cbLink = checkBox(page_, "cbLink", QStringLiteral("Канальный уровень"),
                      QStringLiteral("Читать адрес, тип и номера кадров, находить ответы, "
                                     "ошибки обмена и статистику станций"));
    cbLink->setChecked(true);
    link->addWidget(cbLink);
    link->addWidget(caption(page_, QStringLiteral("Адрес")));
    cmbLinkAddress = new QComboBox(page_);
    cmbLinkAddress->setObjectName(QStringLiteral("cmbLinkAddress"));
    cmbLinkAddress->addItems({QStringLiteral("нет"), QStringLiteral("1 байт"),
                              QStringLiteral("2 байта"), QStringLiteral("расширенный")});
    cmbLinkAddress->setCurrentIndex(1);
    cmbLinkAddress->setToolTip(
        QStringLiteral("Поле адреса: нет, 1 байт, 2 байта или расширенное (байт с младшим битом "
                       "0 продолжается следующим)"));
    link->addWidget(cmbLinkAddress);
    link->addWidget(caption(page_, QStringLiteral("Модуль")));
    cmbLinkModulo = new QComboBox(page_);
    cmbLinkModulo->setObjectName(QStringLiteral("cmbLinkModulo"));
    cmbLinkModulo->addItems({QStringLiteral("8"), QStringLiteral("128")});
    cmbLinkModulo->setToolTip(QStringLiteral(
        "Счёт N(S) и N(R): по модулю 8 (управляющее поле в 1 байт) или 128 (2 байта)"));
    link->addWidget(cmbLinkModulo);
    link->addWidget(caption(page_, QStringLiteral("Первичная")));
    cmbLinkPrimary = new QComboBox(page_);
    cmbLinkPrimary->setObjectName(QStringLiteral("cmbLinkPrimary"));
    for (const osc::ChannelInfo& c : osc::kChannels) {
        cmbLinkPrimary->addItem(QString::fromUtf8(c.name));
    }
    cmbLinkPrimary->setCurrentIndex(osc::LinkOptions{}.primary);
    cmbLinkPrimary->setToolTip(
        QStringLiteral("Линия первичной станции: её кадры — запросы, кадры других линий — ответы"));
    link->addWidget(cmbLinkPrimary);
    link->addWidget(caption(page_, QStringLiteral("Ждать ответ")));
    seLinkTimeout = new QSpinBox(page_);
    seLinkTimeout->setObjectName(QStringLiteral("seLinkTimeout"));
    seLinkTimeout->setRange(0, kMaxAnswerTimeoutBits);
    seLinkTimeout->setSpecialValueText(QStringLiteral("до запроса"));
    seLinkTimeout->setSuffix(QStringLiteral(" бит"));
    seLinkTimeout->setToolTip(
        QStringLiteral("Сколько бит после конца запроса ждать начала ответа; «до запроса» — "
                       "до следующего запроса"));
    link->addWidget(seLinkTimeout);
    link->addStretch(1);
    column->addLayout(link);

    actionBar_ = new QHBoxLayout;
    actionBar_->setSpacing(2);
    column->addLayout(actionBar_);

    auto* filterRow = new QHBoxLayout;
    filterRow->setSpacing(6);
    filterRow->addWidget(caption(page_, QStringLiteral("Фильтр")));
    filterField_ = new FrameFilterField(page_);
    filterRow->addWidget(filterField_, 1);
    column->addLayout(filterRow);

    views_ = new QTabWidget(page_);
    views_->setObjectName(QStringLiteral("tabFrameViews"));
    views_->setDocumentMode(true);
    table_ = new QTableView(views_);
    table_->setObjectName(QStringLiteral("tblFrames"));
    table_->setModel(model_.get());
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->setAlternatingRowColors(true);
    table_->verticalHeader()->hide();
    // Fixed row heights: the view never measures a row, whatever the number of rows.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setSortIndicator(FrameTableModel::Number, Qt::AscendingOrder);
    table_->setSortingEnabled(true);
    const QFontMetrics fm = table_->fontMetrics();
    const int widths[FrameTableModel::ColumnCount] = {
        fm.horizontalAdvance(QStringLiteral("0000000")),
        fm.horizontalAdvance(QStringLiteral("Передача__")),
        fm.horizontalAdvance(QStringLiteral("0000000 + 255/256")),
        fm.horizontalAdvance(QStringLiteral("0000000 + 255/256")),
        fm.horizontalAdvance(QStringLiteral("Адрес_")),
        fm.horizontalAdvance(QStringLiteral("SNRME P_")),
        fm.horizontalAdvance(QStringLiteral("000 + 255/256 (000,0 мкс)")),
        fm.horizontalAdvance(QStringLiteral("ответ без запроса")),
        fm.horizontalAdvance(QStringLiteral("0000 + 7/8")),
        fm.horizontalAdvance(QStringLiteral("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00")),
        fm.horizontalAdvance(QStringLiteral("CCITT-FALSE не проверен")),
        0};
    for (int c = 0; c + 1 < FrameTableModel::ColumnCount; ++c) {
        table_->setColumnWidth(c, widths[c] + 12);
    }
    views_->addTab(table_, QStringLiteral("Таблица"));
    stations_ = new StationsView(views_);
    views_->addTab(stations_, QStringLiteral("Станции"));
    views_->setTabToolTip(0, QStringLiteral("Кадры по одному в строке (F6 — станции)"));
    views_->setTabToolTip(1, QStringLiteral("Статистика станций и линий (F6)"));
    column->addWidget(views_, 1);

    lblFrameCounts = new QLabel(page_);
    lblFrameCounts->setObjectName(QStringLiteral("lblFrameCounts"));
    lblFrameCounts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblFrameCounts->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblFrameCounts->setWordWrap(true);  // a narrow window shows the counts on two lines, not cut
    column->addWidget(lblFrameCounts);
    lblFrameCounts->setText(countsText());
    // What the colours of the bands on the plot mean.
    auto* legend = new QLabel(FrameBands::legendText(), page_);
    legend->setObjectName(QStringLiteral("lblFrameLegend"));
    legend->setTextFormat(Qt::RichText);
    legend->setWordWrap(true);
    legend->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    legend->setToolTip(QStringLiteral("Цвета полос кадров на графике"));
    column->addWidget(legend);

    for (QCheckBox* box : channelBoxes_) {
        connect(box, &QCheckBox::toggled, this, [this] { optionsEdited(); });
    }
    for (QCheckBox* box : {cbFrameInvert, cbFrameStuffing}) {
        connect(box, &QCheckBox::toggled, this, [this] { optionsEdited(); });
    }
    for (QComboBox* box : {cmbFrameCheck, cmbFrameBitOrder}) {
        connect(box, &QComboBox::currentIndexChanged, this, [this] { optionsEdited(); });
    }
    connect(seFrameMinLength, &QSpinBox::valueChanged, this, [this] { optionsEdited(); });
    connect(cbFrameBands, &QCheckBox::toggled, this, [this](bool on) {
        bands_.setEnabled(on);
        emit bandsChanged();
    });
    connect(cbLink, &QCheckBox::toggled, this, [this] { optionsEdited(); });
    for (QComboBox* box : {cmbLinkAddress, cmbLinkModulo, cmbLinkPrimary}) {
        connect(box, &QComboBox::currentIndexChanged, this, [this] { optionsEdited(); });
    }
    connect(seLinkTimeout, &QSpinBox::valueChanged, this, [this] { optionsEdited(); });
    connect(filterField_, &FrameFilterField::applied, this, [this](const osc::FrameFilter& filter) {
        model_->setExpression(filter);
        runFilterPass();
        lblFrameCounts->setText(countsText());
    });
    connect(stations_, &StationsView::filterRequested, this,
            [this](const QString& text) { applyFilter(text); });
    connect(views_, &QTabWidget::currentChanged, this, [this](int page) {
        if (actFrameStations) {
            actFrameStations->setChecked(page == 1);
        }
        refresh();
    });
    connect(cmbFrameFilter, &QComboBox::currentIndexChanged, this, [this] { filterEdited(); });
    connect(cbFrameOnlyBad, &QCheckBox::toggled, this, [this] { filterEdited(); });
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now) { currentRowChanged(now.isValid() ? now.row() : -1); });
    connect(table_, &QTableView::doubleClicked, this,
            [this] { guarded(messages_, [this] { showCurrentOnPlot(); }); });
    table_->installEventFilter(this);
    connect(model_.get(), &FrameTableModel::framesReplaced, this, [this] {
        current_ = {};
        back_.clear();
    });
    // A reload (another filter, too) drops the selection: the frame shown stays current, and
    // in sight.
    connect(model_.get(), &QAbstractItemModel::modelReset, this, [this] {
        const int row = model_->rowOf(current_);
        if (row >= 0) {
            restoring_ = true;
            table_->setCurrentIndex(model_->index(row, 0));
            table_->scrollTo(model_->index(row, 0), QAbstractItemView::PositionAtCenter);
            restoring_ = false;
        }
    });
}

bool FramesPart::eventFilter(QObject* watched, QEvent* event) {
    if (watched == page_ && event->type() == QEvent::Show) {
        refresh();
    }
    if (watched == table_ && event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods =
            key->modifiers() & ~(Qt::ShiftModifier | Qt::ControlModifier | Qt::KeypadModifier);
        switch (key->key()) {
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_Left:
            case Qt::Key_Right:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
            case Qt::Key_Home:
            case Qt::Key_End:
                if (mods == Qt::NoModifier) {
                    event->accept();  // a key press for the table, not a shortcut
                    return true;
                }
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void FramesPart::createActions(QWidget* window) {
    struct ActionEntry {
        QAction** action;
        const char* name;
        QString text;
        QKeySequence key;
        QString tip;
        std::function<void()> run;
    };
    const ActionEntry entries[] = {
        {&actFramePrevious, "actFramePrevious", QStringLiteral("Предыдущий"),
         QKeySequence(Qt::SHIFT | Qt::Key_F3), QStringLiteral("Предыдущий кадр (Shift+F3)"),
         [this] { previous(); }},
        {&actFrameNext, "actFrameNext", QStringLiteral("Следующий"), QKeySequence(Qt::Key_F3),
         QStringLiteral("Следующий кадр (F3)"), [this] { next(); }},
        {&actFramePreviousBad, "actFramePreviousBad", QStringLiteral("Пред. ошибочный"),
         QKeySequence(Qt::SHIFT | Qt::Key_F4),
         QStringLiteral("Предыдущий кадр с ошибкой (Shift+F4)"), [this] { previousBad(); }},
        {&actFrameNextBad, "actFrameNextBad", QStringLiteral("След. ошибочный"),
         QKeySequence(Qt::Key_F4), QStringLiteral("Следующий кадр с ошибкой (F4)"),
         [this] { nextBad(); }},
        {&actFrameShow, "actFrameShow", QStringLiteral("На график"), QKeySequence(Qt::Key_Return),
         QStringLiteral("Показать кадр на графике (Enter, двойной щелчок)"),
         [this] { showCurrentOnPlot(); }},
        {&actFramePartner, "actFramePartner", QStringLiteral("К запросу"), QKeySequence(Qt::Key_F7),
         QStringLiteral("От ответа к его запросу, от запроса к ответу (F7)"),
         [this] { toPartner(); }},
        {&actFrameBack, "actFrameBack", QStringLiteral("Назад"),
         QKeySequence(Qt::SHIFT | Qt::Key_F7),
         QStringLiteral("Назад к кадру, с которого был переход (Shift+F7)"), [this] { back(); }},
        {&actFrameStations, "actFrameStations", QStringLiteral("Станции"), QKeySequence(Qt::Key_F6),
         QStringLiteral("Статистика станций и линий или таблица (F6)"),
         [this] { showStations(views_->currentIndex() != 1); }},
        {&actFrameFilter, "actFrameFilter", QStringLiteral("Фильтр"),
         QKeySequence(Qt::CTRL | Qt::Key_F), QStringLiteral("К полю фильтра кадров (Ctrl+F)"),
         [this] {
             showStations(false);
             filterField_->setFocus(Qt::ShortcutFocusReason);
             filterField_->lineEdit()->selectAll();
         }},
        {&actFramesExport, "actFramesExport", QStringLiteral("В CSV…"),
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F),
         QStringLiteral("Записать таблицу кадров в файл CSV (Ctrl+Shift+F)"),
         [this] { exportCsv(); }},
    };
    for (const ActionEntry& s : entries) {
        auto* a = new QAction(s.text, window);
        a->setObjectName(QString::fromLatin1(s.name));
        a->setShortcut(s.key);
        if (s.action == &actFrameShow) {
            a->setShortcuts({s.key, QKeySequence(Qt::Key_Enter)});
        }
        a->setToolTip(s.tip);
        a->setStatusTip(s.tip);
        connect(a, &QAction::triggered, this,
                [this, run = s.run] { guarded(messages_, [&] { run(); }); });
        *s.action = a;
        if (s.action == &actFrameShow) {
            // Enter belongs to the table only; the other keys work on every tab.
            a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            table_->addAction(a);
        } else {
            a->setShortcutContext(Qt::WindowShortcut);
            window->addAction(a);
        }
        if (s.action == &actFrameFilter) {
            continue;  // the field is its button
        }
        if (s.action == &actFrameStations) {
            a->setCheckable(true);
        }
        auto* button = new QToolButton(page_);
        button->setDefaultAction(a);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        actionBar_->addWidget(button);
    }
    actionBar_->addStretch(1);
}

void FramesPart::storeSettingsIn(FormStorage& storage) {
    for (QCheckBox* box : channelBoxes_) {
        storage.addStoredProperty(box, QStringLiteral("Checked"));
    }
    storage.addStoredProperty(cbFrameInvert, QStringLiteral("Checked"));
    storage.addStoredProperty(cbFrameStuffing, QStringLiteral("Checked"));
    storage.addStoredProperty(cmbFrameBitOrder, QStringLiteral("ItemIndex"));
    storage.addStoredProperty(cmbFrameCheck, QStringLiteral("ItemIndex"));
    storage.addStoredProperty(seFrameMinLength, QStringLiteral("Value"));
    storage.addStoredProperty(cbFrameBands, QStringLiteral("Checked"));
    storage.addStoredProperty(cbLink, QStringLiteral("Checked"));
    storage.addStoredProperty(cmbLinkAddress, QStringLiteral("ItemIndex"));
    storage.addStoredProperty(cmbLinkModulo, QStringLiteral("ItemIndex"));
    storage.addStoredProperty(cmbLinkPrimary, QStringLiteral("ItemIndex"));
    storage.addStoredProperty(seLinkTimeout, QStringLiteral("Value"));
    // The last filters, the latest first: "cmbFrameExpr_Item1" to "cmbFrameExpr_Item10".
    for (int i = 0; i < FrameFilterField::kHistory; ++i) {
        storage.addStoredValue(
            QStringLiteral("cmbFrameExpr_Item%1").arg(i + 1),
            [this, i] { return filterField_->historyEntry(i); },
            [this, i](const QString& text) { filterField_->setHistoryEntry(i, text); });
    }
}

osc::FrameOptions FramesPart::options() const {
    osc::FrameOptions o;
    o.invert = cbFrameInvert->isChecked();
    o.stuffing = cbFrameStuffing->isChecked();
    o.order =
        cmbFrameBitOrder->currentIndex() == 1 ? osc::BitOrder::MsbFirst : osc::BitOrder::LsbFirst;
    const int check = cmbFrameCheck->currentIndex();
    o.check = check >= 0 && check < static_cast<int>(std::size(kChecks)) ? kChecks[check]
                                                                         : osc::FrameCheck::X25;
    o.minLength = std::clamp(seFrameMinLength->value(), 1, o.maxLength);
    return o;
}

osc::LinkOptions FramesPart::linkOptions() const {
    osc::LinkOptions o;
    const int address = cmbLinkAddress->currentIndex();
    o.address = address >= 0 && address < static_cast<int>(std::size(kAddressModes))
                    ? kAddressModes[address]
                    : osc::AddressMode::One;
    o.modulo = cmbLinkModulo->currentIndex() == 1 ? 128 : 8;
    const int primary = cmbLinkPrimary->currentIndex();
    o.primary = primary >= 0 && primary < osc::kChannelCount ? primary : osc::LinkOptions{}.primary;
    o.answerTimeout = static_cast<std::uint64_t>(std::max(0, seLinkTimeout->value()));
    return o;
}

bool FramesPart::linkEnabled() const {
    return cbLink->isChecked();
}

void FramesPart::applyLinkOptions() {
    const bool on = linkEnabled();
    engine_.link.setOptions(linkOptions());
    const osc::LinkAnalysis* link = on ? &engine_.link : nullptr;
    bands_.setLink(link);
    model_->setLink(link);  // nothing when unchanged; new options are read at the refresh
    for (int c = FrameTableModel::Address; c <= FrameTableModel::Remark; ++c) {
        table_->setColumnHidden(c, !on);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{cmbLinkAddress, cmbLinkModulo, cmbLinkPrimary,
                                                      seLinkTimeout}) {
        w->setEnabled(on);
    }
    actFramePartner->setEnabled(on);
    actFrameBack->setEnabled(on);
    refresh();
    emit bandsChanged();
}

unsigned FramesPart::channels() const {
    unsigned bits = 0;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        if (channelBoxes_[c]->isChecked()) {
            bits |= 1u << c;
        }
    }
    return bits;
}

void FramesPart::optionsEdited() {
    optionsTimer_->start();
}

void FramesPart::applyOptions() {
    optionsTimer_->stop();
    applyLinkOptions();
    const osc::FrameOptions o = options();
    const unsigned c = channels();
    const osc::FrameOptions& was = engine_.frames.options();
    if (c == engine_.frames.channels() && o.invert == was.invert && o.order == was.order &&
        o.stuffing == was.stuffing && o.check == was.check && o.minLength == was.minLength &&
        o.maxLength == was.maxLength) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    engine_.frames.setOptions(o, c);
    engine_.frames.rebuild(engine_.traces);
    QApplication::restoreOverrideCursor();
    current_ = {};
    model_->reload();
    lblFrameCounts->setText(countsText());
    emit bandsChanged();
}

void FramesPart::filterEdited() {
    model_->setFilter(cmbFrameFilter->currentIndex() - 1, cbFrameOnlyBad->isChecked());
}

void FramesPart::framesMayHaveChanged() {
    if (!refreshTimer_->isActive()) {
        refreshTimer_->start();
    }
}

void FramesPart::refresh() {
    const std::size_t before = model_->frameCount();
    // Rows taken out and put back while the capture grows move the view's current row; the
    // frame shown stays current and nothing else is shown.
    restoring_ = true;
    model_->refresh();
    if (current_.valid() && model_->refAt(table_->currentIndex().row()) != current_) {
        const int row = model_->rowOf(current_);
        table_->setCurrentIndex(row >= 0 ? model_->index(row, 0) : QModelIndex());
    }
    restoring_ = false;
    if (model_->filtering() && !filterTimer_->isActive()) {
        filterTimer_->start();
    }
    if (stations_->isVisible()) {
        stations_->refresh(linkEnabled() ? &engine_.link.analyser() : nullptr,
                           engine_.frames.channels());
    }
    updatePartnerAction();
    const QString counts = countsText();
    if (counts != lblFrameCounts->text() || before != model_->frameCount()) {
        lblFrameCounts->setText(counts);
    }
}

void FramesPart::runFilterPass() {
    filterTimer_->stop();
    restoring_ = true;
    model_->advance();
    if (current_.valid() && model_->refAt(table_->currentIndex().row()) != current_) {
        const int row = model_->rowOf(current_);
        if (row >= 0) {
            table_->setCurrentIndex(model_->index(row, 0));
        }
    }
    restoring_ = false;
    if (model_->filtering()) {
        filterTimer_->start();  // the next slice after the events waiting
    }
    lblFrameCounts->setText(countsText());
}

void FramesPart::setBitRate(std::optional<double> rate) {
    model_->setBitRate(rate);
    stations_->setBitRate(rate);
    filterField_->setBitRate(rate);
}

bool FramesPart::applyFilter(const QString& text) {
    showStations(false);
    return filterField_->apply(text);
}

void FramesPart::showStations(bool on) {
    views_->setCurrentIndex(on ? 1 : 0);
    actFrameStations->setChecked(on);
    if (on) {
        stations_->refresh(linkEnabled() ? &engine_.link.analyser() : nullptr,
                           engine_.frames.channels());
    }
}

void FramesPart::updatePartnerAction() {
    const FrameRef ref = model_->refAt(table_->currentIndex().row());
    const osc::Frame* f = model_->frameAt(table_->currentIndex().row());
    const bool command =
        f != nullptr && linkEnabled() &&
        osc::lineRole(ref.channel, engine_.link.options()) == osc::LinkRole::Command;
    const QString text = command ? QStringLiteral("К ответу") : QStringLiteral("К запросу");
    if (actFramePartner->text() != text) {
        actFramePartner->setText(text);
    }
}

bool FramesPart::toPartner() {
    const int row = table_->currentIndex().row();
    const FrameRef ref = model_->refAt(row);
    const FrameRef partner = model_->partnerOf(ref);
    const int target = model_->rowOf(partner);
    if (!ref.valid() || !partner.valid() || target < 0) {
        QApplication::beep();  // none, or filtered out
        return false;
    }
    back_.push_back(ref);
    if (back_.size() > kMaxBackSteps) {
        back_.erase(back_.begin());
    }
    chooseRow(target);
    return true;
}

bool FramesPart::back() {
    while (!back_.empty()) {
        const FrameRef ref = back_.back();
        back_.pop_back();
        const int row = model_->rowOf(ref);
        if (row >= 0) {
            chooseRow(row);
            return true;
        }
    }
    QApplication::beep();
    return false;
}

QString FramesPart::countsText() const {
    QStringList parts;
    std::uint64_t good = 0, bad = 0;
    int decoded = 0;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        if ((engine_.frames.channels() & (1u << c)) == 0) {
            continue;
        }
        ++decoded;
        const osc::FrameCounts n = engine_.frames.counts(c);
        good += n.good;
        bad += n.bad;
        QString name = QString::fromUtf8(osc::kChannels[static_cast<std::size_t>(c)].name);
        if (engine_.frames.options().check == osc::FrameCheck::Auto) {
            name += QStringLiteral(" (%1)").arg(
                FrameTableModel::checkName(engine_.frames.checkInUse(c)));
        }
        parts << QStringLiteral("%1: верных %2, ошибочных %3").arg(name).arg(n.good).arg(n.bad);
    }
    if (decoded == 0) {
        return QStringLiteral("Не выбран ни один канал");
    }
    if (decoded > 1) {
        parts << QStringLiteral("всего: верных %1, ошибочных %2").arg(good).arg(bad);
    }
    if (model_->channelFilter() >= 0 || model_->onlyBad() || !model_->expression().empty()) {
        QString shown = QStringLiteral("показано: %1").arg(model_->rowCount());
        if (model_->filtering()) {
            shown += QStringLiteral(" (фильтр: %1%)")
                         .arg(100 * (model_->frameCount() - model_->undecided()) /
                              std::max<std::size_t>(1, model_->frameCount()));
        }
        parts << shown;
    }
    return parts.join(QStringLiteral("    "));
}

void FramesPart::currentRowChanged(int row) {
    if (restoring_ || row < 0) {
        return;
    }
    const osc::Frame* f = model_->frameAt(row);
    if (!f) {
        return;
    }
    current_ = model_->refAt(row);
    updatePartnerAction();
    const osc::Frame frame = *f;  // the handlers below may let the capture go on
    guarded(messages_, [&] { showFrame(frame); });
}

bool FramesPart::chooseRow(int row) {
    if (row < 0 || row >= model_->rowCount()) {
        return false;
    }
    const QModelIndex index = model_->index(row, 0);
    if (table_->currentIndex().row() == row) {
        currentRowChanged(row);  // chosen again: shown again
    } else {
        table_->setCurrentIndex(index);
    }
    table_->scrollTo(index);
    return true;
}

void FramesPart::showFrame(const osc::Frame& f) {
    const osc::FrameOptions& o = engine_.frames.options();
    osc::BitStreamOptions decoder;
    decoder.bitsPerGroup = 8;
    decoder.reverse = o.order == osc::BitOrder::MsbFirst;
    decoder.invert = o.invert;
    decoder.unstuff = o.stuffing;
    plot_.setWindow(osc::windowShowingFrame(plot_.windowRange(), f.start, f.end),
                    osc::WindowChange::Action);
    emit frameChosen({.channel = f.channel,
                      .markerX = static_cast<double>(f.start),
                      .cursorX = static_cast<double>(f.end),
                      .lineBits = osc::frameLineBits(f, o.order),
                      .decoder = decoder});
}

void FramesPart::showCurrentOnPlot() {
    const int row = table_->currentIndex().row();
    if (row >= 0) {
        chooseRow(row);
    }
    emit plotWanted();
}

int FramesPart::rowNearWindow(int direction) const {
    const int n = model_->rowCount();
    const double left = plot_.window().minimum();
    if (direction > 0) {
        for (int r = 0; r < n; ++r) {
            const osc::Frame* f = model_->frameAt(r);
            if (f && static_cast<double>(f->start) >= left) {
                return r;
            }
        }
        return n > 0 ? 0 : -1;
    }
    for (int r = n - 1; r >= 0; --r) {
        const osc::Frame* f = model_->frameAt(r);
        if (f && static_cast<double>(f->start) < left) {
            return r;
        }
    }
    return n - 1;
}

void FramesPart::step(int direction, bool badOnly) {
    refresh();
    const int n = model_->rowCount();
    if (n == 0) {
        return;
    }
    int row = table_->currentIndex().row();
    if (row < 0) {
        row = rowNearWindow(direction);
        if (row < 0) {
            return;
        }
        const osc::Frame* f = model_->frameAt(row);
        if (!badOnly || (f && !f->good())) {
            chooseRow(row);
            return;
        }
    }
    for (int r = row + direction; r >= 0 && r < n; r += direction) {
        const osc::Frame* f = model_->frameAt(r);
        if (f && (!badOnly || !f->good())) {
            chooseRow(r);
            return;
        }
    }
    QApplication::beep();  // nothing further that way
}

void FramesPart::next() {
    step(1, false);
}

void FramesPart::previous() {
    step(-1, false);
}

void FramesPart::nextBad() {
    step(1, true);
}

void FramesPart::previousBad() {
    step(-1, true);
}

void FramesPart::exportCsv() {
    QString name;
    QFileDialog dialog(page_->window());
    dialog.setObjectName(QStringLiteral("FramesSaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("Таблицы CSV (*.csv)"));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (runModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        name = dialog.selectedFiles().front();
    }
    if (!name.isEmpty()) {
        exportCsvTo(name);
    }
}

void FramesPart::exportCsvTo(const QString& fileName) {
    refresh();
    ExportProgressDialog progress(page_ ? page_->window() : nullptr, {});
    writeExportFile(
        fileName,
        [&](osc::OutputSink& sink, const osc::WriteProgress& step) {
            return model_->writeCsv(sink, step);
        },
        progress);
}

}  // namespace ui
