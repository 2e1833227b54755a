#include "ui/window/ReadoutPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>

#include <climits>

#include "core/view/plot_labels.h"
#include "ui/plot/OscPlot.h"
#include "ui/settings/FormStorage.h"
#include "ui/widgets/Fonts.h"
#include "ui/widgets/ReadoutLabel.h"

namespace ui {

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect bounds,
              Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(text, parent);
    if (name) {
        l->setObjectName(QString::fromLatin1(name));
    }
    l->setGeometry(bounds);
    l->setAlignment(align);
    return l;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& text, QRect bounds) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setGeometry(bounds);
    return c;
}

// A position readout: the whole text always shown (ui/widgets/ReadoutLabel.h).
QLabel* readout(QWidget* parent, const char* name, QRect bounds) {
    auto* l = new ReadoutLabel(QStringLiteral("???"), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(bounds);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

QSpinBox* spinBox(QWidget* parent, const char* name, int minimum, int maximum, int value,
                  QRect bounds) {
    auto* s = new QSpinBox(parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(minimum, maximum);
    s->setValue(value);
    s->setGeometry(bounds);
    return s;
}

}  // namespace

ReadoutPanel::ReadoutPanel(const OscPlot& plot, QWidget* parent) : QFrame(parent), plot_(plot) {
    setObjectName(QStringLiteral("Panel3"));
    setFixedHeight(63);
    setAutoFillBackground(true);
    QPalette pal = palette();
    const QColor text = QApplication::palette().color(QPalette::ToolTipBase);
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::ButtonText, text);
    setPalette(pal);
    setFont(formFont());
    QFont bold = formFont();
    bold.setBold(true);
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;

    label(this, nullptr, QStringLiteral("Маркер"), {4, 8, 59, 13}, right);
    lblMarker = readout(this, "lblMarker", {68, 8, 85, 13});
    const QLabel* cursorCaption =
        label(this, nullptr, QStringLiteral("Курсор"), {155, 8, 59, 13}, right);
    lblStrobe = readout(this, "lblStrobe", {219, 8, 85, 13});
    const QLabel* distanceCaption =
        label(this, nullptr, QStringLiteral("Разность"), {306, 8, 59, 13}, right);
    lblDiff = readout(this, "lblDiff", {370, 8, 88, 13});
    for (QLabel* l : {lblMarker, lblStrobe, lblDiff}) {
        l->setFont(bold);
    }
    const QLabel* bitsCaption =
        label(this, nullptr, QStringLiteral("Бит в окне"), {460, 8, 70, 13}, right);
    widenReadouts(
        {{lblMarker, cursorCaption}, {lblStrobe, distanceCaption}, {lblDiff, bitsCaption}});
    seWindowBitsCount =
        spinBox(this, "seWindowBitsCount", INT_MIN, INT_MAX, 100, {536, 4, 57, 21});  // no bounds
    label(this, nullptr, QStringLiteral("Бит в байте"), {593, 8, 70, 13}, right);
    seByteBitsCount = spinBox(this, "seByteBitsCount", 1, 16, 8, {669, 4, 57, 21});
    // The spin edits keep the ordinary edit colours inside the black panel.
    const QPalette normal = QApplication::palette();
    editPalette_ = pal;
    for (const QPalette::ColorRole role :
         {QPalette::Base, QPalette::Text, QPalette::Window, QPalette::WindowText, QPalette::Button,
          QPalette::ButtonText, QPalette::Highlight, QPalette::HighlightedText}) {
        editPalette_.setColor(role, normal.color(role));
    }
    for (QSpinBox* s : {seWindowBitsCount, seByteBitsCount}) {
        s->setPalette(editPalette_);
    }
    cbReverseBits = checkBox(this, "cbReverseBits", QStringLiteral("Рев"), {732, 6, 47, 17});
    cbInverseBits = checkBox(this, "cbInverseBits", QStringLiteral("Инв"), {732, 22, 47, 17});
    cbBitStaff = checkBox(this, "cbBitStaff", QStringLiteral("Стафф"), {732, 38, 60, 17});
    // The boxes keep the ordinary box and tick colours; only their captions are light.
    QPalette boxPalette = editPalette_;
    boxPalette.setColor(QPalette::WindowText, text);
    boxPalette.setColor(QPalette::Window, Qt::black);
    for (QCheckBox* c : {cbReverseBits, cbInverseBits, cbBitStaff}) {
        c->setPalette(boxPalette);
    }
    lblBitStream = label(this, "lblBitStream", QStringLiteral("XXX"), {9, 31, 715, 13});
    lblBitStream->setFont(arialNarrowFont(8));
    lblBytesDecoded = label(this, "lblBytesDecoded", QStringLiteral("XXX"), {9, 44, 715, 13});
}

void ReadoutPanel::setBitStreamOptions(const osc::BitStreamOptions& options) {
    seByteBitsCount->setValue(options.bitsPerGroup);
    cbReverseBits->setChecked(options.reverse);
    cbInverseBits->setChecked(options.invert);
    cbBitStaff->setChecked(options.unstuff);
}

void ReadoutPanel::storeSettingsIn(FormStorage& storage) {
    for (auto [component, property] : {std::pair<QWidget*, const char*>{cbReverseBits, "Checked"},
                                       {seByteBitsCount, "Value"},
                                       {seWindowBitsCount, "Value"},
                                       {cbInverseBits, "Checked"},
                                       {cbBitStaff, "Checked"}}) {
        storage.addStoredProperty(component, QString::fromLatin1(property));
    }
}

QRect ReadoutPanel::plotRect() const {
    return plot_.plotRect();
}

double ReadoutPanel::pointerBottomValue() const {
    return plot_.pointerBottomValue();
}

int ReadoutPanel::channelAtMouse() const {
    return osc::channelAtY(plot_.pointerLeftValue());
}

osc::BitStreamOptions ReadoutPanel::bitStreamOptions() const {
    osc::BitStreamOptions options;
    options.bitsPerGroup = seByteBitsCount->value();
    options.reverse = cbReverseBits->isChecked();
    options.invert = cbInverseBits->isChecked();
    options.unstuff = cbBitStaff->isChecked();
    return options;
}

void ReadoutPanel::setCursorText(const QString& text) {
    lblStrobe->setText(text);
}

void ReadoutPanel::setMarkerText(const QString& text) {
    lblMarker->setText(text);
}

void ReadoutPanel::setDistanceText(const QString& text) {
    lblDiff->setText(text);
}

void ReadoutPanel::setDecodedText(const QString& bits, const QString& values) {
    lblBitStream->setText(bits);
    lblBytesDecoded->setText(values);
}

}  // namespace ui
