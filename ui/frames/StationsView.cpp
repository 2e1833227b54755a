#include "ui/frames/StationsView.h"

#include <QColor>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

#include "core/view/time_text.h"

namespace ui {

namespace {

// The lines as the filter language names them.
constexpr const char* kLineNames[osc::kChannelCount] = {"strobe", "tx", "rx1", "rx2"};
const QString kAnyFields = QStringLiteral("(type == I || type == S || type == U)");

QString both(const QString& a, const QString& b) {
    if (a.isEmpty()) {
        return b;
    }
    if (b.isEmpty()) {
        return a;
    }
    return a + QStringLiteral(" && ") + b;
}

// Bits of a response time as the filter reads them back exactly (ticks are 1/256 of a bit).
QString bitsValue(osc::Tick ticks) {
    return QString::number(static_cast<double>(ticks) / osc::kTicksPerBit, 'g', 17);
}

QVariant rightAligned() {
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
}

QString clickTip(const QString& filter) {
    return filter.isEmpty() ? QString()
                            : QStringLiteral("Щелчок — показать эти кадры: %1").arg(filter);
}

void setUpTable(QTableView* t) {
    t->setSelectionBehavior(QAbstractItemView::SelectItems);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setWordWrap(false);
    t->setAlternatingRowColors(true);
    t->verticalHeader()->hide();
    t->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 4);
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->setCursor(Qt::PointingHandCursor);
}

}  // namespace

// ---- StationsModel ------------------------------------------------------------------------------

int StationsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(stations_.size());
}

int StationsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString StationsModel::filterFor(const osc::StationStats& s, int column) {
    const QString station =
        s.hasAddress ? QStringLiteral("address == %1").arg(s.address) : QString();
    auto with = [&](const QString& clause) { return both(station, clause); };
    auto counted = [&](std::uint64_t n, const QString& clause) {
        return n == 0 ? QString() : with(clause);
    };
    switch (column) {
        case Address:
        case Frames:
        case Bytes:
            return station.isEmpty() ? kAnyFields : station;
        case IFrames:
            return counted(s.iFrames, QStringLiteral("type == I"));
        case SFrames:
            return counted(s.sFrames, QStringLiteral("type == S"));
        case UFrames:
            return counted(s.uFrames, QStringLiteral("type == U"));
        case Polls:
            return counted(s.polls, QStringLiteral("role == command && pf == 1"));
        case Answers:
        case ResponseMean:
            return counted(s.answers, QStringLiteral("rt >= 0"));
        case NoAnswer:
            return counted(s.noAnswer, QStringLiteral("issue == no_answer"));
        case Retransmission:
            return counted(s.retransmission, QStringLiteral("issue == retransmission"));
        case SequenceGap:
            return counted(s.sequenceGap, QStringLiteral("issue == sequence_gap"));
        case Unsolicited:
            return counted(s.unsolicited, QStringLiteral("issue == unsolicited"));
        case Rej:
            return counted(s.rej, QStringLiteral("command == REJ"));
        case Srej:
            return counted(s.srej, QStringLiteral("command == SREJ"));
        case Rnr:
            return counted(s.rnr, QStringLiteral("command == RNR"));
        case Frmr:
            return counted(s.frmr, QStringLiteral("command == FRMR"));
        case ResponseMin:
            return counted(s.answers, QStringLiteral("rt == ") + bitsValue(s.responseMin));
        case ResponseP95:
            return counted(s.answers, QStringLiteral("rt >= ") + bitsValue(s.responseP95));
        case ResponseMax:
            return counted(s.answers, QStringLiteral("rt == ") + bitsValue(s.responseMax));
        default:
            return {};
    }
}

QString StationsModel::filterFor(int row, int column) const {
    if (row < 0 || static_cast<std::size_t>(row) >= stations_.size()) {
        return {};
    }
    return filterFor(stations_[static_cast<std::size_t>(row)], column);
}

QVariant StationsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= stations_.size()) {
        return {};
    }
    const osc::StationStats& s = stations_[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    auto time = [&](osc::Tick ticks) -> QVariant {
        if (s.answers == 0) {
            return QString();
        }
        return QString::fromStdString(osc::PositionText(ticks, bitRate_));
    };
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case Address:
                    return s.hasAddress ? QString::number(s.address) : QStringLiteral("—");
                case Frames:
                    return QString::number(s.frames);
                case Bytes:
                    return QString::number(s.bytes);
                case IFrames:
                    return QString::number(s.iFrames);
                case SFrames:
                    return QString::number(s.sFrames);
                case UFrames:
                    return QString::number(s.uFrames);
                case Polls:
                    return QString::number(s.polls);
                case Answers:
                    return QString::number(s.answers);
                case NoAnswer:
                    return QString::number(s.noAnswer);
                case Retransmission:
                    return QString::number(s.retransmission);
                case SequenceGap:
                    return QString::number(s.sequenceGap);
                case Unsolicited:
                    return QString::number(s.unsolicited);
                case Rej:
                    return QString::number(s.rej);
                case Srej:
                    return QString::number(s.srej);
                case Rnr:
                    return QString::number(s.rnr);
                case Frmr:
                    return QString::number(s.frmr);
                case ResponseMin:
                    return time(s.responseMin);
                case ResponseMean:
                    return time(static_cast<osc::Tick>(std::llround(s.responseMean)));
                case ResponseP95:
                    return time(s.responseP95);
                case ResponseMax:
                    return time(s.responseMax);
                default:
                    return {};
            }
        case Qt::ToolTipRole:
            return clickTip(filterFor(index.row(), column));
        case Qt::ForegroundRole: {
            const std::uint64_t issues[] = {s.noAnswer, s.retransmission, s.sequenceGap,
                                            s.unsolicited};
            if (column >= NoAnswer && column <= Unsolicited && issues[column - NoAnswer] > 0) {
                return QColor(170, 95, 0);
            }
            return {};
        }
        case Qt::TextAlignmentRole:
            return column == Address || column >= ResponseMin
                       ? QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter)
                       : rightAligned();
        default:
            return {};
    }
}

QVariant StationsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) {
        return {};
    }
    static const char* const kTitles[ColumnCount] = {
        "Адрес",   "Кадров",     "Байт",       "I",         "S",           "U",          "Запросов",
        "Ответов", "Нет ответа", "Повторов",   "Пропусков", "Без запроса", "REJ",        "SREJ",
        "RNR",     "FRMR",       "Ответ мин.", "Ответ ср.", "Ответ 95%",   "Ответ макс."};
    static const char* const kTips[ColumnCount] = {"Адрес станции",
                                                   "Верные кадры станции в обе стороны",
                                                   "Байты этих кадров между флагами",
                                                   "Информационные кадры",
                                                   "Супервизорные кадры (RR, RNR, REJ, SREJ)",
                                                   "Ненумерованные кадры",
                                                   "Запросы с битом P",
                                                   "Запросы, на которые пришёл ответ",
                                                   "Запросы без ответа",
                                                   "I-кадры, посланные повторно (тот же N(S))",
                                                   "I-кадры с пропуском N(S)",
                                                   "Ответы без запроса этой станции",
                                                   "Кадры REJ",
                                                   "Кадры SREJ",
                                                   "Кадры RNR",
                                                   "Кадры FRMR",
                                                   "Наименьшее время ответа",
                                                   "Среднее время ответа",
                                                   "95% ответов не дольше этого",
                                                   "Наибольшее время ответа"};
    if (role == Qt::DisplayRole) {
        return QString::fromUtf8(kTitles[section]);
    }
    if (role == Qt::ToolTipRole) {
        return QString::fromUtf8(kTips[section]);
    }
    return {};
}

void StationsModel::setStations(std::vector<osc::StationStats> stations) {
    if (stations == stations_) {
        return;
    }
    bool sameRows = stations.size() == stations_.size();
    for (std::size_t i = 0; sameRows && i < stations.size(); ++i) {
        sameRows = stations[i].address == stations_[i].address;
    }
    if (!sameRows) {
        beginResetModel();
        stations_ = std::move(stations);
        endResetModel();
        return;
    }
    for (std::size_t i = 0; i < stations.size(); ++i) {
        if (stations[i] != stations_[i]) {
            stations_[i] = stations[i];
            const int row = static_cast<int>(i);
            emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
        }
    }
}

void StationsModel::setBitRate(std::optional<double> rate) {
    if (rate == bitRate_) {
        return;
    }
    bitRate_ = rate;
    if (!stations_.empty()) {
        emit dataChanged(index(0, ResponseMin),
                         index(static_cast<int>(stations_.size()) - 1, ResponseMax));
    }
}

// ---- LineStatsModel -----------------------------------------------------------------------------

int LineStatsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(channels_.size());
}

int LineStatsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

int LineStatsModel::channelAt(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < channels_.size()
               ? channels_[static_cast<std::size_t>(row)]
               : -1;
}

QString LineStatsModel::lineFilter(int channel, int column) {
    if (channel < 0 || channel >= osc::kChannelCount) {
        return {};
    }
    QString line = QStringLiteral("channel == %1").arg(QLatin1String(kLineNames[channel]));
    switch (column) {
        case Line:
        case Frames:
            return line;
        case Good:
            return both(line, QStringLiteral("error == none"));
        case Bad:
            return both(line, QStringLiteral("error != none"));
        case Aborts:
            return both(line, QStringLiteral("error == abort"));
        case NoFields:
            return both(line, QStringLiteral("error == none && !") + kAnyFields);
        default:
            return {};
    }
}

QString LineStatsModel::filterFor(int row, int column) const {
    const int channel = channelAt(row);
    if (channel < 0) {
        return {};
    }
    const osc::LineStats& l = lines_[static_cast<std::size_t>(channel)];
    const std::uint64_t counts[ColumnCount] = {l.frames, l.frames, l.good,
                                               l.bad,    l.aborts, l.noFields};
    return counts[column] == 0 && column != Line ? QString() : lineFilter(channel, column);
}

QVariant LineStatsModel::data(const QModelIndex& index, int role) const {
    const int channel = index.isValid() ? channelAt(index.row()) : -1;
    if (channel < 0) {
        return {};
    }
    const osc::LineStats& l = lines_[static_cast<std::size_t>(channel)];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case Line:
                    return QString::fromUtf8(
                        osc::kChannels[static_cast<std::size_t>(channel)].name);
                case Frames:
                    return QString::number(l.frames);
                case Good:
                    return QString::number(l.good);
                case Bad:
                    return QString::number(l.bad);
                case Aborts:
                    return QString::number(l.aborts);
                case NoFields:
                    return QString::number(l.noFields);
                default:
                    return {};
            }
        case Qt::ToolTipRole:
            return clickTip(filterFor(index.row(), column));
        case Qt::ForegroundRole:
            if ((column == Bad && l.bad > 0) || (column == Aborts && l.aborts > 0)) {
                return QColor(200, 0, 0);
            }
            return {};
        case Qt::TextAlignmentRole:
            return column == Line ? QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter)
                                  : rightAligned();
        default:
            return {};
    }
}

QVariant LineStatsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) {
        return {};
    }
    static const char* const kTitles[ColumnCount] = {"Линия",     "Кадров",     "Верных",
                                                     "Ошибочных", "Прерванных", "Без полей"};
    static const char* const kTips[ColumnCount] = {
        "Линия",
        "Все кадры линии",
        "Кадры без ошибок",
        "Кадры с ошибкой",
        "Прерванные кадры",
        "Верные кадры, слишком короткие для адреса и управляющего поля"};
    if (role == Qt::DisplayRole) {
        return QString::fromUtf8(kTitles[section]);
    }
    if (role == Qt::ToolTipRole) {
        return QString::fromUtf8(kTips[section]);
    }
    return {};
}

void LineStatsModel::setLines(const std::array<osc::LineStats, osc::kChannelCount>& lines,
                              unsigned channels) {
    std::vector<int> shown;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        if ((channels & (1u << c)) != 0) {
            shown.push_back(c);
        }
    }
    if (shown != channels_) {
        beginResetModel();
        channels_ = std::move(shown);
        lines_ = lines;
        endResetModel();
        return;
    }
    if (lines != lines_) {
        lines_ = lines;
        if (!channels_.empty()) {
            emit dataChanged(index(0, 0),
                             index(static_cast<int>(channels_.size()) - 1, ColumnCount - 1));
        }
    }
}

// ---- StationsView -------------------------------------------------------------------------------

StationsView::StationsView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("StationsView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    empty_ = new QLabel(QStringLiteral("Канальный уровень выключен"), this);
    empty_->setObjectName(QStringLiteral("lblStationsOff"));
    empty_->hide();
    column->addWidget(empty_);
    stationsTable_ = new QTableView(this);
    stationsTable_->setObjectName(QStringLiteral("tblStations"));
    stationsTable_->setModel(&stations_);
    setUpTable(stationsTable_);
    column->addWidget(stationsTable_, 1);
    linesTable_ = new QTableView(this);
    linesTable_->setObjectName(QStringLiteral("tblLines"));
    linesTable_->setModel(&lines_);
    setUpTable(linesTable_);
    // Room for the four lines, no more.
    linesTable_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    linesTable_->setFixedHeight(linesTable_->horizontalHeader()->sizeHint().height() +
                                osc::kChannelCount *
                                    linesTable_->verticalHeader()->defaultSectionSize() +
                                2 * linesTable_->frameWidth() + 2);
    column->addWidget(linesTable_);

    connect(stationsTable_, &QTableView::clicked, this,
            [this](const QModelIndex& i) { clickStation(i.row(), i.column()); });
    connect(stationsTable_, &QTableView::activated, this,
            [this](const QModelIndex& i) { clickStation(i.row(), i.column()); });
    connect(linesTable_, &QTableView::clicked, this,
            [this](const QModelIndex& i) { clickLine(i.row(), i.column()); });
    connect(linesTable_, &QTableView::activated, this,
            [this](const QModelIndex& i) { clickLine(i.row(), i.column()); });
}

void StationsView::refresh(const osc::LinkAnalyser* analyser, unsigned channels) {
    empty_->setVisible(analyser == nullptr);
    if (analyser == nullptr) {
        stations_.setStations({});
        lines_.setLines({}, 0);
        return;
    }
    stations_.setStations(analyser->stations());
    lines_.setLines(analyser->lines(), channels);
}

void StationsView::clickStation(int row, int column) {
    const QString filter = stations_.filterFor(row, column);
    if (!filter.isEmpty()) {
        emit filterRequested(filter);
    }
}

void StationsView::clickLine(int row, int column) {
    const QString filter = lines_.filterFor(row, column);
    if (!filter.isEmpty()) {
        emit filterRequested(filter);
    }
}

}  // namespace ui
