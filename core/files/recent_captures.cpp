#include "core/files/recent_captures.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <system_error>

#include "core/files/capture_journal.h"
#include "core/files/file_error.h"
#include "core/files/osc_file.h"

namespace osc {

namespace {

constexpr std::string_view kHead = "MorvelIP_OSC capture 1\n";
constexpr std::string_view kExtension = ".capture";
constexpr std::size_t kMaxDescription = 4096;
constexpr std::size_t kMaxDevice = 1024;

std::filesystem::path descriptionOf(const std::filesystem::path& osc) {
    std::filesystem::path d = osc;
    d.replace_extension(kExtension);
    return d;
}

}  // namespace

std::string keptCaptureText(const KeptCapture& capture) {
    std::string device = capture.device.substr(0, capture.device.find_first_of("\r\n", 0));
    device = device.substr(0, std::min(device.find('\0'), kMaxDevice));
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "started %" PRId64 "\nended %" PRId64 "\ndatagrams %" PRIu64 "\nbytes %" PRIu64
                  "\n",
                  capture.startedAt, capture.endedAt, capture.datagrams, capture.bytes);
    return std::string(kHead) + numbers + "device " + device + "\n";
}

std::optional<KeptCapture> parseKeptCapture(std::string_view text) {
    if (text.size() > kMaxDescription || text.substr(0, kHead.size()) != kHead) {
        return std::nullopt;
    }
    text.remove_prefix(kHead.size());
    // One "key value\n" line; the value's text.
    const auto line = [&text](std::string_view key, std::string_view& value) {
        if (text.substr(0, key.size()) != key) {
            return false;
        }
        text.remove_prefix(key.size());
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return false;
        }
        value = text.substr(0, end);
        text.remove_prefix(end + 1);
        return true;
    };
    const auto number = [&line](std::string_view key, auto& out) {
        std::string_view value;
        if (!line(key, value) || value.empty()) {
            return false;
        }
        const auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), out);
        return ec == std::errc() && p == value.data() + value.size();
    };
    KeptCapture c;
    std::string_view device;
    if (!number("started ", c.startedAt) || !number("ended ", c.endedAt) ||
        !number("datagrams ", c.datagrams) || !number("bytes ", c.bytes) ||
        !line("device ", device) || !text.empty() || device.size() > kMaxDevice ||
        device.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
        return std::nullopt;
    }
    c.device = std::string(device);
    return c;
}

std::filesystem::path defaultRecentCapturesFolder() {
    return defaultJournalFolder() / "captures";
}

RecentCaptures::RecentCaptures(std::filesystem::path folder, RecentCaptureLimits limits)
    : folder_(std::move(folder)), limits_(limits) {}

void RecentCaptures::setLimits(RecentCaptureLimits limits) {
    limits_ = limits;
    trim();
}

std::filesystem::path RecentCaptures::newPath(std::int64_t startedAt) const {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
        throw FileError("Cannot keep the capture in " + folder_.string(), ec.message());
    }
    for (int n = 1;; ++n) {
        std::filesystem::path p =
            folder_ / ("capture-" + std::to_string(startedAt) + "-" + std::to_string(n) + ".osc");
        if (!std::filesystem::exists(p, ec) && !std::filesystem::exists(descriptionOf(p), ec)) {
            return p;
        }
    }
}

void RecentCaptures::add(const KeptCapture& capture) {
    writeFileAtomically(descriptionOf(capture.path), keptCaptureText(capture));
    trim();
}

std::vector<KeptCapture> RecentCaptures::list() const {
    std::vector<KeptCapture> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::filesystem::path& p = it->path();
        if (p.extension() != ".osc" || !it->is_regular_file(ec)) {
            continue;
        }
        const std::filesystem::path description = descriptionOf(p);
        if (std::filesystem::file_size(description, ec) > kMaxDescription || ec) {
            continue;
        }
        std::optional<KeptCapture> c;
        try {
            c = parseKeptCapture(readWholeFile(description));
        } catch (const std::exception&) {
        }
        if (c) {
            c->path = p;
            found.push_back(std::move(*c));
        }
    }
    std::sort(found.begin(), found.end(), [](const KeptCapture& a, const KeptCapture& b) {
        return a.startedAt != b.startedAt ? a.startedAt > b.startedAt : a.path > b.path;
    });
    return found;
}

bool RecentCaptures::remove(const KeptCapture& capture) const {
    std::error_code ec;
    const bool removed = std::filesystem::remove(capture.path, ec);
    std::filesystem::remove(descriptionOf(capture.path), ec);
    return removed;
}

void RecentCaptures::trim() const {
    const std::vector<KeptCapture> kept = list();
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        total += kept[i].bytes;
        const bool tooMany = static_cast<long long>(i) >= std::max(1, limits_.count);
        if (i > 0 && (tooMany || total > limits_.bytes)) {
            remove(kept[i]);
        }
    }
}

}  // namespace osc
