#pragma once
// Where the frames table sits: on its own tab "Кадры", or under the plot on the page
// "Осциллограмма" in a splitter, so that choosing a row moves a plot that can be seen.
// "Кадры под графиком" (Ctrl+Shift+U, and a button at the right of the status bar) moves the
// whole page of the tab, with whatever it holds, between the two places. The place and the
// splitter's sizes live in the section "FramesPlace" under the main window's key.

#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QWidget;

namespace ui {

class FramesPlacePart : public QObject {
    Q_OBJECT
  public:
    static QString section() { return QStringLiteral("FramesPlace"); }
    // The plot's height that moving the table under it keeps at least, growing the window.
    static constexpr int kPlotHeight = 300;
    static constexpr int kTableRows = 140;  // pixels of table rows beyond the page's minimum

    // splitter: the page's splitter whose first widget is the plot; framesPage: the page of
    // the tab `title` in tabs. Restores the stored place.
    FramesPlacePart(QWidget* window, const QString& key, QTabWidget* tabs, QSplitter* splitter,
                    QWidget* framesPage, const QString& title);

    QAction* toggleAction() const { return toggle_; }
    bool underPlot() const;
    void setUnderPlot(bool on);  // moves the page, stores the place
    // A checkable button for the action at the right of the status bar.
    void addButton(QStatusBar* bar);

  private:
    void store() const;

    QString key_;
    QTabWidget* tabs_;
    QSplitter* splitter_;
    QWidget* page_;
    QString title_;
    QAction* toggle_ = nullptr;
    QList<int> sizes_;   // the splitter's sizes while the page is under the plot
    int tabIndex_ = -1;  // the page's tab before it went under the plot
};

}  // namespace ui
