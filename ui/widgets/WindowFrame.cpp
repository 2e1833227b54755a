#include "ui/widgets/WindowFrame.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace ui {

OuterFrame::OuterFrame(QWidget& window) : QObject(&window), window_(&window) {
    setObjectName(QStringLiteral("OuterFrame"));
    window.installEventFilter(this);
}

OuterFrame* OuterFrame::of(const QWidget& window) {
    return window.findChild<OuterFrame*>(QStringLiteral("OuterFrame"), Qt::FindDirectChildrenOnly);
}

QMargins OuterFrame::margins(const QWidget& window) {
    const QWindow* handle = window.windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

void OuterFrame::place(QWidget& window, const QRect& frame) {
    OuterFrame* self = of(window);
    if (!self) {
        self = new OuterFrame(window);
    }
    self->wanted_ = frame;
    self->apply();
}

void OuterFrame::apply() {
    QWidget& w = *window_;
    const QMargins m = margins(w);
    w.move(wanted_.topLeft());
    const bool resizable = w.minimumSize() != w.maximumSize();
    if (resizable) {
        const QSize client(std::max(1, wanted_.width() - m.left() - m.right()),
                           std::max(1, wanted_.height() - m.top() - m.bottom()));
        w.resize(client);
    }
    clientSet_ = w.size();
    pending_ = m.isNull() && resizable;
}

QRect OuterFrame::normalFrame(const QWidget& window) {
    if (const OuterFrame* self = of(window); self && self->pending_) {
        return self->wanted_;
    }
    if (!window.isMaximized() && !window.isFullScreen()) {
        return window.frameGeometry();
    }
    return window.normalGeometry().marginsAdded(margins(window));
}

bool OuterFrame::eventFilter(QObject* watched, QEvent* event) {
    if (pending_ && watched == window_) {
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::WindowActivate:
                if (window_->size() != clientSet_) {
                    pending_ = false;  // resized meanwhile: the user's size stands
                } else if (!margins(*window_).isNull()) {
                    apply();
                }
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

QRect reachableFrame(const QRect& frame, const QList<QRect>& screens, int titleHeight) {
    const int title = std::max(1, titleHeight);
    const QRect strip(frame.left(), frame.top(), std::max(1, frame.width()), title);
    const QRect* nearest = nullptr;
    long long nearestDistance = 0;
    for (const QRect& screen : screens) {
        if (screen.isEmpty()) {
            continue;
        }
        const QRect on = strip.intersected(screen);
        if (on.width() >= std::min(kTitleGrip, strip.width()) && on.height() >= (title + 1) / 2) {
            return frame;
        }
        // The gap between the strip and the screen, along each axis.
        const long long dx =
            std::max({0, screen.left() - strip.right(), strip.left() - screen.right()});
        const long long dy =
            std::max({0, screen.top() - strip.bottom(), strip.top() - screen.bottom()});
        const long long distance = dx * dx + dy * dy;
        if (!nearest || distance < nearestDistance) {
            nearest = &screen;
            nearestDistance = distance;
        }
    }
    if (!nearest) {
        return frame;
    }
    const QRect& s = *nearest;
    const int left = frame.width() >= s.width()
                         ? s.left()
                         : std::clamp(frame.left(), s.left(), s.left() + s.width() - frame.width());
    const int top = std::clamp(frame.top(), s.top(), std::max(s.top(), s.bottom() + 1 - title));
    return QRect(QPoint(left, top), frame.size());
}

}  // namespace ui
