#pragma once
// The one datagram endpoint of the program: sends commands to a device address and hands
// received datagrams to the user-interface thread. Implemented over UDP (UdpEndpoint) and, for
// the demo and tests, over an in-process simulated network.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/datagram_queue.h"

namespace osc::net {

// A failure to bind, resolve or send; what() says which and why (with the system's reason).
class EndpointError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct EndpointStats {
    std::uint64_t received = 0;          // datagrams delivered into the queue
    std::uint64_t droppedEmpty = 0;      // zero-length datagrams
    std::uint64_t droppedOversize = 0;   // longer than 8192 bytes
    std::uint64_t droppedQueueFull = 0;  // the queue was at its bound
    std::uint64_t receiveErrors = 0;     // errors reported by the socket, survived
    std::uint64_t droppedByKernel = 0;   // the socket's receive buffer was full (kernel's count)
};

class DatagramEndpoint {
  public:
    virtual ~DatagramEndpoint() = default;

    virtual bool active() const = 0;
    // Binds and starts receiving; does nothing when already active. Throws EndpointError.
    virtual void activate() = 0;
    // Resolves the device address anew and sends the bytes to its device port, from the
    // endpoint; activates the endpoint first when inactive. Throws EndpointError.
    virtual void send(const std::string& address, std::span<const std::uint8_t> bytes) = 0;

    // Takes the oldest received datagram (1 to 8192 bytes); false when none is waiting.
    // Called on the consumer's thread.
    virtual bool takeReceived(std::vector<std::uint8_t>& out) = 0;
    // The same with the datagram's sender; nothing in `from` when the endpoint cannot tell
    // (every sender then counts as the device).
    virtual bool takeReceivedFrom(std::vector<std::uint8_t>& out,
                                  std::optional<SenderAddress>& from) {
        from.reset();
        return takeReceived(out);
    }
    // Runs on the receiving thread each time a datagram joins an empty queue; the consumer
    // then drains the queue with takeReceived on its own thread. Set before activating.
    virtual void setReadyCallback(std::function<void()> callback) = 0;

    virtual EndpointStats stats() const = 0;

    // The senders whose datagrams are those of the device at `address`, resolved now by the
    // rules of send(); nothing when the endpoint cannot tell senders apart. Throws
    // EndpointError for an address that cannot be resolved.
    virtual std::optional<std::vector<SenderAddress>> deviceSenders(const std::string& address) {
        (void)address;
        return std::nullopt;
    }
    // The local address to listen on (empty: all) from the next activation on; an active
    // endpoint closes (dropping what it holds) and opens again when next activated or used.
    // Endpoints without such an address keep theirs.
    virtual void setBindAddress(const std::string& address) { (void)address; }
};

}  // namespace osc::net
