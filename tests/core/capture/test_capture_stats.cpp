#include "core/capture/capture_stats.h"

#include <gtest/gtest.h>

#include <vector>

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A sample datagram "#", 0x08, six identity bytes, then the pairs (status, time).
Bytes sample(std::initializer_list<std::pair<int, int>> pairs) {
    Bytes d{'#', 0x08, 1, 2, 3, 4, 5, 6};
    for (const auto& [s, t] : pairs) {
        d.push_back(static_cast<std::uint8_t>(s));
        d.push_back(static_cast<std::uint8_t>(t));
    }
    return d;
}

void feed(CaptureStats& stats, const Bytes& d) {
    stats.datagram(d, classifyDatagram(d));
}

// The boundary between two sample datagrams: the last pair of the first against the first
// pair of the second.
TEST(CaptureStats, StreamBreaksAtDatagramBoundaries) {
    struct Row {
        const char* name;
        Bytes first, second;
        std::uint64_t breaks;
    };
    const Row rows[] = {
        {"next period opens with the strobe edge", sample({{0x04, 0}, {0x04, 128}}),
         sample({{0x00, 0}, {0x40, 128}}), 0},
        {"same period goes on later", sample({{0x04, 0}, {0x04, 100}}),
         sample({{0x44, 100}, {0x04, 200}}), 0},
        {"time goes back within the period", sample({{0x04, 0}, {0x04, 200}}), sample({{0x44, 17}}),
         1},
        {"period start without a strobe edge", sample({{0x04, 0}, {0x04, 128}}),
         sample({{0x04, 0}, {0x04, 128}}), 1},
        {"two pairs at time 0 with one strobe: not told apart", sample({{0x04, 0}}),
         sample({{0x44, 0}}), 0},
        {"strobe edge away from time 0 is no period, time back breaks", sample({{0x04, 128}}),
         sample({{0x00, 5}}), 1},
        {"a datagram without pairs is no boundary", sample({{0x04, 0}, {0x04, 200}}), sample({}),
         0},
        {"an odd last byte belongs to no pair",
         [] {
             Bytes d = sample({{0x04, 0}, {0x04, 200}});
             d.push_back(0);
             return d;
         }(),
         sample({{0x00, 0}}), 0},
        {"an identity reply between them is no boundary", sample({{0x04, 0}, {0x04, 200}}),
         Bytes{'G', 0, 1, 2, 3, 4, 5, 6}, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CaptureStats stats;
        stats.start(0);
        feed(stats, r.first);
        feed(stats, r.second);
        EXPECT_EQ(stats.streamBreaks(), r.breaks);
        EXPECT_EQ(stats.datagrams(), 2u);
        EXPECT_EQ(stats.bytes(), r.first.size() + r.second.size());
    }
}

// A stream like a device's: each bit period a pair (strobe toggled, 0) and a pair (data, 128),
// cut into datagrams of `pairs` pairs.
std::vector<Bytes> deviceStream(int datagrams, int pairs) {
    std::vector<Bytes> out;
    std::uint64_t k = 0;
    for (int d = 0; d < datagrams; ++d) {
        Bytes bytes = sample({});
        for (int i = 0; i < pairs; ++i, ++k) {
            const int strobe = (k / 2) % 2 == 0 ? 0x04 : 0;
            const int data = (k * 7919 / 3) % 2 ? 0x40 : 0;
            bytes.push_back(static_cast<std::uint8_t>(strobe | data));
            bytes.push_back(k % 2 == 0 ? 0 : 128);
        }
        out.push_back(std::move(bytes));
    }
    return out;
}

// Property over whole streams: nothing lost gives no break, whatever the datagram size. A lost
// datagram of whole bit periods shows exactly when their number is odd (the next period then
// starts without a strobe edge); an even number keeps the strobe's rhythm and cannot be seen.
TEST(CaptureStats, LostDatagramsInAStream) {
    for (const int pairs : {1, 2, 3, 6, 254, 255, 256}) {
        SCOPED_TRACE(pairs);
        const std::vector<Bytes> stream = deviceStream(40, pairs);
        CaptureStats whole;
        whole.start(0);
        for (const Bytes& d : stream) {
            feed(whole, d);
        }
        EXPECT_EQ(whole.streamBreaks(), 0u);
        EXPECT_EQ(whole.sampleDatagrams(), 40u);

        for (std::size_t lost = 1; lost + 1 < stream.size(); lost += 3) {
            CaptureStats stats;
            stats.start(0);
            for (std::size_t i = 0; i < stream.size(); ++i) {
                if (i != lost) {
                    feed(stats, stream[i]);
                }
            }
            if (pairs % 2 == 0) {
                EXPECT_EQ(stats.streamBreaks(), (pairs / 2) % 2 == 1 ? 1u : 0u) << lost;
            } else {
                EXPECT_LE(stats.streamBreaks(), 1u) << lost;
            }
        }
    }
    // Two datagrams that swap places: seen with 127 periods a datagram.
    const std::vector<Bytes> stream = deviceStream(4, 254);
    CaptureStats stats;
    stats.start(0);
    for (const std::size_t i : {0, 2, 1, 3}) {
        feed(stats, stream[i]);
    }
    EXPECT_GE(stats.streamBreaks(), 1u);
}

TEST(CaptureStats, TimeCountsAndReceiverDrops) {
    CaptureStats stats;
    EXPECT_FALSE(stats.started());
    EXPECT_EQ(stats.elapsedMs(5000), 0);
    feed(stats, sample({{0x04, 0}}));  // before any start: nothing to count for
    EXPECT_EQ(stats.datagrams(), 0u);
    stats.start(1000, 7);  // the endpoint had dropped 7 before this capture
    EXPECT_TRUE(stats.running());
    EXPECT_EQ(stats.elapsedMs(3500), 2500);
    stats.setReceiverDrops(7);
    EXPECT_EQ(stats.receiverDrops(), 0u);
    stats.setReceiverDrops(10);
    feed(stats, sample({{0x04, 0}, {0x04, 200}}));
    feed(stats, sample({{0x04, 10}}));
    EXPECT_EQ(stats.receiverDrops(), 3u);
    EXPECT_EQ(stats.lost(), 4u);
    stats.stop(4000);
    stats.stop(9000);  // a second stop keeps the first end
    EXPECT_FALSE(stats.running());
    EXPECT_EQ(stats.elapsedMs(99000), 3000);
    feed(stats, Bytes{'X'});  // still counted after the stop
    EXPECT_EQ(stats.datagrams(), 3u);
    stats.setReceiverDrops(2);  // a new endpoint counts from 0 again
    EXPECT_EQ(stats.receiverDrops(), 2u);
    stats.start(100);
    EXPECT_EQ(stats.datagrams(), 0u);
    EXPECT_EQ(stats.lost(), 0u);
    EXPECT_EQ(stats.elapsedMs(50), 0);  // a clock behind the start shows no time
}

TEST(CaptureStats, Texts) {
    EXPECT_EQ(elapsedText(-5), "0:00:00");
    EXPECT_EQ(elapsedText(7999), "0:00:07");
    EXPECT_EQ(elapsedText(3723000), "1:02:03");
    EXPECT_EQ(elapsedText(27LL * 3600 * 1000), "27:00:00");
    EXPECT_EQ(groupedCount(0), "0");
    EXPECT_EQ(groupedCount(999), "999");
    EXPECT_EQ(groupedCount(1000),
              "1\xC2\xA0"
              "000");
    EXPECT_EQ(groupedCount(1234567),
              "1\xC2\xA0"
              "234\xC2\xA0"
              "567");
    EXPECT_EQ(byteCountText(0), "0 Б");
    EXPECT_EQ(byteCountText(1023), "1023 Б");
    EXPECT_EQ(byteCountText(1024), "1 КБ");
    EXPECT_EQ(byteCountText(1536), "1,5 КБ");
    EXPECT_EQ(byteCountText(1024 * 1024 - 1), "1023 КБ");
    EXPECT_EQ(byteCountText(99 * 1024 + 1000), "99,9 КБ");
    EXPECT_EQ(byteCountText(12ULL << 20), "12 МБ");
    EXPECT_EQ(byteCountText(~0ULL), "16 ЭБ");  // 2^64 - 1 is 2^64 as a double
}

}  // namespace
}  // namespace osc
