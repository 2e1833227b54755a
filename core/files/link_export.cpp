#include "core/files/link_export.h"

#include <algorithm>
#include <charconv>

namespace osc {

namespace {

void appendNumber(std::string& out, std::uint64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void appendDouble(std::string& out, double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// The link layer's values of a record, as text (empty for none) and whether each is a string.
struct LinkCells {
    std::string address, type, command, ns, nr, pf, role, answerTo, responseBits, issue;
};

LinkCells cellsOf(const FrameRecord& r) {
    LinkCells c;
    const LinkFields& f = r.fields;
    if (f.hasAddress()) {
        appendNumber(c.address, f.address);
    }
    c.type = linkTypeName(f.type);
    c.command = linkCommandName(f.command);
    if (f.hasNs()) {
        appendNumber(c.ns, f.ns);
    }
    if (f.hasNr()) {
        appendNumber(c.nr, f.nr);
    }
    if (f.valid()) {
        c.pf = f.pf ? "true" : "false";
    }
    c.role = linkRoleName(f.role);
    if (r.answerTo != 0) {
        appendNumber(c.answerTo, r.answerTo);
    }
    if (r.responseTime) {
        c.responseBits = bitsText(*r.responseTime);
    }
    if (const std::optional<LinkIssue> issue = r.info.issue()) {
        c.issue = linkIssueName(*issue);
    }
    return c;
}

void jsonValue(std::string& out, std::string_view key, const std::string& value, bool string) {
    out += ",\"";
    out += key;
    out += "\":";
    if (value.empty()) {
        out += "null";
    } else if (string) {
        out += '"' + value + '"';
    } else {
        out += value;
    }
}

}  // namespace

std::string bitsText(Tick ticks) {
    std::string out;
    std::uint64_t v = static_cast<std::uint64_t>(ticks);
    if (ticks < 0) {
        out += '-';
        v = ~v + 1;
    }
    appendNumber(out, v / kTicksPerBit);
    const std::uint64_t rest = v % kTicksPerBit;
    if (rest != 0) {
        // A 256th is 0.00390625: eight decimals hold every fraction exactly.
        std::string digits = std::to_string(rest * 390625);
        digits.insert(0, 8 - digits.size(), '0');
        digits.erase(digits.find_last_not_of('0') + 1);
        out += '.' + digits;
    }
    return out;
}

FrameRecords::FrameRecords(const CaptureFrames& frames, const LinkAnalysis& link)
    : frames_(frames), link_(link), analyser_(link.analyser()) {
    std::array<std::size_t, kChannelCount> at{};
    std::size_t total = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        const std::size_t n = frames.frames(c).size();
        total += n;
        numbers_[static_cast<std::size_t>(c)].resize(n);
    }
    order_.reserve(total);
    while (order_.size() < total) {
        int best = -1;
        Tick bestStart = 0;
        for (int c = 0; c < kChannelCount; ++c) {
            const FrameSequence& f = frames.frames(c);
            const std::size_t k = at[static_cast<std::size_t>(c)];
            if (k < f.size() && (best < 0 || f[k].start < bestStart)) {
                best = c;
                bestStart = f[k].start;
            }
        }
        const std::size_t k = at[static_cast<std::size_t>(best)]++;
        order_.push_back({best, k});
        numbers_[static_cast<std::size_t>(best)][k] = order_.size();
    }
}

std::uint64_t FrameRecords::numberOf(FrameRef ref) const {
    if (ref.channel < 0 || ref.channel >= kChannelCount) {
        return 0;
    }
    const std::vector<std::uint64_t>& n = numbers_[static_cast<std::size_t>(ref.channel)];
    return ref.index < n.size() ? n[ref.index] : 0;
}

FrameRecord FrameRecords::at(std::size_t position) const {
    const FrameRef ref = order_[position];
    const Frame& frame = frames_.frames(ref.channel)[ref.index];
    const LinkAnalyser& a = analyser_;
    FrameRecord r;
    r.index = position + 1;
    r.frame = &frame;
    r.fields = linkFields(frame, link_.options());
    if (ref.index < a.analysed(ref.channel)) {
        r.info = a.info(ref.channel, ref.index);
    }
    const FrameRef partner = r.info.partner();
    if (partner.valid() && r.fields.role == LinkRole::Response) {
        r.answerTo = numberOf(partner);
        const FrameSequence& commands = frames_.frames(partner.channel);
        if (partner.index < commands.size()) {
            r.responseTime = frame.start - commands[partner.index].end;
        }
    }
    return r;
}

std::string linkedFrameCsvHeader() {
    std::string h = frameCsvHeader();
    h.pop_back();
    return h + ",address,frame_type,command,ns,nr,pf,role,answer_to,response_bits,issue\n";
}

void appendLinkedFrameCsvRow(std::string& out, const FrameRecord& r) {
    appendFrameCsvCells(out, r.index, *r.frame);
    const LinkCells c = cellsOf(r);
    for (const std::string* cell : {&c.address, &c.type, &c.command, &c.ns, &c.nr, &c.pf, &c.role,
                                    &c.answerTo, &c.responseBits, &c.issue}) {
        out += ',';
        out += *cell;
    }
    out += '\n';
}

void appendLinkedFrameJson(std::string& out, const FrameRecord& r) {
    out += '{';
    appendFrameJsonMembers(out, r.index, *r.frame);
    const LinkCells c = cellsOf(r);
    jsonValue(out, "address", c.address, false);
    jsonValue(out, "frame_type", c.type, true);
    jsonValue(out, "command", c.command, true);
    jsonValue(out, "ns", c.ns, false);
    jsonValue(out, "nr", c.nr, false);
    jsonValue(out, "pf", c.pf, false);
    jsonValue(out, "role", c.role, true);
    jsonValue(out, "answer_to", c.answerTo, false);
    jsonValue(out, "response_bits", c.responseBits, false);
    jsonValue(out, "issue", c.issue, true);
    out += '}';
}

bool writeFrameRecords(const FrameRecords& records, FrameListFormat format,
                       const FrameFilter& filter,
                       const std::function<bool(std::string_view)>& sink) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    std::string out;
    out.reserve(kPiece + 4096);
    if (format == FrameListFormat::Csv) {
        out += linkedFrameCsvHeader();
    } else if (format == FrameListFormat::Json) {
        out += '[';
    }
    bool first = true;
    for (std::size_t p = 0; p < records.size(); ++p) {
        const FrameRecord r = records.at(p);
        if (!filter.matches(r)) {
            continue;
        }
        switch (format) {
            case FrameListFormat::Text:
                appendFrameText(out, r.index, *r.frame);
                break;
            case FrameListFormat::Csv:
                appendLinkedFrameCsvRow(out, r);
                break;
            case FrameListFormat::Json:
                out += first ? "\n" : ",\n";
                appendLinkedFrameJson(out, r);
                break;
        }
        first = false;
        if (out.size() >= kPiece) {
            if (!sink(out)) {
                return false;
            }
            out.clear();
        }
    }
    if (format == FrameListFormat::Json) {
        out += first ? "]\n" : "\n]\n";
    }
    return out.empty() || sink(out);
}

std::string formatStationStats(std::span<const StationStats> stations,
                               const std::array<LineStats, kChannelCount>& lines, unsigned channels,
                               FrameListFormat format) {
    struct Count {
        const char* key;
        std::uint64_t StationStats::*value;
    };
    static constexpr Count kCounts[] = {
        {"frames", &StationStats::frames},
        {"bytes", &StationStats::bytes},
        {"commands", &StationStats::commands},
        {"responses", &StationStats::responses},
        {"i_frames", &StationStats::iFrames},
        {"s_frames", &StationStats::sFrames},
        {"u_frames", &StationStats::uFrames},
        {"polls", &StationStats::polls},
        {"answers", &StationStats::answers},
        {"no_answer", &StationStats::noAnswer},
        {"retransmission", &StationStats::retransmission},
        {"sequence_gap", &StationStats::sequenceGap},
        {"unsolicited", &StationStats::unsolicited},
        {"rej", &StationStats::rej},
        {"srej", &StationStats::srej},
        {"rnr", &StationStats::rnr},
        {"frmr", &StationStats::frmr},
    };
    // The response times in bits: empty without answers.
    auto times = [](const StationStats& s) {
        std::array<std::string, 4> t;
        if (s.answers > 0) {
            t[0] = bitsText(s.responseMin);
            appendDouble(t[1], s.responseMean / kTicksPerBit);
            t[2] = bitsText(s.responseP95);
            t[3] = bitsText(s.responseMax);
        }
        return t;
    };
    static constexpr const char* kTimes[] = {"response_bits_min", "response_bits_mean",
                                             "response_bits_p95", "response_bits_max"};
    std::string out;
    if (format == FrameListFormat::Csv) {
        out += "address";
        for (const Count& c : kCounts) {
            out += ',';
            out += c.key;
        }
        for (const char* t : kTimes) {
            out += ',';
            out += t;
        }
        out += '\n';
        for (const StationStats& s : stations) {
            if (s.hasAddress) {
                appendNumber(out, s.address);
            }
            for (const Count& c : kCounts) {
                out += ',';
                appendNumber(out, s.*c.value);
            }
            for (const std::string& t : times(s)) {
                out += ',' + t;
            }
            out += '\n';
        }
        return out;
    }
    if (format == FrameListFormat::Json) {
        out += '[';
        bool first = true;
        for (const StationStats& s : stations) {
            out += first ? "\n{\"address\":" : ",\n{\"address\":";
            first = false;
            if (s.hasAddress) {
                appendNumber(out, s.address);
            } else {
                out += "null";
            }
            for (const Count& c : kCounts) {
                out += ",\"";
                out += c.key;
                out += "\":";
                appendNumber(out, s.*c.value);
            }
            const std::array<std::string, 4> t = times(s);
            for (std::size_t k = 0; k < t.size(); ++k) {
                jsonValue(out, kTimes[k], t[k], false);
            }
            out += '}';
        }
        out += first ? "]\n" : "\n]\n";
        return out;
    }
    // station 1: frames 40, bytes 160, commands 20, responses 20, I 20, S 20, U 0
    //   polls 20, answers 20, no_answer 0, retransmission 0, sequence_gap 0, unsolicited 0
    //   REJ 0, SREJ 0, RNR 0, FRMR 0
    //   response bits: min 1, mean 10.5, p95 19, max 20.5
    auto n = [](std::uint64_t v) { return std::to_string(v); };
    for (const StationStats& s : stations) {
        out += "station " + (s.hasAddress ? n(s.address) : std::string("(no address)")) +
               ": frames " + n(s.frames) + ", bytes " + n(s.bytes) + ", commands " + n(s.commands) +
               ", responses " + n(s.responses) + ", I " + n(s.iFrames) + ", S " + n(s.sFrames) +
               ", U " + n(s.uFrames) + "\n";
        out += "  polls " + n(s.polls) + ", answers " + n(s.answers) + ", no_answer " +
               n(s.noAnswer) + ", retransmission " + n(s.retransmission) + ", sequence_gap " +
               n(s.sequenceGap) + ", unsolicited " + n(s.unsolicited) + "\n";
        out += "  REJ " + n(s.rej) + ", SREJ " + n(s.srej) + ", RNR " + n(s.rnr) + ", FRMR " +
               n(s.frmr) + "\n";
        const std::array<std::string, 4> t = times(s);
        out += s.answers == 0 ? std::string("  response bits: none\n")
                              : "  response bits: min " + t[0] + ", mean " + t[1] + ", p95 " +
                                    t[2] + ", max " + t[3] + "\n";
    }
    for (int c = 0; c < kChannelCount; ++c) {
        if ((channels & (1u << c)) == 0) {
            continue;
        }
        const LineStats& l = lines[static_cast<std::size_t>(c)];
        out += "line " + n(static_cast<std::uint64_t>(c)) + " " +
               kChannels[static_cast<std::size_t>(c)].name + ": frames " + n(l.frames) + ", good " +
               n(l.good) + ", bad " + n(l.bad) + ", aborts " + n(l.aborts);
        if (l.noFields != 0) {
            out += ", good without address and control " + n(l.noFields);
        }
        out += '\n';
    }
    return out;
}

}  // namespace osc
