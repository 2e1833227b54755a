#pragma once
// The view "Станции": the statistics of the link analysis, one row per station (address) and
// one per decoded line. A click on a count asks for the frames it counts: filterFor() gives the
// expression of the filter language that selects exactly them ("address == 5 && issue ==
// no_answer"), which the frames part puts into its filter field.
//
// The models hold a copy of the statistics (a few rows); refresh() takes new ones from the
// analyser and tells the view only what changed, so it can run a few times a second during a
// capture.

#include <QAbstractTableModel>
#include <QString>
#include <QWidget>

#include <array>
#include <optional>
#include <vector>

#include "core/link/link_analysis.h"

class QLabel;
class QTableView;

namespace ui {

class StationsModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column {
        Address,
        Frames,
        Bytes,
        IFrames,
        SFrames,
        UFrames,
        Polls,
        Answers,
        NoAnswer,
        Retransmission,
        SequenceGap,
        Unsolicited,
        Rej,
        Srej,
        Rnr,
        Frmr,
        ResponseMin,
        ResponseMean,
        ResponseP95,
        ResponseMax,
        ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void setStations(std::vector<osc::StationStats> stations);
    const std::vector<osc::StationStats>& stations() const { return stations_; }
    // Times of the response columns with a bit rate (none: bits only).
    void setBitRate(std::optional<double> rate);

    // The expression that selects the frames a cell counts; empty for a cell that counts no
    // frames (none, or a mean).
    QString filterFor(int row, int column) const;
    static QString filterFor(const osc::StationStats& station, int column);

  private:
    std::vector<osc::StationStats> stations_;
    std::optional<double> bitRate_;
};

class LineStatsModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Line, Frames, Good, Bad, Aborts, NoFields, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The lines of the channels given (bit per channel), in channel order.
    void setLines(const std::array<osc::LineStats, osc::kChannelCount>& lines, unsigned channels);
    int channelAt(int row) const;

    QString filterFor(int row, int column) const;
    static QString lineFilter(int channel, int column);

  private:
    std::vector<int> channels_;
    std::array<osc::LineStats, osc::kChannelCount> lines_{};
};

class StationsView : public QWidget {
    Q_OBJECT
  public:
    explicit StationsView(QWidget* parent = nullptr);

    // New statistics from the analyser (nullptr: none, the link layer is off).
    void refresh(const osc::LinkAnalyser* analyser, unsigned channels);
    void setBitRate(std::optional<double> rate) { stations_.setBitRate(rate); }

    StationsModel& stations() { return stations_; }
    LineStatsModel& lines() { return lines_; }
    QTableView* stationsTable() const { return stationsTable_; }
    QTableView* linesTable() const { return linesTable_; }

    // A click on a cell: the filter of the frames it counts, when it counts some.
    void clickStation(int row, int column);
    void clickLine(int row, int column);

  signals:
    void filterRequested(const QString& expression);

  private:
    StationsModel stations_;
    LineStatsModel lines_;
    QTableView* stationsTable_ = nullptr;
    QTableView* linesTable_ = nullptr;
    QLabel* empty_ = nullptr;
};

}  // namespace ui
