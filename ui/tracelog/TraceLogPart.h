#pragma once
// The trace log: every received datagram as a hex line in the trace memo while tracing is on,
// and the trace saved as an oscillogram file (which ui/tracelog/OscReplay.h replays).
//
// The trace is kept as the datagrams' bytes in a store (core/files/trace_log_store.h) that moves
// the older ones to a file (the capture journal, which holds the same lines, or a spill file of its
// own), so an hour of tracing costs little memory; the memo draws only the lines on the screen,
// refreshed in batches (about every 50 ms) while a stream comes in. The memo is read-only; the
// user's first keystroke in it (or F2) opens an editor with the trace's text, unless tracing is
// on or the trace is too long to edit in the window. From then on the editor's text is the trace
// (in Windows-1251 where the system offers it), new lines are appended to it, until the next
// clear. Saving streams the text into the file with a progress dialog; a cancelled or failed
// save leaves no partial file.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/files/trace_log_store.h"
#include "ui/tracelog/TraceLogWidget.h"
#include "ui/widgets/Messages.h"

namespace ui {

// The widgets of the trace log, as the form shows them.
class TraceLogView {
  public:
    enum class FileDialog { Open, Save };

    virtual ~TraceLogView() = default;
    virtual bool tracingEnabled() const = 0;  // cbTraceEnabled
    // Memo1 shows the part's stored lines; they changed (appended, cleared).
    virtual void storedLinesChanged() = 0;
    // The editor of the user's own text in Memo1's place: opened with a text (lines joined by
    // '\n'), lines appended, its whole text, closed (emptied, Memo1 back).
    virtual void openEditor(const QString& text) = 0;
    virtual void appendToEditor(const QString& lines) = 0;
    virtual QString editorText() const = 0;
    virtual void closeEditor() = 0;
    // A short note at the memo: why it cannot be edited now.
    virtual void showMemoHint(const QString& text) = 0;
    // Runs flushToMemo about 50 ms from now, unless a run is already due.
    virtual void scheduleMemoFlush() = 0;
    // Runs the oscillogram file dialog; the chosen name, or empty when cancelled.
    virtual QString chooseOscFile(FileDialog dialog) = 0;
    // A save's progress: shown for `total` bytes (with a cancel button when cancellable), `done`
    // of them written (false once the user has cancelled), closed.
    virtual void beginSaveProgress(std::uint64_t total, bool cancellable) = 0;
    virtual bool saveProgress(std::uint64_t done) = 0;
    virtual void endSaveProgress() = 0;
};

class TraceLogPart : public QObject {
    Q_OBJECT
  public:
    struct Collaborators {
        // Opens a capture's journal for reading (a descriptor), or -1: the lines that went to
        // the journal are read back from there instead of kept.
        osc::TraceLogStore::JournalOpener openJournal;
    };

    TraceLogPart(TraceLogView& view, MessageSink& messages, Collaborators collaborators,
                 osc::TraceStoreOptions store = {});

    // TraceDatagram: the datagram as a hex line ("0A FF ") when tracing is enabled; journal:
    // where the capture journal holds the same line, if it does.
    void traceDatagram(const std::uint8_t* data, std::int32_t length,
                       std::optional<osc::TraceLogStore::JournalCopy> journal = std::nullopt);
    // actSaveToFileExecute; true when the file was written (not cancelled, nothing to save).
    bool save();

    // A line as tracing makes it ("23 08 "): its groups read as the datagram's bytes.
    void appendLine(const QString& line);
    void clear();
    // The whole trace in memory, CR LF after every line: for short traces and tests (a save
    // streams it instead).
    QByteArray text() const;
    std::int64_t lineCount() const;  // a last empty line does not count
    // What the trace holds in memory, roughly: the store's index and newest bytes, the lines
    // waiting for the editor and the editor's text.
    std::uint64_t memoryBytes() const;

    // The memo takes the lines appended since its last flush.
    void flushToMemo() const;
    // The user wants to type into the trace: the editor opens with the trace's text, unless
    // tracing is on or the trace is longer than kEditableBytes (a hint at the memo says so).
    // True when the editor is open.
    bool beginEdit();
    bool editing() const { return edited_; }
    static constexpr std::uint64_t kEditableBytes = 8u << 20;

    const osc::TraceLogStore& store() const { return store_; }
    // The stored lines, as Memo1 shows them.
    const TraceLineSource& storedLines() const { return storedLines_; }

    // The lines of a store, as Memo1 shows them.
    class StoredLines : public TraceLineSource {
      public:
        explicit StoredLines(const osc::TraceLogStore& store) : store_(store) {}
        std::uint64_t lineCount() const override { return store_.lineCount(); }
        std::uint64_t longestLine() const override { return store_.longestLine(); }
        std::uint64_t textSize(std::uint64_t first, std::uint64_t end) const override;
        QStringList readLines(std::uint64_t first, std::size_t count) const override;

      private:
        const osc::TraceLogStore& store_;
    };

  signals:
    void saved(const QString& fileName);  // the trace was written into the file

  private:
    // The edited text as a file holds it.
    QByteArray editedText() const;
    // Writes the pieces that next() gives into the file with the progress shown; a cancel
    // (false) or a failure (FileError) leaves the file as it was.
    bool writeFile(const QString& name, std::uint64_t total,
                   const std::function<bool(std::string&)>& next);

    TraceLogView& view_;
    MessageSink& messages_;
    osc::TraceLogStore store_;
    StoredLines storedLines_{store_};
    bool edited_ = false;
    mutable QString pending_;  // lines not yet in the editor
    mutable std::uint64_t editorChars_ = 0;
};

}  // namespace ui
