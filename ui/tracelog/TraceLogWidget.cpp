#include "ui/tracelog/TraceLogWidget.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTextBlock>
#include <QToolTip>

#include <algorithm>
#include <climits>

#include "core/capture/capture_stats.h"
#include "ui/widgets/Fonts.h"
#include "ui/widgets/Messages.h"

namespace ui {

namespace {

constexpr int kMargin = 4;  // left of the text, as a plain text editor leaves it

int clampToInt(std::uint64_t v) {
    return static_cast<int>(std::min<std::uint64_t>(v, INT_MAX));
}

// Keys that type into a text, which the read-only view passes on to the editor.
bool typesText(const QKeyEvent& e) {
    if (e.matches(QKeySequence::Paste) || e.matches(QKeySequence::Cut)) {
        return true;
    }
    switch (e.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            return e.modifiers() == Qt::NoModifier || e.modifiers() == Qt::KeypadModifier;
        default:
            break;
    }
    if (e.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) {
        return false;
    }
    const QString text = e.text();
    return !text.isEmpty() && text.at(0).isPrint();
}

// Keys the view moves or selects with.
bool movesOrSelects(const QKeyEvent& e) {
    if (e.matches(QKeySequence::Copy) || e.matches(QKeySequence::SelectAll)) {
        return true;
    }
    if (e.modifiers() & ~(Qt::ShiftModifier | Qt::ControlModifier | Qt::KeypadModifier)) {
        return false;
    }
    switch (e.key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        case Qt::Key_F2:
            return e.modifiers() == Qt::NoModifier;
        default:
            return false;
    }
}

}  // namespace

// --- TraceLogWidget ---

TraceLogWidget::TraceLogWidget(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("Memo1"));
    setFont(courierFont());
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!settingRange_) {
            follow_ = value >= verticalScrollBar()->maximum();
        }
    });
}

int TraceLogWidget::lineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int TraceLogWidget::charWidth() const {
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

int TraceLogWidget::visibleLines() const {
    return std::max(1, viewport()->height() / lineHeight());
}

std::uint64_t TraceLogWidget::firstVisibleLine() const {
    return static_cast<std::uint64_t>(verticalScrollBar()->value());
}

void TraceLogWidget::setSource(const TraceLineSource* source) {
    source_ = source;
    linesChanged();
}

void TraceLogWidget::linesChanged() {
    const std::uint64_t count = source_ ? source_->lineCount() : 0;
    if (count < count_ && selected_ && std::max(anchor_, current_) >= count) {
        selected_ = false;
    }
    if (count < count_) {
        current_ = std::min(current_, count > 0 ? count - 1 : 0);
    }
    count_ = count;
    updateScrollBars();
    viewport()->update();
}

void TraceLogWidget::updateScrollBars() {
    const bool follow = follow_;
    settingRange_ = true;
    const int page = visibleLines();
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, clampToInt(count_ > static_cast<std::uint64_t>(page) ? count_ - page : 0));
    v->setPageStep(page);
    v->setSingleStep(1);
    if (follow) {
        v->setValue(v->maximum());
    }
    QScrollBar* h = horizontalScrollBar();
    const std::uint64_t longest = source_ ? source_->longestLine() : 0;
    const std::uint64_t width =
        longest * static_cast<std::uint64_t>(charWidth()) + 2 * static_cast<std::uint64_t>(kMargin);
    const auto view = static_cast<std::uint64_t>(viewport()->width());
    h->setRange(0, clampToInt(width > view ? width - view : 0));
    h->setPageStep(viewport()->width());
    h->setSingleStep(charWidth());
    settingRange_ = false;
    follow_ = follow || v->value() >= v->maximum();
}

void TraceLogWidget::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void TraceLogWidget::scrollContentsBy(int, int) {
    viewport()->update();
}

void TraceLogWidget::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    if (!source_ || count_ == 0) {
        return;
    }
    const int height = lineHeight();
    const std::uint64_t first = std::min(firstVisibleLine(), count_ - 1);
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(visibleLines()) + 1, count_ - first));
    const QStringList lines = source_->readLines(first, n);
    // With a font of fixed pitch only the columns on the screen are drawn: a line holds up to
    // 24576 characters.
    const bool fixed = QFontInfo(font()).fixedPitch();
    const int scrolled = horizontalScrollBar()->value();
    const int firstColumn = fixed ? std::max(0, (scrolled - kMargin) / charWidth()) : 0;
    const int columns = viewport()->width() / charWidth() + 2;
    const int x = kMargin - scrolled + firstColumn * charWidth();
    const auto [low, high] = selection().value_or(std::pair<std::uint64_t, std::uint64_t>{1, 0});
    const int ascent = fontMetrics().ascent();
    for (qsizetype k = 0; k < lines.size(); ++k) {
        const std::uint64_t line = first + static_cast<std::uint64_t>(k);
        const int y = static_cast<int>(k) * height;
        const bool selected = line >= low && line <= high;
        if (selected) {
            p.fillRect(QRect(0, y, viewport()->width(), height), palette().highlight());
            p.setPen(palette().highlightedText().color());
        } else {
            p.setPen(palette().text().color());
        }
        const QString& text = lines[k];
        p.drawText(x, y + ascent, fixed ? text.mid(firstColumn, columns) : text);
        if (hasFocus() && line == current_ && selected_) {
            p.setPen(QPen(palette().text().color(), 1, Qt::DotLine));
            p.drawRect(QRect(0, y, viewport()->width() - 1, height - 1));
        }
    }
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> TraceLogWidget::selection() const {
    if (!selected_ || count_ == 0) {
        return std::nullopt;
    }
    return std::pair{std::min(anchor_, current_), std::max(anchor_, current_)};
}

void TraceLogWidget::selectLines(std::uint64_t anchor, std::uint64_t current) {
    if (count_ == 0) {
        selected_ = false;
        return;
    }
    anchor_ = std::min(anchor, count_ - 1);
    current_ = std::min(current, count_ - 1);
    selected_ = true;
    viewport()->update();
}

void TraceLogWidget::selectAll() {
    selectLines(0, count_ > 0 ? count_ - 1 : 0);
}

QString TraceLogWidget::selectedText() const {
    const auto range = selection();
    if (!range || !source_) {
        return {};
    }
    QString text;
    for (std::uint64_t line = range->first; line <= range->second;) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(4096, range->second - line + 1));
        for (const QString& l : source_->readLines(line, n)) {
            text += l;
            text += QLatin1Char('\n');
        }
        line += n;
    }
    return text;
}

void TraceLogWidget::copySelection() {
    const auto range = selection();
    if (!range || !source_) {
        return;
    }
    const std::uint64_t size = source_->textSize(range->first, range->second + 1);
    if (size > kCopyLimit) {
        emit hintRequested(
            QStringLiteral("Слишком много строк для буфера обмена (%1): запишите трассу в файл")
                .arg(QString::fromStdString(osc::byteCountText(size))));
        return;
    }
    QApplication::clipboard()->setText(selectedText());
}

std::uint64_t TraceLogWidget::lineAt(int y) const {
    const std::int64_t line =
        static_cast<std::int64_t>(firstVisibleLine()) + (y < 0 ? -1 : y / lineHeight());
    if (line < 0 || count_ == 0) {
        return 0;
    }
    return std::min(static_cast<std::uint64_t>(line), count_ - 1);
}

void TraceLogWidget::ensureVisible(std::uint64_t line) {
    const std::uint64_t first = firstVisibleLine();
    const auto page = static_cast<std::uint64_t>(visibleLines());
    if (line < first) {
        verticalScrollBar()->setValue(clampToInt(line));
    } else if (line >= first + page) {
        verticalScrollBar()->setValue(clampToInt(line - page + 1));
    }
}

void TraceLogWidget::moveCurrent(std::int64_t to, bool extend) {
    if (count_ == 0) {
        return;
    }
    const auto line = static_cast<std::uint64_t>(
        std::clamp<std::int64_t>(to, 0, static_cast<std::int64_t>(count_ - 1)));
    if (!extend || !selected_) {
        anchor_ = extend && selected_ ? anchor_ : line;
    }
    current_ = line;
    selected_ = true;
    ensureVisible(line);
    viewport()->update();
}

bool TraceLogWidget::event(QEvent* event) {
    // The keys of this view go to it, not to the window's shortcuts (the plot's navigation).
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (movesOrSelects(*key) || typesText(*key)) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TraceLogWidget::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        emit editRequested(0, Qt::NoModifier, {});
        return;
    }
    if (typesText(*event)) {
        emit editRequested(event->key(), event->modifiers(), event->text());
        return;
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const auto current = static_cast<std::int64_t>(selected_ ? current_ : firstVisibleLine());
    const int page = visibleLines();
    switch (event->key()) {
        case Qt::Key_Up:
            moveCurrent(current - 1, shift);
            return;
        case Qt::Key_Down:
            moveCurrent(current + 1, shift);
            return;
        case Qt::Key_PageUp:
            moveCurrent(current - page, shift);
            return;
        case Qt::Key_PageDown:
            moveCurrent(current + page, shift);
            return;
        case Qt::Key_Home:
            if (ctrl) {
                moveCurrent(0, shift);
            } else {
                horizontalScrollBar()->setValue(0);
            }
            return;
        case Qt::Key_End:
            if (ctrl) {
                moveCurrent(static_cast<std::int64_t>(count_) - 1, shift);
            } else {
                horizontalScrollBar()->setValue(horizontalScrollBar()->maximum());
            }
            return;
        default:
            QAbstractScrollArea::keyPressEvent(event);
    }
}

void TraceLogWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || count_ == 0) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const std::uint64_t line = lineAt(event->position().toPoint().y());
    const bool extend = (event->modifiers() & Qt::ShiftModifier) && selected_;
    anchor_ = extend ? anchor_ : line;
    current_ = line;
    selected_ = true;
    viewport()->update();
}

void TraceLogWidget::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !selected_) {
        return;
    }
    // A drag past the top or bottom edge scrolls a line at a time.
    const int y = event->position().toPoint().y();
    if (y < 0) {
        moveCurrent(static_cast<std::int64_t>(firstVisibleLine()) - 1, true);
    } else if (y >= viewport()->height()) {
        moveCurrent(static_cast<std::int64_t>(firstVisibleLine()) + visibleLines(), true);
    } else {
        moveCurrent(static_cast<std::int64_t>(lineAt(y)), true);
    }
}

void TraceLogWidget::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.setToolTipsVisible(true);
    QAction* copy =
        menu.addAction(QStringLiteral("Копировать"), this, &TraceLogWidget::copySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setToolTip(QStringLiteral("Копировать выделенные строки (Ctrl+C)"));
    copy->setEnabled(selected_);
    QAction* all = menu.addAction(QStringLiteral("Выделить всё"), this, &TraceLogWidget::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    all->setToolTip(QStringLiteral("Выделить все строки (Ctrl+A)"));
    menu.addSeparator();
    QAction* edit = menu.addAction(QStringLiteral("Править текст"), this,
                                   [this] { emit editRequested(0, Qt::NoModifier, {}); });
    edit->setShortcut(QKeySequence(Qt::Key_F2));
    edit->setToolTip(
        QStringLiteral("Править текст трассы (F2); при включённой трассировке недоступно"));
    menu.exec(event->globalPos());
}

// --- TraceMemo ---

TraceMemo::TraceMemo(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TraceMemo"));
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    lines_ = new TraceLogWidget(this);
    stack_->addWidget(lines_);
    connect(lines_, &TraceLogWidget::editRequested, this,
            [this](int key, Qt::KeyboardModifiers modifiers, const QString& text) {
                if (key != 0) {
                    pendingKey_ = PendingKey{key, modifiers, text};
                }
                emit editRequested();
                pendingKey_.reset();
            });
    connect(lines_, &TraceLogWidget::hintRequested, this, &TraceMemo::showHint);
}

TraceMemo::~TraceMemo() = default;

bool TraceMemo::editing() const {
    return editor_ != nullptr && stack_->currentWidget() == editor_;
}

void TraceMemo::openEditor(const QString& text) {
    if (!editor_) {
        editor_ = new QPlainTextEdit(this);
        editor_->setObjectName(QStringLiteral("Memo1Editor"));
        editor_->setFont(courierFont());
        editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
        editor_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        editor_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        editor_->setUndoRedoEnabled(false);
        stack_->addWidget(editor_);
    }
    editor_->setPlainText(text);
    QTextCursor cursor(editor_->document());
    cursor.movePosition(QTextCursor::End);
    if (const auto range = lines_->selection()) {
        const QTextBlock block = editor_->document()->findBlockByNumber(
            static_cast<int>(std::min<std::uint64_t>(range->second, INT_MAX)));
        if (block.isValid()) {
            cursor.setPosition(block.position() + block.length() - 1);
        }
    }
    editor_->setTextCursor(cursor);
    editor_->ensureCursorVisible();
    stack_->setCurrentWidget(editor_);
    editor_->setFocus();
    if (pendingKey_) {
        QKeyEvent key(QEvent::KeyPress, pendingKey_->key, pendingKey_->modifiers,
                      pendingKey_->text);
        QApplication::sendEvent(editor_, &key);
        pendingKey_.reset();
    }
}

void TraceMemo::appendToEditor(const QString& lines) {
    if (editor_) {
        editor_->appendPlainText(lines);
    }
}

QString TraceMemo::editorText() const {
    return editor_ ? editor_->toPlainText() : QString();
}

std::uint64_t TraceMemo::editorCharacters() const {
    return editor_ ? static_cast<std::uint64_t>(editor_->document()->characterCount()) : 0;
}

void TraceMemo::closeEditor() {
    if (!editor_) {
        return;
    }
    const bool focused = editor_->hasFocus();
    editor_->clear();
    stack_->setCurrentWidget(lines_);
    if (focused) {
        lines_->setFocus();
    }
}

void TraceMemo::showHint(const QString& text) {
    QWidget* at = editing() ? static_cast<QWidget*>(editor_) : lines_;
    QToolTip::showText(at->mapToGlobal(at->rect().center()), text, at, at->rect(), 4000);
}

void TraceMemo::beginSaveProgress(std::uint64_t total, bool cancellable) {
    progressTotal_ = total;
    progress_ = std::make_unique<QProgressDialog>(QStringLiteral("Запись файла…"), QString(), 0,
                                                  1000, window());
    progress_->setObjectName(QStringLiteral("TraceSaveProgress"));
    progress_->setWindowTitle(applicationTitle());
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    if (cancellable) {
        auto* cancel = new QPushButton(QStringLiteral("Отмена"));
        cancel->setObjectName(QStringLiteral("btnTraceSaveCancel"));
        cancel->setToolTip(QStringLiteral("Прервать запись: файл останется прежним (Esc)"));
        progress_->setCancelButton(cancel);
    }
    progress_->setMinimumDuration(300);
    progress_->setValue(0);
}

bool TraceMemo::saveProgress(std::uint64_t done) {
    if (!progress_) {
        return true;
    }
    const int value =
        progressTotal_ > 0
            ? static_cast<int>(std::min<std::uint64_t>(done * 1000 / progressTotal_, 1000))
            : 1000;
    progress_->setValue(value);  // a window-modal dialog lets events run: the cancel works
    return !progress_->wasCanceled();
}

void TraceMemo::endSaveProgress() {
    progress_.reset();
}

}  // namespace ui
