#pragma once
// The serial link that a simulated device watches: a polled link in normal response mode. The
// primary station sends its commands on the transmit line, two secondary stations answer on
// receive lines 1 and 2. Every line carries framed bits (sim/hdlc.h) and idles at 1. The link
// is a pure function of its options, the number of bit periods taken so far and the calls of
// restart() and close() between them.
//
// The conversation (control fields modulo 8, every command with P=1, every answer with F=1):
//   - a session opens with SNRM to each station in turn, answered by UA;
//   - then the primary polls the stations in turn, with an I frame carrying a few bytes of
//     information or with RR; a station answers with an I frame, with RR, or now and then
//     with RNR (busy: it does not take the I frame, and the primary polls it with RR until it
//     answers otherwise). Each side counts N(S) and N(R) per station and keeps at most one I
//     frame unacknowledged; one that is not acknowledged is sent again, same N(S), at the next
//     command or answer to that station;
//   - close(): after the exchange under way, DISC to each station, answered by UA.
// Faults on request, drawn from the seed:
//   - loss: an answer is not sent. After `replyTimeoutBits` of silence from the end of its
//     command the primary sends the same frame again;
//   - bit errors: one 1 bit between the flags of a frame (command or answer) is sent as 0, so
//     that the frame decodes as one bad frame (a bad check, or not a whole number of bytes when
//     the bit was one of five 1s before a stuffed 0). A station answers a damaged command
//     meant for it with REJ, N(R) the frame it expects, and the primary sends that frame next;
//     a damaged answer gets REJ with P=1 from the primary, and the station sends its
//     unacknowledged I frame again. A station that is not set up does not answer a damaged
//     frame (a damaged SNRM): the primary sends it again after the timeout;
//   - late: an answer starts between half the reply timeout and the timeout after its command
//     (normally 1 to 2 times `answerDelayBits`), so it still comes before the primary's next
//     command and is still the answer to its command.
// A command that fails (no answer, a damaged answer, REJ) is followed by the next command to
// the same station; after four failures in a row the primary leaves that station (it sets it
// up again with SNRM at its next turn; a DISC is given up) and goes on with the other.
//
// Cost: one exchange is worked out when the previous one has been taken; a bit period then
// costs a read from a small buffer.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace osc::sim {

enum class LinkLine : std::uint8_t { Transmit, Receive1, Receive2 };

enum class LinkFault : std::uint8_t { None, Lost, BitError, Late };

// "none", "lost", "bit error", "late".
const char* linkFaultName(LinkFault fault);

// Shares from 0 to 1 (values outside are taken as the nearest end).
struct LinkFaults {
    double loss = 0;       // of the answers: not sent
    double bitErrors = 0;  // of all frames: one bit flipped
    double late = 0;       // of the answers sent: delayed
};

// The shares the demo devices run with.
inline constexpr LinkFaults kDemoFaults{0.02, 0.01, 0.02};

struct LinkOptions {
    std::uint64_t seed = 1;
    std::string text;  // non-empty: the information field of every I frame
    std::array<std::uint8_t, 2> addresses{5, 9};  // of the stations on receive lines 1 and 2
    LinkFaults faults;
    int idleBits = 24;          // idle periods after an answer, before the next command (>= 8)
    int answerDelayBits = 6;    // least idle periods between a command and its answer (>= 1)
    int replyTimeoutBits = 96;  // silence after a command that counts as no answer
                                // (at least 4 * answerDelayBits + 2)
};

// One frame the link sent, or a lost answer where it would have been sent. Periods count from
// 0, the first period the link gave out.
struct SentFrame {
    std::uint64_t start = 0;  // the first period of the opening flag
    std::uint64_t end = 0;    // the period after the closing flag
    LinkLine line = LinkLine::Transmit;
    std::vector<std::uint8_t> bytes;  // address, control, information (the check not included)
    LinkFault fault = LinkFault::None;
    std::uint32_t flippedBit = 0;  // BitError: the bit sent as 0, counted from start

    bool onLine() const { return fault != LinkFault::Lost; }
    bool operator==(const SentFrame&) const = default;
};

// Line bits of one bit period; 1 is the idle level.
struct PeriodBits {
    std::uint8_t transmit = 1;
    std::uint8_t receive1 = 1;
    std::uint8_t receive2 = 1;
    bool operator==(const PeriodBits&) const = default;
};

class SerialLink {
  public:
    explicit SerialLink(LinkOptions options);

    PeriodBits nextPeriod() {
        if (next_ == pending_.size()) {
            refill();
        }
        ++period_;
        return pending_[next_++];
    }
    std::uint64_t periodsGenerated() const { return period_; }
    const LinkOptions& options() const { return options_; }

    // A new session from the next period on: what was under way is dropped, the stations are
    // set up again after `idleBits` of idle.
    void restart();
    // Ends the session: the exchange under way finishes, then DISC and UA for each station,
    // then the line idles. closed() once the last of them and `idleBits` of idle are given out.
    void close();
    bool closed() const;

    // The record of the frames sent, kept while on (off at first: it grows with the time the
    // link runs).
    void keepLog(bool on) { keepLog_ = on; }
    const std::vector<SentFrame>& log() const { return log_; }
    void clearLog() { log_.clear(); }

  private:
    // The primary's view of one station.
    struct Primary {
        enum class Mode : std::uint8_t { Down, Up, Closing, Closed } mode = Mode::Down;
        std::uint8_t vs = 0, vr = 0;
        bool unacked = false;  // an I frame sent, not acknowledged yet (N(S) vs - 1)
        std::vector<std::uint8_t> info;
        bool busy = false;               // the station answered RNR
        bool reject = false;             // the last answer was damaged
        bool repeat = false;             // the last command had no answer: send it again
        int failures = 0;                // commands in a row without a good answer
        std::vector<std::uint8_t> last;  // the last command
    };
    struct Station {
        bool linked = false;
        std::uint8_t vs = 0, vr = 0;
        bool unacked = false;
        std::vector<std::uint8_t> info;
    };
    enum class Outcome : std::uint8_t { Good, Failed };

    void refill();
    void exchange(std::size_t s);
    std::vector<std::uint8_t> command(std::size_t s);
    // The station's answer to a good command; empty when it stays silent.
    std::vector<std::uint8_t> answer(std::size_t s, const std::vector<std::uint8_t>& cmd);
    // The primary takes a good answer.
    Outcome take(std::size_t s, const std::vector<std::uint8_t>& ans);
    static void acknowledge(bool& unacked, std::uint8_t vs, unsigned nr);
    std::vector<std::uint8_t> newInfo();
    // Appends the frame's bits (one flipped when damaged) on the line, and its log entry.
    void send(LinkLine line, const std::vector<std::uint8_t>& bytes, bool damaged, LinkFault fault);
    void idle(std::uint64_t periods);
    std::uint64_t draw();
    bool chance(double share);
    std::uint64_t scheduled() const { return period_ + (pending_.size() - next_); }

    LinkOptions options_;
    std::vector<PeriodBits> pending_;
    std::size_t next_ = 0;
    std::uint64_t period_ = 0;
    std::uint64_t random_;
    std::array<Primary, 2> primary_{};
    std::array<Station, 2> station_{};
    std::size_t turn_ = 0;
    bool opened_ = false;  // the session's first idle is out
    bool closed_ = false;
    std::uint64_t closedAt_ = 0;  // the period after the closing idle
    bool keepLog_ = false;
    std::vector<SentFrame> log_;
    std::vector<std::uint8_t> bits_;  // scratch
};

}  // namespace osc::sim
