// Reading oscillogram file text into datagrams, in bytes of text per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/files/osc_file.h"

namespace {

// A file as the program saves it: full-size sample datagrams, one trace line each, CR LF.
std::string makeFileText(std::size_t datagrams, std::size_t length, bool lowerCase) {
    std::string text;
    std::vector<std::uint8_t> dg(length);
    std::uint32_t seed = 12345;
    for (std::size_t d = 0; d < datagrams; ++d) {
        dg[0] = 0x23;
        dg[1] = 0x08;
        for (std::size_t i = 2; i < dg.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            dg[i] = static_cast<std::uint8_t>(seed >> 24);
        }
        osc::appendTraceLine(text, dg);
        text += "\r\n";
    }
    if (lowerCase) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'F') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
    }
    return text;
}

void readAll(benchmark::State& state, const std::string& text) {
    std::vector<std::uint8_t> datagram;
    for (auto _ : state) {
        osc::OscReader reader(text);
        std::size_t bytes = 0;
        while (reader.next(datagram)) {
            bytes += datagram.size();
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// 1024 datagrams of 8192 bytes: a text of about 24 MiB.
void BM_ReadFullDatagrams(benchmark::State& state) {
    const std::string text = makeFileText(1024, 8192, false);
    readAll(state, text);
}
BENCHMARK(BM_ReadFullDatagrams)->Unit(benchmark::kMillisecond);

void BM_ReadLowerCase(benchmark::State& state) {
    const std::string text = makeFileText(1024, 8192, true);
    readAll(state, text);
}
BENCHMARK(BM_ReadLowerCase)->Unit(benchmark::kMillisecond);

// Short datagrams (40 bytes): the line handling weighs more.
void BM_ReadShortDatagrams(benchmark::State& state) {
    const std::string text = makeFileText(200000, 40, false);
    readAll(state, text);
}
BENCHMARK(BM_ReadShortDatagrams)->Unit(benchmark::kMillisecond);

void BM_TraceLine(benchmark::State& state) {
    std::vector<std::uint8_t> dg(8192, 0x5A);
    std::string line;
    for (auto _ : state) {
        line.clear();
        osc::appendTraceLine(line, dg);
        benchmark::DoNotOptimize(line.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 3 * dg.size()));
}
BENCHMARK(BM_TraceLine);

}  // namespace

BENCHMARK_MAIN();
