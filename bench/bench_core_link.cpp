// The link layer of a polled link: answers, link issues and station statistics, the filter
// language, and `stats` against `frames` on a long file.
//
// BM_LinkWholeCapture: 30 million bit periods of the polled link (bench/polled_link.h) decoded
// into frames as the stop finds them, then the link analysis and the statistics of those frames.
// "added" is the analysis's time as a share of the decoding's. Thread CPU times, the least of
// the rounds for each.
//
// BM_LinkLive: the same link streamed as sample datagrams through the capture engine, the
// frames read every 780 datagrams (the frames tab's refresh at 1 Mbit/s) alone, or with the link
// analysis and the statistics read as well. "added" is the share of a datagram's decoding;
// "behind_bits" the most the analysis trailed the time base at a read.
//
// BM_Filter: 1 million frames of the link with their analysis, each filter evaluated on every
// frame's record (fields decoded, info and response time looked up, as the table and the tool
// do it). Reports the time of one pass.
//
// BM_StatsVsFrames: the file named by MO_LONG_CAPTURE (bench/gen_long_capture makes one: an hour
// at 115200 bit/s is `gen_long_capture FILE 3600`) replayed as `frames --format csv` and as
// `stats` do it, the least wall time of each over the rounds, and their ratio. Skipped without
// the variable.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bench/polled_link.h"
#include "core/capture/capture_engine.h"
#include "core/files/link_export.h"
#include "core/link/frame_filter.h"
#include "core/link/link_analysis.h"

namespace {

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void BM_LinkWholeCapture(benchmark::State& state) {
    const osc::ChannelTraces traces = bench::linkTraces(static_cast<std::uint64_t>(state.range(0)));
    double decode = 1e9;
    double link = 1e9;
    std::size_t stations = 0;
    std::uint64_t answers = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        osc::CaptureFrames frames;
        frames.setEnabled(true);
        frames.restart();
        frames.finish(traces);
        benchmark::DoNotOptimize(frames.counts(1));
        const double t1 = threadSeconds();
        osc::LinkAnalysis analysis(frames);
        const std::vector<osc::StationStats> s = analysis.analyser().stations();
        benchmark::DoNotOptimize(analysis.analyser().lines());
        const double t2 = threadSeconds();
        decode = std::min(decode, t1 - t0);
        link = std::min(link, t2 - t1);
        stations = s.size();
        answers = 0;
        for (const osc::StationStats& st : s) {
            answers += st.answers;
        }
    }
    state.counters["decode_ms"] = decode * 1e3;
    state.counters["link_ms"] = link * 1e3;
    state.counters["added"] = link / decode;
    state.counters["stations"] = static_cast<double>(stations);
    state.counters["answers"] = static_cast<double>(answers);
}
BENCHMARK(BM_LinkWholeCapture)->Arg(30'000'000)->Unit(benchmark::kMillisecond)->Iterations(8);

void BM_LinkLive(benchmark::State& state) {
    const std::vector<std::vector<std::uint8_t>> stream = bench::linkDatagrams(1'024'000);
    constexpr std::size_t kReadEvery = 780;
    double plain = 1e9;
    double linked = 1e9;
    osc::Tick behind = 0;
    for (auto _ : state) {
        for (const bool link : {false, true}) {
            osc::CaptureEngine engine;
            engine.frames.setEnabled(true);
            engine.resetTimeBase();
            engine.restartTraces();
            std::size_t k = 0;
            const double t0 = threadSeconds();
            for (const auto& d : stream) {
                engine.decodeDatagram(d);
                if (++k % kReadEvery == 0) {
                    benchmark::DoNotOptimize(engine.frames.counts(1));
                    if (link) {
                        const osc::LinkAnalyser& a = engine.link.analyser();
                        benchmark::DoNotOptimize(a.stations());
                        behind = std::max(behind, engine.state.FTimeBase - a.settled());
                    }
                }
            }
            double& least = link ? linked : plain;
            least = std::min(least, threadSeconds() - t0);
        }
    }
    state.counters["datagram_us"] = plain / static_cast<double>(stream.size()) * 1e6;
    state.counters["added"] = (linked - plain) / plain;
    state.counters["behind_bits"] = static_cast<double>(behind) / osc::kTicksPerBit;
}
BENCHMARK(BM_LinkLive)->Unit(benchmark::kMillisecond)->Iterations(3);

// A million frames of a polled link: polls of stations 1 to 8 on line 1, answers on lines 2
// and 3 (one in 20 missing, one in 50 damaged), I frames counting on, now and then sent again.
struct MillionFrames {
    std::array<osc::FrameSequence, osc::kChannelCount> lists;
    osc::LinkAnalyser analyser;
    std::vector<osc::FrameRef> order;

    MillionFrames() {
        std::uint64_t seed = 9;
        auto random = [&seed] {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            return static_cast<std::uint32_t>(seed >> 33);
        };
        osc::Tick t = 0;
        std::array<int, 9> ns{};
        auto add = [&](int channel, osc::Tick length, std::vector<std::uint8_t> bytes, bool bad) {
            osc::Frame f;
            f.channel = channel;
            f.start = t * osc::kTicksPerBit;
            f.end = (t + length) * osc::kTicksPerBit;
            bytes.push_back(static_cast<std::uint8_t>(random()));
            bytes.push_back(static_cast<std::uint8_t>(random()));
            f.bytes = bytes;
            f.bitCount = static_cast<std::uint32_t>(bytes.size() * 8);
            f.status = bad ? osc::CheckStatus::Bad : osc::CheckStatus::Good;
            f.error = bad ? osc::FrameError::BadCheck : osc::FrameError::None;
            order.push_back({channel, lists[static_cast<std::size_t>(channel)].size()});
            lists[static_cast<std::size_t>(channel)].push_back(f);
            t += length + 5 + static_cast<osc::Tick>(random() % 20);
        };
        while (order.size() < 1'000'000) {
            const int station = 1 + static_cast<int>(random() % 8);
            int& n = ns[static_cast<std::size_t>(station)];
            if (random() % 10 != 0) {
                n = (n + 1) % 8;
            }
            add(1, 40,
                {static_cast<std::uint8_t>(station), static_cast<std::uint8_t>(n << 1 | 0x10)},
                false);
            if (random() % 20 != 0) {
                std::vector<std::uint8_t> answer{static_cast<std::uint8_t>(station), 0x31};
                for (std::uint32_t k = random() % 12; k > 0; --k) {
                    answer.push_back(static_cast<std::uint8_t>(random()));
                }
                add(2 + station % 2, 40 + static_cast<osc::Tick>(answer.size()) * 8, answer,
                    random() % 50 == 0);
            }
        }
        osc::LinkAnalyser::Lists l{};
        for (int c = 0; c < osc::kChannelCount; ++c) {
            l[static_cast<std::size_t>(c)] = &lists[static_cast<std::size_t>(c)];
        }
        analyser.read(l, t * osc::kTicksPerBit, true);
    }

    osc::FrameRecord record(std::size_t position) const {
        const osc::FrameRef ref = order[position];
        const osc::Frame& f = lists[static_cast<std::size_t>(ref.channel)][ref.index];
        osc::FrameRecord r;
        r.index = position + 1;
        r.frame = &f;
        r.fields = osc::linkFields(f, analyser.options());
        r.info = analyser.info(ref.channel, ref.index);
        const osc::FrameRef partner = r.info.partner();
        if (partner.valid() && r.fields.role == osc::LinkRole::Response) {
            r.responseTime =
                f.start - lists[static_cast<std::size_t>(partner.channel)][partner.index].end;
        }
        return r;
    }
};

void BM_Filter(benchmark::State& state) {
    static const MillionFrames frames;
    static const char* const kFilters[] = {
        "channel == 2",
        "issue == no_answer || status == bad",
        "address == 5 && type == I && (ns == 3 || rt > 40)",
        "bytes ~ \"05 31 ?? 7E\"",
        "role == command && !(issue == none) || rt_ms > 1.5",
    };
    const char* text = kFilters[state.range(0)];
    osc::FilterSettings settings;
    settings.bitRate = 115200;
    const osc::FilterParse p = osc::FrameFilter::parse(text, settings);
    if (!p.ok()) {
        state.SkipWithError(osc::filterErrorText(*p.error, osc::FilterLanguage::English).c_str());
        return;
    }
    std::size_t passed = 0;
    for (auto _ : state) {
        passed = 0;
        for (std::size_t k = 0; k < frames.order.size(); ++k) {
            passed += p.filter.matches(frames.record(k)) ? 1 : 0;
        }
        benchmark::DoNotOptimize(passed);
    }
    state.SetLabel(text);
    state.counters["frames"] = static_cast<double>(frames.order.size());
    state.counters["passed"] = static_cast<double>(passed);
}
BENCHMARK(BM_Filter)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

void BM_StatsVsFrames(benchmark::State& state) {
    const char* path = std::getenv("MO_LONG_CAPTURE");
    if (path == nullptr || *path == '\0') {
        state.SkipWithError("set MO_LONG_CAPTURE to an .osc file (bench/gen_long_capture)");
        return;
    }
    double framesSeconds = 1e9;
    double statsSeconds = 1e9;
    std::uint64_t bytes = 0;
    std::uint64_t frameCount = 0;
    for (auto _ : state) {
        for (const bool stats : {false, true}) {
            const double t0 = wallSeconds();
            osc::CaptureEngine engine;
            engine.frames.setEnabled(true);
            engine.replayOscFile(path);
            if (stats) {
                const osc::LinkAnalyser& a = engine.link.analyser();
                const std::string out = osc::formatStationStats(
                    a.stations(), a.lines(), osc::kDataChannels, osc::FrameListFormat::Text);
                benchmark::DoNotOptimize(out.data());
            } else {
                const osc::FrameRecords records(engine.frames, engine.link);
                frameCount = records.size();
                bytes = 0;
                osc::writeFrameRecords(records, osc::FrameListFormat::Csv, osc::FrameFilter(),
                                       [&](std::string_view piece) {
                                           bytes += piece.size();
                                           return true;
                                       });
            }
            double& least = stats ? statsSeconds : framesSeconds;
            least = std::min(least, wallSeconds() - t0);
        }
    }
    state.counters["frames_s"] = framesSeconds;
    state.counters["stats_s"] = statsSeconds;
    state.counters["stats_vs_frames"] = statsSeconds / framesSeconds;
    state.counters["frames"] = static_cast<double>(frameCount);
    state.counters["csv_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_StatsVsFrames)->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
