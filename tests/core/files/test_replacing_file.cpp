// A file written a piece at a time: the target changes only at the commit; dropped or failed
// writers leave the old file and no temporary file behind.

#include "core/files/replacing_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/files/osc_file.h"
#include "core/files/streamed_osc_file.h"

namespace osc {
namespace {

class ReplacingFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("replacing_file_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(dir_);
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::filesystem::path dir_;
};

TEST_F(ReplacingFile, TheTargetChangesOnlyAtTheCommit) {
    const auto path = dir_ / "out.vcd";
    std::ofstream(path) << "old";
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    struct Row {
        const char* name;
        bool commit;
        const char* after;
    };
    for (const Row row : {Row{"committed", true, "piece one, piece two"},
                          Row{"dropped", false, "piece one, piece two"}}) {
        SCOPED_TRACE(row.name);
        std::ofstream(path) << "old";
        {
            ReplacingFileWriter writer(path);
            writer.write("piece one, ");
            EXPECT_EQ(readWholeFile(path), "old");
            writer.write("piece two");
            EXPECT_EQ(readWholeFile(path), "old");
            if (row.commit) {
                writer.commit();
            }
        }
        EXPECT_EQ(readWholeFile(path), row.commit ? row.after : "old");
        EXPECT_EQ(entries(), std::vector<std::string>{"out.vcd"}) << "no temporary file left";
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
    ReplacingFileWriter fresh(dir_ / "new.csv");
    fresh.write("a");
    fresh.abandon();
    EXPECT_EQ(entries(), std::vector<std::string>{"out.vcd"});
}

TEST_F(ReplacingFile, FailuresNameTheFile) {
    const auto folder = dir_ / "taken.vcd";
    std::filesystem::create_directory(folder);
    for (const auto& path : {folder, dir_ / "no" / "such" / "x.vcd"}) {
        try {
            ReplacingFileWriter writer(path);
            FAIL() << path;
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file " + path.string());
            EXPECT_FALSE(e.reason().empty());
        }
    }
}

// A folder that takes no new file: an existing file there that may be written is written in
// place, but only at the commit, so a dropped writer still leaves it whole.
TEST_F(ReplacingFile, AFolderThatTakesNoFileIsWrittenInPlaceAtTheCommit) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into any folder";
    }
    const auto path = dir_ / "out.csv";
    std::ofstream(path) << "old";
    std::filesystem::permissions(dir_, std::filesystem::perms(0555));
    {
        ReplacingFileWriter dropped(path);
        dropped.write("new");
    }
    EXPECT_EQ(readWholeFile(path), "old");
    ReplacingFileWriter writer(path);
    writer.write("new");
    EXPECT_EQ(readWholeFile(path), "old");
    writer.commit();
    EXPECT_EQ(readWholeFile(path), "new");
    EXPECT_THROW(ReplacingFileWriter(dir_ / "other.csv"), FileError);
}

// A FIFO is no file to replace: refused at once, held or streamed, and left as it was.
TEST_F(ReplacingFile, AFifoIsRefusedAtOnce) {
    const auto fifo = dir_ / "pipe.osc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool stream : {false, true}) {
        try {
            ReplacingFileWriter writer(fifo, stream);
            ADD_FAILURE() << stream;
        } catch (const FileError& e) {
            EXPECT_EQ(e.message(), "Cannot create file " + fifo.string() +
                                       ": a FIFO (named pipe), not a regular file");
        }
    }
    EXPECT_EQ(entries(), std::vector<std::string>{"pipe.osc"});
}

// Whether a user without privileges can read path (only asked as root); nullopt when that
// cannot be tried here.
std::optional<bool> readableByNobody(const std::filesystem::path& path) {
    if (::geteuid() != 0 || std::system("command -v setpriv > /dev/null 2>&1") != 0) {
        return std::nullopt;
    }
    const std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups cat '" +
                                path.string() + "' > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

unsigned modeOf(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000;
}

// The new contents are private while they are written: the temporary file is made with mode
// 0600 (the target's when narrower) and gets the target's mode, or a new file's, only with
// the rename. As root, another user tries to read it.
TEST_F(ReplacingFile, TheTemporaryFileIsPrivateFromItsFirstByte) {
    const mode_t oldMask = ::umask(022);
    std::filesystem::permissions(dir_, std::filesystem::perms(0755));
    std::ofstream(dir_ / "open.txt") << "anyone";
    std::filesystem::permissions(dir_ / "open.txt", std::filesystem::perms(0644));
    const std::optional<bool> control = readableByNobody(dir_ / "open.txt");
    ASSERT_NE(control, std::optional<bool>(false)) << "another user cannot read a file of 0644";
    struct Row {
        const char* name;
        int mode;  // of the file replaced; -1: a new file
        unsigned temporary, final;
    };
    const Row rows[] = {
        {"new file", -1, 0600, 0644},
        {"group-readable file", 0640, 0600, 0640},
        {"world-readable file", 0644, 0600, 0644},
        {"write-only file", 0200, 0200, 0200},
    };
    const auto path = dir_ / "private.csv";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(path);
        if (row.mode >= 0) {
            std::ofstream(path) << "old";
            std::filesystem::permissions(path, static_cast<std::filesystem::perms>(row.mode));
        }
        ReplacingFileWriter writer(path);
        std::filesystem::path temporary;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            if (e.path() != path && e.path().filename() != "open.txt") {
                temporary = e.path();
            }
        }
        ASSERT_FALSE(temporary.empty());
        EXPECT_EQ(modeOf(temporary), row.temporary) << "before the first byte";
        writer.write(std::string(1 << 20, 's'));
        EXPECT_EQ(modeOf(temporary), row.temporary) << "while written";
        EXPECT_NE(readableByNobody(temporary), std::optional<bool>(true));
        writer.commit();
        EXPECT_EQ(modeOf(path), row.final);
    }
    // A recording's .part file likewise.
    const auto recording = dir_ / "recording.osc";
    {
        StreamedOscFile out(recording);
        EXPECT_EQ(modeOf(out.writingPath()), 0600u);
        out.append(std::vector<std::uint8_t>{0x23, 0x08});
        EXPECT_NE(readableByNobody(out.writingPath()), std::optional<bool>(true));
        out.commit();
    }
    EXPECT_EQ(modeOf(recording), 0644u);
    ::umask(oldMask);
}

// A full disk under the write-in-place fallback (a folder that takes no new file): the room for
// the new contents is reserved first, so the save is refused and the old file stays whole,
// instead of being cut where the disk filled up. A small file system that has no inode left
// for a temporary file stands in for the read-only folder (root writes into any folder).
TEST_F(ReplacingFile, AFullDiskRefusesTheSaveInPlaceAndKeepsTheOldFile) {
    const auto small = dir_ / "small";
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k,nr_inodes=3") != 0) {
        GTEST_SKIP() << "no tmpfs can be mounted here (root only): " << std::strerror(errno);
    }
    const struct Unmount {
        std::filesystem::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};
    const auto csvOf = [](std::size_t bytes, char digit) {
        std::string text;
        while (text.size() < bytes) {
            text += std::string(15, digit) + ";0123456789\n";
        }
        text.resize(bytes);
        return text;
    };
    const auto path = small / "table.csv";
    const std::string old = csvOf(100000, '1');
    std::ofstream(path, std::ios::binary) << old;
    std::ofstream(small / "filler", std::ios::binary) << std::string(100000, 'f');
    const std::string refusal = "Cannot create file " + path.string() +
                                ": No space left on device; the file was left as it was";
    const std::string tooLong = csvOf(200000, '2');
    try {
        writeFileAtomically(path, tooLong);
        ADD_FAILURE() << "saved";
    } catch (const FileError& e) {
        EXPECT_EQ(e.message(), refusal);
    }
    EXPECT_EQ(readWholeFile(path), old);
    for (const bool stream : {false, true}) {
        SCOPED_TRACE(stream ? "streamed" : "held");
        try {
            ReplacingFileWriter writer(path, stream);
            writer.write(tooLong);
            writer.commit();
            ADD_FAILURE() << "saved";
        } catch (const FileError& e) {
            EXPECT_EQ(e.message(), refusal);
        }
        EXPECT_EQ(readWholeFile(path), old);
    }
    // What fits is written over the old file, longer or shorter than it.
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    for (const std::size_t bytes : {120000u, 50000u}) {
        const std::string fits = csvOf(bytes, '3');
        writeFileAtomically(path, fits);
        EXPECT_EQ(readWholeFile(path), fits);
    }
    ReplacingFileWriter writer(path, true);
    writer.write(csvOf(90000, '4'));
    writer.commit();
    EXPECT_EQ(readWholeFile(path), csvOf(90000, '4'));
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "written in place";
}

}  // namespace
}  // namespace osc
