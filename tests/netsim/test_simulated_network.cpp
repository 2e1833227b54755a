#include "netsim/simulated_network.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "core/protocol/datagram.h"

namespace osc::net {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Consumer {
  public:
    explicit Consumer(DatagramEndpoint& endpoint) : endpoint_(endpoint) {
        endpoint_.setReadyCallback([this] {
            std::lock_guard lock(mutex_);
            ready_ = true;
            cv_.notify_all();
        });
    }
    ~Consumer() { endpoint_.setReadyCallback({}); }
    Consumer(const Consumer&) = delete;
    Consumer& operator=(const Consumer&) = delete;

    // Waits up to `timeout` for the next datagram.
    std::optional<Bytes> next(std::chrono::milliseconds timeout = 2000ms) {
        const auto until = Clock::now() + timeout;
        for (;;) {
            Bytes out;
            if (endpoint_.takeReceived(out)) {
                return out;
            }
            std::unique_lock lock(mutex_);
            if (!cv_.wait_until(lock, until, [this] { return ready_; })) {
                return std::nullopt;
            }
            ready_ = false;
        }
    }

  private:
    DatagramEndpoint& endpoint_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool ready_ = false;
};

SimulatedNetworkOptions twoDevices(int bitRate = 9600) {
    SimulatedNetworkOptions o;
    sim::DeviceOptions fast;
    fast.bitRate = bitRate;
    o.devices.push_back({"10.0.0.5", fast});
    sim::DeviceOptions named = fast;
    named.identity = DeviceId{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    o.devices.push_back({"RTU-North", named});
    return o;
}

TEST(SimulatedNetwork, InactiveUntilActivatedOrFirstSend) {
    SimulatedNetwork net(twoDevices());
    EXPECT_FALSE(net.active());
    net.send("10.0.0.5", identityRequest());
    EXPECT_TRUE(net.active());
}

TEST(SimulatedNetwork, EachDeviceAnswersWithItsIdentity) {
    SimulatedNetwork net(twoDevices());
    Consumer consumer(net);
    struct Row {
        const char* address;
        DeviceId expected;
    };
    for (const Row& row : {Row{"10.0.0.5", {0x02, 0x00, 10, 0, 0, 5}},
                           Row{"rtu-north", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}},
                           Row{"RTU-NORTH", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}}}) {
        net.send(row.address, identityRequest());
        const auto reply = consumer.next();
        ASSERT_TRUE(reply) << row.address;
        ASSERT_EQ(classifyDatagram(*reply), DatagramKind::IdentityReply) << row.address;
        EXPECT_EQ(identityOf(*reply), row.expected) << row.address;
        EXPECT_EQ(net.deviceIdentity(row.address), row.expected);
    }
    EXPECT_FALSE(net.deviceIdentity("10.0.0.6"));
}

TEST(SimulatedNetwork, AddressesWithoutADevice) {
    SimulatedNetwork net(twoDevices());
    Consumer consumer(net);
    // A dotted address without a device: the datagram is lost.
    net.send("10.0.0.99", identityRequest());
    EXPECT_FALSE(consumer.next(100ms));
    // Our own address, and the empty name: it comes back, as on a real network.
    for (const std::string name : {"localhost", ""}) {
        net.send(name, identityRequest());
        const auto back = consumer.next();
        ASSERT_TRUE(back) << "'" << name << "'";
        EXPECT_EQ(*back, (Bytes{'G', 'D'}));
    }
    // A name that no device has fails as a lookup would.
    for (const std::string name : {"nobody.invalid", "NOBODY"}) {
        try {
            net.send(name, identityRequest());
            FAIL() << "sent to '" << name << "'";
        } catch (const EndpointError& e) {
            EXPECT_NE(std::string(e.what()).find("Cannot resolve host name '" + name + "'"),
                      std::string::npos);
        }
    }
}

// Waits until the condition holds; false when it still does not after 10 s (a hang, not a
// slow machine).
template <typename Condition>
bool eventually(Condition condition) {
    const auto until = Clock::now() + 10s;
    while (!condition()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Stops the device and takes what it sent before the stop.
void stopAndDrain(SimulatedNetwork& net, const std::string& address) {
    net.send(address, stopCommand(DeviceId{}));
    ASSERT_TRUE(eventually([&] { return !net.deviceStreaming(address); }));
    Bytes rest;
    while (net.takeReceived(rest)) {
    }
}

TEST(SimulatedNetwork, StreamIsPacedAtTheBitRate) {
    // 9600 bit/s, 256 pairs a datagram: 75 datagrams a second, the first at once.
    const SimulatedNetworkOptions options = twoDevices(9600);
    const sim::SimulatedDevice pace("10.0.0.5", options.devices[0].options);
    SimulatedNetwork net(options);
    Consumer consumer(net);
    const auto begin = Clock::now();
    net.send("10.0.0.5", startCommand(DeviceId{}));
    constexpr int kDatagrams = 10;
    for (int i = 0; i < kDatagrams; ++i) {
        const auto d = consumer.next();
        ASSERT_TRUE(d) << i;
        ASSERT_EQ(classifyDatagram(*d), DatagramKind::Sample);
    }
    // The tenth is due 9/75 s after the start and a busy machine only delivers it later; an
    // unpaced stream would have delivered all ten at once.
    EXPECT_GE(Clock::now() - begin, pace.dueTime(kDatagrams - 1));
    EXPECT_TRUE(net.deviceStreaming("10.0.0.5"));
    stopAndDrain(net, "10.0.0.5");
    EXPECT_FALSE(consumer.next(100ms));
}

TEST(SimulatedNetwork, TwoDevicesStreamTheirOwnIdentity) {
    SimulatedNetwork net(twoDevices(64000));
    Consumer consumer(net);
    net.send("10.0.0.5", startCommand(DeviceId{0x02, 0x00, 10, 0, 0, 5}));
    net.send("RTU-North", startCommand(DeviceId{}));
    // Both streams run side by side; a held-up thread may let one catch up in a burst first.
    int fromFirst = 0;
    int fromSecond = 0;
    int total = 0;
    while ((fromFirst <= 5 || fromSecond <= 5) && total < 5000) {
        const auto d = consumer.next();
        ASSERT_TRUE(d);
        const DeviceId id{(*d)[2], (*d)[3], (*d)[4], (*d)[5], (*d)[6], (*d)[7]};
        fromFirst += id == DeviceId{0x02, 0x00, 10, 0, 0, 5} ? 1 : 0;
        fromSecond += id == DeviceId{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E} ? 1 : 0;
        ++total;
    }
    EXPECT_EQ(fromFirst + fromSecond, total);
    EXPECT_GT(fromFirst, 5);
    EXPECT_GT(fromSecond, 5);
    EXPECT_EQ(net.stats().droppedQueueFull, 0u);
}

TEST(SimulatedNetwork, QueueBoundHoldsWhileTheConsumerSleeps) {
    SimulatedNetworkOptions o = twoDevices(1000000);  // ~7800 datagrams a second
    o.queue.maxDatagrams = 50;
    SimulatedNetwork net(o);
    net.send("10.0.0.5", startCommand(DeviceId{}));
    ASSERT_TRUE(eventually([&] { return net.stats().droppedQueueFull > 0; }));
    net.send("10.0.0.5", stopCommand(DeviceId{}));
    ASSERT_TRUE(eventually([&] { return !net.deviceStreaming("10.0.0.5"); }));
    const EndpointStats s = net.stats();
    EXPECT_EQ(s.received, 50u);
    EXPECT_GT(s.droppedQueueFull, 0u);
}

TEST(SimulatedNetwork, DestructionWakesTheNetwork) {
    // At 1 bit/s and 4092 pairs a datagram the second datagram is due after 2046 s, and an idle
    // network waits for nothing but a command: only the destructor's wake-up ends either wait
    // (a destructor that failed to wake the thread would hang here until the test times out).
    for (const bool streaming : {true, false}) {
        SCOPED_TRACE(streaming);
        SimulatedNetworkOptions o = twoDevices(1);
        o.devices[0].options.pairsPerDatagram = 4092;
        auto net = std::make_unique<SimulatedNetwork>(o);
        {
            Consumer consumer(*net);
            if (streaming) {
                net->send("10.0.0.5", startCommand(DeviceId{}));
            } else {
                net->send("10.0.0.5", identityRequest());
            }
            ASSERT_TRUE(consumer.next());  // the first datagram, or the identity reply
        }
        net.reset();
    }
}

}  // namespace
}  // namespace osc::net
