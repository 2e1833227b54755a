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

#include "core/capture_engine.h"

namespace {

void fail(int line) {
    std::fprintf(stderr, "check failed at line %d\n", line);
    std::abort();
}
#define check(ok) ((ok) ? (void)0 : fail(__LINE__))

void checkOrdered(const osc::ChannelTrace& trace) {
    const auto xs = trace.xs();
    for (std::size_t i = 1; i < xs.size(); ++i) {
        check(xs[i - 1] <= xs[i]);
    }
}

// Points the completed trace would hold; kept bounded so that one input cannot take seconds
// (or, with huge time base jumps, gigabytes).
std::size_t completedSize(const osc::ChannelTrace& trace) {
    const auto xs = trace.xs();
    std::size_t added = 0;
    for (std::size_t i = 1; i < xs.size(); ++i) {
        const osc::Tick d = xs[i] - xs[i - 1];
        if (d > osc::kTicksPerBit) {
            added += static_cast<std::size_t>((d - 1) / osc::kTicksPerBit);
        }
    }
    return added + xs.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    osc::CaptureEngine engine;
    std::span<const std::uint8_t> in(data, size);
    if (!in.empty()) {
        engine.state.FLastStatus = in[0];
        engine.state.FLastStrobe = in[0] & 0x04;
        in = in.subspan(1);
    }
    engine.resetTimeBase();
    engine.restartTraces();

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
        const osc::Tick after = engine.state.FTimeBase;
        check(after >= before);
        check(after - before <= osc::kTicksPerBit * static_cast<osc::Tick>(length / 2));
        check(engine.state.FLastStrobe == (engine.state.FLastStatus & 0x04));
        if (kind != osc::DatagramKind::Sample) {
            check(after == before);
        }
        check(engine.window.maximum() - engine.window.minimum() == 25600);
        for (const osc::ChannelTrace& trace : engine.traces) {
            check(!trace.empty() && trace.lastX() <= after + 255);
        }
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
    check(engine.traces[0].xs().size() == strobe.xs().size());
    for (int c = 1; c < osc::kChannelCount; ++c) {
        const osc::ChannelTrace& trace = engine.traces[static_cast<std::size_t>(c)];
        checkOrdered(trace);
        check(!trace.hidden());
        const auto xs = trace.xs();
        for (std::size_t i = 1; i < xs.size(); ++i) {
            check(xs[i] - xs[i - 1] <= osc::kTicksPerBit);
        }
    }
    return 0;
}
