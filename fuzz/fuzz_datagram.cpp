// Feeds a sequence of datagrams through the capture engine, then closes and completes the
// traces, checking what must hold whatever arrives.
//
// Input: a state byte (the last status carried over from an earlier capture), then records of
// a two-byte little-endian length (taken modulo 8193) followed by that many bytes, cut short at
// the end of the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/capture/capture_engine.h"

namespace {

void fail(int line) {
    std::fprintf(stderr, "check failed at line %d\n", line);
    std::abort();
}
#define check(ok) ((ok) ? (void)0 : fail(__LINE__))

void checkOrdered(const osc::ChannelTrace& trace) {
    osc::Tick last = INT64_MIN;
    for (const osc::TracePoint p : trace.points()) {
        check(last <= p.x);
        last = p.x;
    }
}

// Points the completed trace would hold; kept bounded so that one input cannot take seconds
// (or, with huge time base jumps, gigabytes).
std::size_t completedSize(const osc::ChannelTrace& trace) {
    std::size_t added = 0;
    for (std::size_t i = 1; i < trace.count(); ++i) {
        const osc::Tick d = trace.x(i) - trace.x(i - 1);
        if (d > osc::kTicksPerBit) {
            added += static_cast<std::size_t>((d - 1) / osc::kTicksPerBit);
        }
    }
    return added + trace.count();
}

// The decoding pair by pair, as plainly as it can be written: the time base, the last strobe
// and status, and the number of points each channel gets.
struct PlainDecoder {
    osc::Tick timeBase = 0;
    int lastStrobe = 0;
    std::uint8_t lastStatus = 0;
    std::size_t points[osc::kChannelCount] = {};

    void feed(std::span<const std::uint8_t> d) {
        if (d.size() < 2 || d[0] != 0x23 || (d[1] != 0x08 && d[1] != 0x09)) {
            return;
        }
        for (std::size_t k = 0; 9 + 2 * k < d.size(); ++k) {
            const std::uint8_t s = d[8 + 2 * k];
            const std::uint8_t t = d[9 + 2 * k];
            if (t == 0 && (s & 0x04) != lastStrobe) {
                timeBase += osc::kTicksPerBit;
            }
            lastStrobe = s & 0x04;
            for (int c = 0; c < osc::kChannelCount; ++c) {
                const std::uint8_t bit = osc::kChannels[static_cast<std::size_t>(c)].statusBit;
                if ((s & bit) != (lastStatus & bit)) {
                    ++points[c];
                }
            }
            lastStatus = s;
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    osc::CaptureEngine engine;
    std::span<const std::uint8_t> in(data, size);
    if (!in.empty()) {
        engine.state.FLastStatus = in[0];
        // Bit 0 of the state byte sets a strobe that disagrees with the status, as the fields
        // allow.
        engine.state.FLastStrobe = (in[0] ^ (in[0] << 2)) & 0x04;
        in = in.subspan(1);
    }
    engine.resetTimeBase();
    engine.restartTraces();
    PlainDecoder plain;
    plain.lastStatus = engine.state.FLastStatus;
    plain.lastStrobe = engine.state.FLastStrobe;

    while (in.size() >= 2) {
        std::size_t length = (in[0] | (static_cast<std::size_t>(in[1]) << 8)) % 8193;
        in = in.subspan(2);
        if (length > in.size()) {
            length = in.size();
        }
        const osc::Tick before = engine.state.FTimeBase;
        const auto datagram = in.first(length);
        in = in.subspan(length);
        const osc::DatagramKind kind = engine.decodeDatagram(datagram);
        plain.feed(datagram);
        check(engine.state.FTimeBase == plain.timeBase);
        check(engine.state.FLastStatus == plain.lastStatus);
        check(engine.state.FLastStrobe == plain.lastStrobe);
        const osc::Tick after = engine.state.FTimeBase;
        check(after >= before);
        check(after - before <= osc::kTicksPerBit * static_cast<osc::Tick>(length / 2));
        if (kind != osc::DatagramKind::Sample) {
            check(after == before);
        }
        check(engine.window.maximum() - engine.window.minimum() == 25600);
        for (const osc::ChannelTrace& trace : engine.traces) {
            check(!trace.empty() && trace.lastX() <= after + 255);
        }
    }

    for (int c = 0; c < osc::kChannelCount; ++c) {
        check(engine.traces[static_cast<std::size_t>(c)].count() == 1 + plain.points[c]);
    }
    engine.closeTraces();
    std::size_t cost = 0;
    for (const osc::ChannelTrace& trace : engine.traces) {
        checkOrdered(trace);
        check(trace.lastX() >= engine.state.FTimeBase && trace.locate(engine.state.FTimeBase) >= 0);
        cost += completedSize(trace);
    }
    if (cost > 1'000'000) {
        return 0;
    }
    osc::ChannelTrace strobe = engine.traces[0];
    engine.completeTraces();
    check(engine.traces[0].count() == strobe.count());
    for (int c = 1; c < osc::kChannelCount; ++c) {
        const osc::ChannelTrace& trace = engine.traces[static_cast<std::size_t>(c)];
        checkOrdered(trace);
        check(!trace.hidden());
        for (std::size_t i = 1; i < trace.count(); ++i) {
            check(trace.x(i) - trace.x(i - 1) <= osc::kTicksPerBit);
        }
    }
    return 0;
}
