#pragma once
// The status bar at the bottom of the main window: what the capture is doing ("Ожидание",
// "Захват", "Воспроизведение", "Останов"), for how long, how many datagrams and bytes it has
// received, and the losses that can be told (osc::CaptureStats: breaks of the sample stream,
// and datagrams dropped by this computer). The counts are taken with every datagram and shown
// twice a second, so that a fast stream does not lay the bar out once per datagram.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <span>

#include "core/capture/capture_stats.h"

class QLabel;
class QStatusBar;

namespace ui {

class CaptureStatusPart : public QObject {
    Q_OBJECT
  public:
    enum class State { Idle, Capturing, Replaying, Stopped };

    struct Sources {
        std::function<std::int64_t()> clockMs;         // a steady clock
        std::function<std::uint64_t()> receiverDrops;  // the endpoint's drops so far
    };

    // Puts its fields into bar.
    CaptureStatusPart(QStatusBar* bar, Sources sources);

    void started(bool replay);  // the start action ran (a replay's, when replay)
    void stopped();             // the stop action ran
    void datagram(std::span<const std::uint8_t> data, osc::DatagramKind kind);
    // The fields from the counts now (also done by its timer while the window lives).
    void refresh();

    State state() const { return state_; }
    const osc::CaptureStats& stats() const { return stats_; }
    static QString stateText(State state);

  private:
    QLabel* field(QStatusBar* bar, const char* name, const QString& tip);

    Sources sources_;
    osc::CaptureStats stats_;
    State state_ = State::Idle;
    QTimer timer_;
    QLabel* stateField_ = nullptr;
    QLabel* elapsedField_ = nullptr;
    QLabel* datagramsField_ = nullptr;
    QLabel* bytesField_ = nullptr;
    QLabel* lostField_ = nullptr;
};

}  // namespace ui
