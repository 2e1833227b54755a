// Trace completion after a capture: a trace with 1 million level changes spread over 10
// million bit periods, completed by the linear merge; and the ratio of the pass-by-pass
// procedure to the merge on 20,000 level changes, both timed in the same run. Reports the
// points after completion and the bytes each point takes (by the arrays' capacity).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "core/trace_completion.h"

namespace {

// `changes` level changes at random whole ticks over `bits` bit periods, alternating levels,
// starting with a point at 0 as a capture does, closed by a point at the end.
osc::ChannelTrace makeTrace(std::size_t changes, osc::Tick bits, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<osc::Tick> at(1, bits * osc::kTicksPerBit - 1);
    std::vector<osc::Tick> xs(changes);
    for (osc::Tick& x : xs) {
        x = at(rng);
    }
    std::sort(xs.begin(), xs.end());
    osc::ChannelTrace t;
    t.reserve(changes + 2);
    t.add(0, 3);
    std::uint8_t level = 3;
    for (osc::Tick x : xs) {
        level = level == 3 ? 4 : 3;
        t.add(x, level);
    }
    t.add(bits * osc::kTicksPerBit, level);
    return t;
}

void BM_CompleteTrace_1M_changes_10M_bits(benchmark::State& state) {
    const osc::ChannelTrace source = makeTrace(1'000'000, 10'000'000, 1);
    std::size_t points = 0;
    double bytesPerPoint = 0;
    for (auto _ : state) {
        state.PauseTiming();
        osc::ChannelTrace t = source;
        state.ResumeTiming();
        osc::CompleteTrace(t);
        benchmark::DoNotOptimize(t.xs().data());
        points = t.count();
        bytesPerPoint = static_cast<double>(t.memoryBytes()) / static_cast<double>(t.count());
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["bytes_per_point"] = bytesPerPoint;
}
BENCHMARK(BM_CompleteTrace_1M_changes_10M_bits)->Unit(benchmark::kMillisecond)->Iterations(5);

// The passes are quadratic: 20,000 changes over 40,000 bit periods already take a while.
void BM_PassesVersusMerge_20k_changes(benchmark::State& state) {
    const osc::ChannelTrace source = makeTrace(20'000, 40'000, 2);
    using Clock = std::chrono::steady_clock;
    double linearSeconds = 0;
    double passSeconds = 0;
    for (auto _ : state) {
        double best = 1e9;
        for (int k = 0; k < 20; ++k) {
            osc::ChannelTrace t = source;
            const auto start = Clock::now();
            osc::CompleteTrace(t);
            best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
            benchmark::DoNotOptimize(t.xs().data());
        }
        osc::ChannelTrace t = source;
        const auto start = Clock::now();
        osc::CompleteTraceByPasses(t);
        passSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        benchmark::DoNotOptimize(t.xs().data());
        linearSeconds = best;
        state.SetIterationTime(passSeconds);
    }
    state.counters["merge_ms"] = linearSeconds * 1e3;
    state.counters["passes_ms"] = passSeconds * 1e3;
    state.counters["ratio"] = passSeconds / linearSeconds;
}
BENCHMARK(BM_PassesVersusMerge_20k_changes)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
