// The ring of datagrams against a plain list, and the event files cut from it: windows at the
// start and the end of a capture, windows that overlap joined, windows in reception time, and
// a window the ring no longer holds.

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/files/osc_file.h"
#include "core/trigger/datagram_ring.h"
#include "core/trigger/event_files.h"

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DatagramRing, KeepsTheNewestWithinItsBoundLikeAList) {
    std::mt19937 rng(5);
    struct Kept {
        std::uint64_t sequence;
        Tick after;
        Bytes bytes;
    };
    for (int round = 0; round < 20; ++round) {
        std::size_t bound = 500 + rng() % 6000;
        DatagramRing ring(bound);
        std::deque<Kept> model;
        std::size_t held = 0;
        Tick tick = 0;
        for (std::uint64_t s = 0; s < 3000; ++s) {
            Bytes bytes(rng() % 300);
            for (auto& b : bytes) {
                b = static_cast<std::uint8_t>(rng());
            }
            RingEntry e;
            e.sequence = s;
            e.tickBefore = tick;
            tick += static_cast<Tick>(rng() % 3) * 256;
            e.tickAfter = tick;
            e.receivedMs = static_cast<std::int64_t>(s);
            e.bytes = bytes;
            ring.push(e);
            const std::size_t cost = bytes.size() + DatagramRing::kEntryOverhead;
            if (cost > bound) {
                model.clear();
                held = 0;
            } else {
                while (!model.empty() && held + cost > bound) {
                    held -= model.front().bytes.size() + DatagramRing::kEntryOverhead;
                    model.pop_front();
                }
                model.push_back({s, tick, bytes});
                held += cost;
            }
            if (rng() % 500 == 0) {
                bound = 500 + rng() % 6000;
                ring.setMaxBytes(bound);
                while (!model.empty() && held > bound) {
                    held -= model.front().bytes.size() + DatagramRing::kEntryOverhead;
                    model.pop_front();
                }
            }
            if (rng() % 700 == 0 && !model.empty()) {
                const std::uint64_t keep = model.back().sequence - rng() % 5;
                ring.dropBefore(keep);
                while (!model.empty() && model.front().sequence < keep) {
                    held -= model.front().bytes.size() + DatagramRing::kEntryOverhead;
                    model.pop_front();
                }
            }
            ASSERT_EQ(ring.size(), model.size()) << round << " " << s;
            ASSERT_EQ(ring.heldBytes(), held);
            ASSERT_LE(ring.memoryBytes(), bound + DatagramRing::kSlack + ring.size() * 64);
            if (!model.empty()) {
                ASSERT_EQ(ring.first(), model.front().sequence);
                for (const std::size_t k : {std::size_t{0}, model.size() / 2, model.size() - 1}) {
                    const RingEntry got = ring.at(model[k].sequence);
                    ASSERT_EQ(Bytes(got.bytes.begin(), got.bytes.end()), model[k].bytes);
                    ASSERT_EQ(got.tickAfter, model[k].after);
                }
                const Tick probe = model[model.size() / 3].after;
                std::uint64_t expected = ring.end();
                for (const Kept& k : model) {
                    if (k.after >= probe) {
                        expected = k.sequence;
                        break;
                    }
                }
                ASSERT_EQ(ring.firstAtTick(probe), expected);
            }
        }
    }
}

// Datagram i covers bits [10 i, 10 i + 10) and arrives at 10 i ms; its bytes say i.
Bytes datagramNumber(std::uint64_t i) {
    return {0x23, 0x08, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i), 0, 0, 0, 0,
            0x04, 0x00};
}
RingEntry entryNumber(std::uint64_t i, const Bytes& bytes) {
    RingEntry e;
    e.sequence = i;
    e.tickBefore = static_cast<Tick>(i) * 10 * kTicksPerBit;
    e.tickAfter = e.tickBefore + 10 * kTicksPerBit;
    e.receivedMs = static_cast<std::int64_t>(i) * 10;
    e.bytes = bytes;
    return e;
}

TriggerEvent eventAt(double fromBit, double toBit) {
    TriggerEvent e;
    e.from = static_cast<Tick>(fromBit * kTicksPerBit);
    e.to = static_cast<Tick>(toBit * kTicksPerBit);
    e.at = e.to;
    return e;
}

// The datagram numbers in an event file.
std::vector<std::uint64_t> numbersIn(const std::filesystem::path& path) {
    std::vector<std::uint64_t> out;
    OscFileReader reader(path);
    Bytes d;
    while (reader.next(d)) {
        out.push_back(std::uint64_t{d[2]} << 8 | d[3]);
    }
    return out;
}
std::vector<std::uint64_t> range(std::uint64_t first, std::uint64_t last) {
    std::vector<std::uint64_t> out;
    for (std::uint64_t i = first; i <= last; ++i) {
        out.push_back(i);
    }
    return out;
}

class EventFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ =
            std::filesystem::temp_directory_path() /
            ("mo-event-files-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    void push(DatagramRing& ring, EventFiles& files, std::uint64_t i) {
        const Bytes bytes = datagramNumber(i);
        ring.push(entryNumber(i, bytes));
        files.datagramAdded();
    }
    std::function<std::string(std::int64_t)> names() {
        return [](std::int64_t ms) { return "at-" + std::to_string(ms); };
    }
    std::filesystem::path folder_;
};

TEST_F(EventFilesTest, WindowsInBitsAtBothEndsOfACaptureAndJoinedWhenTheyOverlap) {
    DatagramRing ring;
    EventWindowSettings settings;
    settings.pre = TimeSpan::bits(50);
    settings.post = TimeSpan::bits(30);
    EventFiles files(folder_, settings, ring, names());
    std::vector<FinishedEventFile> done;
    std::filesystem::path first, second;
    for (std::uint64_t i = 0; i <= 35; ++i) {
        push(ring, files, i);
        if (i == 3) {
            // Its window reaches before the capture's start: from the first datagram.
            first = files.add(eventAt(23, 27));
            EXPECT_EQ(first, folder_ / "at-20.osc");
        } else if (i == 11) {
            // 100 - 50 - 16 bits reaches back into the first window's datagrams: joined.
            EXPECT_EQ(files.add(eventAt(100, 104)), first);
        } else if (i == 31) {
            // Far from both: a file of its own from datagram 23 (bit 300 - 66 = 234).
            second = files.add(eventAt(300, 305));
            EXPECT_NE(second, first);
        } else if (i == 35) {
            EXPECT_EQ(files.add(eventAt(345, 346)), second);  // its window reaches the second
        }
        for (FinishedEventFile& f : files.takeFinished()) {
            // The first is finished once no later window could reach it: datagram 21 (its last
            // datagram 13 ends at bit 140; 140 + 66 < 210).
            EXPECT_EQ(i, 21u);
            done.push_back(std::move(f));
        }
        if (i == 20) {
            EXPECT_EQ(files.oldestNeeded(), 14u);  // a window reaching back may join it still
        } else if (i == 22) {
            EXPECT_EQ(files.oldestNeeded(), ring.end());
        }
    }
    files.finishAll();  // the capture stops inside the second's window
    for (FinishedEventFile& f : files.takeFinished()) {
        done.push_back(std::move(f));
    }
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].path, first);
    EXPECT_EQ(done[0].events.size(), 2u);
    EXPECT_TRUE(done[0].preComplete);
    EXPECT_TRUE(done[0].postComplete);
    EXPECT_EQ(done[0].datagrams, 14u);
    EXPECT_EQ(numbersIn(first), range(0, 13));
    EXPECT_EQ(done[0].firstReceivedMs, 0);
    EXPECT_EQ(done[0].lastReceivedMs, 130);
    EXPECT_EQ(done[1].events.size(), 2u);
    EXPECT_FALSE(done[1].postComplete);
    EXPECT_EQ(numbersIn(second), range(23, 35));
    EXPECT_TRUE(done[1].error.empty());
    EXPECT_FALSE(std::filesystem::exists(second.string() + ".part"));
}

TEST_F(EventFilesTest, WindowsInReceptionTimeAndWhatTheRingLetGo) {
    {
        DatagramRing ring;
        EventWindowSettings settings;
        settings.pre = TimeSpan::milliseconds(35);
        settings.post = TimeSpan::milliseconds(25);
        EventFiles files(folder_, settings, ring, names());
        for (std::uint64_t i = 0; i <= 30; ++i) {
            push(ring, files, i);
            if (i == 16) {
                files.add(eventAt(150, 152));
            }
        }
        files.finishAll();
        const std::vector<FinishedEventFile> done = files.takeFinished();
        ASSERT_EQ(done.size(), 1u);
        // Bit 150 came with datagram 14 (140 ms): from 105 ms on, datagram 11; bit 152 with
        // datagram 15 (150 ms), and 25 ms after it, datagram 17.
        EXPECT_EQ(numbersIn(done[0].path), range(11, 17));
        EXPECT_TRUE(done[0].postComplete);
    }
    {
        // A ring of 5 datagrams: the window wanted 66 bits before, the ring had 4 datagrams.
        DatagramRing ring(5 * (10 + DatagramRing::kEntryOverhead));
        EventWindowSettings settings;
        settings.pre = TimeSpan::bits(50);
        settings.post = TimeSpan::bits(0);
        EventFiles files(folder_ / "small", settings, ring, names());
        for (std::uint64_t i = 0; i <= 40; ++i) {
            push(ring, files, i);
            if (i == 20) {
                files.add(eventAt(200, 205));
            }
        }
        files.finishAll();
        const std::vector<FinishedEventFile> done = files.takeFinished();
        ASSERT_EQ(done.size(), 1u);
        EXPECT_FALSE(done[0].preComplete);
        EXPECT_EQ(numbersIn(done[0].path), range(16, 20));
    }
}

TEST_F(EventFilesTest, AFaultThatKeepsFiringFillsOneFileAtATime) {
    DatagramRing ring;
    EventWindowSettings settings;
    settings.pre = TimeSpan::bits(50);
    settings.post = TimeSpan::bits(50);
    EventFiles files(folder_, settings, ring, names());
    std::vector<FinishedEventFile> done;
    for (std::uint64_t i = 0; i < 1500; ++i) {
        push(ring, files, i);
        files.add(eventAt(static_cast<double>(i) * 10 + 5, static_cast<double>(i) * 10 + 6));
        for (FinishedEventFile& f : files.takeFinished()) {
            done.push_back(std::move(f));
        }
    }
    files.finishAll();
    for (FinishedEventFile& f : files.takeFinished()) {
        done.push_back(std::move(f));
    }
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].events.size(), EventFiles::kMaxEventsInFile);
    EXPECT_FALSE(done[0].postComplete);
    EXPECT_EQ(done[1].events.size(), 500u);
    // The second begins with its first event's window before it, from the ring.
    EXPECT_EQ(numbersIn(done[1].path).front(), 993u);
}

TEST_F(EventFilesTest, AFolderThatCannotBeMadeIsToldAndNothingIsLeft) {
    std::filesystem::create_directories(folder_);
    const std::filesystem::path blocker = folder_ / "not-a-folder";
    writeFileAtomically(blocker, "x");
    DatagramRing ring;
    EventFiles files(blocker / "events", EventWindowSettings{}, ring, names());
    push(ring, files, 0);
    EXPECT_TRUE(files.add(eventAt(1, 2)).empty());
    EXPECT_NE(files.takeError().find("Cannot create file"), std::string::npos);
    const std::vector<FinishedEventFile> done = files.takeFinished();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_FALSE(done[0].error.empty());
    EXPECT_FALSE(files.open());
}

}  // namespace
}  // namespace osc
