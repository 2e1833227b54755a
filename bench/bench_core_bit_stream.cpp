// The bit-stream decoder on a mouse move: 256 bits between marker and cursor on a trace of 10
// million points, once with one point per bit period and once with 64 points per bit period
// (each bit's samples are found by binary search, not by walking the points).
#include <benchmark/benchmark.h>

#include "core/frames/bit_stream.h"

namespace {

osc::ChannelTraces makeTraces(osc::Tick pointsPerBit) {
    const std::size_t n = 10'000'000;
    const osc::Tick step = osc::kTicksPerBit / pointsPerBit;
    osc::ChannelTraces traces;
    for (std::size_t k = 0; k < n; ++k) {
        traces[2].add(static_cast<osc::Tick>(k) * step,
                      static_cast<std::uint8_t>((k * 2654435761u >> 7) % 2 == 0 ? 3 : 4));
    }
    return traces;
}

void BM_DecodeBitStream_256_bits(benchmark::State& state) {
    const osc::Tick pointsPerBit = state.range(0);
    const osc::ChannelTraces traces = makeTraces(pointsPerBit);
    const osc::Tick count = static_cast<osc::Tick>(traces[2].count());
    // Marker deep inside the trace, cursor 256 bits later.
    const osc::Tick markerIndex = count / 2 / pointsPerBit * pointsPerBit;
    const double marker =
        static_cast<double>(traces[2].x(static_cast<std::ptrdiff_t>(markerIndex)));
    const double cursor = marker + 256.0 * osc::kTicksPerBit;
    const osc::BitStreamOptions options{8, false, true, true};
    std::size_t bits = 0;
    for (auto _ : state) {
        const osc::BitStreamResult r = osc::DecodeBitStream(traces, 2, marker, cursor, options);
        bits = r.bitText.size();
        benchmark::DoNotOptimize(r.valueText.data());
    }
    state.counters["bit_text_chars"] = static_cast<double>(bits);
}
BENCHMARK(BM_DecodeBitStream_256_bits)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
