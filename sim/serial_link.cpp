#include "sim/serial_link.h"

#include <algorithm>

#include "sim/hdlc.h"

namespace osc::sim {

namespace {

std::uint64_t splitmix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint8_t stationOf(std::uint64_t cycle) {
    return static_cast<std::uint8_t>(1 + cycle % 2);
}
std::uint8_t controlOf(std::uint64_t cycle) {
    return static_cast<std::uint8_t>(0x30 | (cycle & 0x0F));
}

}  // namespace

LinkFrame pollFrame(const LinkOptions&, std::uint64_t cycle) {
    return {LinkLine::Transmit, {stationOf(cycle), controlOf(cycle)}};
}

LinkFrame answerFrame(const LinkOptions& options, std::uint64_t cycle) {
    LinkFrame frame{cycle % 2 == 0 ? LinkLine::Receive1 : LinkLine::Receive2, {}};
    if (!options.text.empty()) {
        frame.payload.assign(options.text.begin(), options.text.end());
        return frame;
    }
    frame.payload = {stationOf(cycle), controlOf(cycle)};
    std::uint64_t state = splitmix64(options.seed ^ splitmix64(cycle));
    const int count = 1 + static_cast<int>(state % 8);
    for (int k = 0; k < count; ++k) {
        state = splitmix64(state);
        frame.payload.push_back(static_cast<std::uint8_t>(state >> 56));
    }
    return frame;
}

SerialLink::SerialLink(LinkOptions options) : options_(std::move(options)) {
    options_.idleBits = std::max(options_.idleBits, 8);
    options_.answerDelayBits = std::max(options_.answerDelayBits, 1);
}

void SerialLink::generateCycle() {
    const auto idle = [this](int n) {
        pending_.insert(pending_.end(), static_cast<std::size_t>(n), PeriodBits{});
    };
    const auto send = [this](const LinkFrame& frame) {
        for (std::uint8_t bit : frameBits(frame.payload)) {
            PeriodBits p;
            switch (frame.line) {
                case LinkLine::Transmit:
                    p.transmit = bit;
                    break;
                case LinkLine::Receive1:
                    p.receive1 = bit;
                    break;
                case LinkLine::Receive2:
                    p.receive2 = bit;
                    break;
            }
            pending_.push_back(p);
        }
    };
    idle(options_.idleBits);
    send(pollFrame(options_, cycle_));
    idle(options_.answerDelayBits);
    send(answerFrame(options_, cycle_));
    ++cycle_;
}

PeriodBits SerialLink::nextPeriod() {
    if (pending_.empty()) {
        generateCycle();
    }
    const PeriodBits p = pending_.front();
    pending_.pop_front();
    ++period_;
    return p;
}

}  // namespace osc::sim
