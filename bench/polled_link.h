#pragma once
// A polled link for the benchmarks: the line bits of the three data lines, as traces before the
// stop and as the sample datagrams a device streams.

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

#include "core/frames/frame_decoder.h"
#include "core/protocol/sample_decoder.h"

namespace bench {

// Line bits of the three data lines, one period at a time: cycle j is 24 idle periods, a poll
// {station, 0x30 | j} on the transmit line, 6 idle periods and an answer of 3 to 10 bytes on
// receive line 1 (even j) or 2 (odd j); X.25 check, least significant bit first, stuffed.
class PolledLink {
  public:
    std::array<std::uint8_t, 4> next() {
        if (pending_.empty()) {
            cycle();
        }
        const std::array<std::uint8_t, 4> p = pending_.front();
        pending_.pop_front();
        return p;
    }

  private:
    void idle(int n) {
        for (int i = 0; i < n; ++i) {
            pending_.push_back({1, 1, 1, 1});
        }
    }
    void send(int line, std::vector<std::uint8_t> bytes) {
        const std::uint16_t c = osc::crc16X25(bytes);
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
        std::vector<std::uint8_t> bits{0, 1, 1, 1, 1, 1, 1, 0};
        int ones = 0;
        for (const std::uint8_t b : bytes) {
            for (int k = 0; k < 8; ++k) {
                const std::uint8_t bit = (b >> k) & 1;
                bits.push_back(bit);
                ones = bit != 0 ? ones + 1 : 0;
                if (ones == 5) {
                    bits.push_back(0);
                    ones = 0;
                }
            }
        }
        bits.insert(bits.end(), {0, 1, 1, 1, 1, 1, 1, 0});
        for (const std::uint8_t bit : bits) {
            std::array<std::uint8_t, 4> p{1, 1, 1, 1};
            p[static_cast<std::size_t>(line)] = bit;
            pending_.push_back(p);
        }
    }
    void cycle() {
        const auto station = static_cast<std::uint8_t>(1 + j_ % 2);
        const auto control = static_cast<std::uint8_t>(0x30 | (j_ & 0x0F));
        idle(24);
        send(1, {station, control});
        idle(6);
        std::vector<std::uint8_t> answer{station, control};
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        const int extra = 1 + static_cast<int>((state_ >> 40) % 8);
        for (int k = 0; k < extra; ++k) {
            state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
            answer.push_back(static_cast<std::uint8_t>(state_ >> 56));
        }
        send(j_ % 2 == 0 ? 2 : 3, answer);
        ++j_;
    }

    std::deque<std::array<std::uint8_t, 4>> pending_;
    std::uint64_t j_ = 0;
    std::uint64_t state_ = 3;
};

// The traces of `periods` bit periods as a capture holds them before the stop: a point where a
// line changes, 128 ticks into its period, and the closing points.
inline osc::ChannelTraces linkTraces(std::uint64_t periods) {
    PolledLink link;
    osc::ChannelTraces traces;
    for (int c = 1; c < osc::kChannelCount; ++c) {
        traces[static_cast<std::size_t>(c)].add(
            0, osc::kChannels[static_cast<std::size_t>(c)].levelSet);
    }
    std::array<std::uint8_t, 4> last{};
    for (std::uint64_t p = 0; p < periods; ++p) {
        const std::array<std::uint8_t, 4> now = link.next();
        const osc::Tick x = static_cast<osc::Tick>(p + 1) * 256 + 128;
        for (int c = 1; c < osc::kChannelCount; ++c) {
            const auto i = static_cast<std::size_t>(c);
            if (p == 0 || now[i] != last[i]) {
                const osc::ChannelInfo& info = osc::kChannels[i];
                traces[i].add(x, now[i] != 0 ? info.levelClear : info.levelSet);
            }
        }
        last = now;
    }
    for (int c = 1; c < osc::kChannelCount; ++c) {
        osc::ChannelTrace& t = traces[static_cast<std::size_t>(c)];
        t.add(static_cast<osc::Tick>(periods + 1) * 256,
              t.y(static_cast<std::ptrdiff_t>(t.count() - 1)));
    }
    return traces;
}

// Sample datagrams of `periods` bit periods, 256 pairs each, as a device streams them: the
// strobe pair at time byte 0 with the data of the period before, the data pair at 128.
inline std::vector<std::vector<std::uint8_t>> linkDatagrams(std::uint64_t periods) {
    PolledLink link;
    std::vector<std::vector<std::uint8_t>> out;
    std::vector<std::uint8_t> d;
    std::uint8_t data = 0;
    for (std::uint64_t p = 0; p < periods; ++p) {
        if (d.empty()) {
            d = {0x23, 0x08, 0, 0, 0, 0, 0, 0};
        }
        const std::uint8_t strobe = p % 2 == 0 ? 0x04 : 0;
        d.push_back(static_cast<std::uint8_t>(strobe | data));
        d.push_back(0);
        const std::array<std::uint8_t, 4> bits = link.next();
        data = 0;
        for (int c = 1; c < osc::kChannelCount; ++c) {
            if (bits[static_cast<std::size_t>(c)] == 0) {
                data = static_cast<std::uint8_t>(
                    data | osc::kChannels[static_cast<std::size_t>(c)].statusBit);
            }
        }
        d.push_back(static_cast<std::uint8_t>(strobe | data));
        d.push_back(128);
        if (d.size() == 8 + 2 * 256) {
            out.push_back(std::move(d));
            d.clear();
        }
    }
    return out;
}

}  // namespace bench
