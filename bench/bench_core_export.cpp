// The VCD and CSV writers over a long capture, in value changes a second: the whole text at
// once (the command line), and in pieces of 4096 changes handed on one by one (the window).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/files/trace_export.h"

namespace {

// About a million level changes: a strobe (a regular stretch: a run), the transmit and receive
// lines changing irregularly.
const osc::ChannelTraces& longCapture() {
    static const osc::ChannelTraces traces = [] {
        osc::ChannelTraces t;
        std::uint32_t seed = 777;
        for (osc::Tick bit = 0; bit < 400'000; ++bit) {
            const osc::Tick x = bit * 256;
            t[0].add(x, static_cast<std::uint8_t>(7 + bit % 2));
            for (std::size_t c = 1; c < osc::kChannelCount; ++c) {
                seed = seed * 1664525u + 1013904223u;
                if ((seed >> 28) < 3) {
                    const auto level =
                        static_cast<std::uint8_t>(osc::kChannels[c].levelSet + ((seed >> 20) & 1));
                    t[c].add(x + static_cast<osc::Tick>((seed >> 8) & 127), level);
                }
            }
        }
        return t;
    }();
    return traces;
}

std::int64_t storedPoints() {
    std::int64_t n = 0;
    for (const osc::ChannelTrace& t : longCapture()) {
        n += static_cast<std::int64_t>(t.storedCount());
    }
    return n;
}

void BM_VcdWhole(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(osc::VcdText(longCapture(), 9600));
    }
    state.SetItemsProcessed(state.iterations() * storedPoints());
}
BENCHMARK(BM_VcdWhole)->Unit(benchmark::kMillisecond);

void BM_CsvWhole(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(osc::CsvText(longCapture()));
    }
    state.SetItemsProcessed(state.iterations() * storedPoints());
}
BENCHMARK(BM_CsvWhole)->Unit(benchmark::kMillisecond);

void BM_VcdInPieces(benchmark::State& state) {
    for (auto _ : state) {
        osc::TraceExport writer(longCapture(), osc::ExportFormat::Vcd, 9600);
        std::string piece;
        std::size_t bytes = 0;
        while (writer.next(piece, 4096)) {
            bytes += piece.size();
            piece.clear();
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * storedPoints());
}
BENCHMARK(BM_VcdInPieces)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
