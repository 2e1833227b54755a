#include "ui/plot/PlotPicture.h"

#include <QBuffer>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSpinBox>
#include <QSvgGenerator>

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "core/files/osc_file.h"
#include "ui/plot/OscPlot.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

QSize boundedSize(QSize size) {
    return {std::clamp(size.width(), 1, kMaxPictureSide),
            std::clamp(size.height(), 1, kMaxPictureSide)};
}

QString pictureFilters() {
    return QStringLiteral("Изображение PNG (*.png);;Рисунок SVG (*.svg);;Документ PDF (*.pdf)");
}

}  // namespace

std::optional<PictureFormat> pictureFormatFor(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("png")) {
        return PictureFormat::Png;
    }
    if (suffix == QLatin1String("svg")) {
        return PictureFormat::Svg;
    }
    if (suffix == QLatin1String("pdf")) {
        return PictureFormat::Pdf;
    }
    return std::nullopt;
}

QImage plotImage(OscPlot& plot, QSize size) {
    size = boundedSize(size);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    plot.paintPlotAt(p, size);
    p.end();
    return image;
}

QByteArray plotPictureBytes(OscPlot& plot, QSize size, PictureFormat format) {
    size = boundedSize(size);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    switch (format) {
        case PictureFormat::Png:
            plotImage(plot, size).save(&buffer, "PNG");
            break;
        case PictureFormat::Svg: {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(size);
            svg.setViewBox(QRect(QPoint(0, 0), size));
            svg.setResolution(96);
            svg.setTitle(QStringLiteral("Осциллограмма"));
            QPainter p(&svg);
            plot.paintPlotAt(p, size);
            p.end();
            break;
        }
        case PictureFormat::Pdf: {
            // One page of the picture's size, a pixel a point.
            QPdfWriter pdf(&buffer);
            pdf.setTitle(QStringLiteral("Осциллограмма"));
            pdf.setCreator(QStringLiteral("МорвелIP-осциллограф"));
            pdf.setResolution(72);
            pdf.setPageLayout(QPageLayout(
                QPageSize(QSizeF(size), QPageSize::Point, QString(), QPageSize::ExactMatch),
                QPageLayout::Portrait, QMarginsF()));
            QPainter p(&pdf);
            plot.paintPlotAt(p, size);
            p.end();
            break;
        }
    }
    return bytes;
}

void savePlotPicture(OscPlot& plot, const QString& fileName, QSize size) {
    const std::optional<PictureFormat> format = pictureFormatFor(fileName);
    if (!format) {
        throw std::runtime_error(
            "Формат изображения задаётся расширением файла: .png, .svg или .pdf");
    }
    const QByteArray bytes = plotPictureBytes(plot, size, *format);
    osc::writeFileAtomically(
        std::filesystem::path(fileName.toStdString()),
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void copyPlotPicture(OscPlot& plot) {
    QGuiApplication::clipboard()->setImage(plotImage(plot, plot.size()));
}

PictureDialog::PictureDialog(QWidget* parent, const QString& fileName, QSize size)
    : QDialog(parent) {
    setObjectName(QStringLiteral("PictureDialog"));
    setWindowTitle(QStringLiteral("Сохранить изображение"));
    auto* form = new QFormLayout(this);

    auto* fileRow = new QHBoxLayout;
    file_ = new QLineEdit(fileName, this);
    file_->setObjectName(QStringLiteral("edFile"));
    file_->setMinimumWidth(280);
    file_->setToolTip(QStringLiteral("Формат по расширению: .png, .svg или .pdf"));
    auto* browse = new QPushButton(QStringLiteral("Обзор…"), this);
    browse->setObjectName(QStringLiteral("btnBrowse"));
    connect(browse, &QPushButton::clicked, this, &PictureDialog::browse);
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(browse);
    form->addRow(QStringLiteral("Файл"), fileRow);

    auto side = [this](const char* name, int value) {
        auto* s = new QSpinBox(this);
        s->setObjectName(QString::fromLatin1(name));
        s->setRange(1, kMaxPictureSide);
        s->setSuffix(QStringLiteral(" пикс."));
        s->setValue(value);
        return s;
    };
    width_ = side("seWidth", size.width());
    height_ = side("seHeight", size.height());
    form->addRow(QStringLiteral("Ширина"), width_);
    form->addRow(QStringLiteral("Высота"), height_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Сохранить"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &PictureDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PictureDialog::reject);
    form->addRow(buttons);
}

QString PictureDialog::fileName() const {
    return file_->text().trimmed();
}

QSize PictureDialog::pictureSize() const {
    return {width_->value(), height_->value()};
}

void PictureDialog::setFileName(const QString& name) {
    file_->setText(name);
}

void PictureDialog::setPictureSize(QSize size) {
    width_->setValue(size.width());
    height_->setValue(size.height());
}

void PictureDialog::accept() {
    if (fileName().isEmpty() || !pictureFormatFor(fileName())) {
        showError(this, QStringLiteral("Укажите файл с расширением .png, .svg или .pdf"));
        return;
    }
    QDialog::accept();
}

void PictureDialog::browse() {
    QFileDialog dialog(this, QStringLiteral("Сохранить изображение"));
    dialog.setObjectName(QStringLiteral("PictureFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(pictureFilters());
    const QString current = fileName();
    if (!current.isEmpty()) {
        dialog.selectFile(current);
    }
    const std::optional<PictureFormat> format = pictureFormatFor(current);
    const QStringList filters = pictureFilters().split(QStringLiteral(";;"));
    const int index = format ? static_cast<int>(*format) : 0;
    dialog.selectNameFilter(filters.value(index));
    dialog.setDefaultSuffix(
        QStringList{QStringLiteral("png"), QStringLiteral("svg"), QStringLiteral("pdf")}.value(
            index));
    // The default extension follows the chosen filter.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString& f) {
        const int i = static_cast<int>(filters.indexOf(f));
        dialog.setDefaultSuffix(
            QStringList{QStringLiteral("png"), QStringLiteral("svg"), QStringLiteral("pdf")}.value(
                std::max(i, 0)));
    });
    if (runModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        file_->setText(dialog.selectedFiles().constFirst());
    }
}

}  // namespace ui
