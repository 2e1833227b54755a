#pragma once
// Turning a stair trace into the few vertices that one pixel column can show. Only the
// trace's stored points matter for the picture (a completion point repeats the level in
// force), and they come in blocks of up to 64 points or runs of any length. A level-of-detail
// summary over the blocks (last X, lowest and highest level; the same per 64 blocks) answers
// "which levels occur between two positions" without walking the points; per column the
// polyline gets at most four vertices: the level entering the column, the lowest and highest
// level in it, and the level leaving it. A column holding a single point keeps that point's
// exact X.

#include <QPointF>
#include <QVector>

#include <cstdint>
#include <vector>

#include "core/channel_trace.h"

namespace ui {

class TraceSummary {
  public:
    static constexpr std::size_t kSuperBlock = 64;  // blocks per summary entry of the upper level

    // A stored point: point `point` of block `block`; {blockCount(), 0} is the end.
    struct Position {
        std::size_t block = 0;
        std::uint64_t point = 0;
        bool operator==(const Position&) const = default;
    };

    // Brings the summary in line with the trace; cheap when only the last block changed and
    // blocks were appended (the points a capture adds), a full pass over the blocks otherwise.
    void update(const osc::ChannelTrace& trace);

    // The first stored point at or after `from` whose X is at least x. Gallops over the
    // blocks' last X (a small array that stays in cache) from `from`, so that a walk from left
    // to right costs a few probes per step however many points it passes.
    Position lowerBound(const osc::ChannelTrace& trace, Position from, osc::Tick x) const;
    // Lowest and highest level among the stored points [from, to), folded into lo and hi.
    void minMax(const osc::ChannelTrace& trace, Position from, Position to, std::uint8_t& lo,
                std::uint8_t& hi) const;
    // The next position, and the stored point in front of a position (not the first).
    Position next(Position p) const;
    Position previous(const osc::ChannelTrace& trace, Position p) const;
    Position end() const { return {lastX_.size(), 0}; }

    std::uint64_t fullRebuilds() const { return fullRebuilds_; }

  private:
    void refreshFrom(const osc::ChannelTrace& trace, std::size_t firstBlock);

    std::vector<osc::Tick> lastX_;  // X of the last point of each block
    std::vector<std::uint64_t> counts_;
    std::vector<std::uint8_t> blockMin_, blockMax_, superMin_, superMax_;
    std::uint8_t allMin_ = 255, allMax_ = 0;  // over the whole trace
    bool valid_ = false;
    const osc::ChannelTrace* trace_ = nullptr;
    std::uint64_t layout_ = 0;
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
// ends at the right edge when points follow the window, else at the trace's last point. The
// summary must have been updated with this trace.
void buildStairPolyline(const osc::ChannelTrace& trace, const TraceSummary& summary,
                        const StairMapping& map, QVector<QPointF>& out);

}  // namespace ui
