#pragma once
// A capture of framed lines for the benchmarks: channels 1 to 3 each carry frames of 2 to 9
// bytes with an X.25 check (about one in 40 with a bit flipped), 8 to 40 idle bit periods
// apart, one point per level change; the engine as the stop leaves it (frames finished,
// traces completed).

#include <cstdint>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/frames/frame_decoder.h"

namespace bench {

inline void fillFramedCapture(osc::CaptureEngine& engine, std::size_t framesPerChannel,
                              std::uint64_t seed = 1) {
    engine.frames.setEnabled(true);
    engine.frames.setOptions({});
    engine.resetTimeBase();
    engine.restartTraces();
    std::uint64_t state = seed;
    auto random = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state >> 33);
    };
    std::uint64_t longest = 0;
    std::vector<std::uint8_t> bits;
    for (int c = 1; c < osc::kChannelCount; ++c) {
        const osc::ChannelInfo& info = osc::kChannels[static_cast<std::size_t>(c)];
        osc::ChannelTrace& trace = engine.traces[static_cast<std::size_t>(c)];
        std::uint64_t at = 0;  // bit number; bit i lies at tick (i + 1) * 256
        int level = -1;
        auto put = [&](int bit) {
            if (bit != level) {
                trace.add(static_cast<osc::Tick>(at + 1) * 256,
                          bit != 0 ? info.levelClear : info.levelSet);
                level = bit;
            }
            ++at;
        };
        for (std::size_t k = 0; k < framesPerChannel; ++k) {
            const std::uint32_t idle = 8 + random() % 33;
            for (std::uint32_t i = 0; i < idle; ++i) {
                put(1);
            }
            std::vector<std::uint8_t> bytes(2 + random() % 8);
            for (auto& b : bytes) {
                b = static_cast<std::uint8_t>(random());
            }
            const std::uint16_t check = osc::crc16X25(bytes);
            bytes.push_back(static_cast<std::uint8_t>(check));
            bytes.push_back(static_cast<std::uint8_t>(check >> 8));
            bits.assign({0, 1, 1, 1, 1, 1, 1, 0});
            int ones = 0;
            for (const std::uint8_t b : bytes) {
                for (int i = 0; i < 8; ++i) {
                    const std::uint8_t bit = (b >> i) & 1;
                    bits.push_back(bit);
                    ones = bit != 0 ? ones + 1 : 0;
                    if (ones == 5) {
                        bits.push_back(0);
                        ones = 0;
                    }
                }
            }
            if (random() % 40 == 0) {
                bits[8 + random() % 8] ^= 1;
            }
            bits.insert(bits.end(), {0, 1, 1, 1, 1, 1, 1, 0});
            for (const std::uint8_t bit : bits) {
                put(bit);
            }
        }
        put(1);
        longest = std::max(longest, at);
    }
    engine.state.FTimeBase = static_cast<osc::Tick>(longest + 1) * 256;
    engine.state.FLastStatus = 0;
    engine.closeTraces();
    engine.completeTraces();
}

}  // namespace bench
