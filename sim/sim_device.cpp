#include "sim/sim_device.h"

#include <algorithm>
#include <array>

namespace osc::sim {

namespace {

constexpr std::uint8_t kStrobeBit = 0x04;
constexpr std::uint8_t kTransmitBit = 0x40;
constexpr std::uint8_t kReceive1Bit = 0x80;
constexpr std::uint8_t kReceive2Bit = 0x10;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

// Status bits of the data lines: a set bit is the line at 0.
std::uint8_t dataBits(const PeriodBits& p) {
    std::uint8_t s = 0;
    if (p.transmit == 0)
        s |= kTransmitBit;
    if (p.receive1 == 0)
        s |= kReceive1Bit;
    if (p.receive2 == 0)
        s |= kReceive2Bit;
    return s;
}

bool parseDotted(const std::string& text, std::array<std::uint8_t, 4>& out) {
    std::size_t part = 0;
    int value = -1;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = (value < 0 ? 0 : value) * 10 + (c - '0');
            if (value > 255)
                return false;
        } else if (c == '.' && value >= 0 && part < 3) {
            out[part++] = static_cast<std::uint8_t>(value);
            value = -1;
        } else {
            return false;
        }
    }
    if (part != 3 || value < 0)
        return false;
    out[3] = static_cast<std::uint8_t>(value);
    return true;
}

}  // namespace

DeviceId identityForAddress(const std::string& address) {
    std::array<std::uint8_t, 4> ip{};
    if (parseDotted(address, ip)) {
        return {0x02, 0x00, ip[0], ip[1], ip[2], ip[3]};
    }
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (unsigned char c : address) {
        h = (h ^ c) * 16777619u;
    }
    return {0x02,
            0x01,
            static_cast<std::uint8_t>(h >> 24),
            static_cast<std::uint8_t>(h >> 16),
            static_cast<std::uint8_t>(h >> 8),
            static_cast<std::uint8_t>(h)};
}

const char* commandName(CommandKind kind) {
    switch (kind) {
        case CommandKind::IdentityRequest:
            return "identity request";
        case CommandKind::Start:
            return "start";
        case CommandKind::Stop:
            return "stop";
        case CommandKind::Ignored:
            break;
    }
    return "ignored";
}

SimulatedDevice::SimulatedDevice(const std::string& address, DeviceOptions options)
    : options_(std::move(options)), link_(options_.link) {
    identity_ = options_.identity ? *options_.identity : identityForAddress(address);
    options_.bitRate = std::clamp(options_.bitRate, 1, 1'000'000);
    options_.pairsPerDatagram =
        std::clamp(options_.pairsPerDatagram, 1, static_cast<int>((kMaxDatagram - 8) / 2));
}

CommandResult SimulatedDevice::handle(std::span<const std::uint8_t> d) {
    CommandResult result;
    if (d.size() >= 2 && d[0] == 'G' && d[1] == 'D') {
        result.kind = CommandKind::IdentityRequest;
        result.reply = {'G', 0x00};
        result.reply.insert(result.reply.end(), identity_.begin(), identity_.end());
        return result;
    }
    if (d.size() != 9 || d[0] != 'D' || d[1] != 'D' || (d[8] != '6' && d[8] != '7')) {
        return result;
    }
    const DeviceId id{d[2], d[3], d[4], d[5], d[6], d[7]};
    if (id != identity_ && !isZero(id)) {
        return result;  // a command for another device
    }
    result.kind = d[8] == '6' ? CommandKind::Start : CommandKind::Stop;
    setStreaming(result.kind == CommandKind::Start);
    return result;
}

void SimulatedDevice::setStreaming(bool on) {
    if (on && !streaming_) {
        streamStart_ = generated_;
        if (link_.periodsGenerated() > 0) {
            link_.restart();
            lastData_ = 0;
        }
    }
    streaming_ = on;
}

std::vector<std::vector<std::uint8_t>> SimulatedDevice::finishStream() {
    std::vector<std::vector<std::uint8_t>> out;
    if (!streaming_) {
        return out;
    }
    link_.close();
    while (!link_.closed()) {
        out.push_back(nextDatagram());
    }
    streaming_ = false;
    return out;
}

std::vector<std::uint8_t> SimulatedDevice::nextDatagram() {
    const auto pairs = static_cast<std::size_t>(options_.pairsPerDatagram);
    std::vector<std::uint8_t> out;
    out.reserve(8 + 2 * pairs);
    out.push_back('#');
    out.push_back(0x08);
    out.insert(out.end(), identity_.begin(), identity_.end());
    for (std::size_t k = 0; k < pairs; ++k, ++pairs_) {
        const std::uint8_t strobe = (pairs_ / 2) % 2 == 0 ? kStrobeBit : 0;
        if (pairs_ % 2 == 0) {
            out.push_back(static_cast<std::uint8_t>(strobe | lastData_));
            out.push_back(0);
        } else {
            lastData_ = dataBits(link_.nextPeriod());
            out.push_back(static_cast<std::uint8_t>(strobe | lastData_));
            out.push_back(kDataChangeTime);
        }
    }
    ++generated_;
    return out;
}

double SimulatedDevice::datagramsPerSecond() const {
    return 2.0 * options_.bitRate / options_.pairsPerDatagram;
}

std::uint64_t SimulatedDevice::datagramsDue(std::chrono::nanoseconds elapsed) const {
    if (elapsed.count() < 0) {
        return 0;
    }
    const auto pairsPerSecond = 2 * static_cast<std::uint64_t>(options_.bitRate);
    const auto ns = static_cast<std::uint64_t>(elapsed.count());
    const std::uint64_t pairs = ns / kNanosPerSecond * pairsPerSecond +
                                ns % kNanosPerSecond * pairsPerSecond / kNanosPerSecond;
    return pairs / static_cast<std::uint64_t>(options_.pairsPerDatagram) + 1;
}

std::chrono::nanoseconds SimulatedDevice::dueTime(std::uint64_t n) const {
    const auto pairsPerSecond = 2 * static_cast<std::uint64_t>(options_.bitRate);
    const std::uint64_t pairs = n * static_cast<std::uint64_t>(options_.pairsPerDatagram);
    const std::uint64_t rem = pairs % pairsPerSecond;
    const std::uint64_t ns = pairs / pairsPerSecond * kNanosPerSecond +
                             (rem * kNanosPerSecond + pairsPerSecond - 1) / pairsPerSecond;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ns));
}

}  // namespace osc::sim
