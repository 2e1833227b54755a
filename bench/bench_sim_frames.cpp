// Frame decoding of simulated sessions (frames on the transmit and both receive lines).
//
// BM_WholeCapture: 30 million bit periods, one pass over the real points of channels 1 to 3 as
// the stop reads them (the gaps read as the completion fills them). Reports the time of the
// pass and points per second.
//
// BM_Live: the same stream of sample datagrams through the capture engine with and without
// live frame decoding. "added" is the share live decoding adds to decoding a datagram;
// "vs_single_pass" compares the live frame decoding with one pass over the finished traces.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "core/capture_engine.h"
#include "core/frame_decoder.h"
#include "sim/serial_link.h"
#include "sim/sim_device.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// The traces of `periods` bit periods as a capture holds them before the stop: a point where a
// line changes, 128 ticks into its period, and the closing points.
osc::ChannelTraces linkTraces(std::uint64_t periods) {
    osc::sim::LinkOptions options;
    options.seed = 3;
    osc::sim::SerialLink link(options);
    osc::ChannelTraces traces;
    for (int c = 1; c < osc::kChannelCount; ++c) {
        traces[static_cast<std::size_t>(c)].add(
            0, osc::kChannels[static_cast<std::size_t>(c)].levelSet);
    }
    std::uint8_t last[4] = {0, 0, 0, 0};
    for (std::uint64_t p = 0; p < periods; ++p) {
        const osc::sim::PeriodBits bits = link.nextPeriod();
        const std::uint8_t now[4] = {0, bits.transmit, bits.receive1, bits.receive2};
        const osc::Tick x = static_cast<osc::Tick>(p + 1) * 256 + 128;
        for (int c = 1; c < osc::kChannelCount; ++c) {
            if (p == 0 || now[c] != last[c]) {
                const osc::ChannelInfo& info = osc::kChannels[static_cast<std::size_t>(c)];
                traces[static_cast<std::size_t>(c)].add(
                    x, now[c] != 0 ? info.levelClear : info.levelSet);
            }
            last[c] = now[c];
        }
    }
    for (int c = 1; c < osc::kChannelCount; ++c) {
        osc::ChannelTrace& t = traces[static_cast<std::size_t>(c)];
        t.add(static_cast<osc::Tick>(periods + 1) * 256,
              t.y(static_cast<std::ptrdiff_t>(t.count() - 1)));
    }
    return traces;
}

std::uint64_t decodeAll(const osc::ChannelTraces& traces) {
    std::uint64_t frames = 0;
    for (int c = 1; c < osc::kChannelCount; ++c) {
        osc::ChannelFrameDecoder decoder(c);
        for (const osc::TracePoint p : traces[static_cast<std::size_t>(c)].points()) {
            decoder.addPoint(p.x, p.y);
        }
        decoder.finish();
        frames += decoder.counts().good;
    }
    return frames;
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

void BM_Live(benchmark::State& state) {
    osc::sim::DeviceOptions options;
    options.link.seed = 3;
    osc::sim::SimulatedDevice device("10.0.0.9", options);
    std::vector<std::vector<std::uint8_t>> stream;
    for (int i = 0; i < 8000; ++i) {  // about a million bit periods
        stream.push_back(device.nextDatagram());
    }
    double plain = 0;
    double live = 0;
    double single = 0;
    std::size_t rounds = 0;
    for (auto _ : state) {
        for (const bool on : {false, true}) {
            osc::CaptureEngine engine;
            engine.frames.setEnabled(on);
            engine.resetTimeBase();
            engine.restartTraces();
            const Clock::time_point t0 = Clock::now();
            for (const auto& d : stream) {
                engine.decodeDatagram(d);
            }
            const Clock::time_point t1 = Clock::now();
            (on ? live : plain) += seconds(t0, t1);
            if (on) {
                engine.closeTraces();
                engine.frames.finish(engine.traces);
                benchmark::DoNotOptimize(engine.frames.counts(1));
                const Clock::time_point t2 = Clock::now();
                benchmark::DoNotOptimize(decodeAll(engine.traces));
                single += seconds(t2, Clock::now());
            }
        }
        ++rounds;
    }
    state.counters["datagram_us"] = plain / static_cast<double>(rounds * stream.size()) * 1e6;
    state.counters["added"] = (live - plain) / plain;
    state.counters["vs_single_pass"] = (live - plain) / single;
}
BENCHMARK(BM_Live)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
