// The recorder's work for one device, and what triggers add to a live capture.
//
// BM_RecorderDevice/R: the sample datagrams of a simulated device at R bit/s (256 pairs each,
// its link with 1% of each fault) handed to a DeviceRecorder as the recorder's loop does:
// segments written to a folder on the disk (MO_BENCH_DIR, else the system's temporary folder),
// the triggers "error != none", "issue == no_answer" and "rt > 30" with their event files, a
// poll every 20 ms of the device's time. Process CPU time (the writers' threads included) per
// second of the device's stream: "core_share" is the part of one core a device at R bit/s takes.
//
// BM_TriggerOverhead: a capture as the window holds it (frames on), its datagrams decoded with
// the frames read every 780 datagrams, without triggers and with the three above evaluated
// after every datagram. "added" is the share the triggers add to the capture's work.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/capture/device_recorder.h"
#include "core/trigger/trigger_monitor.h"
#include "sim/sim_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::vector<Bytes> deviceStream(int bitRate, double seconds) {
    osc::sim::DeviceOptions options;
    options.bitRate = bitRate;
    options.link.faults = {0.01, 0.01, 0.01};
    osc::sim::SimulatedDevice device("10.0.0.5", options);
    device.setStreaming(true);
    const auto n = static_cast<std::size_t>(device.datagramsPerSecond() * seconds);
    std::vector<Bytes> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(device.nextDatagram());
    }
    return out;
}

std::vector<osc::TriggerCondition> triggers() {
    std::vector<osc::TriggerCondition> out;
    for (const char* t : {"error != none", "issue == no_answer", "rt > 30"}) {
        out.push_back(*osc::parseTrigger(t).condition);
    }
    return out;
}

class NullLink : public osc::DeviceLink {
  public:
    void send(const std::string&, std::span<const std::uint8_t>) override {}
    std::optional<std::vector<osc::PeerAddress>> deviceSenders(const std::string&) override {
        return std::vector<osc::PeerAddress>{kDevice};
    }
    std::uint64_t receiverDrops() const override { return 0; }
    static constexpr osc::PeerAddress kDevice{{10, 0, 0, 5}, 971};
};

class Quiet : public osc::RecorderOutput {
  public:
    void event(const osc::RecordedEvent&) override { ++events; }
    void log(const std::string&) override {}
    std::uint64_t events = 0;
};

void BM_RecorderDevice(benchmark::State& state) {
    const int bitRate = static_cast<int>(state.range(0));
    const double seconds = 20;
    const std::vector<Bytes> stream = deviceStream(bitRate, seconds);
    const char* dirEnv = std::getenv("MO_BENCH_DIR");
    const std::filesystem::path dir =
        std::filesystem::path(dirEnv != nullptr ? dirEnv
                                                : std::filesystem::temp_directory_path().string()) /
        ("mo-bench-recorder-" + std::to_string(::getpid()));
    const double perDatagramMs = 1000.0 * seconds / static_cast<double>(stream.size());
    double best = 1e9;
    std::uint64_t events = 0;
    for (auto _ : state) {
        std::filesystem::remove_all(dir);
        osc::DeviceRecorderSettings s;
        s.name = "10.0.0.5";
        s.address = "10.0.0.5";
        s.folder = dir;
        s.segmentMs = 5000;
        s.triggers = triggers();
        s.windows.pre = osc::TimeSpan::seconds(2);
        s.windows.post = osc::TimeSpan::seconds(1);
        std::int64_t now = 0;
        NullLink link;
        Quiet quiet;
        const double t0 = processSeconds();
        {
            osc::DeviceRecorder r(s, link, {[&] { return now; }, [&] { return now; }}, quiet);
            r.start();
            double next = 0;
            double nextPoll = 20;
            for (const Bytes& d : stream) {
                next += perDatagramMs;
                now = static_cast<std::int64_t>(next);
                r.consume(d, NullLink::kDevice);
                if (next >= nextPoll) {
                    r.poll();
                    nextPoll += 20;
                }
            }
            r.close();
        }
        best = std::min(best, processSeconds() - t0);
        events = quiet.events;
    }
    std::filesystem::remove_all(dir);
    state.counters["core_share_%"] = 100 * best / seconds;
    state.counters["us_per_datagram"] = 1e6 * best / static_cast<double>(stream.size());
    state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(BM_RecorderDevice)
    ->Arg(9600)
    ->Arg(115200)
    ->Arg(1000000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_TriggerOverhead(benchmark::State& state) {
    const std::vector<Bytes> stream = deviceStream(115200, 60);
    const auto every = static_cast<std::uint64_t>(state.range(0));
    double plain = 1e9;
    double triggered = 1e9;
    std::uint64_t events = 0;
    for (auto _ : state) {
        for (const bool withTriggers : {false, true}) {
            osc::CaptureEngine engine;
            engine.frames.setEnabled(true);
            engine.restartTraces();
            osc::TriggerMonitor monitor(triggers());
            const osc::TriggerSource source{engine.frames, engine.link, engine.traces, 0};
            monitor.start(source, 0, 0);
            const double t0 = threadSeconds();
            std::uint64_t i = 0;
            for (const Bytes& d : stream) {
                engine.decodeDatagram(d);
                if (withTriggers) {
                    monitor.datagram(source, engine.state.FTimeBase, static_cast<std::int64_t>(i),
                                     i);
                    if ((i + 1) % every == 0) {
                        monitor.evaluate(source);
                    }
                }
                if (++i % 780 == 0) {
                    benchmark::DoNotOptimize(engine.frames.frames(2).size());
                }
            }
            const double t = threadSeconds() - t0;
            (withTriggers ? triggered : plain) = std::min(withTriggers ? triggered : plain, t);
            events = monitor.eventCount();
        }
    }
    state.counters["plain_ms"] = 1e3 * plain;
    state.counters["triggered_ms"] = 1e3 * triggered;
    state.counters["added_%"] = 100 * (triggered - plain) / plain;
    state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(BM_TriggerOverhead)->Arg(1)->Arg(16)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
