#include "core/link/link_analysis.h"

#include <algorithm>

namespace osc {

std::string_view linkIssueName(LinkIssue issue) {
    switch (issue) {
        case LinkIssue::NoAnswer:
            return "no_answer";
        case LinkIssue::Unsolicited:
            return "unsolicited";
        case LinkIssue::Retransmission:
            return "retransmission";
        case LinkIssue::SequenceGap:
            return "sequence_gap";
    }
    return "";
}

std::string_view linkIssueText(LinkIssue issue) {
    switch (issue) {
        case LinkIssue::NoAnswer:
            return "нет ответа";
        case LinkIssue::Unsolicited:
            return "ответ без запроса";
        case LinkIssue::Retransmission:
            return "повтор";
        case LinkIssue::SequenceGap:
            return "пропуск N(S)";
    }
    return "";
}

std::optional<LinkIssue> LinkInfo::issue() const {
    for (const LinkIssue i : kLinkIssues) {
        if (has(i)) {
            return i;
        }
    }
    return std::nullopt;
}

// ---- LinkAnalyser ------------------------------------------------------------------------------

LinkAnalyser::LinkAnalyser(const LinkOptions& options) : options_(options) {
    small_.fill(kNoStation);
    for (int c = 0; c < kChannelCount; ++c) {
        roles_[static_cast<std::size_t>(c)] = lineRole(c, options);
    }
    const std::uint64_t timeout = std::min(options.answerTimeout, kMaxAnswerTimeout);
    timeoutTicks_ = static_cast<Tick>(timeout) * kTicksPerBit;
}

std::size_t LinkAnalyser::analysed(int channel) const {
    return channel >= 0 && channel < kChannelCount
               ? infos_[static_cast<std::size_t>(channel)].size()
               : 0;
}

void LinkAnalyser::process(const Frame& frame, int channel, std::size_t index) {
    const auto c = static_cast<std::size_t>(channel);
    LineStats& line = lines_[c];
    ++line.frames;
    LinkInfo& info = infos_[c].emplace_back();
    const LinkRole role = roles_[c];
    if (role == LinkRole::Response) {
        window_.heard = window_.heard || (window_.listening && frame.start >= window_.end);
    } else if (role == LinkRole::Command) {
        stopListening();  // any frame on the primary's line, good or bad, ends the wait
    }
    if (!frame.good()) {
        ++line.bad;
        if (frame.error == FrameError::Abort) {
            ++line.aborts;
        }
        return;
    }
    ++line.good;
    const LinkFields f = linkFields(framePayload(frame), role, options_);
    if (!f.valid()) {
        ++line.noFields;
        return;
    }
    if (role == LinkRole::None) {
        return;
    }
    const FrameRef ref{channel, index};
    const bool command = role == LinkRole::Command;
    Station* s = &station(f.address);
    StationStats& st = s->stats;
    ++st.frames;
    st.bytes += frame.bytes.size();
    ++(command ? st.commands : st.responses);
    switch (f.type) {
        case LinkType::I:
            ++st.iFrames;
            break;
        case LinkType::S:
            ++st.sFrames;
            break;
        default:
            ++st.uFrames;
            break;
    }
    switch (f.command) {
        case LinkCommand::REJ:
            ++st.rej;
            break;
        case LinkCommand::SREJ:
            ++st.srej;
            break;
        case LinkCommand::RNR:
            ++st.rnr;
            break;
        case LinkCommand::FRMR:
            ++st.frmr;
            break;
        default:
            break;
    }

    if (command) {
        // The next command closes the window of the one before.
        closeWindow();
        s = &station(f.address);
        window_ = Window{true, true, ref, frame.end, f.address, f.pf, false, false};
        recentHead_ = (recentHead_ + 1) % kRecent;
        recent_[recentHead_] = Command{ref, frame.end, f.address, f.pf};
        recentCount_ = std::min(recentCount_ + 1, kRecent);
        if (f.pf) {
            ++s->stats.polls;
        }
    } else {
        if (window_.open && window_.pf && !window_.answered && frame.start >= window_.end &&
            f.address == window_.address) {
            window_.answered = true;
            if (index < LinkInfo::kNone && window_.ref.index < LinkInfo::kNone) {
                info.partnerChannel = static_cast<std::int8_t>(window_.ref.channel);
                info.partnerIndex = static_cast<std::uint32_t>(window_.ref.index);
                LinkInfo& asked = infoAt(window_.ref);
                asked.partnerChannel = static_cast<std::int8_t>(channel);
                asked.partnerIndex = static_cast<std::uint32_t>(index);
            }
            const Tick time = frame.start - window_.end;
            ++s->stats.answers;
            s->responses.push_back(time);
            s->responseSum += time;
            if (s->responses.size() == 1) {
                s->stats.responseMin = time;
                s->stats.responseMax = time;
            } else {
                s->stats.responseMin = std::min(s->stats.responseMin, time);
                s->stats.responseMax = std::max(s->stats.responseMax, time);
            }
        }
        // The latest command that ended by the response's start.
        const Command* latest = nullptr;
        for (std::size_t k = 0; k < recentCount_; ++k) {
            const Command& r = recent_[(recentHead_ + kRecent - k) % kRecent];
            if (r.end <= frame.start) {
                latest = &r;
                break;
            }
        }
        if (latest == nullptr || latest->address != f.address || !latest->pf) {
            info.issues |= static_cast<std::uint8_t>(LinkIssue::Unsolicited);
            ++s->stats.unsolicited;
        }
    }

    const auto modulo = static_cast<std::uint8_t>(options_.modulo == 128 ? 128 : 8);
    Sequence& own = s->sequence[command ? 0 : 1];
    if (f.type == LinkType::I) {
        if (own.seen) {
            if (f.ns == own.previous) {
                info.issues |= static_cast<std::uint8_t>(LinkIssue::Retransmission);
                ++s->stats.retransmission;
            } else if (f.ns != own.expected) {
                info.issues |= static_cast<std::uint8_t>(LinkIssue::SequenceGap);
                ++s->stats.sequenceGap;
            }
        }
        own.seen = true;
        own.previous = f.ns;
        own.expected = static_cast<std::uint8_t>((f.ns + 1) % modulo);
    } else if (f.command == LinkCommand::REJ || f.command == LinkCommand::SREJ) {
        s->sequence[command ? 1 : 0].expected = f.nr;
    } else if (setsMode(f.command)) {
        s->sequence[0].expected = 0;
        s->sequence[1].expected = 0;
    }
}

void LinkAnalyser::read(const Lists& lists, Tick settled, bool end) {
    constexpr std::size_t kAhead = 8;
    constexpr Tick kNone = std::numeric_limits<Tick>::max();  // no frame starts there
    if (ended_) {
        return;
    }
    settled_ = std::max(settled_, settled);
    // Each line's next frame and the frames after it that lie next to it in memory (a run of
    // its list), and the next frame's start (kNone: none yet).
    std::array<const Frame*, kChannelCount> next{};
    std::array<const Frame*, kChannelCount> runEnd{};
    std::array<Tick, kChannelCount> start{};
    auto lookUp = [&](std::size_t c) {
        if (next[c] == runEnd[c]) {
            const std::span<const Frame> run =
                lists[c] != nullptr ? lists[c]->run(infos_[c].size()) : std::span<const Frame>();
            next[c] = run.data();
            runEnd[c] = run.data() + run.size();
        }
        start[c] = next[c] != runEnd[c] ? next[c]->start : kNone;
        // The frames are read long after they were decoded: ask for those a few turns ahead.
        if (runEnd[c] - next[c] > static_cast<std::ptrdiff_t>(kAhead)) {
            const char* ahead = reinterpret_cast<const char*>(next[c] + kAhead);
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + sizeof(Frame) - 1);
        }
    };
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        lookUp(c);
    }
    // The lines in the order that breaks ties of start: the primary's first, then by channel.
    std::array<std::size_t, kChannelCount> order{};
    std::size_t k = 0;
    const int primary = options_.primary;
    if (primary >= 0 && primary < kChannelCount) {
        order[k++] = static_cast<std::size_t>(primary);
    }
    for (int c = 0; c < kChannelCount; ++c) {
        if (c != primary) {
            order[k++] = static_cast<std::size_t>(c);
        }
    }
    for (;;) {
        // The next frame in order: the least start (no branches to mispredict as the lines
        // take turns).
        std::size_t best = order[0];
        Tick bestStart = start[best];
        for (std::size_t j = 1; j < order.size(); ++j) {
            const std::size_t c = order[j];
            const Tick t = start[c];
            best = t < bestStart ? c : best;
            bestStart = t < bestStart ? t : bestStart;
        }
        if (bestStart == kNone || (!end && bestStart >= settled_)) {
            break;
        }
        closeDue(bestStart);
        process(*next[best], static_cast<int>(best), infos_[best].size());
        ++next[best];
        lookUp(best);
    }
    closeDue(settled_);
    ended_ = end;
}

LinkAnalyser::Station& LinkAnalyser::newStation(std::uint32_t address) {
    std::uint32_t& slot = address < kSmallAddresses
                              ? small_[address]
                              : stationIndex_.try_emplace(address, kNoStation).first->second;
    if (slot == kNoStation) {
        slot = static_cast<std::uint32_t>(stations_.size());
        Station s;
        s.stats.address = address;
        s.stats.hasAddress = options_.address != AddressMode::None;
        stations_.push_back(std::move(s));
    }
    return stations_[slot];
}

void LinkAnalyser::stopListening() {
    if (!window_.listening) {
        return;
    }
    window_.listening = false;
    if (window_.pf && !window_.heard) {
        infoAt(window_.ref).issues |= static_cast<std::uint8_t>(LinkIssue::NoAnswer);
        ++station(window_.address).stats.noAnswer;
    }
}

void LinkAnalyser::closeWindow() {
    stopListening();
    window_.open = false;
}

void LinkAnalyser::closeDue(Tick t) {
    if (window_.open && timeoutTicks_ > 0 && t - window_.end >= timeoutTicks_) {
        closeWindow();
    }
}

std::vector<StationStats> LinkAnalyser::stations() const {
    std::vector<StationStats> out;
    out.reserve(stations_.size());
    for (const Station& s : stations_) {
        StationStats st = s.stats;
        const std::size_t n = s.responses.size();
        if (n > 0) {
            st.responseMean = static_cast<double>(s.responseSum) / static_cast<double>(n);
            if (s.rankedCount != n) {
                // Nearest rank: the ceil(0.95 n)-th smallest time.
                const std::size_t rank = (95 * n + 99) / 100;
                // In place: the order of the times is of no account.
                ChunkedVector<Tick>& times = s.responses;
                std::nth_element(times.begin(),
                                 times.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                                 times.end());
                s.rankedP95 = times[rank - 1];
                s.rankedCount = n;
            }
            st.responseP95 = s.rankedP95;
        }
        out.push_back(st);
    }
    std::sort(out.begin(), out.end(),
              [](const StationStats& a, const StationStats& b) { return a.address < b.address; });
    return out;
}

// ---- LinkAnalysis ------------------------------------------------------------------------------

void LinkAnalysis::setOptions(const LinkOptions& options) {
    if (options == options_) {
        return;
    }
    options_ = options;
    framesGeneration_ = std::numeric_limits<std::uint64_t>::max();  // start over when asked
}

void LinkAnalysis::update() const {
    LinkAnalyser::Lists lists{};
    for (int c = 0; c < kChannelCount; ++c) {
        lists[static_cast<std::size_t>(c)] = &frames_.frames(c);
    }
    bool restart = frames_.generation() != framesGeneration_;
    for (int c = 0; c < kChannelCount && !restart; ++c) {
        restart = frames_.checkInUse(c) != checks_[static_cast<std::size_t>(c)];
    }
    if (restart) {
        analyser_ = LinkAnalyser(options_);
        framesGeneration_ = frames_.generation();
        for (int c = 0; c < kChannelCount; ++c) {
            checks_[static_cast<std::size_t>(c)] = frames_.checkInUse(c);
        }
        ++generation_;
    }
    if (analyser_.ended()) {
        return;
    }
    analyser_.read(lists, frames_.settledTo(), frames_.finished());
}

LinkInfo LinkAnalysis::info(int channel, std::size_t index) const {
    const LinkAnalyser& a = analyser();
    return index < a.analysed(channel) ? a.info(channel, index) : LinkInfo{};
}

std::optional<Tick> LinkAnalysis::responseTime(int channel, std::size_t index) const {
    const LinkInfo i = info(channel, index);
    const FrameRef command = i.partner();
    if (!command.valid() || lineRole(channel, options_) != LinkRole::Response) {
        return std::nullopt;
    }
    const FrameSequence& commands = frames_.frames(command.channel);
    const FrameSequence& responses = frames_.frames(channel);
    if (command.index >= commands.size() || index >= responses.size()) {
        return std::nullopt;
    }
    return responses[index].start - commands[command.index].end;
}

}  // namespace osc
