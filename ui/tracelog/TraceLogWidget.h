#pragma once
// The trace memo over any number of lines. TraceLogWidget (Memo1) is a scroll area that asks its
// source for the lines on the screen only, so that a trace of millions of lines costs no more to
// show than a screenful; it follows new lines while it stands at the last one. Lines are
// selected whole (click, Shift+click, drag, Shift+arrows, Ctrl+A) and copied with Ctrl+C. It is
// read-only: a key that would type, or F2, asks for the editor (editRequested).
//
// TraceMemo holds it and the editor (Memo1Editor, a plain text editor made on the first edit)
// that takes its place while the user's own text is the trace, and shows the progress of a
// long save.

#include <QAbstractScrollArea>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

class QPlainTextEdit;
class QProgressDialog;
class QStackedLayout;

namespace ui {

// The lines a TraceLogWidget shows.
class TraceLineSource {
  public:
    virtual ~TraceLineSource() = default;
    virtual std::uint64_t lineCount() const = 0;
    virtual std::uint64_t longestLine() const = 0;  // characters
    // Characters of the lines [first, end), each with its line end.
    virtual std::uint64_t textSize(std::uint64_t first, std::uint64_t end) const = 0;
    // The text of the lines [first, first + count), all below lineCount(), one string each. A
    // line that cannot be read comes as a note in its place.
    virtual QStringList readLines(std::uint64_t first, std::size_t count) const = 0;
};

class TraceLogWidget : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit TraceLogWidget(QWidget* parent = nullptr);

    void setSource(const TraceLineSource* source);
    // The source's lines changed (appended, cleared): the scroll bars take the new count, the view
    // moves to the end when it stood there, and what is visible is drawn again.
    void linesChanged();

    // The selected lines, first and last; nothing when none is.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> selection() const;
    void selectLines(std::uint64_t anchor, std::uint64_t current);
    void selectAll();      // Ctrl+A
    void copySelection();  // Ctrl+C: the selected lines, '\n' after each
    QString selectedText() const;
    std::uint64_t firstVisibleLine() const;
    int visibleLines() const;  // whole lines that fit
    bool followsEnd() const { return follow_; }

    // What the user may copy at once, in characters.
    static constexpr std::uint64_t kCopyLimit = 64u << 20;

  signals:
    // The user wants to type into the trace: a key that types (given, to be passed on to the
    // editor), or F2 and the menu's edit entry (key 0).
    void editRequested(int key, Qt::KeyboardModifiers modifiers, const QString& text);
    // A short note for the user at the view (a copy too large).
    void hintRequested(const QString& text);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void updateScrollBars();
    std::uint64_t lineAt(int y) const;
    void moveCurrent(std::int64_t to, bool extend);
    void ensureVisible(std::uint64_t line);
    int lineHeight() const;
    int charWidth() const;

    const TraceLineSource* source_ = nullptr;
    std::uint64_t count_ = 0;
    std::uint64_t anchor_ = 0;
    std::uint64_t current_ = 0;
    bool selected_ = false;
    bool follow_ = true;
    bool settingRange_ = false;
};

class TraceMemo : public QWidget {
    Q_OBJECT
  public:
    explicit TraceMemo(QWidget* parent = nullptr);
    ~TraceMemo() override;

    TraceLogWidget* lineView() const { return lines_; }
    QPlainTextEdit* editor() const { return editor_; }  // nullptr before the first edit
    bool editing() const;

    // The editor in place of the line view, with text; the key that asked for it (if any) typed
    // into it; the cursor at the end of the line that was current in the view.
    void openEditor(const QString& text);
    void appendToEditor(const QString& lines);
    QString editorText() const;
    std::uint64_t editorCharacters() const;
    // The editor emptied and hidden, the line view back.
    void closeEditor();
    void showHint(const QString& text);

    // "Запись файла…" with a bar and (when cancellable) "Отмена".
    void beginSaveProgress(std::uint64_t total, bool cancellable);
    bool saveProgress(std::uint64_t done);  // false once cancelled
    void endSaveProgress();

  signals:
    void editRequested();

  private:
    TraceLogWidget* lines_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    QStackedLayout* stack_ = nullptr;
    struct PendingKey {
        int key = 0;
        Qt::KeyboardModifiers modifiers;
        QString text;
    };
    std::optional<PendingKey> pendingKey_;
    std::unique_ptr<QProgressDialog> progress_;
    std::uint64_t progressTotal_ = 0;
};

}  // namespace ui
