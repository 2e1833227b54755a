// The writers' throughput. The VCD and CSV writers over a long capture, in value changes a
// second: the whole text at once, in pieces of 4096 changes handed on one by one, and streamed
// through the MiB buffer into a sink that drops it (what the command line and the window do,
// less the file). The frame writers (text, CSV, JSON, pcapng) over 300 000 frames, streamed the
// same way, in frames a second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/files/frame_export.h"
#include "core/files/pcapng_export.h"
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

// A sink that counts the bytes and drops them.
struct CountingSink {
    std::uint64_t bytes = 0;
    osc::OutputSink sink{[this](std::string_view b) { bytes += b.size(); }};
};

void BM_TracesStreamed(benchmark::State& state) {
    const auto format = static_cast<osc::ExportFormat>(state.range(0));
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        CountingSink out;
        osc::writeTraces(longCapture(), format, 115200, std::nullopt, out.sink,
                         [](double) { return true; });
        bytes += out.bytes;
    }
    state.SetItemsProcessed(state.iterations() * storedPoints());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_TracesStreamed)
    ->Arg(static_cast<int>(osc::ExportFormat::Vcd))
    ->Arg(static_cast<int>(osc::ExportFormat::Csv))
    ->ArgName("vcd0_csv1")
    ->Unit(benchmark::kMillisecond);

// Frames as a link's poll and answer give them: 8 payload bytes and the check, on three lines.
const std::vector<osc::Frame>& manyFrames() {
    static const std::vector<osc::Frame> frames = [] {
        std::vector<osc::Frame> out;
        std::uint32_t seed = 99;
        for (int k = 0; k < 300'000; ++k) {
            osc::Frame f;
            f.channel = 1 + k % 3;
            f.start = static_cast<osc::Tick>(k) * 256 * 120;
            f.end = f.start + 256 * 100;
            std::vector<std::uint8_t> bytes(10);
            for (std::uint8_t& b : bytes) {
                seed = seed * 1664525u + 1013904223u;
                b = static_cast<std::uint8_t>(seed >> 24);
            }
            f.bytes = bytes;
            f.bitCount = 80;
            f.status = osc::CheckStatus::Good;
            if (k % 50 == 0) {
                f.status = osc::CheckStatus::Bad;
                f.error = osc::FrameError::BadCheck;
            }
            out.push_back(f);
        }
        return out;
    }();
    return frames;
}

// 0 to 2: the frame list's text, CSV and JSON; 3: pcapng with the bad frames.
void BM_FramesStreamed(benchmark::State& state) {
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        CountingSink out;
        osc::SpanFrameWalk walk(manyFrames());
        if (state.range(0) == 3) {
            osc::PcapngOptions options;
            options.allFrames = true;
            options.bitRate = 115200;
            osc::writePcapng(walk, options, out.sink, [](double) { return true; });
        } else {
            osc::writeFrameList(walk, static_cast<osc::FrameListFormat>(state.range(0)), out.sink,
                                [](double) { return true; });
        }
        bytes += out.bytes;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(manyFrames().size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_FramesStreamed)
    ->DenseRange(0, 3)
    ->ArgName("text0_csv1_json2_pcapng3")
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
