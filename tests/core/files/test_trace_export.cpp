// The VCD and CSV writers: tiny captures with their exact text, and random captures checked
// against a tick-by-tick reading of the traces and against the dump read back.

#include "core/files/trace_export.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/core/core_test_support.h"

namespace osc {
namespace {

using test_support::Points;

ChannelTraces tracesOf(const std::array<Points, kChannelCount>& points) {
    ChannelTraces traces;
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        for (const auto& [x, y] : points[c]) {
            traces[c].add(x, static_cast<std::uint8_t>(y));
        }
    }
    return traces;
}

// The dump after its header.
std::string dumpBody(const std::string& vcd) {
    const std::string marker = "$enddefinitions $end\n";
    const auto at = vcd.find(marker);
    return at == std::string::npos ? "(no header)" : vcd.substr(at + marker.size());
}

TEST(TraceExport, TinyCaptures) {
    struct Row {
        const char* name;
        std::array<Points, kChannelCount> points;
        const char* csv;      // after the header row
        const char* vcdBody;  // without a bit rate: one tick a nanosecond
    };
    const Row rows[] = {
        {"no points", {}, "", ""},
        {"one point on each channel",
         {{{{0, 8}}, {{0, 5}}, {{0, 4}}, {{0, 1}}}},
         "0,1,0,1,0\n",
         "#0\n$dumpvars\n1s\n0t\n1r\n0q\n$end\n#1\n"},
        {"a change at the last point ends one tick later",
         {{{{0, 7}, {256, 8}}, {{0, 6}}, {{0, 4}}, {{0, 2}}}},
         "0,0,1,1,1\n256,1,1,1,1\n",
         "#0\n$dumpvars\n0s\n1t\n1r\n1q\n$end\n#256\n1s\n#257\n"},
        {"points after the last change end the dump at their time",
         {{{{0, 7}, {256, 8}, {512, 8}}, {{0, 6}, {768, 6}}, {{0, 4}}, {{0, 2}}}},
         "0,0,1,1,1\n256,1,1,1,1\n",
         "#0\n$dumpvars\n0s\n1t\n1r\n1q\n$end\n#256\n1s\n#768\n"},
        {"several points at one time: the last counts",
         {{{{0, 7}, {100, 8}, {100, 7}, {200, 7}}, {{0, 5}, {100, 5}, {100, 6}}, {}, {}}},
         "0,0,0,,\n100,0,1,,\n",
         "#0\n$dumpvars\n0s\n0t\nxr\nxq\n$end\n#100\n1t\n#200\n"},
        {"a channel starting late is x until its first point",
         {{{{0, 8}}, {{512, 5}}, {}, {{1024, 2}}}},
         "0,1,,,\n512,1,0,,\n1024,1,0,,1\n",
         "#0\n$dumpvars\n1s\nxt\nxr\nxq\n$end\n#512\n0t\n#1024\n1q\n#1025\n"},
        {"a flip back at the same time is no change",
         {{{{0, 8}, {300, 7}, {300, 8}, {600, 8}}, {{0, 6}}, {{0, 4}}, {{0, 2}}}},
         "0,1,1,1,1\n",
         "#0\n$dumpvars\n1s\n1t\n1r\n1q\n$end\n#600\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ChannelTraces traces = tracesOf(row.points);
        EXPECT_EQ(CsvText(traces), std::string("tick,strobe,tx,rx1,rx2\n") + row.csv);
        EXPECT_EQ(dumpBody(VcdText(traces, std::nullopt)), row.vcdBody);
    }
}

TEST(TraceExport, HeaderAndTimeScales) {
    const ChannelTraces traces = tracesOf({{{{0, 7}, {1024, 8}}, {{0, 6}}, {{0, 4}}, {{0, 2}}}});
    EXPECT_EQ(VcdText(traces, std::nullopt)
                  .rfind("$version morvelip-osc-cli export $end\n$comment Logic lines", 0),
              0u);
    struct Row {
        double rate;
        const char* unit;
        const char* tail;  // the last change and the end of the dump
    };
    const Row rows[] = {
        {1, "10 ns", "#400000000\n1s\n#400390625\n"},  // a tick is 390625 units exactly
        {1000, "10 ps", "#400000000\n1s\n#400390625\n"},
        {9600, "10 ns", "#41667\n1s\n#41707\n"},  // 40.69 units a tick, rounded
        {115200, "1 ns", "#34722\n1s\n#34756\n"},
        {0.5, "100 us", "#80000\n1s\n#80078\n"},
        {1e12, "1 fs", "#4000\n1s\n#4004\n"},  // the finest unit, 3.9 a tick
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rate);
        const std::string vcd = VcdText(traces, row.rate);
        EXPECT_NE(vcd.find(std::string("$timescale ") + row.unit + " $end\n"), std::string::npos);
        const std::string body = dumpBody(vcd);
        EXPECT_EQ(body.substr(body.size() - std::string(row.tail).size()), row.tail) << body;
    }
}

// The bits at every time where one changes, read tick by tick from the points: a channel's bit
// at tick t is that of its last point with X <= t.
std::vector<std::pair<Tick, std::array<int, kChannelCount>>> referenceChanges(
    const std::array<Points, kChannelCount>& points) {
    std::map<Tick, std::array<int, kChannelCount>> at;
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        for (const auto& [x, y] : points[c]) {
            at[x];
        }
    }
    std::vector<std::pair<Tick, std::array<int, kChannelCount>>> out;
    for (auto& [t, bits] : at) {
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            bits[c] = -1;
            for (const auto& [x, y] : points[c]) {
                if (x <= t) {
                    bits[c] = y % 2 == 0 ? 1 : 0;
                }
            }
        }
        if (out.empty() || out.back().second != bits) {
            out.emplace_back(t, bits);
        }
    }
    return out;
}

std::string csvOf(const std::vector<std::pair<Tick, std::array<int, kChannelCount>>>& changes) {
    std::string out = "tick,strobe,tx,rx1,rx2\n";
    for (const auto& [t, bits] : changes) {
        out += std::to_string(t);
        for (const int b : bits) {
            out += b < 0 ? std::string(",") : "," + std::to_string(b);
        }
        out += '\n';
    }
    return out;
}

// Reads a dump back as a reader does: each value holds from its timestamp until the next one.
// Gives the rows of the CSV and the last timestamp.
std::pair<std::string, Tick> readBack(const std::string& vcd) {
    std::istringstream in(dumpBody(vcd));
    const std::string ids = "strq";
    std::array<int, kChannelCount> bits{-1, -1, -1, -1};
    std::vector<std::pair<Tick, std::array<int, kChannelCount>>> rows;
    Tick time = -1;
    std::string line;
    auto flush = [&] {
        if (time >= 0 && (rows.empty() || rows.back().second != bits)) {
            rows.emplace_back(time, bits);
        }
    };
    while (std::getline(in, line)) {
        if (line[0] == '#') {
            flush();
            time = std::stoll(line.substr(1));
        } else if (line.size() == 2 && ids.find(line[1]) != std::string::npos) {
            bits[ids.find(line[1])] = line[0] == 'x' ? -1 : line[0] - '0';
        }
    }
    // A reader drops what follows the last timestamp: the writer must leave nothing there.
    return {csvOf(rows), time};
}

TEST(TraceExport, RandomCapturesAgreeWithATickByTickReading) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::array<Points, kChannelCount> points;
        Tick last = 0;
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            const int count = static_cast<int>(rng() % 12);
            Tick x = static_cast<Tick>(rng() % 3);
            for (int i = 0; i < count; ++i) {
                x += static_cast<Tick>(rng() % 4);  // repeats of one X included
                points[c].emplace_back(x, kChannels[c].levelSet + static_cast<int>(rng() % 2));
                last = std::max(last, x);
            }
        }
        const ChannelTraces traces = tracesOf(points);
        const auto reference = referenceChanges(points);
        EXPECT_EQ(CsvText(traces), csvOf(reference));
        const auto [readCsv, endTime] = readBack(VcdText(traces, std::nullopt));
        EXPECT_EQ(readCsv, csvOf(reference));
        if (!reference.empty()) {
            EXPECT_GT(endTime, reference.back().first);
            EXPECT_EQ(endTime, std::max(last, reference.back().first + 1));
        }
    }
}

// The pieces of an export, joined, are the whole text; progress only grows and ends at 1.
TEST(TraceExport, PiecesMakeTheWholeText) {
    std::mt19937 rng(99);
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        std::array<Points, kChannelCount> points;
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            Tick x = static_cast<Tick>(rng() % 5);
            for (int i = static_cast<int>(rng() % 300); i > 0; --i) {
                x += static_cast<Tick>(rng() % 300);
                points[c].emplace_back(x, kChannels[c].levelSet + static_cast<int>(rng() % 2));
            }
        }
        const ChannelTraces traces = tracesOf(points);
        for (const ExportFormat format : {ExportFormat::Vcd, ExportFormat::Csv}) {
            const std::optional<double> rate = format == ExportFormat::Vcd && round % 2
                                                   ? std::optional<double>(9600)
                                                   : std::nullopt;
            TraceExport writer(traces, format, rate);
            std::string joined;
            double last = 0;
            while (writer.next(joined, 1 + rng() % 7)) {
                EXPECT_GE(writer.progress(), last);
                last = writer.progress();
            }
            EXPECT_EQ(writer.progress(), 1.0);
            EXPECT_EQ(joined,
                      format == ExportFormat::Vcd ? VcdText(traces, rate) : CsvText(traces));
        }
    }
}

// Through a sink of any size the text is the same; no delivery holds more than the sink's
// size and one piece of 4096 changes; a progress that says stop stops the writer.
TEST(TraceExport, StreamedThroughSinksOfAnySize) {
    std::mt19937 rng(31);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::array<Points, kChannelCount> points;
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            Tick x = 0;
            for (int i = static_cast<int>(rng() % 6000); i > 0; --i) {
                x += static_cast<Tick>(rng() % 500);
                points[c].emplace_back(x, kChannels[c].levelSet + static_cast<int>(rng() % 2));
            }
        }
        const ChannelTraces traces = tracesOf(points);
        const std::optional<ExportStretch> stretch =
            round % 3 == 0 ? std::optional<ExportStretch>({1000, 500000}) : std::nullopt;
        for (const ExportFormat format : {ExportFormat::Vcd, ExportFormat::Csv}) {
            const std::string whole = ExportText(traces, format, 115200, stretch);
            for (const std::size_t capacity : {1, 1000, 1 << 20}) {
                std::string joined;
                std::size_t largest = 0;
                OutputSink sink(
                    [&](std::string_view b) {
                        joined += b;
                        largest = std::max(largest, b.size());
                    },
                    capacity);
                int steps = 0;
                ASSERT_TRUE(writeTraces(traces, format, 115200, stretch, sink, [&](double) {
                    ++steps;
                    return true;
                }));
                EXPECT_EQ(joined, whole);
                EXPECT_LT(largest, capacity + std::size_t{4096} * 40);
                EXPECT_GE(steps, 2);
            }
            std::string part;
            OutputSink sink([&](std::string_view b) { part += b; }, 1);
            int steps = 0;
            EXPECT_FALSE(writeTraces(traces, format, 115200, stretch, sink,
                                     [&](double) { return ++steps < 2; }));
            EXPECT_EQ(steps, 2);
            EXPECT_EQ(whole.rfind(part, 0), 0u);  // what was written is the text's beginning
        }
    }
    OutputSink sink([](std::string_view) {});
    EXPECT_THROW(writeTraces({}, ExportFormat::Pcapng, std::nullopt, std::nullopt, sink),
                 std::invalid_argument);
}

TEST(TraceExport, StretchTable) {
    // strobe 7@0 8@100 7@300; tx 6@0 5@200 6@250; rx1 from 400 on; rx2 none.
    const ChannelTraces traces =
        tracesOf({{{{0, 7}, {100, 8}, {300, 7}}, {{0, 6}, {200, 5}, {250, 6}}, {{400, 4}}, {}}});
    struct Row {
        const char* name;
        ExportStretch stretch;
        const char* csv;      // after the header row
        const char* vcdBody;  // one tick a nanosecond
    };
    const Row rows[] = {
        {"inside: the values in force, the changes, the end",
         {150, 260},
         "150,1,1,,\n200,1,0,,\n250,1,1,,\n",
         "#150\n$dumpvars\n1s\n1t\nxr\nxq\n$end\n#200\n0t\n#250\n1t\n#260\n"},
        {"a change at the start belongs to it, one at the end does not",
         {100, 300},
         "100,1,1,,\n200,1,0,,\n250,1,1,,\n",
         "#100\n$dumpvars\n1s\n1t\nxr\nxq\n$end\n#200\n0t\n#250\n1t\n#300\n"},
        {"before every point",
         {-50, -10},
         "-50,,,,\n",
         "#-50\n$dumpvars\nxs\nxt\nxr\nxq\n$end\n#-10\n"},
        {"after every point",
         {1000, 2000},
         "1000,0,1,1,\n",
         "#1000\n$dumpvars\n0s\n1t\n1r\nxq\n$end\n#2000\n"},
        {"one tick", {200, 201}, "200,1,0,,\n", "#200\n$dumpvars\n1s\n0t\nxr\nxq\n$end\n#201\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ExportText(traces, ExportFormat::Csv, std::nullopt, row.stretch),
                  std::string("tick,strobe,tx,rx1,rx2\n") + row.csv);
        const std::string vcd = ExportText(traces, ExportFormat::Vcd, std::nullopt, row.stretch);
        EXPECT_EQ(dumpBody(vcd), row.vcdBody);
        EXPECT_NE(vcd.find("The stretch from tick"), std::string::npos);
    }
}

// A stretch is the tick-by-tick reading of the whole traces cut to [from, to): the values at
// `from`, then every change before `to`; the dump, read back, says the same and ends at `to`.
TEST(TraceExport, RandomStretchesAgreeWithATickByTickReading) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::array<Points, kChannelCount> points;
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            Tick x = static_cast<Tick>(rng() % 3);
            for (int i = static_cast<int>(rng() % 12); i > 0; --i) {
                x += static_cast<Tick>(rng() % 4);
                points[c].emplace_back(x, kChannels[c].levelSet + static_cast<int>(rng() % 2));
            }
        }
        const Tick from = static_cast<Tick>(rng() % 30);
        const Tick to = from + 1 + static_cast<Tick>(rng() % 20);
        // The reference: the whole reading, cut.
        std::vector<std::pair<Tick, std::array<int, kChannelCount>>> cut;
        std::array<int, kChannelCount> atFrom{-1, -1, -1, -1};
        for (const auto& [t, bits] : referenceChanges(points)) {
            if (t <= from) {
                atFrom = bits;
            } else if (t < to) {
                if (cut.empty()) {
                    cut.emplace_back(from, atFrom);
                }
                cut.emplace_back(t, bits);
            }
        }
        if (cut.empty()) {
            cut.emplace_back(from, atFrom);
        }
        const ChannelTraces traces = tracesOf(points);
        const ExportStretch stretch{from, to};
        EXPECT_EQ(ExportText(traces, ExportFormat::Csv, std::nullopt, stretch), csvOf(cut));
        const auto [readCsv, endTime] =
            readBack(ExportText(traces, ExportFormat::Vcd, std::nullopt, stretch));
        EXPECT_EQ(readCsv, csvOf(cut));
        EXPECT_EQ(endTime, to);
    }
}

// An export started while a capture goes on takes the points as they were at its start; points
// appended meanwhile (regular stretches becoming runs, new blocks) change nothing under it. A
// trace restarted meanwhile ends it with an error.
TEST(TraceExport, PointsAppendedDuringAnExportAreLeftOut) {
    ChannelTraces traces;
    Tick x = 0;
    auto grow = [&](int n) {
        for (int i = 0; i < n; ++i) {
            x += 256;
            traces[0].add(x, static_cast<std::uint8_t>(7 + (i % 2)));  // a strobe: a run
            if (i % 3 == 0) {
                traces[1].add(x + 7, static_cast<std::uint8_t>(5 + (i / 3) % 2));
            }
        }
    };
    grow(1000);
    for (const ExportFormat format : {ExportFormat::Vcd, ExportFormat::Csv}) {
        const ChannelTraces before = traces;
        const std::string expected = ExportText(before, format, std::nullopt, std::nullopt);
        TraceExport writer(traces, format, std::nullopt);
        std::string text;
        while (writer.next(text, 50)) {
            grow(97);
        }
        EXPECT_EQ(text, expected);
    }
    TraceExport writer(traces, ExportFormat::Csv, std::nullopt);
    std::string text;
    writer.next(text, 10);
    writer.next(text, 10);
    traces[0].clear();
    EXPECT_THROW(while (writer.next(text, 10)){}, std::runtime_error);
}

}  // namespace
}  // namespace osc
