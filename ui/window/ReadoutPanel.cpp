#include "ui/window/ReadoutPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <utility>

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

    markerCaption_ = label(this, nullptr, QStringLiteral("Маркер"), {4, 8, 59, 13}, right);
    lblMarker = readout(this, "lblMarker", {68, 8, 85, 13});
    cursorCaption_ = label(this, nullptr, QStringLiteral("Курсор"), {155, 8, 59, 13}, right);
    lblStrobe = readout(this, "lblStrobe", {219, 8, 85, 13});
    distanceCaption_ = label(this, nullptr, QStringLiteral("Разность"), {306, 8, 59, 13}, right);
    lblDiff = readout(this, "lblDiff", {370, 8, 88, 13});
    for (QLabel* l : {lblMarker, lblStrobe, lblDiff}) {
        l->setFont(bold);
    }
    const QLabel* bitsCaption =
        label(this, nullptr, QStringLiteral("Бит в окне"), {460, 8, 70, 13}, right);
    widenReadouts(
        {{lblMarker, cursorCaption_}, {lblStrobe, distanceCaption_}, {lblDiff, bitsCaption}});
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
    // The decode follows its options at once, not at the next mouse move.
    connect(seByteBitsCount, &QSpinBox::valueChanged, this, &ReadoutPanel::decoderOptionsChanged);
    for (QCheckBox* c : {cbReverseBits, cbInverseBits, cbBitStaff}) {
        connect(c, &QCheckBox::toggled, this, &ReadoutPanel::decoderOptionsChanged);
    }
    // The decode lines: selectable and copyable (the label's context menu), scrolled sideways
    // when longer than the panel.
    decodeArea_ = new QScrollArea(this);
    decodeArea_->setObjectName(QStringLiteral("DecodeArea"));
    decodeArea_->setFrameShape(QFrame::NoFrame);
    decodeArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    decodeArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    decodeArea_->setWidgetResizable(false);
    decodeArea_->setGeometry(9, 31, 715, 26);
    auto* decodeLines = new QWidget;
    decodeLines->setAutoFillBackground(false);
    decodeLines->setPalette(pal);
    decodeArea_->viewport()->setAutoFillBackground(false);
    auto* lines = new QVBoxLayout(decodeLines);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(0);
    lines->setSizeConstraint(QLayout::SetFixedSize);
    lblBitStream = label(decodeLines, "lblBitStream", QStringLiteral("XXX"), {0, 0, 715, 13});
    lblBitStream->setFont(arialNarrowFont(8));
    lblBytesDecoded =
        label(decodeLines, "lblBytesDecoded", QStringLiteral("XXX"), {0, 13, 715, 13});
    for (QLabel* l : {lblBitStream, lblBytesDecoded}) {
        l->setFixedHeight(13);
        l->setMinimumWidth(715);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        l->setCursor(Qt::IBeamCursor);
        lines->addWidget(l);
    }
    decodeArea_->setWidget(decodeLines);
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
    layOutReadouts();
}

void ReadoutPanel::setMarkerText(const QString& text) {
    lblMarker->setText(text);
    layOutReadouts();
}

void ReadoutPanel::setDistanceText(const QString& text) {
    lblDiff->setText(text);
    layOutReadouts();
}

void ReadoutPanel::setDecodedText(const QString& bits, const QString& values) {
    lblBitStream->setText(bits);
    lblBytesDecoded->setText(values);
    layOutReadouts();
}

void ReadoutPanel::setDecodeReason(const QString& reason) {
    lblBitStream->setToolTip(reason);
    lblBytesDecoded->setToolTip(reason);
}

QStringList ReadoutPanel::pictureLines() const {
    return {QStringLiteral("Маркер: %1    Курсор: %2    Разность: %3")
                .arg(lblMarker->text(), lblStrobe->text(), lblDiff->text()),
            QStringLiteral("Биты: ") + lblBitStream->text(),
            QStringLiteral("Значения: ") + lblBytesDecoded->text()};
}

void ReadoutPanel::layOutReadouts() {
    // The designed places while every text fits them; otherwise each readout as wide as its
    // text, the pairs flowing onto further rows before the controls at the right.
    constexpr int kRow = 15, kTop = 8, kGap = 5, kRight = 456;
    const std::pair<QLabel*, QLabel*> pairs[] = {
        {markerCaption_, lblMarker}, {cursorCaption_, lblStrobe}, {distanceCaption_, lblDiff}};
    if (designedReadouts_.isEmpty()) {
        for (const auto& [caption, readout] : pairs) {
            designedReadouts_ << caption->geometry() << readout->geometry();
        }
    }
    bool fits = true;
    int needed[3] = {};
    for (int i = 0; i < 3; ++i) {
        QLabel* readout = pairs[i].second;
        needed[i] = QFontMetrics(readout->font()).horizontalAdvance(readout->text()) + 4;
        fits = fits && needed[i] <= designedReadouts_[qsizetype{2} * i + 1].width();
    }
    int bottom = kTop + 13;
    if (fits) {
        for (int i = 0; i < 3; ++i) {
            pairs[i].first->setGeometry(designedReadouts_[qsizetype{2} * i]);
            pairs[i].second->setGeometry(designedReadouts_[qsizetype{2} * i + 1]);
        }
    } else {
        int x = 4, y = kTop;
        for (int i = 0; i < 3; ++i) {
            const int caption = designedReadouts_[qsizetype{2} * i].width();
            const int width = std::max(designedReadouts_[qsizetype{2} * i + 1].width(), needed[i]);
            if (x > 4 && x + caption + kGap + width > kRight) {
                x = 4;
                y += kRow;
            }
            pairs[i].first->setGeometry(x, y, caption, 13);
            pairs[i].second->setGeometry(x + caption + kGap, y, width, 13);
            x += caption + kGap + width + 4;
        }
        bottom = y + 13;
    }
    // The decode lines under the readouts, with a scroll bar when longer than the panel.
    QWidget* lines = decodeArea_->widget();
    lines->adjustSize();
    const int scroll =
        lines->width() > 715 ? decodeArea_->horizontalScrollBar()->sizeHint().height() : 0;
    decodeArea_->setGeometry(9, bottom + 10, 715, 26 + scroll);
    const int height = std::max(63, bottom + 10 + 26 + scroll + 6);
    if (this->height() != height) {
        setFixedHeight(height);
    }
}

}  // namespace ui
