#include "core/link/frame_filter.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Sample {
    std::vector<Frame> frames;
    std::vector<FrameRecord> records;
};

// Eight frames, numbered 1 to 8:
//   1 Передача  10..42    01 10 AA BB     I 0/0 P to 1, answered by 2
//   2 Приём1    50.5..90  01 31 12 34     RR 1 F from 1, answers 1 after 8.5 bits
//   3 Передача  100..140  02 93 56 78     SNRM P to 2: no answer, and (made up) retransmission
//   4 Приём2    150..200  02 A6 33 10 9A  I 3/5 from 2, unsolicited
//   5 Приём1    210..250  01 10 FF 00     bad check
//   6 Приём2    260..270  7E FF           abort
//   7 Передача  300..330  05 C4 D5        good, too short for address and control
//   8 Строб     400..440  03 10 EE FF     good, a line without a role
const Sample& sample() {
    static const Sample s = [] {
        Sample out;
        struct Row {
            int channel;
            Tick start, end;
            Bytes bytes;
            FrameError error;
        };
        const Row rows[] = {
            {1, 10 * 256, 42 * 256, {0x01, 0x10, 0xAA, 0xBB}, FrameError::None},
            {2, 50 * 256 + 128, 90 * 256, {0x01, 0x31, 0x12, 0x34}, FrameError::None},
            {1, 100 * 256, 140 * 256, {0x02, 0x93, 0x56, 0x78}, FrameError::None},
            {3, 150 * 256, 200 * 256, {0x02, 0xA6, 0x33, 0x10, 0x9A}, FrameError::None},
            {2, 210 * 256, 250 * 256, {0x01, 0x10, 0xFF, 0x00}, FrameError::BadCheck},
            {3, 260 * 256, 270 * 256, {0x7E, 0xFF}, FrameError::Abort},
            {1, 300 * 256, 330 * 256, {0x05, 0xC4, 0xD5}, FrameError::None},
            {0, 400 * 256, 440 * 256, {0x03, 0x10, 0xEE, 0xFF}, FrameError::None},
        };
        for (const Row& r : rows) {
            Frame f;
            f.channel = r.channel;
            f.start = r.start;
            f.end = r.end;
            f.bytes = r.bytes;
            f.bitCount = static_cast<std::uint32_t>(r.bytes.size() * 8);
            f.error = r.error;
            f.status = r.error == FrameError::None       ? CheckStatus::Good
                       : r.error == FrameError::BadCheck ? CheckStatus::Bad
                                                         : CheckStatus::None;
            out.frames.push_back(f);
        }
        for (std::size_t k = 0; k < out.frames.size(); ++k) {
            FrameRecord r;
            r.index = k + 1;
            r.frame = &out.frames[k];
            r.fields = linkFields(out.frames[k], LinkOptions{});
            out.records.push_back(r);
        }
        out.records[0].info.partnerChannel = 2;
        out.records[0].info.partnerIndex = 0;
        out.records[1].info.partnerChannel = 1;
        out.records[1].info.partnerIndex = 0;
        out.records[1].responseTime = 8 * 256 + 128;
        out.records[2].info.issues = static_cast<std::uint8_t>(LinkIssue::NoAnswer) |
                                     static_cast<std::uint8_t>(LinkIssue::Retransmission);
        out.records[3].info.issues = static_cast<std::uint8_t>(LinkIssue::Unsolicited);
        return out;
    }();
    return s;
}

// The numbers of the records that pass, "1 2 5".
std::string passing(const FrameFilter& filter) {
    std::string out;
    for (const FrameRecord& r : sample().records) {
        if (filter.matches(r)) {
            out += (out.empty() ? "" : " ") + std::to_string(r.index);
        }
    }
    return out;
}

TEST(FrameFilter, EveryFieldAndOperator) {
    struct Row {
        const char* text;
        const char* passing;
    };
    const Row rows[] = {
        {"", "1 2 3 4 5 6 7 8"},
        {"   ", "1 2 3 4 5 6 7 8"},
        {"index == 3", "3"},
        {"index != 1", "2 3 4 5 6 7 8"},
        {"index < 2", "1"},
        {"index <= 2", "1 2"},
        {"index > 6", "7 8"},
        {"index >= 7", "7 8"},
        {"INDEX>=0x7", "7 8"},
        {"channel == 1", "1 3 7"},
        {"channel == Передача", "1 3 7"},
        {"channel == tx", "1 3 7"},
        {"channel == \"приём1\"", "2 5"},
        {"channel == RX2", "4 6"},
        {"channel == Строб", "8"},
        {"channel < 2", "1 3 7 8"},
        {"start == 50.5", "2"},
        {"start > 50", "2 3 4 5 6 7 8"},
        {"end <= 42", "1"},
        {"bits == 40", "4"},
        {"status == good", "1 2 3 4 7 8"},
        {"status == bad", "5"},
        {"status == NONE", "6"},
        {"status != good", "5 6"},
        {"error == abort", "6"},
        {"error == \"bad check\"", "5"},
        {"error == bad_check", "5"},
        {"error == none", "1 2 3 4 7 8"},
        {"error != none", "5 6"},
        {"address == 1", "1 2"},
        {"address == 0x02", "3 4"},
        {"address != 1", "3 4 8"},
        {"address > 2", "8"},
        {"type == I", "1 4 8"},
        {"type == s", "2"},
        {"type != U", "1 2 4 8"},
        {"command == RR", "2"},
        {"command == snrm", "3"},
        {"command != RR", "3"},
        {"ns == 3", "4"},
        {"ns != 3", "1 8"},
        {"nr >= 1", "2 4"},
        {"pf == true", "1 2 3 8"},
        {"pf == 0", "4"},
        {"pf != false", "1 2 3 8"},
        {"role == command", "1 3 7"},
        {"role == response", "2 4 5 6"},
        {"role != command", "2 4 5 6"},
        {"issue == no_answer", "3"},
        {"issue == retransmission", "3"},
        {"issue == unsolicited", "4"},
        {"issue == sequence_gap", ""},
        {"issue == none", "1 2 5 6 7 8"},
        {"issue != none", "3 4"},
        {"issue != unsolicited", "1 2 3 5 6 7 8"},
        {"rt == 8.5", "2"},
        {"rt > 9", ""},
        {"rt != 1", "2"},
        {"bytes ~ \"01 10\"", "1 5"},
        {"bytes~\"0110\"", "1 5"},
        {"bytes ~ \"??\"", "1 2 3 4 5 6 7 8"},
        {"bytes ~ \"10 ?? ??\"", "1 5 8"},
        {"bytes ~ \"?? 34\"", "2"},
        {"bytes ~ \"10 ?? 34\"", ""},
        {"bytes ~ \"ff\"", "5 6 8"},
        {"bytes ~ \"7E FF ??\"", ""},
        {"bytes ~ \"01 10 AA BB\"", "1"},
        {"bytes ~ \"01 10 AA BB ??\"", ""},
        // Precedence: ! before &&, && before ||; parentheses.
        {"channel == 1 || channel == 2 && status == bad", "1 3 5 7"},
        {"(channel == 1 || channel == 2) && status == bad", "5"},
        {"!channel == 1", "2 4 5 6 8"},
        {"!(status == good) && channel == 3", "6"},
        {"!!(index == 1)", "1"},
        {"! ( index == 1 || index == 2 ) && ! index == 3", "4 5 6 7 8"},
        {"index == 1 || index == 2 || index == 3 && channel == 2", "1 2"},
        {"((((index == 4))))", "4"},
    };
    for (const Row& row : rows) {
        const FilterParse p = FrameFilter::parse(row.text);
        ASSERT_TRUE(p.ok()) << row.text << ": "
                            << filterErrorText(*p.error, FilterLanguage::English);
        EXPECT_EQ(passing(p.filter), row.passing) << row.text;
    }
    FilterSettings rate;
    rate.bitRate = 9600;  // 8.5 bits take 0.885 ms
    const FilterParse ms = FrameFilter::parse("rt_ms < 0.9 && rt_ms > 0.88", rate);
    ASSERT_TRUE(ms.ok());
    EXPECT_EQ(passing(ms.filter), "2");
    EXPECT_TRUE(ms.filter.needsLink());
    EXPECT_FALSE(FrameFilter::parse("channel == 1 && bytes ~ \"01\"").filter.needsLink());
    EXPECT_TRUE(FrameFilter::parse("").filter.empty());
}

TEST(FrameFilter, EveryErrorInBothLanguages) {
    struct Row {
        const char* text;
        FilterErrorKind kind;
        std::size_t column;
        const char* english;
        const char* russian;
    };
    const Row rows[] = {
        {"index == 1 # 2", FilterErrorKind::UnexpectedCharacter, 12,
         "position 12: unexpected character '#'", "позиция 12: недопустимый символ «#»"},
        {"index = 1", FilterErrorKind::LoneEquals, 7,
         "position 7: '=' is not an operator: write == to compare",
         "позиция 7: «=» — не оператор: для сравнения пишите =="},
        {"index == 1 & index == 2", FilterErrorKind::LoneAmpersand, 12,
         "position 12: '&' is not an operator: write && for 'and'",
         "позиция 12: «&» — не оператор: для «и» пишите &&"},
        {"index == 1 | index == 2", FilterErrorKind::LonePipe, 12,
         "position 12: '|' is not an operator: write || for 'or'",
         "позиция 12: «|» — не оператор: для «или» пишите ||"},
        {"bytes ~ \"01 02", FilterErrorKind::UnclosedQuote, 9,
         "position 9: the quoted text has no closing quote", "позиция 9: нет закрывающей кавычки"},
        {"index == 1 && ", FilterErrorKind::ExpectedField, 15,
         "position 15: expected a field name, found the end",
         "позиция 15: ожидалось имя поля, а выражение закончилось"},
        {"(3 == index)", FilterErrorKind::ExpectedField, 2,
         "position 2: expected a field name, found '3'",
         "позиция 2: ожидалось имя поля, а найдено «3»"},
        {"адрес == 1", FilterErrorKind::UnknownField, 1,
         "position 1: unknown field 'адрес' (fields: index, channel, start, end, bits, status, "
         "error, address, type, command, ns, nr, pf, role, issue, rt, rt_ms, bytes)",
         "позиция 1: неизвестное поле «адрес» (поля: index, channel, start, end, bits, status, "
         "error, address, type, command, ns, nr, pf, role, issue, rt, rt_ms, bytes)"},
        {"ns 3", FilterErrorKind::ExpectedComparison, 4,
         "position 4: expected ==, !=, <, <=, > or >= after 'ns', found '3'",
         "позиция 4: после «ns» ожидалось ==, !=, <, <=, > или >=, а найдено «3»"},
        {"bytes == \"01\"", FilterErrorKind::OperatorNotAllowed, 7,
         "position 7: '==' does not apply to 'bytes': use ~",
         "позиция 7: «==» не применяется к полю «bytes»: используйте ~"},
        {"bytes", FilterErrorKind::ExpectedMatch, 6,
         "position 6: expected ~ and a byte pattern in quotes after 'bytes', found the end",
         "позиция 6: после «bytes» ожидались ~ и образец байтов в кавычках, а выражение "
         "закончилось"},
        {"role < command", FilterErrorKind::OperatorNotAllowed, 6,
         "position 6: '<' does not apply to 'role': use == or !=",
         "позиция 6: «<» не применяется к полю «role»: используйте == или !="},
        {"ns ~ \"01\"", FilterErrorKind::OperatorNotAllowed, 4,
         "position 4: '~' does not apply to 'ns': use ==, !=, <, <=, > or >=",
         "позиция 4: «~» не применяется к полю «ns»: используйте ==, !=, <, <=, > или >="},
        {"ns >= )", FilterErrorKind::ExpectedValue, 7,
         "position 7: expected a value after '>=', found ')'",
         "позиция 7: после «>=» ожидалось значение, а найдено «)»"},
        {"ns == good", FilterErrorKind::ExpectedNumber, 7,
         "position 7: 'ns' takes a number, found 'good'",
         "позиция 7: поле «ns» сравнивается с числом, а найдено «good»"},
        {"ns == 12x", FilterErrorKind::BadNumber, 7, "position 7: '12x' is not a number",
         "позиция 7: «12x» — не число"},
        {"address == 0x1G", FilterErrorKind::BadNumber, 12, "position 12: '0x1G' is not a number",
         "позиция 12: «0x1G» — не число"},
        {"status == fine", FilterErrorKind::BadValue, 11,
         "position 11: 'fine' is not a value of 'status' (good, bad, none)",
         "позиция 11: «fine» — не значение поля «status» (good, bad, none)"},
        {"channel == Приём3", FilterErrorKind::BadValue, 12,
         "position 12: 'Приём3' is not a value of 'channel' (0-3, Строб, Передача, Приём1, "
         "Приём2, strobe, tx, rx1, rx2)",
         "позиция 12: «Приём3» — не значение поля «channel» (0-3, Строб, Передача, Приём1, "
         "Приём2, strobe, tx, rx1, rx2)"},
        {"command == RRR", FilterErrorKind::BadValue, 12,
         "position 12: 'RRR' is not a value of 'command' (RR, RNR, REJ, SREJ, SNRM, SNRME, SARM, "
         "SARME, SABM, SABME, DISC, UA, DM, FRMR, UI, XID, TEST, RSET, SIM, RIM, RD, UP)",
         "позиция 12: «RRR» — не значение поля «command» (RR, RNR, REJ, SREJ, SNRM, SNRME, "
         "SARM, SARME, SABM, SABME, DISC, UA, DM, FRMR, UI, XID, TEST, RSET, SIM, RIM, RD, UP)"},
        {"bytes ~ 01", FilterErrorKind::ExpectedPattern, 9,
         "position 9: expected a byte pattern in quotes after '~' (such as \"01 3E ?? 7E\"), "
         "found '01'",
         "позиция 9: после «~» ожидался образец байтов в кавычках (например, \"01 3E ?? 7E\"), "
         "а найдено «01»"},
        {"bytes ~ \"01 3G\"", FilterErrorKind::BadPattern, 13,
         "position 13: bad byte pattern: '3G' is neither two hex digits nor ??",
         "позиция 13: неверный образец байтов: «3G» — не две шестнадцатеричные цифры и не ??"},
        {"bytes ~ \"01 3\"", FilterErrorKind::BadPattern, 13,
         "position 13: bad byte pattern: '3' is neither two hex digits nor ??",
         "позиция 13: неверный образец байтов: «3» — не две шестнадцатеричные цифры и не ??"},
        {"bytes ~ \"  \"", FilterErrorKind::EmptyPattern, 9,
         "position 9: the byte pattern is empty", "позиция 9: образец байтов пуст"},
        {"(index == 1", FilterErrorKind::ExpectedClosingParen, 12,
         "position 12: expected ')', found the end",
         "позиция 12: ожидалась «)», а выражение закончилось"},
        {"index == 1 index == 2", FilterErrorKind::ExpectedEnd, 12,
         "position 12: expected &&, || or the end, found 'index'",
         "позиция 12: ожидалось &&, || или конец выражения, а найдено «index»"},
        {"index == 1)", FilterErrorKind::ExpectedEnd, 11,
         "position 11: expected &&, || or the end, found ')'",
         "позиция 11: ожидалось &&, || или конец выражения, а найдено «)»"},
        {"rt_ms < 5", FilterErrorKind::NeedsBitRate, 1, "position 1: 'rt_ms' needs a bit rate",
         "позиция 1: для поля «rt_ms» нужна скорость передачи"},
    };
    for (const Row& row : rows) {
        const FilterParse p = FrameFilter::parse(row.text);
        ASSERT_FALSE(p.ok()) << row.text;
        EXPECT_EQ(p.error->kind, row.kind) << row.text;
        EXPECT_EQ(p.error->column, row.column) << row.text;
        EXPECT_EQ(filterErrorText(*p.error, FilterLanguage::English), row.english) << row.text;
        EXPECT_EQ(filterErrorText(*p.error, FilterLanguage::Russian), row.russian) << row.text;
        EXPECT_TRUE(p.filter.empty()) << row.text;
    }

    // The limits: nesting, the pattern's length, and a long text shown cut short.
    const std::string deep =
        std::string(kMaxFilterDepth, '(') + "index == 1" + std::string(kMaxFilterDepth, ')');
    const FilterParse tooDeep = FrameFilter::parse(deep);
    ASSERT_FALSE(tooDeep.ok());
    EXPECT_EQ(filterErrorText(*tooDeep.error, FilterLanguage::English),
              "position 65: the expression is nested more than 64 deep");
    EXPECT_EQ(filterErrorText(*tooDeep.error, FilterLanguage::Russian),
              "позиция 65: вложенность выражения глубже 64");
    EXPECT_TRUE(FrameFilter::parse(std::string(kMaxFilterDepth - 1, '!') + "index == 1").ok());
    std::string pattern = "bytes ~ \"";
    for (std::size_t k = 0; k <= kMaxPatternBytes; ++k) {
        pattern += "00";
    }
    const FilterParse tooLong = FrameFilter::parse(pattern + "\"");
    ASSERT_FALSE(tooLong.ok());
    EXPECT_EQ(filterErrorText(*tooLong.error, FilterLanguage::English),
              "position 9: the byte pattern is longer than 64 bytes");
    EXPECT_EQ(filterErrorText(*tooLong.error, FilterLanguage::Russian),
              "позиция 9: образец байтов длиннее 64 байт");
    const FilterParse cut = FrameFilter::parse("index == 1 ппппппппппппппппппппппппппппп");
    ASSERT_FALSE(cut.ok());
    EXPECT_EQ(cut.error->found, "пппппппппппппппппппппппп…");
    EXPECT_EQ(cut.error->offset, 11u);
    // A long chain costs no depth.
    std::string chain = "index == 0";
    for (int k = 0; k < 5000; ++k) {
        chain += " || index == " + std::to_string(k % 9);
    }
    const FilterParse longChain = FrameFilter::parse(chain);
    ASSERT_TRUE(longChain.ok());
    EXPECT_EQ(passing(longChain.filter), "1 2 3 4 5 6 7 8");
}

// Random expressions over atoms whose passing frames are known, written with only the
// parentheses that precedence needs: the filter passes the frames that set algebra gives.
TEST(FrameFilter, RandomExpressionsFollowPrecedence) {
    struct Atom {
        const char* text;
        std::set<std::uint64_t> pass;
    };
    const std::vector<Atom> atoms = {
        {"channel == 1", {1, 3, 7}}, {"status != good", {5, 6}},
        {"index < 4", {1, 2, 3}},    {"address == 2", {3, 4}},
        {"issue != none", {3, 4}},   {"bytes ~ \"FF\"", {5, 6, 8}},
        {"pf == 1", {1, 2, 3, 8}},   {"role == response", {2, 4, 5, 6}},
    };
    const std::set<std::uint64_t> all = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Expr {
        std::string text;
        int level;  // 0 or, 1 and, 2 unary
        std::set<std::uint64_t> pass;
    };
    std::mt19937 rng(5);
    std::function<Expr(int)> make = [&](int depth) -> Expr {
        const int pick = depth > 3 ? 0 : static_cast<int>(rng() % 4);
        if (pick == 0) {
            const Atom& a = atoms[rng() % atoms.size()];
            return {a.text, 2, a.pass};
        }
        if (pick == 1) {
            const Expr e = make(depth + 1);
            Expr out{"!" + (e.level < 2 ? "(" + e.text + ")" : e.text), 2, {}};
            for (const std::uint64_t x : all) {
                if (e.pass.count(x) == 0) {
                    out.pass.insert(x);
                }
            }
            return out;
        }
        const bool isOr = pick == 2;
        const Expr a = make(depth + 1);
        const Expr b = make(depth + 1);
        const int level = isOr ? 0 : 1;
        auto wrap = [&](const Expr& e) { return e.level < level ? "(" + e.text + ")" : e.text; };
        Expr out{wrap(a) + (isOr ? " || " : " && ") + wrap(b), level, {}};
        for (const std::uint64_t x : all) {
            const bool inA = a.pass.count(x) != 0;
            const bool inB = b.pass.count(x) != 0;
            if (isOr ? (inA || inB) : (inA && inB)) {
                out.pass.insert(x);
            }
        }
        return out;
    };
    for (int k = 0; k < 500; ++k) {
        const Expr e = make(0);
        const FilterParse p = FrameFilter::parse(e.text);
        ASSERT_TRUE(p.ok()) << e.text;
        std::string want;
        for (const std::uint64_t x : e.pass) {
            want += (want.empty() ? "" : " ") + std::to_string(x);
        }
        EXPECT_EQ(passing(p.filter), want) << e.text;
    }
}

}  // namespace
}  // namespace osc
