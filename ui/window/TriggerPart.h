#pragma once
// The trigger panel, the tab "Триггеры": a condition (the frames' filter language, or
// "silent(LINE) > SPAN", or "loss"), the windows before and after an event ("До", "После",
// seconds or bits), the mode ("Отметить", "Остановить", "Сохранять каждое" into a folder) and
// the capture's length ("Длительность"), then the events of the capture: time (as the readouts
// write positions), kind and frame. A click on an event moves the plot to it; a double click
// (or Enter) also shows the plot. The events are marked on the traces and the overview strip:
// at most one mark a pixel column, found by binary search, so a paint costs the width.
//
// The fields are taken at each start of a capture (a replay runs no triggers); a wrong one is
// marked, its message as the tooltip, and the capture then runs without triggers (the panel
// says why). The duration stops any capture, triggers on or off. The part owns the triggers
// over the window's engine (osc::CaptureTriggers) and is told of each start, stop and decoded
// datagram; it evaluates the conditions every kEvaluateMs while a capture runs, and asks for
// the stop (stopRequested) from there, never from inside a datagram's handler.
//
// Actions on the window: "Триггеры" (Ctrl+T, the tab), "Триггер включён" (Ctrl+Shift+T),
// "Папка событий…" (Ctrl+Shift+D), "Следующее событие" (F8), "Предыдущее событие" (Shift+F8).

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/capture/capture_stats.h"
#include "core/capture/capture_triggers.h"
#include "core/view/plot_mapping.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPainter;
class QTableView;
class QWidget;

namespace ui {

class FormStorage;
class PlotState;
class TriggerEventsModel;

class TriggerPart : public QObject {
    Q_OBJECT
  public:
    struct Sources {
        std::function<std::int64_t()> clockMs = {};  // a steady clock, milliseconds
        std::function<std::int64_t()> wallMs = {};   // milliseconds since 1970, for file names
        std::function<std::uint64_t()> receiverDrops = {};  // the endpoint's drops so far
        std::function<QString()> chooseFolder = {};         // none: a folder dialog
    };
    static constexpr int kEvaluateMs = 20;

    // window: the actions' parent (their keys work wherever its focus is) and the dialogs'.
    // The bit rate (spans in seconds, rt_ms, the list's times) follows the plot state's. Empty
    // clocks: the steady clock and the system clock.
    TriggerPart(const osc::CaptureEngine& engine, const PlotState& plot, QWidget* window,
                Sources sources);
    ~TriggerPart() override;

    QWidget* page() const { return page_; }
    QList<QAction*> actions() const { return actions_; }
    // The fields under names of their own ("edTriggerCondition_Text", ...).
    void storeSettingsIn(FormStorage& storage);

    // What the window tells it.
    void started(bool replay);
    void stopped();
    void datagramDecoded(std::span<const std::uint8_t> datagram, osc::DatagramKind kind);
    void setBitRate(std::optional<double> rate);
    // The conditions over what was decoded since the last call, the losses, the stop due: what
    // the timer runs.
    void evaluateNow();

    // The fields as settings, or the first wrong field's message (the field is marked).
    std::optional<osc::CaptureTriggerSettings> settingsFromFields(QString* error = nullptr);
    // The duration from the field: none for an empty field or 0.
    std::optional<std::int64_t> durationMs() const;

    const osc::CaptureTriggers& triggers() const { return triggers_; }
    bool armed() const { return triggers_.active(); }
    // The position an event is shown at: a frame's start, otherwise when it happened.
    static osc::Tick eventTick(const osc::TriggerEvent& e);
    // The event of the list's row (as the events() of the triggers); -1 for none.
    void chooseEvent(int row);
    void nextEvent(int direction);  // the first event right (left) of the window's centre

    // The marks of the events: on the plot a small flag at the top and a faint line, on the
    // overview strip (strip) a short tick.
    void paintMarks(QPainter& p, const osc::PlotMapping& m, bool strip) const;

  signals:
    void eventsChanged();
    void stopRequested();       // Stop mode's window has passed, or the duration
    void goTo(osc::Tick tick);  // centre the plot on the tick
    void plotWanted();          // the plot's tab to the front
    void pageWanted();          // the panel's tab to the front

  private:
    QAction* make(const char* name, const QString& caption, const QKeySequence& key,
                  std::function<void()> run);
    void buildPage();
    void checkFields();
    void chooseFolder();
    void requestStop();
    void showState(const QString& text, bool wrong = false);
    void addEvents(const std::vector<osc::CaptureEvent>& events);
    std::string eventFileName(std::int64_t receivedMs) const;

    const osc::CaptureEngine& engine_;
    QWidget* window_;
    Sources sources_;
    osc::CaptureTriggers triggers_;
    osc::CaptureStats stats_;
    osc::DecoderState before_;  // the engine's state before the next datagram
    std::uint64_t breaksSeen_ = 0;
    std::optional<double> bitRate_;
    bool capturing_ = false;
    bool stopAsked_ = false;
    std::int64_t startedMs_ = 0;
    std::optional<std::int64_t> durationMs_;  // of the running capture
    std::vector<osc::Tick> marks_;            // the events' ticks, in order
    QTimer timer_;

    QWidget* page_ = nullptr;
    QCheckBox* on_ = nullptr;
    QLineEdit* condition_ = nullptr;
    QLineEdit* pre_ = nullptr;
    QLineEdit* post_ = nullptr;
    QComboBox* mode_ = nullptr;
    QLineEdit* duration_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QLabel* state_ = nullptr;
    QTableView* table_ = nullptr;
    TriggerEventsModel* model_ = nullptr;
    QList<QAction*> actions_;
};

}  // namespace ui
