#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "core/protocol/sample_decoder.h"

#include "tests/core/core_test_support.h"

namespace osc {
namespace {

using test_support::Bytes;
using test_support::Point;
using test_support::Points;
using test_support::points;
using test_support::sample;

struct Decoder {
    DecoderState state;
    ChannelTraces traces;
    DatagramKind feed(const Bytes& d) { return decodeDatagram(state, d, traces); }
    Points of(int c) const { return points(traces[static_cast<std::size_t>(c)]); }
    std::size_t total() const {
        std::size_t n = 0;
        for (const ChannelTrace& t : traces) {
            n += t.count();
        }
        return n;
    }
};

TEST(SampleDecoder, WorkedExample) {
    Decoder d;
    EXPECT_EQ(d.feed(sample({{0x04, 0}, {0x44, 17}, {0x40, 0}})), DatagramKind::Sample);
    EXPECT_EQ(d.of(0), (Points{{256, 7}, {512, 8}}));
    EXPECT_EQ(d.of(1), (Points{{273, 5}}));
    EXPECT_TRUE(d.of(2).empty());
    EXPECT_TRUE(d.of(3).empty());
    EXPECT_EQ(d.state.FTimeBase, 512);
    EXPECT_EQ(d.state.FLastStrobe, 0);
    EXPECT_EQ(d.state.FLastStatus, 0x40);
}

TEST(SampleDecoder, SamePairsSplitAcrossDatagramsGiveTheSamePoints) {
    Decoder whole;
    whole.feed(sample({{0x04, 0}, {0x44, 17}, {0x40, 0}, {0xD4, 0}, {0x00, 9}}));
    Decoder split;
    split.feed(sample({{0x04, 0}, {0x44, 17}}));
    split.feed(sample({}));
    split.feed(sample({{0x40, 0}}));
    split.feed(sample({{0xD4, 0}, {0x00, 9}}, 0x09));
    for (int c = 0; c < kChannelCount; ++c) {
        EXPECT_EQ(whole.of(c), split.of(c)) << "channel " << c;
    }
    EXPECT_EQ(whole.state.FTimeBase, split.state.FTimeBase);
}

TEST(SampleDecoder, TimeBaseRule) {
    struct Row {
        const char* name;
        Bytes datagram;
        Tick timeBase;
        Points strobe;
    };
    const Row rows[] = {
        {"first strobe edge opens a period", sample({{0x04, 0}}), 256, {{256, 7}}},
        {"time byte 0 without a strobe change", sample({{0x40, 0}, {0x00, 0}}), 0, {}},
        {"strobe edge with time byte 5, then time byte 0 with the same strobe",
         sample({{0x04, 5}, {0x04, 0}}),
         0,
         {{5, 7}}},
        {"edge with time 5 then a real edge",
         sample({{0x04, 5}, {0x00, 0}}),
         256,
         {{5, 7}, {256, 8}}},
        {"every edge at time 0 adds a period",
         sample({{0x04, 0}, {0x00, 0}, {0x04, 0}, {0x00, 0}}),
         1024,
         {{256, 7}, {512, 8}, {768, 7}, {1024, 8}}},
        {"time byte 255 stays in the period",
         sample({{0x04, 0}, {0x00, 255}}),
         256,
         {{256, 7}, {511, 8}}},
    };
    for (const Row& row : rows) {
        Decoder d;
        d.feed(row.datagram);
        EXPECT_EQ(d.state.FTimeBase, row.timeBase) << row.name;
        EXPECT_EQ(d.of(0), row.strobe) << row.name;
    }
}

TEST(SampleDecoder, ChannelsChangeInOrderAtTheSameX) {
    Decoder d;
    d.feed(sample({{0x04 | 0x40 | 0x80 | 0x10, 0}}));
    EXPECT_EQ(d.of(0), (Points{{256, 7}}));
    EXPECT_EQ(d.of(1), (Points{{256, 5}}));
    EXPECT_EQ(d.of(2), (Points{{256, 3}}));
    EXPECT_EQ(d.of(3), (Points{{256, 1}}));
    d.feed(sample({{0x04, 30}}));  // receive lines and transmit clear again
    EXPECT_EQ(d.of(0), (Points{{256, 7}}));
    EXPECT_EQ(d.of(1), (Points{{256, 5}, {286, 6}}));
    EXPECT_EQ(d.of(2), (Points{{256, 3}, {286, 4}}));
    EXPECT_EQ(d.of(3), (Points{{256, 1}, {286, 2}}));
}

TEST(SampleDecoder, UnchangedOrUnusedBitsAppendNothing) {
    Decoder d;
    d.feed(sample({{0x01, 3}, {0x02, 4}, {0x08, 5}, {0x20, 6}, {0x2B, 7}, {0x2B, 8}}));
    EXPECT_EQ(d.total(), 0u);
    EXPECT_EQ(d.state.FLastStatus, 0x2B);
    EXPECT_EQ(d.state.FTimeBase, 0);
}

TEST(SampleDecoder, StateCarriesOverIntoTheNextCapture) {
    Decoder d;
    d.state.FLastStatus = 0x44;
    d.state.FLastStrobe = 0x04;
    d.feed(sample({{0x44, 0}, {0x40, 0}}));
    EXPECT_EQ(d.of(0), (Points{{256, 8}}));
    EXPECT_TRUE(d.of(1).empty());
}

TEST(SampleDecoder, LengthsAndKinds) {
    struct Row {
        const char* name;
        Bytes datagram;
        DatagramKind kind;
        std::size_t points;
    };
    Bytes eleven = sample({{0x04, 0}});
    eleven.push_back(0x40);  // the odd last byte belongs to no pair
    Bytes nine = sample({});
    nine.push_back(0x04);
    const Row rows[] = {
        {"eight bytes: no pair", sample({}), DatagramKind::Sample, 0},
        {"nine bytes: no pair", nine, DatagramKind::Sample, 0},
        {"eleven bytes: one pair", eleven, DatagramKind::Sample, 1},
        {"two bytes", {0x23, 0x08}, DatagramKind::Sample, 0},
        {"byte 1 0x0A", sample({{0x04, 0}}, 0x0A), DatagramKind::Ignored, 0},
        {"lone hash", {0x23}, DatagramKind::Ignored, 0},
        {"command of our own", {0x44, 0x44, 0, 0, 0, 0, 0, 0, 0x36}, DatagramKind::Ignored, 0},
    };
    for (const Row& row : rows) {
        Decoder d;
        EXPECT_EQ(d.feed(row.datagram), row.kind) << row.name;
        EXPECT_EQ(d.total(), row.points) << row.name;
        EXPECT_EQ(d.state.FTimeBase, row.points == 0 ? 0 : 256) << row.name;
    }
}

TEST(SampleDecoder, IdentityReplies) {
    Decoder d;
    d.feed({'G', 0, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x77, 0x66});
    EXPECT_EQ(d.state.FDeviceId, (DeviceId{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    d.feed({'G', 0, 1, 2, 3, 4, 5, 6});
    EXPECT_EQ(d.state.FDeviceId, (DeviceId{1, 2, 3, 4, 5, 6}));
    // Too short to hold an identity, like a returning "GD": ignored, the identity stays.
    d.feed({'G', 'D'});
    d.feed({'G', 0, 9, 9, 9, 9, 9});
    EXPECT_EQ(d.state.FDeviceId, (DeviceId{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(d.total(), 0u);
    // A reply carries no samples, whatever its later bytes hold.
    d.feed({'G', 0x08, 0, 0, 0, 0, 0, 0, 0x04, 0x00});
    EXPECT_EQ(d.total(), 0u);
    EXPECT_EQ(d.state.FLastStatus, 0);
}

TEST(SampleDecoder, TimeBaseBeyondThirtyTwoBitsStaysOrdered) {
    Decoder d;
    d.state.FTimeBase = (Tick{1} << 31) - 256;
    d.feed(sample({{0x04, 0}, {0x44, 200}, {0x40, 0}, {0x04, 0}}));
    EXPECT_EQ(d.of(0),
              (Points{{Tick{1} << 31, 7}, {(Tick{1} << 31) + 256, 8}, {(Tick{1} << 31) + 512, 7}}));
    EXPECT_EQ(d.of(1), (Points{{(Tick{1} << 31) + 200, 5}, {(Tick{1} << 31) + 512, 6}}));
    d.state.FTimeBase = (Tick{1} << 32) + 7 * 256;
    d.feed(sample({{0x00, 0}}));
    EXPECT_EQ(d.state.FTimeBase, (Tick{1} << 32) + 8 * 256);
    EXPECT_EQ(d.of(0).back(), (Point{(Tick{1} << 32) + 8 * 256, 8}));
}

// The decoding pair by pair, as plainly as it can be written; place(c, point) puts a point into
// channel c's trace.
template <class Place>
void decodePairsPlainly(DecoderState& st, const Bytes& d, Place place) {
    if (d.size() < 2 || d[0] != 0x23 || (d[1] != 0x08 && d[1] != 0x09)) {
        return;
    }
    for (std::size_t k = 0; 8 + 2 * k + 1 < d.size(); ++k) {
        const std::uint8_t s = d[8 + 2 * k];
        const std::uint8_t t = d[9 + 2 * k];
        if (t == 0 && (s & 0x04) != st.FLastStrobe) {
            st.FTimeBase += 256;
        }
        st.FLastStrobe = s & 0x04;
        for (int c = 0; c < kChannelCount; ++c) {
            const std::uint8_t bit = kChannels[static_cast<std::size_t>(c)].statusBit;
            if ((s & bit) != (st.FLastStatus & bit)) {
                place(c, Point{st.FTimeBase + t, levelFor(c, s)});
            }
        }
        st.FLastStatus = s;
    }
}

void decodePlainly(DecoderState& st, const Bytes& d, std::vector<Points>& out) {
    decodePairsPlainly(st, d, [&out](int c, const Point& point) {
        // A point goes after every point with an X not greater than its own.
        Points& trace = out[static_cast<std::size_t>(c)];
        const auto at =
            std::upper_bound(trace.begin(), trace.end(), point,
                             [](const Point& a, const Point& b) { return a.first < b.first; });
        trace.insert(at, point);
    });
}

TEST(SampleDecoder, AgreesWithThePlainDecodingOnRandomStreams) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 300; ++round) {
        Decoder d;
        d.state.FLastStatus = static_cast<std::uint8_t>(random());
        d.state.FLastStrobe = (random() % 2) * 4;  // may disagree with the status at first
        DecoderState plain = d.state;
        std::vector<Points> expected(kChannelCount);
        // Few distinct statuses and many zero time bytes, so that long steady runs, edges and
        // changes of unused bits alone all occur.
        const std::uint8_t statuses[] = {0x00, 0x04, 0x44, 0x40, 0xD4, 0x2B, 0x04 | 0x01};
        std::uint8_t status = statuses[random() % 7];
        for (int datagram = 0; datagram < 20; ++datagram) {
            Bytes dg{
                0x23, static_cast<std::uint8_t>(random() % 8 == 0 ? 0x0A : 0x08), 0, 0, 0, 0, 0, 0};
            const std::size_t length = 8 + random() % 120;
            while (dg.size() < length) {
                if (random() % 6 == 0) {
                    status = statuses[random() % 7];
                }
                dg.push_back(status);
                dg.push_back(random() % 3 == 0 ? 0 : static_cast<std::uint8_t>(random()));
            }
            if (random() % 2 == 0) {
                dg.pop_back();  // odd length
            }
            d.feed(dg);
            decodePlainly(plain, dg, expected);
            ASSERT_EQ(d.state.FTimeBase, plain.FTimeBase) << round << " " << datagram;
            ASSERT_EQ(d.state.FLastStrobe, plain.FLastStrobe) << round << " " << datagram;
            ASSERT_EQ(d.state.FLastStatus, plain.FLastStatus) << round << " " << datagram;
        }
        for (int c = 0; c < kChannelCount; ++c) {
            ASSERT_EQ(d.of(c), expected[static_cast<std::size_t>(c)]) << round << " " << c;
        }
    }
}

// Streams as a device sends a link: per period the strobe toggled with a time byte of 0, then
// the data lines at mid-period, steady for long stretches (which the decoder takes four pairs
// at a time), with frames, odd pairs and stray bits breaking in anywhere.
TEST(SampleDecoder, AgreesWithThePlainDecodingOnStrobedStreams) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        Decoder d;
        d.state.FLastStatus = static_cast<std::uint8_t>(random() % 2 != 0 ? 0x04 : 0x00);
        d.state.FLastStrobe = d.state.FLastStatus & 0x04;
        if (round % 10 == 0) {
            d.state.FLastStrobe ^= 0x04;  // disagreeing with the status at first
        }
        DecoderState plain = d.state;
        std::vector<Points> expected(kChannelCount);
        std::uint8_t strobe = d.state.FLastStatus & 0x04;
        std::uint8_t data = 0;
        for (int datagram = 0; datagram < 12; ++datagram) {
            Bytes dg{0x23, 0x08, 0, 0, 0, 0, 0, 0};
            const std::size_t pairs = random() % 300;
            const int busy = static_cast<int>(random() % 4);  // how often the data lines change
            for (std::size_t k = 0; k < pairs; ++k) {
                const std::uint8_t unused = random() % 16 == 0 ? 0x21 : 0x00;
                if (k % 2 == 0) {
                    strobe ^= 0x04;
                    dg.push_back(static_cast<std::uint8_t>(strobe | data | unused));
                    dg.push_back(random() % 40 == 0 ? 3 : 0);
                } else {
                    if (busy > 0 && random() % (8 / busy) == 0) {
                        data = static_cast<std::uint8_t>(
                            data ^ std::array{0x40, 0x80, 0x10}[random() % 3]);
                    }
                    dg.push_back(static_cast<std::uint8_t>(strobe | data | unused));
                    dg.push_back(static_cast<std::uint8_t>(random() % 5 == 0 ? 0 : 128));
                }
                if (random() % 150 == 0) {
                    ++k;  // a pair left out: the pattern goes on one pair later
                }
            }
            d.feed(dg);
            decodePlainly(plain, dg, expected);
            ASSERT_EQ(d.state.FTimeBase, plain.FTimeBase) << round << " " << datagram;
            ASSERT_EQ(d.state.FLastStrobe, plain.FLastStrobe) << round << " " << datagram;
            ASSERT_EQ(d.state.FLastStatus, plain.FLastStatus) << round << " " << datagram;
        }
        for (int c = 0; c < kChannelCount; ++c) {
            ASSERT_EQ(d.of(c), expected[static_cast<std::size_t>(c)]) << round << " " << c;
        }
    }
}

// Time bytes that step backwards (255 down to 0) with the strobe steady, so that the time base
// never moves: every point lands before points of earlier datagrams. 1600 such datagrams (a
// file of 2.5 MB) once took minutes, a re-index of the trace per point. The plain decoding
// here keeps each trace in a multimap, which inserts a key after the equal ones; the traces
// are looked at now and then meanwhile, so that points are merged in every state.
TEST(SampleDecoder, AgreesWithThePlainDecodingWhenTimeBytesStepBackwards) {
    Decoder d;
    DecoderState plain = d.state;
    std::vector<std::multimap<Tick, int>> expected(kChannelCount);
    for (int datagram = 0; datagram < 1600; ++datagram) {
        Bytes dg{0x23, 0x08, 0, 0, 0, 0, 0, 0};
        for (int k = 0; k < 256; ++k) {
            dg.push_back(k % 2 == 0 ? 0xD0 : 0x00);
            dg.push_back(static_cast<std::uint8_t>(255 - k));
        }
        if (datagram % 400 == 399) {  // a period now and then: the stretch behind it stays
            dg[8] |= 0x04;
            dg[9] = 0;
        }
        d.feed(dg);
        decodePairsPlainly(plain, dg, [&expected](int c, const Point& p) {
            expected[static_cast<std::size_t>(c)].insert({p.first, p.second});
        });
        if (datagram % 97 == 0) {
            ASSERT_EQ(d.traces[2].count(), expected[2].size()) << datagram;
            ASSERT_EQ(d.traces[2].x(d.traces[2].lowerBound(128.5)),
                      expected[2].lower_bound(129)->first);
        }
    }
    ASSERT_EQ(d.state.FTimeBase, plain.FTimeBase);
    ASSERT_EQ(d.state.FTimeBase, 4 * 256);
    for (int c = 0; c < kChannelCount; ++c) {
        const Points got = d.of(c);
        const Points want(expected[static_cast<std::size_t>(c)].begin(),
                          expected[static_cast<std::size_t>(c)].end());
        ASSERT_EQ(got.size(), c == 0 ? 8u : 1600u * 256u) << c;
        ASSERT_EQ(got, want) << c;
    }
}

}  // namespace
}  // namespace osc
