#include "ui/tracelog/TraceLogPart.h"

#include <QStringEncoder>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/capture/capture_stats.h"
#include "core/files/osc_file.h"
#include "core/files/replacing_file.h"

namespace ui {

namespace {

std::filesystem::path toPath(const QString& name) {
    return std::filesystem::path(name.toStdString());
}

}  // namespace

TraceLogPart::TraceLogPart(TraceLogView& view, MessageSink& messages, Collaborators collaborators,
                           osc::TraceStoreOptions store)
    : view_(view),
      messages_(messages),
      store_(std::move(store), std::move(collaborators.openJournal)) {}

void TraceLogPart::traceDatagram(const std::uint8_t* data, std::int32_t length,
                                 std::optional<osc::TraceLogStore::JournalCopy> journal) {
    if (!view_.tracingEnabled()) {
        return;
    }
    const std::size_t n = data && length > 0 ? static_cast<std::size_t>(length) : 0;
    if (edited_) {
        appendLine(QString::fromStdString(osc::traceLine({data, n})));
        return;
    }
    store_.append({data, n}, journal);
    view_.scheduleMemoFlush();
}

void TraceLogPart::appendLine(const QString& line) {
    if (edited_) {
        if (!pending_.isEmpty()) {
            pending_ += QLatin1Char('\n');
        }
        pending_ += line;
        view_.scheduleMemoFlush();
        return;
    }
    // The groups of three characters, as a replay reads them.
    const QByteArray text = line.toLatin1();
    std::vector<std::uint8_t> bytes;
    if (text.size() >= 3) {
        osc::OscReader reader(std::string_view(text.constData(), std::size_t(text.size())));
        reader.next(bytes);
    }
    store_.append(bytes);
    view_.scheduleMemoFlush();
}

void TraceLogPart::flushToMemo() const {
    if (!edited_) {
        view_.storedLinesChanged();
        return;
    }
    if (pending_.isEmpty()) {
        return;
    }
    view_.appendToEditor(pending_);
    editorChars_ += static_cast<std::uint64_t>(pending_.size()) + 1;
    pending_.clear();
}

void TraceLogPart::clear() {
    pending_.clear();
    store_.clear();
    if (edited_) {
        view_.closeEditor();
        edited_ = false;
        editorChars_ = 0;
    }
    view_.storedLinesChanged();
}

bool TraceLogPart::beginEdit() {
    if (edited_) {
        return true;
    }
    if (view_.tracingEnabled()) {
        view_.showMemoHint(QStringLiteral("Идёт трассировка: чтобы править текст, выключите её"));
        return false;
    }
    const std::uint64_t size = store_.textOffset(store_.lineCount());
    if (size > kEditableBytes) {
        view_.showMemoHint(
            QStringLiteral("Трасса слишком велика для правки в окне (%1): запишите её в файл")
                .arg(QString::fromStdString(osc::byteCountText(size))));
        return false;
    }
    // The memo's text: the lines joined by '\n', as a plain text editor holds them.
    std::string text;
    std::uint64_t line = 0;
    while (line < store_.lineCount()) {
        store_.readText(line, store_.lineCount(), text, static_cast<std::size_t>(size));
    }
    QString memo = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    memo.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    memo.chop(memo.isEmpty() ? 0 : 1);
    store_.clear();
    edited_ = true;
    editorChars_ = static_cast<std::uint64_t>(memo.size()) + 1;
    view_.openEditor(memo);
    view_.storedLinesChanged();
    return true;
}

QByteArray TraceLogPart::editedText() const {
    flushToMemo();
    QString text = view_.editorText();
    if (text.isEmpty()) {
        return {};
    }
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    text += QStringLiteral("\r\n");
    QStringEncoder encoder("windows-1251");
    if (encoder.isValid()) {
        return encoder.encode(text);
    }
    return text.toLatin1();
}

QByteArray TraceLogPart::text() const {
    if (edited_) {
        return editedText();
    }
    std::string text;
    std::uint64_t line = 0;
    while (line < store_.lineCount()) {
        store_.readText(line, store_.lineCount(), text, SIZE_MAX);
    }
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::int64_t TraceLogPart::lineCount() const {
    if (!edited_) {
        return static_cast<std::int64_t>(store_.lineCount());
    }
    return static_cast<std::int64_t>(editedText().count("\r\n"));
}

bool TraceLogPart::save() {
    const QString name = view_.chooseOscFile(TraceLogView::FileDialog::Save);
    if (name.isEmpty()) {
        return false;
    }
    if (lineCount() == 0) {
        messages_.showError(QStringLiteral("Включите трассировку принимаемых посылок"));
        return false;
    }
    if (edited_) {
        const QByteArray bytes = editedText();
        qsizetype at = 0;
        return writeFile(name, static_cast<std::uint64_t>(bytes.size()), [&](std::string& piece) {
            const qsizetype n = std::min<qsizetype>(bytes.size() - at, qsizetype{1} << 20);
            piece.assign(bytes.constData() + at, static_cast<std::size_t>(n));
            at += n;
            return n > 0;
        });
    }
    // The lines as they are now; those traced while the file is written are not in it.
    const std::uint64_t end = store_.lineCount();
    const std::uint64_t generation = store_.generation();
    std::uint64_t line = 0;
    return writeFile(name, store_.textOffset(end), [&](std::string& piece) {
        if (store_.generation() != generation) {
            throw osc::FileError("Cannot create file " + toPath(name).string(),
                                 "the trace was cleared while it was being written");
        }
        store_.readText(line, end, piece);
        return !piece.empty();
    });
}

bool TraceLogPart::writeFile(const QString& name, std::uint64_t total,
                             const std::function<bool(std::string&)>& next) {
    // A file that cannot be replaced is written as the pieces come, not held: a trace can be far
    // longer than the memory. It cannot be cancelled then.
    osc::ReplacingFileWriter out(toPath(name), true);
    const bool cancellable = out.cancelsCleanly();
    view_.beginSaveProgress(total, cancellable);
    const struct Closer {
        TraceLogView& view;
        ~Closer() { view.endSaveProgress(); }
    } closer{view_};
    std::string piece;
    std::uint64_t done = 0;
    for (;;) {
        piece.clear();
        if (!next(piece)) {
            break;
        }
        out.write(piece);
        done += piece.size();
        if (!view_.saveProgress(done) && cancellable) {
            return false;  // the writer goes without a commit: no file, the old one as it was
        }
    }
    out.commit();
    emit saved(name);
    return true;
}

std::uint64_t TraceLogPart::memoryBytes() const {
    // An editor's text costs about four times its characters: the text and its layout.
    constexpr std::uint64_t kEditorBytesPerCharacter = 4 * sizeof(QChar);
    return store_.memoryBytes() + static_cast<std::uint64_t>(pending_.capacity()) * sizeof(QChar) +
           (edited_ ? editorChars_ * kEditorBytesPerCharacter : 0);
}

std::uint64_t TraceLogPart::StoredLines::textSize(std::uint64_t first, std::uint64_t end) const {
    return store_.textOffset(end) - store_.textOffset(first);
}

QStringList TraceLogPart::StoredLines::readLines(std::uint64_t first, std::size_t count) const {
    QStringList lines;
    const std::uint64_t end = std::min(first + count, store_.lineCount());
    std::string text;
    try {
        for (std::uint64_t line = first; line < end;) {
            store_.readText(line, end, text);
        }
    } catch (const osc::FileError&) {
        // Line by line then: a line that cannot be read back shows why, in its place.
        for (std::uint64_t line = first; line < end; ++line) {
            try {
                lines << QString::fromStdString(store_.line(line));
            } catch (const osc::FileError& e) {
                lines << QStringLiteral("(строка не читается: %1)")
                             .arg(QString::fromStdString(e.reason()));
            }
        }
        return lines;
    }
    lines.reserve(static_cast<qsizetype>(end - first));
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t lineEnd = text.find('\r', at);
        lines << QString::fromLatin1(text.data() + at, static_cast<qsizetype>(lineEnd - at));
        at = lineEnd + 2;
    }
    return lines;
}

}  // namespace ui
