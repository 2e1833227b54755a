#pragma once
// Turning a stair trace into the few vertices that one pixel column can show. A level-of-detail
// summary (minimum and maximum level per block of 64 and of 1024 points) answers "which levels
// occur among points a..b" without walking them; per column the polyline gets at most four
// vertices: the level entering the column, the lowest and highest level in it, and the level
// leaving it. A column holding a single point keeps that point's exact X.

#include <QPointF>
#include <QVector>

#include <cstdint>
#include <vector>

#include "core/channel_trace.h"

namespace ui {

class TraceSummary {
  public:
    static constexpr std::size_t kBlock = 64;
    static constexpr std::size_t kSuperBlock = 1024;

    // Brings the summary in line with the trace; cheap when nothing changed (same revision) and
    // for points appended at the end (only the tail blocks are recomputed).
    void update(const osc::ChannelTrace& trace);
    // Lowest and highest level among points [begin, end) (end > begin) of the summarised trace.
    void minMax(std::span<const std::uint8_t> ys, std::size_t begin, std::size_t end,
                std::uint8_t& lo, std::uint8_t& hi) const;

    // First index i >= from with xs[i] >= key (xs.size() when none), for the summarised trace.
    // Searches the first X of each block of 64 points (a small array that stays in cache)
    // before the points themselves, so a column costs a few cache misses, not a full search.
    // hint: a guess of the answer (e.g. from the previous column's point count); a good guess
    // saves most of the probes, a bad one costs a few more.
    std::size_t lowerBound(std::span<const osc::Tick> xs, std::size_t from, double key,
                           std::size_t hint = 0) const;

    std::uint64_t fullRebuilds() const { return fullRebuilds_; }

  private:
    void rebuildFrom(std::span<const osc::Tick> xs, std::span<const std::uint8_t> ys,
                     std::size_t firstBlock);

    std::vector<osc::Tick> blockX_;  // X of the first point of each block
    std::vector<std::uint8_t> blockMin_, blockMax_, superMin_, superMax_;
    std::uint8_t allMin_ = 255, allMax_ = 0;  // over the whole trace
    bool valid_ = false;
    std::uint64_t revision_ = 0;
    std::size_t count_ = 0;
    osc::Tick firstX_ = 0, lastX_ = 0;
    std::uint8_t lastY_ = 0;
    std::uint64_t fullRebuilds_ = 0;
};

// The mapping of ticks and levels onto pixels of the plotting rectangle.
struct StairMapping {
    double windowMin = 0;  // ticks at the left edge
    double windowMax = 1;  // ticks at the right edge (exclusive)
    double left = 0;       // pixel X of windowMin
    int columns = 0;       // width of the plotting rectangle in pixels
    double levelMin = 0;   // left-axis value at the bottom edge
    double levelMax = 9;   // left-axis value at the top edge
    double top = 0;        // pixel Y of levelMax
    double height = 1;     // pixels from top to the bottom edge

    double pixelY(double level) const {
        return top + (levelMax - level) * height / (levelMax - levelMin);
    }
};

// Appends the polyline of the visible part of trace to out (cleared first). The line starts at
// the left edge with the level of the last point before the window (or at the first point), and
// ends at the right edge when points follow the window, else at the trace's last point.
void buildStairPolyline(const osc::ChannelTrace& trace, const TraceSummary& summary,
                        const StairMapping& map, QVector<QPointF>& out);

}  // namespace ui
