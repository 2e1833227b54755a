// Acquisition control of the main window: the endpoint, device selection, start and stop of a
// capture, and the hand-over of received datagrams to their handler.

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QMetaObject>
#include <QProgressBar>
#include <QSpinBox>

#include <array>

#include "core/config_line.h"
#include "core/datagram.h"
#include "core/plot_window.h"
#include "net/datagram_endpoint.h"
#include "ui/MainUnit.h"
#include "ui/Messages.h"

namespace {

const QString kPortFailure = QStringLiteral(
    "Не удалось открыть UDP-порт для обмена. Возможно запущена программа настроки Morvel-IP");

// The wait cursor for the time of a scope; restored also when the work ends with an error.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

void TfrmMain::setEndpoint(std::unique_ptr<osc::net::DatagramEndpoint> endpoint) {
    IdUDPServer1 = std::move(endpoint);
    // Runs on the receiving thread: only posts the drain to the user-interface thread.
    IdUDPServer1->setReadyCallback([this] {
        QMetaObject::invokeMethod(
            this, [this] { drainReceived(); }, Qt::QueuedConnection);
    });
}

void TfrmMain::drainReceived() {
    // A handler of a received datagram is running further up (its decoder is processing
    // pending events): the datagrams wait for it to return, as they would at the socket.
    if (FInDatagramHandler) {
        return;
    }
    std::vector<std::uint8_t> datagram;
    while (!FClosing && IdUDPServer1->takeReceived(datagram)) {
        FInDatagramHandler = true;
        ui::guarded(this, [&] { IdUDPServer1UDPRead(datagram); });
        FInDatagramHandler = false;
    }
}

bool TfrmMain::ActivateEndpoint() {
    if (IdUDPServer1->active()) {
        return true;
    }
    try {
        IdUDPServer1->activate();
    } catch (const std::exception& e) {
        ui::showError(this, kPortFailure, QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TfrmMain::actOSCstartExecute() {
    if (!ActivateEndpoint()) {
        return;
    }
    FEngine.resetTimeBase();
    static constexpr std::array<std::uint8_t, 6> kNoIdentity{};
    if (osc::MemDiffers(FEngine.state.FDeviceId.data(), kNoIdentity.data(), 6) == 0) {
        ComboBox1Change();
    }
    FEngine.restartTraces();
    Chart1->markDirty();
    TraceClear();
    osc::startWindow(FEngine.window, seWindowBitsCount->value());
    Chart1->markDirty();
    FMarkerX = 0;
    IdUDPServer1->send(FDeviceAddress.toStdString(), osc::startCommand(FEngine.state.FDeviceId));
}

void TfrmMain::actOSCstopExecute() {
    IdUDPServer1->send(FDeviceAddress.toStdString(), osc::stopCommand(FEngine.state.FDeviceId));
    const WaitCursor wait;
    pbPanel->show();
    pbPanel->repaint();
    FEngine.closeTraces();
    // The completion derives its points instead of storing them: it costs the same for a
    // second and for an hour of capture. The bar takes each channel's steps at once.
    FEngine.completeTraces([&](std::uint64_t steps) {
        ProgressBar1StepIt(steps);
        ProgressBar1->repaint();
    });
    pbPanel->hide();
    Chart1->markDirty();
}

void TfrmMain::ComboBox1Change() {
    if (!ActivateEndpoint()) {
        return;
    }
    actOSCstopExecute();
    FEngine.state.FDeviceId = {};
    FDeviceAddress.clear();
    if (ComboBox1->currentIndex() < 0) {
        return;
    }
    FDeviceAddress =
        QString::fromStdString(osc::EntryAddress(ComboBox1->currentText().toStdString()));
    IdUDPServer1->send(FDeviceAddress.toStdString(), osc::identityRequest());
}
