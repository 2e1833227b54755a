#include "sim/hdlc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace osc::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Bits = std::vector<std::uint8_t>;

Bits between(const Bits& frame) {
    return Bits(frame.begin() + 8, frame.end() - 8);
}

TEST(FrameCheck, KnownValues) {
    const std::string check = "123456789";
    EXPECT_EQ(frameCheck(Bytes(check.begin(), check.end())), 0x906E);
    EXPECT_EQ(frameCheck(Bytes{}), 0x0000);
}

struct RoundTripCase {
    const char* name;
    Bytes payload;
};

class FrameRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(FrameRoundTrip, BitsBetweenFlagsGiveThePayloadBack) {
    const Bits bits = frameBits(GetParam().payload);
    const Bits flag{0, 1, 1, 1, 1, 1, 1, 0};
    ASSERT_GE(bits.size(), 16u + 16u);
    EXPECT_EQ(Bits(bits.begin(), bits.begin() + 8), flag);
    EXPECT_EQ(Bits(bits.end() - 8, bits.end()), flag);

    // No six 1s between the flags, and every run of five is followed by a stuffed 0.
    const Bits inner = between(bits);
    int ones = 0;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        ones = inner[i] != 0 ? ones + 1 : 0;
        ASSERT_LE(ones, 5) << "at bit " << i;
        if (ones == 5) {
            ASSERT_LT(i + 1, inner.size());
            EXPECT_EQ(inner[i + 1], 0) << "no stuffed zero after bit " << i;
        }
    }
    const auto back = unframeBits(inner);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, GetParam().payload);

    // The same frame inside idle line time is found.
    Bits line(13, 1);
    line.insert(line.end(), bits.begin(), bits.end());
    line.insert(line.end(), 20, 1);
    const auto frames = findFrames(line);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], GetParam().payload);
}

INSTANTIATE_TEST_SUITE_P(Payloads, FrameRoundTrip,
                         testing::Values(RoundTripCase{"Empty", {}},
                                         RoundTripCase{"OneByte", {0x01}},
                                         RoundTripCase{"AllOnes", {0xFF, 0xFF, 0xFF}},
                                         RoundTripCase{"FlagBytes", {0x7E, 0x7E}},
                                         RoundTripCase{"FiveOnesAtByteEnd", {0xF8, 0x1F, 0x00}},
                                         RoundTripCase{"Text", {'H', 'e', 'l', 'l', 'o'}}),
                         [](const testing::TestParamInfo<RoundTripCase>& info) {
                             return info.param.name;
                         });

TEST(FrameBits, LeastSignificantBitFirst) {
    // 0x01 goes out as 1 0 0 0 0 0 0 0.
    const Bits bits = frameBits(Bytes{0x01});
    EXPECT_EQ(Bits(bits.begin() + 8, bits.begin() + 16), (Bits{1, 0, 0, 0, 0, 0, 0, 0}));
    // 0xFF: five 1s, a stuffed 0, three 1s.
    const Bits ff = frameBits(Bytes{0xFF});
    EXPECT_EQ(Bits(ff.begin() + 8, ff.begin() + 17), (Bits{1, 1, 1, 1, 1, 0, 1, 1, 1}));
}

TEST(UnframeBits, RejectsDamagedFrames) {
    const Bits good = between(frameBits(Bytes{0x12, 0x34, 0x56}));
    struct Row {
        const char* name;
        Bits bits;
    };
    Bits flipped = good;
    flipped[3] ^= 1;
    Bits shortByOne(good.begin(), good.end() - 1);
    Bits sixOnes = good;
    sixOnes.insert(sixOnes.begin() + 2, {1, 1, 1, 1, 1, 1});
    const std::vector<Row> rows{
        {"flipped bit", flipped}, {"not whole bytes", shortByOne},
        {"six ones", sixOnes},    {"shorter than the check", Bits(8, 0)},
        {"nothing", {}},
    };
    for (const Row& row : rows) {
        EXPECT_FALSE(unframeBits(row.bits).has_value()) << row.name;
    }
}

TEST(FindFrames, SeveralFramesAndNoiseBetween) {
    Bits line(10, 1);
    const Bits a = frameBits(Bytes{0xA1});
    const Bits b = frameBits(Bytes{0xB2, 0xB3});
    line.insert(line.end(), a.begin(), a.end());
    line.insert(line.end(), {1, 1, 0, 1});  // noise, not a frame
    line.insert(line.end(), b.begin(), b.end());
    Bits broken = frameBits(Bytes{0xC4});
    broken[12] ^= 1;
    line.insert(line.end(), broken.begin(), broken.end());
    const auto frames = findFrames(line);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], Bytes{0xA1});
    EXPECT_EQ(frames[1], (Bytes{0xB2, 0xB3}));
    EXPECT_TRUE(findFrames(Bits{0, 1, 1}).empty());
}

}  // namespace
}  // namespace osc::sim
