#pragma once
// The last captures, kept so that nothing is lost between captures:
//
//   "Сохранить захват…"   Ctrl+Alt+S    the capture on screen as an oscillogram file, from its
//                                       journal (whether or not tracing was on); a replayed
//                                       file is copied as it is
// both in the menu of the button "Захваты" at the right of the status bar, and
//   "Последние захваты…"  Ctrl+Shift+L  the kept captures (start, device, length, datagrams,
//                                       size): replay one, save one, remove one, and how many
//                                       are kept (the last 10 and at most 2 GB unless set)
//
// The captures themselves are kept by the acquisition (osc::RecentCaptures); the limits live in
// the section "RecentCaptures" under the main window's key of the settings store.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "core/files/recent_captures.h"

class QAction;
class QDialog;
class QStatusBar;
class QWidget;

namespace ui {

class MessageSink;

class RecentCapturesPart : public QObject {
    Q_OBJECT
  public:
    struct Collaborators {
        // The capture on screen, as its journal holds it; nothing when none.
        std::function<std::optional<osc::KeptCapture>()> captureOnScreen;
        // The file on screen after a load (empty for none).
        std::function<QString()> fileOnScreen;
        // Replays a kept capture's file as a load does; may throw.
        std::function<void(const QString&)> replay;
        // The save file dialog for oscillogram files; the chosen name, or empty. None: the
        // oscillogram file dialog (SaveDialog1) over the window.
        std::function<QString()> chooseSaveFile = {};
    };

    static QString section() { return QStringLiteral("RecentCaptures"); }

    // folder: where the captures are kept (osc::defaultRecentCapturesFolder()).
    RecentCapturesPart(QWidget* window, const QString& key, MessageSink& messages,
                       std::filesystem::path folder, Collaborators collaborators);
    ~RecentCapturesPart() override;

    osc::RecentCaptures& captures() { return *captures_; }
    QAction* saveAction() const { return actSave_; }
    QAction* listAction() const { return actList_; }
    // A button "Захваты" at the right of the status bar with both actions in its menu.
    void addButton(QStatusBar* bar);

    // "Сохранить захват…": true when a file was written.
    bool saveCaptureOnScreen();
    // Writes one kept capture (or any .osc) into a file the user chooses; true when written.
    bool saveCapture(const osc::KeptCapture& capture);
    // "Последние захваты…": the list as a modal dialog.
    void showList();
    // The limits from the dialog's fields, stored and applied.
    void setLimits(osc::RecentCaptureLimits limits);

    // "09.12.2026 21:40:12", "1 мин 05 с"
    static QString timeText(std::int64_t secondsSince1970);
    static QString durationText(std::int64_t seconds);

    static constexpr const char* kListDialog = "dlgRecentCaptures";
    static constexpr const char* kList = "lstRecentCaptures";

  private:
    void fillList(QDialog& dialog);

    QWidget* window_;
    QString key_;
    MessageSink& messages_;
    Collaborators collaborators_;
    std::unique_ptr<osc::RecentCaptures> captures_;
    QAction* actSave_ = nullptr;
    QAction* actList_ = nullptr;
};

}  // namespace ui
