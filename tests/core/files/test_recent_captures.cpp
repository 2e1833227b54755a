// The journals of the last captures: kept at each stop instead of being replaced at the next
// start, trimmed to their limits oldest first, and described in a text that a hand edit cannot
// turn into something else.

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "core/files/recent_captures.h"

namespace osc {
namespace {

class RecentCapturesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("recent_captures_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // A kept capture of `bytes` bytes started at `startedAt`, as the acquisition adds it.
    KeptCapture keep(RecentCaptures& recent, std::int64_t startedAt, std::uint64_t bytes) {
        KeptCapture c{
            recent.newPath(startedAt), startedAt, startedAt + 5, bytes / 10, bytes, "10.0.0.5"};
        std::ofstream(c.path) << std::string(static_cast<std::size_t>(bytes), 'x');
        recent.add(c);
        return c;
    }
    static std::vector<std::int64_t> starts(const RecentCaptures& recent) {
        std::vector<std::int64_t> out;
        for (const KeptCapture& c : recent.list()) {
            out.push_back(c.startedAt);
        }
        return out;
    }
    std::filesystem::path dir_;
};

TEST(KeptCaptureText, RoundTripAndRefusedTexts) {
    const KeptCapture c{{}, 1765300000, 1765300065, 12345, 987654, "10.0.0.5 00:1A:2B:3C:4D:5E"};
    EXPECT_EQ(parseKeptCapture(keptCaptureText(c)), c);
    const std::string good = keptCaptureText(c);
    struct Row {
        const char* name;
        std::string text;
    };
    const Row refused[] = {
        {"another head", "MorvelIP_OSC capture 2" + good.substr(good.find('\n'))},
        {"cut before the device", good.substr(0, good.find("device"))},
        {"no final line break", good.substr(0, good.size() - 1)},
        {"text after the record", good + "more\n"},
        {"a number too large",
         "MorvelIP_OSC capture 1\nstarted 1\nended 2\ndatagrams 18446744073709551616\nbytes "
         "1\ndevice x\n"},
        {"a negative count",
         "MorvelIP_OSC capture 1\nstarted 1\nended 2\ndatagrams -1\nbytes 1\ndevice x\n"},
        {"an empty number",
         "MorvelIP_OSC capture 1\nstarted \nended 2\ndatagrams 1\nbytes 1\ndevice x\n"},
        {"a CR in the device",
         "MorvelIP_OSC capture 1\nstarted 1\nended 2\ndatagrams 1\nbytes 1\ndevice a\rb\n"},
        {"a NUL in the device", std::string("MorvelIP_OSC capture 1\nstarted 1\nended 2\n"
                                            "datagrams 1\nbytes 1\ndevice a\0b\n",
                                            70)},
        {"a device too long",
         "MorvelIP_OSC capture 1\nstarted 1\nended 2\ndatagrams 1\nbytes "
         "1\ndevice " +
             std::string(1025, 'd') + "\n"},
    };
    for (const Row& r : refused) {
        EXPECT_FALSE(parseKeptCapture(r.text)) << r.name;
    }
    // A device text with a line break is cut there on writing, so it cannot add lines.
    KeptCapture broken = c;
    broken.device = "dev\nbytes 1";
    EXPECT_EQ(parseKeptCapture(keptCaptureText(broken))->device, "dev");
}

TEST_F(RecentCapturesTest, TheOldestGoPastTheCountOrTheSizeButNeverTheNewest) {
    RecentCaptures recent(dir_ / "captures", {3, 1000});
    for (std::int64_t t = 1; t <= 5; ++t) {
        keep(recent, t * 100, 100);
    }
    EXPECT_EQ(starts(recent), (std::vector<std::int64_t>{500, 400, 300}));
    // 600 + 500 bytes exceed 1000: only the newest stays, however large.
    keep(recent, 600, 600);
    keep(recent, 700, 500);
    EXPECT_EQ(starts(recent), (std::vector<std::int64_t>{700}));
    keep(recent, 800, 5000);
    EXPECT_EQ(starts(recent), (std::vector<std::int64_t>{800}));
    // Wider limits keep more from now on; narrower ones trim at once.
    recent.setLimits({10, 1 << 20});
    keep(recent, 900, 10);
    keep(recent, 1000, 10);
    EXPECT_EQ(starts(recent), (std::vector<std::int64_t>{1000, 900, 800}));
    recent.setLimits({2, 1 << 20});
    EXPECT_EQ(starts(recent), (std::vector<std::int64_t>{1000, 900}));
    // Nothing else in the folder is listed or removed: a description without its lines, lines
    // without a description, a damaged description.
    std::ofstream(dir_ / "captures" / "capture-1-1.capture") << "MorvelIP_OSC capture 1\n";
    std::ofstream(dir_ / "captures" / "capture-2-1.osc") << "23 \r\n";
    std::ofstream(dir_ / "captures" / "capture-3-1.osc") << "23 \r\n";
    std::ofstream(dir_ / "captures" / "capture-3-1.capture") << "garbage";
    keep(recent, 1100, 10);
    EXPECT_EQ(starts(recent), (std::vector<std::int64_t>{1100, 1000}));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "captures" / "capture-2-1.osc"));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "captures" / "capture-3-1.capture"));
    // Two captures started in the same second get names of their own.
    const KeptCapture a = keep(recent, 1200, 10);
    const KeptCapture b = keep(recent, 1200, 10);
    EXPECT_NE(a.path, b.path);
    EXPECT_TRUE(recent.remove(b));
    EXPECT_FALSE(recent.remove(b));
    EXPECT_EQ(recent.list().front().path, a.path);
}

// A second capture does not replace the first: the first's journal is moved aside at its stop,
// whole, and its trace log still reads it from there until the next start.
TEST_F(RecentCapturesTest, AStoppedCaptureIsKeptAndStillReadable) {
    CaptureJournal journal(dir_, {std::chrono::milliseconds(5), std::chrono::milliseconds(5)});
    RecentCaptures recent(dir_ / "captures");
    journal.start();
    const std::uint8_t first[] = {0x23, 0x08, 0x01};
    for (int i = 0; i < 100; ++i) {
        journal.append(first);
    }
    const std::uint64_t id = journal.captureId();
    EXPECT_THROW(journal.keepAs(recent.newPath(1)), FileError);  // still running
    journal.stop();
    EXPECT_EQ(journal.stoppedProgress().datagrams, 100u);
    EXPECT_EQ(journal.stoppedProgress().bytes, 100u * 11);
    const std::filesystem::path kept = recent.newPath(journal.startedAt());
    journal.keepAs(kept);
    EXPECT_EQ(journal.keptPath(), kept);
    EXPECT_THROW(journal.keepAs(recent.newPath(2)), FileError);  // once
    const int fd = journal.openForReading(id);
    ASSERT_GE(fd, 0);
    char head[12] = {};
    EXPECT_EQ(::pread(fd, head, 11, 0), 11);
    ::close(fd);
    EXPECT_STREQ(head, "23 08 01 \r\n");

    journal.start();
    const std::uint8_t second[] = {0x23, 0x09};
    journal.append(second);
    journal.stop();
    EXPECT_EQ(journal.openForReading(id), -1);  // that capture is no longer the journal's
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text += "23 08 01 \r\n";
    }
    EXPECT_EQ(readWholeFile(kept), text);
    EXPECT_EQ(readWholeFile(journal.path()), "23 09 \r\n");
}

}  // namespace
}  // namespace osc
