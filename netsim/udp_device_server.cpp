#include "netsim/udp_device_server.h"

#include <algorithm>

namespace osc::net {

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kMaxBurst = 256;  // datagrams caught up with at once
}  // namespace

UdpDeviceServer::UdpDeviceServer(const DeviceServerOptions& options) : endpoint_(options.endpoint) {
    const std::string address =
        options.endpoint.bindAddress.empty() ? "0.0.0.0" : options.endpoint.bindAddress;
    device_ = std::make_unique<sim::SimulatedDevice>(address, options.device);
    identity_ = device_->identity();
    endpoint_.setReadyCallback([this] {
        {
            std::lock_guard lock(mutex_);
            ready_ = true;
        }
        wake_.notify_all();
    });
    endpoint_.activate();
}

UdpDeviceServer::~UdpDeviceServer() {
    stop();
}

void UdpDeviceServer::setCommandObserver(std::function<void(const DeviceCommandEvent&)> observer) {
    observer_ = std::move(observer);
}

void UdpDeviceServer::start() {
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { run(); });
    }
}

void UdpDeviceServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::uint64_t UdpDeviceServer::datagramsStreamed() const {
    std::lock_guard lock(mutex_);
    return streamed_;
}

std::uint64_t UdpDeviceServer::sendErrors() const {
    std::lock_guard lock(mutex_);
    return sendErrors_;
}

void UdpDeviceServer::run() {
    SenderAddress target;
    Clock::time_point streamStart{};
    std::vector<std::uint8_t> datagram;
    std::uint64_t streamed = 0;
    std::uint64_t errors = 0;
    const auto sendTo = [&](const SenderAddress& to, std::span<const std::uint8_t> bytes) {
        try {
            endpoint_.sendTo(to.ip, to.port, bytes);
            return true;
        } catch (const EndpointError&) {
            ++errors;  // e.g. the receiver's buffer is full: the datagram is lost, as on a wire
            return false;
        }
    };
    for (;;) {
        Clock::time_point next = Clock::now() + std::chrono::seconds(1);
        SenderAddress from;
        while (endpoint_.takeReceived(datagram, from)) {
            const bool wasStreaming = device_->streaming();
            const sim::CommandResult result = device_->handle(datagram);
            if (observer_) {
                observer_({result.kind, from, datagram.size()});
            }
            if (!result.reply.empty()) {
                sendTo(from, result.reply);
            }
            if (result.kind == sim::CommandKind::Start) {
                target = from;
                if (!wasStreaming) {
                    streamStart = Clock::now();
                }
            }
        }
        if (device_->streaming()) {
            const Clock::time_point now = Clock::now();
            const std::uint64_t due = device_->datagramsDue(now - streamStart);
            std::uint64_t burst = 0;
            while (device_->streamDatagrams() < due && burst++ < kMaxBurst) {
                if (sendTo(target, device_->nextDatagram())) {
                    ++streamed;
                }
            }
            if (device_->streamDatagrams() < due) {
                streamStart = now - device_->dueTime(device_->streamDatagrams());
            }
            next = std::min(next, streamStart + device_->dueTime(device_->streamDatagrams()));
        }
        std::unique_lock lock(mutex_);
        streamed_ = streamed;
        sendErrors_ = errors;
        if (!stopping_) {
            wake_.wait_until(lock, next, [this] { return stopping_ || ready_; });
            ready_ = false;
        }
        if (stopping_) {
            lock.unlock();
            break;
        }
    }
    // Stopped while streaming: the stream ends with the link closed.
    for (const std::vector<std::uint8_t>& d : device_->finishStream()) {
        if (sendTo(target, d)) {
            ++streamed;
        }
    }
    std::lock_guard lock(mutex_);
    streamed_ = streamed;
    sendErrors_ = errors;
}

}  // namespace osc::net
