#include "core/capture_engine.h"

#include <algorithm>
#include <vector>

#include "core/osc_file.h"
#include "core/trace_completion.h"

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
        followTimeBase(window, state.FTimeBase, largestX());
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

void CaptureEngine::completeTraces(const std::function<void()>& progressStep) {
    frames.finish(traces);
    for (int c = 1; c < kChannelCount; ++c) {
        CompleteTrace(traces[static_cast<std::size_t>(c)], progressStep);
    }
    // The completed traces are built to size; the strobe, which is not completed, grew by
    // doubling during the capture.
    traces[0].shrinkToFit();
}

double CaptureEngine::largestX() const {
    double largest = -1e300;
    for (const ChannelTrace& trace : traces) {
        if (!trace.empty()) {
            largest = std::max(largest, static_cast<double>(trace.lastX()));
        }
    }
    for (const ChannelTrace* line : {&markerLine, &cursorLine}) {
        for (const TracePoint p : line->points()) {
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

}  // namespace osc
