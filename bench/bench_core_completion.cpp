// Trace completion after a capture. The completion stores no points: it marks the trace as
// completed and derives the points of each gap from its two ends, so it costs the same
// however long the capture was.
//  - a trace with 1 million level changes spread over 10 million bit periods: the completion,
//    the points it then counts and the bytes a point takes;
//  - the pass-by-pass procedure on a plain array of points against the completion, on 20,000
//    level changes, both timed in the same run;
//  - the stop of a capture at 115200 bit/s (closing points and completion of channels 1 to 3)
//    after 1 second and after 1 hour: strobe toggling every period, frames on the data lines a
//    tenth of the time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/trace/trace_completion.h"
#include "tests/oracles/completion_by_passes.h"

namespace {

// `changes` level changes at random whole ticks over `bits` bit periods, alternating levels,
// starting with a point at 0 as a capture does, closed by a point at the end.
template <class Trace>
Trace makeTrace(std::size_t changes, osc::Tick bits, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<osc::Tick> at(1, bits * osc::kTicksPerBit - 1);
    std::vector<osc::Tick> xs(changes);
    for (osc::Tick& x : xs) {
        x = at(rng);
    }
    std::sort(xs.begin(), xs.end());
    Trace t;
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
    const auto source = makeTrace<osc::ChannelTrace>(1'000'000, 10'000'000, 1);
    std::size_t points = 0;
    double bytesPerPoint = 0, bytesPerChange = 0;
    for (auto _ : state) {
        state.PauseTiming();
        osc::ChannelTrace t = source;
        state.ResumeTiming();
        osc::CompleteTrace(t);
        benchmark::DoNotOptimize(t.count());
        points = t.count();
        bytesPerPoint = static_cast<double>(t.memoryBytes()) / static_cast<double>(t.count());
        bytesPerChange =
            static_cast<double>(t.memoryBytes()) / static_cast<double>(t.storedCount());
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["bytes_per_point"] = bytesPerPoint;
    state.counters["bytes_per_change"] = bytesPerChange;
}
BENCHMARK(BM_CompleteTrace_1M_changes_10M_bits)->Unit(benchmark::kMicrosecond)->Iterations(5);

// The passes are quadratic: 20,000 changes over 40,000 bit periods already take a while.
void BM_PassesVersusCompletion_20k_changes(benchmark::State& state) {
    const auto source = makeTrace<osc::ChannelTrace>(20'000, 40'000, 2);
    const auto plain = makeTrace<osc::ReferenceTrace>(20'000, 40'000, 2);
    using Clock = std::chrono::steady_clock;
    double completionSeconds = 0;
    double passSeconds = 0;
    for (auto _ : state) {
        double best = 1e9;
        for (int k = 0; k < 20; ++k) {
            osc::ChannelTrace t = source;
            const auto start = Clock::now();
            osc::CompleteTrace(t);
            best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
            benchmark::DoNotOptimize(t.count());
        }
        osc::ReferenceTrace t = plain;
        const auto start = Clock::now();
        osc::CompleteTraceByPasses(t);
        passSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        benchmark::DoNotOptimize(t.count());
        completionSeconds = best;
        state.SetIterationTime(passSeconds);
    }
    state.counters["completion_us"] = completionSeconds * 1e6;
    state.counters["passes_ms"] = passSeconds * 1e3;
    state.counters["ratio"] = passSeconds / completionSeconds;
}
BENCHMARK(BM_PassesVersusCompletion_20k_changes)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The traces of a capture as the decoder builds them: the strobe toggles at the start of
// every period; a tenth of the time one data line carries random frame bits (changes half a
// period after the strobe edge), otherwise the lines idle.
void fillCapture(osc::CaptureEngine& e, osc::Tick periods) {
    e.resetTimeBase();
    e.restartTraces();
    std::mt19937_64 rng(7);
    std::array<std::uint8_t, osc::kChannelCount> level{7, 5, 3, 1};
    for (osc::Tick k = 1; k <= periods; ++k) {
        const osc::Tick x = k * osc::kTicksPerBit;
        level[0] = level[0] == 7 ? 8 : 7;
        e.traces[0].add(x, level[0]);
        const osc::Tick cycle = k % 2000;
        if (cycle < 200) {  // a frame on line 1 or 2
            const std::size_t c = (k / 2000) % 2 + 1;
            const osc::ChannelInfo& info = osc::kChannels[c];
            const std::uint8_t want = rng() % 2 != 0 ? info.levelSet : info.levelClear;
            if (want != level[c]) {
                level[c] = want;
                e.traces[c].add(x + 128, want);
            }
        }
    }
    e.state.FTimeBase = periods * osc::kTicksPerBit;
}

void BM_StopAfterCapture115200(benchmark::State& state) {
    const osc::Tick periods = state.range(0) * 115200;
    osc::CaptureEngine source;
    fillCapture(source, periods);
    std::size_t bytes = 0, points = 0;
    for (auto _ : state) {
        state.PauseTiming();
        osc::CaptureEngine e;
        e.state = source.state;
        e.traces = source.traces;
        state.ResumeTiming();
        e.closeTraces();
        benchmark::DoNotOptimize(e.completeTraces());
        state.PauseTiming();
        bytes = points = 0;
        for (const osc::ChannelTrace& t : e.traces) {
            bytes += t.memoryBytes();
            points += t.count();
        }
        state.ResumeTiming();
    }
    state.counters["periods"] = static_cast<double>(periods);
    state.counters["points"] = static_cast<double>(points);
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["bytes_per_period"] = static_cast<double>(bytes) / static_cast<double>(periods);
}
BENCHMARK(BM_StopAfterCapture115200)
    ->Arg(1)
    ->Arg(3600)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
