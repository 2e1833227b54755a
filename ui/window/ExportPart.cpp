#include "ui/window/ExportPart.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "core/files/replacing_file.h"
#include "core/view/plot_labels.h"
#include "core/view/time_text.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

constexpr std::size_t kChangesPerStep = 4096;
constexpr std::size_t kWriteChunk = 1 << 20;

QString suffixOf(osc::ExportFormat format) {
    return format == osc::ExportFormat::Vcd ? QStringLiteral("vcd") : QStringLiteral("csv");
}

QString exportFilters() {
    return QStringLiteral("Дамп изменений VCD (*.vcd);;Таблица CSV (*.csv)");
}

QString bitsText(osc::Tick ticks) {
    return QString::fromStdString(osc::TicksToBitText(ticks));
}

}  // namespace

bool writeTraceExport(const osc::ChannelTraces& traces, const ExportRequest& request,
                      std::optional<double> bitRate, ExportProgress& progress) {
    osc::TraceExport writer(traces, request.format, bitRate, request.stretch);
    osc::ReplacingFileWriter file(std::filesystem::path(request.fileName.toStdString()));
    std::string chunk;
    bool more = true;
    while (more) {
        more = writer.next(chunk, kChangesPerStep);
        if (chunk.size() >= kWriteChunk || (!more && !chunk.empty())) {
            file.write(chunk);
            chunk.clear();
        }
        progress.setProgress(writer.progress());
        if (progress.cancelled()) {
            file.abandon();
            return false;
        }
    }
    file.commit();
    return true;
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
    return std::nullopt;
}

ExportDialog::ExportDialog(QWidget* parent, const QString& fileName,
                           std::optional<osc::ExportStretch> stretch, std::optional<double> bitRate)
    : QDialog(parent), stretch_(stretch) {
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
    auto* formatGroup = new QButtonGroup(this);
    formatGroup->addButton(vcd_);
    formatGroup->addButton(csv_);
    formats->addWidget(vcd_);
    formats->addWidget(csv_);
    formats->addStretch(1);
    form->addRow(QStringLiteral("Формат"), formats);
    (exportFormatFor(fileName) == osc::ExportFormat::Csv ? csv_ : vcd_)->setChecked(true);

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

    auto* scale = new QLabel(bitRate ? QStringLiteral("Время в VCD по скорости %1 бит/с")
                                           .arg(QString::fromStdString(osc::bitRateText(*bitRate)))
                                     : QStringLiteral("Скорость не задана: в VCD один тик — 1 нс"),
                             this);
    scale->setObjectName(QStringLiteral("lblTimeScale"));
    form->addRow(scale);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Экспорт"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ExportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ExportDialog::reject);
    form->addRow(buttons);

    connect(vcd_, &QRadioButton::toggled, this, &ExportDialog::formatChosen);
    connect(file_, &QLineEdit::textEdited, this, &ExportDialog::fileEdited);
}

ExportRequest ExportDialog::request() const {
    ExportRequest r;
    r.fileName = file_->text().trimmed();
    r.format = csv_->isChecked() ? osc::ExportFormat::Csv : osc::ExportFormat::Vcd;
    if (stretchButton_->isChecked()) {
        r.stretch = stretch_;
    }
    return r;
}

void ExportDialog::setFileName(const QString& name) {
    file_->setText(name);
    fileEdited();
}

void ExportDialog::setFormat(osc::ExportFormat format) {
    (format == osc::ExportFormat::Csv ? csv_ : vcd_)->setChecked(true);
}

void ExportDialog::setStretchChosen(bool on) {
    (on && stretchButton_->isEnabled() ? stretchButton_ : whole_)->setChecked(true);
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

// The extension follows the format when it names the other one.
void ExportDialog::formatChosen() {
    const QString name = file_->text();
    const std::optional<osc::ExportFormat> named = exportFormatFor(name);
    const osc::ExportFormat chosen = request().format;
    if (named && *named != chosen) {
        file_->setText(name.left(name.size() - 3) + suffixOf(chosen));
    }
}

// A typed extension chooses the format.
void ExportDialog::fileEdited() {
    if (const std::optional<osc::ExportFormat> named = exportFormatFor(file_->text())) {
        const QSignalBlocker quiet(vcd_);
        setFormat(*named);
    }
}

void ExportDialog::browse() {
    QFileDialog dialog(this, QStringLiteral("Экспорт"));
    dialog.setObjectName(QStringLiteral("ExportFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(exportFilters());
    const QStringList filters = exportFilters().split(QStringLiteral(";;"));
    const int index = request().format == osc::ExportFormat::Csv ? 1 : 0;
    dialog.selectNameFilter(filters.value(index));
    dialog.setDefaultSuffix(index == 1 ? QStringLiteral("csv") : QStringLiteral("vcd"));
    if (!file_->text().trimmed().isEmpty()) {
        dialog.selectFile(file_->text().trimmed());
    }
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString& f) {
        dialog.setDefaultSuffix(filters.indexOf(f) == 1 ? QStringLiteral("csv")
                                                        : QStringLiteral("vcd"));
    });
    if (runModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        setFileName(dialog.selectedFiles().constFirst());
    }
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

}  // namespace ui
