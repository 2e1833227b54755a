// Times of the link for the readouts and the axis: unit choice, rounding, signs, the ends of the
// tick range; and the bit rate as typed or stored.

#include "core/view/time_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace osc {
namespace {

constexpr Tick kMaxTick = std::numeric_limits<Tick>::max();
constexpr Tick kMinTick = std::numeric_limits<Tick>::min();

TEST(TimeText, Table) {
    struct Row {
        const char* name;
        Tick ticks;
        double rate;
        const char* text;
    };
    const Row rows[] = {
        {"zero", 0, 9600, "0 с"},
        {"one bit at 9600", 256, 9600, "104,2 мкс"},
        {"ten bits at 9600", 2560, 9600, "1,042 мс"},
        {"one second", 256 * 9600, 9600, "1,000 с"},
        {"a negative position", -2560, 9600, "-1,042 мс"},
        {"a tick at 1 Mbit/s", 1, 1e6, "0,004 мкс"},
        {"below a microsecond", 100, 1e6, "0,391 мкс"},
        {"three decimals at most", 1, 1e12, "0,000 мкс"},
        {"no sign on a zero text", -1, 1e12, "0,000 мкс"},
        {"a microsecond", 256, 1e6, "1,000 мкс"},
        {"just below a millisecond", 255, 1000, "996,1 мкс"},
        {"a millisecond", 256, 1000, "1,000 мс"},
        {"rounds up to the next unit", 1, 1.0 / (256 * 999.96e-6), "1,000 мс"},
        {"rounds up to the next digit", 1, 1.0 / (256 * 9.9996e-6), "10,00 мкс"},
        {"milliseconds round up to a second", 1, 1.0 / (256 * 0.99996), "1,000 с"},
        {"four significant digits", 3160448, 1, "12346 с"},
        {"twelve seconds", 256 * 12345 / 1000, 1, "12,34 с"},
        {"a thousand seconds", 256000, 1, "1000 с"},
        {"a day", 256 * 86400, 1, "86400 с"},
        {"seconds just below a thousand round up", 255990, 1, "1000 с"},  // 999.96 s
        {"the largest tick", kMaxTick, 1, "36028797018963968 с"},
        {"the smallest tick", kMinTick, 1, "-36028797018963968 с"},
        {"a slow rate", kMaxTick, 1.0 / 512, "18446744073709551614 с"},
        {"rate zero", 256, 0, ""},
        {"negative rate", 256, -9600, ""},
        {"infinite rate", 256, std::numeric_limits<double>::infinity(), ""},
        {"rate NaN", 256, std::nan(""), ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TicksToTimeText(row.ticks, row.rate), row.text);
    }
}

TEST(TimeText, PositionTextKeepsTheBitTextAndAddsTheTime) {
    EXPECT_EQ(PositionText(300, std::nullopt), "1 + 44/256");
    EXPECT_EQ(PositionText(-300, std::nullopt), "-1");
    EXPECT_EQ(PositionText(0, std::nullopt), "0");
    EXPECT_EQ(PositionText(300, 9600), "1 + 44/256 (122,1 мкс)");
    EXPECT_EQ(PositionText(0, 9600), "0 (0 с)");
    EXPECT_EQ(PositionText(256, 0), "1");  // no time for a rate that is none
}

// Whatever the value, the text is a number of at most four significant digits (or a whole
// number of seconds) in a unit where it is at least 1, unless below a microsecond, rounded to
// the nearest of its last digit.
TEST(TimeText, RandomValuesStayWithinTheirUnit) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const Tick ticks = static_cast<Tick>(rng()) >> (rng() % 64);
        const double rate = std::pow(10.0, -3 + static_cast<double>(rng() % 15000) / 1000.0);
        const std::string text = TicksToTimeText(ticks, rate);
        SCOPED_TRACE(testing::Message() << ticks << " ticks at " << rate << ": " << text);
        const std::size_t space = text.find(' ');
        ASSERT_NE(space, std::string::npos);
        std::string number = text.substr(0, space);
        const std::string unit = text.substr(space + 1);
        ASSERT_TRUE(unit == "мкс" || unit == "мс" || unit == "с");
        EXPECT_EQ(number[0] == '-',
                  ticks < 0 && number.find_first_not_of("-0,") != std::string::npos);
        std::replace(number.begin(), number.end(), ',', '.');
        const long double shown = std::fabs(std::strtold(number.c_str(), nullptr));
        const long double perSecond = unit == "мкс" ? 1e6L : unit == "мс" ? 1e3L : 1.0L;
        const long double exact =
            std::fabs(static_cast<long double>(ticks)) / (256.0L * rate) * perSecond;
        if (ticks == 0) {
            EXPECT_EQ(text, "0 с");
            continue;
        }
        if (unit != "мкс") {
            EXPECT_GE(shown, 1);
        }
        if (unit != "с") {
            EXPECT_LT(shown, 1000);
        }
        const std::string digits = number.substr(number[0] == '-' ? 1 : 0);
        const std::size_t dot = digits.find('.');
        const int decimals = dot == std::string::npos ? 0 : int(digits.size() - dot - 1);
        if (shown < 1000) {
            const std::size_t first = std::min(digits.find_first_not_of("0."), digits.size());
            const std::size_t significant =
                digits.size() - first - (dot != std::string::npos && dot > first ? 1 : 0);
            EXPECT_LE(significant, 4u);
        } else {
            EXPECT_EQ(decimals, 0);
        }
        EXPECT_LE(std::fabs(shown - exact), 0.5L * std::pow(10.0L, -decimals) * 1.0001L);
    }
}

TEST(BitRate, ParseTable) {
    struct Row {
        const char* text;
        std::optional<double> rate;
    };
    const Row rows[] = {
        {"9600", 9600},
        {"  9600\t", 9600},
        {"115 200", 115200},
        {"115\xC2\xA0"
         "200",
         115200},
        {"1\xE2\x80\xAF"
         "000",
         1000},
        {"1200,5", 1200.5},
        {"1200.5", 1200.5},
        {",5", 0.5},
        {"5.", 5},
        {"0.001", 0.001},
        {"0.0009", std::nullopt},
        {"1000000000000", 1e12},
        {"1000000000001", std::nullopt},
        {"0", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {".", std::nullopt},
        {"-9600", std::nullopt},
        {"+9600", std::nullopt},
        {"9600 бит/с", std::nullopt},
        {"1e4", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1,200.5", std::nullopt},
        {"1 ,5", std::nullopt},
        {"1, 5", std::nullopt},
        {"nan", std::nullopt},
        {"inf", std::nullopt},
        {"0x10", std::nullopt},
        {"\xC2", std::nullopt},
    };
    const std::string longNumber(400, '9');
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parseBitRate(row.text), row.rate);
    }
    EXPECT_EQ(parseBitRate(longNumber), std::nullopt);
}

TEST(BitRate, StoredTextReadsBackAsTheSameRate) {
    for (const double rate : {9600.0, 1200.5, 0.001, 1e12, 1.0 / 3, 57600.25}) {
        SCOPED_TRACE(rate);
        const std::string text = bitRateText(rate);
        EXPECT_EQ(text.find('e'), std::string::npos) << text;
        EXPECT_EQ(parseBitRate(text), rate);
    }
    EXPECT_EQ(bitRateText(9600), "9600");
    EXPECT_EQ(bitRateText(1200.5), "1200.5");
}

}  // namespace
}  // namespace osc
