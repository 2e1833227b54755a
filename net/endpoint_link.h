#pragma once
// A capture session's link over the program's datagram endpoint: commands through send(), the
// device's senders as the endpoint resolves them, and the datagrams dropped before they were
// handed on (empty ones carry nothing and are not counted).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/capture/capture_session.h"
#include "net/datagram_endpoint.h"

namespace osc::net {

// Datagrams the endpoint dropped that carried data: kernel, queue, too long, receive errors.
std::uint64_t lostDatagrams(const EndpointStats& stats);

class EndpointLink : public DeviceLink {
  public:
    explicit EndpointLink(DatagramEndpoint* endpoint = nullptr) : endpoint_(endpoint) {}
    // The endpoint the link goes through from now on (the window replaces its endpoint).
    void setEndpoint(DatagramEndpoint* endpoint) { endpoint_ = endpoint; }

    void send(const std::string& address, std::span<const std::uint8_t> bytes) override {
        endpoint_->send(address, bytes);
    }
    std::optional<std::vector<PeerAddress>> deviceSenders(const std::string& address) override {
        return endpoint_->deviceSenders(address);
    }
    std::uint64_t receiverDrops() const override {
        return endpoint_ ? lostDatagrams(endpoint_->stats()) : 0;
    }

  private:
    DatagramEndpoint* endpoint_;
};

}  // namespace osc::net
