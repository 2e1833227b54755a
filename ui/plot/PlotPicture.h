#pragma once
// Pictures of the plot as it shows now (the visible window, the marker and the cursor): PNG,
// SVG (the traces as path elements) or PDF at a chosen size, saved to a file that is replaced
// only once fully written, or copied to the clipboard. Only the visible window is drawn, so a
// picture of a huge capture costs no more than a repaint.

#include <QByteArray>
#include <QDialog>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

class OscPlot;
class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace ui {

enum class PictureFormat { Png, Svg, Pdf };

// The format that a file name's extension names (case ignored), or nullopt.
std::optional<PictureFormat> pictureFormatFor(const QString& fileName);

// The largest side of a picture in pixels.
inline constexpr int kMaxPictureSide = 8000;

// How a picture for a report looks: with a header above the plot (its lines: the device, file
// or capture time, the readouts, the decoded line; wrapped to the width, never cut), and in the
// screen's colours or a light, print-friendly set.
struct PictureLook {
    bool header = false;
    bool light = false;
    QStringList headerLines;
};

// The header's height above a plot `width` pixels wide (0 without a header).
int pictureHeaderHeight(const PictureLook& look, int width);
// The plot painted at `size` (each side 1 to kMaxPictureSide), the header above it when asked
// for: the picture is then taller by the header's height.
QImage plotImage(OscPlot& plot, QSize size, const PictureLook& look = {});
// The file's bytes: PNG; SVG with the size in pixels as its view box; PDF one page of the
// size in points.
QByteArray plotPictureBytes(OscPlot& plot, QSize size, PictureFormat format,
                            const PictureLook& look = {});
// Saves the picture in the format of the file's extension. Throws std::runtime_error for an
// extension that names no format, osc::FileError when the file cannot be written.
void savePlotPicture(OscPlot& plot, const QString& fileName, QSize size,
                     const PictureLook& look = {});
// The picture at the plot's own size on the clipboard.
void copyPlotPicture(OscPlot& plot, const PictureLook& look = {});

// "Сохранить изображение": the file name (with a browse button whose filters name the
// formats), and the width and height, which start at the plot's size.
class PictureDialog : public QDialog {
    Q_OBJECT
  public:
    PictureDialog(QWidget* parent, const QString& fileName, QSize size);

    QString fileName() const;
    QSize pictureSize() const;
    void setFileName(const QString& name);
    void setPictureSize(QSize size);
    // "Заголовок" and "Светлый фон" (their object names cbPictureHeader, cbPictureLight).
    bool header() const;
    bool light() const;
    void setHeader(bool on);
    void setLight(bool on);

    // OK: a file name whose extension names a format, or the message box saying so.
    void accept() override;

  private:
    void browse();

    QLineEdit* file_ = nullptr;
    QSpinBox* width_ = nullptr;
    QSpinBox* height_ = nullptr;
    QCheckBox* header_ = nullptr;
    QCheckBox* light_ = nullptr;
};

}  // namespace ui
