#pragma once
// A top-level window placed by its outer frame (title bar and borders included), as the
// designed bounds and the stored placements give it. Qt moves a window by its frame but sizes
// it by its client area, and the frame's margins are known only once the window system has
// framed the window: until then the wanted frame is kept, and the client area is corrected
// once, when the margins first become known, unless the window was resized meanwhile. Without
// a frame (no window manager) the client area is the frame.

#include <QList>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>

class QWidget;

namespace ui {

class OuterFrame : public QObject {
    Q_OBJECT
  public:
    // Moves the window's frame to frame.topLeft() and sizes it so that the frame gets
    // frame.size(); the size of a window whose size is fixed stays.
    static void place(QWidget& window, const QRect& frame);
    // The outer frame of the window in its normal (not minimized, not maximized) state: the
    // frame asked for while it waits for the margins, else the frame the window has.
    static QRect normalFrame(const QWidget& window);
    // The frame's margins as the window system reports them; none before the window exists.
    static QMargins margins(const QWidget& window);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit OuterFrame(QWidget& window);
    static OuterFrame* of(const QWidget& window);
    void apply();

    QPointer<QWidget> window_;
    QRect wanted_;          // the frame asked for
    QSize clientSet_;       // the client size given for it
    bool pending_ = false;  // the margins were not known yet
};

// Where a window whose outer frame is `frame` can be reached by its title bar (the top
// `titleHeight` pixels of the frame): the frame itself when at least kTitleGrip pixels of that
// strip lie on one of the screens (their available areas), else the frame moved onto the screen
// nearest to the strip, its title bar inside it (a frame wider than the screen at its left
// edge). The size is kept. No screens: the frame as it is.
inline constexpr int kTitleGrip = 48;
QRect reachableFrame(const QRect& frame, const QList<QRect>& screens, int titleHeight);

}  // namespace ui
