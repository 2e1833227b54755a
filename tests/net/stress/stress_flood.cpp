// 10 s of random datagrams (lengths 0 to 9000, random bytes) from another process as fast as
// it can, at the endpoint and at a simulated device. The consumer reads nothing for the first
// half and then drains; the program must not crash, the device must keep answering, and the
// memory held must stay within the queue bound.
//   stress_flood [SECONDS]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "core/protocol/datagram.h"
#include "net/udp_endpoint.h"
#include "netsim/udp_device_server.h"
#include "tests/net/stress/stress_common.h"

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    using Clock = std::chrono::steady_clock;

    osc::net::UdpEndpointOptions o;
    o.bindAddress = "127.0.0.2";
    o.port = 0;
    osc::net::UdpEndpoint endpoint(o);
    endpoint.activate();
    osc::net::DeviceServerOptions d;
    d.endpoint.bindAddress = "127.0.0.3";
    d.endpoint.port = 0;
    osc::net::UdpDeviceServer device(d);
    device.start();
    const std::size_t baseline = stress::residentBytes();
    const std::uint16_t endpointPort = endpoint.localPort();
    const std::uint16_t devicePort = device.localPort();

    const pid_t child = stress::spawn([=] {
        const int fd = stress::senderSocket("127.0.0.4");
        const sockaddr_in toEndpoint = stress::loopback("127.0.0.2", endpointPort);
        const sockaddr_in toDevice = stress::loopback("127.0.0.3", devicePort);
        std::mt19937_64 rng(12345);
        std::vector<std::uint8_t> buf(9000);
        long sent = 0;
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < until) {
            for (int k = 0; k < 64; ++k) {
                const std::size_t length = rng() % 9001;
                for (std::size_t i = 0; i < length; i += 8) {
                    const std::uint64_t r = rng();
                    for (std::size_t j = 0; j < 8 && i + j < length; ++j)
                        buf[i + j] = static_cast<std::uint8_t>(r >> (8 * j));
                }
                const sockaddr_in& to = (sent % 16 == 0) ? toDevice : toEndpoint;
                ::sendto(fd, buf.data(), length, 0, reinterpret_cast<const sockaddr*>(&to),
                         sizeof to);
                ++sent;
            }
        }
        std::printf("sender: %ld datagrams in %.0f s\n", sent, seconds);
        return 0;
    });

    const auto begin = Clock::now();
    std::size_t peak = 0;
    long taken = 0;
    std::vector<std::uint8_t> out;
    bool sizesOk = true;
    while (Clock::now() - begin < std::chrono::duration<double>(seconds + 0.5)) {
        if (Clock::now() - begin > std::chrono::duration<double>(seconds / 2)) {
            while (endpoint.takeReceived(out)) {
                sizesOk = sizesOk && !out.empty() && out.size() <= osc::kMaxDatagram;
                ++taken;
            }
        }
        peak = std::max(peak, stress::residentBytes());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stress::waitFor(child);

    // The device still answers after the flood.
    osc::net::UdpEndpointOptions probeOptions;
    probeOptions.bindAddress = "127.0.0.5";
    probeOptions.port = 0;
    probeOptions.devicePort = devicePort;
    osc::net::UdpEndpoint probe(probeOptions);
    probe.send("127.0.0.3", osc::identityRequest());
    bool answered = false;
    for (int i = 0; i < 100 && !answered; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (probe.takeReceived(out)) {
            answered = answered || osc::classifyDatagram(out) == osc::DatagramKind::IdentityReply;
        }
    }

    const osc::net::EndpointStats s = endpoint.stats();
    const std::size_t growth = peak > baseline ? peak - baseline : 0;
    const std::size_t bound = o.queue.maxBytes;
    std::printf(
        "endpoint: received %llu, taken %ld, empty %llu, longer than 8192 %llu, "
        "queue full %llu, errors %llu\n",
        static_cast<unsigned long long>(s.received), taken,
        static_cast<unsigned long long>(s.droppedEmpty),
        static_cast<unsigned long long>(s.droppedOversize),
        static_cast<unsigned long long>(s.droppedQueueFull),
        static_cast<unsigned long long>(s.receiveErrors));
    std::printf("memory: baseline %.1f MiB, peak %.1f MiB, growth %.1f MiB; queue bound %.1f MiB\n",
                baseline / 1048576.0, peak / 1048576.0, growth / 1048576.0, bound / 1048576.0);
    std::printf("device: answered the identity request after the flood: %s; send errors %llu\n",
                answered ? "yes" : "no", static_cast<unsigned long long>(device.sendErrors()));
    const bool ok = sizesOk && answered && growth <= bound + (16u << 20);
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
