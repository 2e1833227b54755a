#pragma once
// The one datagram endpoint of the program: sends commands to a device address and hands
// received datagrams to the user-interface thread. Implemented over UDP (UdpEndpoint) and, for
// the demo and tests, over an in-process simulated network.

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

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
    // Runs on the receiving thread each time a datagram joins an empty queue; the consumer
    // then drains the queue with takeReceived on its own thread. Set before activating.
    virtual void setReadyCallback(std::function<void()> callback) = 0;

    virtual EndpointStats stats() const = 0;
};

}  // namespace osc::net
