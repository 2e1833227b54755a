#pragma once
// Recovery of capture journals left unfinished by a crash, a kill or a power cut: at start-up
// each one is offered to the operator, newest first, with four answers: replay it through the
// same path as a loaded file, save it as an oscillogram file (with a progress dialog that can
// be cancelled; the journal goes once the file is in place), discard it, or decide later (the
// journal stays and is offered again at the next start-up). A replayed journal stays as well:
// the replay does not fill the trace log, so the journal is what can still be saved.

#include <QObject>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "core/files/capture_journal.h"
#include "ui/widgets/Messages.h"

class QWidget;

namespace ui {

class JournalPart : public QObject {
    Q_OBJECT
  public:
    enum class Answer { Replay, Save, Discard, Later };

    struct Collaborators {
        // Replays oscillogram text as the load action does (start, every line, stop).
        std::function<void(const std::string& text)> replay;
        // The save file dialog; the chosen name, or empty when cancelled. None: the
        // oscillogram file dialog (SaveDialog1) over the parent.
        std::function<QString()> chooseSaveFile = {};
    };

    // parent: the window the questions are asked over.
    JournalPart(QWidget* parent, MessageSink& messages, Collaborators collaborators);

    // Asks about every unfinished journal in folder; the errors of one answer are shown and the
    // next journal is still offered. beforeAsking runs once before the first question. The
    // number of journals asked about.
    int offerUnfinished(const std::filesystem::path& folder = osc::defaultJournalFolder(),
                        const std::function<void()>& beforeAsking = {});
    // "Найден незавершённый журнал захвата от 09.12.2026 05:40:12 (посылок: 1234, 56 КБ). ..."
    static QString questionText(const osc::JournalInfo& journal);

    // The object names of the question's buttons, for tests and the accessibility tree.
    static constexpr const char* kReplayButton = "btnJournalReplay";
    static constexpr const char* kSaveButton = "btnJournalSave";
    static constexpr const char* kDiscardButton = "btnJournalDiscard";
    static constexpr const char* kLaterButton = "btnJournalLater";

  private:
    Answer ask(const osc::JournalInfo& journal);
    void answer(const osc::JournalInfo& journal, Answer choice);
    void save(const osc::JournalInfo& journal);

    QWidget* parent_;
    MessageSink& messages_;
    Collaborators collaborators_;
};

}  // namespace ui
