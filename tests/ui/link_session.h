#pragma once
// A polled link as the simulated device sends it (sim/serial_link.h), captured into an engine
// for the window's link tests: the primary's line on "Передача", the stations' answers on
// "Приём1" and "Приём2", one bit period per bit (period p at tick (p + 1) * 256), with the
// simulator's record of what it sent. And what that record says the link columns must show,
// worked out from the sent bytes alone.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/view/time_text.h"
#include "sim/serial_link.h"
#include "tests/ui/frame_lines.h"

namespace uitest {

// The frames the link sent (and the answers it lost) that lie wholly within the capture.
inline std::vector<osc::sim::SentFrame> captureLink(osc::CaptureEngine& engine,
                                                    const osc::sim::LinkFaults& faults,
                                                    std::uint64_t periods, std::uint64_t seed) {
    osc::sim::LinkOptions options;
    options.seed = seed;
    options.faults = faults;
    osc::sim::SerialLink link(options);
    link.keepLog(true);
    std::array<Bits, 3> lines;
    for (std::uint64_t p = 0; p < periods; ++p) {
        const osc::sim::PeriodBits b = link.nextPeriod();
        lines[0].push_back(b.transmit);
        lines[1].push_back(b.receive1);
        lines[2].push_back(b.receive2);
    }
    captureLines(engine, {{1, lines[0]}, {2, lines[1]}, {3, lines[2]}}, {}, osc::kDataChannels);
    std::vector<osc::sim::SentFrame> sent;
    for (const osc::sim::SentFrame& f : link.log()) {
        if (f.end + 8 < periods) {
            sent.push_back(f);
        }
    }
    return sent;
}

inline int channelOf(osc::sim::LinkLine line) {
    return 1 + static_cast<int>(line);
}
inline osc::Tick tickOfPeriod(std::uint64_t period) {
    return FrameLine::tickOf(static_cast<std::size_t>(period));
}

// The link columns of one frame as the table must show them.
struct LinkCells {
    std::string address, type, response, remark;
};

// Reads each frame sent on the line as the link layer's rules say (one address byte, control
// modulo 8, the primary on "Передача", no answer timeout), keyed by the frame's start tick.
// Damaged frames get empty cells and take no part. A command sent last, whose answer could
// still come, gets no "нет ответа".
inline std::map<osc::Tick, LinkCells> expectedLinkCells(
    const std::vector<osc::sim::SentFrame>& sent, std::optional<double> bitRate = std::nullopt) {
    std::map<osc::Tick, LinkCells> out;
    struct Sequence {
        bool seen = false;
        int previous = 0, expected = 0;
    };
    std::map<std::pair<int, bool>, Sequence> sequences;  // (address, command)
    const osc::sim::SentFrame* lastCommand = nullptr;    // the latest good command sent
    std::vector<const osc::sim::SentFrame*> good;
    for (const osc::sim::SentFrame& f : sent) {
        if (!f.onLine()) {
            continue;
        }
        if (f.fault == osc::sim::LinkFault::BitError) {
            out[tickOfPeriod(f.start)] = {};
            continue;
        }
        good.push_back(&f);
    }
    // Commands without any frame at all (good or damaged) starting on a response line before
    // the next frame on the primary's line (good or damaged).
    std::map<const osc::sim::SentFrame*, bool> heard;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const osc::sim::SentFrame& c = sent[i];
        if (!c.onLine() || c.line != osc::sim::LinkLine::Transmit) {
            continue;
        }
        bool any = false, next = false;
        for (std::size_t j = i + 1; j < sent.size(); ++j) {
            const osc::sim::SentFrame& r = sent[j];
            if (!r.onLine()) {
                continue;
            }
            if (r.line == osc::sim::LinkLine::Transmit) {
                next = true;
                break;
            }
            any = any || (r.line != osc::sim::LinkLine::Transmit && r.start >= c.end);
        }
        heard[&c] = any || !next;
    }
    const char* const kKinds[4] = {"RR", "RNR", "REJ", "SREJ"};
    for (const osc::sim::SentFrame* f : good) {
        const bool command = f->line == osc::sim::LinkLine::Transmit;
        const int address = f->bytes.at(0);
        const int control = f->bytes.at(1);
        const bool pf = (control & 0x10) != 0;
        const std::string pfText = pf ? (command ? " P" : " F") : "";
        LinkCells cells;
        cells.address = std::to_string(address);
        Sequence& own = sequences[{address, command}];
        Sequence& other = sequences[{address, !command}];
        std::string issues[4];  // no answer, unsolicited, repeated, gap
        if ((control & 1) == 0) {
            const int ns = (control >> 1) & 7, nr = control >> 5;
            cells.type = "I " + std::to_string(ns) + "/" + std::to_string(nr) + pfText;
            if (own.seen) {
                if (ns == own.previous) {
                    issues[2] = "повтор";
                } else if (ns != own.expected) {
                    issues[3] = "пропуск N(S)";
                }
            }
            own.seen = true;
            own.previous = ns;
            own.expected = (ns + 1) % 8;
        } else if ((control & 3) == 1) {
            const int kind = (control >> 2) & 3, nr = control >> 5;
            cells.type = std::string(kKinds[kind]) + " " + std::to_string(nr) + pfText;
            if (kind >= 2) {
                other.expected = nr;
            }
        } else {
            const int code = control & ~0x10;
            const std::map<int, std::string> names = {{0x83, "SNRM"},
                                                      {0x63, "UA"},
                                                      {0x43, command ? "DISC" : "RD"},
                                                      {0x0F, command ? "SARM" : "DM"}};
            cells.type = names.count(code) ? names.at(code) + pfText : "?";
            if (code == 0x83) {
                own.expected = 0;
                other.expected = 0;
            }
        }
        if (command) {
            if (pf && !heard[f]) {
                issues[0] = "нет ответа";
            }
            lastCommand = f;
        } else {
            // Unsolicited: the latest command that ended by its start (it is the latest sent,
            // as the link never answers before the command's end) is for another station or
            // has no poll bit.
            if (lastCommand == nullptr || lastCommand->bytes.at(0) != address ||
                (lastCommand->bytes.at(1) & 0x10) == 0) {
                issues[1] = "ответ без запроса";
            } else {
                // The first response of that station after the command answers it.
                bool first = true;
                for (const osc::sim::SentFrame* g : good) {
                    if (g == f) {
                        break;
                    }
                    if (g->line != osc::sim::LinkLine::Transmit && g->start >= lastCommand->end &&
                        g->bytes.at(0) == address) {
                        first = false;
                    }
                }
                if (first) {
                    const osc::Tick rt = tickOfPeriod(f->start) - tickOfPeriod(lastCommand->end);
                    cells.response = osc::PositionText(rt, bitRate);
                }
            }
        }
        for (const std::string& issue : issues) {
            if (!issue.empty()) {
                cells.remark += (cells.remark.empty() ? "" : ", ") + issue;
            }
        }
        out[tickOfPeriod(f->start)] = cells;
    }
    return out;
}

}  // namespace uitest
