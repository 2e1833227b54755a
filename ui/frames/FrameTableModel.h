#pragma once
// The frames table ("Кадры"): a table model over the engine's decoded frames. It keeps no copy
// of the frames and no texts: a row is a position in the frames' order of start (its number
// "№", as the command-line tool numbers them), and the texts of the visible cells are made when
// the view asks for them. Sorting and the filters (one channel, only bad frames) rearrange a
// vector of positions, so a table of a million frames stays quick.
//
// refresh() brings the rows in line with the engine: frames that a growing capture adds are
// inserted (a frame that starts before some listed ones renumbers those few), anything else
// (a new capture, a rebuild after an options change, the automatic check settling on another
// kind) reloads the whole table.

#include <QAbstractTableModel>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/files/frame_export.h"
#include "core/frames/capture_frames.h"
#include "core/link/link_analysis.h"

namespace ui {

// A frame of the engine: its channel and its index among that channel's frames.
struct FrameRef {
    int channel = -1;
    std::size_t index = 0;
    bool valid() const { return channel >= 0; }
    bool operator==(const FrameRef&) const = default;
};

class FrameTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Number, Channel, Start, End, Length, Bytes, Check, Error, ColumnCount };

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

    // Rows of one channel only (-1: every channel), and only the frames with an error.
    void setFilter(int channel, bool onlyBad);
    int channelFilter() const { return channelFilter_; }
    bool onlyBad() const { return onlyBad_; }

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
    // All frames known to the table, whatever the filter, in order of start.
    std::size_t frameCount() const { return order_.size(); }

    // The rows shown, in their order, as CSV with the command-line tool's columns, each
    // numbered by its "№" (with the link layer's columns once setLinkAnalysis was given one).
    std::string csv() const;
    // The same through a bounded buffer, with the exports' progress (false once cancelled).
    bool writeCsv(osc::OutputSink& sink, const osc::WriteProgress& progress) const;
    // The link layer of the frames, for the CSV; it must outlive the model.
    void setLinkAnalysis(const osc::LinkAnalysis* link) { link_ = link; }
    // The rows shown now, in their order, each with its "№", for the streaming writers: later
    // changes of the table do not change the walk; a frame gone meanwhile is left out.
    std::unique_ptr<osc::FrameWalk> shownFrames() const;

    // Texts of the cells, also for the tests: the check column ("X.25 верно", "нет") and the
    // error column ("" for a good frame).
    static QString checkText(const osc::Frame& frame);
    static QString errorText(osc::FrameError error);
    static QString checkName(osc::FrameCheck check);
    static QString lengthText(const osc::Frame& frame);  // bytes, "11 + 3/8" for loose bits

  private:
    using Key = std::uint64_t;  // channel in the top bits, index below
    static Key keyOf(int channel, std::size_t index) {
        return (static_cast<Key>(channel) << 56) | static_cast<Key>(index);
    }
    const osc::Frame* frameOf(Key key) const;
    bool before(Key a, Key b) const;  // order of start, lower channel first at equal starts
    bool passes(Key key) const;
    void rebuildRows();  // filter, then sort
    void sortRows(std::vector<std::uint32_t>& rows) const;
    bool lessInColumn(std::uint32_t a, std::uint32_t b) const;
    void remember();

    const osc::CaptureFrames& frames_;
    const osc::LinkAnalysis* link_ = nullptr;
    std::vector<Key> order_;           // every frame, in order of start
    std::vector<std::uint32_t> rows_;  // positions in order_, as shown
    std::array<std::size_t, osc::kChannelCount> seen_{};
    std::array<osc::Tick, osc::kChannelCount> lastStart_{};
    std::array<osc::Tick, osc::kChannelCount> lastEnd_{};
    std::array<osc::FrameCheck, osc::kChannelCount> check_{};
    int sortColumn_ = Number;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    int channelFilter_ = -1;
    bool onlyBad_ = false;
};

}  // namespace ui
