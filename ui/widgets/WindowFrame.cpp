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

}  // namespace ui
