#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "core/files/osc_file.h"
#include "core/files/osc_read_ahead.h"

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Datagrams = std::vector<Bytes>;

struct Reading {
    Datagrams datagrams;
    std::optional<std::string> error;
};

Reading readAll(std::string_view text) {
    Reading r;
    OscReader reader(text);
    Bytes datagram{0xEE, 0xEE, 0xEE, 0xEE, 0xEE};  // reused: must not leak into the result
    try {
        while (reader.next(datagram)) {
            r.datagrams.push_back(datagram);
        }
        EXPECT_FALSE(reader.next(datagram)) << "the end must stay the end";
    } catch (const OscFormatError& e) {
        r.error = e.what();
        EXPECT_EQ(e.group(), r.error->substr(2, 2)) << "the raw bytes of the group";
        EXPECT_FALSE(reader.next(datagram)) << "nothing is read after an error";
    }
    return r;
}

TEST(TraceLine, TwoUpperCaseDigitsAndASpacePerByte) {
    EXPECT_EQ(traceLine(Bytes{0x23, 0x08, 0x0A}), "23 08 0A ");
    EXPECT_EQ(traceLine(Bytes{0x00, 0xFF, 0xab}), "00 FF AB ");
    EXPECT_EQ(traceLine(Bytes{}), "");
    std::string out = "x";
    appendTraceLine(out, Bytes{0x47});
    EXPECT_EQ(out, "x47 ");
}

TEST(OscReader, Lines) {
    struct Row {
        const char* name;
        std::string text;
        Datagrams datagrams;
    };
    const Row rows[] = {
        {"five characters give one byte", "23 08", {{0x23}}},
        {"lower case", "ab cd \r\n", {{0xAB, 0xCD}}},
        {"separators are not examined", "23-08-0A", {{0x23, 0x08}}},
        {"CR LF", "23 08 \r\n0A \r\n", {{0x23, 0x08}, {0x0A}}},
        {"LF only", "23 08 \n0A \n", {{0x23, 0x08}, {0x0A}}},
        {"CR only", "23 08 \r0A \r", {{0x23, 0x08}, {0x0A}}},
        {"mixed line ends", "01 \n02 \r03 \r\n04 ", {{1}, {2}, {3}, {4}}},
        {"LF CR is two line ends: an empty line", "01 \n\r02 ", {{1}}},
        {"CR CR is an empty line too", "01 \r\r02 ", {{1}}},
        {"empty line in the middle ends the data", "01 \r\n\r\n02 \r\n", {{1}}},
        {"short line ends the data", "01 \r\n02\r\n03 \r\n", {{1}}},
        {"short line with a bad digit is no error", "01 \r\nZZ\r\n", {{1}}},
        {"bad group after the complete groups is ignored", "01 0", {{1}}},
        {"trailing characters ignored", "01 02 ZZ", {{1, 2}}},
        {"NUL ends the text",
         std::string("01 02 \r\n03 \0"
                     "04 \r\n",
                     17),
         {{1, 2}, {3}}},
        {"NUL inside a group cuts the line",
         std::string("01 0\0"
                     "2 ",
                     7),
         {{1}}},
        {"NUL at the start",
         std::string("\0"
                     "01 ",
                     4),
         {}},
        {"empty text", "", {}},
        {"first line short", "2\r\n01 ", {}},
        {"first line empty", "\r\n01 ", {}},
        {"long line", std::string(3 * 8192, '0'), {Bytes(8192, 0)}},
        {"digits of all kinds", "09 af AF Fa 7e ", {{0x09, 0xAF, 0xAF, 0xFA, 0x7E}}},
    };
    for (const Row& row : rows) {
        const Reading r = readAll(row.text);
        EXPECT_EQ(r.datagrams, row.datagrams) << row.name;
        EXPECT_FALSE(r.error) << row.name << ": " << r.error.value_or("");
    }
}

TEST(OscReader, LineEndsFoundAtEveryOffset) {
    // The line end search looks at several bytes at once: try every position within a word.
    for (std::size_t groups = 1; groups <= 20; ++groups) {
        for (const char* end : {"\r\n", "\n", "\r"}) {
            std::string text;
            for (std::size_t k = 0; k < groups; ++k) {
                text += "5A ";
            }
            for (std::size_t extra = 0; extra < 3; ++extra) {
                const std::string line = text + std::string(extra, 'z');
                const Reading r = readAll(line + end + "01 " + end);
                ASSERT_EQ(r.datagrams.size(), 2u) << groups << " " << extra;
                EXPECT_EQ(r.datagrams[0], Bytes(groups, 0x5A));
                EXPECT_EQ(r.datagrams[1], Bytes{1});
            }
        }
    }
}

TEST(OscReader, BadGroups) {
    struct Row {
        const char* name;
        std::string text;
        std::size_t before;  // datagrams delivered before the error
        const char* error;
    };
    const Row rows[] = {
        {"second digit", "2G 08 ", 0, "'$2G' is not a valid integer value"},
        {"after good lines", "01 \r\n02 \r\n03 X4 \r\n", 2, "'$X4' is not a valid integer value"},
        {"space in the group", "0 1 ", 0, "'$0 ' is not a valid integer value"},
        {"sign", "-1 ", 0, "'$-1' is not a valid integer value"},
        {"first bad group of the line is named", "01 g1 h2 ", 0,
         "'$g1' is not a valid integer value"},
        {"8-bit character as it is",
         "\xC0"
         "1 ",
         0,
         "'$\xC0"
         "1' is not a valid integer value"},
    };
    for (const Row& row : rows) {
        const Reading r = readAll(row.text);
        EXPECT_EQ(r.datagrams.size(), row.before) << row.name;
        EXPECT_EQ(r.error.value_or("(none)"), row.error) << row.name;
    }
}

TEST(OscReader, TraceLinesReadBack) {
    Datagrams datagrams;
    std::string text;
    for (std::size_t n = 1; n < 40; ++n) {
        Bytes d(n);
        for (std::size_t i = 0; i < n; ++i) {
            d[i] = static_cast<std::uint8_t>(n * 37 + i * 11);
        }
        text += traceLine(d) + "\r\n";
        datagrams.push_back(d);
    }
    EXPECT_EQ(readAll(text).datagrams, datagrams);
}

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() /
            ("osc_file_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    std::filesystem::path dir_;
};

TEST_F(FilesTest, WriteThenReadBackByteForByte) {
    const auto path = dir_ / "capture.osc";
    const std::string text = std::string("23 08 0A \r\n\0\xFF", 13);
    writeFileAtomically(path, text);
    EXPECT_EQ(readWholeFile(path), text);
    writeFileAtomically(path, "47 \r\n");  // replaces the file
    EXPECT_EQ(readWholeFile(path), "47 \r\n");
    writeFileAtomically(path, "");
    EXPECT_EQ(readWholeFile(path), "");
    EXPECT_EQ(entries(), std::vector<std::string>{"capture.osc"}) << "no temporary file left";
}

TEST_F(FilesTest, LongestFileName) {
    const auto path = dir_ / (std::string(251, 'n') + ".osc");  // 255 characters
    writeFileAtomically(path, "01 \r\n");
    EXPECT_EQ(readWholeFile(path), "01 \r\n");
    EXPECT_EQ(entries().size(), 1u);
}

TEST_F(FilesTest, ReadingLargeFile) {
    const auto path = dir_ / "large.osc";
    std::string text(3 * 1024 * 1024 + 17, 'A');
    writeFileAtomically(path, text);
    EXPECT_EQ(readWholeFile(path), text);
}

// Many batches ahead, each datagram in order and whole, and a bad group late in the file
// thrown after every datagram before it; a reader left early stops its thread.
TEST_F(FilesTest, ReadAheadOverManyBatches) {
    const auto path = dir_ / "ahead.osc";
    std::string text;
    std::vector<Bytes> want;
    std::mt19937 rng(5);
    while (text.size() < 9 * 1024 * 1024) {
        Bytes d(1 + rng() % 700);
        for (std::uint8_t& b : d) {
            b = static_cast<std::uint8_t>(rng());
        }
        appendTraceLine(text, d);
        text += "\r\n";
        want.push_back(std::move(d));
    }
    text += "01 0x \r\n";
    writeFileAtomically(path, text);
    for (const std::size_t stopAfter : {want.size() + 1, std::size_t{3}}) {
        OscFileReader fileReader(path);
        OscReadAhead reader(fileReader);
        std::span<const std::uint8_t> d;
        std::size_t k = 0;
        try {
            for (; k < stopAfter && reader.next(d); ++k) {
                ASSERT_TRUE(std::equal(d.begin(), d.end(), want[k].begin(), want[k].end())) << k;
            }
            EXPECT_EQ(k, 3u);
        } catch (const OscFormatError& e) {
            EXPECT_EQ(k, want.size());
            EXPECT_EQ(e.group(), "0x");
        }
    }
}

TEST_F(FilesTest, CannotOpen) {
    for (const auto& path : {dir_ / "missing.osc", dir_}) {
        try {
            readWholeFile(path);
            FAIL() << path;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + path.string());
        }
    }
}

// The file read a chunk at a time gives exactly what the whole text gives, whatever the chunk
// size: lines across chunk ends, a CR at a chunk's end with its LF in the next, NULs, short
// and bad lines, long lines.
TEST_F(FilesTest, FileReaderSameAsTheWholeText) {
    std::mt19937 rng(11);
    const char* pieces[] = {"23 ",
                            "08 ",
                            "0a ",
                            "FF ",
                            "\r\n",
                            "\n",
                            "\r",
                            "2G ",
                            "4",
                            "7 ",
                            std::string(1, '\0').c_str(),
                            "\r\n\r\n",
                            "ab-"};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (int k = 0, n = static_cast<int>(rng() % 200); k < n; ++k) {
            const std::size_t piece = rng() % 13;
            text += piece == 10 ? std::string(1, '\0') : std::string(pieces[piece]);
            if (rng() % 40 == 0) {
                text += std::string(3 * (rng() % 3000), 'A');  // a line longer than a chunk
            }
        }
        const Reading whole = readAll(text);
        const auto path = dir_ / "chunks.osc";
        writeFileAtomically(path, text);
        for (const std::size_t chunk : {1, 2, 3, 5, 16, 4096}) {
            Reading r;
            OscFileReader reader(path, chunk);
            Bytes datagram;
            try {
                while (reader.next(datagram)) {
                    r.datagrams.push_back(datagram);
                }
                EXPECT_FALSE(reader.next(datagram));
            } catch (const OscFormatError& e) {
                r.error = e.what();
                EXPECT_FALSE(reader.next(datagram));
            }
            ASSERT_EQ(r.datagrams, whole.datagrams) << "round " << round << " chunk " << chunk;
            ASSERT_EQ(r.error, whole.error) << "round " << round << " chunk " << chunk;
        }
        // Appended one after another behind what the buffer held, as a replay's batches are.
        Bytes joined{0xEE}, expected{0xEE};
        for (const Bytes& d : whole.datagrams) {
            expected.insert(expected.end(), d.begin(), d.end());
        }
        std::optional<std::string> error;
        OscFileReader reader(path, 5);
        try {
            while (reader.appendNext(joined)) {
            }
        } catch (const OscFormatError& e) {
            error = e.what();
        }
        ASSERT_EQ(joined, expected) << "round " << round;
        ASSERT_EQ(error, whole.error) << "round " << round;
        // Read ahead on a thread of its own: the same datagrams, the error where it was met;
        // and one left after its first datagram stops its thread.
        Reading ahead;
        {
            OscFileReader fileReader(path, 5);
            OscReadAhead reader(fileReader);
            std::span<const std::uint8_t> d;
            try {
                while (reader.next(d)) {
                    ahead.datagrams.emplace_back(d.begin(), d.end());
                }
                EXPECT_FALSE(reader.next(d));
            } catch (const OscFormatError& e) {
                ahead.error = e.what();
                EXPECT_FALSE(reader.next(d));
            }
        }
        ASSERT_EQ(ahead.datagrams, whole.datagrams) << "round " << round;
        ASSERT_EQ(ahead.error, whole.error) << "round " << round;
        {
            OscFileReader fileReader(path, 5);
            OscReadAhead reader(fileReader);
            std::span<const std::uint8_t> d;
            try {
                reader.next(d);
            } catch (const OscFormatError&) {
            }
        }
    }
    for (const auto& path : {dir_ / "missing.osc", dir_}) {
        try {
            OscFileReader reader(path);
            FAIL() << path;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + path.string());
        }
    }
}

TEST_F(FilesTest, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    // A folder where the file should be cannot be replaced, whoever runs the test.
    const auto folder = dir_ / "taken.osc";
    std::filesystem::create_directory(folder);
    std::ofstream(folder / "inside") << "keep";
    // A regular file where a folder should be: nothing can be created below it.
    const auto notAFolder = dir_ / "plain";
    std::ofstream(notAFolder) << "old";
    for (const auto& path : {folder, notAFolder / "x.osc", dir_ / "no" / "such" / "x.osc"}) {
        try {
            writeFileAtomically(path, "23 08 \r\n");
            FAIL() << path;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file " + path.string());
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(readWholeFile(folder / "inside"), "keep");
    EXPECT_EQ(readWholeFile(notAFolder), "old");
    auto names = entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"plain", "taken.osc"}));
}

struct FileFacts {
    bool link = false;
    bool exists = false;
    ino_t inode = 0;
    unsigned mode = 0;
};

FileFacts factsOf(const std::filesystem::path& path) {
    FileFacts f;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        f.link = S_ISLNK(st.st_mode);
    }
    if (::stat(path.c_str(), &st) == 0) {
        f.exists = true;
        f.inode = st.st_ino;
        f.mode = st.st_mode & 07777;
    }
    return f;
}

void writePlain(const std::filesystem::path& path, const std::string& text, unsigned mode) {
    std::ofstream(path, std::ios::binary) << text;
    std::filesystem::permissions(path, static_cast<std::filesystem::perms>(mode));
}

// The reason of a failed save, "" when it succeeded.
std::string saveReason(const std::filesystem::path& path, std::string_view bytes) {
    try {
        writeFileAtomically(path, bytes);
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + path.string());
        EXPECT_EQ(e.message(), e.what() + (": " + e.reason()));
        return e.reason();
    }
    return "";
}

TEST_F(FilesTest, SavingThroughLinksWritesTheirTargets) {
    namespace fs = std::filesystem;
    fs::create_directory(dir_ / "data");
    writePlain(dir_ / "data" / "real.osc", "old", 0640);
    fs::create_symlink("data/real.osc", dir_ / "relative.osc");  // relative to the link's folder
    fs::create_symlink(dir_ / "relative.osc", dir_ / "chain.osc");
    fs::create_symlink("data/new.osc", dir_ / "dangling.osc");
    struct Row {
        const char* name;
        fs::path path;
        fs::path target;
    };
    const Row rows[] = {
        {"relative link", dir_ / "relative.osc", dir_ / "data" / "real.osc"},
        {"link to a link", dir_ / "chain.osc", dir_ / "data" / "real.osc"},
        {"link to no file yet", dir_ / "dangling.osc", dir_ / "data" / "new.osc"},
    };
    for (const Row& row : rows) {
        const std::string text = std::string("01 \r\n") + row.name;
        EXPECT_EQ(saveReason(row.path, text), "") << row.name;
        EXPECT_TRUE(factsOf(row.path).link) << row.name << ": the link stays";
        EXPECT_EQ(readWholeFile(row.target), text) << row.name;
    }
    EXPECT_EQ(factsOf(dir_ / "data" / "real.osc").mode, 0640u);
    auto names = entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"chain.osc", "dangling.osc", "data", "relative.osc"}));
    std::vector<std::string> data;
    for (const auto& e : fs::directory_iterator(dir_ / "data")) {
        data.push_back(e.path().filename().string());
    }
    std::sort(data.begin(), data.end());
    EXPECT_EQ(data, (std::vector<std::string>{"new.osc", "real.osc"})) << "no temporary file left";
}

// Root writes read-only files and folders, so the permission rows run in a child process as
// the unprivileged user "nobody" when the test runs as root. The body returns its failures.
std::string asUnprivileged(const std::filesystem::path& dir,
                           const std::function<std::string()>& body) {
    if (::geteuid() != 0) {
        return body();
    }
    if (::chown(dir.c_str(), 65534, 65534) != 0) {
        return "cannot give the folder to nobody";
    }
    int fds[2];
    if (::pipe(fds) != 0) {
        return "no pipe";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        std::string out = "cannot become nobody";
        if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
            out = body();
        }
        const ssize_t written = ::write(fds[1], out.data(), out.size());
        ::_exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : out + " (the child failed)";
}

TEST_F(FilesTest, PermissionsAreKeptAndReadOnlyIsRefused) {
    const auto dir = dir_;
    const std::string failures = asUnprivileged(dir_, [dir] {
        namespace fs = std::filesystem;
        std::ostringstream out;
        const auto expect = [&](bool ok, const std::string& what) {
            if (!ok) {
                out << what << "; ";
            }
        };
        const fs::path plain = dir / "plain.osc";
        const fs::path readOnly = dir / "read-only.osc";
        const fs::path lockedFolder = dir / "locked";
        const fs::path inLocked = lockedFolder / "in.osc";
        writePlain(plain, "old", 0604);
        writePlain(readOnly, "old", 0444);
        fs::create_directory(lockedFolder);
        writePlain(inLocked, "old", 0620);
        fs::permissions(lockedFolder, fs::perms(0555));

        const FileFacts before = factsOf(plain);
        expect(saveReason(plain, "A") == "", "plain file saved");
        expect(factsOf(plain).mode == 0604, "its permission bits kept");
        expect(factsOf(plain).inode != before.inode, "replaced by a new file");

        const std::string refused = saveReason(readOnly, "B");
        expect(refused == "Permission denied", "read-only file refused: " + refused);
        expect(readWholeFile(readOnly) == "old", "read-only file untouched");

        const FileFacts inside = factsOf(inLocked);
        expect(saveReason(inLocked, "C") == "", "file in a read-only folder saved");
        expect(readWholeFile(inLocked) == "C", "its new contents");
        expect(factsOf(inLocked).inode == inside.inode, "written in place");
        expect(factsOf(inLocked).mode == 0620, "in place keeps the mode");
        const std::string newFile = saveReason(lockedFolder / "new.osc", "D");
        expect(newFile == "Permission denied", "no new file in a read-only folder: " + newFile);
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(lockedFolder)) {
            ++count;
        }
        expect(count == 1, "nothing else in the read-only folder");
        fs::permissions(lockedFolder, fs::perms(0755));
        return out.str();
    });
    EXPECT_EQ(failures, "");
    std::filesystem::permissions(dir_ / "locked", std::filesystem::perms(0755));
}

// A FIFO, a device and a folder are refused at once, for reading and for writing: opening a
// FIFO without a writer would wait for ever (the test would not end), and a save would write
// into a device or a pipe in place of a file.
TEST_F(FilesTest, FifosDevicesAndFoldersAreRefusedAtOnce) {
    const auto fifo = dir_ / "pipe.osc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("pipe.osc", dir_ / "link.osc");
    std::filesystem::create_directory(dir_ / "folder.osc");
    struct Row {
        const char* name;
        std::filesystem::path path;
        std::string reason;
    };
    const Row rows[] = {
        {"FIFO", fifo, "a FIFO (named pipe), not a regular file"},
        {"link to a FIFO", dir_ / "link.osc", "a FIFO (named pipe), not a regular file"},
        {"device", "/dev/null", "a device, not a regular file"},
        {"folder", dir_ / "folder.osc", "Is a directory"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string opening = "Cannot open file " + row.path.string();
        try {
            OscFileReader reader(row.path);
            ADD_FAILURE() << "read";
        } catch (const FileError& e) {
            EXPECT_EQ(e.message(), opening + ": " + row.reason);
        }
        try {
            (void)readWholeFile(row.path);
            ADD_FAILURE() << "read whole";
        } catch (const FileError& e) {
            EXPECT_EQ(e.message(), opening + ": " + row.reason);
        }
        EXPECT_EQ(saveReason(row.path, "01 \r\n"), row.reason);
    }
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(entries().size(), 3u);
}

// What is not 8-bit text is named as such instead of reading as an empty text; a few NULs in a
// text, and zeros padding its end, are read as the text's end.
TEST_F(FilesTest, FilesThatAreNotEightBitText) {
    const auto utf16 = [](std::string_view text, bool big) {
        std::string out;
        for (const char c : text) {
            out += big ? std::string{'\0', c} : std::string{c, '\0'};
        }
        return out;
    };
    const std::string lines = "23 08 00 00 00 00 00 00 04 00 \r\n23 08 00 00 00 00 00 00 00 \r\n";
    std::string elf =
        "\x7F"
        "ELF\x02\x01\x01";
    elf += std::string(9, '\0') + "\x02\0>\0\x01\0\0\0" + std::string(40, '\0') + "@\0\x38";
    struct Row {
        const char* name;
        std::string bytes;
        std::string reason;  // empty: text
    };
    const Row rows[] = {
        {"UTF-16 with its mark", "\xFF\xFE" + utf16(lines, false), "UTF-16 text, not 8-bit text"},
        {"UTF-16 big-endian with its mark", "\xFE\xFF" + utf16(lines, true),
         "UTF-16 text, not 8-bit text"},
        {"UTF-16 without a mark", utf16(lines, false), "UTF-16 text, not 8-bit text"},
        {"UTF-16 big-endian without a mark", utf16(lines, true), "UTF-16 text, not 8-bit text"},
        {"UTF-16 of a few characters", utf16("23 ", false), "UTF-16 text, not 8-bit text"},
        {"UTF-32 with its mark", std::string("\xFF\xFE\0\0", 4) + "2",
         "UTF-32 text, not 8-bit text"},
        {"a program", elf + std::string(200, 'x'), "binary data with NUL bytes, not text"},
        {"zeros alone", std::string(64, '\0'), "binary data with NUL bytes, not text"},
        {"a text", lines, ""},
        {"a NUL ends the text", lines.substr(0, 30) + '\0' + lines.substr(30), ""},
        {"zeros after a text cut short", lines + std::string(2000, '\0'), ""},
        {"8-bit characters", "\xC6\xE6 \xC0\xE0 \r\n", ""},
        {"two bytes", std::string("2\0", 2), ""},
        {"a few zeros", std::string(15, '\0'), ""},
        {"empty", "", ""},
    };
    const auto path = dir_ / "text.osc";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto* bytes = reinterpret_cast<const unsigned char*>(row.bytes.data());
        EXPECT_EQ(describeNonText({bytes, row.bytes.size()}), row.reason);
        writeFileAtomically(path, row.bytes);
        try {
            OscFileReader reader(path);
            EXPECT_EQ(row.reason, "") << "read as text";
        } catch (const FileError& e) {
            EXPECT_EQ(e.message(), "Cannot open file " + path.string() + ": " + row.reason);
        }
    }
}

// A bad group says where it stands: line and column, counted from 1, in the text and in a file
// read a chunk at a time.
TEST_F(FilesTest, BadGroupsSayWhereTheyStand) {
    const std::string text = "01 02 \r\n03 04 \n05 0G 07 \r\n";
    try {
        OscReader reader(text);
        Bytes d;
        while (reader.next(d)) {
        }
        ADD_FAILURE() << "no error";
    } catch (const OscFormatError& e) {
        EXPECT_EQ(std::string(e.what()), "'$0G' is not a valid integer value");
        EXPECT_EQ(e.line(), 3u);
        EXPECT_EQ(e.column(), 4u);
    }
    const auto path = dir_ / "bad.osc";
    writeFileAtomically(path, text);
    for (const std::size_t chunk : {1, 4, 1024}) {
        OscFileReader reader(path, chunk);
        Bytes d;
        try {
            while (reader.next(d)) {
            }
            ADD_FAILURE() << "no error";
        } catch (const OscFormatError& e) {
            EXPECT_EQ(e.line(), 3u) << chunk;
            EXPECT_EQ(e.column(), 4u) << chunk;
        }
    }
}

}  // namespace
}  // namespace osc
