// Builds a channel trace, a marker, a cursor, a window and decoder settings from the input
// bytes; runs the bit-stream decoder and the cursor snap, and checks the snap against the
// step-by-step scan and the linear completion against the pass-by-pass one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "core/frames/bit_stream.h"
#include "core/trace/trace_completion.h"
#include "core/view/cursor_snap.h"
#include "tests/oracles/completion_by_passes.h"

namespace {

class Bytes {
  public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
    double f64() {
        std::uint64_t bits = 0;
        for (int k = 0; k < 8; ++k) {
            bits |= static_cast<std::uint64_t>(u8()) << (8 * k);
        }
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A position: a point's X (most of the time, so that decoding gets past the exact search),
// a small whole number, or any double.
double positionFrom(Bytes& in, const osc::ChannelTrace& trace) {
    const std::uint8_t kind = in.u8();
    if (kind < 200 && !trace.empty()) {
        return static_cast<double>(trace.x(in.u16() % trace.count()));
    }
    if (kind < 250) {
        return static_cast<double>(static_cast<std::int16_t>(in.u16())) * 4;
    }
    return in.f64();
}

std::optional<double> literalScan(const osc::ChannelTrace& t, double min, double max, double mx) {
    const std::ptrdiff_t f = t.firstVisible(min);
    const std::ptrdiff_t l = t.lastVisible(min, max);
    std::ptrdiff_t i = f;
    if (l >= f) {
        for (std::ptrdiff_t k = 0; k < l - f + 1; ++k) {
            if (i == -1 || static_cast<double>(t.x(static_cast<std::size_t>(i))) - mx >= 0) {
                break;
            }
            ++i;
        }
    }
    if (i == -1)
        return osc::kNoCursor;
    if (i == 0)
        return std::nullopt;
    return static_cast<double>(t.x(static_cast<std::size_t>(i - 1)));
}

bool sameCursor(const std::optional<double>& a, const std::optional<double>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || *a == *b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    const int channel = static_cast<int>(in.u8() % 6) - 1;  // -1 .. 4
    const std::uint8_t flags = in.u8();
    osc::BitStreamOptions options;
    options.bitsPerGroup = static_cast<std::int8_t>(in.u8());
    options.reverse = (flags & 1) != 0;
    options.invert = (flags & 2) != 0;
    options.unstuff = (flags & 4) != 0;
    const int scale = 1 + (flags >> 4);  // gap unit, 1 to 16 ticks

    // The trace: X from a start and byte-sized steps (0 gives equal X), levels 1 to 8.
    osc::ChannelTraces traces;
    osc::ChannelTrace& trace = traces[static_cast<std::size_t>(channel < 0 ? 0 : channel % 4)];
    osc::Tick x = static_cast<std::int16_t>(in.u16());
    const std::size_t points = in.u8() % 200;
    for (std::size_t k = 0; k < points && !in.empty(); ++k) {
        const std::uint8_t step = in.u8();
        x += static_cast<osc::Tick>(step) * scale;
        trace.add(x, static_cast<std::uint8_t>(1 + step % 8));
    }

    const double marker = positionFrom(in, trace);
    const double cursor = positionFrom(in, trace);
    const osc::BitStreamResult r = osc::DecodeBitStream(traces, channel, marker, cursor, options);
    if (r.status == osc::BitStreamStatus::Decoded && r.bitText.size() > 2 * 258 + 257) {
        std::abort();  // at most 257 bits in at most 258 groups
    }

    const double a = positionFrom(in, trace);
    const double b = positionFrom(in, trace);
    const double mx = positionFrom(in, trace) + static_cast<std::int8_t>(in.u8()) / 4.0;
    const double min = a < b ? a : b;
    const double max = a < b ? b : a;
    const auto snapped = osc::snapCursor(trace, min, max, mx);
    if (!sameCursor(snapped, literalScan(trace, min, max, mx))) {
        std::abort();
    }
    const auto cursorNow = osc::cursorForMouse(traces, channel, (flags & 8) != 0, min, max, mx);
    (void)cursorNow;

    // Completion: the linear merge against the passes, on short traces (the passes are
    // quadratic).
    if (trace.count() > 48) {
        return 0;
    }
    osc::ChannelTrace linear = trace;
    osc::ChannelTrace passes = trace;
    const std::size_t linearSteps = osc::CompleteTrace(linear);
    const std::size_t passSteps = osc::CompleteTraceByPasses(passes);
    if (linearSteps != passSteps || linear.count() != passes.count() ||
        !std::equal(linear.points().begin(), linear.points().end(), passes.points().begin())) {
        std::abort();
    }
    return 0;
}
