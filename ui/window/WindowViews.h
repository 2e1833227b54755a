#pragma once
// The parts' views over the main window's widgets: each part sees the widgets it drives through
// a narrow interface (so that it is tested with a fake), and these give it the window's own.

#include "ui/window/AcquisitionPart.h"
#include "ui/window/ConnectionPart.h"
#include "ui/window/OscillogramTab.h"
#include "ui/window/SessionPart.h"

class OscPlot;
class QComboBox;
class QLabel;
class QSpinBox;

namespace ui {

// The acquisition's widgets: the device list ComboBox1, "Бит в окне", the status panel Panel1
// and the progress panel.
class AcquisitionWidgets final : public AcquisitionView {
  public:
    AcquisitionWidgets(QComboBox& deviceList, QSpinBox& windowBits, QLabel& statusPanel,
                       CompletionPanel& completion);

    std::optional<QString> selectedDeviceEntry() const override;
    int windowBits() const override;
    QString statusText() const override;
    void setStatusText(const QString& text) override;
    void beginCompletion() override;
    void endCompletion() override;
    Progress progress() const override;
    void setProgress(int value, bool drawNow) override;

  private:
    QComboBox& deviceList_;
    QSpinBox& windowBits_;
    QLabel& statusPanel_;
    CompletionPanel& completion_;
};

// The connection's widgets: the login dialog LoginDlg, the window's caption and ComboBox1.
class ConnectionWidgets final : public ConnectionView {
  public:
    ConnectionWidgets(QWidget& window, QComboBox& deviceList);

    // --demo: the login dialog offers the demo server names when its fields are empty.
    void setDemoMode(bool on) { demoMode_ = on; }
    bool demoMode() const { return demoMode_; }

    bool runLogin(
        const std::function<void(const QString& user, const QString& password)>& setUser) override;
    QString ntServer() const override;
    QString tmServer() const override;
    void setCaption(const QString& caption) override;
    void setDeviceEntries(const QStringList& entries) override;
    void dropDownDeviceList() override;

  private:
    QWidget& window_;
    QComboBox& deviceList_;
    bool demoMode_ = false;
};

// What a session keeps of the widgets: the decoder's options in the readout panel, the frames'
// options on their page (by the controls' names: cbFrame..., cmbFrame..., seFrame...), the
// channels' colours on the plot.
class SessionWidgets final : public SessionView {
  public:
    SessionWidgets(ReadoutPanel& panel, QWidget& framesPage, OscPlot& plot);

    osc::SessionDecoder decoder() const override;
    void setDecoder(const osc::SessionDecoder& decoder) override;
    Options frameOptions() const override;
    void setFrameOptions(const Options& options) override;
    void setChannelColours(const std::array<QColor, osc::kChannelCount>& colours) override;

  private:
    ReadoutPanel& panel_;
    QWidget& framesPage_;
    OscPlot& plot_;
};

}  // namespace ui
