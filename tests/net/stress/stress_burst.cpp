// A burst of 100,000 datagrams of 1 KB, sent from another process as fast as it can, while
// the consumer does not read for 2 s: every datagram must arrive, in order.
//   stress_burst [COUNT]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "net/udp_endpoint.h"
#include "tests/net/stress/stress_common.h"

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 100000;
    constexpr std::size_t kLength = 1024;

    osc::net::UdpEndpointOptions o;
    o.bindAddress = "127.0.0.2";
    o.port = 0;
    osc::net::UdpEndpoint endpoint(o);
    endpoint.activate();
    std::printf(
        "receive buffer: asked %d, granted %d (%s)\n", o.receiveBufferBytes,
        endpoint.receiveBufferObtained(),
        endpoint.receiveBufferForced() ? "SO_RCVBUFFORCE" : "SO_RCVBUF, capped by rmem_max");
    std::printf("queue bound: %zu datagrams, %zu bytes\n", o.queue.maxDatagrams, o.queue.maxBytes);

    const std::uint16_t port = endpoint.localPort();
    const auto begin = std::chrono::steady_clock::now();
    const pid_t child = stress::spawn([count, port] {
        const int fd = stress::senderSocket("127.0.0.4");
        const sockaddr_in to = stress::loopback("127.0.0.2", port);
        // sendmmsg, 64 datagrams a call: faster than the receiver can take them one by one.
        std::vector<std::uint8_t> buf(kLength * 64, 0xA5);
        std::vector<iovec> iov(64);
        std::vector<mmsghdr> msgs(64);
        long failed = 0;
        for (long i = 0; i < count;) {
            const int n = static_cast<int>(std::min<long>(64, count - i));
            for (int k = 0; k < n; ++k) {
                const long seq = i + k;
                std::memcpy(buf.data() + k * kLength, &seq, sizeof seq);
                iov[k] = {buf.data() + k * kLength, kLength};
                msgs[k] = {};
                msgs[k].msg_hdr.msg_iov = &iov[k];
                msgs[k].msg_hdr.msg_iovlen = 1;
                msgs[k].msg_hdr.msg_name = const_cast<sockaddr_in*>(&to);
                msgs[k].msg_hdr.msg_namelen = sizeof to;
            }
            const int r = ::sendmmsg(fd, msgs.data(), static_cast<unsigned>(n), 0);
            if (r <= 0) {
                ++failed;
                continue;
            }
            i += r;
        }
        std::printf("sender: %ld sent, %ld send calls failed\n", count, failed);
        return failed == 0 ? 0 : 1;
    });
    const int senderStatus = stress::waitFor(child);
    const double sendSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::this_thread::sleep_until(begin + std::chrono::seconds(2));  // the consumer is busy

    long received = 0;
    long outOfOrder = 0;
    std::vector<std::uint8_t> out;
    while (endpoint.takeReceived(out)) {
        long seq = -1;
        if (out.size() == kLength)
            std::memcpy(&seq, out.data(), sizeof seq);
        if (seq != received)
            ++outOfOrder;
        ++received;
    }
    const osc::net::EndpointStats s = endpoint.stats();
    std::printf(
        "sent %ld in %.3f s (%.0f datagrams/s); received %ld/%ld, out of order %ld, "
        "queue full %llu, errors %llu\n",
        count, sendSeconds, count / sendSeconds, received, count, outOfOrder,
        static_cast<unsigned long long>(s.droppedQueueFull),
        static_cast<unsigned long long>(s.receiveErrors));
    const bool ok = senderStatus == 0 && received == count && outOfOrder == 0;
    std::printf("%s\n", ok ? "PASS: none lost" : "FAIL");
    return ok ? 0 : 1;
}
