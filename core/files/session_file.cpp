#include "core/files/session_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>

#include "core/files/file_error.h"
#include "core/files/json.h"
#include "core/files/osc_file.h"
#include "core/files/save_target.h"

namespace osc {

namespace {

constexpr std::size_t kMaxItems = 10000;
constexpr std::size_t kMaxText = 4096;
constexpr double kMaxTick = 9.0e15;  // well inside the 64-bit tick range and exact in a double

[[noreturn]] void malformed(const std::string& why) {
    throw SessionError(SessionError::Kind::Malformed, why);
}

double number(const json::Value& v, const char* field, double lo, double hi) {
    if (!v.isNumber() || !(v.asNumber() >= lo && v.asNumber() <= hi)) {
        malformed(std::string("\"") + field + "\" is not a number in range");
    }
    return v.asNumber();
}

int integer(const json::Value& v, const char* field, int lo, int hi) {
    const double d = number(v, field, lo, hi);
    if (d != std::floor(d)) {
        malformed(std::string("\"") + field + "\" is not a whole number");
    }
    return static_cast<int>(d);
}

bool boolean(const json::Value& v, const char* field) {
    if (!v.isBool()) {
        malformed(std::string("\"") + field + "\" is not true or false");
    }
    return v.asBool();
}

std::string text(const json::Value& v, const char* field) {
    if (!v.isString() || v.asString().size() > kMaxText) {
        malformed(std::string("\"") + field + "\" is not a text of at most 4096 bytes");
    }
    return v.asString();
}

const json::Array& array(const json::Value& v, const char* field) {
    if (!v.isArray() || v.asArray().size() > kMaxItems) {
        malformed(std::string("\"") + field + "\" is not a list of at most 10000 items");
    }
    return v.asArray();
}

bool isColour(const std::string& s) {
    if (s.empty()) {
        return true;
    }
    if (s.size() != 7 || s[0] != '#') {
        return false;
    }
    for (std::size_t i = 1; i < 7; ++i) {
        const char c = s[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::filesystem::path sessionPathFor(const std::filesystem::path& capture) {
    std::filesystem::path p = capture;
    p += ".session";
    return p;
}

std::string sessionText(const Session& s) {
    json::Object root;
    root.emplace_back("version", json::Value(s.version));
    if (s.view) {
        root.emplace_back("view", json::Object{{"minimum", json::Value(s.view->first)},
                                               {"maximum", json::Value(s.view->second)}});
    }
    root.emplace_back("marker", json::Value(s.marker));
    root.emplace_back("cursor", json::Value(s.cursor));
    root.emplace_back("decodeChannel", json::Value(s.decodeChannel));
    root.emplace_back("decoder", json::Object{{"bitsPerGroup", json::Value(s.decoder.bitsPerGroup)},
                                              {"reverse", json::Value(s.decoder.reverse)},
                                              {"invert", json::Value(s.decoder.invert)},
                                              {"unstuff", json::Value(s.decoder.unstuff)}});
    json::Object frames;
    for (const auto& [name, value] : s.frameOptions) {
        frames.emplace_back(name, json::Value(value));
    }
    root.emplace_back("frames", json::Value(std::move(frames)));
    json::Array markers;
    for (const NamedMarker& m : s.markers) {
        markers.emplace_back(json::Object{{"key", json::Value(m.key)},
                                          {"x", json::Value(static_cast<double>(m.x))},
                                          {"name", json::Value(m.name)}});
    }
    root.emplace_back("markers", json::Value(std::move(markers)));
    json::Array bookmarks;
    for (const Bookmark& b : s.bookmarks) {
        bookmarks.emplace_back(json::Object{{"x", json::Value(static_cast<double>(b.x))},
                                            {"note", json::Value(b.note)}});
    }
    root.emplace_back("bookmarks", json::Value(std::move(bookmarks)));
    json::Array channels;
    for (const SessionChannel& c : s.channels) {
        channels.emplace_back(json::Object{{"name", json::Value(c.name)},
                                           {"colour", json::Value(c.colour)},
                                           {"visible", json::Value(c.visible)}});
    }
    root.emplace_back("channels", json::Value(std::move(channels)));
    return json::write(json::Value(std::move(root)));
}

Session parseSession(std::string_view textIn) {
    json::Value root;
    try {
        root = json::parse(textIn);
    } catch (const json::ParseError& e) {
        malformed(e.what());
    }
    if (!root.isObject()) {
        malformed("not a JSON object");
    }
    const json::Value* version = root.find("version");
    if (!version) {
        malformed("no \"version\"");
    }
    Session s;
    s.version = integer(*version, "version", 1, 1000000);
    if (s.version > kSessionVersion) {
        throw SessionError(SessionError::Kind::NewerVersion,
                           "the session file is of version " + std::to_string(s.version) +
                               "; this program reads up to version " +
                               std::to_string(kSessionVersion),
                           s.version);
    }
    if (const json::Value* view = root.find("view")) {
        const json::Value* lo = view->find("minimum");
        const json::Value* hi = view->find("maximum");
        if (!lo || !hi) {
            malformed("\"view\" without \"minimum\" and \"maximum\"");
        }
        const double a = number(*lo, "minimum", -kMaxTick, kMaxTick);
        const double b = number(*hi, "maximum", -kMaxTick, kMaxTick);
        if (!(b > a)) {
            malformed("\"view\" is empty");
        }
        s.view = {a, b};
    }
    if (const json::Value* v = root.find("marker")) {
        s.marker = number(*v, "marker", -kMaxTick, kMaxTick);
    }
    if (const json::Value* v = root.find("cursor")) {
        s.cursor = number(*v, "cursor", -kMaxTick, kMaxTick);
    }
    if (const json::Value* v = root.find("decodeChannel")) {
        s.decodeChannel = integer(*v, "decodeChannel", -1, kChannelCount - 1);
    }
    if (const json::Value* d = root.find("decoder")) {
        if (const json::Value* v = d->find("bitsPerGroup")) {
            s.decoder.bitsPerGroup = integer(*v, "bitsPerGroup", 1, 16);
        }
        if (const json::Value* v = d->find("reverse")) {
            s.decoder.reverse = boolean(*v, "reverse");
        }
        if (const json::Value* v = d->find("invert")) {
            s.decoder.invert = boolean(*v, "invert");
        }
        if (const json::Value* v = d->find("unstuff")) {
            s.decoder.unstuff = boolean(*v, "unstuff");
        }
    }
    if (const json::Value* f = root.find("frames")) {
        if (!f->isObject() || f->asObject().size() > 100) {
            malformed("\"frames\" is not an object of at most 100 options");
        }
        for (const auto& [name, value] : f->asObject()) {
            if (name.size() > 100) {
                malformed("a frame option's name is too long");
            }
            s.frameOptions.emplace_back(name, text(value, "frames"));
        }
    }
    if (const json::Value* m = root.find("markers")) {
        for (const json::Value& item : array(*m, "markers")) {
            NamedMarker marker;
            const json::Value* key = item.find("key");
            const json::Value* x = item.find("x");
            if (!key || !x) {
                malformed("a marker without \"key\" and \"x\"");
            }
            marker.key = integer(*key, "key", 1, 9);
            marker.x = static_cast<Tick>(number(*x, "x", -kMaxTick, kMaxTick));
            if (const json::Value* name = item.find("name")) {
                marker.name = text(*name, "name");
            }
            for (const NamedMarker& other : s.markers) {
                if (other.key == marker.key) {
                    malformed("two markers on key " + std::to_string(marker.key));
                }
            }
            s.markers.push_back(std::move(marker));
        }
    }
    if (const json::Value* b = root.find("bookmarks")) {
        for (const json::Value& item : array(*b, "bookmarks")) {
            Bookmark bookmark;
            const json::Value* x = item.find("x");
            if (!x) {
                malformed("a bookmark without \"x\"");
            }
            bookmark.x = static_cast<Tick>(number(*x, "x", -kMaxTick, kMaxTick));
            if (const json::Value* note = item.find("note")) {
                bookmark.note = text(*note, "note");
            }
            s.bookmarks.push_back(std::move(bookmark));
        }
    }
    if (const json::Value* c = root.find("channels")) {
        const json::Array& items = array(*c, "channels");
        if (items.size() > static_cast<std::size_t>(kChannelCount)) {
            malformed("more than four channels");
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            SessionChannel& channel = s.channels[i];
            if (const json::Value* name = items[i].find("name")) {
                channel.name = text(*name, "name");
            }
            if (const json::Value* colour = items[i].find("colour")) {
                channel.colour = text(*colour, "colour");
                if (!isColour(channel.colour)) {
                    malformed("\"colour\" is not #RRGGBB");
                }
            }
            if (const json::Value* visible = items[i].find("visible")) {
                channel.visible = boolean(*visible, "visible");
            }
        }
    }
    s.version = kSessionVersion;  // read as this version's session from here on
    return s;
}

std::optional<Session> readSessionFile(const std::filesystem::path& capture) {
    const std::filesystem::path path = sessionPathFor(capture);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw FileError("Cannot open file " + path.string(), systemReason(errno));
    }
    if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > json::kMaxBytes) {
        malformed("not a regular file of at most 16 MiB");
    }
    return parseSession(readWholeFile(path));
}

void writeSessionFile(const std::filesystem::path& capture, const Session& session) {
    writeFileAtomically(sessionPathFor(capture), sessionText(session));
}

}  // namespace osc
