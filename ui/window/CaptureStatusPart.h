#pragma once
// The status bar at the bottom of the main window: what the capture is doing ("Ожидание",
// "Захват", "Воспроизведение", "Останов"), for how long, how many datagrams and bytes it has
// received, and the losses that can be told (osc::CaptureStats: breaks of the sample stream,
// and datagrams dropped by this computer). The counts are taken with every datagram and shown
// twice a second, so that a fast stream does not lay the bar out once per datagram.
//
// Besides: "Чужие: N", the datagrams of other senders than the chosen device (the last sender in
// the tooltip); "Не показаны: N", the sample datagrams that the device sent while the plot
// showed a file (shown only while not 0; another sender's datagram is counted as "Чужие" alone,
// never in both); "Устройство молчит" while the device has sent nothing for 2 s of a capture; what
// the plot shows (a file, or the device and the capture's start); and the action "Приём
// посылок…" (Ctrl+Shift+R, a button at the bar's end) with its dialog: the address to listen on
// and whether datagrams of any sender are taken.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "core/capture/capture_stats.h"
#include "core/protocol/datagram.h"
#include "ui/window/ReceptionSettings.h"

class QAction;
class QLabel;
class QStatusBar;

namespace ui {

class CaptureStatusPart : public QObject {
    Q_OBJECT
  public:
    enum class State { Idle, Capturing, Replaying, Stopped };

    // Datagrams of other senders than the chosen device since the start.
    struct ForeignDatagrams {
        std::uint64_t count = 0;
        std::optional<osc::PeerAddress> last;
        bool taken = false;  // any sender is accepted: they went into the capture
    };

    struct Collaborators {
        std::function<std::int64_t()> clockMs;         // a steady clock; none: ui::steadyClockMs
        std::function<std::uint64_t()> receiverDrops;  // the endpoint's drops so far
        std::function<ForeignDatagrams()> foreign = {};
        std::function<bool()> deviceSilent = {};  // none: never
    };

    // Puts its fields into bar.
    CaptureStatusPart(QStatusBar* bar, Collaborators collaborators);

    void started(bool replay);  // the start action ran (a replay's, when replay)
    void stopped();             // the stop action ran
    void datagram(std::span<const std::uint8_t> data, osc::DatagramKind kind);
    // Sample datagrams from the network left off the plot while it shows a file: "Не показаны:
    // N", hidden while 0.
    void setNotShown(std::uint64_t count);
    // What the plot shows: the file's name (its path in the tooltip), or the device and the
    // capture's start time; empty for nothing.
    void setShown(const QString& text, const QString& tip);
    QString shownText() const;
    // A replay began: "Файл: NAME" (the path in the tooltip), or "Журнал захвата" for none.
    void showFile(const QString& path);
    // A capture began: the device's entry (or address) and the time now; none: no device.
    void showCapture(const QString& device);
    // The fields from the counts now (also done by its timer while the window lives).
    void refresh();

    // The action "Приём посылок…" and its button; the stored settings (under key) are announced
    // at once (receptionChanged) and after each change.
    void addReceptionSettings(const QString& key);
    // The action's handler: the dialog, then the settings stored and announced.
    void editReception();
    const ReceptionSettings& reception() const { return reception_; }
    QAction* receptionAction() const { return receptionAction_; }

    State state() const { return state_; }
    const osc::CaptureStats& stats() const { return stats_; }
    static QString stateText(State state);

  signals:
    void receptionChanged(const ui::ReceptionSettings& settings);

  private:
    QLabel* field(QStatusBar* bar, const char* name, const QString& tip);

    Collaborators collaborators_;
    osc::CaptureStats stats_;
    State state_ = State::Idle;
    QTimer timer_;
    QLabel* stateField_ = nullptr;
    QLabel* elapsedField_ = nullptr;
    QLabel* datagramsField_ = nullptr;
    QLabel* bytesField_ = nullptr;
    QLabel* lostField_ = nullptr;
    QLabel* foreignField_ = nullptr;
    QLabel* notShownField_ = nullptr;
    QLabel* silenceField_ = nullptr;
    QLabel* shownField_ = nullptr;
    QStatusBar* bar_ = nullptr;
    QAction* receptionAction_ = nullptr;
    QString receptionKey_;
    ReceptionSettings reception_;
};

}  // namespace ui
