#include "netsim/simulated_network.h"

#include <algorithm>

namespace osc::net {

namespace {

using Clock = std::chrono::steady_clock;

// Datagrams one device may catch up with in one step, so that commands stay prompt when the
// thread was held up.
constexpr std::uint64_t kMaxBurst = 256;

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

SimulatedNetwork::SimulatedNetwork(SimulatedNetworkOptions options)
    : options_(std::move(options)), queue_(options_.queue) {
    const std::string local = options_.localAddress.empty() ? "127.0.0.1" : options_.localAddress;
    localKey_ = literalAddress(local) ? ipv4Text(*literalAddress(local)) : lowerCase(local);
    localIp_ = literalAddress(local).value_or(Ipv4{});
    for (const SimulatedDeviceSpec& given : options_.devices) {
        auto device = std::make_unique<Device>(Device{
            lowerCase(given.address), {}, sim::SimulatedDevice(given.address, given.options), {}});
        if (auto ip = literalAddress(given.address)) {
            device->key = ipv4Text(*ip);
            device->ip = *ip;
        }
        devices_.push_back(std::move(device));
    }
}

SimulatedNetwork::~SimulatedNetwork() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool SimulatedNetwork::active() const {
    std::lock_guard lock(mutex_);
    return active_;
}

void SimulatedNetwork::activate() {
    std::lock_guard lock(mutex_);
    if (active_) {
        return;
    }
    active_ = true;
    worker_ = std::thread([this] { run(); });
}

std::string SimulatedNetwork::keyOf(const std::string& address) const {
    if (auto ip = literalAddress(address)) {
        return ipv4Text(*ip);
    }
    if (address.empty()) {
        return localKey_;  // the empty name is this computer, as on UDP
    }
    std::string key = lowerCase(address);
    for (const auto& d : devices_) {
        if (d->key == key) {
            return key;
        }
    }
    throw EndpointError("Cannot resolve host name '" + address +
                        "': no such host on the simulated network");
}

int SimulatedNetwork::deviceIndex(const std::string& key) const {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i]->key == key) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void SimulatedNetwork::send(const std::string& address, std::span<const std::uint8_t> bytes) {
    const std::string key = keyOf(address);
    activate();
    {
        std::lock_guard lock(mutex_);
        inbox_.emplace_back(key, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    wake_.notify_all();
}

bool SimulatedNetwork::takeReceived(std::vector<std::uint8_t>& out) {
    return queue_.take(out);
}

bool SimulatedNetwork::takeReceivedFrom(std::vector<std::uint8_t>& out,
                                        std::optional<SenderAddress>& from) {
    SenderAddress sender;
    if (!queue_.take(out, &sender)) {
        return false;
    }
    from = sender;
    return true;
}

std::optional<std::vector<SenderAddress>> SimulatedNetwork::deviceSenders(
    const std::string& address) {
    const std::string key = keyOf(address);
    std::lock_guard lock(mutex_);
    const int index = deviceIndex(key);
    if (index >= 0) {
        return std::vector<SenderAddress>{
            {devices_[static_cast<std::size_t>(index)]->ip, kDevicePort}};
    }
    if (key == localKey_) {
        return std::vector<SenderAddress>{{localIp_, kDevicePort}};
    }
    // A dotted address without a device: nothing comes from there, but a sender spoofing it.
    return std::vector<SenderAddress>{{*literalAddress(key), kDevicePort}};
}

void SimulatedNetwork::setReadyCallback(std::function<void()> callback) {
    queue_.setReadyCallback(std::move(callback));
}

EndpointStats SimulatedNetwork::stats() const {
    EndpointStats s;
    s.received = received_.load(std::memory_order_relaxed);
    s.droppedQueueFull = queue_.droppedFull();
    return s;
}

std::optional<DeviceId> SimulatedNetwork::deviceIdentity(const std::string& address) const {
    std::lock_guard lock(mutex_);
    for (const auto& d : devices_) {
        if (d->key == lowerCase(address) ||
            (literalAddress(address) && d->key == ipv4Text(*literalAddress(address)))) {
            return d->device.identity();
        }
    }
    return std::nullopt;
}

bool SimulatedNetwork::deviceStreaming(const std::string& address) const {
    std::lock_guard lock(mutex_);
    for (const auto& d : devices_) {
        if (d->key == lowerCase(address) ||
            (literalAddress(address) && d->key == ipv4Text(*literalAddress(address)))) {
            return d->device.streaming();
        }
    }
    return false;
}

std::optional<Clock::time_point> SimulatedNetwork::step(std::vector<Outgoing>& out) {
    const Clock::time_point now = Clock::now();
    while (!inbox_.empty()) {
        auto [key, bytes] = std::move(inbox_.front());
        inbox_.pop_front();
        const int index = deviceIndex(key);
        if (index < 0) {
            if (key == localKey_) {
                out.push_back({std::move(bytes), {localIp_, kDevicePort}});
            }
            continue;
        }
        Device& d = *devices_[static_cast<std::size_t>(index)];
        const bool wasStreaming = d.device.streaming();
        sim::CommandResult result = d.device.handle(bytes);
        if (!result.reply.empty()) {
            out.push_back({std::move(result.reply), {d.ip, kDevicePort}});
        }
        if (!wasStreaming && d.device.streaming()) {
            d.streamStart = now;
        }
    }
    std::optional<Clock::time_point> next;
    for (auto& dp : devices_) {
        Device& d = *dp;
        if (!d.device.streaming()) {
            continue;
        }
        const std::uint64_t due = d.device.datagramsDue(now - d.streamStart);
        std::uint64_t burst = 0;
        while (d.device.streamDatagrams() < due && burst++ < kMaxBurst) {
            out.push_back({d.device.nextDatagram(), {d.ip, kDevicePort}});
        }
        if (d.device.streamDatagrams() < due) {
            // Fell behind by more than a burst: the stream's clock moves on instead.
            d.streamStart = now - d.device.dueTime(d.device.streamDatagrams());
        }
        const Clock::time_point dueAt =
            d.streamStart + d.device.dueTime(d.device.streamDatagrams());
        next = next ? std::min(*next, dueAt) : dueAt;
    }
    return next;
}

void SimulatedNetwork::run() {
    std::vector<Outgoing> out;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        out.clear();
        const std::optional<Clock::time_point> next = step(out);
        if (!out.empty()) {
            lock.unlock();
            for (Outgoing& o : out) {
                if (queue_.push(std::move(o.bytes), o.from)) {
                    received_.fetch_add(1, std::memory_order_relaxed);
                }
            }
            lock.lock();
            continue;  // look at the inbox again before sleeping
        }
        // Only a command or the destructor wakes an idle network.
        const auto woken = [this] { return stopping_ || !inbox_.empty(); };
        if (next) {
            wake_.wait_until(lock, *next, woken);
        } else {
            wake_.wait(lock, woken);
        }
    }
}

}  // namespace osc::net
