#include "net/datagram_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace osc::net {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DatagramQueue, KeepsOrderAndSender) {
    DatagramQueue q;
    q.push(Bytes{1}, SenderAddress{{127, 0, 0, 2}, 971});
    q.push(Bytes{2, 2});
    Bytes out;
    SenderAddress from;
    ASSERT_TRUE(q.take(out, &from));
    EXPECT_EQ(out, Bytes{1});
    EXPECT_EQ(from.ip, (std::array<std::uint8_t, 4>{127, 0, 0, 2}));
    EXPECT_EQ(from.port, 971);
    ASSERT_TRUE(q.take(out));
    EXPECT_EQ(out, (Bytes{2, 2}));
    EXPECT_FALSE(q.take(out));
    EXPECT_EQ(q.bytesHeld(), 0u);
}

TEST(DatagramQueue, BoundsDropAndCount) {
    struct Row {
        const char* name;
        QueueLimits limits;
        std::size_t length;
        std::size_t expectedKept;
    };
    const std::size_t cost = 100 + DatagramQueue::kOverheadBytes;
    const std::vector<Row> rows{
        {"by count", {3, 1 << 20}, 100, 3},
        {"by bytes", {1000, 4 * cost}, 100, 4},
        {"by bytes, one short", {1000, 4 * cost - 1}, 100, 3},
        {"nothing fits", {1000, 10}, 100, 0},
    };
    for (const Row& row : rows) {
        DatagramQueue q(row.limits);
        std::size_t kept = 0;
        for (int i = 0; i < 10; ++i) {
            kept += q.push(Bytes(row.length, static_cast<std::uint8_t>(i))) ? 1 : 0;
        }
        EXPECT_EQ(kept, row.expectedKept) << row.name;
        EXPECT_EQ(q.size(), row.expectedKept) << row.name;
        EXPECT_EQ(q.droppedFull(), 10 - row.expectedKept) << row.name;
        EXPECT_LE(q.bytesHeld(), row.limits.maxBytes) << row.name;
        // Room again after taking one.
        Bytes out;
        if (q.take(out)) {
            EXPECT_EQ(out[0], 0) << row.name << ": the oldest comes first";
            EXPECT_TRUE(q.push(Bytes(row.length))) << row.name;
        }
    }
}

TEST(DatagramQueue, ReadyOnlyWhenJoiningAnEmptyQueue) {
    DatagramQueue q;
    int calls = 0;
    q.setReadyCallback([&] { ++calls; });
    q.push(Bytes{1});
    q.push(Bytes{2});
    EXPECT_EQ(calls, 1);
    Bytes out;
    q.take(out);
    q.push(Bytes{3});  // not empty: no call
    EXPECT_EQ(calls, 1);
    q.take(out);
    q.take(out);
    q.push(Bytes{4});
    EXPECT_EQ(calls, 2);
}

TEST(DatagramQueue, BatchKeepsOrderBoundAndCallsOnce) {
    DatagramQueue q(QueueLimits{3, 1 << 20});
    int calls = 0;
    q.setReadyCallback([&] { ++calls; });
    std::vector<Bytes> batch{Bytes{1}, Bytes{2}, Bytes{3}, Bytes{4}, Bytes{5}};
    const std::vector<SenderAddress> from(5, SenderAddress{{127, 0, 0, 9}, 5});
    EXPECT_EQ(q.pushBatch(batch, from), 3u);
    EXPECT_TRUE(batch.empty());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(q.droppedFull(), 2u);
    Bytes out;
    SenderAddress sender;
    for (std::uint8_t expected : {1, 2, 3}) {
        ASSERT_TRUE(q.take(out, &sender));
        EXPECT_EQ(out, Bytes{expected});
        EXPECT_EQ(sender.port, 5);
    }
    std::vector<Bytes> none;
    EXPECT_EQ(q.pushBatch(none, {}), 0u);
    EXPECT_EQ(calls, 1) << "an empty batch wakes nobody";
}

TEST(DatagramQueue, CallbackMayTakeFromTheQueue) {
    DatagramQueue q;
    Bytes seen;
    q.setReadyCallback([&] {
        Bytes out;
        while (q.take(out))
            seen.push_back(out[0]);
    });
    q.push(Bytes{7});
    q.push(Bytes{8});
    EXPECT_EQ(seen, (Bytes{7, 8}));
}

TEST(DatagramQueue, ReplacingTheCallbackWaitsForARunningCall) {
    DatagramQueue q;
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    q.setReadyCallback([&] {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    });
    std::thread producer([&] { q.push(Bytes{1}); });
    while (!started) {
        std::this_thread::yield();
    }
    q.setReadyCallback({});
    EXPECT_TRUE(finished) << "the old callback was still running";
    producer.join();
}

TEST(DatagramQueue, ProducerAndConsumerThreadsLoseNothing) {
    DatagramQueue q;
    constexpr int kCount = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            q.push(Bytes{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)});
        }
    });
    int next = 0;
    Bytes out;
    while (next < kCount) {
        if (q.take(out)) {
            ASSERT_EQ(out[0] | (out[1] << 8), next & 0xFFFF);
            ++next;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_EQ(q.droppedFull(), 0u);
}

}  // namespace
}  // namespace osc::net
