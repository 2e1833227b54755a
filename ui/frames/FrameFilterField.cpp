#include "ui/frames/FrameFilterField.h"

#include <QApplication>
#include <QLineEdit>

namespace ui {

namespace {

constexpr int kMaxEntryLength = 4096;  // longer stored texts are not taken back
const QColor kWrongBase(255, 214, 214);

QString helpText() {
    return QStringLiteral(
        "Фильтр кадров (Ctrl+F), Enter — применить, пустое поле — все кадры.\n"
        "Пример: address == 5 && (issue == no_answer || rt > 20)\n"
        "Поля: index, channel, start, end, bits, status, error, address, type, command, ns, nr, "
        "pf, role, issue, rt, rt_ms;\n"
        "сравнения == != < <= > >=, bytes ~ \"7E ?? 01\", && || ! и скобки.");
}

}  // namespace

FrameFilterField::FrameFilterField(QWidget* parent) : QComboBox(parent) {
    setObjectName(QStringLiteral("cmbFrameExpr"));
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumContentsLength(24);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    lineEdit()->setPlaceholderText(
        QStringLiteral("Фильтр кадров, например: address == 5 && issue == no_answer"));
    lineEdit()->setClearButtonEnabled(true);
    setToolTip(helpText());
    connect(this, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (filling_) {
            return;
        }
        check();
        if (text.trimmed().isEmpty() && !applied_.isEmpty()) {
            apply(QString());
        }
    });
    connect(lineEdit(), &QLineEdit::returnPressed, this, [this] { applyText(); });
    connect(this, &QComboBox::textActivated, this, [this](const QString& text) {
        if (!filling_) {
            apply(text);
        }
    });
}

QString FrameFilterField::errorMessage() const {
    return error_
               ? QString::fromStdString(osc::filterErrorText(*error_, osc::FilterLanguage::Russian))
               : QString();
}

void FrameFilterField::check() {
    const osc::FilterParse parse = osc::FrameFilter::parse(currentText().toStdString(), settings_);
    error_ = parse.error;
    QPalette palette = lineEdit()->palette();
    palette.setColor(QPalette::Base, error_ ? kWrongBase : this->palette().color(QPalette::Base));
    lineEdit()->setPalette(palette);
    setToolTip(error_ ? errorMessage() : helpText());
}

bool FrameFilterField::applyText() {
    return apply(currentText());
}

bool FrameFilterField::apply(const QString& text) {
    if (text != currentText()) {
        filling_ = true;
        setEditText(text);
        filling_ = false;
    }
    check();
    const osc::FilterParse parse = osc::FrameFilter::parse(text.toStdString(), settings_);
    if (!parse.ok()) {
        // The text cursor where the message points (its column counts characters from 1).
        lineEdit()->setCursorPosition(
            std::min(static_cast<int>(parse.error->column) - 1, static_cast<int>(text.size())));
        QApplication::beep();
        return false;
    }
    const QString trimmed = text.trimmed();
    filter_ = parse.filter;
    applied_ = trimmed;
    remember(trimmed);
    emit applied(filter_, applied_);
    return true;
}

void FrameFilterField::setBitRate(std::optional<double> rate) {
    if (rate == settings_.bitRate) {
        return;
    }
    settings_.bitRate = rate;
    check();
    if (!applied_.contains(QStringLiteral("rt_ms"), Qt::CaseInsensitive)) {
        return;
    }
    const osc::FilterParse parse = osc::FrameFilter::parse(applied_.toStdString(), settings_);
    if (parse.ok()) {
        filter_ = parse.filter;
        emit applied(filter_, applied_);
    }
}

void FrameFilterField::remember(const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    history_.removeAll(text);
    history_.prepend(text);
    while (history_.size() > kHistory) {
        history_.removeLast();
    }
    showHistory();
}

void FrameFilterField::showHistory() {
    filling_ = true;
    const QString text = currentText();
    const int cursor = lineEdit()->cursorPosition();
    clear();
    addItems(history_);
    setCurrentIndex(-1);
    setEditText(text);
    lineEdit()->setCursorPosition(cursor);
    filling_ = false;
}

void FrameFilterField::setHistory(const QStringList& entries) {
    history_.clear();
    for (const QString& e : entries) {
        const QString t = e.trimmed();
        if (!t.isEmpty() && t.size() <= kMaxEntryLength && !history_.contains(t) &&
            history_.size() < kHistory) {
            history_.append(t);
        }
    }
    showHistory();
}

QString FrameFilterField::historyEntry(int i) const {
    return i >= 0 && i < history_.size() ? history_[i] : QString();
}

void FrameFilterField::setHistoryEntry(int i, const QString& text) {
    QStringList entries = history_;
    while (entries.size() <= i) {
        entries.append(QString());
    }
    if (i >= 0) {
        entries[i] = text;
    }
    setHistory(entries);
}

}  // namespace ui
