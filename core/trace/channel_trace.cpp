#include "core/trace/channel_trace.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace osc {

namespace {

constexpr std::uint64_t kBit = static_cast<std::uint64_t>(kTicksPerBit);
// Regular points at the end of the last block that are moved into a run of their own.
constexpr std::uint64_t kRunMin = 16;
// Far more points than any capture reaches (nine years at 1 Mbit/s); the indices stay exact
// as doubles.
constexpr std::uint64_t kMaxCompleted = std::uint64_t{1} << 48;
constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::uint32_t>::max();

std::uint64_t diff(Tick a, Tick b) {  // a - b for a >= b, without overflow
    return static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b);
}

// Distance between two neighbouring points; 0 when the order is broken (such a pair is never
// filled, as d <= 256 would not be either).
std::uint64_t gapOf(Tick x0, Tick x1) {
    return x1 <= x0 ? 0 : diff(x1, x0);
}

// The completion gives a gap of d ticks points 256 apart with one shorter step: ceil(d / 256)
// - 1 of them.
std::uint64_t fillCount(std::uint64_t d) {
    return d > kBit ? (d - 1) >> 8 : 0;
}

// Passes of the pass-by-pass procedure on one gap: each adds a left point while the rest is
// longer than 256 and a right one while it is longer than 512, so a pass takes 512 ticks off.
std::uint64_t passesOf(std::uint64_t d) {
    return d > kBit ? ((d - kBit - 1) >> 9) + 1 : 0;
}

// Progress steps of one gap: multiples of 100 among the right-hand indices left + 1 ..
// left + passes that its passes see (left: the index of the gap's left point).
std::uint64_t stepsOf(std::uint64_t left, std::uint64_t passes) {
    return (left + passes) / 100 - left / 100;
}

std::uint64_t lowMask(std::uint64_t j) {
    return j >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << j) - 1;
}

}  // namespace

GapCompletion completionOf(Tick x0, Tick x1) {
    const std::uint64_t d = gapOf(x0, x1);
    GapCompletion g{x0, x1, 0, 0};
    if (d <= kBit) {
        return g;
    }
    g.left = passesOf(d);
    const std::uint64_t lastRest = d - 2 * kBit * (g.left - 1);  // in (256, 768]
    g.right = lastRest > 2 * kBit ? g.left : g.left - 1;
    return g;
}

Tick GapCompletion::at(std::uint64_t k) const {
    if (k < left) {
        return static_cast<Tick>(static_cast<std::uint64_t>(x0) + (k + 1) * kBit);
    }
    return static_cast<Tick>(static_cast<std::uint64_t>(x1) - (right - (k - left)) * kBit);
}

std::uint64_t GapCompletion::countBelow(Tick t) const {
    if (t <= x0) {
        return 0;
    }
    if (t > x1) {
        return count();
    }
    const std::uint64_t leftBelow = std::min(left, (diff(t, x0) - 1) / kBit);
    const std::uint64_t rightBelow = right - std::min(right, diff(x1, t) / kBit);
    return leftBelow + rightBelow;
}

std::optional<Tick> firstTickAtOrAboveAnywhere(double v) {
    constexpr double kTwo63 = 9223372036854775808.0;
    constexpr double kTwo53 = 9007199254740992.0;
    if (std::isnan(v) || v <= -kTwo63) {
        return std::numeric_limits<Tick>::min();
    }
    if (v > kTwo63) {
        return std::nullopt;
    }
    if (std::fabs(v) < kTwo53) {
        return static_cast<Tick>(std::ceil(v));
    }
    // Beyond 2^53 not every tick is a double: the first tick whose double is at or above v.
    Tick lo = std::numeric_limits<Tick>::min();
    Tick hi = std::numeric_limits<Tick>::max();  // double(hi) is 2^63 >= v
    while (lo < hi) {
        const Tick mid = static_cast<Tick>(static_cast<std::uint64_t>(lo) + diff(hi, lo) / 2);
        if (static_cast<double>(mid) >= v) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return lo;
}

// ---- iteration ----------------------------------------------------------------------------

TracePointIterator::TracePointIterator(const ChannelTrace* trace, std::size_t index)
    : trace_(trace), index_(index), end_(trace != nullptr ? trace->count() : 0) {
    if (index_ >= end_) {
        return;
    }
    const ChannelTrace::Where w = trace_->find(index_);
    block_ = w.block;
    stored_ = w.stored;
    next_ = trace_->storedPoint(block_, stored_);
    if (w.inGap) {
        const TracePoint previous = trace_->previousStored(block_, stored_);
        gap_ = completionOf(previous.x, next_.x);
        gapLevel_ = previous.y;
        inGap_ = w.derived;
        point_ = {gap_.at(inGap_), gapLevel_};
    } else {
        point_ = next_;
    }
}

void TracePointIterator::advance() {
    if (inGap_ < gap_.count()) {
        ++inGap_;
        point_ = inGap_ < gap_.count() ? TracePoint{gap_.at(inGap_), gapLevel_} : next_;
        return;
    }
    const TracePoint previous = next_;
    if (++stored_ == trace_->blocks_[block_].count) {
        ++block_;
        stored_ = 0;
    }
    enterStored(previous);
}

void TracePointIterator::enterStored(TracePoint previous) {
    const ChannelTrace::Block& b = trace_->blocks_[block_];
    next_ = {ChannelTrace::pointX(b, stored_), ChannelTrace::pointY(b, stored_)};
    inGap_ = 0;
    if (block_ < trace_->completed_ && (b.pts || stored_ == 0) && !trace_->heldBit(b, stored_)) {
        const std::uint64_t c = fillCount(gapOf(previous.x, next_.x));
        if (c != 0) {
            gap_ = completionOf(previous.x, next_.x);
            gapLevel_ = previous.y;
            point_ = {gap_.at(0), gapLevel_};
            return;
        }
    }
    gap_ = {};
    point_ = next_;
}

TracePoint StoredPointIterator::operator*() const {
    return trace_->storedPoint(block_, point_);
}

StoredPointIterator& StoredPointIterator::operator++() {
    if (++point_ == trace_->blocks_[block_].count) {
        ++block_;
        point_ = 0;
    }
    return *this;
}

// ---- queries ------------------------------------------------------------------------------

ChannelTrace::ChannelTrace(const ChannelTrace& other) = default;
ChannelTrace& ChannelTrace::operator=(const ChannelTrace& other) {
    if (this != &other) {
        ChannelTrace copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ChannelTrace& ChannelTrace::operator=(ChannelTrace&& other) noexcept {
    if (this != &other) {
        const std::uint64_t revision = std::max(revision_, other.revision_) + 1;
        const std::uint64_t layout = std::max(layoutRevision_, other.layoutRevision_) + 1;
        swap(other);
        revision_ = revision;
        layoutRevision_ = layout;
    }
    return *this;
}

void ChannelTrace::swap(ChannelTrace& o) noexcept {
    std::swap(blocks_, o.blocks_);
    std::swap(completed_, o.completed_);
    std::swap(storedTotal_, o.storedTotal_);
    std::swap(derivedTotal_, o.derivedTotal_);
    std::swap(stepsTotal_, o.stepsTotal_);
    std::swap(payloads_, o.payloads_);
    std::swap(anyHeld_, o.anyHeld_);
    std::swap(pending_, o.pending_);
    std::swap(unordered_, o.unordered_);
    std::swap(tailRun_, o.tailRun_);
    std::swap(tailStep_, o.tailStep_);
    std::swap(hidden_, o.hidden_);
    std::swap(revision_, o.revision_);
    std::swap(layoutRevision_, o.layoutRevision_);
}
ChannelTrace::~ChannelTrace() = default;

std::size_t ChannelTrace::memoryBytes() const {
    return blocks_.capacity() * sizeof(Block) + payloads_ * sizeof(Payload) +
           pending_.capacity() * sizeof(TracePoint);
}

TracePoint ChannelTrace::previousStored(std::size_t k, std::uint64_t j) const {
    if (j > 0) {
        return storedPoint(k, j - 1);
    }
    return storedPoint(k - 1, blocks_[k - 1].count - 1);
}

std::uint64_t ChannelTrace::gapCount(std::size_t k, std::uint64_t j) const {
    const Block& b = blocks_[k];
    if ((k == 0 && j == 0) || (b.run() && j > 0) || heldBit(b, j)) {
        return 0;  // the first point; inside a run (steps of at most 256); held
    }
    return fillCount(gapOf(previousStored(k, j).x, pointX(b, j)));
}

std::uint64_t ChannelTrace::potentialStart(std::size_t k, std::uint64_t j) const {
    const Block& b = blocks_[k];
    std::uint64_t index = b.storedStart + b.derivedStart;
    if (b.run()) {
        return j == 0 ? index : index + b.derived + j;
    }
    for (std::uint64_t i = 0; i < j; ++i) {
        index += gapCount(k, i) + 1;
    }
    return index;
}

std::uint64_t ChannelTrace::visibleIndex(std::size_t k, std::uint64_t j) const {
    const Block& b = blocks_[k];
    std::uint64_t index = visibleStart(k) + j;
    if (k >= completed_ || b.derived == 0) {
        return index;
    }
    if (b.run()) {
        return index + b.derived;
    }
    for (std::uint64_t i = 0; i <= j; ++i) {
        index += gapCount(k, i);
    }
    return index;
}

ChannelTrace::Where ChannelTrace::find(std::uint64_t i) const {
    // The last block that starts at or before i.
    std::size_t lo = 0, hi = blocks_.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (visibleStart(mid) <= i) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    const std::size_t k = lo - 1;
    const Block& b = blocks_[k];
    std::uint64_t o = i - visibleStart(k);
    if (k >= completed_ || b.derived == 0) {
        return {k, o, 0, false};
    }
    if (b.run()) {
        return o < b.derived ? Where{k, 0, o, true} : Where{k, o - b.derived, 0, false};
    }
    for (std::uint64_t j = 0;; ++j) {
        const std::uint64_t c = gapCount(k, j);
        if (o < c) {
            return {k, j, o, true};
        }
        o -= c;
        if (o == 0) {
            return {k, j, 0, false};
        }
        --o;
    }
}

void ChannelTrace::checkIndex(std::ptrdiff_t i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= count()) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(i) + ")");
    }
}

TracePoint ChannelTrace::point(std::ptrdiff_t i) const {
    checkIndex(i);  // settles
    const Where w = find(static_cast<std::uint64_t>(i));
    if (!w.inGap) {
        return storedPoint(w.block, w.stored);
    }
    const TracePoint previous = previousStored(w.block, w.stored);
    const Tick x1 = pointX(blocks_[w.block], w.stored);
    return {completionOf(previous.x, x1).at(w.derived), previous.y};
}

TracePointRange ChannelTrace::points(std::size_t begin, std::size_t end) const {
    end = std::min(end, count());  // settles
    begin = std::min(begin, end);
    return {TracePointIterator(this, begin), TracePointIterator(this, end)};
}

StoredPointRange ChannelTrace::storedPoints() const {
    settle();
    return {StoredPointIterator(this, 0, 0), StoredPointIterator(this, blocks_.size(), 0)};
}

TraceBlock ChannelTrace::block(std::size_t k) const {
    settle();
    const Block& b = blocks_[k];
    return {pointX(b, 0), b.last, b.count, b.storedStart, b.lo, b.hi, b.run()};
}

TraceBlockData ChannelTrace::blockData(std::size_t k) const {
    settle();
    const Block& b = blocks_[k];
    TraceBlockData d;
    d.first = b.first;
    d.last = b.last;
    d.count = b.count;
    if (b.pts) {
        d.dx = b.pts->dx;
        d.y = b.pts->y;
    } else {
        d.step = b.step;
        d.y0 = b.y0;
        d.y1 = b.y1;
    }
    d.minLevel = b.lo;
    d.maxLevel = b.hi;
    return d;
}

TracePoint ChannelTrace::blockPoint(std::size_t k, std::uint64_t j) const {
    settle();
    return storedPoint(k, j);
}

std::size_t ChannelTrace::copyStored(std::size_t from, Tick upTo, std::span<TracePoint> out,
                                     std::size_t& block) const {
    settle();
    if (from >= storedTotal_ || out.empty()) {
        return 0;
    }
    const auto holds = [this, from](std::size_t k) {
        return k < blocks_.size() && blocks_[k].storedStart <= from &&
               from - blocks_[k].storedStart < blocks_[k].count;
    };
    std::size_t k = block;
    if (!holds(k) && holds(k + 1)) {
        ++k;
    } else if (!holds(k)) {
        // The last block that starts at or before from.
        k = static_cast<std::size_t>(std::upper_bound(blocks_.begin(), blocks_.end(), from,
                                                      [](std::uint64_t i, const Block& b) {
                                                          return i < b.storedStart;
                                                      }) -
                                     blocks_.begin()) -
            1;
    }
    std::uint64_t j = from - blocks_[k].storedStart;
    std::size_t n = 0;
    while (n < out.size()) {
        const Block& b = blocks_[k];
        if (j >= b.count) {
            if (k + 1 == blocks_.size()) {
                break;
            }
            ++k;
            j -= b.count;
            continue;
        }
        const std::uint64_t take = std::min<std::uint64_t>(b.count - j, out.size() - n);
        std::size_t i = 0;
        if (b.pts && b.last <= upTo) {
            const Payload& p = *b.pts.get();
            for (; i < take; ++i) {
                out[n + i] = {b.first + static_cast<Tick>(p.dx[j + i]), p.y[j + i]};
            }
        } else if (b.pts) {
            const Payload& p = *b.pts.get();
            for (; i < take; ++i) {
                const Tick x = b.first + static_cast<Tick>(p.dx[j + i]);
                if (x > upTo) {
                    break;
                }
                out[n + i] = {x, p.y[j + i]};
            }
        } else {
            for (; i < take; ++i) {
                const Tick x = pointX(b, j + i);
                if (x > upTo) {
                    break;
                }
                out[n + i] = {x, pointY(b, j + i)};
            }
        }
        n += i;
        j += i;
        if (i < take) {
            break;
        }
    }
    block = k;
    return n;
}

std::uint64_t ChannelTrace::blockLowerBound(std::size_t k, Tick x) const {
    settle();
    return lowerBoundIn(k, x);
}

std::uint64_t ChannelTrace::lowerBoundIn(std::size_t k, Tick x) const {
    const Block& b = blocks_[k];
    if (x <= b.first) {
        return 0;
    }
    const std::uint64_t rel = diff(x, b.first);
    if (b.run()) {
        if (b.count == 1) {
            return 1;
        }
        const std::uint64_t step = b.step;
        return std::min(b.count, rel / step + (rel % step != 0 ? 1 : 0));
    }
    if (rel > kMaxOffset) {
        return b.count;
    }
    const std::uint32_t* dx = b.pts->dx;
    return static_cast<std::uint64_t>(
        std::lower_bound(dx, dx + b.count, static_cast<std::uint32_t>(rel)) - dx);
}

std::size_t ChannelTrace::lowerBoundTick(Tick x) const {
    settle();
    const auto it = std::partition_point(blocks_.begin(), blocks_.end(),
                                         [x](const Block& b) { return b.last < x; });
    if (it == blocks_.end()) {
        return count();
    }
    const auto k = static_cast<std::size_t>(it - blocks_.begin());
    const std::uint64_t j = lowerBoundIn(k, x);
    if (j == blocks_[k].count) {  // only with a broken order
        return k + 1 < blocks_.size() ? static_cast<std::size_t>(visibleStart(k + 1)) : count();
    }
    const std::uint64_t index = visibleIndex(k, j);
    const std::uint64_t c = visibleGapCount(k, j);
    if (c == 0) {
        return static_cast<std::size_t>(index);
    }
    // The completion points in front of the point that lie at or right of x come first.
    const TracePoint previous = previousStored(k, j);
    const GapCompletion g = completionOf(previous.x, pointX(blocks_[k], j));
    return static_cast<std::size_t>(index - c + g.countBelow(x));
}

std::size_t ChannelTrace::lowerBound(double x) const {
    settle();
    const std::optional<Tick> t = firstTickAtOrAbove(x);
    return t ? lowerBoundTick(*t) : count();
}

std::ptrdiff_t ChannelTrace::locate(Tick x) const {
    const std::size_t i = lowerBoundTick(x);
    if (i >= count() || this->x(static_cast<std::ptrdiff_t>(i)) != x) {
        return -1;
    }
    return static_cast<std::ptrdiff_t>(i);
}

std::ptrdiff_t ChannelTrace::locateExact(double x) const {
    // 2^63 is exactly representable; every whole double in [-2^63, 2^63) is a tick value.
    constexpr double kTwo63 = 9223372036854775808.0;
    if (!(x >= -kTwo63 && x < kTwo63) || std::trunc(x) != x) {
        return -1;
    }
    return locate(static_cast<Tick>(x));
}

std::ptrdiff_t ChannelTrace::firstVisible(double windowMin) const {
    const std::size_t i = lowerBound(windowMin);
    return i == count() ? -1 : static_cast<std::ptrdiff_t>(i);
}

std::ptrdiff_t ChannelTrace::lastVisible(double windowMin, double windowMax) const {
    settle();
    // Some point lies at or right of the minimum exactly when the last one does.
    if (empty() || static_cast<double>(lastX()) < windowMin) {
        return -1;
    }
    const std::size_t n = count();
    const std::size_t i = lowerBound(windowMax);
    return i == n ? static_cast<std::ptrdiff_t>(n) - 1 : static_cast<std::ptrdiff_t>(i);
}

Tick ChannelTrace::lastX() const {
    if (blocks_.empty()) {
        throw std::out_of_range("List index out of bounds (-1)");
    }
    return blocks_.back().last;
}

// ---- bookkeeping --------------------------------------------------------------------------

void ChannelTrace::touch(std::size_t k) {
    if (k + 1 < blocks_.size()) {
        ++layoutRevision_;
    }
}

void ChannelTrace::refresh(std::size_t k) {
    Block& b = blocks_[k];
    if (b.run()) {
        b.last = pointX(b, b.count - 1);
        b.lo = b.count >= 2 ? std::min(b.y0, b.y1) : b.y0;
        b.hi = b.count >= 2 ? std::max(b.y0, b.y1) : b.y0;
        b.derived = gapCount(k, 0);
        return;
    }
    std::uint64_t derived = 0;
    std::uint8_t lo = 255, hi = 0;
    Tick previous = k > 0 ? blocks_[k - 1].last : 0;
    for (std::uint64_t j = 0; j < b.count; ++j) {
        const Tick x = pointX(b, j);
        if ((k != 0 || j != 0) && !heldBit(b, j)) {
            derived += fillCount(gapOf(previous, x));
        }
        previous = x;
        lo = std::min(lo, b.pts->y[j]);
        hi = std::max(hi, b.pts->y[j]);
    }
    b.last = previous;
    b.lo = lo;
    b.hi = hi;
    b.derived = derived;
}

void ChannelTrace::recountSteps(std::size_t k) {
    Block& b = blocks_[k];
    std::uint64_t index = b.storedStart + b.derivedStart;  // of the block's first element
    std::uint64_t steps = 0;
    Tick previous = k > 0 ? blocks_[k - 1].last : 0;
    const std::uint64_t n = b.run() ? 1 : b.count;  // a run's inner steps are at most 256
    for (std::uint64_t j = 0; j < n; ++j) {
        const Tick x = pointX(b, j);
        if ((k != 0 || j != 0) && !heldBit(b, j)) {
            const std::uint64_t d = gapOf(previous, x);
            const std::uint64_t c = fillCount(d);
            if (c != 0) {
                steps += stepsOf(index - 1, passesOf(d));
                index += c;
            }
        }
        ++index;
        previous = x;
    }
    b.steps = steps;
}

void ChannelTrace::reindexFrom(std::size_t k) {
    for (std::size_t i = k; i < blocks_.size(); ++i) {
        Block& b = blocks_[i];
        if (i == 0) {
            b.storedStart = b.derivedStart = b.stepsStart = 0;
        } else {
            const Block& p = blocks_[i - 1];
            b.storedStart = p.storedStart + p.count;
            b.derivedStart = p.derivedStart + p.derived;
            b.stepsStart = p.stepsStart + p.steps;
        }
        if (i >= completed_) {
            recountSteps(i);
        }
    }
    if (blocks_.empty()) {
        storedTotal_ = derivedTotal_ = stepsTotal_ = 0;
    } else {
        const Block& last = blocks_.back();
        storedTotal_ = last.storedStart + last.count;
        derivedTotal_ = last.derivedStart + last.derived;
        stepsTotal_ = last.stepsStart + last.steps;
    }
}

// ---- changes ------------------------------------------------------------------------------

void ChannelTrace::addRegular(Tick x0, Tick step, std::uint64_t n, std::uint8_t yFirst,
                              std::uint8_t ySecond) {
    for (; n > 0; --n) {
        if (!blocks_.empty() && blocks_.size() > completed_) {
            Block& b = blocks_.back();
            const auto level = [&b](std::uint64_t j) { return (j & 1) != 0 ? b.y1 : b.y0; };
            if (b.run() && b.count >= 2 && x0 >= b.last && step == b.step &&
                diff(x0, b.last) == b.step && yFirst == level(b.count) &&
                (n == 1 || ySecond == level(b.count + 1))) {
                ++revision_;
                b.count += n;
                b.last = static_cast<Tick>(static_cast<std::uint64_t>(x0) +
                                           (n - 1) * static_cast<std::uint64_t>(step));
                storedTotal_ += n;
                return;
            }
        }
        add(x0, yFirst);
        x0 = static_cast<Tick>(static_cast<std::uint64_t>(x0) + static_cast<std::uint64_t>(step));
        std::swap(yFirst, ySecond);
    }
}

void ChannelTrace::addPoint(Tick x, std::uint8_t y) {
    ++revision_;
    if (!blocks_.empty() && x < blocks_.back().last) {
        if (mayDefer(x)) {
            pending_.push_back({x, y});
            ++layoutRevision_;
            return;
        }
        settle();
        insertInside(x, y);
        return;
    }
    // Points that wait all lie before x: appending goes on as if they were merged.
    appendInOrder(x, y);
}

bool ChannelTrace::mayDefer(Tick x) const {
    // The first point with X greater than x, in front of which it goes, lies behind the
    // completed blocks when the last completed point is not greater than x.
    return !unordered_ && completed_ < blocks_.size() &&
           (completed_ == 0 || blocks_[completed_ - 1].last <= x);
}

void ChannelTrace::mergePending() {
    // Each waiting point goes after every point with an X not greater than its own that came
    // before it: the stored ones (a stored point that came later has a greater X) and the
    // waiting ones before it in the list. So: the list sorted stably by X, merged behind the
    // stored points of equal X.
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const TracePoint& a, const TracePoint& b) { return a.x < b.x; });
    const Tick from = pending_.front().x;  // less than the last stored X
    const auto it = std::partition_point(blocks_.begin(), blocks_.end(),
                                         [from](const Block& b) { return b.last <= from; });
    const auto k = static_cast<std::size_t>(it - blocks_.begin());
    const std::uint64_t j = lowerBoundIn(k, from + 1);
    // The stored points from (k, j) on are taken out and put back merged, in order.
    std::vector<TracePoint> tail;
    tail.reserve(static_cast<std::size_t>(storedTotal_ - blocks_[k].storedStart - j));
    for (std::size_t i = k; i < blocks_.size(); ++i) {
        for (std::uint64_t q = i == k ? j : 0; q < blocks_[i].count; ++q) {
            tail.push_back(storedPoint(i, q));
        }
    }
    std::vector<TracePoint> incoming;
    incoming.swap(pending_);
    const auto drop = [this] {
        if (blocks_.back().pts) {
            --payloads_;
        }
        blocks_.pop_back();
    };
    while (blocks_.size() > k + 1) {
        drop();
    }
    if (j == 0) {
        drop();
    } else {
        blocks_[k].count = j;
        blocks_[k].held &= lowMask(j);
        refresh(k);
    }
    reindexFrom(blocks_.empty() ? 0 : blocks_.size() - 1);
    tailRun_ = 0;
    auto a = tail.begin();
    auto b = incoming.begin();
    while (a != tail.end() || b != incoming.end()) {
        const bool stored = b == incoming.end() || (a != tail.end() && a->x <= b->x);
        const TracePoint p = stored ? *a++ : *b++;
        appendInOrder(p.x, p.y);
    }
}

void ChannelTrace::appendInOrder(Tick x, std::uint8_t y) {
    if (blocks_.empty()) {
        appendBlock(x, y);
        return;
    }
    Block& b = blocks_.back();
    if (blocks_.size() > completed_) {
        if (b.run()) {
            if (diff(x, b.last) == b.step && y == ((b.count & 1) != 0 ? b.y1 : b.y0)) {
                if (++b.count == 2) {
                    b.lo = std::min(b.y0, b.y1);
                    b.hi = std::max(b.y0, b.y1);
                }
                b.last = x;
                ++storedTotal_;
                return;
            }
        } else if (b.count < kBlockPoints && x >= b.first && diff(x, b.first) <= kMaxOffset) {
            appendToPoints(x, y);
            return;
        }
    }
    appendBlock(x, y);
}

ChannelTrace::Block ChannelTrace::singlePoint(Tick x, std::uint8_t y, bool held) {
    Block b;
    b.first = b.last = x;
    b.count = 1;
    b.pts = PayloadBox(std::make_unique<Payload>());
    ++payloads_;
    b.pts->dx[0] = 0;
    b.pts->y[0] = y;
    b.lo = b.hi = y;
    b.held = held ? 1 : 0;
    return b;
}

void ChannelTrace::appendBlock(Tick x, std::uint8_t y) {
    Block b = singlePoint(x, y, false);
    if (!blocks_.empty()) {
        const std::uint64_t d = gapOf(blocks_.back().last, x);
        b.derived = fillCount(d);
        if (b.derived != 0) {
            b.steps = stepsOf(storedTotal_ + derivedTotal_ - 1, passesOf(d));
        }
    }
    b.storedStart = storedTotal_;
    b.derivedStart = derivedTotal_;
    b.stepsStart = stepsTotal_;
    storedTotal_ += 1;
    derivedTotal_ += b.derived;
    stepsTotal_ += b.steps;
    blocks_.push_back(std::move(b));
    tailRun_ = 1;
}

void ChannelTrace::appendToPoints(Tick x, std::uint8_t y) {
    Block& b = blocks_.back();
    const std::uint64_t j = b.count;
    const std::uint64_t d = diff(x, b.last);
    const std::uint64_t c = fillCount(d);
    if (c != 0) {
        const std::uint64_t steps = stepsOf(storedTotal_ + derivedTotal_ - 1, passesOf(d));
        b.steps += steps;
        stepsTotal_ += steps;
        b.derived += c;
        derivedTotal_ += c;
    }
    b.pts->dx[j] = static_cast<std::uint32_t>(diff(x, b.first));
    b.pts->y[j] = y;
    ++b.count;
    b.last = x;
    b.lo = std::min(b.lo, y);
    b.hi = std::max(b.hi, y);
    ++storedTotal_;
    // The regular stretch at the end: equal steps of at most 256, levels repeating every
    // second point.
    if (tailRun_ >= 2 && static_cast<Tick>(d) == tailStep_ && y == b.pts->y[j - 2]) {
        ++tailRun_;
    } else if (tailRun_ >= 1 && d >= 1 && d <= kBit) {
        tailRun_ = 2;
        tailStep_ = static_cast<Tick>(d);
    } else {
        tailRun_ = 1;
    }
    if (tailRun_ >= kRunMin) {
        splitOffTailRun();
    }
}

void ChannelTrace::splitOffTailRun() {
    const std::size_t k = blocks_.size() - 1;
    Block& b = blocks_[k];
    const std::uint64_t r0 = b.count - tailRun_;
    Block run;
    run.first = pointX(b, r0);
    run.step = static_cast<std::uint16_t>(tailStep_);
    run.count = tailRun_;
    run.y0 = b.pts->y[r0];
    run.y1 = b.pts->y[r0 + 1];
    tailRun_ = 0;
    if (r0 == 0) {
        run.held = b.held & 1;
        run.storedStart = b.storedStart;
        run.derivedStart = b.derivedStart;
        run.stepsStart = b.stepsStart;
        b = std::move(run);
        --payloads_;
        refresh(k);
    } else {
        b.count = r0;
        b.held &= lowMask(r0);
        blocks_.push_back(std::move(run));
        refresh(k);
        refresh(k + 1);
    }
    reindexFrom(k);
}

void ChannelTrace::insertBlock(std::size_t pos, Block&& b, bool completed) {
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(b));
    if (completed) {
        ++completed_;
    }
}

void ChannelTrace::splitBlock(std::size_t k, std::uint64_t j) {
    Block& b = blocks_[k];
    Block r;
    r.first = pointX(b, j);
    r.count = b.count - j;
    if (b.run()) {
        r.step = b.step;
        r.y0 = (j & 1) != 0 ? b.y1 : b.y0;
        r.y1 = (j & 1) != 0 ? b.y0 : b.y1;
    } else {
        r.pts = PayloadBox(std::make_unique<Payload>());
        ++payloads_;
        const std::uint32_t base = b.pts->dx[j];
        for (std::uint64_t i = j; i < b.count; ++i) {
            r.pts->dx[i - j] = b.pts->dx[i] - base;
            r.pts->y[i - j] = b.pts->y[i];
        }
        r.held = b.held >> j;
        b.held &= lowMask(j);
    }
    b.count = j;
    insertBlock(k + 1, std::move(r), k < completed_);
    refresh(k);
    refresh(k + 1);
}

std::size_t ChannelTrace::isolate(std::size_t k, std::uint64_t j) {
    if (j > 0) {
        splitBlock(k, j);
        ++k;
    }
    if (blocks_[k].count > 1) {
        splitBlock(k, 1);
    }
    return k;
}

void ChannelTrace::insertIntoPayload(Block& b, std::uint64_t j, Tick x, std::uint8_t y, bool held) {
    Payload& p = *b.pts.get();
    if (j == 0) {
        const auto shift = static_cast<std::uint32_t>(diff(b.first, x));
        for (std::uint64_t i = 0; i < b.count; ++i) {
            p.dx[i] += shift;
        }
        b.first = x;
    }
    std::memmove(p.dx + j + 1, p.dx + j, (b.count - j) * sizeof p.dx[0]);
    std::memmove(p.y + j + 1, p.y + j, (b.count - j) * sizeof p.y[0]);
    p.dx[j] = static_cast<std::uint32_t>(diff(x, b.first));
    p.y[j] = y;
    const std::uint64_t low = b.held & lowMask(j);
    b.held = low | ((b.held & ~lowMask(j)) << 1) | (held ? std::uint64_t{1} << j : 0);
    ++b.count;
}

void ChannelTrace::insertBefore(std::size_t k, std::uint64_t j, Tick x, std::uint8_t y, bool held) {
    const bool completed = k < completed_;
    Block& b = blocks_[k];
    if (b.run()) {
        if (j > 0) {
            splitBlock(k, j);
            insertBlock(k + 1, singlePoint(x, y, held), completed);
        } else {
            insertBlock(k, singlePoint(x, y, held), completed);
        }
    } else {
        bool fits = false;
        if (b.count < kBlockPoints) {
            fits = j == 0 ? diff(b.last, x) <= kMaxOffset
                          : x >= b.first && diff(x, b.first) <= kMaxOffset;
        }
        if (fits) {
            insertIntoPayload(b, j, x, y, held);
        } else if (j == 0) {
            insertBlock(k, singlePoint(x, y, held), completed);
        } else {
            if (j < b.count) {
                splitBlock(k, j);
            }
            Block& left = blocks_[k];
            if (x >= left.first && diff(x, left.first) <= kMaxOffset) {
                insertIntoPayload(left, left.count, x, y, held);
            } else {
                insertBlock(k + 1, singlePoint(x, y, held), completed);
            }
        }
    }
    for (std::size_t i = k; i < std::min(blocks_.size(), k + 4); ++i) {
        refresh(i);
    }
    reindexFrom(k);
    tailRun_ = 0;
}

bool ChannelTrace::holdGap(std::size_t k, std::uint64_t j) {
    if (k >= completed_ || gapCount(k, j) == 0) {
        return false;
    }
    blocks_[k].held |= std::uint64_t{1} << j;
    anyHeld_ = true;
    return true;
}

void ChannelTrace::freeze(std::size_t k, std::uint64_t j) {
    touch(k);
    const TracePoint left = previousStored(k, j);
    const GapCompletion g = completionOf(left.x, pointX(blocks_[k], j));
    std::size_t pos = k;
    if (j > 0) {
        splitBlock(k, j);
        pos = k + 1;
    }
    // The gap's points, stored: x0 + 256, ... and ..., x1 - 256, at the level they had.
    Block a;
    a.first = g.at(0);
    a.step = static_cast<std::uint16_t>(kBit);
    a.count = g.left;
    a.y0 = a.y1 = left.y;
    insertBlock(pos, std::move(a), true);
    std::size_t owner = pos + 1;
    if (g.right != 0) {
        Block r;
        r.first = g.at(g.left);
        r.step = static_cast<std::uint16_t>(kBit);
        r.count = g.right;
        r.y0 = r.y1 = left.y;
        insertBlock(pos + 1, std::move(r), true);
        ++owner;
    }
    for (std::size_t i = pos; i <= owner; ++i) {
        refresh(i);
    }
    reindexFrom(k);
    tailRun_ = 0;
}

void ChannelTrace::insertInside(Tick x, std::uint8_t y) {
    for (;;) {
        // The first stored point whose X is greater than x: the new point goes in front of it.
        const auto it = std::partition_point(blocks_.begin(), blocks_.end(),
                                             [x](const Block& b) { return b.last <= x; });
        std::size_t k = static_cast<std::size_t>(it - blocks_.begin());
        if (k == blocks_.size()) {  // only with a broken order
            appendBlock(x, y);
            return;
        }
        std::uint64_t j = lowerBoundIn(k, x + 1);
        if (j == blocks_[k].count) {  // likewise
            if (k + 1 == blocks_.size()) {
                appendBlock(x, y);
                return;
            }
            ++k;
            j = 0;
        }
        if (k == 0 && j == 0) {
            // In front of the whole trace: the old first point gets a gap in front of it,
            // which no completion has filled.
            touch(0);
            insertBefore(0, 0, x, y, false);
            const std::size_t second = blocks_[0].count >= 2 ? 0 : 1;
            if (holdGap(second, second == 0 ? 1 : 0)) {
                refresh(second);
                reindexFrom(second);
            }
            return;
        }
        if (k < completed_ && gapCount(k, j) > 0) {
            freeze(k, j);  // the gap's points stay as they are, with the old left level
            continue;
        }
        touch(k);
        insertBefore(k, j, x, y, k < completed_ && heldBit(blocks_[k], j));
        return;
    }
}

ChannelTrace::Where ChannelTrace::freezeAround(std::uint64_t i, bool before, bool after) {
    for (;;) {
        const Where w = find(i);
        if (w.inGap) {
            freeze(w.block, w.stored);
            continue;
        }
        const std::size_t k = w.block;
        const std::uint64_t j = w.stored;
        if (before && k < completed_ && gapCount(k, j) > 0) {
            freeze(k, j);
            continue;
        }
        if (after) {
            std::size_t k2 = k;
            std::uint64_t j2 = j + 1;
            if (j2 == blocks_[k].count) {
                ++k2;
                j2 = 0;
            }
            if (k2 < completed_ && gapCount(k2, j2) > 0) {
                freeze(k2, j2);
                continue;
            }
        }
        return w;
    }
}

void ChannelTrace::setX(std::ptrdiff_t i, Tick x) {
    checkIndex(i);  // settles
    if ((i > 0 && point(i - 1).x > x) ||
        (static_cast<std::size_t>(i) + 1 < count() && point(i + 1).x < x)) {
        unordered_ = true;
    }
    ++revision_;
    const Where w = freezeAround(static_cast<std::uint64_t>(i), true, true);
    std::size_t k = w.block;
    std::uint64_t j = w.stored;
    touch(k);
    Block& b = blocks_[k];
    bool done = false;
    if (b.pts) {
        // In place while the block stays in order and within its offsets.
        const Tick below = j > 0 ? pointX(b, j - 1) : std::numeric_limits<Tick>::min();
        const Tick above = j + 1 < b.count ? pointX(b, j + 1) : std::numeric_limits<Tick>::max();
        if (x >= below && x <= above) {
            if (j > 0 && diff(x, b.first) <= kMaxOffset) {
                b.pts->dx[j] = static_cast<std::uint32_t>(diff(x, b.first));
                done = true;
            } else if (j == 0 && diff(b.last, x) <= kMaxOffset) {
                const std::uint64_t rebase = diff(b.last, x) - b.pts->dx[b.count - 1];
                for (std::uint64_t n = 1; n < b.count; ++n) {
                    b.pts->dx[n] = static_cast<std::uint32_t>(b.pts->dx[n] + rebase);
                }
                b.first = x;
                done = true;
            }
        }
    }
    if (!done) {
        k = isolate(k, j);
        j = 0;
        blocks_[k].first = x;
    }
    refresh(k);
    // The gaps on both sides are new: no completion has filled them.
    holdGap(k, j);
    std::size_t k2 = k;
    std::uint64_t j2 = j + 1;
    if (j2 == blocks_[k].count) {
        ++k2;
        j2 = 0;
    }
    if (k2 < blocks_.size()) {
        refresh(k2);
        holdGap(k2, j2);
        refresh(k2);
    }
    refresh(k);
    reindexFrom(k);
    tailRun_ = 0;
}

void ChannelTrace::setY(std::ptrdiff_t i, std::uint8_t y) {
    checkIndex(i);
    ++revision_;
    // The points of the completed gap behind it keep the level they had.
    const Where w = freezeAround(static_cast<std::uint64_t>(i), false, true);
    std::size_t k = w.block;
    touch(k);
    Block& b = blocks_[k];
    if (b.pts) {
        b.pts->y[w.stored] = y;
    } else if (pointY(b, w.stored) != y) {
        k = isolate(k, w.stored);
        blocks_[k].y0 = blocks_[k].y1 = y;
    }
    refresh(k);
    reindexFrom(k);
    tailRun_ = 0;
}

void ChannelTrace::clear() {
    ++revision_;
    ++layoutRevision_;
    blocks_.clear();
    pending_.clear();
    pending_.shrink_to_fit();
    unordered_ = false;
    completed_ = 0;
    storedTotal_ = derivedTotal_ = stepsTotal_ = 0;
    payloads_ = 0;
    anyHeld_ = false;
    tailRun_ = 0;
}

std::uint64_t ChannelTrace::complete() {
    settle();
    if (anyHeld_) {
        return completeWithHeld();
    }
    if (storedTotal_ + derivedTotal_ > kMaxCompleted) {
        throw std::length_error("CompleteTrace: the trace would have too many points");
    }
    ++revision_;
    const std::uint64_t steps = stepsTotal_ - stepsStartAt(completed_);
    completed_ = blocks_.size();
    tailRun_ = 0;
    return steps;
}

std::uint64_t ChannelTrace::completeWithHeld() {
    // Gaps inside the completed blocks that no completion has filled yet: they are filled now
    // together with the new blocks, in trace order.
    struct Held {
        std::size_t k;
        std::uint64_t j, passes;
    };
    std::vector<Held> held;
    std::uint64_t extra = 0;
    std::size_t first = blocks_.size();
    for (std::size_t k = 0; k < completed_; ++k) {
        const Block& b = blocks_[k];
        for (std::uint64_t bits = b.held; bits != 0; bits &= bits - 1) {
            const auto j = static_cast<std::uint64_t>(std::countr_zero(bits));
            first = std::min(first, k);
            if (j >= b.count || (k == 0 && j == 0)) {
                continue;
            }
            const std::uint64_t d = gapOf(previousStored(k, j).x, pointX(b, j));
            if (fillCount(d) != 0) {
                held.push_back({k, j, passesOf(d)});
                extra += fillCount(d);
            }
        }
    }
    if (storedTotal_ + derivedTotal_ + extra > kMaxCompleted) {
        throw std::length_error("CompleteTrace: the trace would have too many points");
    }
    ++revision_;
    for (std::size_t k = first; k < completed_; ++k) {
        if (blocks_[k].held != 0) {
            blocks_[k].held = 0;
            refresh(k);
        }
    }
    anyHeld_ = false;
    if (first < blocks_.size()) {
        reindexFrom(first);
    }
    std::uint64_t steps = stepsTotal_ - stepsStartAt(completed_);
    for (const Held& h : held) {
        steps += stepsOf(potentialStart(h.k, h.j) - 1, h.passes);
    }
    completed_ = blocks_.size();
    tailRun_ = 0;
    return steps;
}

}  // namespace osc
