// Frame decoding of a polled link (frames on the transmit and both receive lines, as the
// simulated device sends them: a poll, a pause, an answer on one receive line, idle time).
//
// BM_WholeCapture: 30 million bit periods, the frames of channels 1 to 3 as the stop finds them
// when nothing was read during the capture (or as an options change decodes them again): one
// pass over the real points, the gaps read as the completion fills them. Reports the time of
// the pass and points per second.
//
// BM_Live: a stream of sample datagrams of the same link through the capture engine without
// frames, with frames that nobody reads until the stop, with frames read as often as the frames
// tab reads them at 1 Mbit/s, and read every 16 datagrams. "added_*" is the share the frames add
// to decoding a datagram in each case (with reads, all of the decoding happens during the
// capture); "vs_single_pass" compares the decoding read every 16 datagrams with one pass over
// the finished traces. Thread CPU times, the least of the rounds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <vector>

#include "bench/polled_link.h"
#include "core/capture/capture_engine.h"
#include "core/frames/frame_decoder.h"

namespace {

using bench::linkDatagrams;
using bench::linkTraces;

std::uint64_t decodeAll(const osc::ChannelTraces& traces) {
    osc::CaptureFrames frames;
    frames.setEnabled(true);
    frames.restart();
    frames.finish(traces);
    std::uint64_t good = 0;
    for (int c = 1; c < osc::kChannelCount; ++c) {
        good += frames.counts(c).good;
    }
    return good;
}

void BM_WholeCapture(benchmark::State& state) {
    const std::uint64_t periods = static_cast<std::uint64_t>(state.range(0));
    const osc::ChannelTraces traces = linkTraces(periods);
    std::size_t points = 0;
    for (const osc::ChannelTrace& t : traces) {
        points += t.count();
    }
    std::uint64_t frames = 0;
    for (auto _ : state) {
        frames = decodeAll(traces);
        benchmark::DoNotOptimize(frames);
    }
    state.counters["good_frames"] = static_cast<double>(frames);
    state.counters["points"] = static_cast<double>(points);
    state.counters["points/s"] =
        benchmark::Counter(static_cast<double>(points) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WholeCapture)->Arg(30'000'000)->Unit(benchmark::kMillisecond)->Iterations(5);

// CPU time of this thread: the machine is shared, so time spent waiting for a core is left out.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_Live(benchmark::State& state) {
    const std::vector<std::vector<std::uint8_t>> stream = linkDatagrams(1'024'000);
    // Frames read every this many datagrams (0: not until the stop): 780 is the frames tab's
    // refresh every 200 ms at 1 Mbit/s, 16 a reader far more eager than the window.
    const std::array<std::size_t, 4> readEvery{0, 0, 780, 16};
    const std::array<bool, 4> withFrames{false, true, true, true};
    // The least time of each mode over the rounds (the rounds take turns, so that a busy
    // spell of the machine does not fall on one mode only).
    std::array<double, 4> least{1e9, 1e9, 1e9, 1e9};
    double single = 1e9;
    for (auto _ : state) {
        for (std::size_t mode = 0; mode < least.size(); ++mode) {
            osc::CaptureEngine engine;
            engine.frames.setEnabled(withFrames[mode]);
            engine.resetTimeBase();
            engine.restartTraces();
            std::size_t k = 0;
            const double t0 = threadSeconds();
            for (const auto& d : stream) {
                engine.decodeDatagram(d);
                if (readEvery[mode] != 0 && ++k % readEvery[mode] == 0) {
                    benchmark::DoNotOptimize(engine.frames.counts(1));
                }
            }
            least[mode] = std::min(least[mode], threadSeconds() - t0);
            if (mode == least.size() - 1) {
                engine.closeTraces();
                engine.frames.finish(engine.traces);
                benchmark::DoNotOptimize(engine.frames.counts(1));
                const double t2 = threadSeconds();
                benchmark::DoNotOptimize(decodeAll(engine.traces));
                single = std::min(single, threadSeconds() - t2);
            }
        }
    }
    const double plain = least[0];
    state.counters["datagram_us"] = plain / static_cast<double>(stream.size()) * 1e6;
    state.counters["added_unread"] = (least[1] - plain) / plain;
    state.counters["added_timer"] = (least[2] - plain) / plain;
    state.counters["added_16"] = (least[3] - plain) / plain;
    state.counters["vs_single_pass"] = (least[3] - plain) / single;
}
BENCHMARK(BM_Live)->Unit(benchmark::kMillisecond)->Iterations(12);

}  // namespace

BENCHMARK_MAIN();
