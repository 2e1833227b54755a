// The trace memo under an hour of tracing, in small: the memory one traced datagram costs, kept
// as today's store and view keep it and as the former text memo kept it (the text twice: the
// file's bytes and a plain text editor's document), and the time to draw one screen of the memo
// at the end of 10 million lines.
//
//   bench_ui_trace_log [--benchmark_filter=Store|TextMemo|Paint]   (MO_TRACE_DATAGRAMS, default
//   20000 datagrams of 520 bytes; MO_TRACE_LINES, default 10000000 lines for the screen). Run
//   the memory benchmarks one at a time: each reads the growth of the process's resident memory.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QByteArray>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/files/osc_file.h"
#include "core/files/trace_log_store.h"
#include "ui/tracelog/TraceLogPart.h"
#include "ui/tracelog/TraceLogWidget.h"

namespace {

std::uint64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0;
    std::uint64_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

int envInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v ? std::max(1, std::atoi(v)) : fallback;
}

std::vector<std::uint8_t> sampleDatagram(int n) {
    std::vector<std::uint8_t> d(520);
    for (std::size_t k = 0; k < d.size(); ++k) {
        d[k] = static_cast<std::uint8_t>(n + static_cast<int>(k) * 3);
    }
    return d;
}

// The former memo: every line into the file's bytes and, 45 lines at a time (50 ms of a stream
// at 115200 bit/s), into a plain text editor.
void BM_TextMemoPerDatagram(benchmark::State& state) {
    const int datagrams = envInt("MO_TRACE_DATAGRAMS", 20000);
    for (auto _ : state) {
        QPlainTextEdit memo;
        memo.setLineWrapMode(QPlainTextEdit::NoWrap);
        memo.setUndoRedoEnabled(false);
        memo.resize(800, 400);
        const std::uint64_t before = residentBytes();
        QByteArray text;
        QString pending;
        for (int i = 0; i < datagrams; ++i) {
            const QString line = QString::fromStdString(osc::traceLine(sampleDatagram(i)));
            pending += (pending.isEmpty() ? QString() : QStringLiteral("\n")) + line;
            text += line.toLatin1();
            text += "\r\n";
            if (i % 45 == 44) {
                memo.appendPlainText(pending);
                pending.clear();
            }
        }
        memo.appendPlainText(pending);
        const std::uint64_t after = residentBytes();
        state.counters["bytes_per_datagram"] =
            static_cast<double>(after - before) / static_cast<double>(datagrams);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_TextMemoPerDatagram)->Iterations(1)->Unit(benchmark::kSecond);

void BM_StorePerDatagram(benchmark::State& state) {
    const int datagrams = envInt("MO_TRACE_DATAGRAMS", 20000);
    QTemporaryDir spill;
    for (auto _ : state) {
        osc::TraceLogStore store({.spillFolder = spill.path().toStdString()});
        ui::TraceLogPart::StoredLines lines(store);
        ui::TraceLogWidget memo;
        memo.setSource(&lines);
        memo.resize(800, 400);
        const std::uint64_t before = residentBytes();
        for (int i = 0; i < datagrams; ++i) {
            store.append(sampleDatagram(i));
            if (i % 45 == 44) {
                memo.linesChanged();
            }
        }
        memo.linesChanged();
        const std::uint64_t after = residentBytes();
        state.counters["bytes_per_datagram"] =
            static_cast<double>(after - before) / static_cast<double>(datagrams);
        state.counters["store_bytes_per_datagram"] =
            static_cast<double>(store.memoryBytes()) / static_cast<double>(datagrams);
    }
}
BENCHMARK(BM_StorePerDatagram)->Iterations(1)->Unit(benchmark::kSecond);

// One screen of the memo drawn at the end of 10 million lines (24 bytes each).
void BM_PaintScreenAtTheEnd(benchmark::State& state) {
    QTemporaryDir spill;
    osc::TraceLogStore store({.spillFolder = spill.path().toStdString()});
    const int count = envInt("MO_TRACE_LINES", 10'000'000);
    std::vector<std::uint8_t> d(24);
    for (int i = 0; i < count; ++i) {
        d[2] = static_cast<std::uint8_t>(i);
        d[3] = static_cast<std::uint8_t>(i >> 8);
        store.append(d);
    }
    ui::TraceLogPart::StoredLines lines(store);
    ui::TraceLogWidget memo;
    memo.setSource(&lines);
    memo.resize(800, 400);
    for (auto _ : state) {
        QPixmap shot = memo.grab();
        benchmark::DoNotOptimize(shot.cacheKey());
    }
    state.counters["lines"] = static_cast<double>(store.lineCount());
    state.counters["first_visible"] = static_cast<double>(memo.firstVisibleLine());
}
BENCHMARK(BM_PaintScreenAtTheEnd)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
