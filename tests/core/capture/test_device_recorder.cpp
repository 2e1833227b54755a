// One device of the recorder over a fake link and clocks of the test's own: a silent device asked
// again and its gap told, segments of a fixed length that hold every datagram exactly once, a
// folder removed under it, a full disk (a small tmpfs, as root), retention, what a killed run
// left behind, and the settings file.

#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/capture/device_recorder.h"
#include "core/capture/segment_retention.h"
#include "core/capture/settings_text.h"
#include "core/files/osc_file.h"

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;

const PeerAddress kDevice{{127, 0, 0, 9}, 971};

class FakeLink : public DeviceLink {
  public:
    void send(const std::string& address, std::span<const std::uint8_t> bytes) override {
        sent.push_back(address + " " +
                       (bytes.size() == 2     ? std::string("GD")
                        : bytes.back() == '6' ? std::string("start")
                                              : std::string("stop")));
    }
    std::optional<std::vector<PeerAddress>> deviceSenders(const std::string&) override {
        return std::vector<PeerAddress>{kDevice};
    }
    std::uint64_t receiverDrops() const override { return 0; }
    std::vector<std::string> sent;
};

class Log : public RecorderOutput {
  public:
    void event(const RecordedEvent& e) override { events.push_back(recordedEventText(e)); }
    void log(const std::string& line) override { lines.push_back(line); }
    bool has(const std::string& part) const {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }
    std::vector<std::string> events;
    std::vector<std::string> lines;
};

// Sample datagram number i (its number in bytes 2 to 5), with a strobe edge.
Bytes sample(std::uint32_t i) {
    return {0x23,
            0x08,
            static_cast<std::uint8_t>(i >> 24),
            static_cast<std::uint8_t>(i >> 16),
            static_cast<std::uint8_t>(i >> 8),
            static_cast<std::uint8_t>(i),
            0,
            0,
            static_cast<std::uint8_t>(i % 2 == 0 ? 0x04 : 0x00),
            0x00};
}
const Bytes kIdentityReply{0x47, 0x00, 0x02, 0x00, 0x7F, 0x00, 0x00, 0x09};

struct Clocks {
    std::int64_t steady = 1000;
    std::int64_t wall = 1'777'777'770'000;  // 2026-05-03T03:09:30Z
    RecorderClocks get() {
        return {[this] { return steady; }, [this] { return wall; }};
    }
    void advance(std::int64_t ms) {
        steady += ms;
        wall += ms;
    }
};

std::filesystem::path tempFolder(const std::string& name) {
    const std::filesystem::path p = std::filesystem::temp_directory_path() /
                                    ("mo-recorder-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(p);
    return p;
}

DeviceRecorderSettings settingsFor(const std::filesystem::path& folder) {
    DeviceRecorderSettings s;
    s.name = "127.0.0.9";
    s.address = "127.0.0.9";
    s.folder = folder;
    s.segmentMs = 1000;
    s.timing.writeEvery = std::chrono::milliseconds(1);
    return s;
}

// Every datagram number in the segments of a folder, in the order of their names.
std::vector<std::uint32_t> numbersInSegments(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        if (e.path().extension() == ".osc") {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::uint32_t> out;
    for (const auto& f : files) {
        OscFileReader reader(f);
        Bytes d;
        while (reader.next(d)) {
            if (d[0] == 0x23) {
                out.push_back(std::uint32_t{d[2]} << 24 | std::uint32_t{d[3]} << 16 |
                              std::uint32_t{d[4]} << 8 | d[5]);
            }
        }
    }
    return out;
}

TEST(DeviceRecorder, ASilentDeviceIsAskedAgainAndItsGapTold) {
    const std::filesystem::path folder = tempFolder("silence");
    Clocks clocks;
    FakeLink link;
    Log log;
    {
        DeviceRecorder r(settingsFor(folder), link, clocks.get(), log);
        r.start();
        EXPECT_EQ(link.sent, (std::vector<std::string>{"127.0.0.9 GD"}));
        EXPECT_TRUE(r.owns(kDevice));
        EXPECT_FALSE(r.owns(PeerAddress{{127, 0, 0, 8}, 971}));
        clocks.advance(1999);
        r.poll();
        EXPECT_EQ(link.sent.size(), 1u);
        clocks.advance(1);
        r.poll();  // no reply within 2 s: started all the same
        EXPECT_EQ(link.sent.back(), "127.0.0.9 start");
        EXPECT_TRUE(log.has("no identity reply within 2.0 s; starting with 00:00:00:00:00:00"));
        std::uint32_t n = 0;
        for (int i = 0; i < 100; ++i) {
            clocks.advance(10);
            r.consume(sample(n++), kDevice);
            r.poll();
        }
        EXPECT_TRUE(log.has("127.0.0.9: streaming"));
        // Quiet for 5 s: told once, asked again at once and every 3 s.
        clocks.advance(4999);
        r.poll();
        EXPECT_FALSE(r.silent());
        clocks.advance(1);
        r.poll();
        EXPECT_TRUE(r.silent());
        EXPECT_TRUE(log.has("no datagram for 5.0 s; asking again every 3.0 s"));
        EXPECT_EQ(link.sent.back(), "127.0.0.9 GD");
        const std::size_t asked = link.sent.size();
        clocks.advance(3000);
        r.poll();  // no reply to it within 2 s: the start command, then the request again
        EXPECT_EQ(link.sent.size(), asked + 2);
        EXPECT_EQ(link.sent.back(), "127.0.0.9 GD");
        // It answers (restarted, a new identity): the start command goes at once.
        r.consume(kIdentityReply, kDevice);
        EXPECT_EQ(link.sent.back(), "127.0.0.9 start");
        clocks.advance(500);
        r.consume(sample(n++), kDevice);
        EXPECT_FALSE(r.silent());
        EXPECT_TRUE(log.has("streaming again after 8.5 s without datagrams"));
        r.sendStop();
        EXPECT_EQ(link.sent.back(), "127.0.0.9 stop");
        r.close();
        const DeviceRecorder::Counts c = r.counts();
        EXPECT_EQ(c.samples, 101u);
        EXPECT_EQ(c.datagrams, 102u);
        EXPECT_EQ(c.gaps, 1u);
        EXPECT_EQ(c.notWritten, 0u);
    }
    std::filesystem::remove_all(folder);
}

TEST(DeviceRecorder, SegmentsHoldEveryDatagramOnceThroughTheirEndsAndVanishedFiles) {
    const std::filesystem::path folder = tempFolder("segments");
    Clocks clocks;
    clocks.wall += 400;  // the first segment begins 400 ms into a second
    FakeLink link;
    Log log;
    std::vector<std::uint32_t> expected;
    std::vector<std::string> firstNames;
    {
        DeviceRecorder r(settingsFor(folder), link, clocks.get(), log);
        r.start();
        r.consume(kIdentityReply, kDevice);
        std::vector<std::pair<std::uint32_t, std::filesystem::path>> written;
        for (std::uint32_t n = 0; n < 900; ++n) {
            clocks.advance(7);
            r.consume(sample(n), kDevice);
            written.emplace_back(n, r.currentSegment().value_or(""));
            r.poll();
            if (n == 200) {
                for (const auto& e : std::filesystem::directory_iterator(folder)) {
                    firstNames.push_back(e.path().filename().string());
                }
            }
            if (n == 600 || n == 750) {
                // The folder, then the segment being written, goes under it: their datagrams
                // go with them, the next ones into a new segment, found within a second.
                const std::filesystem::path lost = *r.currentSegment();
                if (n == 600) {
                    std::filesystem::remove_all(folder);
                } else {
                    std::filesystem::remove(lost.string() + ".part");
                }
                std::erase_if(written,
                              [&](const auto& w) { return n == 600 ? true : w.second == lost; });
                clocks.advance(1000);
                r.poll();
            }
        }
        r.close();
        EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                                [](const std::string& l) {
                                    return l.find("has disappeared") != std::string::npos;
                                }),
                  2);
        EXPECT_EQ(r.counts().samples, 900u);
        for (const auto& w : written) {
            expected.push_back(w.first);
        }
    }
    EXPECT_EQ(numbersInSegments(folder), expected);
    // From 03:09:30.400, 7 ms apart: the first segment named by its start, the next ones at
    // each whole second; none left as .part.
    std::sort(firstNames.begin(), firstNames.end());
    EXPECT_EQ(firstNames,
              (std::vector<std::string>{"20260503T030930Z.osc", "20260503T030931Z.osc.part"}));
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(e.path().extension(), ".osc") << e.path();
    }
    std::filesystem::remove_all(folder);
}

// A sample datagram of about 1.5 KiB as a line.
Bytes bigSample(std::uint32_t i) {
    Bytes d = sample(i);
    d.resize(500, 0x00);
    return d;
}

TEST(DeviceRecorder, AFullDiskIsToldAndSurvived) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    }
    const std::filesystem::path mountPoint = tempFolder("full");
    std::filesystem::create_directories(mountPoint);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
        std::filesystem::remove_all(mountPoint);
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    const std::filesystem::path ballast = mountPoint / "ballast";
    {
        std::ofstream out(ballast, std::ios::binary);
        out << std::string(40 << 10, 'x');
    }
    Clocks clocks;
    FakeLink link;
    Log log;
    DeviceRecorderSettings settings = settingsFor(mountPoint / "dev");
    settings.segmentMs = 3'600'000;
    std::uint32_t n = 0;
    {
        DeviceRecorder r(settings, link, clocks.get(), log);
        r.start();
        // Until the writer finds the disk full (its thread writes every millisecond).
        for (int i = 0; i < 20000 && !log.has("No space left on device"); ++i) {
            if (i < 200) {
                clocks.advance(1);
                r.consume(bigSample(n++), kDevice);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            r.poll();
        }
        ASSERT_TRUE(log.has("No space left on device"));
        EXPECT_TRUE(log.has("it keeps what was written, and a new segment is tried every 5.0 s"));
        // Nothing to write into: counted, and the program goes on.
        for (int i = 0; i < 5; ++i) {
            r.consume(bigSample(n++), kDevice);
        }
        std::filesystem::remove(ballast);
        clocks.advance(5000);
        r.poll();
        const std::uint32_t resumed = n;
        for (int i = 0; i < 5; ++i) {
            clocks.advance(1);
            r.consume(bigSample(n++), kDevice);
        }
        // Told once the new segment has lines on the disk.
        for (int i = 0; i < 20000 && !log.has("writing again, into"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            r.poll();
        }
        EXPECT_TRUE(log.has("writing again, into"));
        EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                                [](const std::string& l) {
                                    return l.find("No space left on device") != std::string::npos;
                                }),
                  1);
        r.close();
        const std::vector<std::uint32_t> got = numbersInSegments(mountPoint / "dev");
        // Whatever was written stays, in whole lines: the datagrams from the first up to where
        // the disk ran full, then those after the new segment began.
        ASSERT_GE(got.size(), 10u);
        std::size_t k = 0;
        while (k < got.size() && got[k] == k) {
            ++k;
        }
        ASSERT_GT(k, 5u);
        EXPECT_EQ(
            std::vector<std::uint32_t>(got.begin() + static_cast<std::ptrdiff_t>(k), got.end()),
            (std::vector<std::uint32_t>{resumed, resumed + 1, resumed + 2, resumed + 3,
                                        resumed + 4}));
        EXPECT_EQ(r.counts().notWritten, n - got.size());
    }
    ::umount(mountPoint.c_str());
    std::filesystem::remove_all(mountPoint);
}

TEST(SegmentRetention, RulesAndTheFilesTheyPick) {
    struct Rule {
        const char* text;
        std::optional<std::int64_t> age;
        std::optional<std::uint64_t> bytes;
    };
    const std::vector<Rule> rules{
        {"7d", 7 * 86'400'000LL, std::nullopt}, {"36h", 36 * 3'600'000LL, std::nullopt},
        {"90min", 5'400'000, std::nullopt},     {"3600s", 3'600'000, std::nullopt},
        {"50G", std::nullopt, 50ULL << 30},     {"500M", std::nullopt, 500ULL << 20},
        {"1.5GiB", std::nullopt, 3ULL << 29},   {"2T", std::nullopt, 2ULL << 40},
        {"30m", std::nullopt, std::nullopt},    {"30", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},       {"7 weeks", std::nullopt, std::nullopt},
        {"0.5s", std::nullopt, std::nullopt},   {"-1d", std::nullopt, std::nullopt},
    };
    for (const Rule& row : rules) {
        const std::optional<RetentionRule> r = parseRetention(row.text);
        ASSERT_EQ(r.has_value(), row.age.has_value() || row.bytes.has_value()) << row.text;
        if (r) {
            EXPECT_EQ(r->maxAgeMs, row.age) << row.text;
            EXPECT_EQ(r->maxBytes, row.bytes) << row.text;
        }
    }

    const std::int64_t now = 1'000'000'000;
    const std::vector<SegmentFile> segments{
        {"a/1.osc", 100, now - 5000}, {"b/1.osc", 100, now - 4000}, {"a/2.osc", 100, now - 3000},
        {"b/2.osc", 100, now - 2000}, {"a/3.osc", 100, now - 10},
    };
    struct Pick {
        const char* name;
        RetentionRule rule;
        std::vector<std::filesystem::path> active;
        std::vector<std::size_t> gone;
    };
    const std::vector<Pick> picks{
        {"by age", {3500, std::nullopt}, {}, {0, 1}},
        {"by size, oldest first", {std::nullopt, 250}, {}, {0, 1, 2}},
        {"the one being written stays", {std::nullopt, 150}, {"a/1.osc"}, {1, 2, 3, 4}},
        {"both", {4500, 350}, {}, {0, 1}},
        {"within both", {10000, 500}, {}, {}},
    };
    for (const Pick& p : picks) {
        EXPECT_EQ(segmentsToDelete(segments, p.rule, now, p.active), p.gone) << p.name;
    }

    // On the disk: segments of every device, oldest first by name; not the events, not what is
    // being written, not other files.
    const std::filesystem::path dir = tempFolder("retention");
    for (const char* f : {"dev1/20260101T000000Z.osc", "dev2/20251231T235959Z.osc",
                          "dev1/20260101T001500Z.osc", "dev1/events/20260101T000001.000Z.osc",
                          "dev2/20260101T000000Z.osc.part", "dev2/notes.txt"}) {
        std::filesystem::create_directories((dir / f).parent_path());
        writeFileAtomically(dir / f, "23 08 \r\n");
    }
    std::vector<std::string> listed;
    for (const SegmentFile& s : listSegments(dir)) {
        listed.push_back(std::filesystem::relative(s.path, dir).string());
        EXPECT_EQ(s.bytes, 8u);
    }
    EXPECT_EQ(listed,
              (std::vector<std::string>{"dev2/20251231T235959Z.osc", "dev1/20260101T000000Z.osc",
                                        "dev1/20260101T001500Z.osc"}));

    // A killed run's .part files: cut back to their whole lines and put in place.
    writeFileAtomically(dir / "dev2/20260101T000000Z.osc.part", "23 08 04 00 \r\n23 08 0");
    writeFileAtomically(dir / "dev1/events/20260101T000001.000Z.osc.part", "47 00 \r\n");
    const std::vector<std::string> told = recoverLeftovers(dir / "dev2");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("put in place as 20260101T000000Z.osc (1 datagrams)"), std::string::npos)
        << told[0];
    EXPECT_EQ(readWholeFile(dir / "dev2/20260101T000000Z.osc"), "23 08 04 00 \r\n");
    const std::vector<std::string> events = recoverLeftovers(dir / "dev1");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(dir / "dev1/events/20260101T000001.000Z-2.osc"));
    std::filesystem::remove_all(dir);
}

TEST(SettingsText, LinesCommentsAndErrors) {
    const SettingsParse ok = parseSettingsText(
        "\xEF\xBB\xBF# the substation's recorder\n"
        "device = 10.0.0.5\r\n"
        "  Device=10.0.0.6:2000   # the second one\n"
        "\n"
        "trigger = bytes ~ \"01 #3E\" && status == bad\n"
        "answer_timeout = 96\n");
    ASSERT_TRUE(ok.ok()) << ok.error->message;
    ASSERT_EQ(ok.settings.size(), 4u);
    EXPECT_EQ(ok.settings[0].key, "device");
    EXPECT_EQ(ok.settings[0].value, "10.0.0.5");
    EXPECT_EQ(ok.settings[0].line, 2);
    EXPECT_EQ(ok.settings[1].value, "10.0.0.6:2000");
    EXPECT_EQ(ok.settings[2].value, "bytes ~ \"01 #3E\" && status == bad");
    EXPECT_EQ(ok.settings[2].line, 5);
    EXPECT_EQ(ok.settings[3].key, "answer-timeout");

    struct Bad {
        const char* text;
        int line;
        const char* message;
    };
    const std::vector<Bad> bad{
        {"dir = /srv\nport 971\n", 2, "expected 'key = value'"},
        {"= 5\n", 1, "expected a key before '='"},
        {"dir =   # nothing\n", 1, "'dir' has no value"},
        {"pre/post = 5\n", 1, "a key is letters, digits and '-', not 'pre/post'"},
    };
    for (const Bad& b : bad) {
        const SettingsParse p = parseSettingsText(b.text);
        ASSERT_FALSE(p.ok()) << b.text;
        EXPECT_EQ(p.error->line, b.line) << b.text;
        EXPECT_EQ(p.error->message, b.message) << b.text;
    }
    EXPECT_FALSE(parseSettingsText(std::string(kMaxSettingsText + 1, '#')).ok());
}

}  // namespace
}  // namespace osc
