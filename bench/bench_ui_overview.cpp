// The overview strip beside the plot it sits under: four traces of 10 million irregular points
// each (a level change every half bit), the strip 1920 by 26 pixels and the plot 1920 by 600,
// both timed in the same run. The strip repaints after the plot (at most about 10 times a
// second), so its cost is reported as a share of one plot paint at the plot's usual zoom (100
// bits) and at the whole capture; and the first paint after a change of the traces (the
// summaries brought in line) against a repaint.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <memory>

#include "core/capture/capture_engine.h"
#include "ui/plot/OscPlot.h"
#include "ui/plot/OverviewStrip.h"

namespace {

constexpr std::size_t kPoints = 10'000'000;
constexpr osc::Tick kSpacing = 128;

struct Fixture {
    osc::CaptureEngine engine;
    ui::PlotState state{engine.window};
    std::unique_ptr<OscPlot> plot;
    std::unique_ptr<ui::OverviewStrip> strip;
    QImage plotImage{1920, 600, QImage::Format_RGB32};
    QImage stripImage{1920, ui::OverviewStrip::kHeight, QImage::Format_RGB32};

    Fixture() {
        for (int c = 0; c < osc::kChannelCount; ++c) {
            osc::ChannelTrace& t = engine.traces[static_cast<std::size_t>(c)];
            const osc::ChannelInfo& info = osc::kChannels[static_cast<std::size_t>(c)];
            std::uint32_t noise = 12345u + static_cast<std::uint32_t>(c);
            osc::Tick x = 0;
            for (std::size_t i = 0; i < kPoints; ++i) {
                noise = noise * 1664525u + 1013904223u;
                t.add(x, (noise >> 16) & 1 ? info.levelSet : info.levelClear);
                x += kSpacing;
            }
        }
        plot = std::make_unique<OscPlot>();
        plot->resize(plotImage.size());
        plot->setEngine(&engine, &state);
        strip = std::make_unique<ui::OverviewStrip>(engine, state, plot->summaries());
        strip->resize(stripImage.size());
    }
    void paintPlot() {
        QPainter p(&plotImage);
        plot->paintPlot(p);
    }
    void paintStrip() {
        QPainter p(&stripImage);
        strip->paintStrip(p);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Range 0: the plot at 100 bits in the middle; 1: the plot at the whole capture.
void BM_OverviewAgainstPlot(benchmark::State& state) {
    Fixture& f = fixture();
    const double whole = static_cast<double>(kPoints) * kSpacing;
    if (state.range(0) == 0) {
        f.engine.window.setMinMax(whole / 2, whole / 2 + 100 * 256);
    } else {
        f.engine.window.setMinMax(0, whole);
    }
    f.paintPlot();
    f.paintStrip();  // the summaries are built once per change of the traces
    using Clock = std::chrono::steady_clock;
    double plotBest = 1e9, stripBest = 1e9;
    for (auto _ : state) {
        for (int k = 0; k < 30; ++k) {
            auto start = Clock::now();
            f.paintPlot();
            plotBest = std::min(plotBest, seconds(Clock::now() - start));
            start = Clock::now();
            f.paintStrip();
            stripBest = std::min(stripBest, seconds(Clock::now() - start));
        }
        state.SetIterationTime(stripBest);
    }
    state.SetLabel(state.range(0) == 0 ? "plot_at_100_bits" : "plot_at_whole");
    state.counters["strip_ms"] = stripBest * 1e3;
    state.counters["plot_ms"] = plotBest * 1e3;
    state.counters["strip_over_plot"] = stripBest / plotBest;
}
BENCHMARK(BM_OverviewAgainstPlot)
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A live capture: a point appended to each trace, then the strip painted (its summaries
// brought in line with the last block only), against a repaint with nothing changed.
void BM_OverviewAfterAppend(benchmark::State& state) {
    Fixture& f = fixture();
    f.paintStrip();
    using Clock = std::chrono::steady_clock;
    double afterAppend = 1e9, repaint = 1e9;
    osc::Tick x = static_cast<osc::Tick>(kPoints) * kSpacing;
    for (auto _ : state) {
        for (int k = 0; k < 30; ++k) {
            for (int c = 0; c < osc::kChannelCount; ++c) {
                const osc::ChannelInfo& info = osc::kChannels[static_cast<std::size_t>(c)];
                f.engine.traces[static_cast<std::size_t>(c)].add(
                    x, k % 2 ? info.levelSet : info.levelClear);
            }
            x += kSpacing;
            auto start = Clock::now();
            f.paintStrip();
            afterAppend = std::min(afterAppend, seconds(Clock::now() - start));
            start = Clock::now();
            f.paintStrip();
            repaint = std::min(repaint, seconds(Clock::now() - start));
        }
        state.SetIterationTime(afterAppend);
    }
    state.counters["after_append_ms"] = afterAppend * 1e3;
    state.counters["repaint_ms"] = repaint * 1e3;
    state.counters["append_over_repaint"] = afterAppend / repaint;
}
BENCHMARK(BM_OverviewAfterAppend)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
