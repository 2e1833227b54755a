// The window's triggers over its own capture, in each mode: events listed and marked, the stop
// once the window after the first event has passed, and each event's window saved as a file
// that replays with the event's frame in it.

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/capture/capture_triggers.h"
#include "tests/core/trigger/trigger_scenarios.h"

namespace osc {
namespace {

using test_support::Bytes;
using test_support::datagramsOf;
using test_support::Lines;
using test_support::tickOf;

TEST(CaptureTriggers, MarkStopAndSaveEach) {
    Lines lines;
    const std::size_t bad1 = 40;
    lines.put(2, bad1, {0x05, 0x01, 0x42}, 20);  // a damaged frame on Приём1
    const std::size_t bad2 = 1500;
    lines.put(3, bad2, {0x09, 0x01, 0x43}, 21);  // another one, far later, on Приём2
    lines.idleTo(2600);
    const std::vector<Bytes> datagrams = datagramsOf(lines, 32);  // 16 bit periods each

    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("mo-capture-triggers-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    for (const TriggerMode mode : {TriggerMode::Mark, TriggerMode::Stop, TriggerMode::SaveEach}) {
        CaptureEngine engine;
        engine.frames.setEnabled(true);
        CaptureTriggers triggers(engine, [](std::int64_t ms) { return "ev" + std::to_string(ms); });
        CaptureTriggerSettings settings;
        settings.conditions.push_back(*parseTrigger("error != none").condition);
        settings.mode = mode;
        settings.windows.pre = TimeSpan::bits(64);
        settings.windows.post = TimeSpan::bits(100);
        settings.folder = folder;
        triggers.setSettings(settings);
        engine.resetTimeBase();
        engine.restartTraces();
        triggers.start(0);
        std::vector<CaptureEvent> seen;
        std::optional<std::size_t> stoppedAt;
        for (std::size_t i = 0; i < datagrams.size() && !stoppedAt; ++i) {
            const DecoderState before = engine.state;
            engine.decodeDatagram(datagrams[i]);
            triggers.datagramDecoded(datagrams[i], before, static_cast<std::int64_t>(i));
            for (CaptureEvent& e : triggers.evaluate()) {
                seen.push_back(std::move(e));
            }
            if (triggers.stopDue()) {
                stoppedAt = i;
            }
        }
        engine.closeTraces();
        engine.completeTraces();
        for (CaptureEvent& e : triggers.end()) {
            seen.push_back(std::move(e));
        }
        EXPECT_EQ(seen.size(), triggers.events().size());
        if (mode == TriggerMode::Stop) {
            // Stopped once the time base passed the first frame's end and 100 bits: datagram i
            // takes it to 16 (i + 1) bit periods, so by the first with that past the tick.
            ASSERT_TRUE(stoppedAt);
            ASSERT_EQ(seen.size(), 1u);
            const Tick due = seen[0].event.to + 100 * kTicksPerBit;
            EXPECT_EQ(*stoppedAt, static_cast<std::size_t>(due / (16 * kTicksPerBit)));
            continue;
        }
        ASSERT_EQ(seen.size(), 2u) << static_cast<int>(mode);
        EXPECT_EQ(seen[0].event.from, tickOf(bad1));
        EXPECT_EQ(seen[1].event.from, tickOf(bad2));
        EXPECT_EQ(seen[0].trigger, "error != none");
        if (mode == TriggerMode::Mark) {
            EXPECT_TRUE(seen[0].file.empty());
            continue;
        }
        // Two files, each replaying with its damaged frame in it.
        ASSERT_NE(seen[0].file, seen[1].file);
        for (const CaptureEvent& e : seen) {
            ASSERT_TRUE(std::filesystem::exists(e.file)) << e.file;
            CaptureEngine replay;
            replay.frames.setEnabled(true);
            replay.replayOscFile(e.file);
            const FrameSequence& frames = replay.frames.frames(e.event.frame->channel);
            bool found = false;
            for (const Frame& f : frames) {
                found = found || (f.bytes == e.event.frame->bytes && !f.good());
            }
            EXPECT_TRUE(found) << e.file;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "ev2.osc.part"));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace osc
