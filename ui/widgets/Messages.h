#pragma once
// The one place through which every message box of the program goes: the expected failures
// ("Ошибка", error icon, OK) and the default error report for an error that escapes a handler.
// Tests install a hook that records the messages instead of showing them; modal dialogs run
// through a hook of their own so that tests can answer them.

#include <QMessageBox>
#include <QString>

#include <exception>
#include <functional>
#include <utility>

#include "core/files/osc_file.h"

class QDialog;
class QWidget;

namespace ui {

// Caption of the default error report. The product name; kept apart from the window caption,
// which changes with the connection, and from QGuiApplication::applicationDisplayName, which
// the window system would append to every window title.
QString applicationTitle();

enum class MessageKind {
    Error,      // showError: an expected failure
    Exception,  // reportException: the default error report
};

struct Message {
    MessageKind kind = MessageKind::Error;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QString detail;  // the box's detail text (e.g. the system's reason), empty for none
};

using MessageHook = std::function<void(const Message&)>;

// Replaces the hook (an empty hook shows real message boxes); returns the previous one.
MessageHook setMessageHook(MessageHook hook);

// Modal message box: caption "Ошибка", error icon, OK button.
void showError(QWidget* parent, const QString& text);
// The same with a detail text under the message (the system's reason for a failure).
void showError(QWidget* parent, const QString& text, const QString& detail);

// The text of the default error report: a full stop is appended unless the text is empty or its
// last character is a full stop or sorts before it.
QString reportText(const QString& errorText);
// The default error report: the error's text (see reportText), the application title as caption,
// error icon, OK button.
void reportException(QWidget* parent, const QString& errorText);
// The same with a detail text under the message: the system's reason of a FileError, whose
// text stays as the error names it.
void reportException(QWidget* parent, const QString& errorText, const QString& detail);

// Runs f; an exception that escapes it is shown by the default error report and the event
// loop goes on.
template <class F>
void guarded(QWidget* parent, F&& f) noexcept {
    try {
        std::forward<F>(f)();
    } catch (const osc::FileError& e) {
        reportException(parent, QString::fromUtf8(e.what()), QString::fromStdString(e.reason()));
    } catch (const std::exception& e) {
        reportException(parent, QString::fromUtf8(e.what()));
    } catch (...) {
        reportException(parent, QStringLiteral("Unknown error"));
    }
}

// Where a part of the window sends its messages; the form hands its parts a WindowMessages, and
// tests a recorder.
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // An expected failure: showError above.
    virtual void showError(const QString& text, const QString& detail = {}) = 0;
    // An error that escaped a handler: the default error report.
    virtual void reportException(const QString& errorText) = 0;
    // A FileError that escaped a handler: the same report with the system's reason as detail.
    virtual void reportFileError(const QString& errorText, const QString& reason) {
        (void)reason;
        reportException(errorText);
    }
};

// The message boxes of a window.
class WindowMessages final : public MessageSink {
  public:
    explicit WindowMessages(QWidget* parent) : parent_(parent) {}
    void showError(const QString& text, const QString& detail) override {
        ui::showError(parent_, text, detail);
    }
    void reportException(const QString& errorText) override {
        ui::reportException(parent_, errorText);
    }
    void reportFileError(const QString& errorText, const QString& reason) override {
        ui::reportException(parent_, errorText, reason);
    }

  private:
    QWidget* parent_;
};

// Runs f; an exception that escapes it goes to the sink's default error report.
template <class F>
void guarded(MessageSink& sink, F&& f) noexcept {
    try {
        std::forward<F>(f)();
    } catch (const osc::FileError& e) {
        sink.reportFileError(QString::fromUtf8(e.what()), QString::fromStdString(e.reason()));
    } catch (const std::exception& e) {
        sink.reportException(QString::fromUtf8(e.what()));
    } catch (...) {
        sink.reportException(QStringLiteral("Unknown error"));
    }
}

// Runs a dialog modally and returns its result (QDialog::exec unless a hook is installed).
using ModalHook = std::function<int(QDialog&)>;
ModalHook setModalHook(ModalHook hook);
int runModal(QDialog& dialog);

// Installs a hook for the lifetime of the object (tests).
class ScopedMessageHook {
  public:
    explicit ScopedMessageHook(MessageHook hook) : previous_(setMessageHook(std::move(hook))) {}
    ~ScopedMessageHook() { setMessageHook(std::move(previous_)); }
    ScopedMessageHook(const ScopedMessageHook&) = delete;
    ScopedMessageHook& operator=(const ScopedMessageHook&) = delete;

  private:
    MessageHook previous_;
};

class ScopedModalHook {
  public:
    explicit ScopedModalHook(ModalHook hook) : previous_(setModalHook(std::move(hook))) {}
    ~ScopedModalHook() { setModalHook(std::move(previous_)); }
    ScopedModalHook(const ScopedModalHook&) = delete;
    ScopedModalHook& operator=(const ScopedModalHook&) = delete;

  private:
    ModalHook previous_;
};

}  // namespace ui
