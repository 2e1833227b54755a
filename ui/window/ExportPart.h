#pragma once
// Exports from the window: the capture, or the stretch between marker and cursor, as a value
// change dump (VCD) or CSV of the traces, or its decoded frames as a pcapng capture, written
// by the engine's writers (core/files/trace_export.h, core/files/pcapng_export.h, the same that the
// command-line export uses) as they walk the traces or frames, into a file that replaces the
// old one only once complete. A long export shows its progress and can be cancelled, leaving
// no file.

#include <QDialog>
#include <QString>

#include <optional>

#include "core/files/trace_export.h"
#include "core/frames/capture_frames.h"
#include "core/protocol/sample_decoder.h"
#include "ui/widgets/ExportProgress.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace ui {

struct ExportRequest {
    QString fileName;
    osc::ExportFormat format = osc::ExportFormat::Vcd;
    std::optional<osc::ExportStretch> stretch;  // none: the whole capture
    // For pcapng: the primary station's channel (outbound frames) and whether bad frames go too.
    int primaryChannel = 1;
    bool allFrames = false;
};

// Writes the traces as the request says (VCD or CSV). False when cancelled: no file is
// written and an old one stays as it was. Throws osc::FileError when the file cannot be
// written, and std::runtime_error when the traces were restarted during the export.
bool writeTraceExport(const osc::ChannelTraces& traces, const ExportRequest& request,
                      std::optional<double> bitRate, ExportProgress& progress);
// The same for the decoded frames as pcapng: those that start in the stretch, numbered as the
// frames table numbers them; std::runtime_error when they were decoded anew meanwhile.
bool writeFramesExport(const osc::CaptureFrames& frames, const ExportRequest& request,
                       std::optional<double> bitRate, ExportProgress& progress);

// The stretch between marker and cursor (whichever lies left first), or nullopt when there is
// none: no marker (0), no cursor position (-1), or both at one tick.
std::optional<osc::ExportStretch> markerCursorStretch(double markerX, double cursorX);

// The format that a file name's extension names (".vcd", ".csv", ".pcapng", case ignored), or
// nullopt.
std::optional<osc::ExportFormat> exportFormatFor(const QString& fileName);

// "Экспорт": the file (a browse button; the extension follows the format), the format (with
// pcapng, whether the bad frames go too), and what to export: the whole capture or the
// stretch between marker and cursor when there is one.
class ExportDialog : public QDialog {
    Q_OBJECT
  public:
    ExportDialog(QWidget* parent, const QString& fileName,
                 std::optional<osc::ExportStretch> stretch, std::optional<double> bitRate);

    ExportRequest request() const;
    void setFileName(const QString& name);
    void setFormat(osc::ExportFormat format);
    void setStretchChosen(bool on);
    void setAllFrames(bool on);

    // OK: a file name is given (the format's extension added when it has none).
    void accept() override;

  private:
    void browse();
    void formatChosen();
    void fileEdited();

    QLineEdit* file_ = nullptr;
    QRadioButton* vcd_ = nullptr;
    QRadioButton* csv_ = nullptr;
    QRadioButton* pcapng_ = nullptr;
    QCheckBox* allFrames_ = nullptr;
    QLabel* scale_ = nullptr;
    std::optional<double> bitRate_;
    QRadioButton* whole_ = nullptr;
    QRadioButton* stretchButton_ = nullptr;
    std::optional<osc::ExportStretch> stretch_;
};

}  // namespace ui
