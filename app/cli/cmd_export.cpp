// morvelip-osc-cli export FILE --vcd OUT --csv OUT [--bit-rate R]: replays an oscillogram file
// and writes the four channel traces as a value change dump and/or as CSV.
//
// Each channel becomes one bit: 1 while its trace stands at the upper level of its pair (the
// even levels 2, 4, 6, 8: the line's status bit clear), 0 at the lower level, as the bit-stream
// decoder reads the traces. Where a trace has several points at one X, the last one counts.

#include <QCommandLineOption>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/replay.h"
#include "core/osc_file.h"

namespace cli {

namespace {

constexpr std::array<const char*, osc::kChannelCount> kSignalNames = {"strobe", "tx", "rx1", "rx2"};
constexpr std::array<char, osc::kChannelCount> kVcdIds = {'s', 't', 'r', 'q'};

// How ticks become dump times: time = round(tick * unitsPerTick), in units of `unit`.
struct TimeScale {
    const char* unit = "1 ns";
    long double unitsPerTick = 1;
    bool exact = true;

    std::int64_t timeOf(osc::Tick tick) const {
        if (exact && unitsPerTick == 1) {
            return tick;
        }
        return static_cast<std::int64_t>(
            std::llround(static_cast<long double>(tick) * unitsPerTick));
    }
};

// One tick lasts 1 / (256 R) s. The unit is the coarsest power of ten of a second in which a
// tick is a whole number of units (at most a million), else the coarsest one with at least ten
// units a tick, so that rounding moves an edge by at most a twentieth of a tick.
TimeScale timeScaleFor(double bitRate) {
    struct Unit {
        const char* text;
        int exponent;  // the unit is 10^exponent s
    };
    static constexpr Unit kUnits[] = {
        {"1 s", 0},     {"100 ms", -1},  {"10 ms", -2},   {"1 ms", -3},
        {"100 us", -4}, {"10 us", -5},   {"1 us", -6},    {"100 ns", -7},
        {"10 ns", -8},  {"1 ns", -9},    {"100 ps", -10}, {"10 ps", -11},
        {"1 ps", -12},  {"100 fs", -13}, {"10 fs", -14},  {"1 fs", -15},
    };
    const long double tickSeconds = 1.0L / (256.0L * static_cast<long double>(bitRate));
    const bool wholeRate = bitRate == std::floor(bitRate) && bitRate <= 1e12;
    if (wholeRate) {
        // A tick is k units exactly when 256 R 10^(15 + exponent) divides 10^15 (in fs).
        const auto rate = static_cast<std::uint64_t>(bitRate);
        constexpr std::uint64_t kFs = 1'000'000'000'000'000ULL;
        std::uint64_t unitFs = kFs;
        for (const Unit& u : kUnits) {
            if (256 * rate <= kFs / unitFs) {
                const std::uint64_t divisor = 256 * rate * unitFs;
                if (kFs % divisor == 0 && kFs / divisor <= 1'000'000) {
                    return {u.text, static_cast<long double>(kFs / divisor), true};
                }
            }
            unitFs /= 10;
        }
    }
    for (const Unit& u : kUnits) {
        const long double perTick = tickSeconds / std::pow(10.0L, u.exponent);
        if (perTick >= 10) {
            return {u.text, perTick, false};
        }
    }
    return {"1 fs", tickSeconds / 1e-15L, false};
}

// The channels' bits at every dump time where at least one of them changes; the first entry
// holds the values at the first time of all.
struct Change {
    std::int64_t time;
    std::array<int, osc::kChannelCount> bits;  // -1: the channel has no point yet
};

struct Changes {
    std::vector<Change> rows;
    std::int64_t endTime = 0;
};

Changes collectChanges(const osc::ChannelTraces& traces, const TimeScale& scale) {
    Changes out;
    // The stored points alone: a completion point repeats the level in force, so it never
    // changes a bit.
    std::array<osc::StoredPointIterator, osc::kChannelCount> next;
    std::array<osc::StoredPointIterator, osc::kChannelCount> ends;
    for (std::size_t c = 0; c < osc::kChannelCount; ++c) {
        const osc::StoredPointRange all = traces[c].storedPoints();
        next[c] = all.begin();
        ends[c] = all.end();
    }
    std::array<int, osc::kChannelCount> bits;
    bits.fill(-1);
    bool any = false;
    for (;;) {
        // The earliest time still ahead on any trace.
        std::optional<std::int64_t> time;
        for (std::size_t c = 0; c < osc::kChannelCount; ++c) {
            if (next[c] != ends[c]) {
                const std::int64_t t = scale.timeOf((*next[c]).x);
                if (!time || t < *time) {
                    time = t;
                }
            }
        }
        if (!time) {
            break;
        }
        std::array<int, osc::kChannelCount> now = bits;
        for (std::size_t c = 0; c < osc::kChannelCount; ++c) {
            for (; next[c] != ends[c]; ++next[c]) {
                const osc::TracePoint p = *next[c];
                if (scale.timeOf(p.x) != *time) {
                    break;
                }
                now[c] = p.y % 2 == 0 ? 1 : 0;
            }
        }
        if (!any || now != bits) {
            out.rows.push_back({*time, now});
            bits = now;
            any = true;
        }
        out.endTime = *time;
    }
    return out;
}

void appendNumber(std::string& out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

char vcdValue(int bit) {
    return bit < 0 ? 'x' : static_cast<char>('0' + bit);
}

std::string vcdText(const Changes& changes, const TimeScale& scale, std::optional<double> rate) {
    std::string out;
    out += "$version morvelip-osc-cli export $end\n";
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
    for (int c = 0; c < osc::kChannelCount; ++c) {
        out += c == 0 ? " " : ", ";
        out += kSignalNames[static_cast<std::size_t>(c)];
        out += " = ";
        out += osc::kChannels[static_cast<std::size_t>(c)].name;
    }
    out += "; 1 = upper level (status bit clear). $end\n";
    out += "$timescale ";
    out += scale.unit;
    out += " $end\n";
    out += "$scope module osc $end\n";
    for (int c = 0; c < osc::kChannelCount; ++c) {
        out += "$var wire 1 ";
        out += kVcdIds[static_cast<std::size_t>(c)];
        out += ' ';
        out += kSignalNames[static_cast<std::size_t>(c)];
        out += " $end\n";
    }
    out += "$upscope $end\n$enddefinitions $end\n";
    std::int64_t lastTime = 0;
    for (std::size_t r = 0; r < changes.rows.size(); ++r) {
        const Change& row = changes.rows[r];
        out += '#';
        appendNumber(out, row.time);
        out += '\n';
        if (r == 0) {
            out += "$dumpvars\n";
        }
        for (int c = 0; c < osc::kChannelCount; ++c) {
            const int bit = row.bits[static_cast<std::size_t>(c)];
            if (r == 0 || bit != changes.rows[r - 1].bits[static_cast<std::size_t>(c)]) {
                out += vcdValue(bit);
                out += kVcdIds[static_cast<std::size_t>(c)];
                out += '\n';
            }
        }
        if (r == 0) {
            out += "$end\n";
        }
        lastTime = row.time;
    }
    if (!changes.rows.empty() && changes.endTime > lastTime) {
        out += '#';
        appendNumber(out, changes.endTime);
        out += '\n';
    }
    return out;
}

std::string csvText(const Changes& changes) {
    std::string out = "tick";
    for (const char* name : kSignalNames) {
        out += ',';
        out += name;
    }
    out += '\n';
    for (const Change& row : changes.rows) {
        appendNumber(out, row.time);
        for (int bit : row.bits) {
            out += ',';
            if (bit >= 0) {
                out += static_cast<char>('0' + bit);
            }
        }
        out += '\n';
    }
    return out;
}

bool writeOrReport(const QString& path, const std::string& bytes) {
    try {
        osc::writeFileAtomically(localPath(path), bytes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    return true;
}

}  // namespace

int runExport(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Replays an oscillogram file as the window's load action does in a program that has "
        "just started, and writes the four channel traces as a value change dump (one wire "
        "each: strobe, tx, rx1, rx2) and/or as CSV (a header row, then the tick and the four "
        "values at every change). A value is 1 while the trace stands at the upper level of its "
        "channel (the status bit clear). The files are replaced only once fully written."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The .osc file."));
    const QCommandLineOption vcd(QStringLiteral("vcd"),
                                 QStringLiteral("Writes the value change dump to OUT."),
                                 QStringLiteral("OUT"));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("Writes the CSV to OUT."),
                                 QStringLiteral("OUT"));
    const QCommandLineOption bitRate(
        QStringLiteral("bit-rate"),
        QStringLiteral("Bits a second of the link, so that the dump's times are real (256 "
                       "ticks a bit). Without it one tick is one time unit (1 ns). The CSV "
                       "always counts ticks."),
        QStringLiteral("R"));
    parser.addOption(vcd);
    parser.addOption(csv);
    parser.addOption(bitRate);
    if (const int status = parseSubcommand(parser, args); status >= 0) {
        return status;
    }
    QString file;
    if (const int status = takeSingleFile(parser, args, file); status >= 0) {
        return status;
    }
    if (!parser.isSet(vcd) && !parser.isSet(csv)) {
        return usageError(parser, args, QStringLiteral("Give --vcd OUT, --csv OUT or both."));
    }
    std::optional<double> rate;
    if (parser.isSet(bitRate)) {
        bool ok = false;
        const double r = parser.value(bitRate).toDouble(&ok);
        if (!ok || !std::isfinite(r) || r <= 0 || r > 1e12) {
            return usageError(parser, args,
                              QStringLiteral("The bit rate must be a positive number of bits "
                                             "a second, not '%1'.")
                                  .arg(parser.value(bitRate)));
        }
        rate = r;
    }

    osc::CaptureEngine engine;
    if (!replayFileForCli(file, engine)) {
        return 1;
    }
    if (parser.isSet(vcd)) {
        const TimeScale scale = rate ? timeScaleFor(*rate) : TimeScale{};
        if (!writeOrReport(parser.value(vcd),
                           vcdText(collectChanges(engine.traces, scale), scale, rate))) {
            return 1;
        }
    }
    if (parser.isSet(csv)) {
        if (!writeOrReport(parser.value(csv),
                           csvText(collectChanges(engine.traces, TimeScale{})))) {
            return 1;
        }
    }
    return 0;
}

}  // namespace cli
