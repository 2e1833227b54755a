#include "ui/TraceLogPart.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <stdexcept>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/osc_file.h"

namespace ui {

namespace {

std::filesystem::path toPath(const QString& name) {
    return std::filesystem::path(name.toStdString());
}

// The error's text with its bad group's two bytes decoded from Windows-1251 (the files' code
// page) instead of passed on as broken UTF-8; plain ASCII texts stay as they are.
std::string groupErrorText(const osc::OscFormatError& e) {
    const std::string text = e.what();
    const std::string_view group = e.group();
    const std::size_t at = group.empty() ? std::string::npos : text.find(group);
    const bool ascii = std::all_of(group.begin(), group.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (at == std::string::npos || ascii) {
        return text;
    }
    QStringDecoder decoder("windows-1251");
    QString decoded = decoder.isValid()
                          ? decoder.decode(QByteArrayView(group.data(), qsizetype(group.size())))
                          : QString::fromLatin1(group.data(), qsizetype(group.size()));
    return text.substr(0, at) + decoded.toStdString() + text.substr(at + group.size());
}

}  // namespace

TraceLogPart::TraceLogPart(TraceLogView& view, MessageSink& messages, Capture capture)
    : view_(view), messages_(messages), capture_(std::move(capture)) {}

void TraceLogPart::traceDatagram(const std::uint8_t* data, std::int32_t length) {
    if (!view_.tracingEnabled()) {
        return;
    }
    const std::size_t n = data && length > 0 ? static_cast<std::size_t>(length) : 0;
    appendLine(QString::fromStdString(osc::traceLine({data, n})));
}

void TraceLogPart::appendLine(const QString& line) {
    if (!pending_.isEmpty()) {
        pending_ += QLatin1Char('\n');
    }
    pending_ += line;
    view_.scheduleMemoFlush();
    text_ += line.toLatin1();
    text_ += "\r\n";
    ++lines_;
}

void TraceLogPart::flushToMemo() const {
    if (pending_.isEmpty()) {
        return;
    }
    ownChange_ = true;
    view_.appendToMemo(pending_);
    ownChange_ = false;
    pending_.clear();
}

void TraceLogPart::memoChanged() {
    if (!ownChange_) {
        edited_ = true;
    }
}

void TraceLogPart::clear() {
    pending_.clear();
    ownChange_ = true;
    view_.clearMemo();
    ownChange_ = false;
    text_.clear();
    lines_ = 0;
    edited_ = false;
}

QByteArray TraceLogPart::text() const {
    flushToMemo();
    if (!edited_) {
        return text_;
    }
    QString text = view_.memoText();
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

int TraceLogPart::lineCount() const {
    if (!edited_) {
        return lines_;
    }
    return static_cast<int>(text().count("\r\n"));
}

void TraceLogPart::save() {
    const QString name = view_.chooseOscFile(TraceLogView::FileDialog::Save);
    if (name.isEmpty()) {
        return;
    }
    if (lineCount() == 0) {
        messages_.showError(QStringLiteral("Включите трассировку принимаемых посылок"));
        return;
    }
    const QByteArray bytes = text();
    osc::writeFileAtomically(
        toPath(name), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void TraceLogPart::load() {
    const QString name = view_.chooseOscFile(TraceLogView::FileDialog::Open);
    if (name.isEmpty()) {
        return;
    }
    loadFile(name);
}

void TraceLogPart::loadFile(const QString& name) {
    // Read a chunk at a time; the file is opened before the start action, so that a file that
    // cannot be read changes nothing.
    osc::OscFileReader reader(toPath(name));
    replay(reader);
}

void TraceLogPart::replayText(const std::string& text) {
    osc::OscReader reader(text);
    replay(reader);
}

template <class Reader>
void TraceLogPart::replay(Reader& reader) {
    capture_.start();
    std::vector<std::uint8_t> datagram;
    try {
        while (reader.next(datagram)) {
            capture_.decode(datagram.data(), static_cast<std::int32_t>(datagram.size()));
            if (capture_.closing()) {
                return;  // the window is closing: the rest of the replay is not wanted
            }
        }
    } catch (const osc::OscFormatError& e) {
        throw std::runtime_error(groupErrorText(e));
    }
    capture_.stop();
}

std::uint64_t TraceLogPart::memoryBytes() const {
    return static_cast<std::uint64_t>(text_.capacity()) +
           static_cast<std::uint64_t>(pending_.capacity()) * sizeof(QChar);
}

}  // namespace ui
