#include "core/frames/frame_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/frames/bit_stream.h"
#include "core/trace/trace_completion.h"

namespace osc {
namespace {

using Bits = std::vector<std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

const Bits kFlag{0, 1, 1, 1, 1, 1, 1, 0};

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

// The payload with its check appended as the link sends it.
Bytes withCheck(Bytes payload, FrameCheck check) {
    if (check == FrameCheck::X25) {
        const std::uint16_t c = crc16X25(payload);
        payload.push_back(static_cast<std::uint8_t>(c));
        payload.push_back(static_cast<std::uint8_t>(c >> 8));
    } else if (check == FrameCheck::CcittFalse) {
        const std::uint16_t c = crc16CcittFalse(payload);
        payload.push_back(static_cast<std::uint8_t>(c >> 8));
        payload.push_back(static_cast<std::uint8_t>(c));
    } else if (check == FrameCheck::Crc32) {
        const std::uint32_t c = crc32(payload);
        for (int k = 0; k < 4; ++k) {
            payload.push_back(static_cast<std::uint8_t>(c >> (8 * k)));
        }
    }
    return payload;
}

// The bits between the flags for whole bytes, in the bit order, stuffed when asked.
Bits dataBits(const Bytes& bytes, const FrameOptions& o) {
    Bits bits;
    int ones = 0;
    for (const std::uint8_t byte : bytes) {
        for (int k = 0; k < 8; ++k) {
            const int bit = (byte >> (o.order == BitOrder::LsbFirst ? k : 7 - k)) & 1;
            bits.push_back(static_cast<std::uint8_t>(bit));
            ones = bit != 0 ? ones + 1 : 0;
            if (o.stuffing && ones == 5) {
                bits.push_back(0);
                ones = 0;
            }
        }
    }
    return bits;
}

// A line built piece by piece, remembering where each piece starts.
struct Line {
    Bits bits;
    std::size_t add(const Bits& piece) {
        const std::size_t at = bits.size();
        bits.insert(bits.end(), piece.begin(), piece.end());
        return at;
    }
    std::size_t ones(std::size_t n) { return add(Bits(n, 1)); }
    // flag, data, flag; returns the frame's start. The end is bits.size() afterwards.
    std::size_t frame(const Bits& data) {
        const std::size_t at = add(kFlag);
        add(data);
        add(kFlag);
        return at;
    }
};

struct Expected {
    std::size_t start, end;
    std::string hex;
    FrameError error;
    std::uint32_t bitCount;
};

struct Row {
    std::string name;
    FrameOptions options;
    Bits bits;
    std::vector<Expected> frames;
};

Bits inverted(Bits b) {
    for (auto& x : b) {
        x ^= 1;
    }
    return b;
}

std::vector<Row> rows() {
    std::vector<Row> out;
    const FrameOptions lsb;
    const Bytes a = withCheck({0x01, 0x30}, FrameCheck::X25);
    const Bytes b = withCheck({0x7E, 0xFF, 0x1F}, FrameCheck::X25);
    const Bits da = dataBits(a, lsb);
    const Bits db = dataBits(b, lsb);
    const auto good = [](std::size_t s, std::size_t e, const Bytes& bytes) {
        return Expected{s, e, hex(bytes), FrameError::None,
                        static_cast<std::uint32_t>(bytes.size() * 8)};
    };
    {
        Line l;
        l.ones(10);
        const std::size_t s = l.frame(da);
        const std::size_t e = l.bits.size();
        l.ones(12);
        out.push_back({"one frame in idle ones", lsb, l.bits, {good(s, e, a)}});
    }
    {
        // 0111111011111110: the closing flag's last 0 opens the next frame.
        Line l;
        l.ones(3);
        const std::size_t s1 = l.add(kFlag);
        l.add(da);
        const std::size_t s2 = l.add(kFlag);
        l.add({1, 1, 1, 1, 1, 1, 0});
        l.add(db);
        l.add(kFlag);
        out.push_back({"flags sharing a zero",
                       lsb,
                       l.bits,
                       {good(s1, s2 + 8, a), good(s2 + 7, l.bits.size(), b)}});
    }
    {
        Line l;
        l.add(kFlag);
        l.add(kFlag);
        const std::size_t s = l.add(kFlag);
        l.add(da);
        l.add(kFlag);
        const std::size_t e = l.bits.size();
        l.add(kFlag);
        l.add(kFlag);
        l.add({0, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 0});  // idle flags sharing zeros
        l.ones(20);
        out.push_back({"back-to-back and idle flags", lsb, l.bits, {good(s, e, a)}});
    }
    {
        Line l;
        l.ones(9);
        const std::size_t s1 = l.add(kFlag);
        l.add(Bits(da.begin(), da.begin() + 12));
        const std::size_t abortAt = l.ones(9);
        l.ones(5);
        const std::size_t s2 = l.frame(db);
        Bytes part{a[0], static_cast<std::uint8_t>(a[1] & 0x0F)};
        out.push_back(
            {"abort inside a frame",
             lsb,
             l.bits,
             {{s1, abortAt + 7, hex(part), FrameError::Abort, 12}, good(s2, l.bits.size(), b)}});
    }
    {
        Line l;
        const std::size_t s1 =
            l.frame({1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1, 1, 0, 1, 0});
        const std::size_t e1 = l.bits.size();
        const std::size_t s2 = l.frame({1, 0, 0, 0, 0, 0, 0, 0});
        const std::size_t e2 = l.bits.size();
        l.ones(8);
        const std::size_t s3 = l.frame(dataBits({0x12, 0x34, 0x56}, lsb));  // no valid check
        out.push_back({"misaligned, too short, bad check",
                       lsb,
                       l.bits,
                       {{s1, e1, "4D 87 05 ", FrameError::Misaligned, 20},
                        {s2, e2, "01 ", FrameError::TooShort, 8},
                        {s3, l.bits.size(), "12 34 56 ", FrameError::BadCheck, 24}}});
    }
    {
        // The capture begins inside a frame and ends inside the next one.
        Line l;
        l.add(Bits(da.begin() + 5, da.end()));
        const std::size_t s1 = l.frame(db);
        const std::size_t e1 = l.bits.size();
        l.ones(8);
        const std::size_t s2 = l.add(kFlag);
        l.add(Bits(da.begin(), da.begin() + 10));
        l.ones(3);  // open 1s at the end count as data
        Bytes part{a[0], static_cast<std::uint8_t>((a[1] & 0x03) | 0x1C)};
        out.push_back(
            {"starts and ends inside frames",
             lsb,
             l.bits,
             {good(s1, e1, b), {s2, l.bits.size(), hex(part), FrameError::Unfinished, 13}}});
    }
    {
        FrameOptions o;
        o.maxLength = 4;
        Line l;
        const std::size_t s = l.add(kFlag);
        const Bits d = dataBits({0x11, 0x22, 0x33, 0x44, 0x55}, lsb);
        l.add(d);
        l.add(kFlag);
        const std::size_t s2 = l.frame(da);
        out.push_back({"too long",
                       o,
                       l.bits,
                       {{s, s + 8 + 33, "11 22 33 44 ", FrameError::TooLong, 32},
                        good(s2, l.bits.size(), a)}});
    }
    {
        // Exactly seven 1s abort; the flag right after them opens the next frame.
        Line l;
        l.ones(4);
        const std::size_t s1 = l.add(kFlag);
        l.add(Bits(da.begin(), da.begin() + 8));
        const std::size_t abortAt = l.ones(7);
        const std::size_t s2 = l.frame(db);
        out.push_back(
            {"abort by exactly seven ones",
             lsb,
             l.bits,
             {{s1, abortAt + 7, hex({a[0]}), FrameError::Abort, 8}, good(s2, l.bits.size(), b)}});
    }
    {
        // The minimum counts the check's bytes; a check longer than the minimum raises it.
        FrameOptions four;
        four.minLength = 4;
        const Bytes three = withCheck({0x01}, FrameCheck::X25);
        const Bytes fourBytes = withCheck({0x01, 0x02}, FrameCheck::X25);
        Line l;
        l.ones(2);
        const std::size_t s1 = l.frame(dataBits(three, four));
        const std::size_t e1 = l.bits.size();
        const std::size_t s2 = l.frame(dataBits(fourBytes, four));
        out.push_back(
            {"minimum length four",
             four,
             l.bits,
             {{s1, e1, hex(three), FrameError::TooShort, 24}, good(s2, l.bits.size(), fourBytes)}});

        FrameOptions one;
        one.minLength = 1;
        one.check = FrameCheck::Crc32;
        const Bytes crc = withCheck({0x42}, FrameCheck::Crc32);
        Line m;
        const std::size_t t1 = m.frame(dataBits({0x42, 0x00, 0x00}, one));
        const std::size_t f1 = m.bits.size();
        const std::size_t t2 = m.frame(dataBits(crc, one));
        out.push_back(
            {"crc32 needs its four bytes",
             one,
             m.bits,
             {{t1, f1, "42 00 00 ", FrameError::TooShort, 24}, good(t2, m.bits.size(), crc)}});

        FrameOptions bare;
        bare.minLength = 1;
        bare.check = FrameCheck::None;
        Line n;
        n.ones(3);
        const std::size_t u1 = n.frame(dataBits({0x42}, bare));
        out.push_back(
            {"one byte without a check", bare, n.bits, {good(u1, n.bits.size(), {0x42})}});

        // The 0 stuffed after the last five 1s is also the closing flag's first 0: a receiver
        // reads the frame, though a transmitter would have sent one 0 more.
        Line z;
        z.ones(2);
        const std::size_t v1 = z.add(kFlag);
        z.add(dataBits({0xFE, 0xFF}, bare));  // ends 11111 0
        z.add({1, 1, 1, 1, 1, 1, 0});
        out.push_back({"stuffed zero shared with the flag",
                       bare,
                       z.bits,
                       {good(v1, z.bits.size(), {0xFE, 0xFF})}});
    }
    // The same two frames under each option: the link's own encoding is found good.
    struct Variant {
        const char* name;
        FrameOptions o;
        FrameCheck sent;
    };
    FrameOptions msb;
    msb.order = BitOrder::MsbFirst;
    msb.check = FrameCheck::CcittFalse;
    FrameOptions plain;
    plain.stuffing = false;
    plain.check = FrameCheck::Crc32;
    FrameOptions none;
    none.check = FrameCheck::None;
    FrameOptions automatic;
    automatic.check = FrameCheck::Auto;
    FrameOptions inv;
    inv.invert = true;
    for (const Variant& v : {Variant{"msb first, ccitt-false", msb, FrameCheck::CcittFalse},
                             Variant{"no stuffing, crc32", plain, FrameCheck::Crc32},
                             Variant{"no check", none, FrameCheck::None},
                             Variant{"auto finds crc32", automatic, FrameCheck::Crc32},
                             Variant{"inverted", inv, FrameCheck::X25}}) {
        const Bytes p = withCheck({0x10, 0x20, 0x1F}, v.sent);
        const Bytes q = withCheck({0xA5, 0x00, 0x00, 0x01}, v.sent);
        Line l;
        l.ones(9);
        const std::size_t s1 = l.frame(dataBits(p, v.o));
        const std::size_t e1 = l.bits.size();
        l.ones(8);
        const std::size_t s2 = l.frame(dataBits(q, v.o));
        const Bits bits = v.o.invert ? inverted(l.bits) : l.bits;
        out.push_back({v.name, v.o, bits, {good(s1, e1, p), good(s2, l.bits.size(), q)}});
    }
    return out;
}

void expectFrames(const std::vector<Frame>& got, const Row& row, const std::string& how) {
    ASSERT_EQ(got.size(), row.frames.size()) << row.name << " " << how;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const Expected& e = row.frames[i];
        EXPECT_EQ(got[i].start, static_cast<Tick>(e.start)) << row.name << " frame " << i;
        EXPECT_EQ(got[i].end, static_cast<Tick>(e.end)) << row.name << " frame " << i;
        EXPECT_EQ(hex(got[i].bytes.vector()), e.hex) << row.name << " frame " << i;
        EXPECT_EQ(got[i].error, e.error) << row.name << " frame " << i;
        EXPECT_EQ(got[i].bitCount, e.bitCount) << row.name << " frame " << i;
        const bool checked = e.error == FrameError::None || e.error == FrameError::BadCheck;
        if (checked && row.options.check != FrameCheck::None) {
            EXPECT_EQ(got[i].status,
                      e.error == FrameError::None ? CheckStatus::Good : CheckStatus::Bad)
                << row.name << " frame " << i;
        } else {
            EXPECT_EQ(got[i].status, CheckStatus::None) << row.name << " frame " << i;
        }
    }
}

// A trace that carries bit i in the bit period from tick (i + 1) * 256 + 128 as a device would
// record it: a point at the first bit and at each change, and a closing point one period after
// the last bit. The first point lies at 384, so every bit is read.
ChannelTrace traceOf(const Bits& bits) {
    ChannelTrace t;
    const auto tickOf = [](std::size_t i) { return static_cast<Tick>(i + 1) * 256 + 128; };
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (i == 0 || bits[i] != bits[i - 1]) {
            t.add(tickOf(i), bits[i] != 0 ? 4 : 3);
        }
    }
    if (!bits.empty()) {
        t.add(tickOf(bits.size()), bits.back() != 0 ? 4 : 3);
    }
    return t;
}

std::vector<Frame> decodeTrace(const ChannelTrace& trace, const FrameOptions& o,
                               std::mt19937& rng) {
    // Whatever the pieces, the result is the same: finish is the only point that matters.
    ChannelFrameDecoder d(2, o);
    for (const TracePoint p : trace.points()) {
        d.addPoint(p.x, p.y);
        if (rng() % 3 == 0) {
            (void)d.frames();  // looking in between changes nothing
        }
    }
    d.finish();
    return {d.frames().begin(), d.frames().end()};
}

TEST(FrameDecoder, NamedBitPatterns) {
    std::mt19937 rng(7);
    for (const Row& row : rows()) {
        expectFrames(decodeFrameBits(row.bits, row.options), row, "in one piece");

        // Fed in random runs, each bit run cut anywhere.
        FrameBitDecoder pieces(row.options);
        for (std::size_t i = 0; i < row.bits.size();) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % 9, row.bits.size() - i);
            pieces.feed(std::span(row.bits).subspan(i, n));
            i += n;
        }
        pieces.finish();
        expectFrames({pieces.frames().begin(), pieces.frames().end()}, row, "in pieces");

        // As a channel trace: the real points with the gaps read as completed, and the
        // completed trace itself, give the same frames, positions in ticks.
        Bits withClosing = row.bits;
        withClosing.push_back(row.bits.back());
        const std::vector<Frame> byBits = decodeFrameBits(withClosing, row.options);
        ChannelTrace trace = traceOf(row.bits);
        const std::vector<Frame> real = decodeTrace(trace, row.options, rng);
        CompleteTrace(trace);
        const std::vector<Frame> completed = decodeTrace(trace, row.options, rng);
        ASSERT_EQ(real.size(), byBits.size()) << row.name;
        for (std::size_t i = 0; i < real.size(); ++i) {
            Frame expected = byBits[i];
            expected.channel = 2;
            expected.start = (expected.start + 1) * 256 + 128;
            expected.end = (expected.end + 1) * 256 + 128;
            EXPECT_EQ(real[i], expected) << row.name << " frame " << i;
        }
        EXPECT_EQ(completed, real) << row.name;
    }
}

TEST(FrameDecoder, ChecksAndCounts) {
    const std::string digits = "123456789";
    const Bytes d(digits.begin(), digits.end());
    EXPECT_EQ(crc16X25(d), 0x906E);
    EXPECT_EQ(crc16CcittFalse(d), 0x29B1);
    EXPECT_EQ(crc32(d), 0xCBF43926u);
    EXPECT_EQ(matchingChecks(withCheck(d, FrameCheck::CcittFalse)),
              1u << static_cast<int>(FrameCheck::CcittFalse));

    // Auto: the check of most frames; a frame that fits another one is then bad, and the
    // choice follows the majority as it changes.
    FrameOptions o;
    o.check = FrameCheck::Auto;
    FrameBitDecoder dec(o);
    const auto send = [&](const Bytes& payload, FrameCheck c) {
        dec.feed(kFlag);
        dec.feed(dataBits(withCheck(payload, c), o));
        dec.feed(kFlag);
        dec.feed(Bits(10, 1));
    };
    EXPECT_EQ(dec.checkInUse(), FrameCheck::None);
    send({1, 2, 3}, FrameCheck::Crc32);
    EXPECT_EQ(dec.checkInUse(), FrameCheck::Crc32);
    EXPECT_EQ(dec.counts().good, 1u);
    send({4, 5}, FrameCheck::X25);
    send({6, 7}, FrameCheck::X25);
    EXPECT_EQ(dec.checkInUse(), FrameCheck::X25);
    const FrameCounts c = dec.counts();
    EXPECT_EQ(c.frames, 3u);
    EXPECT_EQ(c.good, 2u);
    EXPECT_EQ(c.bad, 1u);
    EXPECT_EQ(c.byError[static_cast<int>(FrameError::BadCheck)], 1u);
    EXPECT_EQ(dec.frames()[0].error, FrameError::BadCheck);
    EXPECT_EQ(dec.frames()[1].checkBytes(), 2u);
}

// Random lines of frames, idle time, noise and glitches: the trace decoder fed the real points
// equals one pass over the completed trace, every good frame's bits between start and end are
// its bytes encoded again, and the bit-stream decoder between them shows its bytes.
TEST(FrameDecoder, RandomLinesAgreeAndReencode) {
    std::mt19937 rng(11);
    std::size_t goodFrames = 0;
    std::size_t readByMarker = 0;
    for (int round = 0; round < 60; ++round) {
        FrameOptions o;
        o.invert = rng() % 4 == 0;
        o.order = rng() % 3 == 0 ? BitOrder::MsbFirst : BitOrder::LsbFirst;
        o.check = static_cast<FrameCheck>(rng() % 5);
        Line l;
        for (int piece = 0; piece < 40; ++piece) {
            const unsigned kind = rng() % 6;
            if (kind == 0) {
                l.ones(1 + rng() % 20);
            } else if (kind == 1) {
                Bits noise(1 + rng() % 12);
                for (auto& b : noise) {
                    b = static_cast<std::uint8_t>(rng() % 2);
                }
                l.add(noise);
            } else {
                Bytes payload(rng() % 6);
                for (auto& b : payload) {
                    b = static_cast<std::uint8_t>(rng());
                }
                const FrameCheck sent = o.check == FrameCheck::Auto ? FrameCheck::X25 : o.check;
                l.frame(dataBits(withCheck(payload, sent), o));
            }
        }
        const Bits line = o.invert ? inverted(l.bits) : l.bits;

        // Time bytes regular in even rounds; in odd ones some changes land early or late, which
        // loses or adds bits and breaks some frames.
        ChannelTrace trace;
        Tick x = 1000;
        for (std::size_t i = 0; i < line.size(); ++i) {
            x += 256;
            if (i == 0 || line[i] != line[i - 1]) {
                const Tick jitter =
                    round % 2 == 1 && rng() % 4 == 0 ? static_cast<Tick>(rng() % 300) - 150 : 0;
                trace.add(x + jitter, line[i] != 0 ? 6 : 5);
            }
        }
        trace.add(x + 256, 6);
        ChannelFrameDecoder live(1, o);
        for (const TracePoint p : trace.points()) {
            live.addPoint(p.x, p.y);
        }
        live.finish();
        ChannelTrace completed = trace;
        CompleteTrace(completed);
        ChannelFrameDecoder once(1, o);
        std::vector<Tick> readTicks;
        std::vector<std::uint8_t> readBits;
        Tick last = -1;
        for (const TracePoint p : completed.points()) {
            once.addPoint(p.x, p.y);
            if (p.x - last >= 256) {
                last = p.x;
                readTicks.push_back(p.x);
                readBits.push_back(static_cast<std::uint8_t>((p.y + 1) % 2));
            }
        }
        once.finish();
        ASSERT_EQ(live.frames(), once.frames()) << "round " << round;

        for (const Frame& f : once.frames()) {
            if (!f.good()) {
                continue;
            }
            ++goodFrames;
            const auto from = std::lower_bound(readTicks.begin(), readTicks.end(), f.start);
            const auto to = std::lower_bound(readTicks.begin(), readTicks.end(), f.end);
            ASSERT_EQ(*from, f.start);
            Bits between(readBits.begin() + (from - readTicks.begin()),
                         readBits.begin() + (to - readTicks.begin()));
            if (o.invert) {
                between = inverted(between);
            }
            Bits again = kFlag;
            const Bits data = dataBits(f.bytes.vector(), o);
            again.insert(again.end(), data.begin(), data.end());
            again.insert(again.end(), kFlag.begin(), kFlag.end());
            ASSERT_EQ(between, again) << "round " << round << " frame at " << f.start;

            // The operator's reading: marker at the start, cursor at the end.
            if (f.end - f.start < 257 * 256) {
                ChannelTraces traces;
                traces[1] = completed;
                BitStreamOptions b;
                b.reverse = o.order == BitOrder::MsbFirst;
                b.invert = o.invert;
                b.unstuff = o.stuffing;
                const BitStreamResult r = DecodeBitStream(traces, 1, static_cast<double>(f.start),
                                                          static_cast<double>(f.end), b);
                EXPECT_EQ(r.valueText, "7E " + hex(f.bytes.vector()) + "7E ") << "round " << round;
                ++readByMarker;
            }
        }
    }
    EXPECT_GT(goodFrames, 30u * 20u);
    EXPECT_GT(readByMarker, goodFrames / 2);
}

// A frame's bytes behave as a std::vector of them whether held in place or on the heap: every
// copy, move and assignment between sizes on both sides of the in-place limit, compared.
TEST(FrameDecoder, FrameBytesBehaveAsVector) {
    const std::vector<std::size_t> sizes{0,  1,   15, FrameBytes::kInline, FrameBytes::kInline + 1,
                                         40, 4096};
    auto make = [](std::size_t n, int seed) {
        Bytes v(n);
        for (std::size_t i = 0; i < n; ++i) {
            v[i] = static_cast<std::uint8_t>(seed * 31 + static_cast<int>(i) * 7);
        }
        return v;
    };
    for (const std::size_t a : sizes) {
        for (const std::size_t b : sizes) {
            const Bytes va = make(a, 1), vb = make(b, 2);
            FrameBytes fa(va), fb(vb);
            EXPECT_EQ(fa == fb, va == vb) << a << ' ' << b;
            EXPECT_EQ(fa < fb, va < vb) << a << ' ' << b;
            FrameBytes copy(fa);
            copy = fb;  // copy assignment across sizes
            EXPECT_EQ(copy.vector(), vb) << a << ' ' << b;
            FrameBytes moved(std::move(copy));
            EXPECT_EQ(moved.vector(), vb) << a << ' ' << b;
            EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): left empty
            moved = FrameBytes(va);     // move assignment across sizes
            EXPECT_EQ(moved.vector(), va) << a << ' ' << b;
            moved.assign(vb);  // reuse of a heap block large enough
            EXPECT_EQ(moved.vector(), vb) << a << ' ' << b;
            FrameBytes& self = moved;
            moved = self;
            EXPECT_EQ(moved.vector(), vb) << a << ' ' << b;
        }
    }
}

}  // namespace
}  // namespace osc
