#pragma once
// The memory ceiling of a capture: what the traces and the trace log hold is checked after
// every datagram against a limit, and the capture stops cleanly before the limit could be
// passed, long before the system would kill the program for want of memory.
//
// What is counted is not all that a capture holds (its frames and the window's own memory are
// not), and some of it grows in steps (a new chunk of a trace, an index that doubles): the
// capture stops once it holds half the limit. The default limit is half the memory the system
// can give (physical memory, what is available at the start, the control group's limit) and a
// third of the address space left under RLIMIT_AS (old and new block side by side while a
// container grows).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/protocol/sample_decoder.h"

namespace osc {

// What the system allows; 0 where unknown or unlimited.
struct MemoryBudget {
    std::uint64_t physical = 0;   // MemTotal
    std::uint64_t available = 0;  // MemAvailable
    std::uint64_t cgroupLimit = 0;
    std::uint64_t cgroupUsed = 0;         // shown, not counted: it holds the reclaimable file cache
    std::uint64_t addressSpaceLimit = 0;  // RLIMIT_AS
    std::uint64_t addressSpaceUsed = 0;   // VmSize
};

// From /proc/meminfo, the control group (v2 memory.max or v1 memory.limit_in_bytes), getrlimit
// and /proc/self/status.
MemoryBudget readMemoryBudget();
// The parsers behind it, for their tests: "MemTotal: 24683748 kB" lines; a control group file
// ("max", or a number of bytes; numbers from 2^60 up mean no limit); "VmSize: 1234 kB".
void parseMeminfo(std::string_view text, MemoryBudget& budget);
std::uint64_t parseCgroupBytes(std::string_view text);
std::uint64_t parseVmSize(std::string_view text);

// The smallest share of the budget (see above); 1 GiB when nothing is known.
std::uint64_t defaultMemoryLimit(const MemoryBudget& budget);

// "512M", "2G", "1.5G", "64k", "1048576" (bytes), binary units, an optional "B" or "iB":
// nothing for text that is not a size of at least one byte that fits in 64 bits.
std::optional<std::uint64_t> parseMemorySize(std::string_view text);
// "512 MiB", "1.5 GiB", "900 KiB", "12 bytes".
std::string memorySizeText(std::uint64_t bytes);

// What the four channel traces hold.
std::uint64_t traceMemoryBytes(const ChannelTraces& traces);

class MemoryCeiling {
  public:
    explicit MemoryCeiling(std::uint64_t limit) : limit_(limit) {}
    std::uint64_t limit() const { return limit_; }
    // The capture must stop: with its next growth what it holds could pass the limit.
    bool mustStop(std::uint64_t held) const { return held >= limit_ / 2; }

  private:
    std::uint64_t limit_;
};

}  // namespace osc
