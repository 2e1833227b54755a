#pragma once
// Program start-up, in this order: the main window frmMain (its FormCreate runs at the end of
// its construction), the hidden login dialog LoginDlg, then the main window is shown. Showing
// raises the show event, in which the main window's settings store restores and runs
// FormStorage1RestorePlacement, that is the connect action with the modal login dialog; the
// window reaches the screen only after that returns.

class QApplication;

namespace ui {

struct StartupOptions {
    bool demo = false;  // --demo: the simulated devices, and the demo server names at login
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
