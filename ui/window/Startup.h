#pragma once
// Program start-up, in this order: the main window frmMain (its FormCreate runs at the end of
// its construction), the hidden login dialog LoginDlg, then the main window is shown. Showing
// raises the show event, in which the main window's settings store restores and runs
// FormStorage1RestorePlacement, that is the connect action with the modal login dialog; the
// window reaches the screen only after that returns. A file given to runApplication is replayed
// once the event loop runs, as the load action does after its file dialog. Journals of captures
// that a crash left unfinished are offered once the login has been answered (not when the
// run is unattended).

#include <QString>

#include <cstdint>

class QApplication;
class QCoreApplication;

namespace ui {

struct StartupOptions {
    bool demo = false;  // --demo: the simulated devices, and the demo server names at login
    QString file{};     // replayed once the window is shown; empty for none
    // With a file: dialogs are cancelled, messages go to stderr, each channel's point count and
    // last X are printed to stdout after the replay and the event loop ends (status 1 when a
    // message was shown).
    bool quitAfterLoad = false;
    // --memory-limit: the memory ceiling of a capture in bytes; 0 for the default share of what
    // the system can give.
    std::uint64_t memoryLimit = 0;
};

// Qt's own texts (file dialogs, standard buttons, context menus) in Russian, from the
// translations that Qt installs (qtbase_ru in QLibraryInfo::TranslationsPath), and the Russian
// locale as the default one (dates and type names in the file dialog). Returns false, leaving
// Qt's English texts, when the translations are not installed.
bool installQtTranslations(QCoreApplication& app);
// Creates frmMain and LoginDlg (globals of MainUnit and logind).
void createForms(const StartupOptions& options);
// Shows frmMain (restore, connect action, then the window appears), then offers the capture
// journals that a crash left unfinished unless offerJournals is false.
void showMainForm(bool offerJournals = true);
// Destroys both windows as at the end of the program.
void destroyForms();
// The whole run: create, show, event loop, destroy. Returns the event loop's exit code.
int runApplication(QApplication& app, const StartupOptions& options);

}  // namespace ui
