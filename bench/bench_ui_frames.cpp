// The frames table with a million frames (three lines of about 333,000 frames each, one in 40
// damaged): what the table costs when the frames arrive, when the user sorts or filters, and
// per repaint of a screenful in the middle of the table.
//  - BM_Reload: the rows made afresh from the engine's frames (a load, an options change).
//  - BM_Sort/<column>: sorting by a column (from the order of start), and back.
//  - BM_SortThroughProxy: the same sorts through QSortFilterProxyModel, for comparison.
//  - BM_Filter: only the bad frames, then all of them again; one channel, then all.
//  - BM_ScreenfulOfCells: the texts of 40 rows by 8 columns, as the view asks for them.
//  - BM_ViewPaint: a 1200x800 table view scrolled to the middle, painted into an image.
//  - BM_RefreshIdle: the timer's look at the engine when nothing changed.
//  - BM_LiveAppend: a capture growing under a table of a million rows, 1000 frames a step.
//  - BM_Expression/<n>: a filter expression decided over the million frames with the link
//    layer, slice by slice as the window runs it; "longest_slice_ms" is the longest the window
//    is held at a time.
//  - BM_ScreenfulOfLinkCells: 40 rows by 12 columns with the link columns.
//  - BM_LiveAppendLinkFilter: BM_LiveAppend under a filter over the link layer.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QSortFilterProxyModel>
#include <QTableView>

#include <chrono>
#include <memory>

#include "bench/framed_capture.h"
#include "ui/frames/FrameTableModel.h"

namespace {

constexpr std::size_t kFramesPerChannel = 333'334;

osc::CaptureEngine& engine() {
    static osc::CaptureEngine* e = [] {
        auto* made = new osc::CaptureEngine;
        bench::fillFramedCapture(*made, kFramesPerChannel);
        return made;
    }();
    return *e;
}

ui::FrameTableModel& model() {
    static ui::FrameTableModel m(engine().frames);
    return m;
}

ui::FrameTableModel& linkModel() {
    static ui::FrameTableModel* m = [] {
        auto* made = new ui::FrameTableModel(engine().frames);
        made->setLink(&engine().link);
        return made;
    }();
    return *m;
}

osc::FrameFilter filterOf(const char* text) {
    return osc::FrameFilter::parse(text).filter;
}

void BM_Reload(benchmark::State& state) {
    ui::FrameTableModel& m = model();
    for (auto _ : state) {
        m.reload();
        benchmark::DoNotOptimize(m.rowCount());
    }
    state.counters["rows"] = m.rowCount();
}
BENCHMARK(BM_Reload)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Sort(benchmark::State& state) {
    ui::FrameTableModel& m = model();
    m.setFilter(-1, false);
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        m.sort(column, Qt::AscendingOrder);
        state.PauseTiming();
        m.sort(ui::FrameTableModel::Number, Qt::AscendingOrder);
        state.ResumeTiming();
    }
    static const char* names[] = {"number",   "channel", "start",  "end",   "address", "type",
                                  "response", "remark",  "length", "bytes", "check",   "error"};
    state.SetLabel(names[column]);
}
BENCHMARK(BM_Sort)
    ->DenseRange(1, 3)
    ->DenseRange(8, 11)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Sorting by the link columns, with the link layer.
void BM_SortLink(benchmark::State& state) {
    ui::FrameTableModel& m = linkModel();
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        m.sort(column, Qt::AscendingOrder);
        state.PauseTiming();
        m.sort(ui::FrameTableModel::Number, Qt::AscendingOrder);
        state.ResumeTiming();
    }
    static const char* names[] = {"address", "type", "response", "remark"};
    state.SetLabel(names[column - ui::FrameTableModel::Address]);
}
BENCHMARK(BM_SortLink)
    ->DenseRange(ui::FrameTableModel::Address, ui::FrameTableModel::Remark)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The same sort through Qt's generic proxy model over the table (as a view would sort without
// the model's own index vectors): every comparison asks for two cell texts.
void BM_SortThroughProxy(benchmark::State& state) {
    ui::FrameTableModel& m = model();
    m.setFilter(-1, false);
    m.sort(ui::FrameTableModel::Number, Qt::AscendingOrder);
    for (auto _ : state) {
        QSortFilterProxyModel proxy;
        proxy.setSourceModel(&m);
        proxy.sort(static_cast<int>(state.range(0)), Qt::AscendingOrder);
        benchmark::DoNotOptimize(proxy.rowCount());
    }
    state.SetLabel(state.range(0) == ui::FrameTableModel::Length ? "length" : "error");
}
BENCHMARK(BM_SortThroughProxy)
    ->Arg(ui::FrameTableModel::Length)
    ->Arg(ui::FrameTableModel::Error)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_Filter(benchmark::State& state) {
    ui::FrameTableModel& m = model();
    m.sort(ui::FrameTableModel::Number, Qt::AscendingOrder);
    int bad = 0, one = 0;
    for (auto _ : state) {
        m.setFilter(-1, true);
        bad = m.rowCount();
        m.setFilter(2, false);
        one = m.rowCount();
        m.setFilter(-1, false);
    }
    state.counters["bad_rows"] = bad;
    state.counters["channel_rows"] = one;
}
BENCHMARK(BM_Filter)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ScreenfulOfCells(benchmark::State& state) {
    ui::FrameTableModel& m = model();
    m.setFilter(-1, false);
    m.sort(ui::FrameTableModel::Number, Qt::AscendingOrder);
    const int top = m.rowCount() / 2;
    for (auto _ : state) {
        for (int r = top; r < top + 40; ++r) {
            for (int c = 0; c < ui::FrameTableModel::ColumnCount; ++c) {
                benchmark::DoNotOptimize(m.data(m.index(r, c)));
                benchmark::DoNotOptimize(m.data(m.index(r, c), Qt::ForegroundRole));
            }
        }
    }
}
BENCHMARK(BM_ScreenfulOfCells)->Unit(benchmark::kMicrosecond);

void BM_Expression(benchmark::State& state) {
    static const char* const kExpressions[] = {
        "address == 5 && issue == no_answer",
        "type == I && ns > 3 || rt > 10",
        "bytes ~ \"05 ?? 10\"",
        "error != none && channel == rx1",
    };
    const char* text = kExpressions[state.range(0)];
    ui::FrameTableModel& m = linkModel();
    m.sort(ui::FrameTableModel::Number, Qt::AscendingOrder);
    benchmark::DoNotOptimize(engine().link.analyser().settled());  // analysed before
    const osc::FrameFilter filter = filterOf(text);
    double longest = 0;
    int slices = 0;
    for (auto _ : state) {
        m.setExpression(osc::FrameFilter{});
        using Clock = std::chrono::steady_clock;
        auto start = Clock::now();
        m.setExpression(filter);  // the first slice
        longest = std::chrono::duration<double>(Clock::now() - start).count();
        slices = 1;
        while (m.filtering()) {
            start = Clock::now();
            m.advance();
            longest =
                std::max(longest, std::chrono::duration<double>(Clock::now() - start).count());
            ++slices;
        }
    }
    state.counters["rows"] = m.rowCount();
    state.counters["slices"] = slices;
    state.counters["longest_slice_ms"] = longest * 1e3;
    state.SetLabel(text);
    m.setExpression(osc::FrameFilter{});
}
BENCHMARK(BM_Expression)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ScreenfulOfLinkCells(benchmark::State& state) {
    ui::FrameTableModel& m = linkModel();
    m.setExpression(osc::FrameFilter{});
    m.sort(ui::FrameTableModel::Number, Qt::AscendingOrder);
    const int top = m.rowCount() / 2;
    for (auto _ : state) {
        for (int r = top; r < top + 40; ++r) {
            for (int c = 0; c < ui::FrameTableModel::ColumnCount; ++c) {
                benchmark::DoNotOptimize(m.data(m.index(r, c)));
                benchmark::DoNotOptimize(m.data(m.index(r, c), Qt::ForegroundRole));
            }
        }
    }
}
BENCHMARK(BM_ScreenfulOfLinkCells)->Unit(benchmark::kMicrosecond);

void BM_ViewPaint(benchmark::State& state) {
    ui::FrameTableModel& m = model();
    m.setFilter(-1, false);
    m.sort(ui::FrameTableModel::Number, Qt::AscendingOrder);
    QTableView view;
    view.verticalHeader()->hide();
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setDefaultSectionSize(view.fontMetrics().height() + 4);
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    view.setModel(&m);
    view.resize(1200, 800);
    view.show();
    QApplication::processEvents();
    const double attach = std::chrono::duration<double>(Clock::now() - start).count();
    start = Clock::now();
    view.scrollTo(m.index(m.rowCount() / 2, 0), QAbstractItemView::PositionAtCenter);
    view.setCurrentIndex(m.index(m.rowCount() / 2, 0));
    const double scroll = std::chrono::duration<double>(Clock::now() - start).count();
    QImage image(view.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&image);
        view.render(&p);
    }
    state.counters["attach_ms"] = attach * 1e3;
    state.counters["scroll_ms"] = scroll * 1e3;
}
BENCHMARK(BM_ViewPaint)->Unit(benchmark::kMillisecond);

void BM_RefreshIdle(benchmark::State& state) {
    ui::FrameTableModel& m = model();
    for (auto _ : state) {
        m.refresh();
    }
}
BENCHMARK(BM_RefreshIdle)->Unit(benchmark::kNanosecond);

void BM_LiveAppend(benchmark::State& state) {
    // The same traces read again as a capture reads them, a piece at a time.
    osc::CaptureEngine live;
    live.traces = engine().traces;
    live.frames.setEnabled(true);
    live.frames.restart();
    ui::FrameTableModel m(live.frames);
    const osc::Tick end = engine().state.FTimeBase;
    const osc::Tick step = end / 333;  // some 1000 frames
    // Nearly all of the million frames first, then a step of new ones per iteration.
    osc::Tick t = end - 102 * step;
    live.frames.follow(live.traces, t);
    m.refresh();
    for (auto _ : state) {
        state.PauseTiming();
        t += step;
        live.frames.follow(live.traces, t);
        benchmark::DoNotOptimize(live.frames.counts(1));  // decoded here, not in the refresh
        state.ResumeTiming();
        m.refresh();
    }
    state.counters["rows"] = m.rowCount();
}
BENCHMARK(BM_LiveAppend)->Unit(benchmark::kMicrosecond)->Iterations(100);

// The same with the link layer and a filter over it: each step reads the new frames' link
// layer and decides the frames it has settled.
void BM_LiveAppendLinkFilter(benchmark::State& state) {
    osc::CaptureEngine live;
    live.traces = engine().traces;
    live.frames.setEnabled(true);
    live.frames.restart();
    ui::FrameTableModel m(live.frames);
    m.setLink(&live.link);
    m.setExpression(filterOf("address == 5 || issue == no_answer"));
    const osc::Tick end = engine().state.FTimeBase;
    const osc::Tick step = end / 333;
    osc::Tick t = end - 102 * step;
    live.frames.follow(live.traces, t);
    m.refresh();
    while (m.filtering()) {
        m.advance();
    }
    for (auto _ : state) {
        state.PauseTiming();
        t += step;
        live.frames.follow(live.traces, t);
        benchmark::DoNotOptimize(live.frames.counts(1));
        state.ResumeTiming();
        m.refresh();
    }
    state.counters["rows"] = m.rowCount();
    state.counters["undecided"] = static_cast<double>(m.undecided());
}
BENCHMARK(BM_LiveAppendLinkFilter)->Unit(benchmark::kMicrosecond)->Iterations(100);

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
