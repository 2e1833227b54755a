#include "ui/widgets/Messages.h"

#include <QDialog>

namespace ui {

namespace {
MessageHook& messageHook() {
    static MessageHook hook;
    return hook;
}
ModalHook& modalHook() {
    static ModalHook hook;
    return hook;
}

void show(QWidget* parent, const Message& message) {
    if (const MessageHook& hook = messageHook()) {
        hook(message);
        return;
    }
    QMessageBox box(message.icon, message.caption, message.text, QMessageBox::Ok, parent);
    if (!message.detail.isEmpty()) {
        box.setDetailedText(message.detail);
    }
    box.exec();
}
}  // namespace

QString applicationTitle() {
    return QStringLiteral("МорвелIP-осциллограф");
}

MessageHook setMessageHook(MessageHook hook) {
    MessageHook previous = std::move(messageHook());
    messageHook() = std::move(hook);
    return previous;
}

void showError(QWidget* parent, const QString& text) {
    showError(parent, text, QString());
}

void showError(QWidget* parent, const QString& text, const QString& detail) {
    show(parent, Message{MessageKind::Error, QStringLiteral("Ошибка"), text, QMessageBox::Critical,
                         detail});
}

QString reportText(const QString& errorText) {
    if (!errorText.isEmpty() && errorText.back() > QLatin1Char('.')) {
        return errorText + QLatin1Char('.');
    }
    return errorText;
}

void reportException(QWidget* parent, const QString& errorText) {
    reportException(parent, errorText, QString());
}

void reportException(QWidget* parent, const QString& errorText, const QString& detail) {
    show(parent, Message{MessageKind::Exception, applicationTitle(), reportText(errorText),
                         QMessageBox::Critical, detail});
}

ModalHook setModalHook(ModalHook hook) {
    ModalHook previous = std::move(modalHook());
    modalHook() = std::move(hook);
    return previous;
}

int runModal(QDialog& dialog) {
    if (const ModalHook& hook = modalHook()) {
        return hook(dialog);
    }
    return dialog.exec();
}

}  // namespace ui
