// Oscillogram files: the trace saved as a file, and a file replayed through the decoder between
// a start and a stop of the capture.

#include <QFileDialog>

#include <filesystem>
#include <string>
#include <vector>

#include "core/osc_file.h"
#include "ui/MainUnit.h"
#include "ui/Messages.h"

namespace {

std::filesystem::path toPath(const QString& name) {
    return std::filesystem::path(name.toStdString());
}

// Runs a file dialog for oscillogram files; the chosen name, or empty when cancelled.
QString chooseFile(QWidget* parent, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent);
    dialog.setObjectName(mode == QFileDialog::AcceptSave ? QStringLiteral("SaveDialog1")
                                                         : QStringLiteral("OpenDialog1"));
    dialog.setAcceptMode(mode);
    // A typed name of a file that does not exist is accepted by both; saving overwrites an
    // existing file without a question.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilter(TfrmMain::oscFileFilter());
    dialog.setDefaultSuffix(TfrmMain::oscDefaultSuffix());
    if (ui::runModal(dialog) != QDialog::Accepted) {
        return {};
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.front();
}

}  // namespace

void TfrmMain::actSaveToFileExecute() {
    const QString name = chooseFile(this, QFileDialog::AcceptSave);
    if (name.isEmpty()) {
        return;
    }
    if (TraceLineCount() == 0) {
        ui::showError(this, QStringLiteral("Включите трассировку принимаемых посылок"));
        return;
    }
    const QByteArray text = TraceText();
    osc::writeFileAtomically(
        toPath(name), std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

void TfrmMain::actLoadFromFileExecute() {
    const QString name = chooseFile(this, QFileDialog::AcceptOpen);
    if (name.isEmpty()) {
        return;
    }
    LoadOscFile(name);
}

void TfrmMain::LoadOscFile(const QString& name) {
    const std::string text = osc::readWholeFile(toPath(name));
    actOSCstartExecute();
    osc::OscReader reader(text);
    std::vector<std::uint8_t> datagram;
    while (reader.next(datagram)) {
        DecodeDatagram(datagram.data(), static_cast<std::int32_t>(datagram.size()));
        if (FClosing) {
            return;  // the window is closing: the rest of the replay is not wanted
        }
    }
    actOSCstopExecute();
}
