// The session file: its JSON read and written back unchanged, a newer version refused with its
// number, anything that is not a session refused with the reason, older files read as far as
// they go, and the capture beside it never touched.

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/files/json.h"
#include "core/files/osc_file.h"
#include "core/files/session_file.h"

namespace osc {
namespace {

TEST(Json, ReadsWritesAndRefusesWithThePlace) {
    const json::Value v = json::parse(
        R"({"a": [1, -2.5e3, true, null, "x\"\\\/\n\u00e9\ud83d\ude00"], "b": {}, "c": []})");
    EXPECT_EQ(json::parse(json::write(v)), v);
    EXPECT_EQ(v.find("a")->asArray()[4].asString(), "x\"\\/\n\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(v.find("a")->asArray()[1].asNumber(), -2500);
    struct Row {
        const char* name;
        std::string text;
        std::size_t line, column;
    };
    const Row refused[] = {
        {"empty", "", 1, 1},
        {"trailing comma", "[1,]", 1, 4},
        {"text after", "{} x", 1, 4},
        {"repeated member", "{\"a\":1,\n\"a\":2}", 2, 4},
        {"leading zero", "01", 1, 2},
        {"bare minus", "-", 1, 2},
        {"number too large", "1e400", 1, 1},
        {"unpaired surrogate", "\"\\ud800\"", 1, 8},
        {"control in string", "\"a\tb\"", 1, 3},
        {"overlong UTF-8", "\"\xC0\xAF\"", 1, 2},
        {"unterminated", "\"abc", 1, 5},
        {"single quotes", "'a'", 1, 1},
    };
    for (const Row& r : refused) {
        try {
            json::parse(r.text);
            ADD_FAILURE() << r.name;
        } catch (const json::ParseError& e) {
            EXPECT_EQ(e.line(), r.line) << r.name << ": " << e.what();
            EXPECT_EQ(e.column(), r.column) << r.name << ": " << e.what();
        }
    }
    // Deep nesting is refused, not recursed into.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_THROW(json::parse(deep), json::ParseError);
    const std::string fine =
        std::string(json::kMaxDepth - 1, '[') + std::string(json::kMaxDepth - 1, ']');
    EXPECT_NO_THROW(json::parse(fine));
}

Session fullSession() {
    Session s;
    s.view = {{-256.0, 25600.0}};
    s.marker = 2560;
    s.cursor = 5120;
    s.decodeChannel = 2;
    s.decoder = {5, true, true, false};
    s.frameOptions = {{"cbFrameInvert_Checked", "True"}, {"cmbFrameCheck_ItemIndex", "2"}};
    s.markers = {{1, 2560, "флаг"}, {9, 999999999LL * 256, ""}};
    s.bookmarks = {{7680, "ошибка CRC\n\"вторая\" строка"}, {0, ""}};
    s.channels[1] = {"TX", "#FF8000", true};
    s.channels[3] = {"", "", false};
    return s;
}

TEST(SessionFile, RoundTripAndRefusedFiles) {
    const Session s = fullSession();
    EXPECT_EQ(parseSession(sessionText(s)), s);
    EXPECT_EQ(parseSession(sessionText(Session{})), Session{});
    // An older file without the newer fields reads with their defaults.
    const Session old = parseSession(R"({"version": 1, "marker": 512})");
    EXPECT_EQ(old.marker, 512);
    EXPECT_TRUE(old.markers.empty());
    EXPECT_FALSE(old.view);

    try {
        parseSession(R"({"version": 2, "marker": 512, "something new": [1]})");
        ADD_FAILURE() << "a newer version read";
    } catch (const SessionError& e) {
        EXPECT_EQ(e.kind(), SessionError::Kind::NewerVersion);
        EXPECT_EQ(e.version(), 2);
    }
    struct Row {
        const char* name;
        const char* text;
        const char* reason;  // part of the message
    };
    const Row malformed[] = {
        {"not JSON", "version 1", "a value expected at line 1, column 1"},
        {"not an object", "[1]", "not a JSON object"},
        {"no version", R"({"marker": 1})", "no \"version\""},
        {"version zero", R"({"version": 0})", "\"version\""},
        {"fractional version", R"({"version": 1.5})", "whole number"},
        {"marker a text", R"({"version": 1, "marker": "1"})", "\"marker\""},
        {"empty view", R"({"version": 1, "view": {"minimum": 5, "maximum": 5}})", "empty"},
        {"key 10", R"({"version": 1, "markers": [{"key": 10, "x": 1}]})", "\"key\""},
        {"two on one key", R"({"version": 1, "markers": [{"key": 1, "x": 1}, {"key": 1, "x": 2}]})",
         "two markers"},
        {"colour", R"({"version": 1, "channels": [{"colour": "red"}]})", "#RRGGBB"},
        {"five channels", R"({"version": 1, "channels": [{}, {}, {}, {}, {}]})", "four"},
        {"channel out of range", R"({"version": 1, "decodeChannel": 4})", "decodeChannel"},
        {"huge tick", R"({"version": 1, "cursor": 1e300})", "\"cursor\""},
    };
    for (const Row& r : malformed) {
        try {
            parseSession(r.text);
            ADD_FAILURE() << r.name;
        } catch (const SessionError& e) {
            EXPECT_EQ(e.kind(), SessionError::Kind::Malformed) << r.name;
            EXPECT_NE(std::string(e.what()).find(r.reason), std::string::npos)
                << r.name << ": " << e.what();
        }
    }
}

TEST(SessionFile, BesideTheCaptureWhichStaysAsItWas) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("session_file_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::filesystem::path capture = dir / "a.osc";
    std::ofstream(capture) << "23 08 \r\n";
    EXPECT_EQ(sessionPathFor(capture), dir / "a.osc.session");
    EXPECT_FALSE(readSessionFile(capture));
    writeSessionFile(capture, fullSession());
    EXPECT_EQ(readSessionFile(capture), fullSession());
    EXPECT_EQ(readWholeFile(capture), "23 08 \r\n");
    std::ofstream(sessionPathFor(capture)) << "{\"version\": 7}";
    EXPECT_THROW(readSessionFile(capture), SessionError);
    std::filesystem::remove(sessionPathFor(capture));
    std::filesystem::create_directory(sessionPathFor(capture));  // not a file
    EXPECT_THROW(readSessionFile(capture), SessionError);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace osc
