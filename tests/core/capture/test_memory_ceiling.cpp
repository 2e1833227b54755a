// The memory ceiling: sizes as the command line takes them, the budget read from the system's
// texts, the default limit from the budget, and the stop before a doubling could pass it.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/capture/memory_ceiling.h"

namespace osc {
namespace {

constexpr std::uint64_t KiB = 1024, MiB = KiB * 1024, GiB = MiB * 1024;

TEST(MemoryCeiling, Sizes) {
    struct Row {
        const char* text;
        std::optional<std::uint64_t> bytes;
    };
    const Row rows[] = {
        {"512M", 512 * MiB},
        {"2G", 2 * GiB},
        {"1.5G", GiB + GiB / 2},
        {"64k", 64 * KiB},
        {"64KiB", 64 * KiB},
        {"64 MB", 64 * MiB},
        {"1048576", MiB},
        {"100B", 100},
        {" 3T ", 3 * 1024 * GiB},
        {"0", std::nullopt},
        {"0.1", std::nullopt},  // less than a byte
        {"", std::nullopt},
        {"M", std::nullopt},
        {"-1G", std::nullopt},
        {"1..5G", std::nullopt},
        {".", std::nullopt},
        {"2X", std::nullopt},
        {"2GG", std::nullopt},
        {"1Bi", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"20000000T", std::nullopt},  // past 64 bits
        {"lots", std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parseMemorySize(row.text), row.bytes) << row.text;
    }
    EXPECT_EQ(memorySizeText(512 * MiB), "512 MiB");
    EXPECT_EQ(memorySizeText(GiB + GiB / 2), "1.5 GiB");
    EXPECT_EQ(memorySizeText(900 * KiB), "900 KiB");
    EXPECT_EQ(memorySizeText(12), "12 bytes");
    for (std::uint64_t b : {KiB, 64 * KiB, 3 * MiB, 7 * GiB}) {
        EXPECT_EQ(parseMemorySize(memorySizeText(b)), b) << "the text reads back";
    }
}

TEST(MemoryCeiling, BudgetFromTheSystemsTexts) {
    MemoryBudget b;
    parseMeminfo("MemTotal:       24683748 kB\nMemFree:  100 kB\nMemAvailable:   23337952 kB\n", b);
    EXPECT_EQ(b.physical, 24683748 * KiB);
    EXPECT_EQ(b.available, 23337952 * KiB);
    parseMeminfo("garbage\nMemTotal: lots kB\n", b);
    EXPECT_EQ(b.physical, 0u);
    EXPECT_EQ(b.available, 0u);
    EXPECT_EQ(parseCgroupBytes("max\n"), 0u);
    EXPECT_EQ(parseCgroupBytes("9223372036854771712\n"), 0u) << "v1's way of saying no limit";
    EXPECT_EQ(parseCgroupBytes("536870912\n"), 512 * MiB);
    EXPECT_EQ(parseCgroupBytes(""), 0u);
    EXPECT_EQ(parseVmSize("Name:\tx\nVmPeak:\t  9 kB\nVmSize:\t   2048 kB\n"), 2 * MiB);

    const MemoryBudget here = readMemoryBudget();
    EXPECT_GT(here.physical, 0u);
    EXPECT_GT(defaultMemoryLimit(here), 0u);
    EXPECT_LE(defaultMemoryLimit(here), here.physical / 2);
}

TEST(MemoryCeiling, DefaultIsTheSmallestShare) {
    struct Row {
        const char* name;
        MemoryBudget budget;
        std::uint64_t limit;
    };
    const Row rows[] = {
        {"nothing known", {}, GiB},
        {"physical only", {16 * GiB, 0, 0, 0, 0, 0}, 8 * GiB},
        {"little available", {16 * GiB, 2 * GiB, 0, 0, 0, 0}, GiB},
        {"control group", {16 * GiB, 12 * GiB, 4 * GiB, GiB, 0, 0}, 2 * GiB},
        {"control group full of file cache", {16 * GiB, 12 * GiB, GiB, GiB, 0, 0}, GiB / 2},
        {"address space used up", {16 * GiB, 12 * GiB, 0, 0, GiB, 2 * GiB}, 0},
        {"address space", {16 * GiB, 12 * GiB, 0, 0, 4 * GiB, GiB}, GiB},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(defaultMemoryLimit(row.budget), row.limit) << row.name;
    }
    const MemoryCeiling ceiling(64 * KiB);
    EXPECT_FALSE(ceiling.mustStop(32 * KiB - 1));
    EXPECT_TRUE(ceiling.mustStop(32 * KiB)) << "one doubling more could pass the limit";
}

}  // namespace
}  // namespace osc
