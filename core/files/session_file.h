#pragma once
// The session of a capture: what the operator set up while reading it (named markers, bookmarks
// with notes, the channels' names, colours and visibility, the view, marker and cursor, the
// decoder's and the frames' options), kept in NAME.osc.session beside the capture as JSON with a
// version field. The .osc file itself is never touched.
//
// Reading refuses a file of a newer version (SessionError::Kind::NewerVersion, with the version)
// and anything that is not a session (Malformed, with the reason); fields that are absent keep
// their defaults, so a file of an older version reads as far as it goes.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/trace/channels.h"

namespace osc {

inline constexpr int kSessionVersion = 1;

struct NamedMarker {
    int key = 1;       // 1 to 9: the key that drops it and jumps to it
    Tick x = 0;        // ticks
    std::string name;  // shown beside the line; may be empty
    bool operator==(const NamedMarker&) const = default;
};

struct Bookmark {
    Tick x = 0;
    std::string note;
    bool operator==(const Bookmark&) const = default;
};

struct SessionChannel {
    std::string name;    // empty: the standard name
    std::string colour;  // "#RRGGBB"; empty: the standard colour
    bool visible = true;
    bool operator==(const SessionChannel&) const = default;
};

struct SessionDecoder {
    int bitsPerGroup = 8;
    bool reverse = false;
    bool invert = false;
    bool unstuff = false;
    bool operator==(const SessionDecoder&) const = default;
};

struct Session {
    int version = kSessionVersion;
    std::optional<std::pair<double, double>> view;  // the window: minimum, maximum in ticks
    double marker = 0;                              // 0: none
    double cursor = -1;                             // -1: none
    int decodeChannel = -1;                         // the line of the decode, -1: none
    SessionDecoder decoder;
    // The frames' options as their controls store them ("cbFrameInvert_Checked" -> "True"):
    // names and values kept as text, applied by the window.
    std::vector<std::pair<std::string, std::string>> frameOptions;
    std::vector<NamedMarker> markers;  // at most one per key
    std::vector<Bookmark> bookmarks;
    std::array<SessionChannel, kChannelCount> channels{};
    bool operator==(const Session&) const = default;
};

class SessionError : public std::runtime_error {
  public:
    enum class Kind { NewerVersion, Malformed };
    SessionError(Kind kind, const std::string& what, int version = 0)
        : std::runtime_error(what), kind_(kind), version_(version) {}
    Kind kind() const { return kind_; }
    int version() const { return version_; }  // the file's, for NewerVersion

  private:
    Kind kind_;
    int version_;
};

// The session file of a capture: "/a/b.osc" -> "/a/b.osc.session".
std::filesystem::path sessionPathFor(const std::filesystem::path& capture);

std::string sessionText(const Session& session);
// Throws SessionError.
Session parseSession(std::string_view text);

// nullopt when there is no session file; throws SessionError for one that cannot be read as a
// session, FileError when it cannot be read at all.
std::optional<Session> readSessionFile(const std::filesystem::path& capture);
// Written whole, replacing the old one only once complete. Throws FileError.
void writeSessionFile(const std::filesystem::path& capture, const Session& session);

}  // namespace osc
