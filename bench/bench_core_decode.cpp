// Decoding sample datagrams through the capture engine, against a plain sequential read of the
// same bytes (their sum). Reports pairs per second and, as "vs_sum", how many times longer
// the decoding takes than the plain read.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/files/osc_file.h"

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

// Datagrams whose time bytes step backwards (255 down to 0) with the strobe steady: the time
// base never moves, and every point of a datagram lands before points of the ones before it.
// Three data lines change at every pair.
std::vector<Datagram> makeBackwardsStream(std::size_t datagrams) {
    std::vector<Datagram> out;
    for (std::size_t d = 0; d < datagrams; ++d) {
        Datagram dg = {0x23, 0x08, 0, 0, 0, 0, 0, 0};
        for (int k = 0; k < 256; ++k) {
            dg.push_back(k % 2 == 0 ? 0xD0 : 0x00);
            dg.push_back(static_cast<std::uint8_t>(255 - k));
        }
        out.push_back(std::move(dg));
    }
    return out;
}

// The file replay of such a stream (1600 datagrams: a file of 2.5 MB), as `traces` runs it:
// start, every line decoded, closing points, completion.
void BM_ReplayBackwardsTimeBytes(benchmark::State& state) {
    const auto datagrams = static_cast<std::size_t>(state.range(0));
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("bench_backwards_" + std::to_string(getpid()) + ".osc");
    {
        std::ofstream file(path, std::ios::binary);
        for (const Datagram& dg : makeBackwardsStream(datagrams)) {
            file << osc::traceLine(dg) << "\r\n";
        }
    }
    osc::CaptureEngine engine;
    for (auto _ : state) {
        engine.replayOscFile(path);
        benchmark::DoNotOptimize(engine.traces[1].count());
    }
    state.counters["points"] = static_cast<double>(engine.traces[1].count());
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReplayBackwardsTimeBytes)
    ->Arg(400)
    ->Arg(800)
    ->Arg(1600)
    ->Unit(benchmark::kMillisecond);

// The same stream with the traces looked at after every `range(1)` datagrams, as a window's
// repaint would: each look merges what came since into the points behind it.
void BM_DecodeBackwardsTimeBytesLooking(benchmark::State& state) {
    const std::vector<Datagram> stream =
        makeBackwardsStream(static_cast<std::size_t>(state.range(0)));
    const auto every = static_cast<std::size_t>(state.range(1));
    osc::CaptureEngine engine;
    for (auto _ : state) {
        engine.resetTimeBase();
        engine.restartTraces();
        for (std::size_t d = 0; d < stream.size(); ++d) {
            engine.decodeDatagram(stream[d]);
            if (d % every == every - 1) {
                benchmark::DoNotOptimize(engine.traces[1].lowerBound(128.0));
            }
        }
        benchmark::DoNotOptimize(engine.traces[1].count());
    }
}
BENCHMARK(BM_DecodeBackwardsTimeBytesLooking)
    ->Args({1600, 1})
    ->Args({1600, 16})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
