// The capture session against the simulated network: one network (one "socket") feeds two
// sessions, each of its own device, as a recorder of several devices would. Identity, start,
// stop, the recording, foreign datagrams, the memory ceiling, the end time and silence, on a
// clock of the test's own; waits are for counts of datagrams, never for a time.

#include "core/capture/capture_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "net/endpoint_link.h"
#include "netsim/simulated_network.h"

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Everything recorded, with the foreign mark.
class MemoryRecorder : public CaptureRecorder {
  public:
    void begin() noexcept override { ++begun; }
    void append(std::span<const std::uint8_t> d, bool foreign) noexcept override {
        lines.emplace_back(d.begin(), d.end());
        foreignMarks += foreign ? 1 : 0;
    }
    void end() noexcept override { ++ended; }
    OscLineDrops dropped() const override { return {}; }

    std::vector<Bytes> lines;
    int foreignMarks = 0, begun = 0, ended = 0;
};

// Takes the network's datagrams and hands each one, with its sender, to every session.
class Pump {
  public:
    explicit Pump(net::SimulatedNetwork& network) : network_(network) {
        network_.setReadyCallback([this] {
            std::lock_guard lock(mutex_);
            ready_ = true;
            cv_.notify_all();
        });
    }
    ~Pump() { network_.setReadyCallback({}); }
    Pump(const Pump&) = delete;
    Pump& operator=(const Pump&) = delete;

    // Pumps until done(); false when nothing more arrives for a long while (a broken test, not
    // a measurement).
    bool until(const std::function<bool()>& done, std::initializer_list<CaptureSession*> sessions) {
        Bytes d;
        std::optional<PeerAddress> from;
        while (!done()) {
            bool any = false;
            while (!done() && network_.takeReceivedFrom(d, from)) {
                any = true;
                for (CaptureSession* s : sessions) {
                    s->consume(d, from);
                }
            }
            if (!any && !done()) {
                std::unique_lock lock(mutex_);
                if (!cv_.wait_for(lock, std::chrono::seconds(20), [this] { return ready_; })) {
                    return false;
                }
                ready_ = false;
            }
        }
        return true;
    }

  private:
    net::SimulatedNetwork& network_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool ready_ = false;
};

net::SimulatedNetworkOptions twoDevices() {
    net::SimulatedNetworkOptions o;
    sim::DeviceOptions fast;
    fast.bitRate = 200000;
    o.devices.push_back({"10.0.0.5", fast});
    o.devices.push_back({"10.0.0.6", fast});
    return o;
}

class CaptureSessionOnNetwork : public ::testing::Test {
  protected:
    net::SimulatedNetwork network{twoDevices()};
    net::EndpointLink link{&network};
    std::int64_t now = 1000;
    CaptureEngine engineA, engineB;
    CaptureSession a{engineA, link, [this] { return now; }};
    CaptureSession b{engineB, link, [this] { return now; }};
    MemoryRecorder recordedA;
    Pump pump{network};
};

TEST_F(CaptureSessionOnNetwork, TwoSessionsOnOneSocketKeepTheirDevicesApart) {
    a.setRecorder(&recordedA);
    a.chooseDevice("10.0.0.5");
    b.chooseDevice("10.0.0.6");
    a.requestIdentity();
    b.requestIdentity();
    ASSERT_TRUE(pump.until([&] { return a.identified() && b.identified(); }, {&a, &b}));
    EXPECT_EQ(a.identity(), network.deviceIdentity("10.0.0.5"));
    EXPECT_EQ(b.identity(), network.deviceIdentity("10.0.0.6"));
    EXPECT_EQ(recordedA.begun, 0) << "nothing is recorded before the start";

    a.setDuration(10'000);
    a.start();
    b.start();
    ASSERT_TRUE(pump.until([&] { return a.counts().fromDevice >= 40 && a.counts().foreign >= 40; },
                           {&a, &b}));
    EXPECT_FALSE(a.timeUp());
    now += 10'000;
    EXPECT_TRUE(a.timeUp());
    a.sendStop();
    a.end();
    b.stop();
    EXPECT_FALSE(a.capturing());
    EXPECT_EQ(recordedA.ended, 1);

    // Each session took its own device's stream only, all of it, and counted the other's.
    const CaptureCounts ca = a.counts();
    EXPECT_EQ(ca.received, ca.fromDevice + ca.foreign);
    EXPECT_EQ(ca.taken, ca.fromDevice);
    EXPECT_EQ(recordedA.lines.size(), ca.fromDevice);
    EXPECT_EQ(recordedA.foreignMarks, 0);
    EXPECT_EQ(ca.lastForeign, (PeerAddress{{10, 0, 0, 6}, kDevicePort}));
    EXPECT_EQ(ca.receiverDrops, 0u);
    const CaptureCounts cb = b.counts();
    EXPECT_EQ(cb.taken, cb.fromDevice);
    EXPECT_GT(cb.foreign, 0u);
    // The sample datagrams went through each session's decoder: traces of its own stream.
    EXPECT_GT(engineA.state.FTimeBase, 0);
    EXPECT_GT(engineA.traces[0].count(), 10u);
    EXPECT_EQ(engineA.traces[0].lastX(), engineA.state.FTimeBase) << "closed at the stop";
}

TEST_F(CaptureSessionOnNetwork, AcceptingAnySenderTakesForeignDatagramsButNeverTheirIdentity) {
    a.setRecorder(&recordedA);
    a.setAcceptAnySender(true);
    a.chooseDevice("10.0.0.5");
    a.requestIdentity();
    ASSERT_TRUE(pump.until([&] { return a.identified(); }, {&a}));
    const DeviceId id = a.identity();
    a.start();
    // The other device streams into the same socket and answers an identity request sent for it.
    link.send("10.0.0.6", startCommand(*network.deviceIdentity("10.0.0.6")));
    ASSERT_TRUE(pump.until([&] { return a.counts().foreign >= 20; }, {&a}));
    link.send("10.0.0.6", identityRequest());
    ASSERT_TRUE(pump.until(
        [&] {
            return std::any_of(recordedA.lines.begin(), recordedA.lines.end(),
                               [](const Bytes& d) { return d[0] == 'G'; });
        },
        {&a}));
    EXPECT_EQ(a.identity(), id) << "another sender's identity reply is not the device's";
    a.stop();
    link.send("10.0.0.6", stopCommand(*network.deviceIdentity("10.0.0.6")));
    const CaptureCounts c = a.counts();
    EXPECT_EQ(c.taken, c.received);
    EXPECT_EQ(recordedA.lines.size(), c.received);
    EXPECT_EQ(static_cast<std::uint64_t>(recordedA.foreignMarks), c.foreign);
}

TEST_F(CaptureSessionOnNetwork, CeilingStopsOnceAndSilenceIsTold) {
    a.chooseDevice("10.0.0.5");
    a.setMemoryLimit(64 * 1024);
    a.start();
    EXPECT_EQ(a.memoryLimit(), 64u * 1024);
    bool reached = false;
    ASSERT_TRUE(pump.until(
        [&] {
            reached = reached || a.checkCeiling();
            return reached;
        },
        {&a}));
    EXPECT_GE(a.heldBytes(), 32u * 1024);
    EXPECT_FALSE(a.checkCeiling()) << "told once";
    a.stop();

    // Silence: measured on the session's clock from the start or the last datagram seen.
    a.setMemoryLimit(0);
    a.start();
    EXPECT_GT(a.memoryLimit(), 1u << 20) << "the default share of the machine";
    EXPECT_FALSE(a.deviceSilent());
    now += CaptureSession::kSilenceMs;
    EXPECT_TRUE(a.deviceSilent()) << "the stream's first datagram has not been pumped yet";
    ASSERT_TRUE(pump.until([&] { return a.counts().fromDevice > 0; }, {&a}));
    EXPECT_FALSE(a.deviceSilent());
    now += CaptureSession::kSilenceMs - 1;
    EXPECT_FALSE(a.deviceSilent());
    now += 1;
    EXPECT_TRUE(a.deviceSilent()) << "nothing pumped for 2 s of the session's clock";
    a.stop();
    now += 10 * CaptureSession::kSilenceMs;
    EXPECT_FALSE(a.deviceSilent()) << "only during a capture";
}

TEST_F(CaptureSessionOnNetwork, AnUnresolvableDeviceHasNoSendersAndTheSendFails) {
    a.chooseDevice("no-such-rtu");
    EXPECT_THROW(a.requestIdentity(), net::EndpointError);
    // Nothing is the device's: the other device's reply is foreign.
    link.send("10.0.0.6", identityRequest());
    ASSERT_TRUE(pump.until([&] { return a.counts().foreign == 1; }, {&a}));
    EXPECT_FALSE(a.identified());
    // No device: everything is taken, as the window does before a choice.
    a.forgetDevice();
    link.send("10.0.0.6", identityRequest());
    ASSERT_TRUE(pump.until([&] { return a.identified(); }, {&a}));
}

}  // namespace
}  // namespace osc
