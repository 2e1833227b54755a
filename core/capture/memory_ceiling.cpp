#include "core/capture/memory_ceiling.h"

#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace osc {

namespace {

constexpr std::uint64_t kUnlimitedFrom = std::uint64_t{1} << 60;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// The value of a "Key: 1234 kB" line of text, in bytes; 0 when there is none.
std::uint64_t kilobyteField(std::string_view text, std::string_view key) {
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.substr(0, key.size()) != key) {
            continue;
        }
        line = trim(line.substr(key.size()));
        std::uint64_t kb = 0;
        const auto [p, ec] = std::from_chars(line.data(), line.data() + line.size(), kb);
        if (ec != std::errc() || kb >= kUnlimitedFrom / 1024) {
            return 0;
        }
        return kb * 1024;
    }
    return 0;
}

// The control group's limit and use, v2 first, then v1 (each at the process's own group, then
// at the root that a container shows).
void readCgroup(MemoryBudget& budget) {
    const std::string groups = readText("/proc/self/cgroup");
    std::istringstream lines(groups);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t a = line.find(':');
        const std::size_t b = line.find(':', a + 1);
        if (a == std::string::npos || b == std::string::npos) {
            continue;
        }
        const std::string controllers = line.substr(a + 1, b - a - 1);
        const std::string path = line.substr(b + 1);
        std::vector<std::pair<std::string, std::string>> tries;
        if (controllers.empty()) {
            tries = {{"/sys/fs/cgroup" + path + "/memory.max",
                      "/sys/fs/cgroup" + path + "/memory.current"},
                     {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory.current"}};
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            const std::string base = "/sys/fs/cgroup/memory";
            tries = {
                {base + path + "/memory.limit_in_bytes", base + path + "/memory.usage_in_bytes"},
                {base + "/memory.limit_in_bytes", base + "/memory.usage_in_bytes"}};
        }
        for (const auto& [limitFile, usedFile] : tries) {
            const std::string limit = readText(limitFile);
            if (limit.empty()) {
                continue;
            }
            const std::uint64_t bytes = parseCgroupBytes(limit);
            if (bytes != 0 && (budget.cgroupLimit == 0 || bytes < budget.cgroupLimit)) {
                budget.cgroupLimit = bytes;
                budget.cgroupUsed = parseCgroupBytes(readText(usedFile));
            }
            break;
        }
    }
}

}  // namespace

void parseMeminfo(std::string_view text, MemoryBudget& budget) {
    budget.physical = kilobyteField(text, "MemTotal:");
    budget.available = kilobyteField(text, "MemAvailable:");
}

std::uint64_t parseCgroupBytes(std::string_view text) {
    text = trim(text);
    std::uint64_t bytes = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), bytes);
    if (ec != std::errc() || p != text.data() + text.size() || bytes >= kUnlimitedFrom) {
        return 0;  // "max", or no number
    }
    return bytes;
}

std::uint64_t parseVmSize(std::string_view text) {
    return kilobyteField(text, "VmSize:");
}

MemoryBudget readMemoryBudget() {
    MemoryBudget budget;
    parseMeminfo(readText("/proc/meminfo"), budget);
    readCgroup(budget);
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        budget.addressSpaceLimit = static_cast<std::uint64_t>(limit.rlim_cur);
        budget.addressSpaceUsed = parseVmSize(readText("/proc/self/status"));
    }
    return budget;
}

std::uint64_t defaultMemoryLimit(const MemoryBudget& b) {
    std::uint64_t limit = UINT64_MAX;
    const auto take = [&limit](std::uint64_t share) { limit = std::min(limit, share); };
    if (b.physical != 0) {
        take(b.physical / 2);
    }
    if (b.available != 0) {
        take(b.available / 2);
    }
    if (b.cgroupLimit != 0) {
        // Not less what the group uses: that counts the file cache, which the system gives
        // back under pressure.
        take(b.cgroupLimit / 2);
    }
    if (b.addressSpaceLimit != 0) {
        take(b.addressSpaceLimit > b.addressSpaceUsed
                 ? (b.addressSpaceLimit - b.addressSpaceUsed) / 3
                 : 0);
    }
    return limit == UINT64_MAX ? std::uint64_t{1} << 30 : limit;
}

std::optional<std::uint64_t> parseMemorySize(std::string_view text) {
    text = trim(text);
    std::size_t digits = 0;
    while (digits < text.size() &&
           ((text[digits] >= '0' && text[digits] <= '9') || text[digits] == '.')) {
        ++digits;
    }
    if (digits == 0 || digits > 30) {
        return std::nullopt;
    }
    std::string_view unit = trim(text.substr(digits));
    int shift = 0;
    if (!unit.empty()) {
        switch (unit.front()) {
            case 'k':
            case 'K':
                shift = 10;
                break;
            case 'm':
            case 'M':
                shift = 20;
                break;
            case 'g':
            case 'G':
                shift = 30;
                break;
            case 't':
            case 'T':
                shift = 40;
                break;
            case 'b':
            case 'B':
                shift = -1;
                break;
            default:
                return std::nullopt;
        }
        unit.remove_prefix(1);
        if (shift < 0) {
            shift = 0;
            if (!unit.empty()) {
                return std::nullopt;
            }
        } else if (unit != "" && unit != "B" && unit != "b" && unit != "iB" && unit != "ib") {
            return std::nullopt;
        }
    }
    const std::string number(text.substr(0, digits));
    if (number.find('.') != number.rfind('.') || number == ".") {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size()) {
        return std::nullopt;
    }
    const double bytes = std::ldexp(value, shift);
    if (!(bytes >= 1) || bytes >= 18446744073709549568.0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(bytes);
}

std::string memorySizeText(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (value == std::floor(value) || value >= 100) {
        std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    }
    return text;
}

std::uint64_t traceMemoryBytes(const ChannelTraces& traces) {
    std::uint64_t bytes = 0;
    for (const ChannelTrace& trace : traces) {
        bytes += trace.memoryBytes();
    }
    return bytes;
}

}  // namespace osc
