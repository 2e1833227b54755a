#pragma once
// What the plot shows besides the traces: the window (osc::PlotWindow, held by the capture
// engine, whose decoder moves it forward), the marker and cursor positions and the bit rate;
// and who follows a change of the window, which depends on who made it. The window's
// ui::PlotState owns these and announces every change; the views only follow.

#include <optional>

namespace osc {

// Who moved the window.
enum class WindowChange {
    // The newest data passed the right edge: shifted, the width kept.
    Decoder,
    // The start action: 0 to "Бит в окне" bits.
    CaptureStart,
    // "Бит в окне" changed (by the user or the stored settings): the left edge kept.
    BitCount,
    // The scroll bar moved: the whole width kept.
    ScrollBar,
    // A drag or the wheel on the plot, or a mouse zoom undone.
    Mouse,
    // Moved to a place: the keys, the tool bar, the overview strip, a frame.
    Action,
};

// Who follows a change of the window besides the plot, which always repaints.
struct WindowFollowers {
    // The scroll bar takes range and position from the window. It does not after the mouse,
    // the start action or "Бит в окне" (the next sample datagram brings it into line), nor
    // after itself; after the decoder it is brought into line with every sample datagram,
    // whether the window moved or not.
    bool scrollBar = false;
    // "Бит в окне" shows the width (windowBitsOf) without running its change handler: after
    // every change that it did not make itself.
    bool bitCount = false;
    // The plot repaints at the pace of arriving data rather than that of the user's moves.
    bool dataPace = false;
};

WindowFollowers followersOf(WindowChange change);

// The marker and cursor positions and the bit rate, as the readouts and the exports use them.
struct PlotMarks {
    double markerX = 0;  // FMarkerX, in ticks: 0 means no marker
    double cursorX = 0;  // FCursorX, in ticks: -1 means no position
    // Bits per second of the line, when known: the readouts and the axis add times.
    std::optional<double> bitRate;

    bool operator==(const PlotMarks&) const = default;
};

}  // namespace osc
