#pragma once
// Exports from the window: the capture, or the stretch between marker and cursor, as a value
// change dump (VCD) or CSV, written by the engine's writer (core/files/trace_export.h, the same
// that the command-line export uses) a piece at a time into a file that replaces the old one only
// once complete. A long export shows its progress and can be cancelled, leaving no file.

#include <QDialog>
#include <QPointer>
#include <QProgressDialog>
#include <QString>

#include <functional>
#include <optional>

#include "core/files/trace_export.h"
#include "core/protocol/sample_decoder.h"

class QLabel;
class QLineEdit;
class QRadioButton;

namespace ui {

struct ExportRequest {
    QString fileName;
    osc::ExportFormat format = osc::ExportFormat::Vcd;
    std::optional<osc::ExportStretch> stretch;  // none: the whole capture
};

// The progress of a long export, as the window shows it.
class ExportProgress {
  public:
    virtual ~ExportProgress() = default;
    // The share done, 0 to 1; the window processes its events here.
    virtual void setProgress(double share) = 0;
    virtual bool cancelled() const = 0;
};

// Writes the traces as the request says. False when cancelled: no file is written and an old
// one stays as it was. Throws osc::FileError when the file cannot be written, and
// std::runtime_error when the traces were restarted during the export.
bool writeTraceExport(const osc::ChannelTraces& traces, const ExportRequest& request,
                      std::optional<double> bitRate, ExportProgress& progress);

// The stretch between marker and cursor (whichever lies left first), or nullopt when there is
// none: no marker (0), no cursor position (-1), or both at one tick.
std::optional<osc::ExportStretch> markerCursorStretch(double markerX, double cursorX);

// The format that a file name's extension names (".vcd", ".csv", case ignored), or nullopt.
std::optional<osc::ExportFormat> exportFormatFor(const QString& fileName);

// "Экспорт": the file (a browse button; the extension follows the format), the format, and
// what to export: the whole capture or the stretch between marker and cursor when there is one.
class ExportDialog : public QDialog {
    Q_OBJECT
  public:
    ExportDialog(QWidget* parent, const QString& fileName,
                 std::optional<osc::ExportStretch> stretch, std::optional<double> bitRate);

    ExportRequest request() const;
    void setFileName(const QString& name);
    void setFormat(osc::ExportFormat format);
    void setStretchChosen(bool on);

    // OK: a file name is given (the format's extension added when it has none).
    void accept() override;

  private:
    void browse();
    void formatChosen();
    void fileEdited();

    QLineEdit* file_ = nullptr;
    QRadioButton* vcd_ = nullptr;
    QRadioButton* csv_ = nullptr;
    QRadioButton* whole_ = nullptr;
    QRadioButton* stretchButton_ = nullptr;
    std::optional<osc::ExportStretch> stretch_;
};

// The progress as a modal dialog with a cancel button, shown once the export has taken half a
// second; `closing` cancels too (the window is closing).
class ExportProgressDialog final : public ExportProgress {
  public:
    ExportProgressDialog(QWidget* parent, std::function<bool()> closing);
    ~ExportProgressDialog() override;
    void setProgress(double share) override;
    bool cancelled() const override;

  private:
    QPointer<QProgressDialog> dialog_;
    std::function<bool()> closing_;
};

}  // namespace ui
