// A file written a piece at a time: the target changes only at the commit; dropped or failed
// writers leave the old file and no temporary file behind.

#include "core/files/replacing_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/files/osc_file.h"

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

// A FIFO cannot be replaced: held, it gets the pieces at the commit; streamed (a file too long to
// hold), it gets each piece as it comes, and the writer says that a drop cannot undo them.
TEST_F(ReplacingFile, AFifoTakesThePiecesAtTheCommitOrAsTheyCome) {
    const auto fifo = dir_ / "pipe.osc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    char got[32] = {};
    for (const bool stream : {false, true}) {
        SCOPED_TRACE(stream ? "streamed" : "held");
        ReplacingFileWriter writer(fifo, stream);
        EXPECT_EQ(writer.cancelsCleanly(), !stream);
        writer.write("23 \r\n");
        EXPECT_EQ(::read(reader, got, sizeof got), stream ? 5 : 0);  // held: no writer yet
        writer.write("08 \r\n");
        writer.commit();
        EXPECT_EQ(::read(reader, got, sizeof got), stream ? 5 : 10);
    }
    ::close(reader);
    EXPECT_EQ(entries(), std::vector<std::string>{"pipe.osc"});
}

}  // namespace
}  // namespace osc
