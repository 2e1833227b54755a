#pragma once
// The serial link that a simulated device watches: a master polls two field stations in turn
// on the transmit line, and the polled station answers on its receive line after a short
// pause. Every line carries framed bits (sim/hdlc.h) and idles at 1. The link is a pure
// function of its options and the number of bit periods generated so far.
//
// Cycle j (from 0): `idleBits` periods of idle, the poll frame on the transmit line,
// `answerDelayBits` periods of idle, the answer frame on receive line 1 (even j) or receive
// line 2 (odd j).
//   poll:   {station, 0x30 | (j & 0x0F)}                 station = 1 + j % 2
//   answer: {station, 0x30 | (j & 0x0F), 1..8 bytes from the seed}, or exactly `text` when set

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace osc::sim {

struct LinkOptions {
    std::uint64_t seed = 1;
    std::string text;         // non-empty: the payload of every answer frame
    int idleBits = 24;        // idle periods before each poll (at least 8)
    int answerDelayBits = 6;  // idle periods between a poll and its answer (at least 1)
};

enum class LinkLine { Transmit, Receive1, Receive2 };

struct LinkFrame {
    LinkLine line;
    std::vector<std::uint8_t> payload;
};

// The poll and the answer of cycle j.
LinkFrame pollFrame(const LinkOptions& options, std::uint64_t cycle);
LinkFrame answerFrame(const LinkOptions& options, std::uint64_t cycle);

// Line bits of one bit period; 1 is the idle level.
struct PeriodBits {
    std::uint8_t transmit = 1;
    std::uint8_t receive1 = 1;
    std::uint8_t receive2 = 1;
};

class SerialLink {
  public:
    explicit SerialLink(LinkOptions options);

    PeriodBits nextPeriod();
    std::uint64_t periodsGenerated() const { return period_; }
    const LinkOptions& options() const { return options_; }

  private:
    void generateCycle();

    LinkOptions options_;
    std::deque<PeriodBits> pending_;
    std::uint64_t cycle_ = 0;
    std::uint64_t period_ = 0;
};

}  // namespace osc::sim
