#pragma once
// The journals of the last captures, kept instead of being replaced at the next start: each
// stopped capture's journal moves into a folder of its own (capture-<start>-<n>.osc) beside a
// small description (the same name with .capture: start and end time, datagrams, bytes and the
// device), and the oldest go once there are more than `count` of them or they take more than
// `bytes` together. The newest is never removed, however large.
//
// A description is text that a user may have edited: parseKeptCapture refuses anything that is
// not exactly the format, and a capture whose description is missing or refused is not listed.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace osc {

struct KeptCapture {
    std::filesystem::path path;  // the .osc lines
    std::int64_t startedAt = 0;  // seconds since 1970 (UTC)
    std::int64_t endedAt = 0;
    std::uint64_t datagrams = 0;
    std::uint64_t bytes = 0;
    std::string device;  // "10.0.0.5 00:1A:2B:3C:4D:5E", or empty; one line
    bool operator==(const KeptCapture&) const = default;
};

// The description's text (path not included), and back; nullopt for anything else. A device
// text with a line break or a NUL is cut there.
std::string keptCaptureText(const KeptCapture& capture);
std::optional<KeptCapture> parseKeptCapture(std::string_view text);

struct RecentCaptureLimits {
    int count = 10;
    std::uint64_t bytes = 2ull << 30;
};

class RecentCaptures {
  public:
    // defaultJournalFolder() / "captures" unless given.
    explicit RecentCaptures(std::filesystem::path folder, RecentCaptureLimits limits = {});

    const std::filesystem::path& folder() const { return folder_; }
    RecentCaptureLimits limits() const { return limits_; }
    // New limits; the kept captures are trimmed to them at once.
    void setLimits(RecentCaptureLimits limits);

    // Where the next kept capture's lines go (a name not in use; the folder is made). Throws
    // FileError("Cannot keep the capture in FOLDER", reason).
    std::filesystem::path newPath(std::int64_t startedAt) const;
    // The capture's lines are at capture.path (moved there by the caller): its description is
    // written and the oldest are trimmed. Throws FileError when the description cannot be made.
    void add(const KeptCapture& capture);
    // The kept captures, newest first.
    std::vector<KeptCapture> list() const;
    // Removes one (its lines and description); false when it was not there.
    bool remove(const KeptCapture& capture) const;

  private:
    void trim() const;

    std::filesystem::path folder_;
    RecentCaptureLimits limits_;
};

std::filesystem::path defaultRecentCapturesFolder();

}  // namespace osc
