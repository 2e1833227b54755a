#include "ui/Startup.h"

#include <QApplication>

#include "ui/MainUnit.h"
#include "ui/logind.h"

namespace ui {

void createForms(const StartupOptions& options) {
    new TfrmMain;  // sets frmMain; FormCreate has run
    frmMain->demoMode = options.demo;
    new TLoginDlg;  // sets LoginDlg; hidden until the connect action shows it
}

void showMainForm() {
    if (frmMain) {
        frmMain->show();
    }
}

void destroyForms() {
    delete frmMain;
    delete LoginDlg;
}

int runApplication(QApplication& app, const StartupOptions& options) {
    createForms(options);
    showMainForm();
    const int code = app.exec();
    destroyForms();
    return code;
}

}  // namespace ui
