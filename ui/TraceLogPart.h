#pragma once
// The trace log and oscillogram files: every received datagram as a hex line in the trace
// memo while tracing is on, the trace saved as an oscillogram file, and a file replayed
// through the decoder between a start and a stop of the capture.
//
// The trace is kept twice: as the lines appended so far with CR LF line ends, which is exactly
// what an oscillogram file holds, and in the memo, which takes its lines in batches (about
// every 50 ms) so that a fast stream does not lay the memo out once per datagram. Once the user
// has typed into the memo, the memo's text is the trace (in Windows-1251 where the system
// offers it).

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "ui/Messages.h"

namespace ui {

// The widgets of the trace log, as the form shows them.
class TraceLogView {
  public:
    enum class FileDialog { Open, Save };

    virtual ~TraceLogView() = default;
    virtual bool tracingEnabled() const = 0;  // cbTraceEnabled
    // Memo1: lines joined by '\n' appended as new last lines; cleared; its whole text.
    virtual void appendToMemo(const QString& lines) = 0;
    virtual void clearMemo() = 0;
    virtual QString memoText() const = 0;
    // Runs flushToMemo about 50 ms from now, unless a run is already due.
    virtual void scheduleMemoFlush() = 0;
    // Runs the oscillogram file dialog; the chosen name, or empty when cancelled.
    virtual QString chooseOscFile(FileDialog dialog) = 0;
};

class TraceLogPart {
  public:
    // The capture that a replay drives; the form hands these in.
    struct Capture {
        std::function<void()> start;                                    // actOSCstartExecute
        std::function<void()> stop;                                     // actOSCstopExecute
        std::function<void(const std::uint8_t*, std::int32_t)> decode;  // DecodeDatagram
        std::function<bool()> closing;  // the window is closing: the replay ends
    };

    TraceLogPart(TraceLogView& view, MessageSink& messages, Capture capture);

    // TraceDatagram: the datagram as a hex line ("0A FF ") when tracing is enabled.
    void traceDatagram(const std::uint8_t* data, std::int32_t length);
    void save();  // actSaveToFileExecute
    void load();  // actLoadFromFileExecute
    // The load after its file dialog: reads the file (throws "Cannot open file %s"), start,
    // every line decoded, stop. Also the replay of a file given at start-up.
    void loadFile(const QString& name);
    // The same replay of oscillogram text (a recovered capture journal). A bad group is
    // reported with its two bytes shown in Windows-1251, as the file's writer saw them.
    void replayText(const std::string& text);

    void appendLine(const QString& line);
    void clear();
    QByteArray text() const;  // the whole trace, CR LF after every line
    int lineCount() const;    // a last empty line does not count
    // What the trace holds in memory, roughly (the lines twice: kept and waiting for the memo).
    std::uint64_t memoryBytes() const;

    // The memo takes the lines appended since its last flush.
    void flushToMemo() const;
    // The memo's text changed; unless the change is the part's own, the user has typed.
    void memoChanged();

  private:
    // Start, every datagram of the reader, stop.
    template <class Reader>
    void replay(Reader& reader);
    TraceLogView& view_;
    MessageSink& messages_;
    Capture capture_;
    QByteArray text_;  // CR LF line ends
    int lines_ = 0;
    bool edited_ = false;
    mutable bool ownChange_ = false;
    mutable QString pending_;  // lines not yet in the memo
};

}  // namespace ui
