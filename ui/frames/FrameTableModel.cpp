#include "ui/frames/FrameTableModel.h"

#include <QColor>

#include <algorithm>
#include <functional>
#include <iterator>
#include <utility>

#include "core/files/frame_export.h"
#include "core/files/link_export.h"
#include "core/view/plot_labels.h"

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
    const int channel = static_cast<int>(key >> 56);
    const std::size_t index = static_cast<std::size_t>(key & ((Key{1} << 56) - 1));
    const osc::FrameSequence& frames = frames_.frames(channel);
    return index < frames.size() ? &frames[index] : nullptr;
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
    const Key key = order_[rows_[static_cast<std::size_t>(row)]];
    return {static_cast<int>(key >> 56), static_cast<std::size_t>(key & ((Key{1} << 56) - 1))};
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

QVariant FrameTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const osc::Frame* f = frameAt(index.row());
    if (!f) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
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
            if (index.column() == Bytes && f->bytes.size() > kShownBytes) {
                return hexText(f->bytes, kTooltipBytes);
            }
            return {};
        case Qt::ForegroundRole:
            if (!f->good()) {
                return QColor(200, 0, 0);
            }
            return {};
        case Qt::TextAlignmentRole:
            if (index.column() == Number || index.column() == Length) {
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
                                                     "Длина", "Байты", "Контроль", "Ошибка"};
    static const char* const kTips[ColumnCount] = {"Номер кадра по времени начала",
                                                   "Канал, на котором принят кадр",
                                                   "Начало открывающего флага, в битах",
                                                   "Конец закрывающего флага, в битах",
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

bool FrameTableModel::passes(Key key) const {
    if (channelFilter_ >= 0 && static_cast<int>(key >> 56) != channelFilter_) {
        return false;
    }
    if (onlyBad_) {
        const osc::Frame* f = frameOf(key);
        return f && !f->good();
    }
    return true;
}

bool FrameTableModel::lessInColumn(std::uint32_t a, std::uint32_t b) const {
    const osc::Frame* fa = frameOf(order_[a]);
    const osc::Frame* fb = frameOf(order_[b]);
    if (!fa || !fb) {
        return a < b;
    }
    auto tie = [&](auto x, auto y) { return x != y ? x < y : a < b; };
    switch (sortColumn_) {
        case Channel:
            return tie(fa->channel, fb->channel);
        case End:
            return tie(fa->end, fb->end);
        case Length:
            return tie(fa->bitCount, fb->bitCount);
        case Bytes: {
            if (fa->bytes != fb->bytes) {
                return fa->bytes < fb->bytes;
            }
            return a < b;
        }
        case Check: {
            const int ka = static_cast<int>(fa->check) * 4 + static_cast<int>(fa->status);
            const int kb = static_cast<int>(fb->check) * 4 + static_cast<int>(fb->status);
            return tie(ka, kb);
        }
        case Error:
            return tie(static_cast<int>(fa->error), static_cast<int>(fb->error));
        default:  // Number, Start: the order of start itself
            return a < b;
    }
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
                const osc::Frame* f = frameOf(order_[pos]);
                std::int64_t k = 0;
                if (f) {
                    switch (sortColumn_) {
                        case Channel:
                            k = f->channel;
                            break;
                        case End:
                            k = f->end;
                            break;
                        case Length:
                            k = f->bitCount;
                            break;
                        case Check:
                            k = static_cast<int>(f->check) * 4 + static_cast<int>(f->status);
                            break;
                        case Error:
                            k = static_cast<int>(f->error);
                            break;
                        default:
                            break;
                    }
                }
                keyed.push_back({k, pos});
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

void FrameTableModel::rebuildRows() {
    rows_.clear();
    rows_.reserve(order_.size());
    for (std::size_t p = 0; p < order_.size(); ++p) {
        if (passes(order_[p])) {
            rows_.push_back(static_cast<std::uint32_t>(p));
        }
    }
    sortRows(rows_);
}

void FrameTableModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount) {
        return;
    }
    if (column == sortColumn_ && order == sortOrder_) {
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

void FrameTableModel::setFilter(int channel, bool onlyBad) {
    if (channel < -1 || channel >= osc::kChannelCount) {
        channel = -1;
    }
    if (channel == channelFilter_ && onlyBad == onlyBad_) {
        return;
    }
    beginResetModel();
    channelFilter_ = channel;
    onlyBad_ = onlyBad;
    rebuildRows();
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
    rebuildRows();
    endResetModel();
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
    const auto from = static_cast<std::uint32_t>(
        std::upper_bound(order_.begin(), order_.end(), added.front(), inOrder) - order_.begin());
    const std::vector<Key> tail(order_.begin() + from, order_.end());
    order_.resize(from);
    std::merge(tail.begin(), tail.end(), added.begin(), added.end(), std::back_inserter(order_),
               inOrder);
    std::vector<std::uint32_t> moved;  // the new position of each listed frame of the tail
    std::vector<std::uint32_t> shown;  // positions from `from` on that pass the filter
    std::vector<std::uint32_t> fresh;  // the new ones among them
    moved.reserve(tail.size());
    for (std::uint32_t p = from, t = 0; p < order_.size(); ++p) {
        const bool old = t < tail.size() && order_[p] == tail[t];
        if (old) {
            moved.push_back(p);
            ++t;
        }
        if (passes(order_[p])) {
            shown.push_back(p);
            if (!old) {
                fresh.push_back(p);
            }
        }
    }
    if (shown.empty()) {
        return;
    }
    const bool byStart = sortColumn_ == Number || sortColumn_ == Start;
    const bool ascending = sortOrder_ == Qt::AscendingOrder;
    const int n = static_cast<int>(rows_.size());
    if (byStart) {
        // The rows from `from` on are the end of the table (its beginning when descending):
        // out with them, and in again with the new ones among them.
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
        const auto k = static_cast<int>(shown.size());
        const int first = ascending ? kept : 0;
        beginInsertRows({}, first, first + k - 1);
        if (ascending) {
            rows_.insert(rows_.end(), shown.begin(), shown.end());
        } else {
            rows_.insert(rows_.begin(), shown.rbegin(), shown.rend());
        }
        endInsertRows();
        return;
    }
    if (!tail.empty()) {
        // The order of the rows holds (the listed frames keep their order of start); only
        // their numbers change.
        for (std::uint32_t& p : rows_) {
            if (p >= from) {
                p = moved[p - from];
            }
        }
        if (n > 0) {
            emit dataChanged(index(0, Number), index(n - 1, Number), {Qt::DisplayRole});
        }
    }
    if (fresh.empty()) {
        return;
    }
    if (fresh.size() <= kInsertOneByOne) {
        for (const std::uint32_t p : fresh) {
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
        rebuildRows();
        endResetModel();
    }
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
    if (link_ == nullptr) {
        const std::unique_ptr<osc::FrameWalk> walk = shownFrames();
        return osc::writeFrameList(*walk, osc::FrameListFormat::Csv, sink, progress);
    }
    // The rows as they are now: the progress lets the table change meanwhile.
    std::vector<std::pair<Key, std::uint64_t>> rows;
    rows.reserve(rows_.size());
    for (const std::uint32_t position : rows_) {
        rows.emplace_back(order_[position], std::uint64_t{position} + 1);
    }
    const osc::FrameRecords records(frames_, *link_);
    constexpr std::size_t kRowsPerStep = 4096;
    std::string& out = sink.buffer();
    out += osc::linkedFrameCsvHeader();
    std::size_t written = 0;
    for (const auto& [key, number] : rows) {
        const std::uint64_t position = records.numberOf(
            {static_cast<int>(key >> 56), static_cast<std::size_t>(key & ((Key{1} << 56) - 1))});
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
