// The trace log store: appending datagrams (the bytes going to the spill file beyond the budget,
// or let go to the capture journal), a screen of lines read at the end and in the middle of 10
// million lines, and the whole text streamed out as a save does.
//
//   bench_core_trace_log_store [--benchmark_filter=Append|Screen|Stream]   (MO_TRACE_LINES for
//   the screen's line count, default 10000000; its bytes go to a spill file in the temporary
//   folder, about 24 bytes a line)

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "core/files/trace_log_store.h"

namespace {

std::filesystem::path scratch() {
    return std::filesystem::temp_directory_path() /
           ("bench_trace_log_store_" + std::to_string(::getpid()));
}

// A sample datagram of the simulated device at its default size: 8 bytes and 256 pairs.
std::vector<std::uint8_t> sampleDatagram(std::uint32_t n) {
    std::vector<std::uint8_t> d(520);
    for (std::size_t k = 0; k < d.size(); ++k) {
        d[k] = static_cast<std::uint8_t>(n + k * 3);
    }
    return d;
}

void BM_AppendToSpillFile(benchmark::State& state) {
    osc::TraceLogStore store({.spillFolder = scratch()});
    const std::vector<std::uint8_t> d = sampleDatagram(1);
    for (auto _ : state) {
        store.append(d);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(d.size()));
    state.counters["memory_MiB"] = static_cast<double>(store.memoryBytes()) / (1 << 20);
    state.counters["spilled_MiB"] = static_cast<double>(store.spilledBytes()) / (1 << 20);
}
BENCHMARK(BM_AppendToSpillFile);

// As the window traces a capture: the journal writes the same lines on its thread, and the store
// compares and lets its bytes go instead of writing them again.
void BM_AppendWithJournal(benchmark::State& state) {
    osc::CaptureJournal journal(scratch() / "journals");
    journal.start();
    osc::TraceLogStore store({.spillFolder = scratch()},
                             [&](std::uint64_t id) { return journal.openForReading(id); });
    const std::vector<std::uint8_t> d = sampleDatagram(2);
    for (auto _ : state) {
        journal.append(d);
        store.append(
            d, osc::TraceLogStore::JournalCopy{journal.captureId(), *journal.lastLineOffset()});
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["journal_MiB"] = static_cast<double>(store.journalBytes()) / (1 << 20);
    state.counters["spilled_MiB"] = static_cast<double>(store.spilledBytes()) / (1 << 20);
    journal.stop();
}
BENCHMARK(BM_AppendWithJournal);

// 10 million short lines (24 bytes, the size of a sparse sample datagram); built once.
osc::TraceLogStore& longStore() {
    static std::unique_ptr<osc::TraceLogStore> store = [] {
        auto s =
            std::make_unique<osc::TraceLogStore>(osc::TraceStoreOptions{.spillFolder = scratch()});
        const char* env = std::getenv("MO_TRACE_LINES");
        const std::uint64_t lines = env ? std::strtoull(env, nullptr, 10) : 10'000'000;
        std::vector<std::uint8_t> d(24);
        for (std::uint64_t i = 0; i < lines; ++i) {
            d[2] = static_cast<std::uint8_t>(i);
            d[3] = static_cast<std::uint8_t>(i >> 8);
            s->append(d);
        }
        return s;
    }();
    return *store;
}

// One screen of the memo: 60 lines from `where` (0 the start, 1 the end) of the trace.
void screenAt(benchmark::State& state, double where) {
    osc::TraceLogStore& store = longStore();
    const std::uint64_t first =
        static_cast<std::uint64_t>(where * static_cast<double>(store.lineCount() - 60));
    std::string text;
    for (auto _ : state) {
        text.clear();
        std::uint64_t line = first;
        store.readText(line, first + 60, text);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["lines"] = static_cast<double>(store.lineCount());
    state.counters["memory_MiB"] = static_cast<double>(store.memoryBytes()) / (1 << 20);
}
void BM_ScreenAtTheEnd(benchmark::State& state) {
    screenAt(state, 1.0);
}
void BM_ScreenInTheMiddle(benchmark::State& state) {
    screenAt(state, 0.5);
}
BENCHMARK(BM_ScreenAtTheEnd);
BENCHMARK(BM_ScreenInTheMiddle);

// The save's loop without the file: the whole text of the 10 million lines in pieces of 1 MiB.
void BM_StreamWholeText(benchmark::State& state) {
    osc::TraceLogStore& store = longStore();
    std::string piece;
    for (auto _ : state) {
        for (std::uint64_t line = 0; line < store.lineCount();) {
            piece.clear();
            store.readText(line, store.lineCount(), piece);
            benchmark::DoNotOptimize(piece.data());
        }
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(store.textOffset(store.lineCount())));
}
BENCHMARK(BM_StreamWholeText)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(scratch());
    return 0;
}
