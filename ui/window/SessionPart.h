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
// The view, marker and cursor are the view state's (ui/plot/PlotState.h): a jump moves the
// window there, a restored session sets it; the decoder's and frames' options and the channels'
// colours are the window's widgets (SessionView).

#include <QColor>
#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/files/session_file.h"
#include "core/protocol/sample_decoder.h"
#include "core/view/plot_mapping.h"

class QAction;
class QPainter;
class QWidget;

namespace ui {

class MessageSink;
class PlotState;

// The widgets whose settings a session keeps besides the view state.
class SessionView {
  public:
    using Options = std::vector<std::pair<std::string, std::string>>;
    virtual ~SessionView() = default;
    // "Бит в байте", "Рев", "Инв", "Стафф".
    virtual osc::SessionDecoder decoder() const = 0;
    virtual void setDecoder(const osc::SessionDecoder& decoder) = 0;
    // The frames' options as their controls are stored ("cbFrameInvert_Checked" -> "True");
    // names that no control has, or values it cannot take, are passed over.
    virtual Options frameOptions() const = 0;
    virtual void setFrameOptions(const Options& options) = 0;
    // The channels' colours on the plot (invalid: the standard one); the plot repaints, with
    // the markers and bookmarks.
    virtual void setChannelColours(const std::array<QColor, osc::kChannelCount>& colours) = 0;
};

class SessionPart : public QObject {
    Q_OBJECT
  public:
    struct Collaborators {
        std::function<QString()> captureFile;  // the file on screen; empty for none
        std::function<int()> decodedChannel;   // the line of the last decode; -1: none
    };

    // plot: the window, marker, cursor and bit rate; traces: the channels hidden or shown.
    SessionPart(QWidget* window, PlotState& plot, osc::ChannelTraces& traces, SessionView& view,
                MessageSink& messages, Collaborators collaborators);

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
    // The name of the channel whose lower level is `level` on the left axis; empty: standard.
    QString levelName(int level) const;
    QColor channelColour(int channel) const;
    bool channelVisible(int channel) const;
    void setChannel(int channel, const osc::SessionChannel& look);

    void paint(QPainter& p, const osc::PlotMapping& m) const;

    // The message for a session file of a newer version.
    static QString newerVersionText(const QString& file, int version);

  signals:
    // A restored session's marker and cursor, measured on its line (readouts, lines, decode).
    void measureWanted(int channel, double markerX, double cursorX);

  private:
    QAction* action(const char* name, const QString& text, const QKeySequence& key,
                    std::function<void()> run);
    void changed();  // markers, bookmarks or channels changed: looks applied, plot repainted
    void centreOn(double tick);
    QString positionText(osc::Tick ticks) const;
    // The window's own part of a session (view, marker, cursor, decoder, frames), and its
    // restoring.
    osc::Session collectView() const;
    void applyView(const osc::Session& s);

    QWidget* window_;
    PlotState& plot_;
    osc::ChannelTraces& traces_;
    SessionView& view_;
    MessageSink& messages_;
    Collaborators collaborators_;
    std::vector<osc::NamedMarker> markers_;
    std::vector<osc::Bookmark> bookmarks_;
    std::array<osc::SessionChannel, osc::kChannelCount> channels_{};
};

}  // namespace ui
