#pragma once
// An endpoint for the capture tests of the window: records what is sent, can be told to fail,
// and hands injected datagrams to the window through the same ready callback and queue as the
// real endpoints. Senders are told only when the test gives them (deviceSenders and a sender
// with each injected datagram); otherwise every sender counts as the device.

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/datagram_endpoint.h"
#include "tests/ui/ui_test_support.h"

namespace uitest {

struct SentDatagram {
    std::string address;
    std::vector<std::uint8_t> bytes;
};

class RecordingEndpoint : public osc::net::DatagramEndpoint {
  public:
    bool active() const override { return active_; }
    void activate() override {
        if (active_) {
            return;
        }
        if (!activationError.empty()) {
            throw osc::net::EndpointError(activationError);
        }
        active_ = true;
    }
    void send(const std::string& address, std::span<const std::uint8_t> bytes) override {
        activate();
        if (failSendTo == address) {
            throw osc::net::EndpointError("Cannot resolve host name '" + address + "': test");
        }
        sent.push_back({address, {bytes.begin(), bytes.end()}});
    }
    bool takeReceived(std::vector<std::uint8_t>& out) override {
        std::optional<osc::net::SenderAddress> from;
        return takeReceivedFrom(out, from);
    }
    bool takeReceivedFrom(std::vector<std::uint8_t>& out,
                          std::optional<osc::net::SenderAddress>& from) override {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return false;
        }
        out = std::move(queue_.front().first);
        from = queue_.front().second;
        queue_.pop_front();
        return true;
    }
    std::optional<std::vector<osc::net::SenderAddress>> deviceSenders(
        const std::string& address) override {
        (void)address;
        return senders;
    }
    void setReadyCallback(std::function<void()> callback) override { ready_ = std::move(callback); }
    osc::net::EndpointStats stats() const override { return fakeStats; }

    std::size_t queued() {
        std::lock_guard lock(mutex_);
        return queue_.size();
    }
    // Queues a datagram as if it had arrived (from `from`, when given).
    void inject(std::vector<std::uint8_t> datagram,
                std::optional<osc::net::SenderAddress> from = std::nullopt) {
        bool wasEmpty = false;
        {
            std::lock_guard lock(mutex_);
            wasEmpty = queue_.empty();
            queue_.emplace_back(std::move(datagram), from);
        }
        if (wasEmpty && ready_) {
            ready_();
        }
    }

    std::string activationError;      // non-empty: activation fails with this reason
    std::string failSendTo = "\x01";  // sends to this address fail
    std::vector<SentDatagram> sent;
    osc::net::EndpointStats fakeStats;  // what stats() reports
    // What deviceSenders() gives for any address; nothing: senders are not told apart.
    std::optional<std::vector<osc::net::SenderAddress>> senders;

  private:
    bool active_ = false;
    std::mutex mutex_;
    std::deque<std::pair<std::vector<std::uint8_t>, std::optional<osc::net::SenderAddress>>> queue_;
    std::function<void()> ready_;
};

inline std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

// The main window after a cancelled login, on a recording endpoint.
class CaptureTest : public WindowTest {
  protected:
    void SetUp() override {
        startUp(QDialog::Rejected);
        auto owned = std::make_unique<RecordingEndpoint>();
        endpoint = owned.get();
        frmMain->setEndpoint(std::move(owned));
    }
    // Lets the posted hand-overs of received datagrams run, until every datagram is taken (a
    // drain goes on after the events that each slice of its time lets run).
    void settle() {
        for (int i = 0; i < 5 || (endpoint && endpoint->queued() > 0 && i < 100000); ++i) {
            QApplication::processEvents();
        }
    }
    RecordingEndpoint* endpoint = nullptr;
};

}  // namespace uitest
