// The frames of a recorded simulated session, decoded live by the capture engine, against the
// frames the simulated device sent, against one pass over the completed traces and against the
// bit-stream decoder between each frame's start and end.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/frames/bit_stream.h"
#include "sim/hdlc.h"
#include "sim/sim_device.h"

namespace osc::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Datagram = std::vector<std::uint8_t>;

constexpr std::uint8_t kDataBits = 0x40 | 0x80 | 0x10;

std::vector<Datagram> record(int datagrams, std::uint64_t seed,
                             std::vector<SentFrame>* sent = nullptr) {
    DeviceOptions options;
    options.link.seed = seed;
    SimulatedDevice device("10.0.0.9", options);
    device.link().keepLog(sent != nullptr);
    std::vector<Datagram> out;
    for (int i = 0; i < datagrams; ++i) {
        out.push_back(device.nextDatagram());
    }
    if (sent != nullptr) {
        *sent = device.link().log();
    }
    return out;
}

// A capture whose frames are looked at every few datagrams, as the window's table does: what
// it shows during the capture stays as it was shown, the later frames come after it.
void capture(CaptureEngine& engine, const std::vector<Datagram>& stream, FrameOptions o) {
    engine.frames.setEnabled(true);
    engine.frames.setOptions(o);
    engine.resetTimeBase();
    engine.restartTraces();
    std::array<FrameSequence, kChannelCount> shown;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        engine.decodeDatagram(stream[i]);
        if (i % 7 == 3) {
            for (int c = 1; c < kChannelCount; ++c) {
                shown[static_cast<std::size_t>(c)] = engine.frames.frames(c);
            }
        }
    }
    engine.closeTraces();
    engine.completeTraces();
    for (int c = 1; c < kChannelCount; ++c) {
        const FrameSequence& before = shown[static_cast<std::size_t>(c)];
        const FrameSequence& after = engine.frames.frames(c);
        ASSERT_FALSE(before.empty()) << "channel " << c;
        ASSERT_LE(before.size(), after.size()) << "channel " << c;
        EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << "channel " << c;
    }
}

std::string hex(const Bytes& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
        out += ' ';
    }
    return out;
}

Bytes payloadOf(const Frame& f) {
    return Bytes(f.bytes.begin(), f.bytes.end() - static_cast<std::ptrdiff_t>(f.checkBytes()));
}

// The bit period whose data line change lies at tick t (the device changes lines 128 ticks
// into a period; a fresh decoder opens period 0 at tick 256).
std::size_t periodAt(Tick t) {
    return static_cast<std::size_t>((t - kDataChangeTime) / kTicksPerBit - 1);
}

// Flips channel bit `bit` during period p: the pair that sets the period's data and the strobe
// pair of the next period, which repeats it.
void flip(std::vector<Datagram>& stream, std::size_t pairsPerDatagram, std::size_t p,
          std::uint8_t bit) {
    for (const std::size_t pair : {2 * p + 1, 2 * p + 2}) {
        Datagram& d = stream[pair / pairsPerDatagram];
        d[8 + 2 * (pair % pairsPerDatagram)] ^= bit;
    }
}

TEST(FrameSession, FramesEqualWhatTheDeviceSent) {
    std::vector<SentFrame> log;
    const std::vector<Datagram> stream = record(200, 5, &log);  // 25600 bit periods
    CaptureEngine engine;
    capture(engine, stream, {});

    // Transmit line: the commands; receive lines: the answers of the two stations. Every frame
    // good and in order; only the last may be cut by the end.
    struct Line {
        int channel;
        LinkLine line;
    };
    for (const Line line :
         {Line{1, LinkLine::Transmit}, Line{2, LinkLine::Receive1}, Line{3, LinkLine::Receive2}}) {
        std::vector<const SentFrame*> sentOnLine;
        for (const SentFrame& f : log) {
            if (f.line == line.line) {
                sentOnLine.push_back(&f);
            }
        }
        const FrameSequence& frames = engine.frames.frames(line.channel);
        ASSERT_GE(frames.size(), 50u) << "channel " << line.channel;
        ASSERT_LE(frames.size(), sentOnLine.size()) << "channel " << line.channel;
        for (std::size_t j = 0; j < frames.size(); ++j) {
            const Frame& f = frames[j];
            if (j + 1 == frames.size() && f.error == FrameError::Unfinished) {
                continue;
            }
            ASSERT_TRUE(f.good()) << "channel " << line.channel << " frame " << j << " "
                                  << frameErrorName(f.error);
            EXPECT_EQ(f.status, CheckStatus::Good);
            EXPECT_EQ(f.channel, line.channel);
            EXPECT_EQ(payloadOf(f), sentOnLine[j]->bytes)
                << "channel " << line.channel << " frame " << j;
            // The device's period p changes the lines at tick (p + 1) * 256 + 128.
            EXPECT_EQ(f.start,
                      static_cast<Tick>(sentOnLine[j]->start + 1) * kTicksPerBit + kDataChangeTime);

            // The marker at the start, the cursor at the end, "Стафф" ticked: the flags and the
            // frame's bytes between them.
            BitStreamOptions b;
            b.unstuff = true;
            const BitStreamResult r =
                DecodeBitStream(engine.traces, line.channel, static_cast<double>(f.start),
                                static_cast<double>(f.end), b);
            ASSERT_EQ(r.status, BitStreamStatus::Decoded);
            EXPECT_EQ(r.valueText, "7E " + hex(f.bytes.vector()) + "7E ") << "frame " << j;
        }
    }
    EXPECT_TRUE(engine.frames.frames(0).empty());

    // One pass over the completed traces gives the same frames as the live decoding.
    for (int c = 1; c < kChannelCount; ++c) {
        ChannelFrameDecoder once(c);
        for (const TracePoint p : engine.traces[static_cast<std::size_t>(c)].points()) {
            once.addPoint(p.x, p.y);
        }
        once.finish();
        EXPECT_EQ(once.frames(), engine.frames.frames(c)) << "channel " << c;
    }
    const std::vector<Frame> all = engine.frames.byStart();
    ASSERT_EQ(all.size(), engine.frames.frames(1).size() + engine.frames.frames(2).size() +
                              engine.frames.frames(3).size());
    for (std::size_t i = 1; i < all.size(); ++i) {
        ASSERT_LE(all[i - 1].start, all[i].start);
    }
}

TEST(FrameSession, InvertedLinesAndBitErrors) {
    const std::vector<Datagram> clean = record(120, 9);
    CaptureEngine reference;
    capture(reference, clean, {});

    // The same session with every data line inverted, read with the inversion on.
    std::vector<Datagram> inverted = clean;
    for (Datagram& d : inverted) {
        for (std::size_t i = 8; i < d.size(); i += 2) {
            d[i] ^= kDataBits;
        }
    }
    CaptureEngine invertedEngine;
    FrameOptions inv;
    inv.invert = true;
    capture(invertedEngine, inverted, inv);
    for (int c = 1; c < kChannelCount; ++c) {
        EXPECT_EQ(invertedEngine.frames.frames(c), reference.frames.frames(c)) << "channel " << c;
    }

    // One bit flipped in the middle of every third frame: those frames are bad, the others
    // come out exactly as before.
    std::vector<Datagram> damaged = clean;
    const std::size_t pairs = (clean[0].size() - 8) / 2;
    struct Hit {
        int channel;
        Tick start, end;
    };
    std::vector<Hit> hits;
    for (int c = 1; c < kChannelCount; ++c) {
        const FrameSequence& frames = reference.frames.frames(c);
        for (std::size_t j = 0; j < frames.size(); j += 3) {
            const Frame& f = frames[j];
            if (!f.good()) {
                continue;
            }
            const std::size_t p = (periodAt(f.start) + periodAt(f.end)) / 2;
            flip(damaged, pairs, p, kChannels[static_cast<std::size_t>(c)].statusBit);
            hits.push_back({c, f.start, f.end});
        }
    }
    ASSERT_GE(hits.size(), 20u);
    CaptureEngine damagedEngine;
    capture(damagedEngine, damaged, {});
    for (int c = 1; c < kChannelCount; ++c) {
        const FrameSequence& got = damagedEngine.frames.frames(c);
        const auto hitAt = [&](Tick t) {
            for (const Hit& h : hits) {
                if (h.channel == c && t >= h.start && t < h.end) {
                    return true;
                }
            }
            return false;
        };
        for (const Frame& f : reference.frames.frames(c)) {
            if (f.error == FrameError::Unfinished) {
                continue;  // cut by the end, maybe opened by the closing flag of a frame hit
            }
            bool found = false;
            for (const Frame& g : got) {
                found = found || g == f;
            }
            EXPECT_EQ(found, !hitAt(f.start)) << "channel " << c << " frame at " << f.start;
        }
        for (const Frame& g : got) {
            if (hitAt(g.start)) {
                EXPECT_FALSE(g.good()) << "channel " << c << " frame at " << g.start;
            }
        }
        for (const Hit& h : hits) {
            bool reported = false;
            for (const Frame& g : got) {
                reported = reported || (h.channel == c && g.start == h.start && !g.good());
            }
            EXPECT_EQ(reported, h.channel == c) << "channel " << c << " frame at " << h.start;
        }
        const FrameCounts counts = damagedEngine.frames.counts(c);
        EXPECT_GE(counts.bad, 1u);
        EXPECT_EQ(counts.good + counts.bad, counts.frames);
    }
}

}  // namespace
}  // namespace osc::sim
