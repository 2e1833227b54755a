// Painting the oscillogram plot into a 1920x600 image with four traces of 10 million points
// each: the whole capture visible, and a window of 100 bits; beside each, a plain painter path
// over every visible point for comparison.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <memory>

#include "core/capture_engine.h"
#include "core/plot_labels.h"
#include "ui/OscPlot.h"

namespace {

constexpr std::size_t kPoints = 10'000'000;
constexpr osc::Tick kSpacing = 128;  // a level change every half bit
constexpr double kWholeWidth = static_cast<double>(kPoints) * kSpacing;

struct Fixture {
    osc::CaptureEngine engine;
    std::unique_ptr<OscPlot> plot;
    QImage image{1920, 600, QImage::Format_RGB32};

    Fixture() {
        for (int c = 0; c < osc::kChannelCount; ++c) {
            osc::ChannelTrace& t = engine.traces[static_cast<std::size_t>(c)];
            const osc::ChannelInfo& info = osc::kChannels[static_cast<std::size_t>(c)];
            t.clear();
            t.reserve(kPoints);
            std::uint32_t noise = 12345u + static_cast<std::uint32_t>(c);
            osc::Tick x = 0;
            for (std::size_t i = 0; i < kPoints; ++i) {
                noise = noise * 1664525u + 1013904223u;
                t.add(x, (noise >> 16) & 1 ? info.levelSet : info.levelClear);
                x += kSpacing;
            }
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

    void paint() {
        QPainter p(&image);
        plot->paintPlot(p);
    }

    void setTracesHidden(bool hidden) {
        for (osc::ChannelTrace& t : engine.traces) {
            t.setHidden(hidden);
        }
    }

    // The same frame (axes, labels, lines), then every visible point of every trace as stairs
    // in one painter path per trace.
    void paintNaive() {
        setTracesHidden(true);
        paint();
        setTracesHidden(false);
        QPainter p(&image);
        const QRect r = plot->plotRect();
        p.setClipRect(r);
        p.setPen(QPen(Qt::yellow, 0));
        for (const osc::ChannelTrace& t : engine.traces) {
            const std::size_t first = t.lowerBound(engine.window.minimum());
            const std::size_t last = std::min(t.count(), t.lowerBound(engine.window.maximum()) + 1);
            QPainterPath path;
            for (std::size_t i = first == 0 ? 0 : first - 1; i < last; ++i) {
                const double x = plot->pixelForBottom(static_cast<double>(t.xs()[i]));
                const double y = plot->pixelForLeft(t.ys()[i]);
                if (path.elementCount() == 0) {
                    path.moveTo(x, y);
                } else {
                    path.lineTo(x, path.currentPosition().y());
                    path.lineTo(x, y);
                }
            }
            p.drawPath(path);
        }
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void setWhole() {
    fixture().engine.window.setMinMax(0, kWholeWidth);
}
void set100Bits() {
    const double mid = kWholeWidth / 2;
    fixture().engine.window.setMinMax(mid, mid + 100 * 256);
}

void BM_PaintWholeCapture(benchmark::State& state) {
    setWhole();
    fixture().paint();  // the level-of-detail summaries are built once per data change
    for (auto _ : state) {
        fixture().paint();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PaintWholeCapture)->Unit(benchmark::kMillisecond);

void BM_Paint100Bits(benchmark::State& state) {
    set100Bits();
    fixture().paint();
    for (auto _ : state) {
        fixture().paint();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Paint100Bits)->Unit(benchmark::kMillisecond);

void BM_NaiveWholeCapture(benchmark::State& state) {
    setWhole();
    for (auto _ : state) {
        fixture().paintNaive();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_NaiveWholeCapture)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Naive100Bits(benchmark::State& state) {
    set100Bits();
    for (auto _ : state) {
        fixture().paintNaive();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Naive100Bits)->Unit(benchmark::kMillisecond);

// Axes, labels and the two lines alone: what every paint costs besides the traces.
void BM_PaintFrameOnly(benchmark::State& state) {
    setWhole();
    fixture().setTracesHidden(true);
    for (auto _ : state) {
        fixture().paint();
        benchmark::ClobberMemory();
    }
    fixture().setTracesHidden(false);
}
BENCHMARK(BM_PaintFrameOnly)->Unit(benchmark::kMillisecond);

// Rebuilding the summary of one 10-million-point trace (after a change that is not an append).
void BM_SummaryRebuild(benchmark::State& state) {
    osc::ChannelTrace& t = fixture().engine.traces[0];
    for (auto _ : state) {
        ui::TraceSummary s;
        s.update(t);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_SummaryRebuild)->Unit(benchmark::kMillisecond);

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
