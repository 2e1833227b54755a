// The cost of journalling a datagram on the receiving side: appending a full-size sample
// datagram to the journal (its trace line made under the writer's lock, the writing on the
// writer's thread) against making the same trace line alone, and the whole path to the disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"

namespace {

// A sample datagram of 256 pairs, as the simulated device sends them.
std::vector<std::uint8_t> sampleDatagram() {
    std::vector<std::uint8_t> d{0x23, 0x08, 2, 0, 127, 0, 0, 3};
    for (int i = 0; i < 256; ++i) {
        d.push_back(static_cast<std::uint8_t>(i % 2 == 0 ? 0x04 : 0x00));
        d.push_back(static_cast<std::uint8_t>(i % 2 == 0 ? 0 : 128));
    }
    return d;
}

std::filesystem::path benchFolder() {
    return std::filesystem::temp_directory_path() / ("bench_journal_" + std::to_string(::getpid()));
}

// The trace line alone, into a buffer emptied now and then as the writer would.
void BM_TraceLineOnly(benchmark::State& state) {
    const auto d = sampleDatagram();
    std::string out;
    for (auto _ : state) {
        osc::appendTraceLine(out, d);
        out += "\r\n";
        if (out.size() > (4u << 20)) {
            out.clear();
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceLineOnly);

// What the datagram handler pays: CaptureJournal::append, in bursts of 1000 datagrams (a
// burst is 1.5 MiB of lines; between bursts, untimed, the writer catches up).
void BM_JournalAppend(benchmark::State& state) {
    const auto d = sampleDatagram();
    const auto folder = benchFolder();
    {
        osc::CaptureJournal journal(folder);
        journal.start();
        for (auto _ : state) {
            for (int i = 0; i < 1000; ++i) {
                journal.append(d);
            }
            state.PauseTiming();
            while (journal.written().datagrams < journal.datagrams()) {
                usleep(1000);
            }
            state.ResumeTiming();
        }
        state.SetItemsProcessed(state.iterations() * 1000);
        journal.stop();
        state.counters["failed"] = journal.failed() ? 1 : 0;
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_JournalAppend)->Unit(benchmark::kMicrosecond);

// The whole way to the disk: 8,000 datagrams (a second at 1 Mbit/s) appended and the journal
// stopped (written out and synced).
void BM_JournalSecondAt1Mbit(benchmark::State& state) {
    const auto d = sampleDatagram();
    const auto folder = benchFolder();
    {
        osc::CaptureJournal journal(folder);
        for (auto _ : state) {
            journal.start();
            for (int i = 0; i < 8000; ++i) {
                journal.append(d);
            }
            journal.stop();
        }
        state.SetItemsProcessed(state.iterations() * 8000);
        state.SetBytesProcessed(state.iterations() * 8000 *
                                static_cast<std::int64_t>(d.size() * 3 + 2));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_JournalSecondAt1Mbit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
