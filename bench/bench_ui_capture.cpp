// The window under load, as an operator runs it: a live capture from a simulated device at
// 1 Mbit/s, and the replay of a large oscillogram file. Each runs once and reports counters:
// datagrams received and lost, repaints a second, the longest gap between two status ticks,
// the replay's throughput and the memory per trace point.
//
//   bench_ui_capture [--benchmark_filter=Live|Link|Trigger|Udp|Replay]   (MO_LIVE_SECONDS,
//   MO_REPLAY_MB, MO_LIVE_TRACE to log every datagram on the trace tab meanwhile, MO_GATHER_US for
//   the UDP receiver's pause after each drain, MO_REPLAY_FILE to replay a given file instead,
//   MO_REPLAY_TRACE to replay it with tracing on)

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <utility>

#include "core/files/osc_file.h"
#include "net/udp_endpoint.h"
#include "netsim/simulated_network.h"
#include "sim/sim_device.h"
#include "ui/widgets/Messages.h"
#include "ui/window/MainUnit.h"
#include "ui/window/Startup.h"

namespace {

// A component of the main window by its object name.
template <class T>
T* component(const char* name) {
    return frmMain->findChild<T*>(QString::fromLatin1(name));
}

int envInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v ? std::max(1, std::atoi(v)) : fallback;
}

class PaintCounter : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    long paints = 0;
};

void startWindow() {
    ui::ScopedModalHook cancel([](QDialog&) { return int(QDialog::Rejected); });
    ui::createForms({});
    ui::showMainForm();
}

// CPU time of this thread, the window's: the device and the network have threads of their own.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// What a live capture costs the window per datagram received, from the start to the stop.
struct LiveCost {
    double datagrams = 0;
    double cpuSeconds = 0;
    double perDatagramUs() const { return datagrams > 0 ? cpuSeconds / datagrams * 1e6 : 0; }
};

// What the window shows during a live capture (the frames tab's views refresh only in sight).
enum class LiveView { Plot, FrameTable, Stations };

LiveCost runLiveCapture(benchmark::State& state, int seconds, bool frames, bool link = true,
                        LiveView view = LiveView::Plot, const char* trigger = nullptr,
                        bool faults = false) {
    LiveCost cost;
    {
        startWindow();
        if (trigger != nullptr) {  // marked only: the capture runs on
            component<QLineEdit>("edTriggerCondition")->setText(QString::fromUtf8(trigger));
            component<QCheckBox>("cbTriggerOn")->setChecked(true);
        }
        frmMain->engine().frames.setEnabled(frames);
        component<QCheckBox>("cbLink")->setChecked(link);
        frmMain->frames().applyOptions();
        if (view != LiveView::Plot) {
            component<QTabWidget>("PageControl1")->setCurrentWidget(frmMain->frames().page());
            frmMain->frames().showStations(view == LiveView::Stations);
        }
        osc::net::SimulatedNetworkOptions options;
        osc::net::SimulatedDeviceSpec device;
        device.address = "127.0.0.11";
        device.options.bitRate = 1'000'000;
        if (faults) {  // the demo's share of lost, damaged and late answers
            device.options.link.faults = {0.02, 0.01, 0.02};
        }
        options.devices.push_back(device);
        auto network = std::make_unique<osc::net::SimulatedNetwork>(options);
        osc::net::SimulatedNetwork* net = network.get();
        frmMain->setEndpoint(std::move(network));
        component<QComboBox>("ComboBox1")->addItem(QStringLiteral("КП-1 (IP:127.0.0.11)"));
        component<QComboBox>("ComboBox1")->setCurrentIndex(0);
        component<QCheckBox>("cbTraceEnabled")->setChecked(std::getenv("MO_LIVE_TRACE") != nullptr);
        PaintCounter counter;
        component<OscPlot>("Chart1")->installEventFilter(&counter);

        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        int ticks = 0;
        bool stopping = false;  // the stop's completion holds the loop by design: not counted
        QObject::connect(component<QTimer>("Timer1"), &QTimer::timeout, [&] {
            if (ticks++ > 0 && !stopping) {
                longestGap = std::max(longestGap, sinceTick.elapsed());
            }
            sinceTick.restart();
        });
        const double cpu0 = threadSeconds();
        ui::guarded(frmMain, [] { frmMain->actOSCstartExecute(); });
        QElapsedTimer run;
        run.start();
        double stopSeconds = 0;
        QTimer::singleShot(seconds * 1000, [&] {
            cost.cpuSeconds = threadSeconds() - cpu0;
            cost.datagrams = static_cast<double>(net->stats().received);
            stopping = true;
            QElapsedTimer stop;
            stop.start();
            ui::guarded(frmMain, [] { frmMain->actOSCstopExecute(); });
            stopSeconds = static_cast<double>(stop.nsecsElapsed()) / 1e9;
        });
        // Asleep until something happens, as the program's event loop is: a loop that polls
        // would count its own polling as the window's work.
        while (run.elapsed() < seconds * 1000 + 1500 || !stopping) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        const osc::net::EndpointStats stats = net->stats();
        state.counters["datagrams"] = static_cast<double>(stats.received);
        state.counters["lost"] = static_cast<double>(stats.droppedQueueFull);
        state.counters["bit_periods"] =
            static_cast<double>(frmMain->engine().state.FTimeBase / 256);
        state.counters["repaints_per_s"] = static_cast<double>(counter.paints) / seconds;
        state.counters["longest_tick_gap_ms"] = static_cast<double>(longestGap);
        state.counters["stop_s"] = stopSeconds;
        state.counters["window_us_per_datagram"] = cost.perDatagramUs();
        if (trigger != nullptr) {
            state.counters["events"] = component<QTableView>("TriggerEvents")->model()->rowCount();
        }
        component<OscPlot>("Chart1")->removeEventFilter(&counter);
        ui::destroyForms();
    }
    return cost;
}

void BM_LiveCapture1Mbit(benchmark::State& state) {
    const int seconds = envInt("MO_LIVE_SECONDS", 30);
    for (auto _ : state) {
        runLiveCapture(state, seconds, true);
    }
}
BENCHMARK(BM_LiveCapture1Mbit)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The same capture without frames and with them (the frames tab refreshing, as it does whether
// shown or not), taking turns: "frames_added" is the share the frames add to the window's CPU
// time per datagram received.
void BM_LiveFramesAdded(benchmark::State& state) {
    const int seconds = envInt("MO_LIVE_SECONDS", 30);
    for (auto _ : state) {
        LiveCost off, on;
        for (int round = 0; round < 2; ++round) {
            const LiveCost a = runLiveCapture(state, seconds / 4, false);
            const LiveCost b = runLiveCapture(state, seconds / 4, true);
            off.datagrams += a.datagrams;
            off.cpuSeconds += a.cpuSeconds;
            on.datagrams += b.datagrams;
            on.cpuSeconds += b.cpuSeconds;
        }
        state.counters.clear();
        state.counters["us_per_datagram_without"] = off.perDatagramUs();
        state.counters["us_per_datagram_with"] = on.perDatagramUs();
        state.counters["frames_added"] = on.perDatagramUs() / off.perDatagramUs() - 1;
    }
}
BENCHMARK(BM_LiveFramesAdded)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The link layer's share of a live capture with frames: the window's CPU time per datagram
// with the link layer off and on, the plot in sight (the bands with their types and issues),
// the frames table in sight (the link columns), and the stations in sight (their statistics
// five times a second), taking turns (MO_LIVE_ROUNDS times, 2 by default, each run a tenth of
// MO_LIVE_SECONDS). "link_added_*" is the share the link layer adds.
void BM_LiveLinkAdded(benchmark::State& state) {
    const int rounds = envInt("MO_LIVE_ROUNDS", 2);
    const int seconds = std::max(1, envInt("MO_LIVE_SECONDS", 30) / 10);
    for (auto _ : state) {
        struct Run {
            const char* name;
            bool link;
            LiveView view;
            LiveCost cost;
        };
        Run runs[] = {{"plot_off", false, LiveView::Plot, {}},
                      {"plot_on", true, LiveView::Plot, {}},
                      {"table_off", false, LiveView::FrameTable, {}},
                      {"table_on", true, LiveView::FrameTable, {}},
                      {"stations_on", true, LiveView::Stations, {}}};
        for (int round = 0; round < rounds; ++round) {
            for (Run& r : runs) {
                const LiveCost c = runLiveCapture(state, seconds, true, r.link, r.view);
                r.cost.datagrams += c.datagrams;
                r.cost.cpuSeconds += c.cpuSeconds;
            }
        }
        state.counters.clear();
        for (const Run& r : runs) {
            state.counters[std::string("us_per_datagram_") + r.name] = r.cost.perDatagramUs();
        }
        state.counters["link_added_plot"] =
            runs[1].cost.perDatagramUs() / runs[0].cost.perDatagramUs() - 1;
        state.counters["link_added_table"] =
            runs[3].cost.perDatagramUs() / runs[2].cost.perDatagramUs() - 1;
        state.counters["link_added_stations"] =
            runs[4].cost.perDatagramUs() / runs[2].cost.perDatagramUs() - 1;
    }
}
BENCHMARK(BM_LiveLinkAdded)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A trigger's share of a live capture with frames and the link layer, the plot in sight: the
// window's CPU time per datagram without a trigger and with "error != none || issue ==
// no_answer" marking each event, the device's link with the demo's faults, taking turns
// (MO_LIVE_ROUNDS times, each run a tenth of MO_LIVE_SECONDS). "trigger_added" is the share the
// trigger adds.
void BM_LiveTriggerAdded(benchmark::State& state) {
    const int rounds = envInt("MO_LIVE_ROUNDS", 2);
    const int seconds = std::max(1, envInt("MO_LIVE_SECONDS", 30) / 10);
    for (auto _ : state) {
        LiveCost off, on;
        for (int round = 0; round < rounds; ++round) {
            const LiveCost a =
                runLiveCapture(state, seconds, true, true, LiveView::Plot, nullptr, true);
            const LiveCost b = runLiveCapture(state, seconds, true, true, LiveView::Plot,
                                              "error != none || issue == no_answer", true);
            off.datagrams += a.datagrams;
            off.cpuSeconds += a.cpuSeconds;
            on.datagrams += b.datagrams;
            on.cpuSeconds += b.cpuSeconds;
        }
        const double events = state.counters["events"];
        state.counters.clear();
        state.counters["events"] = events;  // of the last run with the trigger
        state.counters["us_per_datagram_without"] = off.perDatagramUs();
        state.counters["us_per_datagram_with"] = on.perDatagramUs();
        state.counters["trigger_added"] = on.perDatagramUs() / off.perDatagramUs() - 1;
    }
}
BENCHMARK(BM_LiveTriggerAdded)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Processor seconds of the whole process so far (all its threads).
double processSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Resident memory now and at its peak, in MB (/proc/self/status).
std::pair<double, double> residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    double now = 0, peak = 0;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            now = std::atof(line.c_str() + 6) / 1024;
        } else if (line.rfind("VmHWM:", 0) == 0) {
            peak = std::atof(line.c_str() + 6) / 1024;
        }
    }
    return {now, peak};
}

// The window on a real UDP socket against the simulated device in a process of its own
// (morvelip-osc-cli sim on 127.0.0.1, 1 Mbit/s): what the window's process spends of a
// processor while it captures (after 2 s of warming up), the datagrams the device sent and
// the window received, and the resident memory after 1, 5 and 10 minutes when the run is that
// long.
void BM_LiveCaptureUdp1Mbit(benchmark::State& state) {
    const int seconds = envInt("MO_LIVE_SECONDS", 30);
    for (auto _ : state) {
        QProcess sim;
        sim.setProcessChannelMode(QProcess::MergedChannels);
        sim.start(
            QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/morvelip-osc-cli"),
            {QStringLiteral("sim"), QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
             QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--bit-rate"),
             QStringLiteral("1000000")});
        QString banner;
        while (!banner.contains(QLatin1Char('\n')) && sim.waitForReadyRead(10000)) {
            banner += QString::fromUtf8(sim.readAll());
        }
        const QRegularExpressionMatch port =
            QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)")).match(banner);
        if (!port.hasMatch()) {
            state.SkipWithError("the simulated device did not start");
            return;
        }
        startWindow();
        osc::net::UdpEndpointOptions options;
        options.bindAddress = "127.0.0.1";
        options.port = 0;
        options.devicePort = static_cast<std::uint16_t>(port.captured(1).toUInt());
        if (const char* gather = std::getenv("MO_GATHER_US")) {  // the receiver's pause
            options.gather = std::chrono::microseconds(std::atoi(gather));
        }
        auto endpoint = std::make_unique<osc::net::UdpEndpoint>(options);
        osc::net::UdpEndpoint* udp = endpoint.get();
        frmMain->setEndpoint(std::move(endpoint));
        component<QComboBox>("ComboBox1")->addItem(QStringLiteral("КП-1 (IP:127.0.0.1)"));
        component<QComboBox>("ComboBox1")->setCurrentIndex(0);
        PaintCounter counter;
        component<OscPlot>("Chart1")->installEventFilter(&counter);
        ui::guarded(frmMain, [] { frmMain->actOSCstartExecute(); });
        // The event loop as the program runs it: asleep until something happens.
        const auto runFor = [](qint64 ms) {
            QEventLoop loop;
            QTimer::singleShot(std::max<qint64>(0, ms), &loop, &QEventLoop::quit);
            loop.exec();
        };
        runFor(2000);
        counter.paints = 0;
        QElapsedTimer wall;
        wall.start();
        const double cpuStart = processSeconds();
        for (int s = 1; s <= seconds; ++s) {
            runFor(s * 1000 - wall.elapsed());
            if (s == 60 || s == 300 || s == 600) {
                state.counters["rss_MB_" + std::to_string(s / 60) + "min"] =
                    residentMegabytes().first;
            }
        }
        const double cpu = processSeconds() - cpuStart;
        const double elapsed = static_cast<double>(wall.elapsed()) / 1000;
        const long paints = counter.paints;
        component<OscPlot>("Chart1")->removeEventFilter(&counter);
        QElapsedTimer stop;
        stop.start();
        ui::guarded(frmMain, [] { frmMain->actOSCstopExecute(); });
        state.counters["stop_ms"] = static_cast<double>(stop.nsecsElapsed()) / 1e6;
        runFor(1000);  // what was on its way
        ::kill(static_cast<pid_t>(sim.processId()), SIGINT);
        sim.waitForFinished(10000);
        const QString tail = QString::fromUtf8(sim.readAll());
        const QRegularExpressionMatch sent =
            QRegularExpression(QStringLiteral("after (\\d+) sample datagrams")).match(tail);
        const osc::net::EndpointStats stats = udp->stats();
        const double received = static_cast<double>(stats.received) - 1;  // less the identity
        state.counters["cpu_percent"] = 100 * cpu / elapsed;
        state.counters["repaints_per_s"] = static_cast<double>(paints) / seconds;
        state.counters["datagrams_sent"] = sent.hasMatch() ? sent.captured(1).toDouble() : -1;
        state.counters["datagrams_received"] = received;
        state.counters["lost"] = sent.hasMatch() ? sent.captured(1).toDouble() - received : -1;
        state.counters["rss_MB_peak"] = residentMegabytes().second;
        ui::destroyForms();
    }
}
BENCHMARK(BM_LiveCaptureUdp1Mbit)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_ReplayLargeFile(benchmark::State& state) {
    int megabytes = envInt("MO_REPLAY_MB", 100);
    QTemporaryDir dir;
    QString file = dir.filePath(QStringLiteral("large.osc"));
    if (const char* given = std::getenv("MO_REPLAY_FILE")) {  // e.g. from gen_long_capture
        file = QString::fromLocal8Bit(given);
        megabytes = static_cast<int>(QFileInfo(file).size() >> 20);
    } else {
        osc::sim::SimulatedDevice device("127.0.0.11", {});
        device.setStreaming(true);
        std::string text;
        std::ofstream out(file.toStdString(), std::ios::binary);
        std::size_t written = 0;
        while (written < static_cast<std::size_t>(megabytes) << 20) {
            text.clear();
            osc::appendTraceLine(text, device.nextDatagram());
            text += "\r\n";
            out << text;
            written += text.size();
        }
    }
    for (auto _ : state) {
        startWindow();
        frmMain->setEndpoint(
            std::make_unique<osc::net::SimulatedNetwork>(osc::net::SimulatedNetworkOptions{}));
        component<QCheckBox>("cbTraceEnabled")
            ->setChecked(std::getenv("MO_REPLAY_TRACE") != nullptr);
        ui::ScopedModalHook choose([&](QDialog& d) {
            dynamic_cast<QFileDialog&>(d).selectFile(file);
            return int(QDialog::Accepted);
        });
        QElapsedTimer t;
        t.start();
        ui::guarded(frmMain, [] { frmMain->actLoadFromFileExecute(); });
        const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
        std::size_t points = 0;
        std::size_t bytes = 0;
        for (const osc::ChannelTrace& trace : frmMain->engine().traces) {
            points += trace.count();
            bytes += trace.memoryBytes();
        }
        state.counters["MB"] = megabytes;
        state.counters["seconds"] = seconds;
        state.counters["MB_per_s"] = megabytes / seconds;
        state.counters["points"] = static_cast<double>(points);
        state.counters["bytes_per_point"] =
            static_cast<double>(bytes) / static_cast<double>(points);
        state.counters["rss_MB_peak"] = residentMegabytes().second;
        ui::destroyForms();
    }
}
BENCHMARK(BM_ReplayLargeFile)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QTemporaryDir config, state;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_STATE_HOME", state.path().toUtf8());  // the capture journals
    QApplication app(argc, argv);
    ui::setMessageHook([](const ui::Message& m) {
        std::fprintf(stderr, "message: %s\n", m.text.toUtf8().constData());
    });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
