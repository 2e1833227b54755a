#include "ui/tracelog/OscReplay.h"

#include <QStringDecoder>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "core/files/osc_file.h"
#include "core/files/osc_read_ahead.h"

namespace ui {

namespace {

// The error's text with its bad group's two bytes decoded from Windows-1251 (the files' code
// page) instead of passed on as broken UTF-8; plain ASCII texts stay as they are.
std::string groupErrorText(const osc::OscFormatError& e) {
    std::string text = e.what();
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

// The next datagram of a replay in out: from the text through buffer, or as the read-ahead
// holds it.
bool nextDatagram(osc::OscReader& reader, std::vector<std::uint8_t>& buffer,
                  std::span<const std::uint8_t>& out) {
    if (!reader.next(buffer)) {
        return false;
    }
    out = buffer;
    return true;
}

bool nextDatagram(osc::OscReadAhead& reader, std::vector<std::uint8_t>&,
                  std::span<const std::uint8_t>& out) {
    return reader.next(out);
}

// Start, every datagram of the reader, stop. Whatever ends the replay (the end, an empty line,
// a bad group, a read error) leaves the capture stopped with the replayed part drawn; only a
// replay that is no longer wanted (the window closing) ends without the stop.
template <class Reader>
void replay(Reader& reader, ReplayTarget& target) {
    if (!target.startReplay()) {
        return;  // said why; nothing of the file is decoded
    }
    std::vector<std::uint8_t> buffer;
    std::span<const std::uint8_t> datagram;
    try {
        while (nextDatagram(reader, buffer, datagram)) {
            if (!target.replayDatagram(datagram)) {
                return;  // the rest of the replay is not wanted
            }
        }
    } catch (const osc::OscFormatError& e) {
        target.stopReplay();
        throw std::runtime_error(groupErrorText(e));
    } catch (...) {
        target.stopReplay();
        throw;
    }
    target.stopReplay();
}

}  // namespace

void replayOscFile(const QString& name, ReplayTarget& target) {
    // Read a chunk at a time; the file is opened before the start action, so that a file that
    // cannot be read changes nothing.
    osc::OscFileReader reader(std::filesystem::path(name.toStdString()));
    osc::OscReadAhead ahead(reader);  // parsed on a thread of its own while this one decodes
    replay(ahead, target);
}

void replayOscText(const std::string& text, ReplayTarget& target) {
    osc::OscReader reader(text);
    replay(reader, target);
}

}  // namespace ui
