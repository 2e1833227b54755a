#pragma once
// The session of the capture on screen: named markers, bookmarks with notes, the channels'
// names, colours and visibility, kept with the view, marker, cursor and the decoder's and
// frames' options in NAME.osc.session beside the capture (core/files/session_file.h).
//
//   Ctrl+1 … Ctrl+9      drop named marker N at the cursor (again: moved there)
//   1 … 9                jump to named marker N (the window centred on it)
//   "Закладка…"          Ctrl+D        a bookmark with a note at the cursor
//   "Метки и закладки…"  Ctrl+Shift+M  the list of both: jump to one, remove one
//   "Линии…"             Ctrl+Shift+N  the channels' names, colours and visibility
//   "Сохранить сеанс"    Ctrl+Shift+E  the session file beside the file on screen
//
// Loading an .osc restores its session when one is there; a start or another load begins an
// empty one. The named markers and bookmarks are drawn on the plot (paint, from its overlay).

#include <QColor>
#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <vector>

#include "core/files/session_file.h"
#include "core/view/plot_mapping.h"

class QAction;
class QPainter;
class QWidget;

namespace ui {

class MessageSink;

class SessionPart : public QObject {
    Q_OBJECT
  public:
    struct Hooks {
        std::function<QString()> captureFile;  // the file on screen; empty for none
        std::function<double()> cursorX;       // -1: no cursor
        std::function<void(double tick)> centreOn;
        // The window's own part of a session (view, marker, cursor, decoder, frames) and its
        // restoring.
        std::function<osc::Session()> collectView;
        std::function<void(const osc::Session&)> applyView;
        std::function<void()> changed;  // markers, bookmarks or channels changed: repaint
        std::function<QString(osc::Tick)> positionText;
    };

    SessionPart(QWidget* window, MessageSink& messages, Hooks hooks);

    void dropMarker(int key);  // at the cursor
    void jumpTo(int key);
    // A bookmark with a note at the cursor; the note asked for unless given.
    void addBookmark(const QString& note = {}, bool ask = true);
    void showList();
    void editChannels();
    // The session file beside the file on screen; false (after a message) without one.
    bool save();
    // After a load of file: its session restored when there is one (a newer or broken one is
    // refused with a message and the view stays as the load left it).
    void restoreFor(const QString& file);
    void clear();  // a start or a load: an empty session

    osc::Session session() const;  // as it would be saved now
    const std::vector<osc::NamedMarker>& markers() const { return markers_; }
    const std::vector<osc::Bookmark>& bookmarks() const { return bookmarks_; }
    // The channels' names (empty: the standard ones), colours (invalid: standard) and
    // visibility.
    QString channelName(int channel) const;
    QColor channelColour(int channel) const;
    bool channelVisible(int channel) const;
    void setChannel(int channel, const osc::SessionChannel& look);

    void paint(QPainter& p, const osc::PlotMapping& m) const;

    // The message for a session file of a newer version.
    static QString newerVersionText(const QString& file, int version);

  private:
    QAction* action(const char* name, const QString& text, const QKeySequence& key,
                    std::function<void()> run);

    QWidget* window_;
    MessageSink& messages_;
    Hooks hooks_;
    std::vector<osc::NamedMarker> markers_;
    std::vector<osc::Bookmark> bookmarks_;
    std::array<osc::SessionChannel, osc::kChannelCount> channels_{};
};

}  // namespace ui
