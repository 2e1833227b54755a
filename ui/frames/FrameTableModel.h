#pragma once
// The frames table ("Кадры"): a table model over the engine's decoded frames. It keeps no copy
// of the frames and no texts: a row is a position in the frames' order of start (its number
// "№", as the command-line tool numbers them), and the texts of the visible cells are made when
// the view asks for them. Sorting and the filters (one channel, only bad frames, an expression
// of the filter language) rearrange a vector of positions, so a table of a million frames stays
// quick.
//
// With the link analysis of the frames (setLink), the columns "Адрес", "Тип", "Ответ" and
// "Замечание" read the link-layer fields and the analysis; without it they stay empty.
//
// refresh() brings the rows in line with the engine: frames that a growing capture adds are
// inserted (a frame that starts before some listed ones renumbers those few), anything else
// (a new capture, a rebuild after an options change, the automatic check settling on another
// kind) reloads the whole table.
//
// Filtering: a frame is decided (shown or not) once; the decided frames are always the first
// ones in order of start. An expression over the link layer decides a frame only once the
// analysis has made its answer and issues final (during a capture the table then trails the
// capture by about one exchange). An expression is evaluated at most kFilterSlice frames at a
// time: filtering() says that more is to be done now, advance() does the next slice (the frames
// part runs it from the event loop), so a filter over a million frames never holds the window.

#include <QAbstractTableModel>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/files/frame_export.h"
#include "core/frames/capture_frames.h"
#include "core/link/frame_filter.h"
#include "core/link/link_analysis.h"

namespace ui {

// A frame of the engine: its channel and its index among that channel's frames.
using FrameRef = osc::FrameRef;

class FrameTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column {
        Number,
        Channel,
        Start,
        End,
        Address,
        Type,
        Response,
        Remark,
        Length,
        Bytes,
        Check,
        Error,
        ColumnCount
    };
    // Frames an expression is evaluated over at a time, unless set otherwise.
    static constexpr std::size_t kFilterSlice = 200'000;

    explicit FrameTableModel(const osc::CaptureFrames& frames, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Ties in the chosen column keep the order of start; descending reverses the whole order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }

    // The link analysis of the same frames (nullptr: none). The table decides its rows again
    // when the expression reads the link layer.
    void setLink(const osc::LinkAnalysis* link);
    const osc::LinkAnalysis* link() const { return link_; }
    // The bit rate that adds times to the response column (none: bits only).
    void setBitRate(std::optional<double> rate);

    // Rows of one channel only (-1: every channel), and only the frames with an error.
    void setFilter(int channel, bool onlyBad);
    int channelFilter() const { return channelFilter_; }
    bool onlyBad() const { return onlyBad_; }
    // Rows that the expression matches too (an empty filter matches every frame).
    void setExpression(const osc::FrameFilter& filter);
    const osc::FrameFilter& expression() const { return expression_; }
    // More of the expression's pass can be done now (advance() does it).
    bool filtering() const;
    // Decides the next frames, at most a slice of them when an expression is set.
    void advance();
    void setSlice(std::size_t frames) { slice_ = std::max<std::size_t>(1, frames); }
    // Frames not decided yet (those the analysis has not settled, those of a pass under way).
    std::size_t undecided() const { return order_.size() - decided_; }

    // See the header comment. Cheap when nothing changed.
    void refresh();
  signals:
    // Before a refresh reloads because the frames are no longer those listed (a new capture,
    // a rebuild): a frame remembered by its FrameRef is gone.
    void framesReplaced();

  public:
    // Rebuilds the rows from the engine's frames (after a rebuild of the frames).
    void reload();

    // The frame on a row; nullptr for a row out of range or a frame that has gone since the
    // last refresh.
    const osc::Frame* frameAt(int row) const;
    FrameRef refAt(int row) const;
    std::uint64_t numberAt(int row) const;  // "№": 1 for the first frame in order of start
    // The row showing a frame, -1 when it is filtered out or unknown. Linear in the rows.
    int rowOf(FrameRef ref) const;
    // The "№" of a frame known to the table, 0 for one it does not know. O(log frames).
    std::uint64_t numberOf(FrameRef ref) const;
    // All frames known to the table, whatever the filter, in order of start.
    std::size_t frameCount() const { return order_.size(); }
    // The frame as the filter sees it; fields and info empty without the link analysis or
    // before the analysis has read the frame.
    osc::FrameRecord recordOf(FrameRef ref, std::uint64_t number) const;
    // The command a response answers, or the answer of a command (invalid when none).
    FrameRef partnerOf(FrameRef ref) const;

    // The rows shown, in their order, as CSV with the command-line tool's columns, each
    // numbered by its "№" (with the link layer's columns once setLinkAnalysis was given one).
    std::string csv() const;
    // The same through a bounded buffer, with the exports' progress (false once cancelled).
    bool writeCsv(osc::OutputSink& sink, const osc::WriteProgress& progress) const;
    // The link layer of the frames for the CSV, whether the table shows it or not; it must
    // outlive the model.
    void setLinkAnalysis(const osc::LinkAnalysis* link) { csvLink_ = link; }
    // The rows shown now, in their order, each with its "№", for the streaming writers: later
    // changes of the table do not change the walk; a frame gone meanwhile is left out.
    std::unique_ptr<osc::FrameWalk> shownFrames() const;

    // Texts of the cells, also for the tests: the check column ("X.25 верно", "нет") and the
    // error column ("" for a good frame).
    static QString checkText(const osc::Frame& frame);
    static QString errorText(osc::FrameError error);
    static QString checkName(osc::FrameCheck check);
    static QString lengthText(const osc::Frame& frame);  // bytes, "11 + 3/8" for loose bits
    // The remark column: the frame's link issues, "нет ответа, повтор" ("" for none).
    static QString remarkText(const osc::LinkInfo& info);

  private:
    using Key = std::uint64_t;  // channel in the top bits, index below
    static Key keyOf(int channel, std::size_t index) {
        return (static_cast<Key>(channel) << 56) | static_cast<Key>(index);
    }
    static FrameRef refOf(Key key) {
        return {static_cast<int>(key >> 56), static_cast<std::size_t>(key & ((Key{1} << 56) - 1))};
    }
    const osc::Frame* frameOf(Key key) const;
    bool before(Key a, Key b) const;  // order of start, lower channel first at equal starts
    bool passes(std::uint32_t position) const;
    bool linkShown() const { return link_ != nullptr; }
    bool waitsForLink() const { return link_ != nullptr && expression_.needsLink(); }
    // Positions before this one can be decided now.
    std::size_t decidable() const;
    // Evaluates positions [decided_, up to `budget` of them before decidable()).
    std::vector<std::uint32_t> decideNext(std::size_t budget);
    // Rows found by the filter after the rows shown: into the table.
    void publish(std::vector<std::uint32_t> found);
    // Every row undecided again (within a model reset), and a first slice decided.
    void restartRows();
    void restart();  // the same as a model reset
    void mergeAdded();
    void sortRows(std::vector<std::uint32_t>& rows) const;
    bool lessInColumn(std::uint32_t a, std::uint32_t b) const;
    std::int64_t columnKey(std::uint32_t position) const;
    void remember();
    void linkColumnsChanged();

    const osc::CaptureFrames& frames_;
    const osc::LinkAnalysis* link_ = nullptr;
    const osc::LinkAnalysis* csvLink_ = nullptr;
    const osc::LinkAnalyser* analyser_ = nullptr;  // link_'s, read without bringing it up to date
    std::uint64_t linkGeneration_ = 0;
    osc::Tick linkSettled_ = 0;
    std::optional<double> bitRate_;
    std::vector<Key> order_;            // every frame, in order of start
    std::vector<std::uint32_t> rows_;   // positions in order_, as shown
    std::size_t decided_ = 0;           // positions before it are decided
    std::vector<std::uint32_t> found_;  // passed, not shown yet (a pass in a sorted table)
    std::array<std::size_t, osc::kChannelCount> seen_{};
    std::array<osc::Tick, osc::kChannelCount> lastStart_{};
    std::array<osc::Tick, osc::kChannelCount> lastEnd_{};
    std::array<osc::FrameCheck, osc::kChannelCount> check_{};
    int sortColumn_ = Number;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    int channelFilter_ = -1;
    bool onlyBad_ = false;
    osc::FrameFilter expression_;
    std::size_t slice_ = kFilterSlice;
};

}  // namespace ui
