// Painting the oscillogram plot into a 1920x600 image.
//  - Four traces of 10 million irregular points each (a level change every half bit): the
//    present renderer against the renderer of the two-array traces (bench/
//    baseline_stair_renderer.h) on the same points, both timed in the same run, at several
//    zooms from the whole capture down to 100 bits; the ratio is reported.
//  - A capture of 400 million bit periods (strobe toggling every period, frames on the data
//    lines a tenth of the time, completed): the present renderer alone, as the two-array
//    traces would need some 14 GB for it.
// Times are the best of several paints, by the wall clock and by the painting thread's
// processor time; on a shared machine the second is the one to compare.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <array>
#include <chrono>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "bench/baseline_stair_renderer.h"
#include "bench/framed_capture.h"
#include "core/capture/capture_engine.h"
#include "core/view/plot_labels.h"
#include "ui/frames/FrameBands.h"
#include "ui/plot/OscPlot.h"

namespace {

constexpr std::size_t kPoints = 10'000'000;
constexpr osc::Tick kSpacing = 128;  // a level change every half bit
constexpr double kWholeWidth = static_cast<double>(kPoints) * kSpacing;
constexpr osc::Tick kLongPeriods = 400'000'000;

struct Plain {
    std::vector<osc::Tick> xs;
    std::vector<std::uint8_t> ys;
    baseline::TraceSummary summary;
};

struct Fixture {
    osc::CaptureEngine engine;
    std::unique_ptr<OscPlot> plot;
    QImage image{1920, 600, QImage::Format_RGB32};
    std::array<Plain, osc::kChannelCount> plain;
    QVector<QPointF> line;

    explicit Fixture(bool longCapture) {
        if (longCapture) {
            fillLongCapture();
        } else {
            fillIrregular();
        }
        plot = std::make_unique<OscPlot>();
        plot->resize(image.size());
        plot->setEngine(&engine);
        QObject::connect(
            plot.get(), &OscPlot::getAxisLabel,
            [](OscPlot::Axis axis, double value, QString* text) {
                *text = QString::fromStdString(axis == OscPlot::Axis::Left
                                                   ? osc::leftAxisLabel(static_cast<int>(value))
                                                   : osc::bottomAxisLabel(value));
            });
    }

    void fillIrregular() {
        for (int c = 0; c < osc::kChannelCount; ++c) {
            osc::ChannelTrace& t = engine.traces[static_cast<std::size_t>(c)];
            Plain& p = plain[static_cast<std::size_t>(c)];
            const osc::ChannelInfo& info = osc::kChannels[static_cast<std::size_t>(c)];
            t.clear();
            p.xs.reserve(kPoints);
            p.ys.reserve(kPoints);
            std::uint32_t noise = 12345u + static_cast<std::uint32_t>(c);
            osc::Tick x = 0;
            for (std::size_t i = 0; i < kPoints; ++i) {
                noise = noise * 1664525u + 1013904223u;
                const std::uint8_t y = (noise >> 16) & 1 ? info.levelSet : info.levelClear;
                t.add(x, y);
                p.xs.push_back(x);
                p.ys.push_back(y);
                x += kSpacing;
            }
            p.summary.build(p.xs, p.ys);
        }
    }

    // As the decoder builds it, then stopped: closing points and completion.
    void fillLongCapture() {
        engine.resetTimeBase();
        engine.restartTraces();
        std::mt19937_64 rng(7);
        std::array<std::uint8_t, osc::kChannelCount> level{7, 5, 3, 1};
        for (osc::Tick k = 1; k <= kLongPeriods; ++k) {
            const osc::Tick x = k * osc::kTicksPerBit;
            level[0] = level[0] == 7 ? 8 : 7;
            engine.traces[0].add(x, level[0]);
            if (k % 2000 < 200) {
                const std::size_t c = static_cast<std::size_t>(k / 2000 % 3 + 1);
                const osc::ChannelInfo& info = osc::kChannels[c];
                const std::uint8_t want = rng() % 2 != 0 ? info.levelSet : info.levelClear;
                if (want != level[c]) {
                    level[c] = want;
                    engine.traces[c].add(x + 128, want);
                }
            }
        }
        engine.state.FTimeBase = kLongPeriods * osc::kTicksPerBit;
        engine.closeTraces();
        engine.completeTraces();
    }

    void paint() {
        QPainter p(&image);
        plot->paintPlot(p);
    }

    void setTracesHidden(bool hidden) {
        for (osc::ChannelTrace& t : engine.traces) {
            t.setHidden(hidden);
        }
    }

    // The same frame (axes, labels, lines), then the traces by the baseline renderer.
    void paintBaseline() {
        setTracesHidden(true);
        paint();
        setTracesHidden(false);
        QPainter p(&image);
        const QRect r = plot->plotRect();
        p.setClipRect(r.adjusted(0, 0, 1, 1));
        p.setPen(QPen(QColor(255, 255, 0), 0));
        ui::StairMapping m;
        m.windowMin = engine.window.minimum();
        m.windowMax = engine.window.maximum();
        m.left = r.left();
        m.columns = r.width();
        m.levelMin = plot->leftMinimum();
        m.levelMax = plot->leftMaximum();
        m.top = r.top();
        m.height = r.height();
        for (const Plain& t : plain) {
            baseline::buildStairPolyline(t.xs, t.ys, t.summary, m, line);
            if (line.size() >= 2) {
                p.drawPolyline(line.constData(), static_cast<int>(line.size()));
            }
        }
    }

    // Zoom 0: the whole capture; 1: a 64th of it; 2: 10,000 bits; 3: 100 bits (mid-capture).
    void setZoom(std::int64_t zoom, double whole) {
        const double widths[] = {whole, whole / 64, 10000.0 * 256, 100.0 * 256};
        const double width = widths[zoom];
        const double min = zoom == 0 ? 0 : whole / 2 - width / 3;
        engine.window.setMinMax(min, min + width);
    }
};

Fixture& irregular() {
    static Fixture f(false);
    return f;
}

Fixture& longCapture() {
    static Fixture f(true);
    return f;
}

const char* zoomName(std::int64_t zoom) {
    static const char* names[] = {"whole", "64th", "10000_bits", "100_bits"};
    return names[zoom];
}

// Seconds of processor time this thread has used: unlike the clock on the wall, it leaves out
// the time other programs on a shared machine took the processor meanwhile.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The best of several runs of f, by the wall clock and by this thread's processor time.
struct Best {
    double wall = 1e9, cpu = 1e9;
    template <class F>
    void time(F&& f) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadSeconds();
        f();
        cpu = std::min(cpu, threadSeconds() - cpuStart);
        wall = std::min(
            wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
};

// Both renderers on the same frame, alternately, best of several paints each.
void BM_PaintVersusBaseline(benchmark::State& state) {
    Fixture& f = irregular();
    f.setZoom(state.range(0), kWholeWidth);
    f.paint();  // the level-of-detail summaries are built once per data change
    Best paint, baseline;
    for (auto _ : state) {
        for (int k = 0; k < 30; ++k) {
            paint.time([&] { f.paint(); });
            baseline.time([&] { f.paintBaseline(); });
        }
        state.SetIterationTime(paint.wall);
    }
    state.SetLabel(zoomName(state.range(0)));
    state.counters["paint_ms"] = paint.wall * 1e3;
    state.counters["baseline_ms"] = baseline.wall * 1e3;
    state.counters["baseline_over_paint"] = baseline.wall / paint.wall;
    state.counters["paint_cpu_ms"] = paint.cpu * 1e3;
    state.counters["baseline_cpu_ms"] = baseline.cpu * 1e3;
    state.counters["cpu_ratio"] = baseline.cpu / paint.cpu;
}
BENCHMARK(BM_PaintVersusBaseline)
    ->DenseRange(0, 3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_PaintLongCapture(benchmark::State& state) {
    Fixture& f = longCapture();
    f.setZoom(state.range(0), static_cast<double>(kLongPeriods) * 256);
    f.paint();
    Best paint;
    for (auto _ : state) {
        paint.time([&] { f.paint(); });
        benchmark::ClobberMemory();
    }
    state.SetLabel(zoomName(state.range(0)));
    state.counters["best_ms"] = paint.wall * 1e3;
    state.counters["best_cpu_ms"] = paint.cpu * 1e3;
    std::size_t points = 0, bytes = 0;
    for (const osc::ChannelTrace& t : f.engine.traces) {
        points += t.count();
        bytes += t.memoryBytes();
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["trace_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_PaintLongCapture)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// Axes, labels and the two lines alone: what every paint costs besides the traces.
void BM_PaintFrameOnly(benchmark::State& state) {
    Fixture& f = irregular();
    f.setZoom(0, kWholeWidth);
    f.setTracesHidden(true);
    Best paint;
    for (auto _ : state) {
        paint.time([&] { f.paint(); });
        benchmark::ClobberMemory();
    }
    state.counters["best_ms"] = paint.wall * 1e3;
    state.counters["best_cpu_ms"] = paint.cpu * 1e3;
    f.setTracesHidden(false);
}
BENCHMARK(BM_PaintFrameOnly)->Unit(benchmark::kMillisecond);

// Rebuilding the summary of one 10-million-point trace (after a change that is not an append),
// and the baseline's.
void BM_SummaryRebuild(benchmark::State& state) {
    const osc::ChannelTrace& t = irregular().engine.traces[0];
    for (auto _ : state) {
        ui::TraceSummary s;
        s.update(t);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_SummaryRebuild)->Unit(benchmark::kMillisecond);

void BM_SummaryRebuildBaseline(benchmark::State& state) {
    const Plain& t = irregular().plain[0];
    for (auto _ : state) {
        baseline::TraceSummary s;
        s.build(t.xs, t.ys);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_SummaryRebuildBaseline)->Unit(benchmark::kMillisecond);

// A million frames on the three data lines (bench/framed_capture.h) drawn under the traces, as
// the window draws them, against the same plot with the frames switched off, at the four
// zooms (the whole capture: marks per column; 100 bits: bands with the bytes in hex).
struct FramedPlot {
    osc::CaptureEngine engine;
    std::unique_ptr<OscPlot> plot;
    std::unique_ptr<ui::FrameBands> bands;
    QImage image{1920, 600, QImage::Format_RGB32};

    FramedPlot() {
        bench::fillFramedCapture(engine, 333'334);
        plot = std::make_unique<OscPlot>();
        plot->resize(image.size());
        plot->setEngine(&engine);
        bands = std::make_unique<ui::FrameBands>(engine.frames);
        plot->setOverlay([this](QPainter& p, const osc::PlotMapping& m) { bands->paint(p, m); });
    }
    void paint() {
        QPainter p(&image);
        plot->paintPlot(p);
    }
};

FramedPlot& framedPlot() {
    static FramedPlot f;
    return f;
}

void BM_PaintWithFrames(benchmark::State& state) {
    FramedPlot& f = framedPlot();
    const double whole = static_cast<double>(f.engine.state.FTimeBase);
    const double widths[] = {whole, whole / 64, 10000.0 * 256, 100.0 * 256};
    const double width = widths[state.range(0)];
    const double min = state.range(0) == 0 ? 0 : whole / 2 - width / 3;
    f.engine.window.setMinMax(min, min + width);
    using Clock = std::chrono::steady_clock;
    double with = 1e9, without = 1e9;
    f.paint();
    for (auto _ : state) {
        for (int k = 0; k < 20; ++k) {
            f.bands->setEnabled(true);
            auto start = Clock::now();
            f.paint();
            with = std::min(with, std::chrono::duration<double>(Clock::now() - start).count());
            f.bands->setEnabled(false);
            start = Clock::now();
            f.paint();
            without =
                std::min(without, std::chrono::duration<double>(Clock::now() - start).count());
        }
        state.SetIterationTime(with);
    }
    // The frames alone, as the plot's paint calls them.
    double alone = 1e9;
    f.bands->setEnabled(true);
    osc::PlotMapping m;
    const QRect r = f.plot->plotRect();
    m.windowMin = f.engine.window.minimum();
    m.windowMax = f.engine.window.maximum();
    m.left = r.left();
    m.columns = r.width();
    m.top = r.top();
    m.height = r.height();
    for (int k = 0; k < 20; ++k) {
        QPainter p(&f.image);
        p.setClipRect(r);
        const auto start = Clock::now();
        f.bands->paint(p, m);
        alone = std::min(alone, std::chrono::duration<double>(Clock::now() - start).count());
    }
    f.paint();
    const ui::FrameBands::Stats& s = f.bands->lastPaint();
    state.counters["frames_alone_ms"] = alone * 1e3;
    state.SetLabel(zoomName(state.range(0)));
    state.counters["paint_ms"] = with * 1e3;
    state.counters["no_frames_ms"] = without * 1e3;
    state.counters["bands"] = static_cast<double>(s.bands);
    state.counters["marks"] = static_cast<double>(s.marks);
    state.counters["texts"] = static_cast<double>(s.texts);
}
BENCHMARK(BM_PaintWithFrames)
    ->DenseRange(0, 3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
