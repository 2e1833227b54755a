#pragma once
// A simulated device on a real UDP socket: answers commands from whoever sends them, and
// streams its sample datagrams, paced in real time, to the sender of the last start command.
// Used by `morvelip-osc-cli sim` and by the tests of the endpoint.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/udp_endpoint.h"
#include "sim/sim_device.h"

namespace osc::net {

struct DeviceServerOptions {
    UdpEndpointOptions endpoint;  // where the device listens; devicePort is not used
    sim::DeviceOptions device;    // identity default: derived from endpoint.bindAddress
};

struct DeviceCommandEvent {
    sim::CommandKind kind;
    SenderAddress from;
    std::size_t length;
};

class UdpDeviceServer {
  public:
    // Binds at once; throws EndpointError when it cannot.
    explicit UdpDeviceServer(const DeviceServerOptions& options);
    ~UdpDeviceServer();
    UdpDeviceServer(const UdpDeviceServer&) = delete;
    UdpDeviceServer& operator=(const UdpDeviceServer&) = delete;

    // Runs on the server's thread for every datagram received (before it is answered).
    // Set before start().
    void setCommandObserver(std::function<void(const DeviceCommandEvent&)> observer);
    void start();
    // Also done by the destructor. A stream under way ends with the datagrams that close the
    // link (SimulatedDevice::finishStream), sent at once.
    void stop();

    const DeviceId& identity() const { return identity_; }
    std::uint16_t localPort() const { return endpoint_.localPort(); }
    const UdpEndpoint& endpoint() const { return endpoint_; }
    std::uint64_t datagramsStreamed() const;
    std::uint64_t sendErrors() const;

  private:
    void run();

    DeviceId identity_{};
    std::unique_ptr<sim::SimulatedDevice> device_;  // touched by the server's thread only
    std::function<void(const DeviceCommandEvent&)> observer_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool ready_ = false;
    bool stopping_ = false;
    std::uint64_t streamed_ = 0;
    std::uint64_t sendErrors_ = 0;
    std::thread thread_;
    UdpEndpoint endpoint_;  // last: destroyed first, so its thread ends before the rest goes
};

}  // namespace osc::net
