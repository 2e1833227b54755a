#include "sim/sim_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/frames/bit_stream.h"
#include "sim/hdlc.h"

namespace osc::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const DeviceId kId{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const DeviceId kZero{};

Bytes command(const DeviceId& id, char code) {
    Bytes b(9, 'D');
    for (std::size_t i = 0; i < id.size(); ++i) {
        b[2 + i] = id[i];
    }
    b[8] = static_cast<std::uint8_t>(code);
    return b;
}

SimulatedDevice deviceWithId() {
    DeviceOptions options;
    options.identity = kId;
    return SimulatedDevice("10.0.0.5", options);
}

TEST(SimulatedDevice, IdentityDerivedFromAddress) {
    EXPECT_EQ(identityForAddress("10.0.0.5"), (DeviceId{0x02, 0x00, 10, 0, 0, 5}));
    EXPECT_EQ(identityForAddress("192.168.1.200"), (DeviceId{0x02, 0x00, 192, 168, 1, 200}));
    const DeviceId a = identityForAddress("rtu-a.local");
    const DeviceId b = identityForAddress("rtu-b.local");
    EXPECT_EQ(a[0], 0x02);
    EXPECT_EQ(a[1], 0x01);
    EXPECT_NE(a, b);
    EXPECT_NE(identityForAddress("10.0.0.6"), identityForAddress("10.0.0.5"));
    EXPECT_EQ(SimulatedDevice("10.0.0.7", {}).identity(), identityForAddress("10.0.0.7"));
}

TEST(SimulatedDevice, CommandTable) {
    DeviceId other = kId;
    other[5] ^= 1;
    Bytes shortStart = command(kId, '6');
    shortStart.pop_back();
    Bytes longStart = command(kId, '6');
    longStart.push_back(0);
    struct Row {
        const char* name;
        Bytes datagram;
        CommandKind kind;
        bool streamingAfter;  // starting from a streaming device when `fromStreaming`
        bool fromStreaming;
    };
    const std::vector<Row> rows{
        {"identity request", {'G', 'D'}, CommandKind::IdentityRequest, false, false},
        {"identity request with more bytes",
         {'G', 'D', 'x'},
         CommandKind::IdentityRequest,
         false,
         false},
        {"lone G", {'G'}, CommandKind::Ignored, false, false},
        {"empty", {}, CommandKind::Ignored, false, false},
        {"start with own identity", command(kId, '6'), CommandKind::Start, true, false},
        {"start with zero identity", command(kZero, '6'), CommandKind::Start, true, false},
        {"start for another device", command(other, '6'), CommandKind::Ignored, false, false},
        {"start one byte short", shortStart, CommandKind::Ignored, false, false},
        {"start one byte long", longStart, CommandKind::Ignored, false, false},
        {"other code", command(kId, '8'), CommandKind::Ignored, true, true},
        {"stop with own identity", command(kId, '7'), CommandKind::Stop, false, true},
        {"stop with zero identity", command(kZero, '7'), CommandKind::Stop, false, true},
        {"stop for another device", command(other, '7'), CommandKind::Ignored, true, true},
    };
    for (const Row& row : rows) {
        SimulatedDevice device = deviceWithId();
        device.setStreaming(row.fromStreaming);
        const CommandResult result = device.handle(row.datagram);
        EXPECT_EQ(result.kind, row.kind) << row.name;
        EXPECT_EQ(device.streaming(), row.streamingAfter) << row.name;
        if (row.kind == CommandKind::IdentityRequest) {
            EXPECT_EQ(result.reply, (Bytes{'G', 0x00, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}))
                << row.name;
        } else {
            EXPECT_TRUE(result.reply.empty()) << row.name;
        }
    }
}

TEST(SimulatedDevice, SampleDatagramLayout) {
    DeviceOptions options;
    options.identity = kId;
    options.pairsPerDatagram = 7;  // odd: a bit period straddles two datagrams
    SimulatedDevice device("x", options);
    std::vector<std::pair<std::uint8_t, std::uint8_t>> pairs;
    for (int d = 0; d < 40; ++d) {
        const Bytes datagram = device.nextDatagram();
        ASSERT_EQ(datagram.size(), 8u + 2 * 7);
        EXPECT_EQ(datagram[0], '#');
        EXPECT_EQ(datagram[1], 0x08);
        EXPECT_EQ(Bytes(datagram.begin() + 2, datagram.begin() + 8), Bytes(kId.begin(), kId.end()));
        for (std::size_t k = 8; k + 1 < datagram.size(); k += 2) {
            pairs.emplace_back(datagram[k], datagram[k + 1]);
        }
    }
    EXPECT_EQ(device.datagramsGenerated(), 40u);
    EXPECT_EQ(device.bitPeriodsGenerated(), 140u);
    // Period p: (strobe toggled, 0) then (same strobe, 128); data bits change only at 128.
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        const auto [s0, t0] = pairs[i];
        const auto [s1, t1] = pairs[i + 1];
        EXPECT_EQ(t0, 0);
        EXPECT_EQ(t1, kDataChangeTime);
        EXPECT_EQ(s0 & 0x04, (i / 2) % 2 == 0 ? 0x04 : 0) << "period " << i / 2;
        EXPECT_EQ(s1 & 0x04, s0 & 0x04);
        if (i >= 2) {
            EXPECT_EQ(s0 & ~0x04, pairs[i - 1].first & ~0x04) << "data moved at the strobe edge";
        }
        EXPECT_EQ(s0 & 0x2B, 0) << "unused bits set";
    }
}

struct PacingCase {
    const char* name;
    int bitRate;
    int pairs;
    double expectedDps;
};

class Pacing : public testing::TestWithParam<PacingCase> {};

TEST_P(Pacing, DueCountsFollowTheBitRate) {
    DeviceOptions options;
    options.bitRate = GetParam().bitRate;
    options.pairsPerDatagram = GetParam().pairs;
    const SimulatedDevice device("10.0.0.1", options);
    EXPECT_DOUBLE_EQ(device.datagramsPerSecond(), GetParam().expectedDps);
    using std::chrono::nanoseconds;
    EXPECT_EQ(device.datagramsDue(nanoseconds(0)), 1u);
    EXPECT_EQ(device.datagramsDue(nanoseconds(-5)), 0u);
    for (std::uint64_t n : {1ull, 2ull, 3ull, 75ull, 1000ull, 123457ull}) {
        const nanoseconds t = device.dueTime(n);
        EXPECT_EQ(device.datagramsDue(t), n + 1) << n;
        EXPECT_EQ(device.datagramsDue(t - nanoseconds(1)), n) << n;
    }
    // A minute of real time carries a minute of the link.
    const double perMinute = static_cast<double>(device.datagramsDue(std::chrono::minutes(1)));
    EXPECT_NEAR(perMinute, 60 * GetParam().expectedDps, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, Pacing,
                         testing::Values(PacingCase{"Default", 9600, 256, 75.0},
                                         PacingCase{"Slow", 1200, 100, 24.0},
                                         PacingCase{"Fastest", 1000000, 4092, 2000000.0 / 4092},
                                         PacingCase{"OneBitASecond", 1, 1, 2.0}),
                         [](const testing::TestParamInfo<PacingCase>& info) {
                             return info.param.name;
                         });

TEST(SimulatedDevice, OptionsAreKeptInRange) {
    DeviceOptions options;
    options.bitRate = 0;
    options.pairsPerDatagram = 100000;
    SimulatedDevice device("10.0.0.1", options);
    EXPECT_EQ(device.options().bitRate, 1);
    EXPECT_EQ(device.nextDatagram().size(), kMaxDatagram);
}

// --- End to end: the stream through the capture engine gives back the frames. -------------

struct Capture {
    CaptureEngine engine;
    SimulatedDevice device;
};

void captureDatagrams(CaptureEngine& engine, SimulatedDevice& device, int count) {
    engine.resetTimeBase();
    engine.restartTraces();
    for (int i = 0; i < count; ++i) {
        engine.decodeDatagram(device.nextDatagram());
    }
    engine.closeTraces();
    engine.completeTraces();
}

// What an observer reads off a completed trace: one bit per point taken at least a bit period
// after the previous one, 1 for the upper level.
std::vector<std::uint8_t> traceBits(const ChannelTrace& trace) {
    std::vector<std::uint8_t> bits;
    Tick last = -1;
    for (std::size_t i = 0; i < trace.count(); ++i) {
        if (trace.x(i) - last < kTicksPerBit) {
            continue;
        }
        last = trace.x(i);
        bits.push_back(static_cast<std::uint8_t>((trace.y(i) + 1) % 2));
    }
    return bits;
}

// The frames the link reports as sent, on one line, that are on the line by period `periods`.
std::vector<Bytes> sentOn(const SerialLink& link, LinkLine line, std::uint64_t periods) {
    std::vector<Bytes> out;
    for (const SentFrame& f : link.log()) {
        if (f.line == line && f.onLine() && f.end <= periods) {
            out.push_back(f.bytes);
        }
    }
    return out;
}

TEST(SimulatedDeviceStream, FramesComeBackFromTheTraces) {
    for (const std::string text : {"", "Hi there"}) {
        DeviceOptions options;
        options.link.seed = 42;
        options.link.text = text;
        SimulatedDevice device("10.0.0.9", options);
        device.link().keepLog(true);
        CaptureEngine engine;
        captureDatagrams(engine, device, 40);  // 5120 periods
        // The last period is read by the decoder only once a later point follows it.
        const std::uint64_t periods = device.bitPeriodsGenerated() - 1;

        const auto commands = findFrames(traceBits(engine.traces[1]));
        const auto answers1 = findFrames(traceBits(engine.traces[2]));
        const auto answers2 = findFrames(traceBits(engine.traces[3]));
        ASSERT_GE(commands.size(), 20u) << "text '" << text << "'";
        ASSERT_GE(answers1.size(), 10u);
        ASSERT_GE(answers2.size(), 10u);
        EXPECT_EQ(commands, sentOn(device.link(), LinkLine::Transmit, periods));
        EXPECT_EQ(answers1, sentOn(device.link(), LinkLine::Receive1, periods));
        EXPECT_EQ(answers2, sentOn(device.link(), LinkLine::Receive2, periods));
        EXPECT_EQ(commands[0], (Bytes{5, 0x93})) << "SNRM with P to the first station";
        EXPECT_EQ(answers1[0], (Bytes{5, 0x73})) << "UA with F";
        if (!text.empty()) {
            std::size_t withText = 0;
            for (const Bytes& a : answers1) {
                withText += (a[1] & 1) == 0 &&
                            Bytes(a.begin() + 2, a.end()) == Bytes(text.begin(), text.end());
            }
            EXPECT_GE(withText, 3u) << "the stations' I frames carry the text";
        }
        EXPECT_TRUE(findFrames(traceBits(engine.traces[0])).empty()) << "the strobe is no frame";
    }
}

// A stream started again opens a new session; finishStream closes it with DISC and UA for each
// station, after which the lines idle.
TEST(SimulatedDeviceStream, SessionsOpenWithSnrmAndCloseWithDisc) {
    DeviceOptions options;
    options.pairsPerDatagram = 100;
    SimulatedDevice device("10.0.0.9", options);
    device.link().keepLog(true);
    CaptureEngine engine;
    engine.resetTimeBase();
    engine.restartTraces();
    EXPECT_TRUE(device.finishStream().empty()) << "not streaming";
    device.setStreaming(true);
    for (int i = 0; i < 30; ++i) {
        engine.decodeDatagram(device.nextDatagram());
    }
    device.setStreaming(false);
    const std::size_t firstSession = device.link().log().size();
    device.setStreaming(true);
    for (int i = 0; i < 30; ++i) {
        engine.decodeDatagram(device.nextDatagram());
    }
    const std::size_t beforeClose = device.link().log().size();
    const std::vector<Bytes> closing = device.finishStream();
    EXPECT_FALSE(device.streaming());
    ASSERT_FALSE(closing.empty());
    EXPECT_LE(closing.size(), 10u);  // 50 periods each: the exchange, four frames, idle
    for (const Bytes& d : closing) {
        engine.decodeDatagram(d);
    }
    engine.closeTraces();
    engine.completeTraces();

    const std::vector<SentFrame>& log = device.link().log();
    ASSERT_EQ(log.size(), beforeClose + 4) << "the exchange under way, then DISC and UA twice";
    ASSERT_GT(beforeClose, firstSession + 4);
    EXPECT_EQ(log[firstSession].bytes, (Bytes{5, 0x93})) << "the second session's first frame";
    std::vector<Bytes> last;
    for (auto it = log.end() - 4; it != log.end(); ++it) {
        last.push_back(it->bytes);
    }
    EXPECT_EQ(last,
              (std::vector<Bytes>{
                  {last[0][0], 0x53}, {last[0][0], 0x73}, {last[2][0], 0x53}, {last[2][0], 0x73}}));
    EXPECT_NE(last[0][0], last[2][0]);
    // Every frame of both sessions that reached the lines before the stop came back good,
    // the ones cut by the stop in between aside.
    const std::uint64_t periods = device.bitPeriodsGenerated() - 1;
    for (const auto& [channel, line] :
         {std::pair{1, LinkLine::Transmit}, std::pair{2, LinkLine::Receive1},
          std::pair{3, LinkLine::Receive2}}) {
        const auto found = findFrames(traceBits(engine.traces[static_cast<std::size_t>(channel)]));
        const auto sent = sentOn(device.link(), line, periods);
        for (const Bytes& f : found) {
            EXPECT_NE(std::find(sent.begin(), sent.end(), f), sent.end()) << "channel " << channel;
        }
        EXPECT_GE(found.size() + 1, sent.size()) << "channel " << channel;
        EXPECT_EQ(found.back(), sent.back()) << "channel " << channel;
    }
}

std::string hexValues(const Bytes& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
        out += ' ';
    }
    return out;
}

// The bit-stream decoder, from the first bit after the opening flag to the closing flag, with
// stuffed bits removed and 8 bits a group, shows the payload and then the frame check.
TEST(SimulatedDeviceStream, BitStreamDecoderReadsAFrameBetweenItsFlags) {
    DeviceOptions options;
    options.link.seed = 7;
    SimulatedDevice device("10.0.0.9", options);
    device.link().keepLog(true);
    CaptureEngine engine;
    captureDatagrams(engine, device, 4);  // 512 periods: the first cycles

    // Fresh decoder state: the first strobe edge opens period 0 at tick 256, and a data line
    // changes at 128 into the period.
    const auto tickOfPeriod = [](std::int64_t p) { return (p + 1) * 256 + kDataChangeTime; };
    // The first two frames: SNRM to the first station, and its UA.
    const std::vector<SentFrame>& log = device.link().log();
    ASSERT_GE(log.size(), 2u);
    const auto bitsOf = [](const SentFrame& f) {
        return static_cast<std::int64_t>(f.end - f.start);
    };
    const std::int64_t pollStart = static_cast<std::int64_t>(log[0].start);
    const std::int64_t pollBits = bitsOf(log[0]);
    const Bytes poll = log[0].bytes;
    const std::int64_t answerStart = static_cast<std::int64_t>(log[1].start);
    const std::int64_t answerBits = bitsOf(log[1]);
    const Bytes answer = log[1].bytes;
    EXPECT_EQ(log[1].line, LinkLine::Receive1);

    struct Row {
        const char* name;
        int channel;
        std::int64_t start;
        std::int64_t bits;
        Bytes payload;
    };
    for (const Row& row : {Row{"poll", 1, pollStart, pollBits, poll},
                           Row{"answer", 2, answerStart, answerBits, answer}}) {
        const double marker = static_cast<double>(tickOfPeriod(row.start + 8));
        const double cursor = static_cast<double>(tickOfPeriod(row.start + row.bits - 8));
        BitStreamOptions o;
        o.bitsPerGroup = 8;
        o.unstuff = true;
        const BitStreamResult r = DecodeBitStream(engine.traces, row.channel, marker, cursor, o);
        ASSERT_EQ(r.status, BitStreamStatus::Decoded) << row.name;
        Bytes expected = row.payload;
        const std::uint16_t fcs = frameCheck(row.payload);
        expected.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
        expected.push_back(static_cast<std::uint8_t>(fcs >> 8));
        EXPECT_EQ(r.valueText, hexValues(expected)) << row.name;
    }
}

}  // namespace
}  // namespace osc::sim
