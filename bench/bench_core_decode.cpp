// Decoding sample datagrams through the capture engine, against a plain sequential read of the
// same bytes (their sum). Reports pairs per second and, as "vs_sum", how many times longer
// the decoding takes than the plain read.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "core/capture/capture_engine.h"

namespace {

using Datagram = std::vector<std::uint8_t>;

// A capture as a device streams it: the strobe toggles at the start of every period with time
// byte 0, the data lines change every few periods. samplesPerPeriod pairs make one period: the
// strobe pair and samples at evenly spaced time bytes that repeat the status unless a data
// line changes.
std::vector<Datagram> makeStream(int samplesPerPeriod, std::size_t datagrams) {
    std::vector<Datagram> out;
    std::uint8_t status = 0;
    int period = 0;
    int sample = 0;
    for (std::size_t d = 0; d < datagrams; ++d) {
        Datagram dg = {0x23, 0x08, 0, 0, 0, 0, 0, 0};
        while (dg.size() + 2 <= osc::kMaxDatagram) {
            std::uint8_t t = 0;
            if (sample == 0) {
                status ^= 0x04;
                ++period;
            } else {
                t = static_cast<std::uint8_t>(sample * 256 / samplesPerPeriod);
                if (sample == samplesPerPeriod / 2) {
                    if (period % 3 == 0) {
                        status ^= 0x40;
                    }
                    if (period % 5 == 0) {
                        status ^= 0x80;
                    }
                    if (period % 7 == 0) {
                        status ^= 0x10;
                    }
                }
            }
            dg.push_back(status);
            dg.push_back(t);
            sample = (sample + 1) % samplesPerPeriod;
        }
        out.push_back(std::move(dg));
    }
    return out;
}

std::uint64_t sumBytes(const std::vector<Datagram>& stream) {
    std::uint64_t sum = 0;
    for (const Datagram& dg : stream) {
        for (std::uint8_t b : dg) {
            sum += b;
        }
    }
    return sum;
}

double secondsOfSum(const std::vector<Datagram>& stream) {
    double best = 1e9;
    for (int r = 0; r < 20; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(sumBytes(stream));
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

void BM_DecodeStream(benchmark::State& state) {
    const int samplesPerPeriod = static_cast<int>(state.range(0));
    const std::vector<Datagram> stream = makeStream(samplesPerPeriod, 256);  // about 1M pairs
    std::size_t pairs = 0;
    for (const Datagram& dg : stream) {
        pairs += (dg.size() - 8) / 2;
    }
    const double sumSeconds = secondsOfSum(stream);

    osc::CaptureEngine engine;
    double decodeSeconds = 0;
    std::size_t captures = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        engine.resetTimeBase();
        engine.restartTraces();
        for (const Datagram& dg : stream) {
            engine.decodeDatagram(dg);
        }
        benchmark::DoNotOptimize(engine.traces[0].count());
        const auto t1 = std::chrono::steady_clock::now();
        decodeSeconds += std::chrono::duration<double>(t1 - t0).count();
        ++captures;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(captures * pairs));
    state.counters["pairs/s"] =
        benchmark::Counter(static_cast<double>(captures * pairs), benchmark::Counter::kIsRate);
    state.counters["vs_sum"] = decodeSeconds / static_cast<double>(captures) / sumSeconds;
    std::size_t points = 0;
    for (const osc::ChannelTrace& trace : engine.traces) {
        points += trace.count();
    }
    state.counters["points/pair"] = static_cast<double>(points) / static_cast<double>(pairs);
}

// 1: every pair is a strobe edge; 8 and 32: several samples per period between the edges.
BENCHMARK(BM_DecodeStream)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_SumBytes(benchmark::State& state) {
    const std::vector<Datagram> stream = makeStream(8, 256);
    std::size_t bytes = 0;
    for (const Datagram& dg : stream) {
        bytes += dg.size();
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(sumBytes(stream));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_SumBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
