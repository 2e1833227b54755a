// GCC 12 reports a false free-nonheap-object on the vectors inlined here (optimised build).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"
#endif
// Builds a line of bits (frames encoded with the chosen options, runs of 1s and 0s, raw noise)
// and decoder options from the input; checks that the frame decoder fed in random pieces
// equals one pass, that every good frame's bits between its start and end are its bytes
// encoded again, and that the trace decoder fed live from the real points of a trace with
// irregular time bytes (read in batches cut anywhere) equals one pass over the completed trace.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "core/frames/capture_frames.h"
#include "core/frames/frame_decoder.h"
#include "core/trace/trace_completion.h"

namespace {

using Bits = std::vector<std::uint8_t>;

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

const Bits kFlag{0, 1, 1, 1, 1, 1, 1, 0};

void appendData(Bits& line, const std::vector<std::uint8_t>& bytes, const osc::FrameOptions& o) {
    int ones = 0;
    for (const std::uint8_t byte : bytes) {
        for (int k = 0; k < 8; ++k) {
            const int bit = (byte >> (o.order == osc::BitOrder::LsbFirst ? k : 7 - k)) & 1;
            line.push_back(static_cast<std::uint8_t>(bit));
            ones = bit != 0 ? ones + 1 : 0;
            if (o.stuffing && ones == 5) {
                line.push_back(0);
                ones = 0;
            }
        }
    }
}

void appendCheck(std::vector<std::uint8_t>& p, osc::FrameCheck check) {
    if (check == osc::FrameCheck::X25 || check == osc::FrameCheck::Auto) {
        const std::uint16_t c = osc::crc16X25(p);
        p.push_back(static_cast<std::uint8_t>(c));
        p.push_back(static_cast<std::uint8_t>(c >> 8));
    } else if (check == osc::FrameCheck::CcittFalse) {
        const std::uint16_t c = osc::crc16CcittFalse(p);
        p.push_back(static_cast<std::uint8_t>(c >> 8));
        p.push_back(static_cast<std::uint8_t>(c));
    } else if (check == osc::FrameCheck::Crc32) {
        const std::uint32_t c = osc::crc32(p);
        for (int k = 0; k < 4; ++k) {
            p.push_back(static_cast<std::uint8_t>(c >> (8 * k)));
        }
    }
}

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t flags = in.u8();
    osc::FrameOptions o;
    o.invert = (flags & 1) != 0;
    o.order = (flags & 2) != 0 ? osc::BitOrder::MsbFirst : osc::BitOrder::LsbFirst;
    o.stuffing = (flags & 4) == 0;
    o.check = static_cast<osc::FrameCheck>((flags >> 3) % 5);
    o.minLength = static_cast<int>(in.u8() % 8) + 1;
    o.maxLength = static_cast<int>(in.u8() % 64) + 1;
    const std::uint8_t seed = in.u8();

    Bits line;
    while (!in.empty() && line.size() < 20000) {
        const std::uint8_t op = in.u8();
        const unsigned low = op & 0x3F;
        switch (op >> 6) {
            case 0:
                for (int k = 0; k < 6; ++k) {
                    line.push_back(static_cast<std::uint8_t>((low >> k) & 1));
                }
                break;
            case 1:
                line.insert(line.end(), low + 1, 1);
                break;
            case 2:
                line.insert(line.end(), (low % 16) + 1, 0);
                break;
            default: {
                std::vector<std::uint8_t> payload(low % 16);
                for (auto& b : payload) {
                    b = in.u8();
                }
                appendCheck(payload, o.check);
                line.insert(line.end(), kFlag.begin(), kFlag.end());
                appendData(line, payload, o);
                line.insert(line.end(), kFlag.begin(), kFlag.end());
                break;
            }
        }
    }
    if (o.invert) {
        for (auto& b : line) {
            b ^= 1;
        }
    }

    // Bits: one pass against pieces cut anywhere.
    const std::vector<osc::Frame> once = osc::decodeFrameBits(line, o);
    osc::FrameBitDecoder pieces(o);
    std::uint32_t rng = 0x9E3779B9u ^ seed;
    const auto next = [&rng] {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        return rng;
    };
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t n = std::min<std::size_t>(1 + next() % 40, line.size() - i);
        pieces.feed(std::span(line).subspan(i, n));
        if (next() % 4 == 0) {
            (void)pieces.counts();
        }
        i += n;
    }
    pieces.finish();
    require(std::equal(pieces.frames().begin(), pieces.frames().end(), once.begin(), once.end()));

    osc::FrameCounts counted;
    for (const osc::Frame& f : once) {
        ++counted.frames;
        ++(f.good() ? counted.good : counted.bad);
        ++counted.byError[static_cast<std::size_t>(f.error)];
        require(f.start < f.end && f.end <= static_cast<osc::Tick>(line.size()));
        require(f.bytes.size() == (f.bitCount + 7) / 8);
        require(f.bitCount <= static_cast<std::uint32_t>(o.maxLength) * 8);
        if (!f.good()) {
            continue;
        }
        Bits again = kFlag;
        appendData(again, f.bytes.vector(), o);
        const std::size_t dataEnd = again.size();
        again.insert(again.end(), kFlag.begin(), kFlag.end());
        Bits between(line.begin() + f.start, line.begin() + f.end);
        if (o.invert) {
            for (auto& b : between) {
                b ^= 1;
            }
        }
        // A receiver also takes the 0 stuffed after the data's last five 1s as the closing
        // flag's first 0, though a transmitter sends both.
        Bits shared = again;
        if (o.stuffing && dataEnd >= 14 &&
            std::all_of(again.begin() + dataEnd - 6, again.begin() + dataEnd - 1,
                        [](std::uint8_t b) { return b == 1; })) {
            shared.erase(shared.begin() + static_cast<std::ptrdiff_t>(dataEnd) - 1);
        }
        require(between == again || between == shared);
    }
    require(counted == pieces.counts());

    // A trace of the line: one bit a period, some changes early or late, far from tick 0 or
    // close to the end of the tick range.
    osc::ChannelTraces traces;
    osc::ChannelTrace& trace = traces[2];
    const osc::Tick base = (seed & 1) != 0 ? std::numeric_limits<osc::Tick>::max() -
                                                 static_cast<osc::Tick>(line.size() + 64) * 256
                                           : static_cast<osc::Tick>(seed) * 1000003;
    osc::Tick x = base;
    trace.add(x, 3);
    for (std::size_t i = 0; i < line.size(); ++i) {
        x += 256;
        if (i == 0 || line[i] != line[i - 1]) {
            const osc::Tick jitter =
                next() % 8 == 0 ? static_cast<osc::Tick>(next() % 400) - 200 : 0;
            trace.add(x + jitter, line[i] != 0 ? 4 : 3);
        }
    }
    trace.add(x + 256, 4);

    osc::CaptureFrames live;
    live.setEnabled(true);
    live.setOptions(o, 1u << 2);
    live.restart();
    for (osc::Tick t = base; t < x; t += static_cast<osc::Tick>(1 + next() % 5000)) {
        live.follow(traces, t);
        if (next() % 3 == 0) {
            (void)live.counts(2);  // reads what is settled so far
        }
    }
    live.finish(traces);

    osc::ChannelTrace completed = trace;
    osc::CompleteTrace(completed);
    osc::ChannelFrameDecoder single(2, o);
    for (const osc::TracePoint p : completed.points()) {
        single.addPoint(p.x, p.y);
    }
    single.finish();
    require(live.frames(2) == single.frames());
    return 0;
}
