#include "ui/window/NavigationPart.h"

#include <QAction>
#include <QInputDialog>
#include <QSpinBox>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "core/view/plot_navigation.h"
#include "ui/widgets/Messages.h"
#include "ui/widgets/ReadoutLabel.h"
#include "ui/widgets/SvgIcon.h"

namespace ui {

namespace {

// 16 by 16 tool bar images in the style of the others.
constexpr const char* kFitSvg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16">
  <path d="M1.5 2 V14 M14.5 2 V14" stroke="#3a4a66" stroke-width="1.5"/>
  <path d="M3 8 H13" stroke="#2f6fb3" stroke-width="1.5"/>
  <path d="M3 8 L6 5 V11 Z M13 8 L10 5 V11 Z" fill="#2f6fb3"/>
</svg>)";
constexpr const char* kGoToBitSvg =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16">
  <path d="M11.5 1.5 V14.5" stroke="#c0392b" stroke-width="1.5"/>
  <path d="M1 8 H8" stroke="#2f6fb3" stroke-width="1.5"/>
  <path d="M10 8 L6 4.5 V11.5 Z" fill="#2f6fb3"/>
</svg>)";

}  // namespace

void keyed(QAction* action, const QList<QKeySequence>& keys) {
    action->setShortcuts(keys);
    QString tip = action->text();
    if (!keys.isEmpty()) {
        tip += QStringLiteral(" (") + keys.front().toString(QKeySequence::NativeText) +
               QLatin1Char(')');
    }
    action->setToolTip(tip);
}

NavigationPart::NavigationPart(osc::CaptureEngine& engine, QWidget* window, QSpinBox* bits,
                               std::function<void()> windowMoved)
    : QObject(window),
      engine_(engine),
      window_(window),
      bits_(bits),
      windowMoved_(std::move(windowMoved)),
      chosenBits_(bits->value()) {
    // A whole capture's count of bits may be wider than the field.
    connect(bits, &QSpinBox::textChanged, this, [this] { fitSpinBoxText(bits_); });
    fit_ = make("actZoomFit", QStringLiteral("Весь график"), {QKeySequence(Qt::Key_Home)}, kFitSvg,
                [this] { zoomToFit(); });
    goToBit_ = make("actGoToBit", QStringLiteral("Перейти к биту…"),
                    {QKeySequence(Qt::CTRL | Qt::Key_G)}, kGoToBitSvg, [this] { goToBit(); });
    make("actZoomIn", QStringLiteral("Увеличить"),
         {QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)}, nullptr,
         [this] { zoomBy(0.5); });
    make("actZoomOut", QStringLiteral("Уменьшить"), {QKeySequence(Qt::Key_Minus)}, nullptr,
         [this] { zoomBy(2); });
    make("actPanLeft", QStringLiteral("Влево"), {QKeySequence(Qt::Key_Left)}, nullptr,
         [this] { pan(-0.1); });
    make("actPanRight", QStringLiteral("Вправо"), {QKeySequence(Qt::Key_Right)}, nullptr,
         [this] { pan(0.1); });
    make("actPageLeft", QStringLiteral("На окно влево"), {QKeySequence(Qt::Key_PageUp)}, nullptr,
         [this] { pan(-1); });
    make("actPageRight", QStringLiteral("На окно вправо"), {QKeySequence(Qt::Key_PageDown)},
         nullptr, [this] { pan(1); });
}

QList<QAction*> NavigationPart::actions() const {
    return actions_;
}

QAction* NavigationPart::make(const char* name, const QString& caption,
                              const QList<QKeySequence>& keys, const char* svg,
                              std::function<void()> run) {
    auto* a = new QAction(caption, window_);
    a->setObjectName(QString::fromLatin1(name));
    if (svg) {
        a->setIcon(svgTextIcon(QByteArray(svg)));
    }
    keyed(a, keys);
    window_->addAction(a);  // the keys work wherever the window's focus is
    connect(a, &QAction::triggered, this,
            [this, run = std::move(run)] { guarded(window_, [&] { run(); }); });
    actions_.push_back(a);
    return a;
}

void NavigationPart::setWindow(const osc::AxisRange& range) {
    engine_.window.setMinMax(range.minimum, range.maximum);
    followWidth();
    if (windowMoved_) {
        windowMoved_();
    }
}

void NavigationPart::zoomToFit() {
    if (const std::optional<osc::AxisRange> extent = osc::captureExtent(engine_.traces)) {
        setWindow(*extent);
    }
}

void NavigationPart::zoomBy(double factor) {
    const osc::AxisRange now{engine_.window.minimum(), engine_.window.maximum()};
    if (const std::optional<osc::AxisRange> zoomed = osc::zoomWindowStep(now, factor)) {
        setWindow(*zoomed);
    }
}

void NavigationPart::pan(double fractionOfWidth) {
    setWindow(
        osc::panWindow({engine_.window.minimum(), engine_.window.maximum()}, fractionOfWidth));
}

void NavigationPart::centreOn(double tick) {
    setWindow(osc::windowCentredAt({engine_.window.minimum(), engine_.window.maximum()}, tick));
}

void NavigationPart::goToBit() {
    const double middle = (engine_.window.minimum() + engine_.window.maximum()) / 2;
    const std::optional<osc::AxisRange> extent = osc::captureExtent(engine_.traces);
    const std::int64_t last =
        std::max<std::int64_t>(0, osc::bitAt(extent ? extent->maximum : engine_.window.maximum()));
    const std::int64_t initial = std::clamp<std::int64_t>(osc::bitAt(middle), 0, last);
    if (const std::optional<std::int64_t> bit = askBitNumber(window_, initial, last)) {
        centreOn(static_cast<double>(*bit) * static_cast<double>(osc::kTicksPerBit));
    }
}

void NavigationPart::followWidth() {
    if (!bits_) {
        return;
    }
    const int shown = osc::windowBitsOf({engine_.window.minimum(), engine_.window.maximum()});
    if (bits_->value() != shown) {
        const QSignalBlocker quiet(bits_);  // shows the width; the width stays as it is
        bits_->setValue(shown);
        fitSpinBoxText(bits_);
    }
}

std::optional<std::int64_t> askBitNumber(QWidget* parent, std::int64_t initial, std::int64_t last) {
    QInputDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("GoToBitDialog"));
    dialog.setWindowTitle(QStringLiteral("Перейти к биту"));
    dialog.setLabelText(QStringLiteral("Номер бита, от 0 до %1:").arg(last));
    dialog.setInputMode(QInputDialog::DoubleInput);
    dialog.setDoubleDecimals(0);
    dialog.setDoubleRange(0, static_cast<double>(last));
    dialog.setDoubleValue(static_cast<double>(initial));
    if (runModal(dialog) != QDialog::Accepted) {
        return std::nullopt;
    }
    const double value =
        std::clamp(std::round(dialog.doubleValue()), 0.0, static_cast<double>(last));
    return static_cast<std::int64_t>(value);
}

}  // namespace ui
