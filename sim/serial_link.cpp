#include "sim/serial_link.h"

#include <algorithm>
#include <cmath>

#include "sim/hdlc.h"

namespace osc::sim {

namespace {

constexpr double kCommandDataShare = 0.7;  // of the primary's polls: a new I frame, not RR
constexpr double kAnswerDataShare = 0.5;   // of the stations' answers: a new I frame, not RR
constexpr double kBusyShare = 0.03;        // of the stations' answers: RNR
constexpr int kMaxFailures = 4;            // commands in a row without a good answer
constexpr std::size_t kMaxInfo = 8;        // bytes of information drawn from the seed
constexpr std::uint64_t kClosedIdle = 64;

std::uint64_t splitmix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double share(double value) {
    return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
}

bool isI(std::uint8_t control) {
    return (control & 0x01) == 0;
}
bool isS(std::uint8_t control) {
    return (control & 0x03) == 0x01;
}
bool isU(std::uint8_t control, std::uint8_t modifier) {
    return (control & ~kPollFinal) == modifier;
}
unsigned nsOf(std::uint8_t control) {
    return (control >> 1) & 7;
}
unsigned nrOf(std::uint8_t control) {
    return control >> 5;
}
Supervisory kindOf(std::uint8_t control) {
    return static_cast<Supervisory>((control >> 2) & 3);
}

std::vector<std::uint8_t> frame(std::uint8_t address, std::uint8_t control,
                                const std::vector<std::uint8_t>& info = {}) {
    std::vector<std::uint8_t> bytes(2 + info.size());
    bytes[0] = address;
    bytes[1] = control;
    std::copy(info.begin(), info.end(), bytes.begin() + 2);
    return bytes;
}

}  // namespace

const char* linkFaultName(LinkFault fault) {
    switch (fault) {
        case LinkFault::Lost:
            return "lost";
        case LinkFault::BitError:
            return "bit error";
        case LinkFault::Late:
            return "late";
        case LinkFault::None:
            break;
    }
    return "none";
}

SerialLink::SerialLink(LinkOptions options)
    : options_(std::move(options)), random_(splitmix64(options_.seed)) {
    options_.idleBits = std::max(options_.idleBits, 8);
    options_.answerDelayBits = std::max(options_.answerDelayBits, 1);
    options_.replyTimeoutBits =
        std::max(options_.replyTimeoutBits, 4 * options_.answerDelayBits + 2);
    options_.faults = {share(options_.faults.loss), share(options_.faults.bitErrors),
                       share(options_.faults.late)};
}

void SerialLink::restart() {
    pending_.clear();
    next_ = 0;
    primary_ = {};
    station_ = {};
    turn_ = 0;
    opened_ = false;
    closed_ = false;
    closedAt_ = 0;
}

void SerialLink::close() {
    for (Primary& p : primary_) {
        p.failures = 0;
        p.repeat = false;
        p.reject = false;
        if (p.mode == Primary::Mode::Up) {
            p.mode = Primary::Mode::Closing;
        } else if (p.mode == Primary::Mode::Down) {
            p.mode = Primary::Mode::Closed;
        }
    }
}

bool SerialLink::closed() const {
    return closed_ && period_ >= closedAt_;
}

std::uint64_t SerialLink::draw() {
    random_ += 0x9E3779B97F4A7C15ull;
    return splitmix64(random_);
}

bool SerialLink::chance(double value) {
    // 53 random bits as a fraction in [0, 1): share 0 never, share 1 always.
    return static_cast<double>(draw() >> 11) * 0x1.0p-53 < value;
}

void SerialLink::idle(std::uint64_t periods) {
    pending_.insert(pending_.end(), periods, PeriodBits{});
}

void SerialLink::refill() {
    pending_.clear();
    next_ = 0;
    if (!opened_) {
        opened_ = true;
        idle(static_cast<std::uint64_t>(options_.idleBits));
        return;
    }
    if (closed_) {
        idle(kClosedIdle);
        return;
    }
    if (primary_[turn_].mode == Primary::Mode::Closed) {
        turn_ = 1 - turn_;
    }
    if (primary_[turn_].mode == Primary::Mode::Closed) {
        closed_ = true;
        idle(static_cast<std::uint64_t>(options_.idleBits));
        closedAt_ = scheduled();
        return;
    }
    exchange(turn_);
}

std::vector<std::uint8_t> SerialLink::newInfo() {
    if (!options_.text.empty()) {
        return {options_.text.begin(), options_.text.end()};
    }
    std::vector<std::uint8_t> info(1 + draw() % kMaxInfo);
    for (std::uint8_t& b : info) {
        b = static_cast<std::uint8_t>(draw() >> 56);
    }
    return info;
}

void SerialLink::acknowledge(bool& unacked, std::uint8_t vs, unsigned nr) {
    // The one frame outstanding has N(S) vs - 1; N(R) = vs takes it.
    if (unacked && nr == vs) {
        unacked = false;
    }
}

std::vector<std::uint8_t> SerialLink::command(std::size_t s) {
    Primary& p = primary_[s];
    const std::uint8_t address = options_.addresses[s];
    if (p.repeat) {
        p.repeat = false;
        return p.last;
    }
    switch (p.mode) {
        case Primary::Mode::Down:
            return frame(address, uControl(kSnrm, true));
        case Primary::Mode::Closing:
        case Primary::Mode::Closed:
            return frame(address, uControl(kDisc, true));
        case Primary::Mode::Up:
            break;
    }
    if (p.reject) {
        return frame(address, sControl(Supervisory::REJ, p.vr, true));
    }
    if (p.busy) {
        return frame(address, sControl(Supervisory::RR, p.vr, true));
    }
    if (p.unacked) {
        return frame(address, iControl(p.vs - 1u, p.vr, true), p.info);
    }
    if (chance(kCommandDataShare)) {
        p.info = newInfo();
        p.unacked = true;
        const std::uint8_t ns = p.vs;
        p.vs = static_cast<std::uint8_t>((p.vs + 1) & 7);
        return frame(address, iControl(ns, p.vr, true), p.info);
    }
    return frame(address, sControl(Supervisory::RR, p.vr, true));
}

std::vector<std::uint8_t> SerialLink::answer(std::size_t s, const std::vector<std::uint8_t>& cmd) {
    Station& st = station_[s];
    const std::uint8_t address = options_.addresses[s];
    const std::uint8_t control = cmd[1];
    if (isU(control, kSnrm)) {
        st = Station{};
        st.linked = true;
        return frame(address, uControl(kUa, true));
    }
    if (isU(control, kDisc)) {
        st = Station{};
        return frame(address, uControl(kUa, true));
    }
    if (!st.linked || !(isI(control) || isS(control))) {
        return {};
    }
    acknowledge(st.unacked, st.vs, nrOf(control));
    const bool busy = chance(kBusyShare);
    if (isI(control) && !busy && nsOf(control) == st.vr) {
        st.vr = static_cast<std::uint8_t>((st.vr + 1) & 7);
    }
    if (busy) {
        return frame(address, sControl(Supervisory::RNR, st.vr, true));
    }
    if (st.unacked) {
        return frame(address, iControl(st.vs - 1u, st.vr, true), st.info);
    }
    if (chance(kAnswerDataShare)) {
        st.info = newInfo();
        st.unacked = true;
        const std::uint8_t ns = st.vs;
        st.vs = static_cast<std::uint8_t>((st.vs + 1) & 7);
        return frame(address, iControl(ns, st.vr, true), st.info);
    }
    return frame(address, sControl(Supervisory::RR, st.vr, true));
}

SerialLink::Outcome SerialLink::take(std::size_t s, const std::vector<std::uint8_t>& ans) {
    Primary& p = primary_[s];
    const std::uint8_t control = ans[1];
    switch (p.mode) {
        case Primary::Mode::Down:
            if (!isU(control, kUa)) {
                return Outcome::Failed;
            }
            p = Primary{};
            p.mode = Primary::Mode::Up;
            return Outcome::Good;
        case Primary::Mode::Closing:
        case Primary::Mode::Closed:
            if (!isU(control, kUa)) {
                return Outcome::Failed;
            }
            p = Primary{};
            p.mode = Primary::Mode::Closed;
            return Outcome::Good;
        case Primary::Mode::Up:
            break;
    }
    if (!isI(control) && !isS(control)) {
        return Outcome::Failed;
    }
    acknowledge(p.unacked, p.vs, nrOf(control));
    if (isS(control)) {
        switch (kindOf(control)) {
            case Supervisory::RNR:
                p.busy = true;
                break;
            case Supervisory::REJ:
            case Supervisory::SREJ:
                return Outcome::Failed;  // the next command sends the rejected frame again
            case Supervisory::RR:
                p.busy = false;
                break;
        }
    } else {
        p.busy = false;
        if (nsOf(control) == p.vr) {
            p.vr = static_cast<std::uint8_t>((p.vr + 1) & 7);
        }
    }
    return Outcome::Good;
}

void SerialLink::exchange(std::size_t s) {
    Primary& p = primary_[s];
    const LinkFaults& faults = options_.faults;
    const std::vector<std::uint8_t> cmd = command(s);
    p.last = cmd;
    const bool damagedCommand = chance(faults.bitErrors);
    send(LinkLine::Transmit, cmd, damagedCommand, LinkFault::None);
    const std::uint64_t commandEnd = scheduled();

    // A station answers a damaged command meant for it with REJ, unless it has not been set up.
    std::vector<std::uint8_t> ans;
    if (!damagedCommand) {
        ans = answer(s, cmd);
    } else if (station_[s].linked) {
        ans = frame(options_.addresses[s], sControl(Supervisory::REJ, station_[s].vr, true));
    }

    const auto fail = [&](bool repeat) {
        if (++p.failures < kMaxFailures) {
            p.repeat = repeat;
            return;  // the same station again
        }
        p.failures = 0;
        p.repeat = false;
        p.reject = false;
        if (p.mode == Primary::Mode::Up) {
            p.mode = Primary::Mode::Down;
        } else if (p.mode == Primary::Mode::Closing) {
            p.mode = Primary::Mode::Closed;
        }
        turn_ = 1 - s;
    };
    const auto silence = [&] {
        idle(static_cast<std::uint64_t>(options_.replyTimeoutBits));
        fail(true);
    };
    if (ans.empty()) {
        silence();
        return;
    }

    // Every draw is made whatever the shares, so that one seed gives the same conversation up
    // to the first fault.
    const LinkLine line = s == 0 ? LinkLine::Receive1 : LinkLine::Receive2;
    const bool lost = chance(faults.loss);
    const bool damaged = chance(faults.bitErrors);
    const bool late = chance(faults.late);
    const auto delay = static_cast<std::uint64_t>(options_.answerDelayBits) +
                       draw() % static_cast<std::uint64_t>(options_.answerDelayBits + 1);
    const auto half = static_cast<std::uint64_t>(options_.replyTimeoutBits / 2);
    const std::uint64_t lateDelay =
        half + draw() % (static_cast<std::uint64_t>(options_.replyTimeoutBits) - half);
    if (lost) {
        if (keepLog_) {
            SentFrame f;
            f.start = commandEnd + delay;
            f.end = f.start + frameBits(ans).size();
            f.line = line;
            f.bytes = ans;
            f.fault = LinkFault::Lost;
            log_.push_back(std::move(f));
        }
        silence();
        return;
    }
    const bool delayed = late && !damaged;
    idle(delayed ? lateDelay : delay);
    send(line, ans, damaged, delayed ? LinkFault::Late : LinkFault::None);
    idle(static_cast<std::uint64_t>(options_.idleBits));

    if (damaged) {
        p.reject = p.mode == Primary::Mode::Up;
        fail(false);
        return;
    }
    if (take(s, ans) == Outcome::Failed) {
        fail(false);
        return;
    }
    p.failures = 0;
    p.reject = false;
    turn_ = 1 - s;
}

void SerialLink::send(LinkLine line, const std::vector<std::uint8_t>& bytes, bool damaged,
                      LinkFault fault) {
    bits_.clear();
    appendFrameBits(bytes, bits_);
    std::uint32_t flipped = 0;
    if (damaged) {
        // A 1 between the flags sent as 0: never a stuffed bit, never a new flag or abort, so
        // the frame stays one frame and its check or length is wrong.
        const std::size_t inner = bits_.size() - 16;
        const auto ones = static_cast<std::uint64_t>(
            std::count(bits_.begin() + 8, bits_.end() - 8, std::uint8_t{1}));
        std::uint64_t k = draw() % std::max<std::uint64_t>(ones, 1);
        for (std::size_t i = 0; i < inner; ++i) {
            if (bits_[8 + i] == 1 && k-- == 0) {
                bits_[8 + i] = 0;
                flipped = static_cast<std::uint32_t>(8 + i);
                break;
            }
        }
        fault = LinkFault::BitError;
    }
    if (keepLog_) {
        SentFrame f;
        f.start = scheduled();
        f.end = f.start + bits_.size();
        f.line = line;
        f.bytes = bytes;
        f.fault = fault;
        f.flippedBit = flipped;
        log_.push_back(std::move(f));
    }
    const std::size_t from = pending_.size();
    pending_.resize(from + bits_.size());
    for (std::size_t i = 0; i < bits_.size(); ++i) {
        PeriodBits& b = pending_[from + i];
        switch (line) {
            case LinkLine::Transmit:
                b.transmit = bits_[i];
                break;
            case LinkLine::Receive1:
                b.receive1 = bits_[i];
                break;
            case LinkLine::Receive2:
                b.receive2 = bits_[i];
                break;
        }
    }
}

}  // namespace osc::sim
