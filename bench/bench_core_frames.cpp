// Frame decoding of a polled link (frames on the transmit and both receive lines, as the
// simulated device sends them: a poll, a pause, an answer on one receive line, idle time).
//
// BM_WholeCapture: 30 million bit periods, the frames of channels 1 to 3 as the stop finds them
// when nothing was read during the capture (or as an options change decodes them again): one
// pass over the real points, the gaps read as the completion fills them. Reports the time of
// the pass and points per second.
//
// BM_Live: a stream of sample datagrams of the same link through the capture engine without
// frames, with frames that nobody reads until the stop, with frames read as often as the frames
// tab reads them at 1 Mbit/s, and read every 16 datagrams. "added_*" is the share the frames add
// to decoding a datagram in each case (with reads, all of the decoding happens during the
// capture); "vs_single_pass" compares the decoding read every 16 datagrams with one pass over
// the finished traces. Thread CPU times, the least of the rounds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <deque>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/frames/frame_decoder.h"

namespace {

// Line bits of the three data lines, one period at a time: cycle j is 24 idle periods, a poll
// {station, 0x30 | j} on the transmit line, 6 idle periods and an answer of 3 to 10 bytes on
// receive line 1 (even j) or 2 (odd j); X.25 check, least significant bit first, stuffed.
class PolledLink {
  public:
    std::array<std::uint8_t, 4> next() {
        if (pending_.empty()) {
            cycle();
        }
        const std::array<std::uint8_t, 4> p = pending_.front();
        pending_.pop_front();
        return p;
    }

  private:
    void idle(int n) {
        for (int i = 0; i < n; ++i) {
            pending_.push_back({1, 1, 1, 1});
        }
    }
    void send(int line, std::vector<std::uint8_t> bytes) {
        const std::uint16_t c = osc::crc16X25(bytes);
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
        std::vector<std::uint8_t> bits{0, 1, 1, 1, 1, 1, 1, 0};
        int ones = 0;
        for (const std::uint8_t b : bytes) {
            for (int k = 0; k < 8; ++k) {
                const std::uint8_t bit = (b >> k) & 1;
                bits.push_back(bit);
                ones = bit != 0 ? ones + 1 : 0;
                if (ones == 5) {
                    bits.push_back(0);
                    ones = 0;
                }
            }
        }
        bits.insert(bits.end(), {0, 1, 1, 1, 1, 1, 1, 0});
        for (const std::uint8_t bit : bits) {
            std::array<std::uint8_t, 4> p{1, 1, 1, 1};
            p[static_cast<std::size_t>(line)] = bit;
            pending_.push_back(p);
        }
    }
    void cycle() {
        const auto station = static_cast<std::uint8_t>(1 + j_ % 2);
        const auto control = static_cast<std::uint8_t>(0x30 | (j_ & 0x0F));
        idle(24);
        send(1, {station, control});
        idle(6);
        std::vector<std::uint8_t> answer{station, control};
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        const int extra = 1 + static_cast<int>((state_ >> 40) % 8);
        for (int k = 0; k < extra; ++k) {
            state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
            answer.push_back(static_cast<std::uint8_t>(state_ >> 56));
        }
        send(j_ % 2 == 0 ? 2 : 3, answer);
        ++j_;
    }

    std::deque<std::array<std::uint8_t, 4>> pending_;
    std::uint64_t j_ = 0;
    std::uint64_t state_ = 3;
};

// The traces of `periods` bit periods as a capture holds them before the stop: a point where a
// line changes, 128 ticks into its period, and the closing points.
osc::ChannelTraces linkTraces(std::uint64_t periods) {
    PolledLink link;
    osc::ChannelTraces traces;
    for (int c = 1; c < osc::kChannelCount; ++c) {
        traces[static_cast<std::size_t>(c)].add(
            0, osc::kChannels[static_cast<std::size_t>(c)].levelSet);
    }
    std::array<std::uint8_t, 4> last{};
    for (std::uint64_t p = 0; p < periods; ++p) {
        const std::array<std::uint8_t, 4> now = link.next();
        const osc::Tick x = static_cast<osc::Tick>(p + 1) * 256 + 128;
        for (int c = 1; c < osc::kChannelCount; ++c) {
            const auto i = static_cast<std::size_t>(c);
            if (p == 0 || now[i] != last[i]) {
                const osc::ChannelInfo& info = osc::kChannels[i];
                traces[i].add(x, now[i] != 0 ? info.levelClear : info.levelSet);
            }
        }
        last = now;
    }
    for (int c = 1; c < osc::kChannelCount; ++c) {
        osc::ChannelTrace& t = traces[static_cast<std::size_t>(c)];
        t.add(static_cast<osc::Tick>(periods + 1) * 256,
              t.y(static_cast<std::ptrdiff_t>(t.count() - 1)));
    }
    return traces;
}

// Sample datagrams of `periods` bit periods, 256 pairs each, as a device streams them: the
// strobe pair at time byte 0 with the data of the period before, the data pair at 128.
std::vector<std::vector<std::uint8_t>> linkDatagrams(std::uint64_t periods) {
    PolledLink link;
    std::vector<std::vector<std::uint8_t>> out;
    std::vector<std::uint8_t> d;
    std::uint8_t data = 0;
    for (std::uint64_t p = 0; p < periods; ++p) {
        if (d.empty()) {
            d = {0x23, 0x08, 0, 0, 0, 0, 0, 0};
        }
        const std::uint8_t strobe = p % 2 == 0 ? 0x04 : 0;
        d.push_back(static_cast<std::uint8_t>(strobe | data));
        d.push_back(0);
        const std::array<std::uint8_t, 4> bits = link.next();
        data = 0;
        for (int c = 1; c < osc::kChannelCount; ++c) {
            if (bits[static_cast<std::size_t>(c)] == 0) {
                data = static_cast<std::uint8_t>(
                    data | osc::kChannels[static_cast<std::size_t>(c)].statusBit);
            }
        }
        d.push_back(static_cast<std::uint8_t>(strobe | data));
        d.push_back(128);
        if (d.size() == 8 + 2 * 256) {
            out.push_back(std::move(d));
            d.clear();
        }
    }
    return out;
}

std::uint64_t decodeAll(const osc::ChannelTraces& traces) {
    osc::CaptureFrames frames;
    frames.setEnabled(true);
    frames.restart();
    frames.finish(traces);
    std::uint64_t good = 0;
    for (int c = 1; c < osc::kChannelCount; ++c) {
        good += frames.counts(c).good;
    }
    return good;
}

void BM_WholeCapture(benchmark::State& state) {
    const std::uint64_t periods = static_cast<std::uint64_t>(state.range(0));
    const osc::ChannelTraces traces = linkTraces(periods);
    std::size_t points = 0;
    for (const osc::ChannelTrace& t : traces) {
        points += t.count();
    }
    std::uint64_t frames = 0;
    for (auto _ : state) {
        frames = decodeAll(traces);
        benchmark::DoNotOptimize(frames);
    }
    state.counters["good_frames"] = static_cast<double>(frames);
    state.counters["points"] = static_cast<double>(points);
    state.counters["points/s"] =
        benchmark::Counter(static_cast<double>(points) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WholeCapture)->Arg(30'000'000)->Unit(benchmark::kMillisecond)->Iterations(5);

// CPU time of this thread: the machine is shared, so time spent waiting for a core is left out.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_Live(benchmark::State& state) {
    const std::vector<std::vector<std::uint8_t>> stream = linkDatagrams(1'024'000);
    // Frames read every this many datagrams (0: not until the stop): 780 is the frames tab's
    // refresh every 200 ms at 1 Mbit/s, 16 a reader far more eager than the window.
    const std::array<std::size_t, 4> readEvery{0, 0, 780, 16};
    const std::array<bool, 4> withFrames{false, true, true, true};
    // The least time of each mode over the rounds (the rounds take turns, so that a busy
    // spell of the machine does not fall on one mode only).
    std::array<double, 4> least{1e9, 1e9, 1e9, 1e9};
    double single = 1e9;
    for (auto _ : state) {
        for (std::size_t mode = 0; mode < least.size(); ++mode) {
            osc::CaptureEngine engine;
            engine.frames.setEnabled(withFrames[mode]);
            engine.resetTimeBase();
            engine.restartTraces();
            std::size_t k = 0;
            const double t0 = threadSeconds();
            for (const auto& d : stream) {
                engine.decodeDatagram(d);
                if (readEvery[mode] != 0 && ++k % readEvery[mode] == 0) {
                    benchmark::DoNotOptimize(engine.frames.counts(1));
                }
            }
            least[mode] = std::min(least[mode], threadSeconds() - t0);
            if (mode == least.size() - 1) {
                engine.closeTraces();
                engine.frames.finish(engine.traces);
                benchmark::DoNotOptimize(engine.frames.counts(1));
                const double t2 = threadSeconds();
                benchmark::DoNotOptimize(decodeAll(engine.traces));
                single = std::min(single, threadSeconds() - t2);
            }
        }
    }
    const double plain = least[0];
    state.counters["datagram_us"] = plain / static_cast<double>(stream.size()) * 1e6;
    state.counters["added_unread"] = (least[1] - plain) / plain;
    state.counters["added_timer"] = (least[2] - plain) / plain;
    state.counters["added_16"] = (least[3] - plain) / plain;
    state.counters["vs_single_pass"] = (least[3] - plain) / single;
}
BENCHMARK(BM_Live)->Unit(benchmark::kMillisecond)->Iterations(12);

}  // namespace

BENCHMARK_MAIN();
