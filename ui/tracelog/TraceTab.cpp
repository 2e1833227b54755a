#include "ui/tracelog/TraceTab.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/widgets/Messages.h"

namespace ui {

TraceTab::TraceTab(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet2"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(18);
    cbTraceEnabled = new QCheckBox(QStringLiteral("Разрешить трассировку"), Panel2);
    cbTraceEnabled->setObjectName(QStringLiteral("cbTraceEnabled"));
    cbTraceEnabled->setGeometry(4, 1, 250, 17);
    column->addWidget(Panel2);
    memo_ = new TraceMemo(this);
    Memo1 = memo_->lineView();
    column->addWidget(memo_, 1);
    connect(memo_, &TraceMemo::editRequested, this, &TraceTab::editRequested);
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(50);
    connect(flushTimer_, &QTimer::timeout, this, &TraceTab::memoFlushDue);
}

void TraceTab::showLines(const TraceLineSource& lines) {
    Memo1->setSource(&lines);
}

bool TraceTab::tracingEnabled() const {
    return cbTraceEnabled->isChecked();
}

void TraceTab::storedLinesChanged() {
    Memo1->linesChanged();
}

void TraceTab::openEditor(const QString& text) {
    memo_->openEditor(text);
}

void TraceTab::appendToEditor(const QString& lines) {
    memo_->appendToEditor(lines);
}

QString TraceTab::editorText() const {
    return memo_->editorText();
}

void TraceTab::closeEditor() {
    memo_->closeEditor();
}

void TraceTab::showMemoHint(const QString& text) {
    memo_->showHint(text);
}

void TraceTab::scheduleMemoFlush() {
    if (!flushTimer_->isActive()) {
        flushTimer_->start();
    }
}

QString TraceTab::chooseOscFile(FileDialog dialog) {
    return ui::chooseOscFile(window(), dialog);
}

void TraceTab::beginSaveProgress(std::uint64_t total, bool cancellable) {
    memo_->beginSaveProgress(total, cancellable);
}

bool TraceTab::saveProgress(std::uint64_t done) {
    return memo_->saveProgress(done);
}

void TraceTab::endSaveProgress() {
    memo_->endSaveProgress();
}

QString chooseOscFile(QWidget* parent, TraceLogView::FileDialog which) {
    const bool save = which == TraceLogView::FileDialog::Save;
    QFileDialog dialog(parent);
    dialog.setObjectName(save ? QStringLiteral("SaveDialog1") : QStringLiteral("OpenDialog1"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilter(QStringLiteral("Файлы осциллограм ОИК (*.osc)"));
    dialog.setDefaultSuffix(QStringLiteral("osc"));
    if (runModal(dialog) != QDialog::Accepted) {
        return {};
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.front();
}

}  // namespace ui
