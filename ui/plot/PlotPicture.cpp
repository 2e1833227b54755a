#include "ui/plot/PlotPicture.h"

#include <QBuffer>
#include <QCheckBox>
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
#include "ui/widgets/Fonts.h"
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

namespace {

constexpr int kHeaderMargin = 6;
constexpr int kHeaderFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;

QFont headerFont() {
    QFont f = formFont();
    f.setPointSizeF(std::max(9.0, f.pointSizeF()));
    return f;
}

// The header's lines, each wrapped to the width, on the look's ground.
void paintHeader(QPainter& p, const PictureLook& look, int width, int height) {
    const OscPlot::Colours colours =
        look.light ? OscPlot::Colours::print() : OscPlot::Colours::screen();
    p.fillRect(QRect(0, 0, width, height), colours.background);
    p.setPen(look.light ? QColor(Qt::black) : QColor(230, 230, 230));
    const QFont font = headerFont();
    p.setFont(font);
    const QFontMetrics fm(font);
    int y = kHeaderMargin;
    const int textWidth = std::max(1, width - 2 * kHeaderMargin);
    for (const QString& line : look.headerLines) {
        const QRect box = fm.boundingRect(QRect(0, 0, textWidth, 1 << 20), kHeaderFlags, line);
        p.drawText(QRect(kHeaderMargin, y, textWidth, box.height()), kHeaderFlags, line);
        y += box.height();
    }
}

// Paints the picture (header, then the plot below it) on a painter of the whole picture.
void paintPicture(QPainter& p, OscPlot& plot, QSize plotSize, const PictureLook& look) {
    const int header = pictureHeaderHeight(look, plotSize.width());
    if (header > 0) {
        paintHeader(p, look, plotSize.width(), header);
    }
    p.save();
    p.translate(0, header);
    plot.paintPlotAt(p, plotSize,
                     look.light ? OscPlot::Colours::print() : OscPlot::Colours::screen());
    p.restore();
}

}  // namespace

int pictureHeaderHeight(const PictureLook& look, int width) {
    if (!look.header || look.headerLines.isEmpty()) {
        return 0;
    }
    const QFontMetrics fm(headerFont());
    const int textWidth = std::max(1, width - 2 * kHeaderMargin);
    int height = 2 * kHeaderMargin;
    for (const QString& line : look.headerLines) {
        height += fm.boundingRect(QRect(0, 0, textWidth, 1 << 20), kHeaderFlags, line).height();
    }
    return std::min(height, kMaxPictureSide);
}

QImage plotImage(OscPlot& plot, QSize size, const PictureLook& look) {
    size = boundedSize(size);
    QImage image(size.width(), size.height() + pictureHeaderHeight(look, size.width()),
                 QImage::Format_RGB32);
    image.fill(look.light ? Qt::white : Qt::black);
    QPainter p(&image);
    paintPicture(p, plot, size, look);
    p.end();
    return image;
}

QByteArray plotPictureBytes(OscPlot& plot, QSize size, PictureFormat format,
                            const PictureLook& look) {
    size = boundedSize(size);
    const QSize whole(size.width(), size.height() + pictureHeaderHeight(look, size.width()));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    switch (format) {
        case PictureFormat::Png:
            plotImage(plot, size, look).save(&buffer, "PNG");
            break;
        case PictureFormat::Svg: {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(whole);
            svg.setViewBox(QRect(QPoint(0, 0), whole));
            svg.setResolution(96);
            svg.setTitle(QStringLiteral("Осциллограмма"));
            QPainter p(&svg);
            paintPicture(p, plot, size, look);
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
                QPageSize(QSizeF(whole), QPageSize::Point, QString(), QPageSize::ExactMatch),
                QPageLayout::Portrait, QMarginsF()));
            QPainter p(&pdf);
            paintPicture(p, plot, size, look);
            p.end();
            break;
        }
    }
    return bytes;
}

void savePlotPicture(OscPlot& plot, const QString& fileName, QSize size, const PictureLook& look) {
    const std::optional<PictureFormat> format = pictureFormatFor(fileName);
    if (!format) {
        throw std::runtime_error(
            "Формат изображения задаётся расширением файла: .png, .svg или .pdf");
    }
    const QByteArray bytes = plotPictureBytes(plot, size, *format, look);
    osc::writeFileAtomically(
        std::filesystem::path(fileName.toStdString()),
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void copyPlotPicture(OscPlot& plot, const PictureLook& look) {
    QGuiApplication::clipboard()->setImage(plotImage(plot, plot.size(), look));
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
    header_ =
        new QCheckBox(QStringLiteral("Заголовок: устройство, файл, отсчёты, декодирование"), this);
    header_->setObjectName(QStringLiteral("cbPictureHeader"));
    header_->setToolTip(
        QStringLiteral("Над графиком: устройство, файл или время захвата, "
                       "маркер, курсор, разность и декодированная строка"));
    light_ = new QCheckBox(QStringLiteral("Светлый фон для печати"), this);
    light_->setObjectName(QStringLiteral("cbPictureLight"));
    light_->setToolTip(QStringLiteral("Тёмные линии на белом вместо экранных цветов"));
    form->addRow(QString(), header_);
    form->addRow(QString(), light_);

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

bool PictureDialog::header() const {
    return header_->isChecked();
}

bool PictureDialog::light() const {
    return light_->isChecked();
}

void PictureDialog::setHeader(bool on) {
    header_->setChecked(on);
}

void PictureDialog::setLight(bool on) {
    light_->setChecked(on);
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
