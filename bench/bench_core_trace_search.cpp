// The searches of a mouse move and a repaint on a trace of 10 million points: exact locate,
// first and last visible index, and the cursor snap.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "core/view/cursor_snap.h"

namespace {

// 10 million points, 1 to 511 ticks apart (a completed trace is at most 256 apart; some runs
// of equal X as level changes within one sample).
const osc::ChannelTrace& bigTrace() {
    static const osc::ChannelTrace trace = [] {
        std::mt19937_64 rng(3);
        std::uniform_int_distribution<int> step(0, 511);
        osc::ChannelTrace t;
        osc::Tick x = 0;
        for (int k = 0; k < 10'000'000; ++k) {
            t.add(x, static_cast<std::uint8_t>(1 + k % 2));
            x += step(rng);
        }
        return t;
    }();
    return trace;
}

std::vector<double> queries(std::size_t n, bool onPoints) {
    const osc::ChannelTrace& t = bigTrace();
    std::mt19937_64 rng(4);
    std::uniform_int_distribution<std::size_t> index(0, t.count() - 1);
    std::vector<double> out(n);
    for (double& q : out) {
        const double x = static_cast<double>(t.x(static_cast<std::ptrdiff_t>(index(rng))));
        q = onPoints ? x : x + 0.5;
    }
    return out;
}

void BM_Locate(benchmark::State& state) {
    const osc::ChannelTrace& t = bigTrace();
    const std::vector<double> q = queries(4096, true);
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.locateExact(q[k++ & 4095]));
    }
}
BENCHMARK(BM_Locate);

void BM_FirstVisible(benchmark::State& state) {
    const osc::ChannelTrace& t = bigTrace();
    const std::vector<double> q = queries(4096, false);
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.firstVisible(q[k++ & 4095]));
    }
}
BENCHMARK(BM_FirstVisible);

void BM_LastVisible(benchmark::State& state) {
    const osc::ChannelTrace& t = bigTrace();
    const std::vector<double> q = queries(4096, false);
    std::size_t k = 0;
    for (auto _ : state) {
        const double min = q[k++ & 4095];
        benchmark::DoNotOptimize(t.lastVisible(min, min + 25600));
    }
}
BENCHMARK(BM_LastVisible);

// A window of 100 bits and the mouse somewhere inside it; and a window of a million bits,
// where a scan from the first visible point would walk hundreds of thousands of points.
void BM_SnapCursor(benchmark::State& state) {
    const osc::ChannelTrace& t = bigTrace();
    const double width = static_cast<double>(state.range(0)) * osc::kTicksPerBit;
    const std::vector<double> q = queries(4096, false);
    std::size_t k = 0;
    for (auto _ : state) {
        const double min = q[k & 4095];
        const double mx = min + width * static_cast<double>(k % 97) / 97.0;
        ++k;
        benchmark::DoNotOptimize(osc::snapCursor(t, min, min + width, mx));
    }
}
BENCHMARK(BM_SnapCursor)->Arg(100)->Arg(1'000'000);

}  // namespace

BENCHMARK_MAIN();
