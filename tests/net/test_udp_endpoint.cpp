#include "net/udp_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/protocol/datagram.h"
#include "netsim/udp_device_server.h"

namespace osc::net {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Collects what an endpoint receives, as the window does: the ready callback wakes the
// consumer, which drains the queue on its own thread.
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
        const auto until = std::chrono::steady_clock::now() + timeout;
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

UdpEndpointOptions loopback(const char* address, std::uint16_t port = 0,
                            std::uint16_t devicePort = 971) {
    UdpEndpointOptions o;
    o.bindAddress = address;
    o.port = port;
    o.devicePort = devicePort;
    return o;
}

// A plain socket on a loopback address, to send arbitrary datagrams from.
class RawSender {
  public:
    explicit RawSender(const char* address) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &sin.sin_addr);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
    }
    ~RawSender() { ::close(fd_); }
    std::uint16_t port() const {
        sockaddr_in sin{};
        socklen_t len = sizeof sin;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len);
        return ntohs(sin.sin_port);
    }
    void send(const char* address, std::uint16_t port, const Bytes& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &to.sin_addr);
        ASSERT_EQ(::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                           sizeof to),
                  static_cast<ssize_t>(bytes.size()));
    }

  private:
    int fd_ = -1;
};

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return b;
}

TEST(UdpEndpoint, InactiveUntilActivatedOrFirstSend) {
    UdpEndpoint a(loopback("127.0.0.2"));
    EXPECT_FALSE(a.active());
    a.activate();
    EXPECT_TRUE(a.active());
    EXPECT_NE(a.localPort(), 0);
    a.activate();  // again: nothing happens
    EXPECT_TRUE(a.active());

    UdpEndpoint b(loopback("127.0.0.3", 0, a.localPort()));
    EXPECT_FALSE(b.active());
    b.send("127.0.0.2", Bytes{'G', 'D'});
    EXPECT_TRUE(b.active());
    Consumer consumer(a);
    const auto got = consumer.next();
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, (Bytes{'G', 'D'}));
}

TEST(UdpEndpoint, ReceiveBufferIsAtLeastWhatWasAsked) {
    UdpEndpoint a(loopback("127.0.0.2"));
    a.activate();
    // Linux reports twice the usable size; without privilege the grant is capped.
    if (!a.receiveBufferForced()) {
        GTEST_SKIP() << "SO_RCVBUFFORCE needs CAP_NET_ADMIN; granted " << a.receiveBufferObtained();
    }
    EXPECT_GE(a.receiveBufferObtained(), a.options().receiveBufferBytes);
}

TEST(UdpEndpoint, DatagramsWholeInOrderAndBadOnesCounted) {
    UdpEndpoint a(loopback("127.0.0.2"));
    a.activate();
    Consumer consumer(a);
    RawSender sender("127.0.0.4");
    struct Row {
        const char* name;
        std::size_t length;
        bool delivered;
    };
    const std::vector<Row> rows{
        {"one byte", 1, true},         {"empty", 0, false},
        {"two bytes", 2, true},        {"largest", 8192, true},
        {"one too long", 8193, false}, {"8191", 8191, true},
        {"jumbo", 65000, false},       {"after the bad ones", 9, true},
    };
    std::uint8_t seed = 1;
    for (const Row& row : rows) {
        sender.send("127.0.0.2", a.localPort(), pattern(row.length, seed++));
    }
    seed = 1;
    for (const Row& row : rows) {
        const Bytes expected = pattern(row.length, seed++);
        if (!row.delivered) {
            continue;
        }
        const auto got = consumer.next();
        ASSERT_TRUE(got) << row.name;
        EXPECT_EQ(got->size(), row.length) << row.name;
        EXPECT_TRUE(*got == expected) << row.name;
    }
    EXPECT_FALSE(consumer.next(50ms)) << "nothing else arrives";
    const EndpointStats s = a.stats();
    EXPECT_EQ(s.received, 5u);
    EXPECT_EQ(s.droppedEmpty, 1u);
    EXPECT_EQ(s.droppedOversize, 2u);
    EXPECT_EQ(s.droppedQueueFull, 0u);
}

TEST(UdpEndpoint, FullQueueDropsAndCountsThenRecovers) {
    UdpEndpointOptions o = loopback("127.0.0.2");
    o.queue.maxDatagrams = 4;
    UdpEndpoint a(o);
    a.activate();
    RawSender sender("127.0.0.4");
    for (int i = 0; i < 10; ++i) {
        sender.send("127.0.0.2", a.localPort(), Bytes{static_cast<std::uint8_t>(i)});
    }
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (a.stats().received + a.stats().droppedQueueFull < 10 &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(a.stats().received, 4u);
    EXPECT_EQ(a.stats().droppedQueueFull, 6u);
    Bytes out;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(a.takeReceived(out));
        EXPECT_EQ(out, Bytes{static_cast<std::uint8_t>(i)});
    }
    Consumer consumer(a);
    sender.send("127.0.0.2", a.localPort(), Bytes{42});
    EXPECT_EQ(consumer.next(), Bytes{42});
}

// Each datagram comes with its sender; the kernel's drops on a full receive buffer are counted,
// also across a new bind address, which closes the endpoint until its next activation.
TEST(UdpEndpoint, SendersKernelDropsAndANewBindAddress) {
    UdpEndpointOptions o = loopback("127.0.0.2", 0, 5000);
    o.receiveBufferBytes = 1;          // the kernel's least
    o.gather = std::chrono::hours(1);  // after its first drain the thread looks away
    UdpEndpoint a(o);
    a.activate();
    RawSender sender("127.0.0.4");
    {
        Consumer consumer(a);
        sender.send("127.0.0.2", a.localPort(), Bytes{1});
        std::optional<SenderAddress> from;
        Bytes out;
        for (int i = 0; i < 2000 && !a.takeReceivedFrom(out, from); ++i) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_EQ(out, Bytes{1});
        EXPECT_EQ(from, (SenderAddress{{127, 0, 0, 4}, sender.port()}));
    }
    // Nobody reads now: all but what the least buffer holds are dropped as they are sent.
    for (int i = 0; i < 200; ++i) {
        sender.send("127.0.0.2", a.localPort(), pattern(1000, static_cast<std::uint8_t>(i)));
    }
    const std::uint64_t drops = a.stats().droppedByKernel;
    EXPECT_GE(drops, 190u);
    EXPECT_LE(drops, 200u);

    EXPECT_EQ(a.deviceSenders("127.0.0.3"),
              (std::vector<SenderAddress>{{{127, 0, 0, 3}, 5000}, {{127, 0, 0, 1}, 5000}}));
    EXPECT_EQ(a.deviceSenders("LOCALHOST"), (std::vector<SenderAddress>{{{127, 0, 0, 1}, 5000}}));
    EXPECT_EQ(a.deviceSenders("10.1.2.3"), (std::vector<SenderAddress>{{{10, 1, 2, 3}, 5000}}));
    EXPECT_THROW(a.deviceSenders("device-7.invalid"), EndpointError);

    a.setBindAddress("127.0.0.5");
    EXPECT_FALSE(a.active());
    EXPECT_EQ(a.stats().droppedByKernel, drops) << "the closed socket's drops stay counted";
    a.activate();
    Consumer consumer(a);
    sender.send("127.0.0.5", a.localPort(), Bytes{2});
    EXPECT_EQ(consumer.next(), Bytes{2});
}

TEST(UdpEndpoint, UnresolvableNameFailsTheSend) {
    UdpEndpoint a(loopback("127.0.0.2"));
    try {
        a.send("device-7.invalid", Bytes{'G', 'D'});
        FAIL() << "sent";
    } catch (const EndpointError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot resolve host name 'device-7.invalid'"),
                  std::string::npos)
            << e.what();
    }
}

TEST(UdpEndpoint, BusyPortFailsActivationWithTheReason) {
    UdpEndpoint a(loopback("127.0.0.2"));
    a.activate();
    UdpEndpoint b(loopback("127.0.0.2", a.localPort()));
    try {
        b.activate();
        FAIL() << "bound twice";
    } catch (const EndpointError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("Cannot bind UDP port " + std::to_string(a.localPort()) +
                            " on 127.0.0.2: Address already in use"),
                  std::string::npos)
            << text;
    }
    EXPECT_FALSE(b.active());
    // A send through the unbound endpoint fails the same way.
    EXPECT_THROW(b.send("127.0.0.2", Bytes{1}), EndpointError);
}

TEST(UdpEndpoint, PrivilegedPortNeedsPrivilege) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root: every port can be bound";
    }
    UdpEndpoint a(loopback("127.0.0.2", 971));
    try {
        a.activate();
        GTEST_SKIP() << "port 971 could be bound (capability or lowered unprivileged port start)";
    } catch (const EndpointError& e) {
        EXPECT_NE(std::string(e.what()).find("Permission denied"), std::string::npos) << e.what();
    }
}

TEST(UdpEndpoint, DestructionWakesTheReceivingThread) {
    // The thread waits in poll without a timeout, and after a drain it pauses to let a stream
    // gather, here for an hour: only the destructor's wake-up ends either wait, and a destructor
    // that failed to wake it would hang here until the test times out.
    for (const auto gather : {std::chrono::microseconds{0}, std::chrono::microseconds{3600s}}) {
        UdpEndpointOptions o = loopback("127.0.0.2");
        o.gather = gather;
        auto a = std::make_unique<UdpEndpoint>(o);
        a->activate();
        {
            RawSender sender("127.0.0.4");
            Consumer consumer(*a);
            sender.send("127.0.0.2", a->localPort(), Bytes{1});
            ASSERT_TRUE(consumer.next());  // the thread waits again after one datagram
        }
        a.reset();
    }
}

// The endpoint against a simulated device, each on its own loopback address, sharing a port
// number as the window and the device share 971.
class EndpointAndDevice : public testing::Test {
  protected:
    void SetUp() override {
        for (int attempt = 0; attempt < 5 && !server; ++attempt) {
            endpoint = std::make_unique<UdpEndpoint>(loopback("127.0.0.2"));
            endpoint->activate();
            const std::uint16_t port = endpoint->localPort();
            endpoint = std::make_unique<UdpEndpoint>(loopback("127.0.0.2", port, port));
            DeviceServerOptions o;
            o.endpoint = loopback("127.0.0.3", port);
            o.device.bitRate = 64000;  // 500 datagrams a second
            try {
                endpoint->activate();
                server = std::make_unique<UdpDeviceServer>(o);
            } catch (const EndpointError&) {
                endpoint.reset();
            }
        }
        ASSERT_TRUE(server);
        server->start();
        consumer = std::make_unique<Consumer>(*endpoint);
    }

    std::unique_ptr<UdpEndpoint> endpoint;
    std::unique_ptr<UdpDeviceServer> server;
    std::unique_ptr<Consumer> consumer;
};

TEST_F(EndpointAndDevice, IdentityStartStreamStop) {
    endpoint->send("127.0.0.3", identityRequest());
    const auto reply = consumer->next();
    ASSERT_TRUE(reply);
    ASSERT_EQ(classifyDatagram(*reply), DatagramKind::IdentityReply);
    const DeviceId id = identityOf(*reply);
    EXPECT_EQ(id, (DeviceId{0x02, 0x00, 127, 0, 0, 3}));

    endpoint->send("127.0.0.3", startCommand(id));
    int strobeEdges = 0;
    int lastStrobe = -1;
    for (int i = 0; i < 20; ++i) {
        const auto d = consumer->next();
        ASSERT_TRUE(d) << "sample datagram " << i;
        ASSERT_EQ(classifyDatagram(*d), DatagramKind::Sample);
        ASSERT_EQ(d->size(), 8u + 2 * 256);
        for (std::size_t k = 8; k + 1 < d->size(); k += 2) {
            const int strobe = (*d)[k] & 0x04;
            if ((*d)[k + 1] == 0) {
                EXPECT_NE(strobe, lastStrobe) << "a period was lost or repeated";
                ++strobeEdges;
            }
            lastStrobe = strobe;
        }
    }
    EXPECT_EQ(strobeEdges, 20 * 128);

    endpoint->send("127.0.0.3", stopCommand(id));
    // What was in flight arrives; then the stream has ended.
    while (consumer->next(100ms)) {
    }
    EXPECT_FALSE(consumer->next(100ms));
    EXPECT_EQ(server->sendErrors(), 0u);
}

TEST_F(EndpointAndDevice, CommandsForAnotherIdentityAreIgnored) {
    DeviceId other{1, 2, 3, 4, 5, 6};
    endpoint->send("127.0.0.3", startCommand(other));
    EXPECT_FALSE(consumer->next(150ms));
    endpoint->send("127.0.0.3", startCommand(DeviceId{}));  // zero identity: accepted
    EXPECT_TRUE(consumer->next());
    endpoint->send("127.0.0.3", stopCommand(DeviceId{}));
}

}  // namespace
}  // namespace osc::net
