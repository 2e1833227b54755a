#include "ui/widgets/ReadoutLabel.h"

#include <QAbstractSpinBox>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSpinBox>

#include <algorithm>

namespace ui {

namespace {
double fittingPointSize(QFont f, const QString& text, int room, double size);
}  // namespace

QFont ReadoutLabel::fittedFont() const {
    QFont f = font();
    const int room = contentsRect().width() - 2 * margin();
    const QString shown = text();
    double size = f.pointSizeF();
    if (size <= 0 || QFontMetrics(f).horizontalAdvance(shown) <= room) {
        return f;
    }
    // Half a point at a time: a handful of steps from 8 pt to the floor.
    f.setPointSizeF(fittingPointSize(f, shown, room, size - 0.5));
    return f;
}

void ReadoutLabel::paintEvent(QPaintEvent* event) {
    const QFont fitted = fittedFont();
    if (fitted == font()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.setFont(fitted);
    const QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&p, r, static_cast<int>(alignment()), palette(), isEnabled(), text(),
                          foregroundRole());
}

namespace {

// The smallest size, down from size by half points, at which text fits room; the floor when
// none does.
double fittingPointSize(QFont f, const QString& text, int room, double size) {
    while (size > ReadoutLabel::kSmallestPointSize) {
        f.setPointSizeF(size);
        if (QFontMetrics(f).horizontalAdvance(text) <= room) {
            return size;
        }
        size = std::max(ReadoutLabel::kSmallestPointSize, size - 0.5);
    }
    return ReadoutLabel::kSmallestPointSize;
}

}  // namespace

int spinBoxTextRoom(const QAbstractSpinBox* box, QAbstractSpinBox::ButtonSymbols buttons) {
    QStyleOptionSpinBox option;
    option.initFrom(box);
    option.frame = box->hasFrame();
    option.buttonSymbols = buttons;
    option.subControls = QStyle::SC_SpinBoxEditField;
    if (buttons != QAbstractSpinBox::NoButtons) {
        option.subControls |= QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
    }
    const QRect edit =
        box->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxEditField, box);
    return edit.width() - 4;  // the edit's own margins
}

void fitSpinBoxText(QAbstractSpinBox* box) {
    static const char* const kOwnSize = "fitSpinBoxText.pointSize";
    QVariant own = box->property(kOwnSize);
    if (!own.isValid()) {
        own = box->font().pointSizeF();
        box->setProperty(kOwnSize, own);
    }
    QFont f = box->font();
    f.setPointSizeF(own.toDouble());
    const QString text = box->text();
    // A long number takes the arrows' room too (the keys and the wheel still step it).
    const bool fitsWithArrows = QFontMetrics(f).horizontalAdvance(text) <=
                                spinBoxTextRoom(box, QAbstractSpinBox::UpDownArrows);
    const QAbstractSpinBox::ButtonSymbols buttons =
        fitsWithArrows ? QAbstractSpinBox::UpDownArrows : QAbstractSpinBox::NoButtons;
    const double size = fittingPointSize(f, text, spinBoxTextRoom(box, buttons), own.toDouble());
    if (box->buttonSymbols() != buttons) {
        box->setButtonSymbols(buttons);
    }
    if (box->font().pointSizeF() != size) {
        f.setPointSizeF(size);
        box->setFont(f);
    }
}

void widenReadouts(std::initializer_list<std::pair<QLabel*, const QLabel*>> readoutAndNextCaption) {
    for (const auto& [readout, caption] : readoutAndNextCaption) {
        const QFontMetrics fm(caption->font());
        const int textLeft =
            caption->geometry().right() + 1 - fm.horizontalAdvance(caption->text());
        const int width = textLeft - 4 - readout->x();
        if (width > readout->width()) {
            readout->resize(width, readout->height());
        }
    }
}

}  // namespace ui
