#pragma once
// The tab "Отладка" (TabSheet2): the strip Panel2 with cbTraceEnabled ("Разрешить
// трассировку", off at start, not stored) over the trace memo Memo1 and the editor that takes
// its place. It is the trace log's view; the memo's lines come from the part's store.

#include <QWidget>

#include "ui/tracelog/TraceLogPart.h"

class QCheckBox;
class QFrame;
class QTimer;

namespace ui {

class TraceTab final : public QWidget, public TraceLogView {
    Q_OBJECT
  public:
    explicit TraceTab(QWidget* parent = nullptr);

    // The lines Memo1 shows (the part's stored lines).
    void showLines(const TraceLineSource& lines);

    // TraceLogView
    bool tracingEnabled() const override;
    void storedLinesChanged() override;
    void openEditor(const QString& text) override;
    void appendToEditor(const QString& lines) override;
    QString editorText() const override;
    void closeEditor() override;
    void showMemoHint(const QString& text) override;
    void scheduleMemoFlush() override;
    QString chooseOscFile(FileDialog dialog) override;
    void beginSaveProgress(std::uint64_t total, bool cancellable) override;
    bool saveProgress(std::uint64_t done) override;
    void endSaveProgress() override;

    QFrame* Panel2 = nullptr;
    QCheckBox* cbTraceEnabled = nullptr;
    TraceLogWidget* Memo1 = nullptr;

  signals:
    void memoFlushDue();   // about 50 ms after scheduleMemoFlush
    void editRequested();  // the user typed into the memo (or pressed F2)

  private:
    TraceMemo* memo_ = nullptr;  // Memo1 and the editor
    QTimer* flushTimer_ = nullptr;
};

// The oscillogram file dialog (OpenDialog1 or SaveDialog1) over parent: "Файлы осциллограм ОИК
// (*.osc)", the extension "osc" added to a name without one; a typed name of a file that does
// not exist is accepted by both, and saving overwrites without a question. The chosen name, or
// empty when cancelled.
QString chooseOscFile(QWidget* parent, TraceLogView::FileDialog dialog);

}  // namespace ui
