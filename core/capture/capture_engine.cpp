#include "core/capture/capture_engine.h"

#include <algorithm>
#include <vector>

#include "core/files/osc_file.h"
#include "core/files/osc_read_ahead.h"
#include "core/trace/trace_completion.h"

namespace osc {

CaptureEngine::CaptureEngine() {
    for (ChannelTrace* line : {&markerLine, &cursorLine}) {
        line->add(0, 0);
        line->add(1, 0);
    }
}

DatagramKind CaptureEngine::decodeDatagram(std::span<const std::uint8_t> data) {
    const DatagramKind kind = osc::decodeDatagram(state, data, traces);
    if (kind == DatagramKind::Sample) {
        // Only a time base past the window asks for the largest X (six series to look at).
        if (static_cast<double>(state.FTimeBase) > window.maximum()) {
            followTimeBase(window, state.FTimeBase, largestX());
        }
        frames.follow(traces, state.FTimeBase);
    }
    return kind;
}

void CaptureEngine::restartTraces() {
    for (int c = 0; c < kChannelCount; ++c) {
        ChannelTrace& trace = traces[static_cast<std::size_t>(c)];
        trace.clear();
        trace.add(0, kChannels[static_cast<std::size_t>(c)].levelSet);
    }
    frames.restart();
}

void CaptureEngine::closeTraces() {
    for (int c = 0; c < kChannelCount; ++c) {
        traces[static_cast<std::size_t>(c)].add(state.FTimeBase, levelFor(c, state.FLastStatus));
    }
}

std::uint64_t CaptureEngine::completeTraces(
    const std::function<void(std::uint64_t steps)>& progress) {
    std::uint64_t total = 0;
    frames.finish(traces);
    for (int c = 1; c < kChannelCount; ++c) {
        const std::uint64_t steps = CompleteTrace(traces[static_cast<std::size_t>(c)]);
        total += steps;
        if (progress) {
            progress(steps);
        }
    }
    return total;
}

double CaptureEngine::largestX() const {
    double largest = -1e300;
    for (const ChannelTrace& trace : traces) {
        if (!trace.empty()) {
            largest = std::max(largest, static_cast<double>(trace.lastX()));
        }
    }
    for (const ChannelTrace* line : {&markerLine, &cursorLine}) {
        for (const TracePoint p : line->storedPoints()) {  // a completion point lies inside
            largest = std::max(largest, static_cast<double>(p.x));
        }
    }
    return largest;
}

void CaptureEngine::replayOscText(std::string_view text, const std::function<void()>& onDatagram) {
    resetTimeBase();
    restartTraces();
    OscReader reader(text);
    std::vector<std::uint8_t> datagram;
    while (reader.next(datagram)) {
        decodeDatagram(datagram);
        if (onDatagram) {
            onDatagram();
        }
    }
    closeTraces();
    completeTraces();
}

void CaptureEngine::replayOscFile(const std::filesystem::path& path,
                                  const std::function<void()>& onDatagram) {
    OscFileReader reader(path);
    resetTimeBase();
    restartTraces();
    {
        OscReadAhead ahead(reader);
        std::span<const std::uint8_t> datagram;
        while (ahead.next(datagram)) {
            decodeDatagram(datagram);
            if (onDatagram) {
                onDatagram();
            }
        }
    }
    closeTraces();
    completeTraces();
}

}  // namespace osc
