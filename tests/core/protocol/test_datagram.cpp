#include <gtest/gtest.h>

#include <vector>

#include "core/protocol/datagram.h"

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Commands, CarryTheIdentityAsReceived) {
    const DeviceId id{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    const auto start = startCommand(id);
    const auto stop = stopCommand(id);
    EXPECT_EQ(Bytes(start.begin(), start.end()),
              (Bytes{0x44, 0x44, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x36}));
    EXPECT_EQ(Bytes(stop.begin(), stop.end()),
              (Bytes{0x44, 0x44, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x37}));
    const auto none = startCommand(DeviceId{});
    EXPECT_EQ(Bytes(none.begin(), none.end()), (Bytes{0x44, 0x44, 0, 0, 0, 0, 0, 0, 0x36}));
    const auto request = identityRequest();
    EXPECT_EQ(Bytes(request.begin(), request.end()), (Bytes{'G', 'D'}));
}

TEST(ClassifyDatagram, ByFirstBytesAndLength) {
    struct Row {
        const char* name;
        Bytes data;
        DatagramKind kind;
    };
    const Row rows[] = {
        {"empty", {}, DatagramKind::Ignored},
        {"sample 08", {0x23, 0x08, 0, 0, 0, 0, 0, 0, 4, 0}, DatagramKind::Sample},
        {"sample 09", {0x23, 0x09, 0, 0, 0, 0, 0, 0, 4, 0}, DatagramKind::Sample},
        {"sample without pairs", {0x23, 0x08}, DatagramKind::Sample},
        {"sample byte 1 0A", {0x23, 0x0A, 0, 0, 0, 0, 0, 0, 4, 0}, DatagramKind::Ignored},
        {"lone hash", {0x23}, DatagramKind::Ignored},
        {"identity reply", {'G', 0, 1, 2, 3, 4, 5, 6}, DatagramKind::IdentityReply},
        {"identity reply one byte short", {'G', 0, 1, 2, 3, 4, 5}, DatagramKind::Ignored},
        {"returning identity request", {'G', 'D'}, DatagramKind::Ignored},
        {"returning start command", {0x44, 0x44, 0, 0, 0, 0, 0, 0, 0x36}, DatagramKind::Ignored},
        {"other first byte", {0x24, 0x08, 0, 0, 0, 0, 0, 0, 4, 0}, DatagramKind::Ignored},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(classifyDatagram(row.data), row.kind) << row.name;
    }
}

TEST(IdentityOf, TakesBytesTwoToSeven) {
    const Bytes reply{'G', 0xFF, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x99, 0x98};
    EXPECT_EQ(identityOf(reply), (DeviceId{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
}

TEST(DeviceIdText, UpperCaseHexJoinedByColons) {
    EXPECT_EQ(deviceIdText({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(deviceIdText({}), "00:00:00:00:00:00");
    EXPECT_EQ(deviceIdText({0xFF, 0xAB, 0x01, 0x10, 0x09, 0xF0}), "FF:AB:01:10:09:F0");
}

TEST(MemDiffers, FirstDifferenceAndEmptyCounts) {
    const std::uint8_t zero[6] = {};
    const std::uint8_t last[6] = {0, 0, 0, 0, 0, 1};
    EXPECT_EQ(MemDiffers(zero, zero, 6), 0);
    EXPECT_EQ(MemDiffers(last, zero, 6), 1);
    EXPECT_EQ(MemDiffers(last, zero, 5), 0);  // the difference lies beyond n
    EXPECT_EQ(MemDiffers(last, zero, 0), 0);
    EXPECT_EQ(MemDiffers(last, zero, -3), 0);
    EXPECT_TRUE(isZero(DeviceId{}));
    EXPECT_FALSE(isZero(DeviceId{0, 0, 0, 0, 0, 1}));
}

}  // namespace
}  // namespace osc
