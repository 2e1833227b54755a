#pragma once
// A stair trace: points (X in whole ticks, level) in ascending X, as the plot, the searches and
// the completion see them. Only what carries information is stored:
//   - the points added (level changes, start and closing points) in blocks of up to 64, a
//     64-bit base X with 32-bit offsets and a byte per level (about 5.5 bytes a point);
//   - regular stretches (a point every `step` ticks, levels constant or alternating) as runs
//     of any length in a few dozen bytes, so a strobe costs the same for a second or an hour;
//   - the completion's points not at all: completing a trace marks its stored points as
//     completed, and the points of each completed gap follow from the gap's two ends
//     (completionOf). Indices count them as if they were stored.
// Appending in order is O(1); every search is a binary search over the blocks. A point that
// lands before earlier ones (time bytes that step backwards) waits in a list of its own; the
// next look at the trace sorts that list and merges it with the stored points behind the
// first of them in one pass, so that whatever order points come in, adding n of them between
// two looks costs O(n log n) plus the points merged, never a re-index of the trace per point.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/trace/channels.h"
#include "core/trace/chunked_vector.h"

namespace osc {

struct TracePoint {
    Tick x = 0;
    std::uint8_t y = 0;
    bool operator==(const TracePoint&) const = default;
};

// The points the completion adds to one gap between neighbouring points at x0 and x1: `left`
// points x0 + 256, x0 + 512, ... and `right` points ..., x1 - 512, x1 - 256, all at the level
// of the point at x0. A gap of 256 or less (or a broken order) gets none.
struct GapCompletion {
    Tick x0 = 0, x1 = 0;
    std::uint64_t left = 0, right = 0;

    std::uint64_t count() const { return left + right; }
    // The k-th added point's X (0 <= k < count()), in trace order.
    Tick at(std::uint64_t k) const;
    // How many of the added points lie left of t (x0 < t <= x1).
    std::uint64_t countBelow(Tick t) const;
};
GapCompletion completionOf(Tick x0, Tick x1);

// The smallest tick t with double(t) >= v, which is how a tick compares with a position held
// as a double; the smallest tick for NaN and anything at or below it; nullopt above every tick.
// Positions within 2^53 are answered inline, the rest by firstTickAtOrAboveAnywhere.
std::optional<Tick> firstTickAtOrAboveAnywhere(double v);
inline std::optional<Tick> firstTickAtOrAbove(double v) {
    // Below 2^53 every whole double is a tick and ceil is exact (NaN is not below).
    if (std::fabs(v) < 9007199254740992.0) {
        return static_cast<Tick>(std::ceil(v));
    }
    return firstTickAtOrAboveAnywhere(v);
}

class ChannelTrace;

// Forward iteration over the points of a trace in trace order (completion points included);
// O(1) a step. The trace must not change meanwhile.
class TracePointIterator {
  public:
    using value_type = TracePoint;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::input_iterator_tag;
    TracePointIterator() = default;
    // At point `index` (count() or more: the end).
    TracePointIterator(const ChannelTrace* trace, std::size_t index);
    TracePoint operator*() const { return point_; }
    TracePointIterator& operator++() {
        if (++index_ < end_) {
            advance();
        }
        return *this;
    }
    TracePointIterator operator++(int) {
        TracePointIterator old = *this;
        ++*this;
        return old;
    }
    std::size_t index() const { return index_; }
    bool operator==(const TracePointIterator& o) const { return index_ == o.index_; }

  private:
    void advance();
    void enterStored(TracePoint previous);

    const ChannelTrace* trace_ = nullptr;
    std::size_t index_ = 0;
    std::size_t end_ = 0;
    std::size_t block_ = 0;
    std::uint64_t stored_ = 0;  // the stored point at or after the position, in its block
    GapCompletion gap_;         // the completed gap in front of it, while inside that gap
    std::uint64_t inGap_ = 0;   // position within the gap's points; gap_.count(): at the point
    std::uint8_t gapLevel_ = 0;
    TracePoint next_{};  // the stored point
    TracePoint point_{};
};

// Points [begin, end) of a trace, for range-based loops.
class TracePointRange {
  public:
    TracePointRange(TracePointIterator begin, TracePointIterator end) : begin_(begin), end_(end) {}
    TracePointIterator begin() const { return begin_; }
    TracePointIterator end() const { return end_; }
    std::size_t size() const { return end_.index() - begin_.index(); }

  private:
    TracePointIterator begin_, end_;
};

// One block of stored points, as the renderer's summary and the exporters read them.
struct TraceBlock {
    Tick firstX = 0, lastX = 0;
    std::uint64_t count = 0;        // stored points in the block
    std::uint64_t storedStart = 0;  // stored points in the blocks before it
    std::uint8_t minLevel = 0, maxLevel = 0;
    bool run = false;  // a regular stretch: a point every `step` ticks
};

// One block's stored points in bulk, for summaries that read many blocks: the offsets and
// levels of a block of points, or the rule of a run. The pointers stay valid until the trace
// next changes (revision()).
struct TraceBlockData {
    Tick first = 0, last = 0;
    std::uint64_t count = 0;
    const std::uint32_t* dx = nullptr;  // X - first of each point; nullptr for a run
    const std::uint8_t* y = nullptr;    // the level of each point; nullptr for a run
    std::uint16_t step = 0;             // a run: X step (point j at first + j * step)
    std::uint8_t y0 = 0, y1 = 0;        // a run: levels of the even and the odd points
    std::uint8_t minLevel = 0, maxLevel = 0;
};

// Forward iteration over the stored points only (no completion points): every level change
// once, for exporters and summaries. O(1) a step.
class StoredPointIterator {
  public:
    using value_type = TracePoint;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::input_iterator_tag;
    StoredPointIterator() = default;
    StoredPointIterator(const ChannelTrace* trace, std::size_t block, std::uint64_t point)
        : trace_(trace), block_(block), point_(point) {}
    TracePoint operator*() const;
    StoredPointIterator& operator++();
    bool operator==(const StoredPointIterator& o) const {
        return block_ == o.block_ && point_ == o.point_;
    }

  private:
    const ChannelTrace* trace_ = nullptr;
    std::size_t block_ = 0;
    std::uint64_t point_ = 0;
};

class StoredPointRange {
  public:
    StoredPointRange(StoredPointIterator begin, StoredPointIterator end)
        : begin_(begin), end_(end) {}
    StoredPointIterator begin() const { return begin_; }
    StoredPointIterator end() const { return end_; }

  private:
    StoredPointIterator begin_, end_;
};

class ChannelTrace {
  public:
    static constexpr std::size_t kBlockPoints = 64;

    ChannelTrace() = default;
    ChannelTrace(const ChannelTrace& other);
    ChannelTrace& operator=(const ChannelTrace& other);
    ChannelTrace(ChannelTrace&&) noexcept = default;
    // Assignment counts as a change of every point (both revisions grow past either side's).
    ChannelTrace& operator=(ChannelTrace&& other) noexcept;
    ~ChannelTrace();
    void swap(ChannelTrace& other) noexcept;

    // Inserts after the last point whose X is not greater than x (after equal X). A point
    // that lands among the points of a completed gap leaves them where they are, at their
    // level, as stored points would stay. O(1) at the end; O(1) amortised before earlier
    // points that are not completed yet (merged at the next look, see above).
    void add(Tick x, std::uint8_t y) {
        // The next point of a regular stretch at the end (a strobe): a count goes up.
        if (!blocks_.empty() && blocks_.size() > completed_) {
            Block& b = blocks_.back();
            if (b.run() && x >= b.last &&
                static_cast<std::uint64_t>(x) - static_cast<std::uint64_t>(b.last) == b.step &&
                y == ((b.count & 1) != 0 ? b.y1 : b.y0) && b.count >= 2) {
                ++revision_;
                ++b.count;
                b.last = x;
                ++storedTotal_;
                return;
            }
        }
        addPoint(x, y);
    }
    // n points x0, x0 + step, x0 + 2 step, ... at the levels yFirst, ySecond, yFirst, ...:
    // the same as n calls of add(), in O(1) when they go on with the regular stretch at the end
    // (a strobe decoded a stretch at a time).
    void addRegular(Tick x0, Tick step, std::uint64_t n, std::uint8_t yFirst, std::uint8_t ySecond);
    // Removes every point and gives the memory back.
    void clear();

    // Completes every gap not completed yet (see trace_completion.h): O(1) for points
    // appended in order since the last completion. Returns the progress steps that the
    // pass-by-pass procedure would take. Throws std::length_error, changing nothing, when the
    // trace would count more than 2^48 points.
    std::uint64_t complete();

    std::size_t count() const {
        settle();
        return static_cast<std::size_t>(storedTotal_ + derivedStartAt(completed_));
    }
    // Bytes held: the block index (its capacity), the blocks' points and the points waiting
    // to be merged.
    std::size_t memoryBytes() const;
    bool empty() const { return blocks_.empty(); }

    // Index outside 0..count()-1: throws std::out_of_range.
    Tick x(std::ptrdiff_t i) const { return point(i).x; }
    std::uint8_t y(std::ptrdiff_t i) const { return point(i).y; }
    TracePoint point(std::ptrdiff_t i) const;
    // Points [begin, end) in trace order (end clamped to count()).
    TracePointRange points(std::size_t begin = 0, std::size_t end = SIZE_MAX) const;
    // Sets one point's X or level (the caller keeps the order; used for the two lines). A
    // completion point becomes a stored one first; points of a completed gap beside it stay.
    void setX(std::ptrdiff_t i, Tick x);
    void setY(std::ptrdiff_t i, std::uint8_t y);

    // Index of the first point whose X equals x exactly, -1 if none.
    std::ptrdiff_t locate(Tick x) const;
    // The same for a position held as a double: -1 also when x is not a whole number of ticks
    // (or NaN, or beyond the range of ticks).
    std::ptrdiff_t locateExact(double x) const;
    // First point with X >= windowMin; -1 when there is none.
    std::ptrdiff_t firstVisible(double windowMin) const;
    // First point with X >= windowMax, or the last point when none reaches it;
    // -1 when firstVisible(windowMin) is -1.
    std::ptrdiff_t lastVisible(double windowMin, double windowMax) const;
    // First index with X >= x (count() when none), for callers that scan ranges.
    std::size_t lowerBound(double x) const;
    // The same for a whole tick, compared exactly.
    std::size_t lowerBoundTick(Tick x) const;

    // X of the last point; throws std::out_of_range on an empty trace.
    Tick lastX() const;

    // The stored points alone, block by block (no completion points).
    std::size_t storedCount() const {
        settle();
        return static_cast<std::size_t>(storedTotal_);
    }
    StoredPointRange storedPoints() const;
    std::size_t blockCount() const {
        settle();
        return blocks_.size();
    }
    TraceBlock block(std::size_t k) const;                        // k < blockCount()
    TraceBlockData blockData(std::size_t k) const;                // k < blockCount()
    TracePoint blockPoint(std::size_t k, std::uint64_t j) const;  // j < block(k).count
    // First j in block k with X >= x (block(k).count when none).
    std::uint64_t blockLowerBound(std::size_t k, Tick x) const;
    // Copies the stored points from stored index `from` on into out, stopping before the first
    // one whose X is greater than upTo; returns how many. `block` remembers where the last call
    // stopped, so that reading on from there costs nothing to find (any value is safe).
    std::size_t copyStored(std::size_t from, Tick upTo, std::span<TracePoint> out,
                           std::size_t& block) const;
    // Grows with every change of the stored points other than one at the last block (points
    // appended, the last block split or turned into a run): a view that has summarised the
    // blocks up to the last one needs to look again only from there while it stays the same.
    std::uint64_t layoutRevision() const { return layoutRevision_; }

    // A hidden trace is not drawn; adding points to it requests no redraw.
    bool hidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }

    // Grows with every change of the points; lets views notice changes cheaply.
    std::uint64_t revision() const { return revision_; }

  private:
    friend class TracePointIterator;
    friend class StoredPointIterator;

    struct Payload {
        std::uint32_t dx[kBlockPoints];  // X - the block's first X
        std::uint8_t y[kBlockPoints];
    };
    // A block's points: a pointer that copies what it points to.
    class PayloadBox {
      public:
        PayloadBox() = default;
        explicit PayloadBox(std::unique_ptr<Payload> p) : p_(std::move(p)) {}
        PayloadBox(const PayloadBox& o) : p_(o.p_ ? std::make_unique<Payload>(*o.p_) : nullptr) {}
        PayloadBox& operator=(const PayloadBox& o) {
            p_ = o.p_ ? std::make_unique<Payload>(*o.p_) : nullptr;
            return *this;
        }
        PayloadBox(PayloadBox&&) noexcept = default;
        PayloadBox& operator=(PayloadBox&&) noexcept = default;
        Payload* get() const { return p_.get(); }
        Payload* operator->() const { return p_.get(); }
        explicit operator bool() const { return p_ != nullptr; }
        void reset() { p_.reset(); }

      private:
        std::unique_ptr<Payload> p_;
    };
    struct Block {
        Tick first = 0, last = 0;
        std::uint64_t count = 0;
        // Completion points in front of its points (the gap before each, held ones left out),
        // counted whether or not the block is completed yet, and the progress steps of those
        // gaps by their indices in the completed trace.
        std::uint64_t derived = 0;
        std::uint64_t steps = 0;
        // Sums over the blocks in front of it.
        std::uint64_t storedStart = 0, derivedStart = 0, stepsStart = 0;
        // Bit j: the gap in front of point j is not completed, though the block is (a point
        // inserted in front of the trace, a point moved by setX). Runs use bit 0 only.
        std::uint64_t held = 0;
        PayloadBox pts;               // empty: a run
        std::uint16_t step = 0;       // run: X step, 1 to 256
        std::uint8_t y0 = 0, y1 = 0;  // run: levels of the even and the odd points
        std::uint8_t lo = 0, hi = 0;

        bool run() const { return !pts; }
    };
    // A position: point `stored` of block `block`, or completion point `derived` of the gap in
    // front of it.
    struct Where {
        std::size_t block = 0;
        std::uint64_t stored = 0;
        std::uint64_t derived = 0;
        bool inGap = false;
    };

    static Tick pointX(const Block& b, std::uint64_t j) {
        return b.pts ? b.first + static_cast<Tick>(b.pts->dx[j])
                     : static_cast<Tick>(static_cast<std::uint64_t>(b.first) +
                                         j * static_cast<std::uint64_t>(b.step));
    }
    static std::uint8_t pointY(const Block& b, std::uint64_t j) {
        return b.pts ? b.pts->y[j] : ((j & 1) != 0 ? b.y1 : b.y0);
    }
    TracePoint storedPoint(std::size_t k, std::uint64_t j) const {
        return {pointX(blocks_[k], j), pointY(blocks_[k], j)};
    }
    // The stored point in front of (k, j); precondition: not the trace's first point.
    TracePoint previousStored(std::size_t k, std::uint64_t j) const;
    bool heldBit(const Block& b, std::uint64_t j) const {
        return j < 64 && (b.pts || j == 0) && ((b.held >> j) & 1) != 0;
    }
    // Completion points of the gap in front of (k, j) once completed (0 when held).
    std::uint64_t gapCount(std::size_t k, std::uint64_t j) const;
    // The same, but 0 unless the block is completed.
    std::uint64_t visibleGapCount(std::size_t k, std::uint64_t j) const {
        return k < completed_ ? gapCount(k, j) : 0;
    }
    std::uint64_t derivedStartAt(std::size_t k) const {
        return k < blocks_.size() ? blocks_[k].derivedStart : derivedTotal_;
    }
    std::uint64_t stepsStartAt(std::size_t k) const {
        return k < blocks_.size() ? blocks_[k].stepsStart : stepsTotal_;
    }
    std::uint64_t visibleStart(std::size_t k) const {
        return blocks_[k].storedStart + derivedStartAt(std::min(k, completed_));
    }
    // Index (in the completed trace) of the first point that belongs to (k, j): the first
    // completion point in front of it, or the point itself.
    std::uint64_t potentialStart(std::size_t k, std::uint64_t j) const;
    // Index of stored point (k, j) among the points as they are now.
    std::uint64_t visibleIndex(std::size_t k, std::uint64_t j) const;
    Where find(std::uint64_t i) const;
    // blockLowerBound without merging the points that wait (it runs while they are merged).
    std::uint64_t lowerBoundIn(std::size_t k, Tick x) const;
    void checkIndex(std::ptrdiff_t i) const;

    void addPoint(Tick x, std::uint8_t y);
    // Appends a point whose X is not less than the last one's.
    void appendInOrder(Tick x, std::uint8_t y);
    // Whether a point at x, before the last point, may wait to be merged: it lands behind the
    // completed blocks, in a trace whose order no setX has broken.
    bool mayDefer(Tick x) const;
    // Merges the points that wait into the stored points (the const queries call it first).
    void settle() const {
        if (!pending_.empty()) {
            const_cast<ChannelTrace*>(this)->mergePending();
        }
    }
    void mergePending();
    void appendBlock(Tick x, std::uint8_t y);
    void appendToPoints(Tick x, std::uint8_t y);
    void splitOffTailRun();
    void insertInside(Tick x, std::uint8_t y);
    void insertBefore(std::size_t k, std::uint64_t j, Tick x, std::uint8_t y, bool held);
    void insertBlock(std::size_t pos, Block&& b, bool completed);
    Block singlePoint(Tick x, std::uint8_t y, bool held);
    void insertIntoPayload(Block& b, std::uint64_t j, Tick x, std::uint8_t y, bool held);
    void splitBlock(std::size_t k, std::uint64_t j);
    std::size_t isolate(std::size_t k, std::uint64_t j);
    void freeze(std::size_t k, std::uint64_t j);
    // Turns completion points next to stored point i into stored ones: the one at i, the gap
    // in front of the point and, when `after`, the gap behind it. Returns its position.
    Where freezeAround(std::uint64_t i, bool before, bool after);
    // Marks the gap in front of (k, j) as not completed when its block is and it would get
    // points; true when it did.
    bool holdGap(std::size_t k, std::uint64_t j);
    void touch(std::size_t k);
    void refresh(std::size_t k);
    void recountSteps(std::size_t k);
    void reindexFrom(std::size_t k);
    std::uint64_t completeWithHeld();

    // What merging the waiting points changes is mutable: the const queries merge them first
    // (settle), which changes no point as the trace's users see them.
    mutable ChunkedVector<Block> blocks_;
    std::size_t completed_ = 0;  // blocks [0, completed_) are completed
    mutable std::uint64_t storedTotal_ = 0, derivedTotal_ = 0, stepsTotal_ = 0;
    mutable std::size_t payloads_ = 0;
    bool anyHeld_ = false;
    // Points at the end of the last block that already form a regular stretch.
    mutable std::uint64_t tailRun_ = 0;
    mutable Tick tailStep_ = 0;
    // Points added before the last point and not merged yet, in the order they came; all lie
    // behind the completed blocks, and each is less than the last stored X.
    mutable std::vector<TracePoint> pending_;
    // A setX has put a point out of order: points are inserted one at a time from then on.
    bool unordered_ = false;
    bool hidden_ = false;
    std::uint64_t revision_ = 0;
    std::uint64_t layoutRevision_ = 0;
};

}  // namespace osc
