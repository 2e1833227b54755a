#include "ui/window/ExportPart.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "core/files/frame_export.h"
#include "core/files/pcapng_export.h"
#include "core/view/plot_labels.h"
#include "core/view/time_text.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

// The formats in the order of the file dialog's filters.
constexpr std::array<osc::ExportFormat, 3> kFormats = {
    osc::ExportFormat::Vcd, osc::ExportFormat::Csv, osc::ExportFormat::Pcapng};

QString suffixOf(osc::ExportFormat format) {
    switch (format) {
        case osc::ExportFormat::Csv:
            return QStringLiteral("csv");
        case osc::ExportFormat::Pcapng:
            return QStringLiteral("pcapng");
        case osc::ExportFormat::Vcd:
            break;
    }
    return QStringLiteral("vcd");
}

QString exportFilters() {
    return QStringLiteral(
        "Дамп изменений VCD (*.vcd);;Таблица CSV (*.csv);;Кадры pcapng (*.pcapng)");
}

int filterIndexOf(osc::ExportFormat format) {
    return static_cast<int>(std::find(kFormats.begin(), kFormats.end(), format) - kFormats.begin());
}

QString bitsText(osc::Tick ticks) {
    return QString::fromStdString(osc::TicksToBitText(ticks));
}

}  // namespace

bool writeTraceExport(const osc::ChannelTraces& traces, const ExportRequest& request,
                      std::optional<double> bitRate, ExportProgress& progress) {
    return writeExportFile(
        request.fileName,
        [&](osc::OutputSink& sink, const osc::WriteProgress& step) {
            return osc::writeTraces(traces, request.format, bitRate, request.stretch, sink, step);
        },
        progress);
}

bool writeFramesExport(const osc::CaptureFrames& frames, const ExportRequest& request,
                       std::optional<double> bitRate, ExportProgress& progress) {
    osc::PcapngOptions options;
    options.channels = frames.channels();
    options.primaryChannel = request.primaryChannel;
    options.allFrames = request.allFrames;
    options.bitRate = bitRate;
    osc::CaptureFrameWalk walk(frames, request.stretch);
    return writeExportFile(
        request.fileName,
        [&](osc::OutputSink& sink, const osc::WriteProgress& step) {
            return osc::writePcapng(walk, options, sink, step);
        },
        progress);
}

std::optional<osc::ExportStretch> markerCursorStretch(double markerX, double cursorX) {
    if (markerX == 0 || cursorX == -1 || std::isnan(markerX) || std::isnan(cursorX)) {
        return std::nullopt;
    }
    const osc::Tick a = osc::truncateToTick(markerX);
    const osc::Tick b = osc::truncateToTick(cursorX);
    if (a == b) {
        return std::nullopt;
    }
    return osc::ExportStretch{std::min(a, b), std::max(a, b)};
}

std::optional<osc::ExportFormat> exportFormatFor(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("vcd")) {
        return osc::ExportFormat::Vcd;
    }
    if (suffix == QLatin1String("csv")) {
        return osc::ExportFormat::Csv;
    }
    if (suffix == QLatin1String("pcapng")) {
        return osc::ExportFormat::Pcapng;
    }
    return std::nullopt;
}

ExportDialog::ExportDialog(QWidget* parent, const QString& fileName,
                           std::optional<osc::ExportStretch> stretch, std::optional<double> bitRate)
    : QDialog(parent), bitRate_(bitRate), stretch_(stretch) {
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(QStringLiteral("Экспорт"));
    auto* form = new QFormLayout(this);

    auto* fileRow = new QHBoxLayout;
    file_ = new QLineEdit(fileName, this);
    file_->setObjectName(QStringLiteral("edFile"));
    file_->setMinimumWidth(280);
    auto* browse = new QPushButton(QStringLiteral("Обзор…"), this);
    browse->setObjectName(QStringLiteral("btnBrowse"));
    connect(browse, &QPushButton::clicked, this, &ExportDialog::browse);
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(browse);
    form->addRow(QStringLiteral("Файл"), fileRow);

    auto* formats = new QHBoxLayout;
    vcd_ = new QRadioButton(QStringLiteral("VCD"), this);
    vcd_->setObjectName(QStringLiteral("rbVcd"));
    vcd_->setToolTip(QStringLiteral("Дамп изменений: открывается анализаторами сигналов"));
    csv_ = new QRadioButton(QStringLiteral("CSV"), this);
    csv_->setObjectName(QStringLiteral("rbCsv"));
    csv_->setToolTip(QStringLiteral("Таблица: тик и четыре линии при каждом изменении"));
    pcapng_ = new QRadioButton(QStringLiteral("pcapng"), this);
    pcapng_->setObjectName(QStringLiteral("rbPcapng"));
    pcapng_->setToolTip(
        QStringLiteral("Кадры для анализаторов протоколов: адрес, управление, данные"));
    auto* formatGroup = new QButtonGroup(this);
    formatGroup->addButton(vcd_);
    formatGroup->addButton(csv_);
    formatGroup->addButton(pcapng_);
    formats->addWidget(vcd_);
    formats->addWidget(csv_);
    formats->addWidget(pcapng_);
    formats->addStretch(1);
    form->addRow(QStringLiteral("Формат"), formats);
    allFrames_ = new QCheckBox(QStringLiteral("С ошибочными кадрами"), this);
    allFrames_->setObjectName(QStringLiteral("cbAllFrames"));
    allFrames_->setToolTip(QStringLiteral("Ошибочные кадры тоже, с ошибкой в комментарии"));
    form->addRow(QString(), allFrames_);

    whole_ = new QRadioButton(QStringLiteral("Весь график"), this);
    whole_->setObjectName(QStringLiteral("rbWhole"));
    QString stretchText = QStringLiteral("От маркера до курсора");
    if (stretch) {
        stretchText +=
            QStringLiteral(" (%1 … %2)").arg(bitsText(stretch->from), bitsText(stretch->to));
    }
    stretchButton_ = new QRadioButton(stretchText, this);
    stretchButton_->setObjectName(QStringLiteral("rbStretch"));
    stretchButton_->setEnabled(stretch.has_value());
    if (!stretch) {
        stretchButton_->setToolTip(QStringLiteral("Поставьте маркер и курсор на графике"));
    }
    auto* rangeGroup = new QButtonGroup(this);
    rangeGroup->addButton(whole_);
    rangeGroup->addButton(stretchButton_);
    whole_->setChecked(true);
    auto* ranges = new QVBoxLayout;
    ranges->addWidget(whole_);
    ranges->addWidget(stretchButton_);
    form->addRow(QStringLiteral("Что"), ranges);

    scale_ = new QLabel(this);
    scale_->setObjectName(QStringLiteral("lblTimeScale"));
    form->addRow(scale_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Экспорт"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ExportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ExportDialog::reject);
    form->addRow(buttons);

    connect(formatGroup, &QButtonGroup::buttonToggled, this, [this](QAbstractButton*, bool on) {
        if (on) {
            formatChosen();
        }
    });
    connect(file_, &QLineEdit::textEdited, this, &ExportDialog::fileEdited);
    setFormat(exportFormatFor(fileName).value_or(osc::ExportFormat::Vcd));
    formatChosen();
}

ExportRequest ExportDialog::request() const {
    ExportRequest r;
    r.fileName = file_->text().trimmed();
    r.format = csv_->isChecked()      ? osc::ExportFormat::Csv
               : pcapng_->isChecked() ? osc::ExportFormat::Pcapng
                                      : osc::ExportFormat::Vcd;
    if (stretchButton_->isChecked()) {
        r.stretch = stretch_;
    }
    r.allFrames = r.format == osc::ExportFormat::Pcapng && allFrames_->isChecked();
    return r;
}

void ExportDialog::setFileName(const QString& name) {
    file_->setText(name);
    fileEdited();
}

void ExportDialog::setFormat(osc::ExportFormat format) {
    (format == osc::ExportFormat::Csv      ? csv_
     : format == osc::ExportFormat::Pcapng ? pcapng_
                                           : vcd_)
        ->setChecked(true);
}

void ExportDialog::setStretchChosen(bool on) {
    (on && stretchButton_->isEnabled() ? stretchButton_ : whole_)->setChecked(true);
}

void ExportDialog::setAllFrames(bool on) {
    allFrames_->setChecked(on);
}

void ExportDialog::accept() {
    QString name = file_->text().trimmed();
    if (name.isEmpty()) {
        showError(this, QStringLiteral("Укажите файл для экспорта"));
        return;
    }
    if (QFileInfo(name).suffix().isEmpty()) {
        name += QLatin1Char('.') + suffixOf(request().format);
        file_->setText(name);
    }
    QDialog::accept();
}

// The extension follows the format when it names another one; the time scale's line and the
// bad frames' box follow it too.
void ExportDialog::formatChosen() {
    const QString name = file_->text();
    const std::optional<osc::ExportFormat> named = exportFormatFor(name);
    const osc::ExportFormat chosen = request().format;
    if (named && *named != chosen) {
        file_->setText(name.left(name.size() - QFileInfo(name).suffix().size()) + suffixOf(chosen));
    }
    const bool frames = chosen == osc::ExportFormat::Pcapng;
    allFrames_->setEnabled(frames);
    const QString rate = bitRate_ ? QString::fromStdString(osc::bitRateText(*bitRate_)) : QString();
    if (frames) {
        scale_->setText(bitRate_ ? QStringLiteral("Время в pcapng по скорости %1 бит/с").arg(rate)
                                 : QStringLiteral("Скорость не задана: в pcapng один бит — 1 мкс"));
    } else {
        scale_->setText(bitRate_ ? QStringLiteral("Время в VCD по скорости %1 бит/с").arg(rate)
                                 : QStringLiteral("Скорость не задана: в VCD один тик — 1 нс"));
    }
}

// A typed extension chooses the format.
void ExportDialog::fileEdited() {
    if (const std::optional<osc::ExportFormat> named = exportFormatFor(file_->text())) {
        setFormat(*named);  // names its own format: the name stays as it is
    }
}

void ExportDialog::browse() {
    QFileDialog dialog(this, QStringLiteral("Экспорт"));
    dialog.setObjectName(QStringLiteral("ExportFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(exportFilters());
    const QStringList filters = exportFilters().split(QStringLiteral(";;"));
    const int index = filterIndexOf(request().format);
    dialog.selectNameFilter(filters.value(index));
    dialog.setDefaultSuffix(suffixOf(request().format));
    if (!file_->text().trimmed().isEmpty()) {
        dialog.selectFile(file_->text().trimmed());
    }
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString& f) {
        const auto at = static_cast<std::size_t>(std::max<qsizetype>(0, filters.indexOf(f)));
        dialog.setDefaultSuffix(suffixOf(kFormats[std::min(at, kFormats.size() - 1)]));
    });
    if (runModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        setFileName(dialog.selectedFiles().constFirst());
    }
}

}  // namespace ui
