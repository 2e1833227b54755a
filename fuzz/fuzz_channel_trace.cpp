// Drives a channel trace and a plain array of points through the same calls, taken from the
// input bytes (appends, points out of order and anywhere, completions, the start's closing
// point at the first X, setX and setY, huge jumps), and checks that every point and every
// search agree. The traces stay small (a few thousand points) so that the pass-by-pass
// completion on the plain array stays cheap.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/trace/trace_completion.h"
#include "core/view/cursor_snap.h"
#include "tests/oracles/completion_by_passes.h"
#include "tests/oracles/reference_trace.h"

namespace {

class Bytes {
  public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void compare(const osc::ChannelTrace& fast, const osc::ReferenceTrace& ref) {
    const std::size_t n = ref.count();
    check(fast.count() == n);
    std::size_t i = 0;
    for (const osc::TracePoint p : fast.points()) {
        check(i < n && p == ref.points()[i]);
        check(fast.point(static_cast<std::ptrdiff_t>(i)) == p);
        ++i;
    }
    check(i == n);
    if (n == 0) {
        return;
    }
    for (std::size_t k = 0; k < n; k += 1 + n / 64) {
        const double x = static_cast<double>(ref.points()[k].x);
        for (const double probe : {x, x - 1, x + 1, x + 0.5, x - 300}) {
            check(fast.lowerBound(probe) == ref.lowerBound(probe));
            check(fast.locateExact(probe) == ref.locateExact(probe));
            check(fast.lastVisible(probe, probe + 700) == ref.lastVisible(probe, probe + 700));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    osc::ChannelTrace fast;
    osc::ReferenceTrace ref;
    const auto base = static_cast<osc::Tick>(static_cast<std::int8_t>(in.u8())) << 55;
    const auto add = [&](osc::Tick x, std::uint8_t y) {
        fast.add(x, y);
        ref.add(x, y);
    };
    add(base, 5);
    bool huge = false;  // after a jump of 2^32 or more: no more completions
    for (int op = 0; op < 300 && !in.empty() && ref.count() < 4000; ++op) {
        const std::uint8_t kind = in.u8();
        const std::uint8_t y = static_cast<std::uint8_t>(1 + in.u8() % 8);
        const osc::Tick last = ref.lastX();
        const osc::Tick step = in.u16();
        switch (kind % 9) {
            case 0:
            case 1:
                add(last + step % 2048, y);
                break;
            case 2:  // a regular stretch
                for (int k = 1; k <= 1 + (step >> 10); ++k) {
                    add(last + k * (1 + step % 256), k % 2 != 0 ? y : 7);
                }
                break;
            case 3:
                add(last - step % 1024, y);
                break;
            case 4:
                add(ref.x(0) + (step % 4096) - 1024, y);
                break;
            case 5:
                if (!huge) {
                    add(last - last % 256, y);
                    check(osc::CompleteTrace(fast) == osc::CompleteTraceByPasses(ref));
                    if ((step & 1) != 0) {
                        add(base, y);
                        check(osc::CompleteTrace(fast) == osc::CompleteTraceByPasses(ref));
                    }
                }
                break;
            case 6: {
                const auto i = static_cast<std::ptrdiff_t>(step % ref.count());
                fast.setY(i, y);
                ref.setY(i, y);
                break;
            }
            case 7: {
                const auto n = static_cast<std::ptrdiff_t>(ref.count());
                const auto i = static_cast<std::ptrdiff_t>(step % ref.count());
                const osc::Tick lo = i > 0 ? ref.x(i - 1) : ref.x(i) - 999;
                const osc::Tick hi = i + 1 < n ? ref.x(i + 1) : ref.x(i) + 999;
                const osc::Tick to = lo + static_cast<osc::Tick>(in.u16()) % (hi - lo + 1);
                fast.setX(i, to);
                ref.setX(i, to);
                break;
            }
            default:
                huge = true;
                add(last + (osc::Tick{1} << (32 + step % 16)), y);
                break;
        }
        if (op % 16 == 15) {
            compare(fast, ref);
        }
    }
    compare(fast, ref);
    const double mx = static_cast<double>(ref.x(0)) + in.u16();
    (void)osc::snapCursor(fast, mx - 500, mx + 500, mx);
    return 0;
}
