#include "core/directory/config_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace osc {
namespace {

TItemAddress addressOf(std::initializer_list<std::uint32_t> words) {
    TItemAddress a = TConfigLine::filledAddress();
    std::size_t i = 0;
    for (std::uint32_t w : words) {
        a[i++] = w;
    }
    return a;
}

struct NumberRow {
    const char* name;
    std::string text;
    std::size_t pos;
    bool found;
    std::uint32_t value;
    std::size_t next;
};

TEST(ReadConfigNumber, Table) {
    const NumberRow rows[] = {
        {"plain", "12,", 0, true, 12, 2},
        {"blanks and tabs around", " \t 7 \t;", 0, true, 7, 6},
        {"from a position", "1,23;", 2, true, 23, 4},
        {"at the end of the text", "42", 0, true, 42, 2},
        {"largest word", "4294967295", 0, true, 0xFFFFFFFFu, 10},
        {"wraps modulo 2^32", "4294967296", 0, true, 0, 10},
        {"device word plus 2^32", "6492782592", 0, true, 0x83000000u, 10},
        {"digit behind the blanks is not read", "1 2", 0, true, 1, 2},
        {"sign refused", "-1", 0, false, 0, 0},
        {"plus refused", "+1", 0, false, 0, 0},
        {"letter", "x1", 0, false, 0, 0},
        {"only blanks", " \t ", 0, false, 0, 0},
        {"empty", "", 0, false, 0, 0},
        {"position past the end", "1", 5, false, 0, 0},
        {"other whitespace is not a blank", "\r1", 0, false, 0, 0},
    };
    for (const NumberRow& r : rows) {
        SCOPED_TRACE(r.name);
        const std::optional<ConfigNumber> n = ReadConfigNumber(r.text, r.pos);
        ASSERT_EQ(n.has_value(), r.found);
        if (r.found) {
            EXPECT_EQ(n->value, r.value);
            EXPECT_EQ(n->next, r.next);
        }
    }
}

struct LineRow {
    const char* name;
    std::string line;
    bool ok;
    TItemAddress address;
    std::uint32_t type;
    std::string lineName;
    bool device;
};

std::string sixteenWords(const char* lastSeparator) {
    std::string s = "2197815296";
    for (int i = 1; i < 16; ++i) {
        s += "," + std::to_string(i);
    }
    return s + lastSeparator;
}

TEST(ParseConfigLine, Table) {
    const TItemAddress none = TConfigLine::filledAddress();
    const TItemAddress sixteen =
        addressOf({0x83000000u, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    const LineRow rows[] = {
        {"device line", "2197815296,1,3;1,KP-1", true, addressOf({0x83000000u, 1, 3}), 1, "KP-1",
         true},
        {"one address word", "2197815296;1,A", true, addressOf({0x83000000u}), 1, "A", true},
        {"blank and tab on each side of everything", " 2197815296 \t, \t5\t;\t1 \t,Name", true,
         addressOf({0x83000000u, 5}), 1, "Name", true},
        {"name keeps its leading blank", "2197815296;1, Name", true, addressOf({0x83000000u}), 1,
         " Name", true},
        {"name may be empty", "2197815296;1,", true, addressOf({0x83000000u}), 1, "", true},
        {"name keeps commas and semicolons", "2197815296;1,a,b;c", true, addressOf({0x83000000u}),
         1, "a,b;c", true},
        {"wrapped first word is a device", "6492782592,1;1,W", true, addressOf({0x83000000u, 1}), 1,
         "W", true},
        {"sixteen words then ;", sixteenWords(";") + "1,S", true, sixteen, 1, "S", true},
        {"sixteen words then , ends the list", sixteenWords(",") + "1,S", true, sixteen, 1, "S",
         true},
        {"seventeen words fail", sixteenWords(",") + "16;1,S", false, none, 0, "", false},
        {"type 2 is not a device", "2197815296;2,Link", true, addressOf({0x83000000u}), 2, "Link",
         false},
        {"other first word is not a device", "1,1;1,Server", true, addressOf({1, 1}), 1, "Server",
         false},
        {"type not followed by ,", "2197815296;1;Name", false, none, 0, "", false},
        {"type at the end of the line", "2197815296;1", false, none, 0, "", false},
        {"type missing", "2197815296;,Name", false, none, 0, "", false},
        {"list not ended", "2197815296,1", false, none, 0, "", false},
        {"list ended by another character", "2197815296.1;1,N", false, none, 0, "", false},
        {"empty word", "2197815296,,1;1,N", false, none, 0, "", false},
        {"comment", "; comment", false, none, 0, "", false},
        {"first character not a digit", "x2197815296;1,N", false, none, 0, "", false},
        {"signed word", "-2197815296;1,N", false, none, 0, "", false},
        {"two numbers without separator", "2197815296 7;1,N", false, none, 0, "", false},
        {"empty line", "", false, none, 0, "", false},
    };
    for (const LineRow& r : rows) {
        SCOPED_TRACE(r.name);
        const ParsedConfigLine p = ParseConfigLine(r.line);
        EXPECT_EQ(p.ok, r.ok);
        EXPECT_EQ(p.head.Address, r.address);
        if (r.ok) {
            EXPECT_EQ(p.head.ItemType, r.type);
        }
        EXPECT_EQ(p.name, r.lineName);
        EXPECT_EQ(p.isDeviceLine(), r.device);
    }
}

struct FieldRow {
    const char* name;
    int n;
    std::string text;
    std::string delimiters;
    std::string field;
};

TEST(DelimitedField, Table) {
    const FieldRow rows[] = {
        {"first field", 1, "a(b)c", "()", "a"},
        {"second field", 2, "a(b)c", "()", "b"},
        {"third field", 3, "a(b)c", "()", "c"},
        {"beyond the last", 4, "a(b)c", "()", ""},
        {"two opening in a row: field 2 empty", 2, "a((b", "()", ""},
        {"two opening in a row: field 3", 3, "a((b", "()", "b"},
        {"leading delimiter: field 1 empty", 1, ":x", ":", ""},
        {"leading delimiter: field 2", 2, ":x", ":", "x"},
        {"no delimiter: field 1 is the text", 1, "abc", ":", "abc"},
        {"no delimiter: field 2 empty", 2, "abc", ":", ""},
        {"n zero", 0, "a:b", ":", ""},
        {"n negative", -1, "a:b", ":", ""},
        {"empty text", 1, "", ":", ""},
        {"line end", 1, "10.0.0.1\r\nNext", "\r\n", "10.0.0.1"},
        {"trailing delimiter ends the field", 2, "a:b:", ":", "b"},
    };
    for (const FieldRow& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(DelimitedField(r.n, r.text, r.delimiters), r.field);
    }
}

struct EntryRow {
    const char* name;
    std::string entry;
    std::string address;
};

TEST(EntryAddress, Table) {
    const EntryRow rows[] = {
        {"entry with address", "KP-1 (IP:127.0.0.11)", "127.0.0.11"},
        {"entry with empty address", "KP-1 (IP:)", ""},
        {"bare name", "KP-4", ""},
        {"name with a parenthesised word", "Pump (north) (IP:10.0.0.1)", ""},
        {"UTF-8 name", "\xD0\x9A\xD0\x9F-1 (IP:host.local)", "host.local"},
        {"host name with port colon keeps the second field", "X (IP:h:971)", "h"},
        {"empty entry", "", ""},
    };
    for (const EntryRow& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(EntryAddress(r.entry), r.address);
    }
}

struct PropertyRow {
    const char* name;
    std::string text;
    std::optional<std::string> address;
};

TEST(AddressFromProperty, Table) {
    const std::string fifty(50, '1');
    const PropertyRow rows[] = {
        {"marker alone", "IP-Addr = 10.0.0.1", "10.0.0.1"},
        {"marker inside a longer text", "Type = IP\r\nIP-Addr = 10.0.0.2\r\nPort = 971",
         "10.0.0.2"},
        {"line feed only", "IP-Addr = 10.0.0.3\nx", "10.0.0.3"},
        {"line end right behind the marker", "IP-Addr = \r\n10.0.0.4", ""},
        {"marker at the very end", "IP-Addr = ", ""},
        {"more than 50 characters", "IP-Addr = " + fifty + "234", fifty},
        {"exactly 50 characters", "IP-Addr = " + fifty, fifty},
        {"first marker counts", "IP-Addr = a\nIP-Addr = b", "a"},
        {"case matters", "ip-addr = 10.0.0.5", std::nullopt},
        {"blank missing", "IP-Addr =10.0.0.6", std::nullopt},
        {"no marker", "Model = X", std::nullopt},
    };
    for (const PropertyRow& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(AddressFromProperty(r.text), r.address);
    }
    EXPECT_EQ(DeviceEntryText("N", std::string("1.2.3.4")), "N (IP:1.2.3.4)");
    EXPECT_EQ(DeviceEntryText("N", std::string()), "N (IP:)");
    EXPECT_EQ(DeviceEntryText("N", std::nullopt), "N");
}

std::vector<std::string> splitInChunks(std::string_view text, std::size_t chunk) {
    std::vector<std::string> out;
    ConfigLineSplitter s;
    auto emit = [&](std::string_view line) { out.emplace_back(line); };
    for (std::size_t i = 0; i < text.size(); i += chunk) {
        s.feed(text.substr(i, chunk), emit);
    }
    s.finish(emit);
    return out;
}

struct SplitRow {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
};

TEST(ConfigLineSplitter, Table) {
    using V = std::vector<std::string>;
    const SplitRow rows[] = {
        {"empty file", "", V{}},
        {"blanks only", " \r\n\t\n\n", V{}},
        {"CR LF lines", "a\r\nb\r\n", V{"a", "b"}},
        {"LF lines, last without line end", "a\nb", V{"a", "b"}},
        {"blank lines and leading blanks skipped", "\n\n  \t a b \n", V{"a b "}},
        {"carriage return inside a line dropped", "a\rb\r\rc\n",
         V{"ab"
           "c"}},
        {"lone CR is no line end", "a\r b\n", V{"a b"}},
        {"control characters before a line skipped",
         std::string("\x01\x00\x1f"
                     "x\n",
                     4),
         V{"x"}},
        {"control characters inside a line kept", std::string("x\x01\x00y\n", 5),
         V{std::string("x\x01\x00y", 4)}},
        {"code 26 ends the file",
         "a\n\x1a"
         "b\n",
         V{"a"}},
        {"code 26 inside a line ends it",
         "ab\x1a"
         "cd\n",
         V{"ab"}},
        {"high bytes are text", "\xc0\xe1\n", V{"\xc0\xe1"}},
    };
    for (const SplitRow& r : rows) {
        SCOPED_TRACE(r.name);
        for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
            EXPECT_EQ(splitInChunks(r.text, chunk), r.lines) << "chunk " << chunk;
        }
    }
}

TEST(ConfigLineSplitter, NothingAfterTheEndOfFileCharacter) {
    ConfigLineSplitter s;
    std::vector<std::string> out;
    auto emit = [&](std::string_view line) { out.emplace_back(line); };
    s.feed("a\x1a", emit);
    EXPECT_TRUE(s.ended());
    s.feed("b\n", emit);
    s.finish(emit);
    EXPECT_EQ(out, std::vector<std::string>{"a"});
}

}  // namespace
}  // namespace osc
