#pragma once
// The UDP endpoint over native sockets: one IPv4 datagram socket, bound on activation, sending
// from the caller's thread and receiving on a thread of its own into a bounded queue.
//
// Receiving: datagrams of 1 to 8192 bytes are queued whole, with their exact length, in the
// order of arrival; empty and longer datagrams are dropped and counted, and so are datagrams
// that find the queue full; socket errors are counted and receiving goes on. The ready
// callback runs on the receiving thread when a datagram joins an empty queue. The thread waits
// for the socket or for the destructor, which wakes it through an eventfd and joins it.
//
// A stream is taken in gulps: after each drain the thread lets the socket's buffer gather for
// `gather` before it looks again, so that one wake-up (and one wake-up of the consumer) takes
// all that came meanwhile, instead of one per datagram. The first datagram after a quiet spell
// is taken at once, and so is the next gulp when a drain could not empty the socket (a flood).
//
// Binding port 971 needs privilege: run as root, give the program the capability
// (setcap 'cap_net_bind_service=+ep' PROGRAM) or lower the first unprivileged port
// (sysctl net.ipv4.ip_unprivileged_port_start=971).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "net/address.h"
#include "net/datagram_endpoint.h"
#include "net/datagram_queue.h"

namespace osc::net {

struct UdpEndpointOptions {
    std::string bindAddress;           // empty: all local addresses (0.0.0.0)
    std::uint16_t port = 971;          // local port; 0 lets the system choose
    std::uint16_t devicePort = 971;    // where send() delivers
    int receiveBufferBytes = 8 << 20;  // asked of the kernel (SO_RCVBUFFORCE, else SO_RCVBUF)
    QueueLimits queue;                 // the hand-over to the consumer
    // The pause after each drain (0: none); the receive buffer must hold what arrives meanwhile.
    // 10 ms is within the plot's repaint interval (16 ms): a live plot shows as much as before,
    // at a hundred wake-ups a second however fast the stream.
    std::chrono::microseconds gather{10000};
};

class UdpEndpoint : public DatagramEndpoint {
  public:
    explicit UdpEndpoint(UdpEndpointOptions options = {});
    ~UdpEndpoint() override;
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    bool active() const override { return active_.load(std::memory_order_acquire); }
    // Throws EndpointError "Cannot bind UDP port P on A: <reason>" (e.g. "Permission denied",
    // "Address already in use"); the endpoint then stays inactive and may be activated again.
    void activate() override;
    // Throws EndpointError for an address that cannot be resolved, a failed activation, a
    // failed send ("Cannot send to A:P: <reason>") or a short one ("Sent only n of m bytes").
    void send(const std::string& address, std::span<const std::uint8_t> bytes) override;
    bool takeReceived(std::vector<std::uint8_t>& out) override;
    bool takeReceivedFrom(std::vector<std::uint8_t>& out,
                          std::optional<SenderAddress>& from) override;
    void setReadyCallback(std::function<void()> callback) override;
    // droppedByKernel: the socket's drop counter (SO_MEMINFO), summed over its sockets when a
    // new bind address made it open again.
    EndpointStats stats() const override;
    // Every address the device's address resolves to at the device port (deviceSenderSet).
    std::optional<std::vector<SenderAddress>> deviceSenders(const std::string& address) override;
    void setBindAddress(const std::string& address) override;

    // Sends to an explicit destination (the simulated device replies to its sender).
    void sendTo(const Ipv4& ip, std::uint16_t port, std::span<const std::uint8_t> bytes);
    // takeReceived with the sender's address.
    bool takeReceived(std::vector<std::uint8_t>& out, SenderAddress& from);

    // After activation: the local port bound and the receive buffer the kernel granted (as
    // getsockopt reports it, which on Linux is twice the usable size).
    std::uint16_t localPort() const { return localPort_; }
    int receiveBufferObtained() const { return rcvbufObtained_; }
    bool receiveBufferForced() const { return rcvbufForced_; }
    const UdpEndpointOptions& options() const { return options_; }
    std::size_t queued() const { return queue_.size(); }
    std::size_t queuedBytes() const { return queue_.bytesHeld(); }

  private:
    void receiveLoop();
    void shutDown();  // ends the receiving thread and closes the socket
    // True when it took everything the socket held.
    bool drainSocket(std::vector<std::uint8_t>& storage);
    bool pauseUnlessWoken();

    UdpEndpointOptions options_;
    DatagramQueue queue_;
    mutable std::mutex activateMutex_;
    std::atomic<bool> active_{false};
    int socket_ = -1;
    int wakeFd_ = -1;
    std::uint16_t localPort_ = 0;
    int rcvbufObtained_ = 0;
    bool rcvbufForced_ = false;
    std::thread receiver_;

    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> droppedEmpty_{0};
    std::atomic<std::uint64_t> droppedOversize_{0};
    std::atomic<std::uint64_t> receiveErrors_{0};
    std::uint64_t kernelDropsBefore_ = 0;  // of the sockets closed before this one
};

}  // namespace osc::net
