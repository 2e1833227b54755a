// Receiving on loopback: the endpoint (socket → receive thread → queue → consumer) against a
// bare recv loop on a plain socket, in the same run, with the same sender; the queue alone;
// the simulated device's datagram generator; how long activating and destroying an endpoint
// takes (its thread is woken, not waited for).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "net/datagram_queue.h"
#include "net/udp_endpoint.h"
#include "sim/sim_device.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRound = 2000;  // datagrams per round: well within the receive buffer
constexpr std::size_t kLength = 1024;

sockaddr_in loopback(const char* ip, std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &sin.sin_addr);
    return sin;
}

int boundSocket(const char* ip, std::uint16_t port, int rcvbuf = 8 << 20) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf) != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    }
    const sockaddr_in sin = loopback(ip, port);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
    return fd;
}

std::uint16_t portOf(int fd) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    return ntohs(sin.sin_port);
}

// Sends one round of numbered 1 KB datagrams with sendmmsg.
void sendRound(int fd, const sockaddr_in& to) {
    static std::vector<std::uint8_t> payload(kLength * 64, 0x5A);
    std::array<iovec, 64> iov{};
    std::array<mmsghdr, 64> msgs{};
    for (int sent = 0; sent < kRound;) {
        const int n = std::min(64, kRound - sent);
        for (int i = 0; i < n; ++i) {
            std::uint8_t* p = payload.data() + static_cast<std::size_t>(i) * kLength;
            const int seq = sent + i;
            std::memcpy(p, &seq, sizeof seq);
            iov[i] = {p, kLength};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&to);
            msgs[i].msg_hdr.msg_namelen = sizeof to;
        }
        const int r = ::sendmmsg(fd, msgs.data(), static_cast<unsigned>(n), 0);
        if (r > 0)
            sent += r;
    }
}

// One round through a bare socket: the consumer thread itself calls recv.
double bareRound(int sender, int receiver, const sockaddr_in& to) {
    std::vector<std::uint8_t> buffer(65536);
    const auto begin = Clock::now();
    std::thread s([&] { sendRound(sender, to); });
    int got = 0;
    while (got < kRound) {
        const ssize_t n = ::recv(receiver, buffer.data(), buffer.size(), 0);
        if (n > 0) {
            std::vector<std::uint8_t> copy(buffer.begin(), buffer.begin() + n);  // as delivered
            benchmark::DoNotOptimize(copy.data());
            ++got;
        }
    }
    s.join();
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

// One round through the endpoint: the consumer waits for the ready callback and drains.
double endpointRound(int sender, osc::net::UdpEndpoint& endpoint, const sockaddr_in& to,
                     std::mutex& m, std::condition_variable& cv, bool& ready) {
    const auto begin = Clock::now();
    std::thread s([&] { sendRound(sender, to); });
    int got = 0;
    std::vector<std::uint8_t> out;
    while (got < kRound) {
        while (endpoint.takeReceived(out)) {
            benchmark::DoNotOptimize(out.data());
            ++got;
        }
        if (got >= kRound)
            break;
        std::unique_lock lock(m);
        cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return ready; });
        ready = false;
    }
    s.join();
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

void BM_EndpointVsBareRecv(benchmark::State& state) {
    const int sender = boundSocket("127.0.0.4", 0);
    const int bare = boundSocket("127.0.0.2", 0);
    const sockaddr_in toBare = loopback("127.0.0.2", portOf(bare));

    osc::net::UdpEndpointOptions o;
    o.bindAddress = "127.0.0.3";
    o.port = 0;
    osc::net::UdpEndpoint endpoint(o);
    std::mutex m;
    std::condition_variable cv;
    bool ready = false;
    endpoint.setReadyCallback([&] {
        std::lock_guard lock(m);
        ready = true;
        cv.notify_one();
    });
    endpoint.activate();
    const sockaddr_in toEndpoint = loopback("127.0.0.3", endpoint.localPort());

    double bareSeconds = 0;
    double endpointSeconds = 0;
    for (auto _ : state) {
        bareSeconds += bareRound(sender, bare, toBare);
        endpointSeconds += endpointRound(sender, endpoint, toEndpoint, m, cv, ready);
    }
    const double rounds = static_cast<double>(state.iterations());
    state.counters["bare_dps"] = rounds * kRound / bareSeconds;
    state.counters["endpoint_dps"] = rounds * kRound / endpointSeconds;
    state.counters["ratio"] = bareSeconds / endpointSeconds;  // endpoint speed / bare speed
    state.counters["rcvbuf"] = endpoint.receiveBufferObtained();
    state.counters["lost"] = static_cast<double>(endpoint.stats().droppedQueueFull);
    state.SetItemsProcessed(state.iterations() * 2 * kRound);
    endpoint.setReadyCallback({});
    ::close(sender);
    ::close(bare);
}
BENCHMARK(BM_EndpointVsBareRecv)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_QueuePushTake(benchmark::State& state) {
    osc::net::DatagramQueue q;
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        q.push(std::vector<std::uint8_t>(static_cast<std::size_t>(state.range(0)), 1));
        q.take(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueuePushTake)->Arg(64)->Arg(1024)->Arg(8192);

// Arg 1: with the demo devices' share of faults.
void BM_SimDeviceNextDatagram(benchmark::State& state) {
    osc::sim::DeviceOptions options;
    if (state.range(0) != 0) {
        options.link.faults = osc::sim::kDemoFaults;
    }
    osc::sim::SimulatedDevice device("10.0.0.5", options);
    for (auto _ : state) {
        benchmark::DoNotOptimize(device.nextDatagram());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["stream_dps_at_9600"] = device.datagramsPerSecond();
}
BENCHMARK(BM_SimDeviceNextDatagram)->Arg(0)->Arg(1);

}  // namespace

// Activation binds a socket and starts the receive thread; destruction wakes and joins it.
void BM_EndpointActivateAndDestroy(benchmark::State& state) {
    for (auto _ : state) {
        osc::net::UdpEndpointOptions o;
        o.bindAddress = "127.0.0.2";
        o.port = 0;
        osc::net::UdpEndpoint endpoint(o);
        endpoint.activate();
    }
}
BENCHMARK(BM_EndpointActivateAndDestroy)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
