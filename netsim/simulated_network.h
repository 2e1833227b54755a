#pragma once
// An in-process network of simulated devices behind the endpoint interface, for the demo and
// the tests. Each device sits at an address (dotted IPv4 or a host name); a datagram sent
// there is handled by the device on the network's own thread, and its replies and sample
// stream come back through the same queue, ready callback and takeReceived as UDP datagrams
// do. Streams are paced in real time at each device's bit rate.
//
// Addresses resolve by the endpoint's rules (LOCALHOST, dotted IPv4); any other name must be
// one of the devices' names (compared without regard to letter case), otherwise send() fails
// as a failed host-name lookup does; the empty name is the endpoint's own address. A datagram to a
// dotted address without a device is lost, except at the endpoint's own address (localAddress),
// where it comes back to the endpoint.
//
// Senders: a device's datagrams come from its dotted address at the device port (a device named
// by a host name from 0.0.0.0), and what comes back to the endpoint from the local address at
// the device port; deviceSenders gives exactly that sender for an address.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/address.h"
#include "net/datagram_endpoint.h"
#include "net/datagram_queue.h"
#include "sim/sim_device.h"

namespace osc::net {

struct SimulatedDeviceSpec {
    std::string address;
    sim::DeviceOptions options;
};

struct SimulatedNetworkOptions {
    std::vector<SimulatedDeviceSpec> devices;
    std::string localAddress = "127.0.0.1";
    QueueLimits queue;
};

class SimulatedNetwork : public DatagramEndpoint {
  public:
    explicit SimulatedNetwork(SimulatedNetworkOptions options);
    ~SimulatedNetwork() override;
    SimulatedNetwork(const SimulatedNetwork&) = delete;
    SimulatedNetwork& operator=(const SimulatedNetwork&) = delete;

    bool active() const override;
    void activate() override;
    void send(const std::string& address, std::span<const std::uint8_t> bytes) override;
    bool takeReceived(std::vector<std::uint8_t>& out) override;
    bool takeReceivedFrom(std::vector<std::uint8_t>& out,
                          std::optional<SenderAddress>& from) override;
    std::optional<std::vector<SenderAddress>> deviceSenders(const std::string& address) override;
    void setReadyCallback(std::function<void()> callback) override;
    EndpointStats stats() const override;

    // The identity of the device at address (as given in the options); nothing when none.
    std::optional<DeviceId> deviceIdentity(const std::string& address) const;
    bool deviceStreaming(const std::string& address) const;

  private:
    struct Device {
        std::string key;
        Ipv4 ip{};
        sim::SimulatedDevice device;
        std::chrono::steady_clock::time_point streamStart{};
    };
    struct Outgoing {
        std::vector<std::uint8_t> bytes;
        SenderAddress from;
    };

    std::string keyOf(const std::string& address) const;  // throws EndpointError
    int deviceIndex(const std::string& key) const;
    void run();
    // Under the lock: handles the waiting commands and generates the datagrams that are due.
    // Gives the time the next one is due; nothing while no device streams.
    std::optional<std::chrono::steady_clock::time_point> step(std::vector<Outgoing>& out);

    SimulatedNetworkOptions options_;
    std::string localKey_;
    Ipv4 localIp_{};  // of a dotted local address; 0.0.0.0 for a named one
    DatagramQueue queue_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<std::string, std::vector<std::uint8_t>>> inbox_;
    std::vector<std::unique_ptr<Device>> devices_;
    bool active_ = false;
    bool stopping_ = false;
    std::thread worker_;
    std::atomic<std::uint64_t> received_{0};
};

}  // namespace osc::net
