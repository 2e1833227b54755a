#pragma once
// A level-of-detail summary of a stair trace, for drawing it: only the trace's stored points
// matter for the picture (a completion point repeats the level in force), and they come in
// blocks of up to 64 points or runs of any length. The summary over the blocks answers the
// questions of a pixel column without walking its points:
//   - where the column ends: a search over the blocks' last X (galloping from where the
//     previous column ended), then inside one block (a run by arithmetic);
//   - which levels occur in it: a tree of the lowest and highest level per block, per 64
//     blocks, per 4096 blocks, ..., and inside a block a bit per point telling which of the
//     block's two levels it has, so a part of a block is answered by a mask;
//   - the level leaving it: that bit again.
// So a column costs O(log) however many points it spans (ui/plot/StairRenderer draws with it).

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/trace/channel_trace.h"
#include "core/trace/channels.h"

namespace osc {

class TraceSummary {
  public:
    static constexpr std::size_t kFanOut = 64;  // entries of one level per entry of the next

    // A stored point: point `point` of block `block`; {blockCount(), 0} is the end.
    struct Position {
        std::size_t block = 0;
        std::uint64_t point = 0;
        bool operator==(const Position&) const = default;
    };

    // Brings the summary in line with the trace; cheap when only the last block changed and
    // blocks were appended (the points a capture adds), a full pass over the blocks otherwise.
    void update(const ChannelTrace& trace);
    // Updated with this trace as it is now (the summary keeps pointers into its blocks).
    bool current(const ChannelTrace& trace) const {
        return valid_ && trace_ == &trace && revision_ == trace.revision();
    }

    // The first stored point at or after `from` whose X is at least x. Gallops over the
    // blocks' last X (a small array that stays in cache) from `from`, so that a walk from left
    // to right costs a few probes per step however many points it passes.
    Position lowerBound(const ChannelTrace& trace, Position from, Tick x) const;
    // Lowest and highest level among the stored points [from, to), folded into lo and hi.
    void minMax(const ChannelTrace& trace, Position from, Position to, std::uint8_t& lo,
                std::uint8_t& hi) const;
    // The next position, and the stored point in front of a position (not the first).
    Position next(Position p) const;
    Position previous(const ChannelTrace& trace, Position p) const;
    Position end() const { return {entries_.size(), 0}; }
    // The stored point at p (before end()).
    TracePoint pointAt(Position p) const {
        const Entry& e = entries_[p.block];
        const Tick x = p.point == 0 ? e.first  // without reading the block's points
                       : e.dx != nullptr
                           ? e.first + static_cast<Tick>(e.dx[p.point])
                           : static_cast<Tick>(static_cast<std::uint64_t>(e.first) +
                                               p.point * static_cast<std::uint64_t>(e.step));
        return {x, levelAt(p)};
    }
    std::uint8_t levelAt(Position p) const {
        const Entry& e = entries_[p.block];
        if (e.dx == nullptr) {
            return (p.point & 1) != 0 ? e.y1 : e.y0;
        }
        if (e.twoLevels) {
            return ((e.lowBits >> p.point) & 1) != 0 ? e.lo : e.hi;
        }
        return e.y[p.point];
    }

    // The block where a search for x from block b ends: the first at or after b whose last X
    // is at least x (the block count when none).
    std::size_t blockAtOrAfter(std::size_t b, Tick x) const;
    // How many points of block k lie left of x (block k exists).
    std::uint64_t pointsBelow(std::size_t k, Tick x) const;
    // Block k's first and last X lie less than width apart (block k exists).
    bool narrowerThan(std::size_t k, double width) const {
        return static_cast<double>(lastX_[k]) - static_cast<double>(entries_[k].first) < width;
    }
    // Whether x lies after block k's first point (block k exists).
    bool startsBefore(std::size_t k, Tick x) const { return entries_[k].first < x; }
    // Asks the processor to fetch what pointsBelow(k, ...) will read: the block's entry, or
    // (once the entry is at hand) its points' X.
    void prefetchEntry(std::size_t k) const {
        if (k < entries_.size()) {
            __builtin_prefetch(&entries_[k]);
        }
    }
    void prefetchPoints(std::size_t k) const {
        if (k < entries_.size() && entries_[k].dx != nullptr) {
            const auto* p = reinterpret_cast<const char*>(entries_[k].dx);
            for (std::size_t offset = 0;
                 offset <= sizeof(std::uint32_t) * ChannelTrace::kBlockPoints; offset += 64) {
                __builtin_prefetch(p + offset);
            }
        }
    }

    std::uint64_t fullRebuilds() const { return fullRebuilds_; }

  private:
    // What the summary keeps of one block.
    struct Entry {
        Tick first = 0;
        const std::uint32_t* dx = nullptr;  // nullptr: a run
        const std::uint8_t* y = nullptr;
        std::uint64_t count = 0;
        // Bit j: point j is at the block's lowest level (blocks of points with at most two
        // levels, twoLevels).
        std::uint64_t lowBits = 0;
        std::uint16_t step = 0;
        std::uint8_t y0 = 0, y1 = 0;  // a run's levels of the even and the odd points
        std::uint8_t lo = 0, hi = 0;
        bool twoLevels = false;
    };
    struct Range {
        std::uint8_t lo = 255, hi = 0;
    };

    void refreshFrom(const ChannelTrace& trace, std::size_t firstBlock);
    // Folds the levels of points [a, e) of block k.
    void foldPoints(std::size_t k, std::uint64_t a, std::uint64_t e, Range& r) const;
    // Folds the levels of the entries [a, e) of tree level `level`, stopping early once r
    // holds both extremes of the whole trace.
    void foldEntries(std::size_t level, std::size_t a, std::size_t e, Range& r) const;
    bool whole(const Range& r) const { return r.lo <= all_.lo && r.hi >= all_.hi; }

    // Per block, contiguous: the searches of every repaint read these (a chunked sequence
    // would spare the rare growth but cost each look-up).
    std::vector<Tick> lastX_;  // X of the last point of each block
    std::vector<Entry> entries_;
    // tree_[0]: the levels of each block; tree_[i + 1][k]: of the entries 64k .. 64k + 63 of
    // tree_[i]; the last level has one entry.
    std::vector<std::vector<Range>> tree_;
    Range all_;
    bool valid_ = false;
    const ChannelTrace* trace_ = nullptr;
    std::uint64_t layout_ = 0;
    std::uint64_t revision_ = 0;
    std::uint64_t fullRebuilds_ = 0;
};

// The summaries of the six series of a capture, each brought in line with its trace when it is
// read: the plot and the overview strip draw from the same ones, so that the blocks of a capture
// are summarised once.
class SeriesSummaries {
  public:
    // The summary of series index (0 to kSeriesCount - 1), in line with trace.
    const TraceSummary& of(int index, const ChannelTrace& trace) {
        TraceSummary& summary = summaries_[static_cast<std::size_t>(index)];
        summary.update(trace);
        return summary;
    }

  private:
    std::array<TraceSummary, kSeriesCount> summaries_;
};

}  // namespace osc
