#include "core/capture/segment_retention.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "core/capture/memory_ceiling.h"
#include "core/files/capture_journal.h"
#include "core/trigger/trigger_condition.h"

namespace osc {

namespace {

std::string_view trim(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) {
        t.remove_prefix(1);
    }
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) {
        t.remove_suffix(1);
    }
    return t;
}

std::string lowered(std::string_view t) {
    std::string out(t);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::int64_t modifiedMs(const std::filesystem::path& path) {
    std::error_code ec;
    const auto t = std::filesystem::last_write_time(path, ec);
    if (ec) {
        return 0;
    }
    // The file clock's epoch is not the system clock's everywhere: measured from now on both.
    const auto age = std::filesystem::file_time_type::clock::now() - t;
    const auto system = std::chrono::system_clock::now() -
                        std::chrono::duration_cast<std::chrono::system_clock::duration>(age);
    return std::chrono::duration_cast<std::chrono::milliseconds>(system.time_since_epoch()).count();
}

}  // namespace

std::optional<RetentionRule> parseRetention(std::string_view text) {
    text = trim(text);
    std::size_t digits = 0;
    while (digits < text.size() &&
           ((text[digits] >= '0' && text[digits] <= '9') || text[digits] == '.')) {
        ++digits;
    }
    const std::string_view given = trim(text.substr(digits));
    const std::string unit = lowered(given);
    if (digits == 0 || unit.empty() || given == "m") {
        return std::nullopt;  // a bare number, or "m" for minutes or mebibytes
    }
    RetentionRule rule;
    if (unit == "s" || unit == "min" || unit == "h" || unit == "d") {
        const std::optional<TimeSpan> span = parseTimeSpan(text);
        if (!span || span->unit != TimeSpan::Unit::Milliseconds || !(span->amount >= 1000)) {
            return std::nullopt;
        }
        rule.maxAgeMs = static_cast<std::int64_t>(span->amount);
        return rule;
    }
    const std::optional<std::uint64_t> size = parseMemorySize(text);
    if (!size) {
        return std::nullopt;
    }
    rule.maxBytes = *size;
    return rule;
}

std::vector<SegmentFile> listSegments(const std::filesystem::path& dir) {
    std::vector<SegmentFile> out;
    std::error_code ec;
    for (std::filesystem::directory_iterator device(dir, ec), end; !ec && device != end;
         device.increment(ec)) {
        std::error_code typeError;
        if (!device->is_directory(typeError)) {
            continue;
        }
        std::error_code inner;
        for (std::filesystem::directory_iterator f(device->path(), inner), fend;
             !inner && f != fend; f.increment(inner)) {
            std::error_code fileError;
            if (!f->is_regular_file(fileError) || f->path().extension() != ".osc") {
                continue;
            }
            SegmentFile s;
            s.path = f->path();
            s.bytes = f->file_size(fileError);
            s.modifiedMs = modifiedMs(s.path);
            out.push_back(std::move(s));
        }
    }
    std::sort(out.begin(), out.end(), [](const SegmentFile& a, const SegmentFile& b) {
        const std::string an = a.path.filename().string();
        const std::string bn = b.path.filename().string();
        return an != bn ? an < bn : a.path < b.path;
    });
    return out;
}

std::vector<std::size_t> segmentsToDelete(const std::vector<SegmentFile>& segments,
                                          const RetentionRule& rule, std::int64_t nowMs,
                                          const std::vector<std::filesystem::path>& active) {
    const auto isActive = [&](const SegmentFile& s) {
        return std::find(active.begin(), active.end(), s.path) != active.end();
    };
    std::vector<bool> gone(segments.size(), false);
    if (rule.maxAgeMs) {
        for (std::size_t i = 0; i < segments.size(); ++i) {
            if (!isActive(segments[i]) && nowMs - segments[i].modifiedMs > *rule.maxAgeMs) {
                gone[i] = true;
            }
        }
    }
    if (rule.maxBytes) {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            if (!gone[i]) {
                total += segments[i].bytes;
            }
        }
        for (std::size_t i = 0; i < segments.size() && total > *rule.maxBytes; ++i) {
            if (!gone[i] && !isActive(segments[i])) {
                gone[i] = true;
                total -= segments[i].bytes;
            }
        }
    }
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (gone[i]) {
            out.push_back(i);
        }
    }
    return out;
}

std::vector<std::string> recoverLeftovers(const std::filesystem::path& deviceFolder) {
    std::vector<std::string> lines;
    for (const std::filesystem::path& folder : {deviceFolder, deviceFolder / "events"}) {
        std::error_code ec;
        std::vector<std::filesystem::path> parts;
        for (std::filesystem::directory_iterator f(folder, ec), end; !ec && f != end;
             f.increment(ec)) {
            const std::string name = f->path().filename().string();
            if (name.size() > 9 && name.ends_with(".osc.part")) {
                parts.push_back(f->path());
            }
        }
        std::sort(parts.begin(), parts.end());
        for (const std::filesystem::path& part : parts) {
            const std::string stem = part.filename().string();
            const std::string base = stem.substr(0, stem.size() - 9);
            std::filesystem::path target = folder / (base + ".osc");
            std::error_code exists;
            for (int n = 2; std::filesystem::exists(target, exists); ++n) {
                target = folder / (base + "-" + std::to_string(n) + ".osc");
            }
            try {
                const JournalInfo info = inspectOscLines(part);
                std::error_code io;
                std::filesystem::resize_file(part, info.bytes, io);
                std::filesystem::rename(part, target, io);
                if (io) {
                    lines.push_back("cannot put " + part.string() + " in place: " + io.message());
                } else {
                    lines.push_back("left by an earlier run: " + part.string() +
                                    " put in place as " + target.filename().string() + " (" +
                                    std::to_string(info.datagrams) + " datagrams)");
                }
            } catch (const FileError& e) {
                lines.push_back(e.message());
            }
        }
    }
    return lines;
}

}  // namespace osc
