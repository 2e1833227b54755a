#include "ui/widgets/ExportProgress.h"

#include "ui/widgets/Messages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>

namespace ui {

bool writeExportFile(const QString& fileName, const ExportWriter& write, ExportProgress& progress) {
    const osc::WriteProgress step = [&progress](double share) {
        progress.setProgress(share);
        return !progress.cancelled();
    };
    return osc::writeFileThroughSink(std::filesystem::path(fileName.toStdString()),
                                     [&](osc::OutputSink& sink) { return write(sink, step); });
}

ExportProgressDialog::ExportProgressDialog(QWidget* parent, std::function<bool()> closing)
    : dialog_(new QProgressDialog(QStringLiteral("Экспорт…"), QStringLiteral("Отмена"), 0, 1000,
                                  parent)),
      closing_(std::move(closing)) {
    dialog_->setObjectName(QStringLiteral("ExportProgress"));
    dialog_->setWindowTitle(QStringLiteral("Экспорт"));
    dialog_->setWindowModality(Qt::WindowModal);
    dialog_->setMinimumDuration(500);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setValue(0);
}

ExportProgressDialog::~ExportProgressDialog() {
    delete dialog_;
}

void ExportProgressDialog::setProgress(double share) {
    if (!dialog_) {
        return;
    }
    dialog_->setValue(static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) * 999)));
}

bool ExportProgressDialog::cancelled() const {
    return !dialog_ || dialog_->wasCanceled() || (closing_ && closing_());
}

bool saveJournalWithProgress(QWidget* parent, const osc::JournalInfo& journal,
                             const QString& fileName, const QString& label,
                             const QString& objectName) {
    QProgressDialog progress(label, QStringLiteral("Отмена"), 0, 1000, parent);
    progress.setObjectName(objectName);
    progress.setWindowTitle(applicationTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    const bool saved = osc::saveJournalAs(
        journal, std::filesystem::path(fileName.toStdString()),
        [&progress](std::uint64_t done, std::uint64_t total) {
            const auto value =
                total > 0 ? static_cast<int>(std::min<std::uint64_t>(done * 1000 / total, 1000))
                          : 1000;
            progress.setValue(value);  // also processes events: the cancel button works
            return !progress.wasCanceled();
        });
    progress.reset();
    return saved;
}

}  // namespace ui
