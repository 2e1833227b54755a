// The Windows-1251 codec: a table of both directions, the replacements, a long round trip.

#include "codepage/win1251.h"

#include <gtest/gtest.h>

#include <string>

namespace codepage {
namespace {

TEST(Win1251, Table) {
    struct Row {
        const char* name;
        std::string cp1251;
        std::string utf8;
    } rows[] = {
        {"ASCII", "IP (IP:1.2.3.4)", "IP (IP:1.2.3.4)"},
        {"Cyrillic", "\xCA\xEE\xF2\xB8\xEB", "Котёл"},
        {"signs", "\xAB\xB9\xBB", "«№»"},
        {"empty", "", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(Win1251ToUtf8(r.cp1251), r.utf8);
        EXPECT_EQ(Utf8ToWin1251(r.utf8), r.cp1251);
    }
    EXPECT_EQ(Win1251ToUtf8("a\x98z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(Utf8ToWin1251("a中z"), "a?z");
    EXPECT_EQ(Utf8ToWin1251("a\xFF\xD0z"), "a??z");
    EXPECT_EQ(Utf8ToWin1251("\xD0"), "?");
    const std::string big(5000, '\xE0');
    EXPECT_EQ(Utf8ToWin1251(Win1251ToUtf8(big)), big);
}

}  // namespace
}  // namespace codepage
