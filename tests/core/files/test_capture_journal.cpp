// The capture journal as a crash leaves it: a child process appends and is killed, the parent
// finds the journal and reads it back; a file size limit standing in for a full disk; two
// programs at once; saving and discarding what was found.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "core/files/osc_line_writer.h"
#include "core/files/streamed_osc_file.h"

namespace osc {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Datagram n: a sample datagram whose "not examined" bytes carry n, of 10 to 400 bytes.
Bytes datagram(std::uint32_t n) {
    Bytes d{0x23,
            0x08,
            static_cast<std::uint8_t>(n),
            static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n >> 16),
            0,
            0,
            0};
    d.resize(10 + (n * 37) % 390, static_cast<std::uint8_t>(n * 7));
    return d;
}

std::string expectedText(std::uint64_t count) {
    std::string text;
    for (std::uint32_t n = 0; n < count; ++n) {
        text += traceLine(datagram(n)) + "\r\n";
    }
    return text;
}

class JournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("journal_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

// A child that appends datagrams to a journal in dir and reports on a pipe: "W k" once k
// datagrams are written out, then "A k w" every few milliseconds while it appends on (k
// appended, w of them written out to the file).
struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string line() {
        std::string text;
        char c = 0;
        while (::read(out, &c, 1) == 1 && c != '\n') {
            text += c;
        }
        return text;
    }
};

Child startAppendingChild(const std::filesystem::path& dir, std::uint32_t firstBatch) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    Child child;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::close(fds[0]);
        const auto say = [&](const std::string& text) {
            const std::string line = text + "\n";
            if (::write(fds[1], line.data(), line.size()) < 0) {
                ::_exit(3);
            }
        };
        CaptureJournal journal(dir);
        journal.start();
        std::uint32_t n = 0;
        for (; n < firstBatch; ++n) {
            journal.append(datagram(n));
        }
        while (journal.written().datagrams < firstBatch) {
            std::this_thread::sleep_for(5ms);
        }
        say("W " + std::to_string(firstBatch));
        for (;; ++n) {  // until killed
            journal.append(datagram(n));
            if (n % 20 == 0) {
                say("A " + std::to_string(n + 1) + " " +
                    std::to_string(journal.written().datagrams));
                std::this_thread::sleep_for(2ms);
            }
        }
    }
    ::close(fds[1]);
    child.out = fds[0];
    return child;
}

TEST_F(JournalTest, AKilledCaptureIsFoundAndReadsBackWholeLines) {
    Child child = startAppendingChild(dir_, 500);
    ASSERT_EQ(child.line(), "W 500");
    // While the child runs, its journal is its own: not offered, and another program takes
    // another slot.
    EXPECT_TRUE(findUnfinishedJournals(dir_).empty());
    {
        CaptureJournal other(dir_);
        other.start();
        EXPECT_FALSE(other.failed()) << other.error();
        EXPECT_EQ(other.path().filename(), "journal-2.osc");
        other.append(datagram(0));
        other.stop();
    }
    // What was appended some reports before the kill, once the child says it is written out
    // (within a second, by the writer's timing), is in the file after the kill.
    const auto report = [&] {
        const std::string line = child.line();
        EXPECT_EQ(line.substr(0, 2), "A ");
        const std::size_t space = line.find(' ', 2);
        return std::pair{std::stoull(line.substr(2, space - 2)), std::stoull(line.substr(space))};
    };
    std::uint64_t appendedBefore = 0;
    for (int i = 0; i < 20; ++i) {
        appendedBefore = report().first;
    }
    while (report().second < appendedBefore) {
    }
    ::kill(child.pid, SIGKILL);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    ::close(child.out);
    ASSERT_TRUE(WIFSIGNALED(status));

    const std::vector<JournalInfo> found = findUnfinishedJournals(dir_);
    ASSERT_EQ(found.size(), 1u) << "the complete journal of slot 2 is not offered";
    const JournalInfo& j = found[0];
    EXPECT_EQ(j.path.filename(), "journal-1.osc");
    EXPECT_FALSE(j.complete);
    EXPECT_GE(j.datagrams, appendedBefore);
    EXPECT_GT(j.startedAt, 0);
    EXPECT_GE(j.lastWrittenAt, j.startedAt);
    const std::string text = readJournal(j);
    EXPECT_EQ(text.size(), j.bytes);
    EXPECT_EQ(text, expectedText(j.datagrams)) << "every datagram in order, the last line whole";
    // The count agrees with a reading of the whole file without the state record.
    EXPECT_EQ(inspectOscLines(j.path).datagrams, j.datagrams);

    // Saved as an .osc file: the same lines; a cancelled save leaves nothing.
    const auto saved = dir_ / "saved.osc";
    EXPECT_FALSE(saveJournalAs(j, dir_ / "cancelled.osc", [](auto, auto) { return false; }));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "cancelled.osc"));
    std::uint64_t lastDone = 0;
    EXPECT_TRUE(saveJournalAs(j, saved, [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, j.bytes);
        lastDone = done;
        return true;
    }));
    EXPECT_EQ(lastDone, j.bytes);
    EXPECT_EQ(readWholeFile(saved), text);

    // A new program does not take the unfinished slot; a discard frees it.
    {
        CaptureJournal next(dir_);
        next.start();
        EXPECT_NE(next.path().filename(), "journal-1.osc");
    }
    EXPECT_TRUE(discardJournal(j));
    EXPECT_FALSE(std::filesystem::exists(j.path));
    EXPECT_TRUE(findUnfinishedJournals(dir_).empty());
}

// Runs body in a child process (whose limits and signals it may change) and returns what it
// reported, "" for success.
std::string inChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return "no pipe";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string out = body();
        const bool ok = ::write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size());
        ::_exit(ok ? 0 : 1);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : out + " (the child died)";
}

TEST_F(JournalTest, AJournalThatCannotBeWrittenFailsOnceAndTheCaptureGoesOn) {
    // A file size limit stands in for a full disk (a small tmpfs would need mounting).
    const auto dir = dir_;
    const std::string report = inChild([dir] {
        std::ostringstream out;
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        CaptureJournal journal(dir, {std::chrono::milliseconds(10)});
        journal.start();
        std::uint32_t n = 0;
        for (; n < 2000 && !journal.failed(); ++n) {
            journal.append(datagram(n));
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        for (std::uint32_t k = 0; k < 100; ++k) {
            journal.append(datagram(n + k));  // dropped without harm
        }
        if (!journal.takeFailureNotice() || journal.takeFailureNotice()) {
            out << "one notice expected; ";
        }
        journal.stop();
        if (journal.error().find("Cannot write the capture journal ") != 0 ||
            journal.error().find(": File too large") == std::string::npos) {
            out << "error: " << journal.error() << "; ";
        }
        const JournalInfo info = inspectOscLines(journal.path());
        const std::string text = readWholeFile(journal.path());
        if (text.size() != info.bytes || text != expectedText(info.datagrams)) {
            out << "not whole lines: " << text.size() << " bytes, " << info.bytes << "; ";
        }
        if (info.datagrams < 100 || text.size() > 64 * 1024) {
            out << info.datagrams << " datagrams; ";
        }
        if (!findUnfinishedJournals(dir).empty()) {
            out << "a stopped journal is complete; ";
        }
        // The next start begins afresh.
        journal.start();
        journal.append(datagram(0));
        journal.stop();
        if (journal.failed() || readWholeFile(journal.path()) != expectedText(1)) {
            out << "next capture: " << journal.error() << "; ";
        }
        return out.str();
    });
    EXPECT_EQ(report, "");

    // No folder can be made (a file stands where it should be): failed, once, without throwing.
    std::ofstream(dir_ / "taken") << "x";
    CaptureJournal journal(dir_ / "taken" / "state");
    journal.start();
    journal.append(datagram(1));
    EXPECT_TRUE(journal.failed());
    EXPECT_TRUE(journal.takeFailureNotice());
    EXPECT_FALSE(journal.takeFailureNotice());
    EXPECT_NE(journal.error().find("Not a directory"), std::string::npos) << journal.error();
    journal.stop();
}

TEST_F(JournalTest, ARecordingFileGoesToItsPartFileAndReplacesTheFileAtTheEnd) {
    namespace fs = std::filesystem;
    fs::create_directory(dir_ / "data");
    const fs::path real = dir_ / "data" / "real.osc";
    std::ofstream(real) << "old";
    fs::permissions(real, fs::perms(0640));
    fs::create_symlink("data/real.osc", dir_ / "link.osc");
    const fs::path part = dir_ / "data" / "real.osc.part";
    {
        StreamedOscFile out(dir_ / "link.osc");
        EXPECT_EQ(out.writingPath(), part) << "beside the link's target";
        try {
            StreamedOscFile second(dir_ / "link.osc", true);
            ADD_FAILURE() << "two recordings into one file";
        } catch (const FileError& e) {
            EXPECT_EQ(e.reason(), part.string() + " is being written by another program");
        }
        for (std::uint32_t n = 0; n < 3; ++n) {
            out.append(datagram(n));
        }
        EXPECT_EQ(out.datagrams(), 3u);
        out.commit();
        EXPECT_FALSE(out.failed());
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.osc"));
    EXPECT_EQ(readWholeFile(real), expectedText(3));
    EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
    EXPECT_FALSE(fs::exists(part));

    // What a killed recording left is named, not replaced, unless asked.
    std::ofstream(part, std::ios::binary) << expectedText(2) << "23 0";
    try {
        StreamedOscFile again(real);
        ADD_FAILURE() << "the leftover was replaced";
    } catch (const LeftoverRecordingError& e) {
        EXPECT_EQ(e.leftover().datagrams, 2u);
        EXPECT_EQ(e.leftover().bytes, expectedText(2).size());
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + real.string());
        EXPECT_EQ(e.reason(), part.string() + " holds an earlier recording of 2 datagrams (" +
                                  std::to_string(expectedText(2).size()) + " bytes)");
    }
    {
        StreamedOscFile replacing(real, true);
        replacing.append(datagram(7));
        replacing.discard();  // nothing worth keeping
    }
    EXPECT_FALSE(fs::exists(part));
    EXPECT_EQ(readWholeFile(real), expectedText(3)) << "a discarded recording leaves the file";
}

// A disk that does not keep up (here: a writer that never gets to write before the end) never
// ends the recording: past the bound the oldest waiting foreign datagrams go first, a foreign
// one never pushes out one of the device's, and every dropped datagram is counted.
TEST_F(JournalTest, ASlowDiskDropsTheOldestForeignDatagramsFirstAndCountsThem) {
    const std::filesystem::path path = dir_ / "slow.osc";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::size_t each = 10 + OscLineWriter::kPendingOverhead;
    OscLineWriter writer(fd, OscLineTiming{std::chrono::hours(1), std::chrono::hours(1), 4 * each});
    const auto d = [](std::uint8_t n, bool foreign) {
        return Bytes{0x23, 0x08, n, static_cast<std::uint8_t>(foreign), 0, 0, 0, 0, 0, 0};
    };
    struct Step {
        std::uint8_t n;
        bool foreign;
        OscLineDrops dropped;  // after this append
    };
    const std::vector<Step> steps{
        {0, false, {0, 0}}, {0, true, {0, 0}}, {1, true, {0, 0}}, {1, false, {0, 0}},  // full
        {2, true, {1, 0}},                                                             // F0 goes
        {2, false, {2, 0}},                                                            // F1 goes
        {3, true, {3, 0}},                                                             // F2 goes
        {3, false, {4, 0}},  // F3 goes: only the device's wait now
        {4, true, {5, 0}},   // no foreign one to push out: it goes itself
        {4, false, {5, 1}},  // D0 goes
    };
    for (const Step& step : steps) {
        writer.append(d(step.n, step.foreign), step.foreign);
        EXPECT_EQ(writer.dropped(), step.dropped) << int(step.n) << (step.foreign ? " F" : " D");
    }
    EXPECT_FALSE(writer.lastLineOffset()) << "the lines after a dropped one start earlier";
    EXPECT_TRUE(writer.finish());
    ::close(fd);
    std::string expected;
    for (std::uint8_t n : {1, 2, 3, 4}) {
        expected += traceLine(d(n, false)) + "\r\n";
    }
    EXPECT_EQ(readWholeFile(path.string()), expected);
    EXPECT_EQ(writer.datagramsAppended(), writer.written().datagrams + writer.dropped().total());
}

// The journals' folder must be the user's own: a new one is made private, a link is followed
// to a folder of the user (whose write access for others is taken away), and a folder of
// another user is refused, for writing and for the journals offered at the start.
TEST_F(JournalTest, TheStateFolderIsTheUsersOwn) {
    namespace fs = std::filesystem;
    const auto modeOf = [](const fs::path& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000u;
    };
    const auto capture = [](const fs::path& folder) {
        CaptureJournal journal(folder);
        journal.start();
        journal.append(datagram(1));
        journal.stop();
        return journal.failed() ? journal.error() : journal.path().string();
    };
    EXPECT_EQ(capture(dir_ / "new" / "state"), (dir_ / "new" / "state" / "journal-1.osc").string());
    EXPECT_EQ(modeOf(dir_ / "new" / "state"), 0700u) << "made private";

    fs::create_directory(dir_ / "mine");
    fs::permissions(dir_ / "mine", fs::perms(0700));
    fs::create_directory_symlink("mine", dir_ / "link");
    EXPECT_EQ(capture(dir_ / "link"), (fs::canonical(dir_ / "mine") / "journal-1.osc").string())
        << "a link to the user's folder is followed";

    fs::create_directory(dir_ / "open");
    fs::permissions(dir_ / "open", fs::perms(0777));
    EXPECT_EQ(capture(dir_ / "open"), (fs::canonical(dir_ / "open") / "journal-1.osc").string());
    EXPECT_EQ(modeOf(dir_ / "open"), 0755u) << "closed to others' writes";

    if (::geteuid() != 0) {
        GTEST_SKIP() << "a folder of another user needs root to make";
    }
    fs::create_directory(dir_ / "theirs");
    ASSERT_EQ(::chown((dir_ / "theirs").c_str(), 65534, 65534), 0);
    fs::create_directory_symlink("theirs", dir_ / "their-link");
    std::ofstream(dir_ / "theirs" / "journal-1.osc") << traceLine(datagram(1)) << "\r\n";
    for (const fs::path& folder : {dir_ / "their-link", dir_ / "theirs"}) {
        SCOPED_TRACE(folder.string());
        EXPECT_EQ(capture(folder), "Cannot write the capture journal in " + folder.string() + ": " +
                                       fs::canonical(dir_ / "theirs").string() +
                                       " belongs to another user");
        EXPECT_TRUE(findUnfinishedJournals(folder).empty()) << "nothing offered from there";
    }
}

TEST(JournalState, TextRoundTripAndDamagedRecords) {
    const JournalState s{true, 1700000000, {123, 456789}};
    const std::string text = journalStateText(s);
    EXPECT_EQ(parseJournalState(text), s);
    EXPECT_EQ(text.size(), journalStateText(JournalState{}).size()) << "rewritten in place";
    EXPECT_EQ(parseJournalState(journalStateText({false, -5, {0, 0}})),
              (JournalState{false, -5, {0, 0}}));
    for (const std::string& bad :
         {std::string(), text.substr(0, 40), std::string("x") + text,
          std::string("MorvelIP_OSC journal 1\ncomplete 2\nstarted 1\ndatagrams 1\nbytes 1\n"),
          std::string("MorvelIP_OSC journal 1\ncomplete 1\nstarted 1\ndatagrams -1\nbytes 1\n"),
          std::string("MorvelIP_OSC journal 1\ncomplete 1\nstarted 1\ndatagrams 1\nbytes \n"),
          std::string("MorvelIP_OSC journal 1\ncomplete 1\nstarted 1\ndatagrams 1\nbytes 1")}) {
        EXPECT_FALSE(parseJournalState(bad)) << bad;
    }
}

}  // namespace
}  // namespace osc
