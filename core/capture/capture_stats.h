#pragma once
// What a capture (or a replay) has received, for the status bar: datagrams and bytes since its
// start, how long it has run, and the losses that can be told.
//
// The device numbers no datagram, so a datagram lost on the way or overtaken by a later one is
// seen only where it breaks the sample stream: a sample datagram whose first pair lies earlier
// in the bit period than the last pair before it, without the strobe edge that opens a new
// period (time going back). A loss of whole bit periods that keeps the strobe's rhythm (an
// even number of periods) leaves no mark and is not counted. Datagrams that this computer
// dropped itself (receive queue full, too long, empty, socket errors) are known exactly and
// are counted apart.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/protocol/datagram.h"

namespace osc {

class CaptureStats {
  public:
    // A new capture or replay: every count back to 0. receiverDrops is the endpoint's drop
    // count at this moment (only drops after it count).
    void start(std::int64_t nowMs, std::uint64_t receiverDrops = 0);
    // The capture ended: the elapsed time stops here. Datagrams that still arrive are counted.
    void stop(std::int64_t nowMs);

    // One datagram of the capture, of the kind the decoder gave it; none counts before the
    // first start.
    void datagram(std::span<const std::uint8_t> data, DatagramKind kind);
    // The endpoint's drop count now (a running total since the endpoint was made).
    void setReceiverDrops(std::uint64_t total);

    bool started() const { return started_; }
    bool running() const { return started_ && !stoppedAt_; }
    std::int64_t elapsedMs(std::int64_t nowMs) const;
    std::uint64_t datagrams() const { return datagrams_; }
    std::uint64_t bytes() const { return bytes_; }
    std::uint64_t sampleDatagrams() const { return samples_; }
    // Sample datagrams that broke the stream (see above).
    std::uint64_t streamBreaks() const { return breaks_; }
    // Datagrams dropped by this computer since the start.
    std::uint64_t receiverDrops() const { return drops_; }
    // Both kinds of loss together.
    std::uint64_t lost() const { return breaks_ + drops_; }

  private:
    bool started_ = false;
    std::int64_t startedAt_ = 0;
    std::optional<std::int64_t> stoppedAt_;
    std::uint64_t datagrams_ = 0, bytes_ = 0, samples_ = 0, breaks_ = 0, drops_ = 0;
    std::uint64_t dropsBase_ = 0;
    // The last pair of the last sample datagram that carried one: its strobe bit and time byte.
    std::optional<std::uint8_t> lastStrobe_;
    std::uint8_t lastTime_ = 0;
};

// "0:00:07", "1:02:03", "27:00:00": hours (any number), minutes and seconds; negative: 0.
std::string elapsedText(std::int64_t ms);
// A count with thin groups of three: "1 234 567" (no-break spaces, UTF-8).
std::string groupedCount(std::uint64_t n);
// Bytes as the status bar shows them: "512 Б", "1,5 КБ", "12 МБ", "1,2 ГБ" (binary units, one
// decimal below 100, a comma as the decimal sign).
std::string byteCountText(std::uint64_t bytes);

}  // namespace osc
