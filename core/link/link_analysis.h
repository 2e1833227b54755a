#pragma once
// The conversation on a polled link: which response answers which command, the response times,
// the link issues and the statistics of each station, read from the frames of the data lines
// as they arrive during a capture; the results of a whole capture equal the live ones.
//
// The rules (frames are good frames with link fields unless said otherwise; a command is a
// frame on the primary's line, a response one on another data line; times in ticks, a frame
// occupies [start, end)):
//   - The answer of a command with P=1 is the first response with the same address that starts
//     at or after the command's end and before the next command starts (with an answer timeout
//     T: also before the command's end + T). Its response time is the answer's start minus the
//     command's end.
//   - no_answer (on a command with P=1): no frame at all, good or bad, starts on a response line
//     at or after its end and before the next frame on the primary's line, good or bad, starts
//     (with the timeout: also before its end + T). Decided when that frame starts, or when the
//     timeout has passed; a command at the end of the capture without a timeout never gets it.
//     (A poll whose answer is lost and whose repeat is damaged may thus get no_answer and, from
//     a response to the damaged repeat, an answer.)
//   - unsolicited (on a response): the latest command that ended at or before the response's
//     start is addressed to another station, has P=0, or does not exist.
//   - retransmission (on an I frame): its N(S) equals that of the previous I frame of the same
//     address and role.
//   - sequence_gap (on an I frame): its N(S) is neither the previous one's nor the expected one
//     (the one after the previous, modulo 8 or 128). SNRM, SNRME, SARM, SARME, SABM and SABME
//     set both roles' expected N(S) of their address to 0; a REJ or SREJ with N(R) = k sets the
//     other role's expected N(S) of its address to k. The first I frame of an address and role
//     is not checked.
// A frame may have several issues (a poll that is sent again and not answered): each is kept;
// issue names them in the order above.
//
// Order and finality: frames are read in order of start (at equal starts the primary's line
// first, then the lower channel). The analysis is "settled up to" a tick S when every frame
// that starts before S has been read; the fields, issues and answer links of those frames are
// final, except for the latest command while its window is open (openCommand()): it may still
// get its answer or no_answer. After the end of the capture everything is read, and a window
// still open stays so (no timeout, or the capture ended before it passed).
//
// Cost: O(1) amortised a frame, 8 bytes a frame and 8 bytes an answer (the response times,
// for the exact 95th percentile).

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/frames/capture_frames.h"
#include "core/frames/frame_decoder.h"
#include "core/link/link_fields.h"
#include "core/trace/chunked_vector.h"

namespace osc {

// The link issues as bits of LinkInfo::issues, in the order that issue() names them.
enum class LinkIssue : std::uint8_t {
    NoAnswer = 1,
    Unsolicited = 2,
    Retransmission = 4,
    SequenceGap = 8,
};
inline constexpr int kLinkIssueCount = 4;
inline constexpr std::array<LinkIssue, kLinkIssueCount> kLinkIssues = {
    LinkIssue::NoAnswer, LinkIssue::Unsolicited, LinkIssue::Retransmission, LinkIssue::SequenceGap};
// "no_answer", "unsolicited", "retransmission", "sequence_gap".
std::string_view linkIssueName(LinkIssue issue);
// As the window shows it: "нет ответа", "ответ без запроса", "повтор", "пропуск N(S)".
std::string_view linkIssueText(LinkIssue issue);

// A frame of the capture: its channel and its index among that channel's frames.
struct FrameRef {
    int channel = -1;
    std::size_t index = 0;
    bool valid() const { return channel >= 0; }
    bool operator==(const FrameRef&) const = default;
};

// 8 bytes a frame. A partner beyond the 2^32 - 1st frame of its line is not recorded.
struct LinkInfo {
    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    // A command with P=1: its answer; a response: the command it answers.
    std::uint32_t partnerIndex = kNone;
    std::int8_t partnerChannel = -1;
    std::uint8_t issues = 0;  // LinkIssue bits

    FrameRef partner() const {
        return partnerChannel < 0
                   ? FrameRef{}
                   : FrameRef{partnerChannel, static_cast<std::size_t>(partnerIndex)};
    }
    bool has(LinkIssue issue) const { return (issues & static_cast<std::uint8_t>(issue)) != 0; }
    // The first of the frame's issues in the order of kLinkIssues.
    std::optional<LinkIssue> issue() const;
    bool operator==(const LinkInfo&) const = default;
};

// Counts of one station (an address) over its good frames with link fields, both roles.
struct StationStats {
    std::uint32_t address = 0;
    bool hasAddress = true;  // false when the link has no address field
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;  // the frames' bytes between the flags, check included
    std::uint64_t commands = 0;
    std::uint64_t responses = 0;
    std::uint64_t iFrames = 0;
    std::uint64_t sFrames = 0;
    std::uint64_t uFrames = 0;
    std::uint64_t polls = 0;    // commands with P=1
    std::uint64_t answers = 0;  // polls answered
    std::uint64_t noAnswer = 0;
    std::uint64_t retransmission = 0;
    std::uint64_t sequenceGap = 0;
    std::uint64_t unsolicited = 0;
    std::uint64_t rej = 0;
    std::uint64_t srej = 0;
    std::uint64_t rnr = 0;
    std::uint64_t frmr = 0;
    // Response times of the answers in ticks (when answers > 0): least, mean, 95th percentile
    // by nearest rank (the smallest time that at least 95% of the answers do not exceed, one
    // of the times measured) and greatest.
    Tick responseMin = 0;
    double responseMean = 0;
    Tick responseP95 = 0;
    Tick responseMax = 0;
    bool operator==(const StationStats&) const = default;
};

// Counts of one line over every frame read from it.
struct LineStats {
    std::uint64_t frames = 0;
    std::uint64_t good = 0;
    std::uint64_t bad = 0;
    std::uint64_t aborts = 0;
    std::uint64_t noFields = 0;  // good frames too short for address and control
    bool operator==(const LineStats&) const = default;
};

// The analysis itself, over frame lists that the caller hands in as they grow.
class LinkAnalyser {
  public:
    using Lists = std::array<const FrameSequence*, kChannelCount>;  // nullptr: no frames

    explicit LinkAnalyser(const LinkOptions& options = {});
    const LinkOptions& options() const { return options_; }

    // Reads the frames that start before `settled`: the caller guarantees that each list holds
    // every frame of its line that starts before it, in order of start, and that lists only
    // grow (the frames read stay as they were). With `end`, the capture is over: every frame is
    // read, and `settled` is the end of the capture (the answer timeout runs up to it).
    // O(frames read).
    void read(const Lists& lists, Tick settled, bool end = false);

    Tick settled() const { return settled_; }
    bool ended() const { return ended_; }
    // Frames read of a channel (their info below is there), 0 for a channel out of range.
    std::size_t analysed(int channel) const;
    // The info of frame `index` of a channel; index < analysed(channel).
    const LinkInfo& info(int channel, std::size_t index) const {
        return infos_[static_cast<std::size_t>(channel)][index];
    }
    // The command whose answer window is still open (invalid when none).
    FrameRef openCommand() const { return window_.open ? window_.ref : FrameRef{}; }
    // Every station seen, ordered by address. O(stations + answers not yet ranked).
    std::vector<StationStats> stations() const;
    const std::array<LineStats, kChannelCount>& lines() const { return lines_; }

  private:
    struct Sequence {
        bool seen = false;  // an I frame came
        std::uint8_t previous = 0;
        std::uint8_t expected = 0;
    };
    struct Station {
        StationStats stats;
        std::array<Sequence, 2> sequence{};     // command, response
        mutable ChunkedVector<Tick> responses;  // ranked in place for the percentile
        Tick responseSum = 0;
        mutable std::size_t rankedCount = 0;  // answers the cached percentile was taken over
        mutable Tick rankedP95 = 0;
    };
    struct Command {
        FrameRef ref;
        Tick end = 0;
        std::uint32_t address = 0;
        bool pf = false;
    };
    // The latest command: open until the next command (its answer may still come), listening
    // until the next frame on the primary's line (a frame on a response line keeps no_answer
    // away).
    struct Window {
        bool open = false;
        bool listening = false;
        FrameRef ref;
        Tick end = 0;
        std::uint32_t address = 0;
        bool pf = false;
        bool answered = false;
        bool heard = false;  // a frame started on a response line while listening
    };

    void process(const Frame& frame, int channel, std::size_t index);
    void stopListening();
    void closeWindow();
    void closeDue(Tick t);
    // The station of an address, made at its first frame. One-byte addresses (the usual ones)
    // by a table, the others by a map.
    Station& station(std::uint32_t address) {
        if (address < kSmallAddresses && small_[address] != kNoStation) {
            return stations_[small_[address]];
        }
        return newStation(address);
    }
    Station& newStation(std::uint32_t address);
    LinkInfo& infoAt(FrameRef ref) {
        return infos_[static_cast<std::size_t>(ref.channel)][ref.index];
    }

    LinkOptions options_;
    Tick timeoutTicks_ = 0;  // 0: none
    Tick settled_ = std::numeric_limits<Tick>::min();
    bool ended_ = false;
    // The infos of a line's frames: chunks of a fixed size that never move, made whole at once,
    // so that taking the next one costs a store.
    class InfoList {
      public:
        std::size_t size() const { return size_; }
        LinkInfo& operator[](std::size_t i) { return chunks_[i >> kShift][i & kMask]; }
        const LinkInfo& operator[](std::size_t i) const { return chunks_[i >> kShift][i & kMask]; }
        LinkInfo& emplace_back() {
            if ((size_ & kMask) == 0) {
                chunks_.push_back(std::make_unique<LinkInfo[]>(kMask + 1));
            }
            return chunks_.back()[size_++ & kMask];
        }

      private:
        static constexpr std::size_t kShift = 13;  // 8192 infos, 64 KiB a chunk
        static constexpr std::size_t kMask = (std::size_t{1} << kShift) - 1;
        std::vector<std::unique_ptr<LinkInfo[]>> chunks_;
        std::size_t size_ = 0;
    };

    std::array<InfoList, kChannelCount> infos_;
    std::array<LineStats, kChannelCount> lines_{};
    std::array<LinkRole, kChannelCount> roles_{};
    std::vector<Station> stations_;
    static constexpr std::uint32_t kSmallAddresses = 256;
    static constexpr std::uint32_t kNoStation = std::numeric_limits<std::uint32_t>::max();
    std::array<std::uint32_t, kSmallAddresses> small_{};  // station of each one-byte address
    std::unordered_map<std::uint32_t, std::uint32_t> stationIndex_;  // of the others
    Window window_;
    static constexpr std::size_t kRecent = 8;
    std::array<Command, kRecent> recent_{};  // the latest good commands, a ring
    std::size_t recentCount_ = 0;
    std::size_t recentHead_ = 0;
};

// The analysis of a capture's frames (CaptureFrames), read when asked: every accessor first
// reads what the frames have settled since (CaptureFrames::settledTo), so during a capture the
// results trail the traces by the frames still open on some line, and after the stop they are
// those of the whole capture. A new capture or a rebuild of the frames, an options change and
// the automatic check settling on another kind start the analysis over.
class LinkAnalysis {
  public:
    explicit LinkAnalysis(const CaptureFrames& frames) : frames_(frames) {}

    const LinkOptions& options() const { return options_; }
    void setOptions(const LinkOptions& options);

    // Reads what is new. Cheap when nothing is.
    void update() const;
    // The analyser, brought up to date.
    const LinkAnalyser& analyser() const {
        update();
        return analyser_;
    }
    // Increases whenever the analysis starts over (the frames' infos read before are gone).
    std::uint64_t generation() const {
        update();
        return generation_;
    }

    // The fields of a frame of these frames (LinkFields for its options).
    LinkFields fields(const Frame& frame) const { return linkFields(frame, options_); }
    // Frame `index` of a channel with its fields and info; an info that is not read yet is
    // empty.
    LinkInfo info(int channel, std::size_t index) const;
    // The response time of a response that answers a command, in ticks.
    std::optional<Tick> responseTime(int channel, std::size_t index) const;

  private:
    const CaptureFrames& frames_;
    LinkOptions options_;
    mutable LinkAnalyser analyser_;
    mutable std::uint64_t framesGeneration_ = std::numeric_limits<std::uint64_t>::max();
    mutable std::array<FrameCheck, kChannelCount> checks_{};
    mutable std::uint64_t generation_ = 0;
};

}  // namespace osc
