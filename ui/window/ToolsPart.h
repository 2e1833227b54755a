#pragma once
// The window's tools for pictures, exports, files and units, with their actions and the three
// tool bar buttons after the status panel:
//
//   Изображение и экспорт (menu)  "Сохранить изображение…" Ctrl+Shift+S,
//                                 "Копировать изображение" Ctrl+Shift+C, "Экспорт…" Ctrl+E
//   Последние файлы (menu)        Ctrl+Shift+O; the keys 1 to 9 pick an entry of the open menu
//   Скорость линии…               Ctrl+B
//
// and an oscillogram file dropped on the window, which is replayed as the load action does
// after its dialog. The recent files and the bit rate live in sections of their own under the
// main window's key of the settings store.

#include <QKeySequence>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

#include "core/capture/capture_engine.h"
#include "core/files/trace_export.h"
#include "ui/plot/PlotPicture.h"
#include "ui/window/RecentFiles.h"

class QAction;
class QMenu;
class QToolButton;
class QWidget;
class OscPlot;

namespace ui {

class MessageSink;
class PlotState;

// A picture's header: the program, what the plot shows (shown, may be empty) and the time now,
// then the readouts' lines.
QStringList pictureHeaderLines(const QString& program, const QString& shown,
                               const QStringList& readouts);

class ToolsPart : public QObject {
    Q_OBJECT
  public:
    struct Collaborators {
        // Replays a file as the load action does after its dialog (LoadOscFile); may throw.
        std::function<void(const QString&)> openFile;
        // The lines of a picture's header: the device, file or capture time, the readouts, the
        // decoded line. None if empty.
        std::function<QStringList()> pictureHeader = {};
    };

    // The section names under the main window's key.
    static QString recentSection() { return QStringLiteral("RecentFiles"); }
    static QString readoutSection() { return QStringLiteral("Readouts"); }
    static QString pictureSection() { return QStringLiteral("Picture"); }

    // plotState: the marker and cursor (the stretch to export) and the bit rate, which the part
    // sets from the store at once and after its dialog.
    ToolsPart(QWidget* window, const QString& key, OscPlot* plot, PlotState& plotState,
              osc::CaptureEngine& engine, MessageSink& messages, Collaborators collaborators);

    // The three buttons, 21 pixels apart from x on, on the tool bar row.
    void addButtons(QWidget* toolBar, int x);

    // The actions' handlers.
    void savePicture();      // the picture dialog, then the file
    void copyPicture();      // the plot at its size to the clipboard
    void exportTraces();     // the export dialog, then the file with progress
    void editBitRate();      // the bit rate dialog
    void showRecentFiles();  // pops the recent files menu up under its button

    // The window is closing: an export running ends at its next step, leaving no file.
    void windowClosing() { closing_ = true; }

    // A file was opened or saved: it becomes the first recent file.
    void fileUsed(const QString& path);
    // Replays a recent or dropped file; one that cannot be opened leaves the list.
    void openFile(const QString& path);

    std::optional<double> bitRate() const;
    void setBitRate(std::optional<double> rate);  // stored, and the view state told
    // The pictures' header and light colours, as last chosen (stored).
    bool pictureHeader() const { return pictureHeader_; }
    bool pictureLight() const { return pictureLight_; }
    void setPictureLook(bool header, bool light);
    // The look of a picture now: the stored choices and the header's lines.
    PictureLook pictureLook() const;
    RecentFiles& recentFiles() { return recent_; }
    QMenu* recentMenu() const { return recentMenu_; }
    // Fills the recent files menu as it is about to show (missing files dropped first).
    void rebuildRecentMenu();

    // Where a dialog starts: the folder written to last (else that of the last file opened,
    // else the documents folder), the name of the last file opened (else "осциллограмма"),
    // and the extension used last in that dialog (else `extension`).
    QString suggestedFile(const QString& lastInDialog, const QString& extension) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createActions();

    QWidget* window_;
    QString key_;
    OscPlot* plot_;
    PlotState& plotState_;
    osc::CaptureEngine& engine_;
    MessageSink& messages_;
    Collaborators collaborators_;
    bool closing_ = false;  // the window is closing: a long export stops
    bool pictureHeader_ = false;
    bool pictureLight_ = false;
    RecentFiles recent_;
    QString lastPicture_;
    QString lastExport_;
    QString lastFolder_;  // the folder of the last picture or export

    QAction* actSavePicture_ = nullptr;
    QAction* actCopyPicture_ = nullptr;
    QAction* actExport_ = nullptr;
    QAction* actRecentFiles_ = nullptr;
    QAction* actBitRate_ = nullptr;
    QMenu* outputMenu_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    QPointer<QToolButton> recentButton_;
};

// The tooltip of an action: its text without the dots and its key, "Экспорт (Ctrl+E)".
QString toolTipWithKey(const QString& text, const QKeySequence& key);

}  // namespace ui
