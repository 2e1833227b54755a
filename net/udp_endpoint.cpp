#include "net/udp_endpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "core/protocol/datagram.h"

namespace osc::net {

namespace {

constexpr int kBatch = 32;  // datagrams taken from the socket per system call

std::string systemReason(int error) {
    return std::strerror(error);
}

sockaddr_in socketAddress(const Ipv4& ip, std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    std::memcpy(&sin.sin_addr.s_addr, ip.data(), 4);
    return sin;
}

// The kernel's count of datagrams it dropped on this socket (its receive buffer was full); 0 where
// the system does not tell.
std::uint64_t kernelDrops(int fd) {
    if (fd < 0) {
        return 0;
    }
    std::array<std::uint32_t, SK_MEMINFO_VARS> info{};
    socklen_t len = sizeof info;
    if (::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info.data(), &len) != 0 ||
        len < sizeof(std::uint32_t) * (SK_MEMINFO_DROPS + 1)) {
        return 0;
    }
    return info[SK_MEMINFO_DROPS];
}

}  // namespace

UdpEndpoint::UdpEndpoint(UdpEndpointOptions options)
    : options_(std::move(options)), queue_(options_.queue) {}

UdpEndpoint::~UdpEndpoint() {
    shutDown();
}

void UdpEndpoint::shutDown() {
    if (receiver_.joinable()) {
        // The thread waits for the socket or this wake-up, nothing else.
        const std::uint64_t one = 1;
        while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        receiver_.join();
    }
    if (socket_ >= 0) {
        kernelDropsBefore_ += kernelDrops(socket_);
        ::close(socket_);
        socket_ = -1;
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    active_.store(false, std::memory_order_release);
}

void UdpEndpoint::setBindAddress(const std::string& address) {
    std::lock_guard lock(activateMutex_);
    if (address == options_.bindAddress) {
        return;
    }
    shutDown();
    options_.bindAddress = address;
}

void UdpEndpoint::activate() {
    std::lock_guard lock(activateMutex_);
    if (active()) {
        return;
    }
    Ipv4 bindIp{0, 0, 0, 0};
    if (!options_.bindAddress.empty()) {
        bindIp = resolveAddress(options_.bindAddress);
    }
    const std::string where =
        "UDP port " + std::to_string(options_.port) + " on " + ipv4Text(bindIp);

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw EndpointError("Cannot open " + where + ": " + systemReason(errno));
    }
    // The kernel caps SO_RCVBUF at net.core.rmem_max; SO_RCVBUFFORCE passes the cap where the
    // process is privileged (CAP_NET_ADMIN).
    const int request = options_.receiveBufferBytes;
    bool forced = false;
    if (request > 0) {
        forced = ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &request, sizeof request) == 0;
        if (!forced) {
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &request, sizeof request);
        }
    }
    int obtained = 0;
    socklen_t len = sizeof obtained;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &obtained, &len);

    const sockaddr_in local = socketAddress(bindIp, options_.port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(fd);
        throw EndpointError("Cannot bind " + where + ": " + systemReason(error));
    }
    sockaddr_in bound{};
    socklen_t boundLen = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLen);

    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        const int error = errno;
        ::close(fd);
        throw EndpointError("Cannot start receiving on " + where + ": " + systemReason(error));
    }
    socket_ = fd;
    wakeFd_ = wake;
    localPort_ = ntohs(bound.sin_port);
    rcvbufObtained_ = obtained;
    rcvbufForced_ = forced;
    receiver_ = std::thread([this] { receiveLoop(); });
    active_.store(true, std::memory_order_release);
}

void UdpEndpoint::send(const std::string& address, std::span<const std::uint8_t> bytes) {
    const Ipv4 ip = resolveAddress(address);
    sendTo(ip, options_.devicePort, bytes);
}

void UdpEndpoint::sendTo(const Ipv4& ip, std::uint16_t port, std::span<const std::uint8_t> bytes) {
    activate();
    const sockaddr_in to = socketAddress(ip, port);
    const std::string where = ipv4Text(ip) + ":" + std::to_string(port);
    ssize_t sent;
    do {
        sent = ::sendto(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        throw EndpointError("Cannot send to " + where + ": " + systemReason(errno));
    }
    if (static_cast<std::size_t>(sent) != bytes.size()) {
        throw EndpointError("Sent only " + std::to_string(sent) + " of " +
                            std::to_string(bytes.size()) + " bytes to " + where);
    }
}

bool UdpEndpoint::takeReceived(std::vector<std::uint8_t>& out) {
    return queue_.take(out);
}

bool UdpEndpoint::takeReceived(std::vector<std::uint8_t>& out, SenderAddress& from) {
    return queue_.take(out, &from);
}

bool UdpEndpoint::takeReceivedFrom(std::vector<std::uint8_t>& out,
                                   std::optional<SenderAddress>& from) {
    SenderAddress sender;
    if (!queue_.take(out, &sender)) {
        return false;
    }
    from = sender;
    return true;
}

std::optional<std::vector<SenderAddress>> UdpEndpoint::deviceSenders(const std::string& address) {
    return deviceSenderSet(resolveAllAddresses(address), options_.devicePort);
}

void UdpEndpoint::setReadyCallback(std::function<void()> callback) {
    queue_.setReadyCallback(std::move(callback));
}

EndpointStats UdpEndpoint::stats() const {
    EndpointStats s;
    s.received = received_.load(std::memory_order_relaxed);
    s.droppedEmpty = droppedEmpty_.load(std::memory_order_relaxed);
    s.droppedOversize = droppedOversize_.load(std::memory_order_relaxed);
    s.droppedQueueFull = queue_.droppedFull();
    s.receiveErrors = receiveErrors_.load(std::memory_order_relaxed);
    std::lock_guard lock(activateMutex_);
    s.droppedByKernel = kernelDropsBefore_ + kernelDrops(socket_);
    return s;
}

void UdpEndpoint::receiveLoop() {
    std::vector<std::uint8_t> storage(kBatch * kMaxDatagram);
    std::array<pollfd, 2> fds{};
    fds[0].fd = socket_;
    fds[0].events = POLLIN;
    fds[1].fd = wakeFd_;
    fds[1].events = POLLIN;
    for (;;) {
        fds[0].revents = 0;
        fds[1].revents = 0;
        const int n = ::poll(fds.data(), fds.size(), -1);
        if (n < 0) {
            if (errno != EINTR) {
                receiveErrors_.fetch_add(1, std::memory_order_relaxed);
            }
            continue;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLERR) != 0) {
            // A pending socket error (e.g. from ICMP); reading SO_ERROR clears it.
            int error = 0;
            socklen_t len = sizeof error;
            ::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &len);
            receiveErrors_.fetch_add(1, std::memory_order_relaxed);
        }
        if ((fds[0].revents & POLLIN) != 0) {
            // A drain that left datagrams behind meets a stream faster than any pause would
            // help with: the next one comes at once, before the socket's buffer overflows.
            const bool emptied = drainSocket(storage);
            if (emptied && options_.gather.count() > 0 && pauseUnlessWoken()) {
                return;
            }
        }
    }
}

// Sleeps for the gathering pause; true when the destructor woke the thread meanwhile.
bool UdpEndpoint::pauseUnlessWoken() {
    pollfd wake{wakeFd_, POLLIN, 0};
    const auto us = options_.gather.count();
    const timespec pause{static_cast<time_t>(us / 1'000'000),
                         static_cast<long>(us % 1'000'000) * 1000};
    int n;
    do {
        n = ::ppoll(&wake, 1, &pause, nullptr);
    } while (n < 0 && errno == EINTR);
    return n > 0 && (wake.revents & POLLIN) != 0;
}

// Reads what is waiting, a batch at a time. With MSG_TRUNC the kernel reports a datagram's
// real length even when it did not fit the buffer, which is how longer ones are recognised.
bool UdpEndpoint::drainSocket(std::vector<std::uint8_t>& storage) {
    std::array<iovec, kBatch> iov{};
    std::array<mmsghdr, kBatch> msgs{};
    std::array<sockaddr_in, kBatch> from{};
    std::vector<std::vector<std::uint8_t>> batch;
    std::vector<SenderAddress> senders;
    batch.reserve(kBatch);
    senders.reserve(kBatch);
    for (int round = 0; round < 64; ++round) {
        for (int i = 0; i < kBatch; ++i) {
            iov[i].iov_base = storage.data() + static_cast<std::size_t>(i) * kMaxDatagram;
            iov[i].iov_len = kMaxDatagram;
            msgs[i].msg_hdr = msghdr{};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_name = &from[i];
            msgs[i].msg_hdr.msg_namelen = sizeof from[i];
            msgs[i].msg_len = 0;
        }
        const int got = ::recvmmsg(socket_, msgs.data(), kBatch, MSG_DONTWAIT | MSG_TRUNC, nullptr);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            }
            if (errno != EINTR) {
                receiveErrors_.fetch_add(1, std::memory_order_relaxed);
                return true;  // back to poll; a persistent error cannot spin here
            }
            continue;
        }
        batch.clear();
        senders.clear();
        for (int i = 0; i < got; ++i) {
            const std::size_t length = msgs[i].msg_len;
            if (length == 0) {
                droppedEmpty_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            if (length > kMaxDatagram || (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) != 0) {
                droppedOversize_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            const auto* begin = static_cast<const std::uint8_t*>(iov[i].iov_base);
            SenderAddress sender;
            std::memcpy(sender.ip.data(), &from[i].sin_addr.s_addr, 4);
            sender.port = ntohs(from[i].sin_port);
            batch.emplace_back(begin, begin + length);
            senders.push_back(sender);
        }
        if (!batch.empty()) {
            received_.fetch_add(queue_.pushBatch(batch, senders), std::memory_order_relaxed);
        }
        if (got < kBatch) {
            return true;
        }
    }
    return false;
}

}  // namespace osc::net
