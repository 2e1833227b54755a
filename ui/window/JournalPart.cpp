#include "ui/window/JournalPart.h"

#include <QDateTime>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

#include "core/capture/capture_stats.h"
#include "core/files/osc_file.h"
#include "ui/tracelog/TraceTab.h"
#include "ui/widgets/ExportProgress.h"

namespace ui {

JournalPart::JournalPart(QWidget* parent, MessageSink& messages, Collaborators collaborators)
    : QObject(parent),
      parent_(parent),
      messages_(messages),
      collaborators_(std::move(collaborators)) {
    if (!collaborators_.chooseSaveFile) {
        collaborators_.chooseSaveFile = [this] {
            return chooseOscFile(parent_, TraceLogView::FileDialog::Save);
        };
    }
}

QString JournalPart::questionText(const osc::JournalInfo& journal) {
    const std::int64_t when = journal.startedAt != 0 ? journal.startedAt : journal.lastWrittenAt;
    const QString date =
        when != 0
            ? QDateTime::fromSecsSinceEpoch(when).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"))
            : QStringLiteral("неизвестной даты");
    return QStringLiteral(
               "Найден незавершённый журнал захвата от %1 (посылок: %2, %3). "
               "Воспроизвести, сохранить в файл или удалить?")
        .arg(date, QString::number(journal.datagrams),
             QString::fromStdString(osc::byteCountText(journal.bytes)));
}

int JournalPart::offerUnfinished(const std::filesystem::path& folder,
                                 const std::function<void()>& beforeAsking) {
    std::vector<osc::JournalInfo> journals;
    guarded(messages_, [&] { journals = osc::findUnfinishedJournals(folder); });
    if (!journals.empty() && beforeAsking) {
        beforeAsking();
    }
    for (const osc::JournalInfo& journal : journals) {
        const Answer choice = ask(journal);
        guarded(messages_, [&] { answer(journal, choice); });
    }
    return static_cast<int>(journals.size());
}

JournalPart::Answer JournalPart::ask(const osc::JournalInfo& journal) {
    QMessageBox box(QMessageBox::Question, applicationTitle(), questionText(journal),
                    QMessageBox::NoButton, parent_);
    box.setObjectName(QStringLiteral("JournalQuestion"));
    auto button = [&box](const QString& text, QMessageBox::ButtonRole role, const char* name,
                         const QString& tip) {
        QPushButton* b = box.addButton(text, role);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tip);
        return b;
    };
    QPushButton* replay =
        button(QStringLiteral("&Воспроизвести"), QMessageBox::AcceptRole, kReplayButton,
               QStringLiteral("Показать принятые посылки на графике, как из файла"));
    QPushButton* save =
        button(QStringLiteral("&Сохранить…"), QMessageBox::ActionRole, kSaveButton,
               QStringLiteral("Записать журнал в файл осциллограммы и удалить его"));
    QPushButton* discard = button(QStringLiteral("&Удалить"), QMessageBox::DestructiveRole,
                                  kDiscardButton, QStringLiteral("Удалить журнал без сохранения"));
    QPushButton* later = button(QStringLiteral("&Позже"), QMessageBox::RejectRole, kLaterButton,
                                QStringLiteral("Оставить журнал до следующего запуска"));
    box.setDefaultButton(replay);
    box.setEscapeButton(later);
    runModal(box);
    const QAbstractButton* clicked = box.clickedButton();
    if (clicked == replay) {
        return Answer::Replay;
    }
    if (clicked == save) {
        return Answer::Save;
    }
    if (clicked == discard) {
        return Answer::Discard;
    }
    return Answer::Later;  // also a box closed without an answer
}

void JournalPart::answer(const osc::JournalInfo& journal, Answer choice) {
    switch (choice) {
        case Answer::Replay:
            collaborators_.replay(osc::readJournal(journal));
            break;
        case Answer::Save:
            save(journal);
            break;
        case Answer::Discard:
            osc::discardJournal(journal);
            break;
        case Answer::Later:
            break;
    }
}

void JournalPart::save(const osc::JournalInfo& journal) {
    const QString name = collaborators_.chooseSaveFile();
    if (name.isEmpty()) {
        return;  // kept: offered again at the next start-up
    }
    bool saved = false;
    try {
        saved =
            saveJournalWithProgress(parent_, journal, name, QStringLiteral("Сохранение журнала…"),
                                    QStringLiteral("JournalSaveProgress"));
    } catch (const osc::FileError& e) {
        messages_.showError(QString::fromUtf8(e.what()), QString::fromStdString(e.reason()));
        return;  // the journal stays
    }
    if (saved) {
        osc::discardJournal(journal);
    }
}

}  // namespace ui
