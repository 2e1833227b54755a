#include "ui/Startup.h"

#include <QApplication>

#include "netsim/simulated_network.h"
#include "ui/MainUnit.h"
#include "ui/logind.h"

namespace ui {

namespace {

// The demo server's IP devices, each hosted by a simulated device on an in-process network.
std::unique_ptr<osc::net::DatagramEndpoint> demoNetwork() {
    osc::net::SimulatedNetworkOptions options;
    std::uint64_t seed = 1;
    for (const char* address : {"127.0.0.11", "127.0.0.12", "127.0.0.13"}) {
        osc::net::SimulatedDeviceSpec device;
        device.address = address;
        device.options.link.seed = seed++;
        options.devices.push_back(device);
    }
    return std::make_unique<osc::net::SimulatedNetwork>(std::move(options));
}

}  // namespace

void createForms(const StartupOptions& options) {
    new TfrmMain;  // sets frmMain; FormCreate has run
    frmMain->demoMode = options.demo;
    if (options.demo) {
        frmMain->setEndpoint(demoNetwork());
    }
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
