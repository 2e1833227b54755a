#include "core/trace_export.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace osc {

namespace {

constexpr std::array<const char*, kChannelCount> kSignalNames = {"strobe", "tx", "rx1", "rx2"};
constexpr std::array<char, kChannelCount> kVcdIds = {'s', 't', 'r', 'q'};

using Bits = std::array<int, kChannelCount>;  // -1: the channel has no point yet

// The channels' bits at every time where at least one of them changes; the first row holds
// the values at the first time of all.
struct Change {
    std::int64_t time;
    Bits bits;
};

struct Changes {
    std::vector<Change> rows;
    std::int64_t endTime = 0;  // the time of the last point of any trace
    Tick endTick = 0;          // that point's tick
};

// Walks the four traces together in time order.
class ChangeCollector {
  public:
    ChangeCollector(const ChannelTraces& traces, const VcdTimeScale& scale) : scale_(scale) {
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            // The stored points alone: a completion point repeats the level in force, so it
            // never changes a bit, and the last point of a trace is always a stored one.
            const StoredPointRange all = traces[c].storedPoints();
            next_[c] = all.begin();
            ends_[c] = all.end();
        }
    }

    Changes collect() {
        Changes out;
        Bits bits;
        bits.fill(-1);
        while (const std::optional<std::int64_t> time = earliestTime()) {
            const Bits now = takePointsAt(*time, bits, out.endTick);
            if (out.rows.empty() || now != bits) {
                out.rows.push_back({*time, now});
                bits = now;
            }
            out.endTime = *time;
        }
        return out;
    }

  private:
    // The earliest time still ahead on any trace.
    std::optional<std::int64_t> earliestTime() const {
        std::optional<std::int64_t> time;
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            if (next_[c] != ends_[c]) {
                const std::int64_t t = scale_.timeOf((*next_[c]).x);
                if (!time || t < *time) {
                    time = t;
                }
            }
        }
        return time;
    }

    // The bits after every point at `time`; lastTick becomes the last such point's tick.
    Bits takePointsAt(std::int64_t time, Bits bits, Tick& lastTick) {
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            for (; next_[c] != ends_[c]; ++next_[c]) {
                const TracePoint p = *next_[c];
                if (scale_.timeOf(p.x) != time) {
                    break;
                }
                bits[c] = p.y % 2 == 0 ? 1 : 0;
                lastTick = std::max(lastTick, p.x);
            }
        }
        return bits;
    }

    const VcdTimeScale& scale_;
    std::array<StoredPointIterator, kChannelCount> next_;
    std::array<StoredPointIterator, kChannelCount> ends_;
};

void appendNumber(std::string& out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void appendTimestamp(std::string& out, std::int64_t time) {
    out += '#';
    appendNumber(out, time);
    out += '\n';
}

char vcdValue(int bit) {
    return bit < 0 ? 'x' : static_cast<char>('0' + bit);
}

void appendVcdComment(std::string& out, std::optional<double> rate) {
    out +=
        "$comment Logic lines of a telemechanics device's serial link, replayed from an "
        "oscillogram file. ";
    if (rate) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", *rate);
        out += "Bit rate ";
        out += buf;
        out += " bit/s, 256 ticks a bit.";
    } else {
        out += "One tick a time unit, 256 ticks a bit.";
    }
    out += " Signals:";
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        out += c == 0 ? " " : ", ";
        out += kSignalNames[c];
        out += " = ";
        out += kChannels[c].name;
    }
    out += "; 1 = upper level (status bit clear). $end\n";
}

void appendVcdHeader(std::string& out, const VcdTimeScale& scale, std::optional<double> rate) {
    out += "$version morvelip-osc-cli export $end\n";
    appendVcdComment(out, rate);
    out += "$timescale ";
    out += scale.unit;
    out += " $end\n";
    out += "$scope module osc $end\n";
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        out += "$var wire 1 ";
        out += kVcdIds[c];
        out += ' ';
        out += kSignalNames[c];
        out += " $end\n";
    }
    out += "$upscope $end\n$enddefinitions $end\n";
}

void appendVcdChanges(std::string& out, const Changes& changes) {
    for (std::size_t r = 0; r < changes.rows.size(); ++r) {
        const Change& row = changes.rows[r];
        appendTimestamp(out, row.time);
        if (r == 0) {
            out += "$dumpvars\n";
        }
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            if (r == 0 || row.bits[c] != changes.rows[r - 1].bits[c]) {
                out += vcdValue(row.bits[c]);
                out += kVcdIds[c];
                out += '\n';
            }
        }
        if (r == 0) {
            out += "$end\n";
        }
    }
}

// A timestamp after the last change: the traces' last time when it lies later, otherwise the
// time of one tick after the last point.
void appendVcdEnd(std::string& out, const Changes& changes, const VcdTimeScale& scale) {
    if (changes.rows.empty()) {
        return;
    }
    if (changes.endTime > changes.rows.back().time) {
        appendTimestamp(out, changes.endTime);
    } else if (changes.endTick < std::numeric_limits<Tick>::max()) {
        appendTimestamp(out, scale.timeOf(changes.endTick + 1));
    }
}

}  // namespace

std::int64_t VcdTimeScale::timeOf(Tick tick) const {
    if (exact && unitsPerTick == 1) {
        return tick;
    }
    return static_cast<std::int64_t>(std::llround(static_cast<long double>(tick) * unitsPerTick));
}

namespace {

struct TimeUnit {
    const char* text;
    int exponent;  // the unit is 10^exponent s
};

constexpr TimeUnit kUnits[] = {
    {"1 s", 0},    {"100 ms", -1},  {"10 ms", -2},  {"1 ms", -3},  {"100 us", -4},  {"10 us", -5},
    {"1 us", -6},  {"100 ns", -7},  {"10 ns", -8},  {"1 ns", -9},  {"100 ps", -10}, {"10 ps", -11},
    {"1 ps", -12}, {"100 fs", -13}, {"10 fs", -14}, {"1 fs", -15},
};

// The coarsest unit in which a tick at a whole bit rate is a whole number of units (at most a
// million): a tick is k units exactly when 256 R 10^(15 + exponent) divides 10^15 (in fs).
std::optional<VcdTimeScale> exactScaleFor(std::uint64_t rate) {
    constexpr std::uint64_t kFs = 1'000'000'000'000'000ULL;
    std::uint64_t unitFs = kFs;
    for (const TimeUnit& u : kUnits) {
        if (256 * rate <= kFs / unitFs) {
            const std::uint64_t divisor = 256 * rate * unitFs;
            const std::uint64_t unitsPerTick = kFs / divisor;  // whole when the rest is 0
            if (kFs % divisor == 0 && unitsPerTick <= 1'000'000) {
                return VcdTimeScale{u.text, static_cast<long double>(unitsPerTick), true};
            }
        }
        unitFs /= 10;
    }
    return std::nullopt;
}

}  // namespace

VcdTimeScale VcdTimeScaleFor(double bitRate) {
    if (bitRate == std::floor(bitRate) && bitRate <= 1e12) {
        if (auto exact = exactScaleFor(static_cast<std::uint64_t>(bitRate))) {
            return *exact;
        }
    }
    const long double tickSeconds = 1.0L / (256.0L * static_cast<long double>(bitRate));
    for (const TimeUnit& u : kUnits) {
        const long double perTick = tickSeconds / std::pow(10.0L, u.exponent);
        if (perTick >= 10) {
            return {u.text, perTick, false};
        }
    }
    return {"1 fs", tickSeconds / 1e-15L, false};
}

std::string VcdText(const ChannelTraces& traces, std::optional<double> bitRate) {
    const VcdTimeScale scale = bitRate ? VcdTimeScaleFor(*bitRate) : VcdTimeScale{};
    const Changes changes = ChangeCollector(traces, scale).collect();
    std::string out;
    appendVcdHeader(out, scale, bitRate);
    appendVcdChanges(out, changes);
    appendVcdEnd(out, changes, scale);
    return out;
}

std::string CsvText(const ChannelTraces& traces) {
    const Changes changes = ChangeCollector(traces, VcdTimeScale{}).collect();
    std::string out = "tick";
    for (const char* name : kSignalNames) {
        out += ',';
        out += name;
    }
    out += '\n';
    for (const Change& row : changes.rows) {
        appendNumber(out, row.time);
        for (const int bit : row.bits) {
            out += ',';
            if (bit >= 0) {
                out += static_cast<char>('0' + bit);
            }
        }
        out += '\n';
    }
    return out;
}

}  // namespace osc
