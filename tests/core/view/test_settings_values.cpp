#include "core/view/settings_values.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

namespace osc {
namespace {

TEST(TrimValueText, BlanksAndControlCharactersAtBothEnds) {
    EXPECT_EQ(trimValueText(" \t12 \r\n"), "12");
    EXPECT_EQ(trimValueText("\x01nt 1\x1f"), "nt 1");  // inner blanks stay
    EXPECT_EQ(trimValueText("   "), "");
    EXPECT_EQ(trimValueText("\xd0\x96"), "\xd0\x96");  // UTF-8 bytes are not blanks
}

TEST(BooleanValueText, WrittenCapitalisedReadInAnyCase) {
    EXPECT_EQ(booleanValueText(true), "True");
    EXPECT_EQ(booleanValueText(false), "False");
    struct Row {
        const char* text;
        std::optional<bool> value;
    };
    const Row rows[] =
        {
            {"True", true}, {"true", true},      {"TRUE", true}, {"fAlSe", false},
            {"yes", {}},    {"1", {}},           {"", {}},       {"True ", {}},
            {"Tru", {}},    {"\xd0\xa2rue", {}},  // a Cyrillic letter that looks like a T
        };
    for (const Row& r : rows) {
        EXPECT_EQ(parseBooleanValueText(r.text), r.value) << r.text;
    }
}

TEST(NumberValueText, GeneralFormatUpToEighteenDigits) {
    struct Row {
        double value;
        const char* text;
    };
    const Row rows[] = {
        {8, "8"},
        {100, "100"},
        {-2147483648.0, "-2147483648"},
        {0.5, "0.5"},
        {0.1, "0.100000000000000006"},  // the double nearest 0.1, to 18 digits
        {123456789012345678.0, "123456789012345680"},
        {1e20, "1e+20"},
        {0, "0"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(numberValueText(r.value), r.text) << r.text;
    }
}

TEST(NumberValueText, ParsesOnlyWholeDecimalNumbers) {
    struct Row {
        const char* text;
        std::optional<double> value;
    };
    const Row rows[] = {
        {"12", 12},    {"+5", 5},      {"-5", -5},       {"8.5", 8.5}, {".5", 0.5}, {"5.", 5},
        {"1e3", 1000}, {"1E+3", 1000}, {"2.5e-1", 0.25}, {"", {}},     {"+", {}},   {"-", {}},
        {".", {}},     {"+-5", {}},    {"1,000", {}},  // no digit grouping
        {"1,5", {}},   {"0x10", {}},   {"inf", {}},      {"nan", {}},  {"1e", {}},  {"e5", {}},
        {"1.2.3", {}}, {"1e400", {}},  {" 12", {}},      {"12 ", {}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(parseNumberValueText(r.text), r.value) << r.text;
    }
}

TEST(NumberValueText, WrittenTextReadsBackToTheSameDouble) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> exponent(-30, 30);
    for (int i = 0; i < 20000; ++i) {
        const double v = (i % 2 ? -1 : 1) * std::pow(10.0, exponent(rng));
        const std::optional<double> back = parseNumberValueText(numberValueText(v));
        ASSERT_TRUE(back) << numberValueText(v);
        // 18 significant digits are within one unit in the last place of a double.
        EXPECT_NEAR(*back, v, std::fabs(v) * 4e-16) << numberValueText(v);
    }
    for (int v : {0, 1, -1, 8, 16, 100, 250, INT_MAX, INT_MIN}) {
        EXPECT_EQ(parseNumberValueText(numberValueText(v)), double(v)) << v;
    }
}

TEST(WholeNumberValue, NearestHalvesToEvenClampedToInt) {
    struct Row {
        double value;
        int whole;
    };
    const Row rows[] = {
        {8.5, 8},          {9.5, 10},       {-8.5, -8},       {8.49, 8},
        {40, 40},          {1e12, INT_MAX}, {-1e12, INT_MIN}, {2147483647.4, INT_MAX},
        {std::nan(""), 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(wholeNumberValue(r.value), r.whole) << r.value;
    }
}

TEST(IntValueText, SignAndDigitsWithinTheIntRange) {
    struct Row {
        const char* text;
        std::optional<int> value;
    };
    const Row rows[] = {
        {"0", 0},
        {"-1", -1},
        {"+3", 3},
        {"00012", 12},
        {"-0", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", {}},
        {"-2147483649", {}},
        {"99999999999999999999", {}},
        {"", {}},
        {"-", {}},
        {"+-1", {}},
        {"1.0", {}},
        {"1e3", {}},
        {"0x1", {}},
        {" 1", {}},
        {"1 2", {}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(parseIntValueText(r.text), r.value) << r.text;
    }
}

TEST(PositionValueText, FourFieldsWithDefaults) {
    EXPECT_EQ(positionValueText({0, 103, 800, 539}), "0,103,800,539");
    EXPECT_EQ(positionValueText({-1, -1, -1, -1}), "-1,-1,-1,-1");
    const std::array<int, 4> d{1, 2, 3, 4};
    struct Row {
        const char* name;
        const char* text;
        std::array<int, 4> fields;
    };
    const Row rows[] = {
        {"all four", "10,20,610,420", {10, 20, 610, 420}},
        {"blanks around fields", " 10 ,\t20, 610 ,420 ", {10, 20, 610, 420}},
        {"missing fields keep their defaults", "5,6", {5, 6, 3, 4}},
        {"non-numeric fields keep their defaults", "x,50,500,y", {1, 50, 500, 4}},
        {"empty fields keep their defaults", ",,7,", {1, 2, 7, 4}},
        {"fields after the fourth ignored", "9,8,7,6,5", {9, 8, 7, 6}},
        {"out of the int range", "2147483648,-5,0,0", {1, -5, 0, 0}},
        {"empty text", "", {1, 2, 3, 4}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(parsePositionValueText(r.text, d), r.fields) << r.name;
    }
    // What is written reads back.
    for (const std::array<int, 4> f : {std::array<int, 4>{INT_MIN, INT_MAX, 0, -7}, d}) {
        EXPECT_EQ(parsePositionValueText(positionValueText(f), {}), f);
    }
}

TEST(ScreenSuffix, WidthThenHeight) {
    EXPECT_EQ(screenSuffix(1024, 768), "(1024x768)");
    EXPECT_EQ(screenSuffix(0, 0), "(0x0)");
}

}  // namespace
}  // namespace osc
