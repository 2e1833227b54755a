#include "core/files/trace_export.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <vector>

namespace osc {

namespace {

constexpr std::array<const char*, kChannelCount> kSignalNames = {"strobe", "tx", "rx1", "rx2"};
constexpr std::array<char, kChannelCount> kVcdIds = {'s', 't', 'r', 'q'};

using Bits = std::array<int, kChannelCount>;  // -1: the channel has no point yet

int bitOf(const TracePoint& p) {
    return p.y % 2 == 0 ? 1 : 0;
}

// Reads one trace's stored points [index, end) by their number among the stored points, so
// that points appended meanwhile (a new block, the last block turned into a run) move nothing
// under it; the block is looked up again whenever the layout changed.
class StoredCursor {
  public:
    StoredCursor(const ChannelTrace& trace, std::uint64_t begin, std::uint64_t end)
        : trace_(&trace), index_(begin), end_(end) {}

    bool atEnd() const { return index_ >= end_; }
    std::uint64_t index() const { return index_; }
    TracePoint point() {
        if (!located_ || layout_ != trace_->layoutRevision() || j_ >= count_) {
            locate();
        }
        return trace_->blockPoint(k_, j_);
    }
    void advance() {
        ++index_;
        ++j_;
    }

  private:
    void locate() {
        if (trace_->storedCount() < end_) {
            throw std::runtime_error("The traces were restarted during the export");
        }
        std::size_t lo = 0;
        std::size_t hi = trace_->blockCount();
        while (hi - lo > 1) {  // the last block that starts at or before the point
            const std::size_t mid = lo + (hi - lo) / 2;
            if (trace_->block(mid).storedStart <= index_) {
                lo = mid;
            } else {
                hi = mid;
            }
        }
        const TraceBlock b = trace_->block(lo);
        k_ = lo;
        j_ = index_ - b.storedStart;
        count_ = b.count;
        layout_ = trace_->layoutRevision();
        located_ = true;
    }

    const ChannelTrace* trace_;
    std::uint64_t index_;
    std::uint64_t end_;
    std::size_t k_ = 0;
    std::uint64_t j_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t layout_ = 0;
    bool located_ = false;
};

// The number of the first stored point with X >= x (the stored count when none).
std::uint64_t storedLowerBound(const ChannelTrace& trace, Tick x) {
    std::size_t lo = 0;
    std::size_t hi = trace.blockCount();
    while (lo < hi) {  // the first block that reaches x
        const std::size_t mid = lo + (hi - lo) / 2;
        if (trace.block(mid).lastX < x) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (lo == trace.blockCount()) {
        return trace.storedCount();
    }
    return trace.block(lo).storedStart + trace.blockLowerBound(lo, x);
}

TracePoint storedPointAt(const ChannelTrace& trace, std::uint64_t index) {
    return StoredCursor(trace, index, index + 1).point();
}

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

void appendVcdComment(std::string& out, std::optional<double> rate,
                      std::optional<ExportStretch> stretch) {
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
    out += "; 1 = upper level (status bit clear).";
    if (stretch) {
        out += " The stretch from tick ";
        appendNumber(out, stretch->from);
        out += " to tick ";
        appendNumber(out, stretch->to);
        out += '.';
    }
    out += " $end\n";
}

void appendVcdHeader(std::string& out, const VcdTimeScale& scale, std::optional<double> rate,
                     std::optional<ExportStretch> stretch) {
    out += "$version morvelip-osc-cli export $end\n";
    appendVcdComment(out, rate, stretch);
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

// The texts in pieces: the header, then the rows of changes in time order (the four traces
// walked together), then the end.
class TraceExport::Impl {
  public:
    Impl(const ChannelTraces& traces, ExportFormat format, std::optional<double> bitRate,
         std::optional<ExportStretch> stretch)
        : format_(format),
          rate_(bitRate),
          stretch_(stretch),
          scale_(format == ExportFormat::Vcd && bitRate ? VcdTimeScaleFor(*bitRate)
                                                        : VcdTimeScale{}) {
        bits_.fill(-1);
        start_.fill(-1);
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            const ChannelTrace& t = traces[c];
            std::uint64_t begin = 0;
            std::uint64_t end = t.storedCount();
            if (stretch_) {
                begin = storedLowerBound(t, stretch_->from);
                end = std::max(begin, storedLowerBound(t, stretch_->to));
                if (begin > 0) {
                    start_[c] = bitOf(storedPointAt(t, begin - 1));
                }
            } else if (end > 0) {
                // The stored points alone: a completion point repeats the level in force, so
                // it never changes a bit, and the last point of a trace is always a stored one.
                endTick_ = std::max(endTick_, storedPointAt(t, end - 1).x);
            }
            cursors_.emplace_back(t, begin, end);
            total_ += end - begin;
        }
    }

    bool next(std::string& out, std::size_t changes) {
        switch (stage_) {
            case Stage::Header:
                appendHeader(out);
                stage_ = Stage::Rows;
                return true;
            case Stage::Rows:
                appendRows(out, std::max<std::size_t>(changes, 1));
                return true;
            case Stage::End:
                appendEnd(out);
                stage_ = Stage::Done;
                return true;
            case Stage::Done:
                break;
        }
        return false;
    }

    double progress() const {
        if (stage_ == Stage::Done) {
            return 1;
        }
        return total_ == 0 ? 0 : static_cast<double>(taken_) / static_cast<double>(total_);
    }

  private:
    enum class Stage { Header, Rows, End, Done };

    void appendHeader(std::string& out) const {
        if (format_ == ExportFormat::Vcd) {
            appendVcdHeader(out, scale_, rate_, stretch_);
            return;
        }
        out += "tick";
        for (const char* name : kSignalNames) {
            out += ',';
            out += name;
        }
        out += '\n';
    }

    void appendRows(std::string& out, std::size_t changes) {
        for (std::size_t n = 0; n < changes;) {
            if (stretch_ && rows_ == 0) {
                // The values in force where the stretch begins, with the points right there.
                const std::int64_t time = scale_.timeOf(stretch_->from);
                appendRow(out, time, takePointsAt(time, start_));
                ++n;
                continue;
            }
            const std::optional<std::int64_t> time = earliestTime();
            if (!time) {
                stage_ = Stage::End;
                return;
            }
            const Bits now = takePointsAt(*time, bits_);
            if (rows_ == 0 || now != bits_) {
                appendRow(out, *time, now);
                ++n;
            }
        }
    }

    void appendRow(std::string& out, std::int64_t time, const Bits& now) {
        if (format_ == ExportFormat::Csv) {
            appendNumber(out, time);
            for (const int bit : now) {
                out += ',';
                if (bit >= 0) {
                    out += static_cast<char>('0' + bit);
                }
            }
            out += '\n';
        } else {
            appendTimestamp(out, time);
            if (rows_ == 0) {
                out += "$dumpvars\n";
            }
            for (std::size_t c = 0; c < kChannelCount; ++c) {
                if (rows_ == 0 || now[c] != bits_[c]) {
                    out += vcdValue(now[c]);
                    out += kVcdIds[c];
                    out += '\n';
                }
            }
            if (rows_ == 0) {
                out += "$end\n";
            }
        }
        bits_ = now;
        lastRowTime_ = time;
        ++rows_;
    }

    // A timestamp after the last change: the stretch's end; for the whole traces their last
    // time when it lies later, otherwise the time of one tick after the last point.
    void appendEnd(std::string& out) const {
        if (format_ != ExportFormat::Vcd || rows_ == 0) {
            return;
        }
        if (stretch_) {
            appendTimestamp(out, scale_.timeOf(stretch_->to));
            return;
        }
        const std::int64_t endTime = scale_.timeOf(endTick_);
        if (endTime > lastRowTime_) {
            appendTimestamp(out, endTime);
        } else if (endTick_ < std::numeric_limits<Tick>::max()) {
            appendTimestamp(out, scale_.timeOf(endTick_ + 1));
        }
    }

    // The point at a cursor and its time, each point read and its time rounded once.
    struct Head {
        std::uint64_t index = UINT64_MAX;
        TracePoint point{};
        std::int64_t time = 0;
    };
    const Head& head(std::size_t c) {
        Head& h = heads_[c];
        StoredCursor& cursor = cursors_[c];
        if (h.index != cursor.index()) {
            h.point = cursor.point();
            h.time = scale_.timeOf(h.point.x);
            h.index = cursor.index();
        }
        return h;
    }

    // The earliest time still ahead on any trace.
    std::optional<std::int64_t> earliestTime() {
        std::optional<std::int64_t> time;
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            if (!cursors_[c].atEnd()) {
                const std::int64_t t = head(c).time;
                if (!time || t < *time) {
                    time = t;
                }
            }
        }
        return time;
    }

    // The bits after every point at `time`; where a trace has several, the last one counts.
    Bits takePointsAt(std::int64_t time, Bits bits) {
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            StoredCursor& cursor = cursors_[c];
            for (; !cursor.atEnd(); cursor.advance()) {
                const Head& h = head(c);
                if (h.time != time) {
                    break;
                }
                bits[c] = bitOf(h.point);
                ++taken_;
            }
        }
        return bits;
    }

    ExportFormat format_;
    std::optional<double> rate_;
    std::optional<ExportStretch> stretch_;
    VcdTimeScale scale_;
    std::vector<StoredCursor> cursors_;
    std::array<Head, kChannelCount> heads_{};
    Bits bits_{};   // the values of the last row
    Bits start_{};  // the values in force where the stretch begins
    Stage stage_ = Stage::Header;
    std::uint64_t rows_ = 0;
    std::int64_t lastRowTime_ = 0;
    Tick endTick_ = std::numeric_limits<Tick>::min();  // the traces' last point
    std::uint64_t taken_ = 0;
    std::uint64_t total_ = 0;
};

TraceExport::TraceExport(const ChannelTraces& traces, ExportFormat format,
                         std::optional<double> bitRate, std::optional<ExportStretch> stretch) {
    if (format != ExportFormat::Vcd && format != ExportFormat::Csv) {
        throw std::invalid_argument("The traces are written as VCD or CSV only");
    }
    impl_ = std::make_unique<Impl>(traces, format, bitRate, stretch);
}

TraceExport::~TraceExport() = default;

bool TraceExport::next(std::string& out, std::size_t changes) {
    return impl_->next(out, changes);
}

double TraceExport::progress() const {
    return impl_->progress();
}

bool writeTraces(const ChannelTraces& traces, ExportFormat format, std::optional<double> bitRate,
                 std::optional<ExportStretch> stretch, OutputSink& sink,
                 const WriteProgress& progress) {
    constexpr std::size_t kChangesPerStep = 4096;
    TraceExport writer(traces, format, bitRate, stretch);
    while (writer.next(sink.buffer(), kChangesPerStep)) {
        sink.spill();
        if (progress && !progress(writer.progress())) {
            return false;
        }
    }
    sink.flush();
    return true;
}

std::string ExportText(const ChannelTraces& traces, ExportFormat format,
                       std::optional<double> bitRate, std::optional<ExportStretch> stretch) {
    return collectText(
        [&](OutputSink& sink) { writeTraces(traces, format, bitRate, stretch, sink); });
}

std::string VcdText(const ChannelTraces& traces, std::optional<double> bitRate) {
    return ExportText(traces, ExportFormat::Vcd, bitRate, std::nullopt);
}

std::string CsvText(const ChannelTraces& traces) {
    return ExportText(traces, ExportFormat::Csv, std::nullopt, std::nullopt);
}

}  // namespace osc
