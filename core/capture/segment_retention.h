#pragma once
// How long a recorder keeps its segments: for a time ("7d": a segment goes once its last write
// is that old) or up to a size ("50G": the segments of every device together, the oldest going
// first). Event files are never deleted, and do not count. Also what a killed recorder left
// behind: the segment and event files still named NAME.osc.part.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace osc {

struct RetentionRule {
    std::optional<std::int64_t> maxAgeMs;
    std::optional<std::uint64_t> maxBytes;
};

// "7d", "36h", "90min", "3600s" (a time; a lower-case "m" alone is refused as ambiguous) or "50G",
// "500M", "2T", "1.5GiB", "1048576B" (a size, binary units); nothing for anything else.
std::optional<RetentionRule> parseRetention(std::string_view text);

struct SegmentFile {
    std::filesystem::path path;
    std::uint64_t bytes = 0;
    std::int64_t modifiedMs = 0;  // the last write, ms since 1970
};

// The segments under dir: DIR/DEVICE/*.osc, not in events/ and not being written (.part);
// oldest first (by name, which is the start time, then by path). Folders that cannot be read
// are passed over.
std::vector<SegmentFile> listSegments(const std::filesystem::path& dir);

// Which of the segments (oldest first) go under the rule at nowMs, keeping those in `active`
// (being written). Indices into segments, ascending.
std::vector<std::size_t> segmentsToDelete(const std::vector<SegmentFile>& segments,
                                          const RetentionRule& rule, std::int64_t nowMs,
                                          const std::vector<std::filesystem::path>& active);

// NAME.osc.part files under a device's folder (and its events/) left by a recorder that was
// killed: each cut back to its whole lines and renamed NAME.osc (NAME-2.osc, ... when taken).
// Returns a line for the log per file put in place, or one that could not be.
std::vector<std::string> recoverLeftovers(const std::filesystem::path& deviceFolder);

}  // namespace osc
