#include "ui/window/TriggerPart.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <climits>

#include "core/capture/event_report.h"
#include "core/view/time_text.h"
#include "ui/plot/PlotState.h"
#include "ui/settings/FormStorage.h"
#include "ui/widgets/ActionKeys.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

const QColor kWrongBase(255, 214, 214);
const QColor kMarkColour(255, 140, 0);
const QColor kStripMarkColour(255, 40, 0);

QString kindText(osc::TriggerKind kind) {
    switch (kind) {
        case osc::TriggerKind::Frame:
            return QStringLiteral("кадр");
        case osc::TriggerKind::Silence:
            return QStringLiteral("тишина");
        case osc::TriggerKind::Loss:
            return QStringLiteral("потеря");
    }
    return {};
}

QString channelName(int channel) {
    return channel >= 0 && channel < osc::kChannelCount
               ? QString::fromUtf8(osc::kChannels[static_cast<std::size_t>(channel)].name)
               : QString();
}

// "№ 12, Приём1: 05 01 42 …": the frame's number, its line and its first bytes.
QString frameText(const osc::TriggerEvent& e) {
    if (!e.frame) {
        return {};
    }
    constexpr std::size_t kShown = 12;
    QString bytes;
    const std::size_t n = e.frame->bytes.size();
    for (std::size_t i = 0; i < std::min(n, kShown); ++i) {
        bytes += QStringLiteral("%1 ").arg(e.frame->bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    }
    if (n > kShown) {
        bytes += QStringLiteral("…");
    }
    return QStringLiteral("№ %1, %2: %3")
        .arg(e.frameNumber)
        .arg(channelName(e.frame->channel), bytes.trimmed());
}

QString helpText() {
    return QStringLiteral(
        "Условие события: фильтр кадров (status == bad, issue == no_answer,\n"
        "address == 5 && type == REJ, bytes ~ \"01 3E ??\", rt > 40),\n"
        "silent(rx1) > 2s — линия молчит дольше, loss — потери посылок.");
}

}  // namespace

// The events of the capture for the list: rows over the triggers' events, no copies.
class TriggerEventsModel : public QAbstractTableModel {
  public:
    TriggerEventsModel(const osc::CaptureTriggers& triggers, QObject* parent)
        : QAbstractTableModel(parent), triggers_(triggers) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : shown_;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 4;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
            return {};
        }
        static const QString kHeaders[] = {QStringLiteral("Время"), QStringLiteral("Вид"),
                                           QStringLiteral("Кадр"), QStringLiteral("Файл")};
        return section >= 0 && section < 4 ? kHeaders[section] : QVariant();
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const auto row = static_cast<std::size_t>(index.row());
        if (!index.isValid() || row >= triggers_.events().size()) {
            return {};
        }
        const osc::CaptureEvent& e = triggers_.events()[row];
        if (role == Qt::DisplayRole) {
            switch (index.column()) {
                case 0:
                    return QString::fromStdString(
                        osc::PositionText(TriggerPart::eventTick(e.event), bitRate));
                case 1:
                    return kindText(e.event.kind) + lineOf(e.event);
                case 2:
                    return frameText(e.event);
                case 3:
                    return QString::fromStdString(e.file.filename().string());
                default:
                    return {};
            }
        }
        if (role == Qt::ToolTipRole) {
            QString tip = QStringLiteral("Условие: ") + QString::fromStdString(e.trigger);
            if (!e.file.empty()) {
                tip += QStringLiteral("\nФайл: ") +
                       QDir::toNativeSeparators(QString::fromStdString(e.file.string()));
            }
            return tip;
        }
        return {};
    }

    // ", Приём1" for a silence: the line of its condition.
    QString lineOf(const osc::TriggerEvent& e) const {
        const auto& conditions = triggers_.settings().conditions;
        if (e.kind != osc::TriggerKind::Silence || e.condition >= conditions.size()) {
            return {};
        }
        return QStringLiteral(", ") + channelName(conditions[e.condition].channel);
    }

    // The events the triggers hold now: the new ones appended, or all again after a start.
    void update() {
        const auto n = static_cast<int>(std::min<std::size_t>(triggers_.events().size(), INT_MAX));
        if (n < shown_) {
            beginResetModel();
            shown_ = n;
            endResetModel();
        } else if (n > shown_) {
            beginInsertRows({}, shown_, n - 1);
            shown_ = n;
            endInsertRows();
        }
    }
    void timesChanged() {
        if (shown_ > 0) {
            emit dataChanged(index(0, 0), index(shown_ - 1, 0));
        }
    }

    std::optional<double> bitRate;

  private:
    const osc::CaptureTriggers& triggers_;
    int shown_ = 0;
};

TriggerPart::TriggerPart(const osc::CaptureEngine& engine, const PlotState& plot, QWidget* window,
                         Sources sources)
    : QObject(window),
      engine_(engine),
      window_(window),
      sources_(std::move(sources)),
      triggers_(engine, [this](std::int64_t receivedMs) { return eventFileName(receivedMs); }) {
    if (!sources_.clockMs) {
        sources_.clockMs = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
    if (!sources_.wallMs) {
        sources_.wallMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    }
    timer_.setInterval(kEvaluateMs);
    connect(&timer_, &QTimer::timeout, this,
            [this] { guarded(window_, [this] { evaluateNow(); }); });
    buildPage();
    setBitRate(plot.bitRate());
    connect(&plot, &PlotState::bitRateChanged, this, [this, &plot] { setBitRate(plot.bitRate()); });
}

TriggerPart::~TriggerPart() = default;

QAction* TriggerPart::make(const char* name, const QString& caption, const QKeySequence& key,
                           std::function<void()> run) {
    auto* a = new QAction(caption, window_);
    a->setObjectName(QString::fromLatin1(name));
    keyed(a, {key});
    window_->addAction(a);
    connect(a, &QAction::triggered, this,
            [this, run = std::move(run)] { guarded(window_, [&] { run(); }); });
    actions_.push_back(a);
    return a;
}

void TriggerPart::buildPage() {
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("TriggerPage"));
    auto* column = new QVBoxLayout(page_);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);
    column->addLayout(grid);

    const auto edit = [this](const char* name, const QString& placeholder, const QString& tip) {
        auto* e = new QLineEdit(page_);
        e->setObjectName(QString::fromLatin1(name));
        e->setPlaceholderText(placeholder);
        e->setToolTip(tip);
        e->setProperty("help", tip);
        e->setMinimumWidth(48);  // the window keeps its designed width
        return e;
    };
    const auto caption = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, page_);
        l->setBuddy(buddy);
        return l;
    };

    on_ = new QCheckBox(QStringLiteral("Включить"), page_);
    on_->setObjectName(QStringLiteral("cbTriggerOn"));
    condition_ =
        edit("edTriggerCondition",
             QStringLiteral("Условие, например: status == bad || issue == no_answer"), helpText());
    grid->addWidget(on_, 0, 0);
    grid->addWidget(condition_, 0, 1, 1, 4);

    const QString spanTip = QStringLiteral(
        "Секунды (10, 500ms, 2m) или биты (4096b); секунды — в биты по скорости "
        "линии, если она задана");
    pre_ =
        edit("edTriggerPre", QStringLiteral("10s"), QStringLiteral("Окно до события. ") + spanTip);
    post_ = edit("edTriggerPost", QStringLiteral("10s"),
                 QStringLiteral("Окно после события. ") + spanTip);
    pre_->setText(QStringLiteral("10s"));
    post_->setText(QStringLiteral("10s"));
    mode_ = new QComboBox(page_);
    mode_->setObjectName(QStringLiteral("cmbTriggerMode"));
    mode_->addItems({QStringLiteral("Отметить"), QStringLiteral("Остановить"),
                     QStringLiteral("Сохранять каждое")});
    mode_->setItemData(0, QStringLiteral("Отметить событие и продолжать"), Qt::ToolTipRole);
    mode_->setItemData(1, QStringLiteral("Остановить захват, когда пройдёт окно после события"),
                       Qt::ToolTipRole);
    mode_->setItemData(2,
                       QStringLiteral("Записать окно каждого события в файл .osc в папку и "
                                      "продолжать"),
                       Qt::ToolTipRole);
    mode_->setToolTip(QStringLiteral("Что делать при событии"));
    duration_ = edit("edTriggerDuration", QStringLiteral("без ограничения"),
                     QStringLiteral("Остановить захват через это время после пуска: 30, 15m, 2h"));
    // Two pairs a row, so that the page fits a narrow window.
    grid->addWidget(caption(QStringLiteral("До"), pre_), 1, 0);
    grid->addWidget(pre_, 1, 1);
    grid->addWidget(caption(QStringLiteral("После"), post_), 1, 2);
    grid->addWidget(post_, 1, 3, 1, 2);
    grid->addWidget(caption(QStringLiteral("Режим"), mode_), 2, 0);
    grid->addWidget(mode_, 2, 1);
    grid->addWidget(caption(QStringLiteral("Длительность"), duration_), 2, 2);
    grid->addWidget(duration_, 2, 3, 1, 2);

    folder_ = edit("edTriggerFolder", QDir::toNativeSeparators(QDir::homePath() + "/osc-events"),
                   QStringLiteral("Папка для файлов событий («Сохранять каждое»)"));
    auto* browse = new QToolButton(page_);
    browse->setObjectName(QStringLiteral("btnTriggerFolder"));
    grid->addWidget(caption(QStringLiteral("Папка"), folder_), 3, 0);
    grid->addWidget(folder_, 3, 1, 1, 3);
    grid->addWidget(browse, 3, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    state_ = new QLabel(page_);
    state_->setObjectName(QStringLiteral("lblTriggerState"));
    // A long message (a parser's, while the condition is typed) never widens the window.
    state_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(state_);

    model_ = new TriggerEventsModel(triggers_, this);
    table_ = new QTableView(page_);
    table_->setObjectName(QStringLiteral("TriggerEvents"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setColumnWidth(0, 150);
    table_->setColumnWidth(1, 110);
    table_->setColumnWidth(2, 260);
    table_->setToolTip(
        QStringLiteral("События захвата: щелчок — к событию на графике, двойной щелчок — и "
                       "показать график"));
    column->addWidget(table_, 1);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                guarded(window_, [&] { chooseEvent(current.row()); });
            });
    connect(table_, &QTableView::activated, this, [this](const QModelIndex& index) {
        guarded(window_, [&] {
            chooseEvent(index.row());
            emit plotWanted();
        });
    });

    make("actTriggers", QStringLiteral("Триггеры"), QKeySequence(Qt::CTRL | Qt::Key_T), [this] {
        emit pageWanted();
        condition_->setFocus();
    });
    QAction* onAction =
        make("actTriggerOn", QStringLiteral("Триггер включён"),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T), [this] { on_->toggle(); });
    on_->setToolTip(onAction->toolTip() + QStringLiteral(": со следующего пуска"));
    QAction* folderAction =
        make("actTriggerFolder", QStringLiteral("Папка событий…"),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), [this] { chooseFolder(); });
    browse->setDefaultAction(folderAction);
    browse->setText(QStringLiteral("…"));
    make("actNextEvent", QStringLiteral("Следующее событие"), QKeySequence(Qt::Key_F8),
         [this] { nextEvent(1); });
    make("actPrevEvent", QStringLiteral("Предыдущее событие"), QKeySequence(Qt::SHIFT | Qt::Key_F8),
         [this] { nextEvent(-1); });
    // Each change checked at once, once every field is there.
    for (QLineEdit* e : {condition_, pre_, post_, duration_, folder_}) {
        connect(e, &QLineEdit::textChanged, this, [this] { checkFields(); });
    }
    connect(mode_, &QComboBox::currentIndexChanged, this, [this] { checkFields(); });
    connect(on_, &QCheckBox::toggled, this, [this] { checkFields(); });
    // A condition typed is meant to be used: the box follows it.
    connect(condition_, &QLineEdit::textEdited, this,
            [this](const QString& text) { on_->setChecked(!text.trimmed().isEmpty()); });
    checkFields();
}

void TriggerPart::storeSettingsIn(FormStorage& storage) {
    storage.addStoredProperty(on_, QStringLiteral("Checked"));
    for (QLineEdit* e : {condition_, pre_, post_, duration_, folder_}) {
        storage.addStoredProperty(e, QStringLiteral("Text"));
    }
    storage.addStoredProperty(mode_, QStringLiteral("ItemIndex"));
}

std::optional<osc::CaptureTriggerSettings> TriggerPart::settingsFromFields(QString* error) {
    osc::CaptureTriggerSettings s;
    QString wrong;
    const auto mark = [&](QLineEdit* field, const QString& message) {
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base,
                         message.isEmpty() ? page_->palette().color(QPalette::Base) : kWrongBase);
        field->setPalette(palette);
        field->setToolTip(message.isEmpty() ? field->property("help").toString() : message);
        if (wrong.isEmpty() && !message.isEmpty()) {
            wrong = message;
        }
    };
    const QString text = condition_->text().trimmed();
    if (text.isEmpty()) {
        mark(condition_, {});
    } else {
        const osc::TriggerParse parse = osc::parseTrigger(
            text.toStdString(), osc::FilterSettings{bitRate_}, osc::FilterLanguage::Russian);
        mark(condition_, parse.ok() ? QString() : QString::fromStdString(parse.error));
        if (parse.ok()) {
            s.conditions.push_back(*parse.condition);
        }
    }
    const auto span = [&](QLineEdit* field, osc::TimeSpan& out) {
        const QString t = field->text().trimmed();
        if (t.isEmpty()) {
            mark(field, {});  // the default stays
            return;
        }
        const std::optional<osc::TimeSpan> parsed = osc::parseTimeSpan(t.toStdString());
        mark(field, parsed ? QString()
                           : QStringLiteral("«%1» — не время вида 10, 500ms, 2m или 4096b").arg(t));
        if (parsed) {
            out = *parsed;
        }
    };
    span(pre_, s.windows.pre);
    span(post_, s.windows.post);
    s.windows.bitRate = bitRate_;
    s.mode = static_cast<osc::TriggerMode>(std::clamp(mode_->currentIndex(), 0, 2));
    const QString durationText = duration_->text().trimmed();
    if (!durationText.isEmpty()) {
        const std::optional<osc::TimeSpan> d = osc::parseTimeSpan(durationText.toStdString());
        mark(duration_, d && d->unit == osc::TimeSpan::Unit::Milliseconds
                            ? QString()
                            : QStringLiteral("«%1» — не время вида 30, 15m, 2h").arg(durationText));
    } else {
        mark(duration_, {});
    }
    const QString folder = folder_->text().trimmed();
    s.folder = (folder.isEmpty() ? folder_->placeholderText() : folder).toStdString();
    mark(folder_, {});
    if (error) {
        *error = wrong;
    }
    if (!wrong.isEmpty()) {
        return std::nullopt;
    }
    if (!on_->isChecked()) {
        s.conditions.clear();
    }
    return s;
}

std::optional<std::int64_t> TriggerPart::durationMs() const {
    const std::optional<osc::TimeSpan> d =
        osc::parseTimeSpan(duration_->text().trimmed().toStdString());
    if (!d || d->unit != osc::TimeSpan::Unit::Milliseconds || d->amount < 1) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(d->amount);
}

void TriggerPart::checkFields() {
    QString error;
    settingsFromFields(&error);
    folder_->setEnabled(mode_->currentIndex() == 2);
    if (capturing_) {
        return;  // the panel tells the running capture's state
    }
    if (!error.isEmpty()) {
        showState(error, true);
    } else if (!on_->isChecked() || condition_->text().trimmed().isEmpty()) {
        showState(QStringLiteral("Триггер выключен"));
    } else {
        showState(QStringLiteral("Триггер взводится при пуске осциллографа (F5)"));
    }
}

void TriggerPart::showState(const QString& text, bool wrong) {
    state_->setText(text);
    state_->setToolTip(text);
    QPalette palette = state_->palette();
    palette.setColor(QPalette::WindowText,
                     wrong ? QColor(190, 0, 0) : page_->palette().color(QPalette::WindowText));
    state_->setPalette(palette);
}

void TriggerPart::chooseFolder() {
    QString folder;
    if (sources_.chooseFolder) {
        folder = sources_.chooseFolder();
    } else {
        folder = QFileDialog::getExistingDirectory(
            window_, QStringLiteral("Папка событий"),
            folder_->text().isEmpty() ? folder_->placeholderText() : folder_->text());
    }
    if (!folder.isEmpty()) {
        folder_->setText(QDir::toNativeSeparators(folder));
        mode_->setCurrentIndex(2);
    }
}

std::string TriggerPart::eventFileName(std::int64_t receivedMs) const {
    const std::int64_t wall = receivedMs + sources_.wallMs() - sources_.clockMs();
    return osc::fileTimeText(wall, true);
}

void TriggerPart::started(bool replay) {
    before_ = engine_.state;
    capturing_ = !replay;
    stopAsked_ = false;
    marks_.clear();
    if (replay) {
        timer_.stop();
        triggers_.end();
        triggers_.setSettings({});
        triggers_.start(sources_.clockMs());  // no conditions: nothing armed, the list empty
        model_->update();
        emit eventsChanged();
        checkFields();
        return;
    }
    startedMs_ = sources_.clockMs();
    stats_.start(startedMs_, sources_.receiverDrops ? sources_.receiverDrops() : 0);
    breaksSeen_ = 0;
    QString error;
    std::optional<osc::CaptureTriggerSettings> s = settingsFromFields(&error);
    durationMs_ = durationMs();
    triggers_.setSettings(s ? std::move(*s) : osc::CaptureTriggerSettings{});
    triggers_.start(startedMs_);
    model_->update();
    emit eventsChanged();
    if (!error.isEmpty()) {
        showState(QStringLiteral("Захват без триггера: ") + error, true);
    } else if (triggers_.active()) {
        showState(QStringLiteral("Триггер взведён: ") + condition_->text().trimmed());
    } else {
        showState(QStringLiteral("Триггер выключен"));
    }
    if (triggers_.active() || durationMs_) {
        timer_.start();
    }
}

void TriggerPart::stopped() {
    if (!capturing_) {
        return;
    }
    capturing_ = false;
    timer_.stop();
    const bool wasActive = triggers_.active();
    addEvents(triggers_.end());
    if (const std::string error = triggers_.takeError(); !error.empty()) {
        showState(QStringLiteral("Файл события не записан: ") + QString::fromStdString(error),
                  true);
    } else if (wasActive) {
        showState(QStringLiteral("Захват остановлен; событий: %1").arg(triggers_.events().size()));
    } else {
        checkFields();
    }
}

void TriggerPart::datagramDecoded(std::span<const std::uint8_t> datagram, osc::DatagramKind kind) {
    if (capturing_ && triggers_.active()) {
        const std::int64_t now = sources_.clockMs();
        stats_.datagram(datagram, kind);
        triggers_.datagramDecoded(datagram, before_, now);
        if (stats_.streamBreaks() != breaksSeen_) {
            breaksSeen_ = stats_.streamBreaks();
            triggers_.losses(stats_.streamBreaks(), stats_.receiverDrops());
        }
    }
    before_ = engine_.state;
}

void TriggerPart::evaluateNow() {
    if (!capturing_) {
        return;
    }
    if (triggers_.active()) {
        if (sources_.receiverDrops) {
            stats_.setReceiverDrops(sources_.receiverDrops());
        }
        triggers_.losses(stats_.streamBreaks(), stats_.receiverDrops());
        addEvents(triggers_.evaluate());
        if (const std::string error = triggers_.takeError(); !error.empty()) {
            showState(QStringLiteral("Файл события не записан: ") + QString::fromStdString(error),
                      true);
        }
        if (triggers_.stopDue()) {
            requestStop();
        }
    }
    if (durationMs_ && sources_.clockMs() - startedMs_ >= *durationMs_) {
        requestStop();
    }
}

void TriggerPart::requestStop() {
    if (!stopAsked_) {
        stopAsked_ = true;
        emit stopRequested();
    }
}

void TriggerPart::addEvents(const std::vector<osc::CaptureEvent>& events) {
    if (events.empty()) {
        return;
    }
    for (const osc::CaptureEvent& e : events) {
        const osc::Tick t = eventTick(e.event);
        marks_.insert(std::upper_bound(marks_.begin(), marks_.end(), t), t);
    }
    model_->update();
    if (capturing_) {
        showState(QStringLiteral("Триггер взведён: %1; событий: %2")
                      .arg(condition_->text().trimmed())
                      .arg(triggers_.events().size()));
    }
    emit eventsChanged();
}

void TriggerPart::setBitRate(std::optional<double> rate) {
    bitRate_ = rate;
    model_->bitRate = rate;
    model_->timesChanged();
    checkFields();
}

osc::Tick TriggerPart::eventTick(const osc::TriggerEvent& e) {
    return e.kind == osc::TriggerKind::Frame ? e.from : e.at;
}

void TriggerPart::chooseEvent(int row) {
    const auto& events = triggers_.events();
    if (row < 0 || static_cast<std::size_t>(row) >= events.size()) {
        return;
    }
    const osc::TriggerEvent& e = events[static_cast<std::size_t>(row)].event;
    // A frame in the middle of the window; otherwise the moment itself.
    emit goTo(e.kind == osc::TriggerKind::Frame ? e.from + (e.to - e.from) / 2 : e.at);
}

void TriggerPart::nextEvent(int direction) {
    const auto& events = triggers_.events();
    const double centre = (engine_.window.minimum() + engine_.window.maximum()) / 2;
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const auto t = static_cast<double>(eventTick(events[i].event));
        const bool ahead = direction > 0 ? t > centre + 1 : t < centre - 1;
        if (!ahead) {
            continue;
        }
        if (!best || (direction > 0 ? t < static_cast<double>(eventTick(events[*best].event))
                                    : t > static_cast<double>(eventTick(events[*best].event)))) {
            best = i;
        }
    }
    if (!best) {
        return;
    }
    table_->selectRow(static_cast<int>(*best));  // moves the plot through the current row
    emit goTo(eventTick(events[*best].event));
}

void TriggerPart::paintMarks(QPainter& p, const osc::PlotMapping& m, bool strip) const {
    if (marks_.empty() || m.columns <= 0) {
        return;
    }
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    const double top = m.top;
    const double bottom = m.top + m.height;
    auto it = std::lower_bound(marks_.begin(), marks_.end(), m.windowMin,
                               [](osc::Tick t, double v) { return static_cast<double>(t) < v; });
    QColor faint = kMarkColour;
    faint.setAlpha(90);
    while (it != marks_.end() && static_cast<double>(*it) < m.windowMax) {
        const double px = std::floor(m.pixelForTick(static_cast<double>(*it))) + 0.5;
        if (strip) {
            // Two pixels wide and red, to stand out of the strip's olive and yellow.
            p.fillRect(QRectF(px - 0.5, top, 2, std::min(7.0, m.height)), kStripMarkColour);
        } else {
            p.setPen(faint);
            p.drawLine(QPointF(px, top + 6), QPointF(px, bottom));
            const QPolygonF flag{QPointF(px, top + 6), QPointF(px - 4, top), QPointF(px + 4, top)};
            p.setPen(Qt::NoPen);
            p.setBrush(kMarkColour);
            p.drawPolygon(flag);
        }
        // One mark a pixel column: on to the first event right of this column.
        const double next = m.tickAt(std::floor(px) + 1);
        it = std::lower_bound(it + 1, marks_.end(), next,
                              [](osc::Tick t, double v) { return static_cast<double>(t) < v; });
    }
    p.restore();
}

}  // namespace ui
