#include "ui/window/NavigationPart.h"

#include <QAction>
#include <QInputDialog>
#include <QSpinBox>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "core/view/plot_navigation.h"
#include "core/view/plot_window.h"
#include "ui/plot/PlotState.h"
#include "ui/widgets/ActionKeys.h"
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

NavigationPart::NavigationPart(const osc::ChannelTraces& traces, PlotState& plot, QWidget* window,
                               QSpinBox* bits)
    : QObject(window),
      traces_(traces),
      plot_(plot),
      window_(window),
      bits_(bits),
      chosenBits_(bits->value()) {
    connect(&plot, &PlotState::windowChanged, this, [this](osc::WindowChange change) {
        if (osc::followersOf(change).bitCount) {
            followWidth();
        }
    });
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
    return a;
}

void NavigationPart::setWindow(const osc::AxisRange& range) {
    plot_.setWindow(range, osc::WindowChange::Action);
}

void NavigationPart::bitCountChanged(int bits) {
    osc::PlotWindow w = plot_.window();
    osc::applyWindowBits(w, bits);
    plot_.setWindow({w.minimum(), w.maximum()}, osc::WindowChange::BitCount);
    chosenBits_ = bits;
}

void NavigationPart::undoZoom() {
    osc::PlotWindow w = plot_.window();
    osc::applyWindowBits(w, chosenBits_);
    plot_.setWindow({w.minimum(), w.maximum()}, osc::WindowChange::Mouse);
    followWidth();  // also when the window already had that width
}

void NavigationPart::zoomToFit() {
    if (const std::optional<osc::AxisRange> extent = osc::captureExtent(traces_)) {
        setWindow(*extent);
    }
}

void NavigationPart::zoomBy(double factor) {
    if (const std::optional<osc::AxisRange> zoomed =
            osc::zoomWindowStep(plot_.windowRange(), factor)) {
        setWindow(*zoomed);
    }
}

void NavigationPart::pan(double fractionOfWidth) {
    setWindow(osc::panWindow(plot_.windowRange(), fractionOfWidth));
}

void NavigationPart::centreOn(double tick) {
    setWindow(osc::windowCentredAt(plot_.windowRange(), tick));
}

void NavigationPart::goToBit() {
    const osc::AxisRange now = plot_.windowRange();
    const double middle = (now.minimum + now.maximum) / 2;
    const std::optional<osc::AxisRange> extent = osc::captureExtent(traces_);
    const std::int64_t last =
        std::max<std::int64_t>(0, osc::bitAt(extent ? extent->maximum : now.maximum));
    const std::int64_t initial = std::clamp<std::int64_t>(osc::bitAt(middle), 0, last);
    if (const std::optional<std::int64_t> bit = askBitNumber(window_, initial, last)) {
        centreOn(static_cast<double>(*bit) * static_cast<double>(osc::kTicksPerBit));
    }
}

void NavigationPart::followWidth() {
    if (!bits_) {
        return;
    }
    const int shown = osc::windowBitsOf(plot_.windowRange());
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
