#pragma once
// Program start-up, in this order: the main window frmMain (its FormCreate runs at the end of
// its construction), the hidden login dialog LoginDlg, then the main window is shown. Showing
// raises the show event, in which the main window's settings store restores and runs
// FormStorage1RestorePlacement, that is the connect action with the modal login dialog; the
// window reaches the screen only after that returns. A file given to runApplication is replayed
// once the event loop runs, as the load action does after its file dialog.

#include <QString>

class QApplication;

namespace ui {

struct StartupOptions {
    bool demo = false;  // --demo: the simulated devices, and the demo server names at login
    QString file{};     // replayed once the window is shown; empty for none
    // With a file: dialogs are cancelled, messages go to stderr, each channel's point count and
    // last X are printed to stdout after the replay and the event loop ends (status 1 when a
    // message was shown).
    bool quitAfterLoad = false;
};

// Creates frmMain and LoginDlg (globals of MainUnit and logind).
void createForms(const StartupOptions& options);
// Shows frmMain (restore, connect action, then the window appears).
void showMainForm();
// Destroys both windows as at the end of the program.
void destroyForms();
// The whole run: create, show, event loop, destroy. Returns the event loop's exit code.
int runApplication(QApplication& app, const StartupOptions& options);

}  // namespace ui
