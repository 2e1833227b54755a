#include "ui/frames/FrameTableModel.h"

#include <QColor>

#include <algorithm>
#include <functional>
#include <iterator>
#include <utility>

#include "core/files/frame_export.h"
#include "core/files/link_export.h"
#include "core/link/link_fields.h"
#include "core/view/plot_labels.h"
#include "core/view/time_text.h"

namespace ui {

namespace {

constexpr std::size_t kShownBytes = 48;     // bytes in the cell; the rest as "…"
constexpr std::size_t kTooltipBytes = 512;  // bytes in the cell's tooltip
// Above this many new rows at once in a table sorted by another column than the number, the
// rows are sorted again as a whole instead of inserted one by one.
constexpr std::size_t kInsertOneByOne = 64;

QString hexText(std::span<const std::uint8_t> bytes, std::size_t limit) {
    const std::size_t n = std::min(bytes.size(), limit);
    QString text =
        QString::fromStdString(osc::frameBytesHex(std::span<const std::uint8_t>(bytes.data(), n)));
    if (n < bytes.size()) {
        text += QStringLiteral(" …");
    }
    return text;
}

QString bitsText(osc::Tick ticks) {
    return QString::fromStdString(osc::TicksToBitText(ticks));
}

}  // namespace

FrameTableModel::FrameTableModel(const osc::CaptureFrames& frames, QObject* parent)
    : QAbstractTableModel(parent), frames_(frames) {
    reload();
}

QString FrameTableModel::checkName(osc::FrameCheck check) {
    switch (check) {
        case osc::FrameCheck::X25:
            return QStringLiteral("X.25");
        case osc::FrameCheck::CcittFalse:
            return QStringLiteral("CCITT-FALSE");
        case osc::FrameCheck::Crc32:
            return QStringLiteral("CRC-32");
        case osc::FrameCheck::None:
            return QStringLiteral("нет");
        case osc::FrameCheck::Auto:
            return QStringLiteral("авто");
    }
    return {};
}

QString FrameTableModel::checkText(const osc::Frame& f) {
    switch (f.status) {
        case osc::CheckStatus::Good:
            return checkName(f.check) + QStringLiteral(" верно");
        case osc::CheckStatus::Bad:
            return checkName(f.check) + QStringLiteral(" неверно");
        case osc::CheckStatus::None:
            break;
    }
    return f.check == osc::FrameCheck::None ? QStringLiteral("нет")
                                            : checkName(f.check) + QStringLiteral(" не проверен");
}

QString FrameTableModel::errorText(osc::FrameError error) {
    switch (error) {
        case osc::FrameError::None:
            return {};
        case osc::FrameError::Abort:
            return QStringLiteral("прерван");
        case osc::FrameError::Misaligned:
            return QStringLiteral("не кратен байту");
        case osc::FrameError::TooShort:
            return QStringLiteral("короткий");
        case osc::FrameError::BadCheck:
            return QStringLiteral("ошибка контроля");
        case osc::FrameError::Unfinished:
            return QStringLiteral("не закончен");
        case osc::FrameError::TooLong:
            return QStringLiteral("слишком длинный");
    }
    return {};
}

QString FrameTableModel::remarkText(const osc::LinkInfo& info) {
    QString text;
    for (const osc::LinkIssue issue : osc::kLinkIssues) {
        if (info.has(issue)) {
            if (!text.isEmpty()) {
                text += QStringLiteral(", ");
            }
            text += QString::fromUtf8(osc::linkIssueText(issue));
        }
    }
    return text;
}

QString FrameTableModel::lengthText(const osc::Frame& f) {
    const std::uint32_t whole = f.bitCount / 8;
    const std::uint32_t rest = f.bitCount % 8;
    QString text = QString::number(whole);
    if (rest != 0) {
        text += QStringLiteral(" + %1/8").arg(rest);
    }
    return text;
}

int FrameTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FrameTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const osc::Frame* FrameTableModel::frameOf(Key key) const {
    const FrameRef ref = refOf(key);
    const osc::FrameSequence& frames = frames_.frames(ref.channel);
    return ref.index < frames.size() ? &frames[ref.index] : nullptr;
}

const osc::Frame* FrameTableModel::frameAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return nullptr;
    }
    return frameOf(order_[rows_[static_cast<std::size_t>(row)]]);
}

FrameRef FrameTableModel::refAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return {};
    }
    return refOf(order_[rows_[static_cast<std::size_t>(row)]]);
}

std::uint64_t FrameTableModel::numberAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return 0;
    }
    return std::uint64_t{rows_[static_cast<std::size_t>(row)]} + 1;
}

int FrameTableModel::rowOf(FrameRef ref) const {
    if (!ref.valid()) {
        return -1;
    }
    const Key key = keyOf(ref.channel, ref.index);
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        if (order_[rows_[r]] == key) {
            return static_cast<int>(r);
        }
    }
    return -1;
}

std::uint64_t FrameTableModel::numberOf(FrameRef ref) const {
    if (!ref.valid() || ref.channel >= osc::kChannelCount) {
        return 0;
    }
    const Key key = keyOf(ref.channel, ref.index);
    if (frameOf(key) == nullptr) {
        return 0;
    }
    const auto it = std::lower_bound(order_.begin(), order_.end(), key,
                                     [this](Key a, Key b) { return before(a, b); });
    return it != order_.end() && *it == key ? static_cast<std::uint64_t>(it - order_.begin()) + 1
                                            : 0;
}

osc::FrameRecord FrameTableModel::recordOf(FrameRef ref, std::uint64_t number) const {
    osc::FrameRecord r;
    r.index = number;
    r.frame = ref.valid() ? frameOf(keyOf(ref.channel, ref.index)) : nullptr;
    if (r.frame == nullptr || link_ == nullptr) {
        return r;
    }
    r.fields = link_->fields(*r.frame);
    if (analyser_ != nullptr && ref.index < analyser_->analysed(ref.channel)) {
        r.info = analyser_->info(ref.channel, ref.index);
    }
    const FrameRef partner = r.info.partner();
    if (partner.valid() && r.fields.role == osc::LinkRole::Response) {
        const osc::FrameSequence& commands = frames_.frames(partner.channel);
        if (partner.index < commands.size()) {
            r.responseTime = r.frame->start - commands[partner.index].end;
        }
    }
    return r;
}

FrameRef FrameTableModel::partnerOf(FrameRef ref) const {
    if (!ref.valid() || analyser_ == nullptr || ref.index >= analyser_->analysed(ref.channel)) {
        return {};
    }
    return analyser_->info(ref.channel, ref.index).partner();
}

QVariant FrameTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const osc::Frame* f = frameAt(index.row());
    if (!f) {
        return {};
    }
    const int column = index.column();
    const bool linkColumn = column >= Address && column <= Remark;
    if (linkColumn && !linkShown()) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case Number:
                    return QString::number(numberAt(index.row()));
                case Channel:
                    return f->channel >= 0 && f->channel < osc::kChannelCount
                               ? QString::fromUtf8(
                                     osc::kChannels[static_cast<std::size_t>(f->channel)].name)
                               : QString();
                case Start:
                    return bitsText(f->start);
                case End:
                    return bitsText(f->end);
                case Address: {
                    const osc::LinkFields fields = link_->fields(*f);
                    return fields.hasAddress() ? QString::number(fields.address) : QString();
                }
                case Type:
                    return QString::fromStdString(osc::linkTypeText(link_->fields(*f)));
                case Response: {
                    const osc::FrameRecord r = recordOf(refAt(index.row()), 0);
                    return r.responseTime ? QString::fromStdString(
                                                osc::PositionText(*r.responseTime, bitRate_))
                                          : QString();
                }
                case Remark:
                    return remarkText(recordOf(refAt(index.row()), 0).info);
                case Length:
                    return lengthText(*f);
                case Bytes:
                    return hexText(f->bytes, kShownBytes);
                case Check:
                    return checkText(*f);
                case Error:
                    return errorText(f->error);
                default:
                    return {};
            }
        case Qt::ToolTipRole:
            if (column == Bytes && f->bytes.size() > kShownBytes) {
                return hexText(f->bytes, kTooltipBytes);
            }
            if (column == Response) {
                // Where the answer of a command is, and which command a response answers.
                const FrameRef ref = refAt(index.row());
                const std::uint64_t partner = numberOf(partnerOf(ref));
                if (partner == 0) {
                    return {};
                }
                return link_->fields(*f).role == osc::LinkRole::Response
                           ? QStringLiteral("Ответ на кадр №%1 (F7 — к нему)").arg(partner)
                           : QStringLiteral("Ответ — кадр №%1 (F7 — к нему)").arg(partner);
            }
            return {};
        case Qt::ForegroundRole:
            if (!f->good()) {
                return QColor(200, 0, 0);
            }
            if (column == Remark) {
                return QColor(170, 95, 0);
            }
            return {};
        case Qt::TextAlignmentRole:
            if (column == Number || column == Length || column == Address) {
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            }
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant FrameTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    static const char* const kTitles[ColumnCount] = {"№",     "Канал", "Начало",   "Конец",
                                                     "Адрес", "Тип",   "Ответ",    "Замечание",
                                                     "Длина", "Байты", "Контроль", "Ошибка"};
    static const char* const kTips[ColumnCount] = {
        "Номер кадра по времени начала",
        "Канал, на котором принят кадр",
        "Начало открывающего флага, в битах",
        "Конец закрывающего флага, в битах",
        "Адрес станции",
        "Тип кадра: I с N(S)/N(R), S или U с командой; P — опрос, F — финал",
        "Время ответа: от конца запроса до начала ответа",
        "Ошибки обмена: нет ответа, ответ без запроса, повтор, пропуск N(S)",
        "Байты между флагами (с контрольной суммой)",
        "Байты между флагами, шестнадцатеричные",
        "Контрольная сумма и её проверка",
        "Ошибка кадра"};
    if (section < 0 || section >= ColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromUtf8(kTitles[section]);
    }
    if (role == Qt::ToolTipRole) {
        return QString::fromUtf8(kTips[section]);
    }
    return {};
}

bool FrameTableModel::before(Key a, Key b) const {
    const osc::Frame* fa = frameOf(a);
    const osc::Frame* fb = frameOf(b);
    const osc::Tick sa = fa ? fa->start : 0;
    const osc::Tick sb = fb ? fb->start : 0;
    if (sa != sb) {
        return sa < sb;
    }
    return a < b;  // the lower channel, then the lower index
}

bool FrameTableModel::passes(std::uint32_t position) const {
    const Key key = order_[position];
    if (channelFilter_ >= 0 && static_cast<int>(key >> 56) != channelFilter_) {
        return false;
    }
    const osc::Frame* f = frameOf(key);
    if (f == nullptr || (onlyBad_ && f->good())) {
        return false;
    }
    if (expression_.empty()) {
        return true;
    }
    if (!expression_.needsLink()) {
        osc::FrameRecord r;
        r.index = std::uint64_t{position} + 1;
        r.frame = f;
        return expression_.matches(r);
    }
    return expression_.matches(recordOf(refOf(key), std::uint64_t{position} + 1));
}

std::int64_t FrameTableModel::columnKey(std::uint32_t position) const {
    const Key key = order_[position];
    const osc::Frame* f = frameOf(key);
    if (f == nullptr) {
        return 0;
    }
    switch (sortColumn_) {
        case Channel:
            return f->channel;
        case End:
            return f->end;
        case Length:
            return f->bitCount;
        case Check:
            return static_cast<int>(f->check) * 4 + static_cast<int>(f->status);
        case Error:
            return static_cast<int>(f->error);
        default:
            break;
    }
    if (link_ == nullptr) {
        return 0;  // the link columns are empty
    }
    switch (sortColumn_) {
        case Address: {
            const osc::LinkFields fields = link_->fields(*f);
            return fields.hasAddress() ? std::int64_t{fields.address} : -1;
        }
        case Type: {
            // I, then S, then U frames; by kind or command, then N(S), N(R), P/F.
            const osc::LinkFields fields = link_->fields(*f);
            if (!fields.valid()) {
                return -1;
            }
            return (static_cast<std::int64_t>(fields.type) << 40) |
                   (static_cast<std::int64_t>(fields.command) << 32) |
                   (std::int64_t{fields.code} << 24) | (std::int64_t{fields.ns} << 16) |
                   (std::int64_t{fields.nr} << 8) | (fields.pf ? 1 : 0);
        }
        case Response: {
            const osc::FrameRecord r = recordOf(refOf(key), 0);
            return r.responseTime ? *r.responseTime : -1;
        }
        case Remark: {
            const osc::FrameRecord r = recordOf(refOf(key), 0);
            const std::optional<osc::LinkIssue> first = r.info.issue();
            if (!first) {
                return 0;
            }
            const auto at = std::find(osc::kLinkIssues.begin(), osc::kLinkIssues.end(), *first);
            return (static_cast<std::int64_t>(at - osc::kLinkIssues.begin()) + 1) << 8 |
                   r.info.issues;
        }
        default:
            return 0;
    }
}

bool FrameTableModel::lessInColumn(std::uint32_t a, std::uint32_t b) const {
    if (sortColumn_ == Number || sortColumn_ == Start) {
        return a < b;  // the order of start itself
    }
    if (sortColumn_ == Bytes) {
        const osc::Frame* fa = frameOf(order_[a]);
        const osc::Frame* fb = frameOf(order_[b]);
        if (!fa || !fb) {
            return a < b;
        }
        if (fa->bytes != fb->bytes) {
            return fa->bytes < fb->bytes;
        }
        return a < b;
    }
    const std::int64_t ka = columnKey(a);
    const std::int64_t kb = columnKey(b);
    return ka != kb ? ka < kb : a < b;
}

void FrameTableModel::sortRows(std::vector<std::uint32_t>& rows) const {
    if (sortColumn_ != Number && sortColumn_ != Start) {
        // Keys first, so that the sort compares plain numbers where it can.
        if (sortColumn_ == Bytes) {
            // The first eight bytes as one number; only equal ones compare the whole bytes.
            struct Prefixed {
                std::uint64_t prefix;
                std::uint32_t pos;
            };
            std::vector<Prefixed> keyed;
            keyed.reserve(rows.size());
            for (const std::uint32_t pos : rows) {
                std::uint64_t prefix = 0;
                if (const osc::Frame* f = frameOf(order_[pos])) {
                    for (std::size_t j = 0; j < 8 && j < f->bytes.size(); ++j) {
                        prefix |= std::uint64_t{f->bytes[j]} << (56 - 8 * j);
                    }
                }
                keyed.push_back({prefix, pos});
            }
            std::sort(keyed.begin(), keyed.end(), [this](const Prefixed& a, const Prefixed& b) {
                return a.prefix != b.prefix ? a.prefix < b.prefix : lessInColumn(a.pos, b.pos);
            });
            for (std::size_t i = 0; i < keyed.size(); ++i) {
                rows[i] = keyed[i].pos;
            }
        } else {
            struct Keyed {
                std::int64_t key;
                std::uint32_t pos;
            };
            std::vector<Keyed> keyed;
            keyed.reserve(rows.size());
            for (const std::uint32_t pos : rows) {
                keyed.push_back({columnKey(pos), pos});
            }
            std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
                return a.key != b.key ? a.key < b.key : a.pos < b.pos;
            });
            for (std::size_t i = 0; i < keyed.size(); ++i) {
                rows[i] = keyed[i].pos;
            }
        }
    } else {
        std::sort(rows.begin(), rows.end());
    }
    if (sortOrder_ == Qt::DescendingOrder) {
        std::reverse(rows.begin(), rows.end());
    }
}

void FrameTableModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount) {
        return;
    }
    if (column == sortColumn_ && order == sortOrder_) {
        return;
    }
    if (!found_.empty()) {
        // A pass under way holds rows not shown yet: the pass starts over in the new order.
        sortColumn_ = column;
        sortOrder_ = order;
        restart();
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::uint32_t> positions;
    positions.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& i : before) {
        positions.push_back(rows_[static_cast<std::size_t>(i.row())]);
    }
    sortColumn_ = column;
    sortOrder_ = order;
    sortRows(rows_);
    if (!before.isEmpty()) {
        // Where each position went: one pass over the rows.
        std::vector<int> rowOfPosition(order_.size(), -1);
        for (std::size_t r = 0; r < rows_.size(); ++r) {
            rowOfPosition[rows_[r]] = static_cast<int>(r);
        }
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype k = 0; k < before.size(); ++k) {
            after.push_back(
                index(rowOfPosition[positions[static_cast<std::size_t>(k)]], before[k].column()));
        }
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FrameTableModel::setLink(const osc::LinkAnalysis* link) {
    if (link == link_) {
        return;
    }
    link_ = link;
    analyser_ = link ? &link->analyser() : nullptr;
    linkGeneration_ = link ? link->generation() : 0;
    linkSettled_ = analyser_ ? analyser_->settled() : 0;
    restart();
}

void FrameTableModel::setBitRate(std::optional<double> rate) {
    if (rate == bitRate_) {
        return;
    }
    bitRate_ = rate;
    if (!rows_.empty()) {
        const int last = static_cast<int>(rows_.size()) - 1;
        emit dataChanged(index(0, Response), index(last, Response), {Qt::DisplayRole});
    }
}

void FrameTableModel::setFilter(int channel, bool onlyBad) {
    if (channel < -1 || channel >= osc::kChannelCount) {
        channel = -1;
    }
    if (channel == channelFilter_ && onlyBad == onlyBad_) {
        return;
    }
    channelFilter_ = channel;
    onlyBad_ = onlyBad;
    restart();
}

void FrameTableModel::setExpression(const osc::FrameFilter& filter) {
    expression_ = filter;
    restart();
}

std::size_t FrameTableModel::decidable() const {
    if (!waitsForLink() || analyser_->ended()) {
        return order_.size();
    }
    // Frames that start before the settled tick have their final info, but for the command
    // whose answer window is open.
    const osc::Tick settled = analyser_->settled();
    const auto startsBefore = [this](osc::Tick t) {
        return [this, t](Key k) {
            const osc::Frame* f = frameOf(k);
            return f != nullptr && f->start < t;
        };
    };
    std::size_t limit = static_cast<std::size_t>(
        std::partition_point(order_.begin(), order_.end(), startsBefore(settled)) - order_.begin());
    const FrameRef open = analyser_->openCommand();
    if (open.valid()) {
        const Key key = keyOf(open.channel, open.index);
        if (const osc::Frame* f = frameOf(key)) {
            auto it = std::partition_point(order_.begin(), order_.end(), startsBefore(f->start));
            while (it != order_.end() && *it != key && frameOf(*it) != nullptr &&
                   frameOf(*it)->start == f->start) {
                ++it;
            }
            limit = std::min(limit, static_cast<std::size_t>(it - order_.begin()));
        }
    }
    return limit;
}

bool FrameTableModel::filtering() const {
    return decided_ < decidable();
}

std::vector<std::uint32_t> FrameTableModel::decideNext(std::size_t budget) {
    std::vector<std::uint32_t> found;
    const std::size_t limit = decidable();
    if (decided_ >= limit) {
        return found;
    }
    const std::size_t end = expression_.empty() ? limit : std::min(limit, decided_ + budget);
    for (std::size_t p = decided_; p < end; ++p) {
        if (passes(static_cast<std::uint32_t>(p))) {
            found.push_back(static_cast<std::uint32_t>(p));
        }
    }
    decided_ = end;
    return found;
}

void FrameTableModel::publish(std::vector<std::uint32_t> found) {
    const bool ascending = sortOrder_ == Qt::AscendingOrder;
    if (sortColumn_ == Number || sortColumn_ == Start) {
        // After every row shown (before them when descending).
        if (found.empty()) {
            return;
        }
        const int n = static_cast<int>(rows_.size());
        const int k = static_cast<int>(found.size());
        const int first = ascending ? n : 0;
        beginInsertRows({}, first, first + k - 1);
        if (ascending) {
            rows_.insert(rows_.end(), found.begin(), found.end());
        } else {
            rows_.insert(rows_.begin(), found.rbegin(), found.rend());
        }
        endInsertRows();
        return;
    }
    // Sorted by another column: the rows of a pass come in once it is through.
    found_.insert(found_.end(), found.begin(), found.end());
    if (found_.empty() || filtering()) {
        return;
    }
    if (found_.size() <= kInsertOneByOne) {
        for (const std::uint32_t p : found_) {
            const auto at = std::upper_bound(
                rows_.begin(), rows_.end(), p, [&](std::uint32_t x, std::uint32_t y) {
                    return ascending ? lessInColumn(x, y) : lessInColumn(y, x);
                });
            const int row = static_cast<int>(at - rows_.begin());
            beginInsertRows({}, row, row);
            rows_.insert(at, p);
            endInsertRows();
        }
    } else {
        beginResetModel();
        rows_.insert(rows_.end(), found_.begin(), found_.end());
        sortRows(rows_);
        endResetModel();
    }
    found_.clear();
}

void FrameTableModel::advance() {
    publish(decideNext(slice_));
}

void FrameTableModel::restartRows() {
    rows_.clear();
    found_.clear();
    decided_ = 0;
    std::vector<std::uint32_t> found = decideNext(slice_);
    if ((sortColumn_ == Number || sortColumn_ == Start) || !filtering()) {
        rows_ = std::move(found);
        sortRows(rows_);
    } else {
        found_ = std::move(found);
    }
}

void FrameTableModel::restart() {
    beginResetModel();
    restartRows();
    endResetModel();
}

void FrameTableModel::remember() {
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const osc::FrameSequence& frames = frames_.frames(c);
        seen_[i] = frames.size();
        lastStart_[i] = frames.empty() ? 0 : frames.back().start;
        lastEnd_[i] = frames.empty() ? 0 : frames.back().end;
        check_[i] = frames_.checkInUse(c);
    }
}

void FrameTableModel::reload() {
    beginResetModel();
    if (link_ != nullptr) {
        linkGeneration_ = link_->generation();  // read up to the frames below
        linkSettled_ = analyser_->settled();
    }
    order_.clear();
    std::size_t total = 0;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        total += frames_.frames(c).size();
    }
    order_.reserve(total);
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const std::size_t n = frames_.frames(c).size();
        const std::size_t from = order_.size();
        for (std::size_t i = 0; i < n; ++i) {
            order_.push_back(keyOf(c, i));
        }
        // Each channel comes in order of start already: merging keeps the work linear.
        std::inplace_merge(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(from),
                           order_.end(), [this](Key a, Key b) { return before(a, b); });
    }
    remember();
    restartRows();
    endResetModel();
}

void FrameTableModel::linkColumnsChanged() {
    if (!rows_.empty()) {
        const int last = static_cast<int>(rows_.size()) - 1;
        emit dataChanged(index(0, Address), index(last, Remark), {Qt::DisplayRole});
    }
}

void FrameTableModel::refresh() {
    bool changed = false;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const osc::FrameSequence& frames = frames_.frames(c);
        // Fewer frames, another check, or the last frame seen moved: decoded anew.
        if (frames.size() < seen_[i] || frames_.checkInUse(c) != check_[i] ||
            (seen_[i] > 0 && (frames[seen_[i] - 1].start != lastStart_[i] ||
                              frames[seen_[i] - 1].end != lastEnd_[i]))) {
            changed = true;
        }
    }
    if (changed) {
        emit framesReplaced();
        reload();
        return;
    }
    bool linkMoved = false;
    if (link_ != nullptr) {
        const std::uint64_t generation = link_->generation();  // read up to the frames
        if (generation != linkGeneration_) {
            // Read over again (other options): the rows that it decided are decided again.
            linkGeneration_ = generation;
            if (expression_.needsLink()) {
                reload();
                return;
            }
            linkMoved = true;
        }
        if (analyser_->settled() != linkSettled_) {
            linkSettled_ = analyser_->settled();
            linkMoved = true;
        }
    }
    mergeAdded();
    advance();
    if (linkMoved) {
        linkColumnsChanged();
    }
}

void FrameTableModel::mergeAdded() {
    std::vector<Key> added;
    for (int c = 0; c < osc::kChannelCount; ++c) {
        const std::size_t n = frames_.frames(c).size();
        for (std::size_t i = seen_[static_cast<std::size_t>(c)]; i < n; ++i) {
            added.push_back(keyOf(c, i));
        }
    }
    if (added.empty()) {
        return;
    }
    const auto inOrder = [this](Key a, Key b) { return before(a, b); };
    std::sort(added.begin(), added.end(), inOrder);
    remember();
    // Where the first new frame goes among those listed: at the end, unless it starts before
    // some of them (a long frame on one line ends after short ones on another). The listed
    // frames from there on take new numbers, the new ones go in among them.
    const std::size_t listed = order_.size();
    const auto from = static_cast<std::uint32_t>(
        std::upper_bound(order_.begin(), order_.end(), added.front(), inOrder) - order_.begin());
    const std::vector<Key> tail(order_.begin() + from, order_.end());
    order_.resize(from);
    std::merge(tail.begin(), tail.end(), added.begin(), added.end(), std::back_inserter(order_),
               inOrder);
    if (from >= decided_) {
        return;  // none of the frames that moved was decided yet
    }
    if (decided_ < listed || !found_.empty() || waitsForLink()) {
        restart();  // a pass was under way: over again
        return;
    }
    // Every listed frame was decided. The decided ones from `from` on moved.
    std::vector<std::uint32_t> moved;  // the new position of each listed frame of the tail
    std::vector<std::uint32_t> fresh;  // the new frames among them that pass the filter
    moved.reserve(tail.size());
    for (std::uint32_t p = from, t = 0; p < order_.size(); ++p) {
        const bool old = t < tail.size() && order_[p] == tail[t];
        if (old) {
            moved.push_back(p);
            ++t;
        } else if (passes(p)) {
            fresh.push_back(p);
        }
    }
    const bool ascending = sortOrder_ == Qt::AscendingOrder;
    if (sortColumn_ == Number || sortColumn_ == Start) {
        // The rows from `from` on are the end of the table (its beginning when descending):
        // out with them; they are decided again, with the new ones among them.
        const int n = static_cast<int>(rows_.size());
        const auto firstMoved =
            ascending ? std::lower_bound(rows_.begin(), rows_.end(), from)
                      : std::partition_point(rows_.begin(), rows_.end(),
                                             [from](std::uint32_t p) { return p >= from; });
        const int kept = ascending ? static_cast<int>(firstMoved - rows_.begin())
                                   : static_cast<int>(rows_.end() - firstMoved);
        const int out = n - kept;
        if (out > 0) {
            const int first = ascending ? kept : 0;
            beginRemoveRows({}, first, first + out - 1);
            if (ascending) {
                rows_.erase(firstMoved, rows_.end());
            } else {
                rows_.erase(rows_.begin(), firstMoved);
            }
            endRemoveRows();
        }
        decided_ = from;
        return;  // refresh decides them
    }
    // The order of the rows holds (the listed frames keep their order of start); only their
    // numbers change, which an expression may read.
    decided_ = order_.size();
    const int n = static_cast<int>(rows_.size());
    for (std::uint32_t& p : rows_) {
        if (p >= from) {
            p = moved[p - from];
        }
    }
    if (n > 0) {
        emit dataChanged(index(0, Number), index(n - 1, Number), {Qt::DisplayRole});
    }
    if (!expression_.empty()) {
        for (int r = n - 1; r >= 0; --r) {
            const std::uint32_t p = rows_[static_cast<std::size_t>(r)];
            if (p >= from && !passes(p)) {
                beginRemoveRows({}, r, r);
                rows_.erase(rows_.begin() + r);
                endRemoveRows();
            }
        }
    }
    publish(std::move(fresh));
}

namespace {

// The frames of the rows shown, taken by their keys when the walk begins.
class ShownFrameWalk final : public osc::FrameWalk {
  public:
    using Lookup = std::function<const osc::Frame*(std::uint64_t key)>;
    ShownFrameWalk(std::vector<std::pair<std::uint64_t, std::uint64_t>> rows, Lookup lookup)
        : rows_(std::move(rows)), lookup_(std::move(lookup)) {}
    const osc::Frame* next(std::uint64_t& number) override {
        while (at_ < rows_.size()) {
            const auto [key, n] = rows_[at_++];
            if (const osc::Frame* f = lookup_(key)) {
                number = n;
                return f;
            }
        }
        return nullptr;
    }
    std::uint64_t total() const override { return rows_.size(); }

  private:
    std::vector<std::pair<std::uint64_t, std::uint64_t>> rows_;  // key and number
    Lookup lookup_;
    std::size_t at_ = 0;
};

}  // namespace

std::unique_ptr<osc::FrameWalk> FrameTableModel::shownFrames() const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> rows;
    rows.reserve(rows_.size());
    for (const std::uint32_t position : rows_) {
        rows.emplace_back(order_[position], std::uint64_t{position} + 1);
    }
    return std::make_unique<ShownFrameWalk>(std::move(rows),
                                            [this](std::uint64_t key) { return frameOf(key); });
}

bool FrameTableModel::writeCsv(osc::OutputSink& sink, const osc::WriteProgress& progress) const {
    if (csvLink_ == nullptr) {
        const std::unique_ptr<osc::FrameWalk> walk = shownFrames();
        return osc::writeFrameList(*walk, osc::FrameListFormat::Csv, sink, progress);
    }
    // The rows as they are now: the progress lets the table change meanwhile.
    std::vector<std::pair<Key, std::uint64_t>> rows;
    rows.reserve(rows_.size());
    for (const std::uint32_t position : rows_) {
        rows.emplace_back(order_[position], std::uint64_t{position} + 1);
    }
    const osc::FrameRecords records(frames_, *csvLink_);
    constexpr std::size_t kRowsPerStep = 4096;
    std::string& out = sink.buffer();
    out += osc::linkedFrameCsvHeader();
    std::size_t written = 0;
    for (const auto& [key, number] : rows) {
        const std::uint64_t position = records.numberOf(refOf(key));
        if (position != 0 && frameOf(key) != nullptr) {  // a frame gone meanwhile is left out
            osc::FrameRecord record = records.at(position - 1);
            record.index = number;
            osc::appendLinkedFrameCsvRow(out, record);
            sink.spill();
        }
        if (++written % kRowsPerStep == 0 && progress &&
            !progress(static_cast<double>(written) / static_cast<double>(rows.size()))) {
            return false;
        }
    }
    sink.flush();
    return !progress || progress(1);
}

std::string FrameTableModel::csv() const {
    return osc::collectText([&](osc::OutputSink& sink) { writeCsv(sink, {}); });
}

}  // namespace ui
