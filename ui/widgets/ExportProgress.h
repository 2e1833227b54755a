#pragma once
// The progress of a long export in the window, and the file written through the engine's
// streaming writers (core/files/output_sink.h) while it shows: the text goes to the file a MiB at
// a time, the target is replaced only once the whole text is there, and a cancel leaves it as
// it was.

#include <QPointer>
#include <QProgressDialog>
#include <QString>

#include <functional>

#include "core/files/capture_journal.h"
#include "core/files/output_sink.h"

class QWidget;

namespace ui {

// The progress of a long export, as the window shows it.
class ExportProgress {
  public:
    virtual ~ExportProgress() = default;
    // The share done, 0 to 1; the window processes its events here.
    virtual void setProgress(double share) = 0;
    virtual bool cancelled() const = 0;
};

// write gives its text to the sink and tells its progress to the callback it is handed (which
// returns false once cancelled); writeExportFile returns false when cancelled. Throws
// osc::FileError ("Cannot create file PATH") when the file cannot be written, and what the
// writer throws.
using ExportWriter = std::function<bool(osc::OutputSink&, const osc::WriteProgress&)>;
bool writeExportFile(const QString& fileName, const ExportWriter& write, ExportProgress& progress);

// The progress as a modal dialog ("Экспорт…" over a bar, "Отмена"), shown once the export has
// taken half a second; `closing` cancels too (the window is closing).
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

// A capture journal saved as an .osc file (osc::saveJournalAs) under a window-modal progress
// dialog with the label and "Отмена", named objectName for the tests; false when cancelled.
// Throws osc::FileError as saveJournalAs does, once the dialog is gone.
bool saveJournalWithProgress(QWidget* parent, const osc::JournalInfo& journal,
                             const QString& fileName, const QString& label,
                             const QString& objectName);

}  // namespace ui
