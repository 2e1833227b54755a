// The acquisition part without a window: a fake view and fake neighbours write every call into
// one log, so that the order of what start, stop, the selection and the drain do is checked
// as a whole.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "core/protocol/datagram.h"
#include "core/trace/trace_completion.h"
#include "ui/plot/PlotState.h"
#include "ui/window/AcquisitionPart.h"

namespace {

using Log = std::vector<std::string>;

std::string hex(std::span<const std::uint8_t> bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (const std::uint8_t b : bytes) {
        s += kHex[b >> 4];
        s += kHex[b & 15];
    }
    return s;
}

class FakeEndpoint : public osc::net::DatagramEndpoint {
  public:
    explicit FakeEndpoint(Log& log) : log_(log) {}
    bool active() const override { return active_; }
    void activate() override {
        if (!activationError.empty()) {
            throw osc::net::EndpointError(activationError);
        }
        active_ = true;
    }
    void send(const std::string& address, std::span<const std::uint8_t> bytes) override {
        if (address == failSendTo) {
            throw osc::net::EndpointError("send to " + address + " failed");
        }
        log_.push_back("send " + address + " " + hex(bytes));
    }
    bool takeReceived(std::vector<std::uint8_t>& out) override {
        if (queue.empty()) {
            return false;
        }
        out = queue.front();
        queue.pop_front();
        return true;
    }
    // The senders of the queued datagrams, front first, while there are any.
    bool takeReceivedFrom(std::vector<std::uint8_t>& out,
                          std::optional<osc::net::SenderAddress>& from) override {
        from.reset();
        if (!queue.empty() && !queueFrom.empty()) {
            from = queueFrom.front();
            queueFrom.pop_front();
        }
        return takeReceived(out);
    }
    std::optional<std::vector<osc::net::SenderAddress>> deviceSenders(const std::string&) override {
        return senders;
    }
    void setBindAddress(const std::string& address) override { bindAddress = address; }
    void setReadyCallback(std::function<void()> callback) override { ready = std::move(callback); }
    osc::net::EndpointStats stats() const override { return {}; }

    std::string activationError;
    std::string failSendTo = "-";
    std::deque<std::vector<std::uint8_t>> queue;
    std::deque<osc::net::SenderAddress> queueFrom;
    std::optional<std::vector<osc::net::SenderAddress>> senders;
    std::string bindAddress = "(never set)";
    std::function<void()> ready;

  private:
    Log& log_;
    bool active_ = false;
};

class FakeView : public ui::AcquisitionView {
  public:
    explicit FakeView(Log& log) : log_(log) {}
    std::optional<QString> selectedDeviceEntry() const override { return entry; }
    int windowBits() const override { return bits; }
    QString statusText() const override { return status; }
    void setStatusText(const QString& text) override {
        status = text;
        log_.push_back("status " + text.toStdString());
    }
    void beginCompletion() override { log_.push_back("begin completion"); }
    void endCompletion() override { log_.push_back("end completion"); }
    Progress progress() const override { return bar; }
    void setProgress(int value, bool drawNow) override {
        bar.value = value;
        (drawNow ? drawnSteps : setsWithoutDrawing) += 1;
    }
    // What the part's signals and the view state's bring about in the window.
    void follow(ui::AcquisitionPart& part, ui::PlotState& plot) {
        QObject::connect(&part, &ui::AcquisitionPart::tracesChanged, [this](bool arriving) {
            log_.push_back("plot");
            if (arriving) {
                log_.push_back("scroll bar");
            }
        });
        QObject::connect(&part, &ui::AcquisitionPart::started,
                         [this] { log_.push_back("clear trace"); });
        QObject::connect(&plot, &ui::PlotState::windowChanged, [this] { log_.push_back("plot"); });
        QObject::connect(&plot, &ui::PlotState::markerChanged,
                         [this] { log_.push_back("reset marker"); });
    }
    void processPendingEvents() {
        log_.push_back("events");
        if (duringEvents) {
            duringEvents();
        }
    }

    std::optional<QString> entry;
    int bits = 100;
    QString status;
    Progress bar;
    int drawnSteps = 0, setsWithoutDrawing = 0;
    std::function<void()> duringEvents;

  private:
    Log& log_;
};

class FakeMessages : public ui::MessageSink {
  public:
    explicit FakeMessages(Log& log) : log_(log) {}
    void showError(const QString& text, const QString& detail) override {
        log_.push_back("error " + text.left(20).toStdString() + " / " + detail.toStdString());
    }
    void reportException(const QString& text) override {
        log_.push_back("report " + text.toStdString());
    }

  private:
    Log& log_;
};

class AcquisitionPartTest : public ::testing::Test {
  protected:
    AcquisitionPartTest() {
        auto owned = std::make_unique<FakeEndpoint>(log);
        endpoint = owned.get();
        part.setEndpoint(std::move(owned));
        view.follow(part, plot);
    }
    Log take() { return std::exchange(log, {}); }

    Log log;
    osc::CaptureEngine engine;
    FakeView view{log};
    FakeMessages messages{log};
    bool closing = false;
    std::int64_t now = 0;
    std::int64_t clockStep = 0;
    std::vector<std::function<void()>> posted;
    ui::PlotState plot{engine.window};
    ui::AcquisitionPart part{
        engine, plot, view, messages,
        ui::AcquisitionPart::Collaborators{
            .traceDatagram =
                [this](const std::uint8_t* d, std::int32_t n,
                       std::optional<osc::TraceLogStore::JournalCopy>) {
                    if (n == 1 && d[0] == 0x01) {
                        throw std::runtime_error("bad datagram");
                    }
                    log.push_back("trace " + hex({d, std::size_t(n)}));
                },
            .postToUiThread = [this](std::function<void()> f) { posted.push_back(std::move(f)); },
            .clockMs = [this] { return now += clockStep; },
            // The events pending when a drain pauses, then the rest of the drain.
            .runAfterPendingEvents =
                [this](std::function<void()> f) {
                    log.push_back("events");
                    posted.push_back([this] {
                        if (view.duringEvents) {
                            view.duringEvents();
                        }
                    });
                    posted.push_back(std::move(f));
                },
            .processPendingEvents = [this] { view.processPendingEvents(); },
        }};
    // The event loop: the posted calls in order, until the window closes (their rest is gone).
    void runPosted() {
        while (!posted.empty() && !closing) {
            std::function<void()> f = std::move(posted.front());
            posted.erase(posted.begin());
            f();
        }
        if (closing) {
            posted.clear();
        }
    }
    FakeEndpoint* endpoint = nullptr;
};

const std::string kIdentity = "4744001A2B3C4D5E";

TEST_F(AcquisitionPartTest, StartRunsTheSelectionWhichRunsTheStopInThisOrder) {
    view.entry = QStringLiteral("КП-1 (IP:10.0.0.5)");
    part.start();
    const std::string stopToNone = "send  " + hex(osc::stopCommand({}));
    EXPECT_EQ(take(), (Log{stopToNone, "begin completion", "plot", "end completion",
                           "send 10.0.0.5 4744", "plot", "clear trace", "plot", "reset marker",
                           "send 10.0.0.5 " + hex(osc::startCommand({}))}));
    EXPECT_EQ(part.deviceAddress(), QStringLiteral("10.0.0.5"));

    // The identity reply, then the status panel; a second start skips the selection.
    const std::vector<std::uint8_t> reply{0x47, 0x44, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    part.receive(reply);
    part.refreshStatus();
    part.refreshStatus();  // unchanged text: not set again
    part.start();
    EXPECT_EQ(take(), (Log{"trace " + kIdentity, "status IP=10.0.0.5 MAC=00:1A:2B:3C:4D:5E", "plot",
                           "clear trace", "plot", "reset marker",
                           "send 10.0.0.5 " + hex(osc::startCommand(engine.state.FDeviceId))}));
}

TEST_F(AcquisitionPartTest, FailuresEndTheHandlersWhereTheyStand) {
    view.entry = QStringLiteral("КП-1 (IP:10.0.0.5)");
    part.selectDevice();
    part.receive(std::vector<std::uint8_t>{0x47, 0x44, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    take();
    const osc::DeviceId id = engine.state.FDeviceId;

    // The stop command to the selected device fails inside the next selection: the error
    // escapes, address and identity stay.
    endpoint->failSendTo = "10.0.0.5";
    view.entry = QStringLiteral("КП-4");
    EXPECT_THROW(part.selectDevice(), osc::net::EndpointError);
    EXPECT_EQ(part.deviceAddress(), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(engine.state.FDeviceId, id);
    // The failing start command comes after the trace and the marker are reset.
    EXPECT_THROW(part.start(), osc::net::EndpointError);
    EXPECT_EQ(take(), (Log{"plot", "clear trace", "plot", "reset marker"}));

    // An endpoint that cannot open: the message with the system's reason, nothing else.
    auto closed = std::make_unique<FakeEndpoint>(log);
    closed->activationError = "Address already in use";
    part.setEndpoint(std::move(closed));
    part.start();
    part.selectDevice();
    const std::string error = "error Не удалось открыть U / Address already in use";
    EXPECT_EQ(take(), (Log{error, error}));
    EXPECT_EQ(part.deviceAddress(), QStringLiteral("10.0.0.5"));
}

TEST_F(AcquisitionPartTest, DrainTakesDatagramsInOrderNeverNestedAndStopsWhenClosing) {
    const auto sample = [](int status) {
        return std::vector<std::uint8_t>{0x23, 0x08, 0, 0, 0, 0, 0, 0, std::uint8_t(status), 0};
    };
    endpoint->queue = {sample(4), std::vector<std::uint8_t>{0x47}, sample(0), sample(4)};
    // No datagram's handler runs the event loop: a drain that runs in the events between two
    // batches takes the next datagrams, and the paused drain goes on after it.
    view.duringEvents = [this] {
        part.drainReceived();
        if (endpoint->queue.size() == 1) {
            closing = true;  // the window closes during the third datagram
        }
    };
    clockStep = ui::AcquisitionPart::kEventSliceMs;  // a slice passes with every datagram
    endpoint->ready();                               // from the receiving thread: only posts
    EXPECT_TRUE(log.empty());
    ASSERT_EQ(posted.size(), 1u);
    runPosted();
    EXPECT_EQ(take(), (Log{"trace 23080000000000000400", "plot", "scroll bar", "events",
                           "trace 47",  // not a sample datagram: no repaint, no events
                           "trace 23080000000000000000", "plot", "scroll bar", "events"}));
    EXPECT_EQ(endpoint->queue.size(), 1u);

    // An error in one datagram's handler is reported, and the next datagram is handled.
    closing = false;
    view.duringEvents = {};
    endpoint->queue.push_front({0x01});
    part.drainReceived();
    runPosted();
    EXPECT_EQ(take(), (Log{"report bad datagram", "trace 23080000000000000400", "plot",
                           "scroll bar", "events"}));

    // Within one slice of time the events run once, after the first sample datagram; the plot
    // and the scroll bar follow every one.
    clockStep = 1;
    endpoint->queue = {sample(0), sample(4), sample(0), sample(4), sample(0), sample(4)};
    part.drainReceived();
    runPosted();
    Log want;
    for (int k = 0; k < 6; ++k) {
        want.push_back(k % 2 == 0 ? "trace 23080000000000000000" : "trace 23080000000000000400");
        want.push_back("plot");
        want.push_back("scroll bar");
        if (k == 4) {  // 5 ms after the last events
            want.push_back("events");
        }
    }
    EXPECT_EQ(take(), want);
}

TEST(AcquisitionProgress, StepsOfTenWrapAroundFromTheMinimum) {
    struct Row {
        ui::AcquisitionView::Progress bar;
        int steps;
        int value;
    };
    const Row rows[] = {
        {{0, 100, 0}, 1, 10},  {{0, 100, 0}, 10, 100},  {{0, 100, 0}, 11, 10},
        {{0, 100, 95}, 1, 5},  {{0, 100, 100}, 0, 100}, {{20, 60, 50}, 1, 60},
        {{20, 60, 55}, 1, 25}, {{0, 0, 0}, 3, 0},  // an empty range stays at its only value
    };
    for (const Row& r : rows) {
        EXPECT_EQ(ui::AcquisitionPart::progressAfterSteps(r.bar, r.steps), r.value)
            << r.bar.minimum << ".." << r.bar.maximum << " from " << r.bar.value << " +" << r.steps;
    }
}

// The bar drawn now and then (batched steps) ends where single steps would: one drawing per
// completed channel with a clock that moves 50 ms a call, none with a clock that stands still.
TEST_F(AcquisitionPartTest, BatchedProgressEndsWhereSingleStepsWould) {
    part.start();
    for (int c = 1; c < 4; ++c) {
        osc::ChannelTrace& t = engine.traces[static_cast<std::size_t>(c)];
        t.add(256 * 5000, osc::kChannels[static_cast<std::size_t>(c)].levelClear);
    }
    engine.state.FTimeBase = 256 * 9000;
    osc::ChannelTraces copy = engine.traces;
    int steps = 0;
    for (int c = 1; c < 4; ++c) {
        osc::ChannelTrace t = copy[static_cast<std::size_t>(c)];
        t.add(engine.state.FTimeBase, 0);
        steps += static_cast<int>(osc::CompleteTrace(t));
    }
    ASSERT_GT(steps, 10);
    const ui::AcquisitionView::Progress start = view.bar;
    const int expected = ui::AcquisitionPart::progressAfterSteps(start, steps);

    clockStep = 0;
    part.stop();
    EXPECT_EQ(view.drawnSteps, 0);
    EXPECT_EQ(view.bar.value, expected);

    engine.traces = copy;
    view.bar = start;
    clockStep = 50;
    part.stop();
    EXPECT_EQ(view.drawnSteps, 3);  // channels 1 to 3, each completed at once
    EXPECT_EQ(view.bar.value, expected);
}

// A fresh folder for the capture journals of one test, removed after it.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "journal-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::size_t countPrefix(const Log& log, const std::string& prefix) {
    return static_cast<std::size_t>(std::count_if(
        log.begin(), log.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }));
}

// From start to stop every received datagram, whatever its content, reaches the journal in
// the file's line format; nothing before the start or after the stop does, and the stop marks
// the journal complete (nothing is offered for recovery).
TEST_F(AcquisitionPartTest, JournalHoldsExactlyTheDatagramsOfEachCapture) {
    TempFolder folder;
    part.setJournalFolder(folder.path());
    part.receive(std::vector<std::uint8_t>{0x47, 0x44});  // before any start: not journaled
    EXPECT_EQ(part.journal(), nullptr);

    std::mt19937 random(7);
    for (int capture = 0; capture < 3; ++capture) {
        part.start();
        ASSERT_NE(part.journal(), nullptr);
        EXPECT_TRUE(part.capturing());
        std::string expected;
        for (int i = 0; i < 200; ++i) {
            std::vector<std::uint8_t> d(1 + random() % 40);
            for (std::uint8_t& b : d) {
                b = static_cast<std::uint8_t>(random());
            }
            if (i % 3 == 0) {  // sample datagrams among them, which the plot takes
                d = {0x23, 0x08, 0, 0, 0, 0, 0, 0, std::uint8_t(random() & 7), 0};
            }
            if (d[0] == 0x01 && d.size() == 1) {
                d[0] = 0x02;  // the fixture's trace hook throws for this one
            }
            part.receive(d);
            expected += osc::traceLine(d) + "\r\n";
        }
        part.stop();
        part.receive(std::vector<std::uint8_t>{0x47, 0x44});  // after the stop: not journaled
        EXPECT_FALSE(part.capturing());
        EXPECT_FALSE(part.journal()->failed());
        EXPECT_EQ(fileText(part.journal()->path()), expected) << "capture " << capture;
        EXPECT_TRUE(osc::findUnfinishedJournals(folder.path()).empty());
    }
    EXPECT_EQ(countPrefix(take(), "error"), 0u);
}

// The ceiling stops the capture at the datagram that reaches it, says so once, and the
// journal holds that datagram; one that cannot be written is told once and the capture goes on.
TEST_F(AcquisitionPartTest, CeilingStopsOnceAndAJournalFailureIsToldOnce) {
    TempFolder folder;
    part.setJournalFolder(folder.path());
    const std::vector<std::uint8_t> sample{0x23, 0x08, 0, 0, 0, 0, 0, 0, 4, 0};
    part.setMemoryLimit(1);
    part.start();
    EXPECT_EQ(part.memoryLimit(), 1u);
    take();
    for (int i = 0; i < 3; ++i) {
        part.receive(sample);
        EXPECT_FALSE(part.capturing());
    }
    runPosted();  // the message comes after the handler
    Log log = take();
    EXPECT_EQ(countPrefix(log, "send  " + hex(osc::stopCommand({}))), 1u);
    EXPECT_EQ(countPrefix(log, "error Захват остановлен: п / "), 1u);
    EXPECT_EQ(fileText(part.journal()->path()), osc::traceLine(sample) + "\r\n");
    EXPECT_TRUE(osc::findUnfinishedJournals(folder.path()).empty());

    // A limit well above what the capture holds: it goes on. The default is some share of
    // the machine's memory, never nothing.
    part.setMemoryLimit(1ull << 40);
    part.start();
    part.receive(sample);
    EXPECT_TRUE(part.capturing());
    part.setMemoryLimit(0);
    part.start();
    EXPECT_GT(part.memoryLimit(), 1u << 20);
    part.stop();
    take();

    // A journal folder under a plain file cannot be made: one warning, at the start, and the
    // start command still goes out.
    std::ofstream(folder.path() / "plain") << "x";
    part.setJournalFolder(folder.path() / "plain" / "journals");
    part.setMemoryLimit(1ull << 40);
    for (int capture = 0; capture < 2; ++capture) {
        part.start();
        part.receive(sample);
        part.refreshStatus();
        part.refreshStatus();
        part.stop();
    }
    log = take();
    EXPECT_EQ(countPrefix(log, "error Не удалось записать"), 2u);  // once per capture
    EXPECT_EQ(countPrefix(log, "send  " + hex(osc::startCommand({}))), 2u);
}

// The device is whoever its address resolves to: the datagrams of other senders are counted and
// reach neither the trace log, the journal nor the decoder; with any sender accepted they do,
// marked foreign, and still never give the identity. Silence is told on the part's clock, and a
// drain that runs past its slice posts itself again.
TEST_F(AcquisitionPartTest, OthersAreLeftOutSilenceIsToldAndTheDrainTakesTurns) {
    TempFolder folder;
    part.setJournalFolder(folder.path());
    const osc::net::SenderAddress device{{10, 0, 0, 5}, 971};
    const osc::net::SenderAddress stranger{{10, 0, 0, 9}, 5000};
    endpoint->senders = std::vector<osc::net::SenderAddress>{device};
    view.entry = QStringLiteral("КП-1 (IP:10.0.0.5)");
    part.selectDevice();
    part.receive(std::vector<std::uint8_t>{0x47, 0x44, 0xDE, 0xAD, 0xBE, 0xEF, 0, 1}, stranger);
    part.receive(std::vector<std::uint8_t>{0x47, 0x44, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, device);
    const osc::DeviceId id = engine.state.FDeviceId;
    ASSERT_EQ(hex(id), "001A2B3C4D5E");
    part.start();
    take();

    const std::vector<std::uint8_t> a{0x23, 0x08, 0, 0, 0, 0, 0, 0, 4, 0};
    const std::vector<std::uint8_t> b{0x23, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> spoofedId{0x47, 0x44, 0xDE, 0xAD, 0xBE, 0xEF, 0, 1};
    part.receive(a, device);
    part.receive(b, stranger);
    part.receive(spoofedId, stranger);
    EXPECT_EQ(countPrefix(take(), "trace "), 1u);
    part.setAcceptAnySender(true);
    part.receive(b, stranger);
    part.receive(spoofedId, stranger);
    EXPECT_EQ(countPrefix(take(), "trace "), 2u);
    EXPECT_EQ(engine.state.FDeviceId, id);
    const osc::CaptureCounts c = part.counts();
    EXPECT_EQ(c.foreign, 4u);
    EXPECT_EQ(c.lastForeign, stranger);

    // Silence: 2 s of the part's clock without a datagram of the device, whatever others send.
    EXPECT_FALSE(part.deviceSilent());
    now += 2000;
    part.receive(b, stranger);
    EXPECT_TRUE(part.deviceSilent());
    part.receive(a, device);
    EXPECT_FALSE(part.deviceSilent());
    part.stop();
    EXPECT_EQ(fileText(part.journal()->path()),
              osc::traceLine(a) + "\r\n" + osc::traceLine(b) + "\r\n" + osc::traceLine(spoofedId) +
                  "\r\n" + osc::traceLine(b) + "\r\n" + osc::traceLine(a) + "\r\n");

    // A drain takes the time of its slices from the clock every kDrainCheckEvery datagrams:
    // past kDrainSliceMs it hands the rest to a drain posted anew.
    part.setAcceptAnySender(false);
    constexpr int kCheck = ui::AcquisitionPart::kDrainCheckEvery;
    for (int i = 0; i < 3 * kCheck; ++i) {
        endpoint->queue.push_back(b);
        endpoint->queueFrom.push_back(stranger);
    }
    clockStep = ui::AcquisitionPart::kDrainSliceMs;
    posted.clear();
    const std::uint64_t before = part.counts().foreign;
    part.drainReceived();
    EXPECT_EQ(endpoint->queue.size(), static_cast<std::size_t>(kCheck));
    ASSERT_EQ(posted.size(), 1u);
    posted[0]();
    EXPECT_TRUE(endpoint->queue.empty());
    EXPECT_EQ(part.counts().foreign, before + 3u * kCheck);
    EXPECT_EQ(countPrefix(take(), "error"), 0u);

    // The listening address reaches the endpoint when it is next activated.
    EXPECT_EQ(endpoint->bindAddress, "");
    part.setListenAddress("127.0.0.5");
    EXPECT_EQ(endpoint->bindAddress, "");
    part.start();
    EXPECT_EQ(endpoint->bindAddress, "127.0.0.5");
}

}  // namespace
