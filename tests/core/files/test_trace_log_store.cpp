// The trace log store against the plain text builder: the same datagrams appended to both, every
// way of reading the store must give the plain text's bytes, whichever file the store moved its
// bytes to (none, its spill file, the journal, a journal that lags behind or lost lines).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "core/files/trace_log_store.h"

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;

class TraceLogStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("trace_store_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
};

// The plain trace: the datagrams and their text, CR LF after every line.
struct Reference {
    std::vector<Bytes> datagrams;
    std::string text;
    std::vector<std::uint64_t> offsets{0};  // of each line's text, and the end
    void add(const Bytes& d) {
        datagrams.push_back(d);
        text += traceLine(d) + "\r\n";
        offsets.push_back(text.size());
    }
};

// Every way of reading the store against the reference.
void expectSame(const TraceLogStore& store, const Reference& ref, std::mt19937& rng,
                const std::string& what) {
    const std::uint64_t n = ref.datagrams.size();
    ASSERT_EQ(store.lineCount(), n) << what;
    ASSERT_EQ(store.textOffset(n), ref.text.size()) << what;
    std::uint64_t longest = 0;
    for (const Bytes& d : ref.datagrams) {
        longest = std::max<std::uint64_t>(longest, 3 * d.size());
    }
    EXPECT_EQ(store.longestLine(), longest) << what;
    for (int k = 0; k < 40 && n > 0; ++k) {
        const std::uint64_t i = rng() % n;
        const std::string want = traceLine(ref.datagrams[i]);
        ASSERT_EQ(store.line(i), want) << what << " line " << i;
        ASSERT_EQ(store.datagram(i), ref.datagrams[i]) << what << " line " << i;
        ASSERT_EQ(store.textOffset(i), ref.offsets[i]) << what << " line " << i;
    }
    // The whole text in pieces of a random size, from a random line to a random end.
    for (const std::size_t piece : {std::size_t{1}, std::size_t{100}, std::size_t{1} << 20}) {
        const std::uint64_t first = n > 0 ? rng() % n : 0;
        const std::uint64_t end = n > 0 ? first + rng() % (n - first + 1) : 0;
        std::string text;
        std::uint64_t line = first;
        std::string out;
        while (line < end) {
            const std::uint64_t before = line;
            out.clear();
            store.readText(line, end, out, piece);
            ASSERT_GT(line, before) << what;
            text += out;
        }
        ASSERT_EQ(text, ref.text.substr(ref.offsets[first], ref.offsets[end] - ref.offsets[first]))
            << what << " lines " << first << ".." << end << " in pieces of " << piece;
    }
}

Bytes randomDatagram(std::mt19937& rng, std::size_t largest) {
    const std::size_t size = rng() % 8 == 0 ? 0 : rng() % (largest + 1);
    Bytes d(size);
    for (std::uint8_t& b : d) {
        b = static_cast<std::uint8_t>(rng());
    }
    return d;
}

// How a journal holds the traced lines in a row of the table below.
enum class Journal {
    None,     // no journal: the store's own spill file
    Whole,    // every line written at once
    Lagging,  // lines written a while after they were traced
    Gaps,     // some lines traced but not journaled, some journaled but not traced
    Damaged,  // some lines written wrongly (as after a failed write)
    Gone,     // the journal cannot be opened
};

TEST_F(TraceLogStoreTest, SameAsThePlainTextWhereverTheBytesGo) {
    struct Row {
        const char* name;
        std::uint64_t budget;
        std::uint32_t chunk;
        std::size_t largest;  // datagram bytes
        int datagrams;
        Journal journal;
        bool spillFolderUsable;
    };
    const Row rows[] = {
        {"all in memory", 1u << 30, 1u << 20, 600, 3000, Journal::None, true},
        {"spilled in small chunks", 0, 64, 300, 3000, Journal::None, true},
        {"chunks of one byte", 100, 1, 20, 500, Journal::None, true},
        {"datagrams larger than a chunk", 500, 100, 700, 800, Journal::None, true},
        {"no spill file: all stays in memory", 0, 64, 300, 1000, Journal::None, false},
        {"journal written at once", 0, 256, 300, 3000, Journal::Whole, true},
        {"journal lagging", 1000, 256, 300, 3000, Journal::Lagging, true},
        {"journal with gaps", 0, 256, 200, 3000, Journal::Gaps, true},
        {"damaged journal", 0, 256, 200, 3000, Journal::Damaged, true},
        {"journal gone", 0, 256, 200, 1000, Journal::Gone, true},
        {"damaged journal, no spill file", 0, 256, 200, 1000, Journal::Damaged, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::mt19937 rng(7);
        const std::filesystem::path journalPath = dir_ / "journal.osc";
        std::ofstream journal(journalPath, std::ios::binary | std::ios::trunc);
        std::string lagging;  // written later
        std::uint64_t journalSize = 0;
        std::filesystem::path spill = dir_ / "spill";
        if (!r.spillFolderUsable) {
            spill = dir_ / "plain-file";
            std::ofstream(spill) << "not a folder";
        }
        TraceLogStore store({.memoryBudget = r.budget, .spillFolder = spill, .chunkBytes = r.chunk},
                            [&](std::uint64_t id) {
                                EXPECT_EQ(id, 5u);
                                return r.journal == Journal::Gone
                                           ? -1
                                           : ::open(journalPath.c_str(), O_RDONLY | O_CLOEXEC);
                            });
        Reference ref;
        for (int i = 0; i < r.datagrams; ++i) {
            const Bytes d = randomDatagram(rng, r.largest);
            std::optional<TraceLogStore::JournalCopy> copy;
            if (r.journal != Journal::None) {
                const bool traced = r.journal != Journal::Gaps || rng() % 10 != 0;
                const bool journaled = r.journal != Journal::Gaps || rng() % 10 != 0;
                std::string text = traceLine(d) + "\r\n";
                if (r.journal == Journal::Damaged && rng() % 50 == 0 && !d.empty()) {
                    text[0] = text[0] == 'A' ? 'B' : 'A';
                }
                if (journaled) {
                    copy = TraceLogStore::JournalCopy{5, journalSize};
                    journalSize += text.size();
                    lagging += text;
                    if (r.journal != Journal::Lagging || rng() % 200 == 0) {
                        journal << lagging << std::flush;
                        lagging.clear();
                    }
                }
                if (!traced) {
                    continue;
                }
            }
            store.append(d, copy);
            ref.add(d);
            if (i % 997 == 0) {
                expectSame(store, ref, rng, "after " + std::to_string(i));
            }
        }
        journal << lagging << std::flush;
        expectSame(store, ref, rng, "at the end");
        if (r.budget < 1000 && r.spillFolderUsable) {
            EXPECT_GT(store.spilledBytes() + store.journalBytes(), 0u);
        }
        if (r.journal == Journal::Whole) {
            EXPECT_EQ(store.spilledBytes(), 0u) << "the journal holds them all";
            EXPECT_GT(store.journalBytes(), 0u);
        }
        if (r.journal == Journal::Gone || (r.journal == Journal::None && r.spillFolderUsable)) {
            EXPECT_EQ(store.journalBytes(), 0u);
        }
        if (!r.spillFolderUsable) {
            EXPECT_EQ(store.spilledBytes(), 0u);
        }
        // Cleared, the store starts again from nothing.
        const std::uint64_t generation = store.generation();
        store.clear();
        EXPECT_EQ(store.generation(), generation + 1);
        Reference empty;
        expectSame(store, empty, rng, "cleared");
        store.append(Bytes{0x23, 0x08});
        EXPECT_EQ(store.line(0), "23 08 ");
        std::filesystem::remove(journalPath);
    }
}

TEST_F(TraceLogStoreTest, MemoryStaysNearTheBudgetWhileTheFilesGrow) {
    TraceLogStore store({.memoryBudget = 64u << 10, .spillFolder = dir_, .chunkBytes = 16u << 10});
    const Bytes d(520, 0x5A);
    for (int i = 0; i < 20000; ++i) {  // 10 MB of datagrams
        store.append(d);
    }
    EXPECT_GE(store.spilledBytes(), 20000u * 520 - (64u << 10) - 2 * (16u << 10));
    // The index (4 bytes a line) and the budget, with a chunk's slack.
    EXPECT_LT(store.memoryBytes(), 20000u * 4 + 2 * (64u << 10) + 2 * (16u << 10) + 8192);
    // The spill file has no name: nothing is left in the folder.
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
    EXPECT_EQ(store.line(0), traceLine(d));
    EXPECT_EQ(store.line(19999), traceLine(d));
}

TEST_F(TraceLogStoreTest, AJournalChangedBehindTheStoreFailsItsReadersNotTheProgram) {
    const std::filesystem::path path = dir_ / "journal.osc";
    TraceLogStore store({.memoryBudget = 0, .spillFolder = dir_, .chunkBytes = 64},
                        [&](std::uint64_t) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    std::string text;
    for (int i = 0; i < 100; ++i) {
        const Bytes d{static_cast<std::uint8_t>(i), 0x08, 0x10};
        store.append(d, TraceLogStore::JournalCopy{1, text.size()});
        text += traceLine(d) + "\r\n";
        std::ofstream(path, std::ios::binary) << text;
    }
    ASSERT_GT(store.journalBytes(), 0u);
    EXPECT_EQ(store.line(0), "00 08 10 ");
    // Cut short, then changed: the lines that were read from there fail with a file error.
    ::truncate(path.c_str(), 10);
    EXPECT_THROW(store.line(1), FileError);
    text[0] = 'x';
    std::ofstream(path, std::ios::binary) << text;
    EXPECT_THROW(store.line(0), FileError);
    std::uint64_t line = 0;
    std::string out;
    EXPECT_THROW(store.readText(line, store.lineCount(), out), FileError);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(store.line(99), "63 08 10 ") << "the lines still in memory read on";
}

// A real journal: the writer's thread writes the lines out every few milliseconds, the store
// reads back those it has written and keeps the rest until it has.
TEST_F(TraceLogStoreTest, LinesOfARunningCaptureAreReadBackFromItsJournal) {
    CaptureJournal journal(dir_ / "journals", {.writeEvery = std::chrono::milliseconds(2),
                                               .syncEvery = std::chrono::milliseconds(50)});
    TraceLogStore store({.memoryBudget = 4096, .spillFolder = dir_ / "spill", .chunkBytes = 1024},
                        [&](std::uint64_t id) { return journal.openForReading(id); });
    Reference ref;
    std::mt19937 rng(3);
    for (int capture = 0; capture < 2; ++capture) {
        journal.start();
        store.clear();
        ref = {};
        const std::uint64_t id = journal.captureId();
        EXPECT_EQ(journal.openForReading(id + 1), -1);
        for (int i = 0; i < 3000; ++i) {
            const Bytes d = randomDatagram(rng, 300);
            journal.append(d);
            const std::optional<std::uint64_t> at = journal.lastLineOffset();
            ASSERT_TRUE(at.has_value());
            ASSERT_EQ(*at, ref.text.size());
            store.append(d, TraceLogStore::JournalCopy{id, *at});
            ref.add(d);
            if (i % 500 == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        journal.stop();
        EXPECT_FALSE(journal.lastLineOffset().has_value());
        EXPECT_GT(store.journalBytes(), 0u);
        expectSame(store, ref, rng, "capture " + std::to_string(capture));
        const int fd = journal.openForReading(id);
        EXPECT_GE(fd, 0) << "the stopped capture's file is still there";
        ::close(fd);
    }
    const std::uint64_t old = journal.captureId();
    journal.start();
    EXPECT_EQ(journal.openForReading(old), -1) << "the next capture replaced that file";
    journal.stop();
}

TEST(ParseTraceLines, ExactlyTheLinesOfTheGivenSizes) {
    struct Row {
        std::string text;
        std::vector<std::uint32_t> ends;
        std::uint32_t begin;
        bool ok;
        Bytes bytes;
    };
    const Row rows[] = {
        {"", {}, 0, true, {}},
        {"\r\n", {0}, 0, true, {}},
        {"23 08 \r\nFF \r\n", {2, 3}, 0, true, {0x23, 0x08, 0xFF}},
        {"FF \r\n", {7}, 6, true, {0xFF}},
        {"ff \r\n", {1}, 0, false, {}},        // the store writes upper case only
        {"23-\r\n", {1}, 0, false, {}},        // the separator is checked
        {"23 \n", {1}, 0, false, {}},          // CR LF only
        {"23 \r\n00", {1}, 0, false, {0x23}},  // more text than lines
        {"23 \r", {1}, 0, false, {0x23}},
        {"23 08 \r\n", {1}, 0, false, {}},  // a line of another size
        {"23 \r\n", {0}, 1, false, {}},     // ends going back
    };
    for (const Row& r : rows) {
        Bytes out;
        EXPECT_EQ(parseTraceLines(r.text, r.ends, r.begin, &out), r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(out, r.bytes) << r.text;
        }
    }
}

}  // namespace
}  // namespace osc
