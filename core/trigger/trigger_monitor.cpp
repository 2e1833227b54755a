#include "core/trigger/trigger_monitor.h"

#include <algorithm>
#include <limits>

namespace osc {

FrameRecord TriggerEvent::record() const {
    FrameRecord r;
    r.index = frameNumber;
    r.frame = frame ? &*frame : nullptr;
    r.fields = fields;
    r.info = info;
    r.responseTime = responseTime;
    r.answerTo = answerTo;
    return r;
}

TriggerMonitor::TriggerMonitor(std::vector<TriggerCondition> conditions,
                               std::optional<double> bitRate)
    : conditions_(std::move(conditions)), bitRate_(bitRate) {
    plain_.link = false;
    link_.link = true;
    silenceTicks_.resize(conditions_.size());
    silenceFired_.assign(conditions_.size(), false);
    for (std::size_t i = 0; i < conditions_.size(); ++i) {
        const TriggerCondition& c = conditions_[i];
        switch (c.kind) {
            case TriggerKind::Frame:
                (c.filter.needsLink() ? link_ : plain_).members.push_back(i);
                break;
            case TriggerKind::Silence:
                silentLines_ |= 1u << c.channel;
                silenceTicks_[i] = c.silence.ticks(bitRate_);
                break;
            case TriggerKind::Loss:
                wantsLoss_ = true;
                break;
        }
    }
}

void TriggerMonitor::resetWalk(Walk& w) {
    w.next.fill(0);
    w.last.reset();
    w.count = 0;
    w.lastCommand = {};
    w.lastCommandNumber = 0;
}

void TriggerMonitor::start(const TriggerSource& source, Tick at, std::int64_t nowMs) {
    resetWalk(plain_);
    resetWalk(link_);
    framesGeneration_ = source.frames.generation();
    linkGeneration_ = source.link.generation();
    for (int c = 0; c < kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        seenPoints_[i] = source.traces[i].storedCount();
        lastChange_[i] = at;
        lastChangeMs_[i] = nowMs;
    }
    silenceFired_.assign(conditions_.size(), false);
    breaks_ = 0;
    drops_ = 0;
    lastMs_ = nowMs;
    lastSequence_ = 0;
    position_ = at;
    events_ = 0;
    pending_.clear();
}

void TriggerMonitor::rebase(const TriggerSource& source) {
    for (Walk* w : {&plain_, &link_}) {
        w->next.fill(0);
        w->lastCommand = {};  // found again among the frames skipped, by its key
    }
    framesGeneration_ = source.frames.generation();
    linkGeneration_ = source.link.generation();
    for (int c = 0; c < kChannelCount; ++c) {
        seenPoints_[static_cast<std::size_t>(c)] =
            source.traces[static_cast<std::size_t>(c)].storedCount();
    }
}

Tick TriggerMonitor::evaluatedTo() const {
    Tick to = std::numeric_limits<Tick>::max();
    for (const Walk* w : {&plain_, &link_}) {
        if (!w->members.empty()) {
            to = std::min(to, w->last ? w->last->first : std::numeric_limits<Tick>::min());
        }
    }
    return to == std::numeric_limits<Tick>::max() ? position_ : to;
}

void TriggerMonitor::fire(TriggerEvent event) {
    event.number = ++events_;
    event.decidedMs = lastMs_;
    event.datagram = lastSequence_;
    pending_.push_back(std::move(event));
}

std::vector<TriggerEvent> TriggerMonitor::takeEvents() {
    std::vector<TriggerEvent> out;
    out.swap(pending_);
    return out;
}

void TriggerMonitor::datagram(const TriggerSource& source, Tick timeBase, std::int64_t receivedMs,
                              std::uint64_t sequence) {
    lastMs_ = receivedMs;
    lastSequence_ = sequence;
    position_ = std::max(position_, timeBase);
    if (silentLines_ == 0) {
        return;
    }
    for (int c = 0; c < kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if ((silentLines_ & (1u << c)) == 0) {
            continue;
        }
        const ChannelTrace& trace = source.traces[i];
        if (trace.storedCount() > seenPoints_[i]) {
            seenPoints_[i] = trace.storedCount();
            lastChange_[i] = trace.lastX() + source.offset;
            lastChangeMs_[i] = receivedMs;
            for (std::size_t k = 0; k < conditions_.size(); ++k) {
                if (conditions_[k].kind == TriggerKind::Silence && conditions_[k].channel == c) {
                    silenceFired_[k] = false;
                }
            }
        }
    }
    for (std::size_t k = 0; k < conditions_.size(); ++k) {
        const TriggerCondition& cond = conditions_[k];
        if (cond.kind != TriggerKind::Silence || silenceFired_[k]) {
            continue;
        }
        const auto i = static_cast<std::size_t>(cond.channel);
        TriggerEvent e;
        if (silenceTicks_[k]) {
            if (position_ - lastChange_[i] <= *silenceTicks_[k]) {
                continue;
            }
            e.at = lastChange_[i] + *silenceTicks_[k];
        } else {
            if (static_cast<double>(receivedMs - lastChangeMs_[i]) <= cond.silence.amount) {
                continue;
            }
            e.at = position_;
        }
        silenceFired_[k] = true;
        e.condition = k;
        e.kind = TriggerKind::Silence;
        e.from = lastChange_[i];
        e.to = e.at;
        e.detail = std::string("no level change on ") + kChannels[i].name + " for more than " +
                   timeSpanText(cond.silence);
        fire(std::move(e));
    }
}

void TriggerMonitor::losses(std::uint64_t streamBreaks, std::uint64_t receiverDrops, Tick at) {
    const bool broken = streamBreaks > breaks_;
    const bool dropped = receiverDrops > drops_;
    const std::uint64_t newBreaks = broken ? streamBreaks - breaks_ : 0;
    const std::uint64_t newDrops = dropped ? receiverDrops - drops_ : 0;
    breaks_ = std::max(breaks_, streamBreaks);
    drops_ = std::max(drops_, receiverDrops);
    if (!wantsLoss_ || (!broken && !dropped)) {
        return;
    }
    for (std::size_t k = 0; k < conditions_.size(); ++k) {
        if (conditions_[k].kind != TriggerKind::Loss) {
            continue;
        }
        TriggerEvent e;
        e.condition = k;
        e.kind = TriggerKind::Loss;
        e.at = e.from = e.to = at;
        if (broken) {
            e.detail = "the strobe's rhythm broken (" + std::to_string(newBreaks) +
                       (newBreaks == 1 ? " datagram" : " datagrams") +
                       " lost or out of order on the way)";
        }
        if (dropped) {
            e.detail += std::string(broken ? "; " : "") + std::to_string(newDrops) +
                        (newDrops == 1 ? " datagram" : " datagrams") + " dropped by this computer";
        }
        fire(std::move(e));
    }
}

bool TriggerMonitor::held(const TriggerSource& source, const Frame& frame, int channel,
                          std::size_t index, const LinkFields& fields) const {
    const LinkAnalyser& a = source.link.analyser();
    if (!fields.valid() || !fields.pf || fields.role != LinkRole::Command ||
        a.openCommand() != FrameRef{channel, index}) {
        return false;
    }
    // Its window is open: no_answer is still to be decided unless a response was heard.
    for (int c = 0; c < kChannelCount; ++c) {
        if (lineRole(c, source.link.options()) != LinkRole::Response) {
            continue;
        }
        const std::size_t n = a.analysed(c);
        if (n > 0 && source.frames.frames(c)[n - 1].start >= frame.end) {
            return false;
        }
    }
    return true;
}

void TriggerMonitor::walk(Walk& w, const TriggerSource& source) {
    const LinkAnalyser& a = source.link.analyser();
    const int primary = source.link.options().primary;
    const auto rank = [primary](int c) { return c == primary ? 0 : c + 1; };
    for (;;) {
        int best = -1;
        Tick bestStart = 0;
        for (int c = 0; c < kChannelCount; ++c) {
            const std::size_t k = w.next[static_cast<std::size_t>(c)];
            if (k >= a.analysed(c)) {
                continue;
            }
            const Tick start = source.frames.frames(c)[k].start;
            if (best < 0 || start < bestStart || (start == bestStart && rank(c) < rank(best))) {
                best = c;
                bestStart = start;
            }
        }
        if (best < 0) {
            return;
        }
        const std::size_t index = w.next[static_cast<std::size_t>(best)];
        const Frame& frame = source.frames.frames(best)[index];
        const std::pair<Tick, int> key{frame.start + source.offset, rank(best)};
        const LinkFields fields = source.link.fields(frame);
        if (w.last && key <= *w.last) {
            // Evaluated before the source started over: only the latest command is of use.
            if (fields.role == LinkRole::Command && key == w.lastCommandKey) {
                w.lastCommand = FrameRef{best, index};
            }
            ++w.next[static_cast<std::size_t>(best)];
            continue;
        }
        if (w.link && held(source, frame, best, index, fields)) {
            return;
        }
        ++w.next[static_cast<std::size_t>(best)];
        w.last = key;
        ++w.count;
        const LinkInfo info = a.info(best, index);
        std::uint64_t answerTo = 0;
        if (fields.role == LinkRole::Response && info.partner().valid() &&
            info.partner() == w.lastCommand) {
            answerTo = w.lastCommandNumber;
        }
        if (fields.valid() && fields.role == LinkRole::Command) {
            w.lastCommand = FrameRef{best, index};
            w.lastCommandKey = key;
            w.lastCommandNumber = w.count;
        }
        bool recordMade = false;
        FrameRecord record;
        std::optional<Tick> responseTime;
        for (const std::size_t k : w.members) {
            if (!recordMade) {
                responseTime = source.link.responseTime(best, index);
                record.index = w.count;
                record.frame = &frame;
                record.fields = fields;
                record.info = info;
                record.responseTime = responseTime;
                record.answerTo = answerTo;
                recordMade = true;
            }
            if (!conditions_[k].filter.matches(record)) {
                continue;
            }
            TriggerEvent e;
            e.condition = k;
            e.kind = TriggerKind::Frame;
            e.frame = frame;
            e.frame->start += source.offset;
            e.frame->end += source.offset;
            e.from = e.frame->start;
            e.to = e.at = e.frame->end;
            e.fields = fields;
            e.info = info;
            e.responseTime = responseTime;
            e.frameNumber = w.count;
            e.answerTo = answerTo;
            e.detail = std::string(frame.good() ? "good" : frameErrorName(frame.error)) +
                       " frame on " + kChannels[static_cast<std::size_t>(best)].name;
            if (const std::optional<LinkIssue> issue = info.issue()) {
                e.detail += std::string(", ") + std::string(linkIssueName(*issue));
            }
            fire(std::move(e));
        }
    }
}

void TriggerMonitor::evaluate(const TriggerSource& source) {
    if (plain_.members.empty() && link_.members.empty()) {
        return;
    }
    if (source.frames.generation() != framesGeneration_ ||
        source.link.generation() != linkGeneration_) {
        rebase(source);  // read again from the first frame: what was evaluated is skipped
    }
    walk(plain_, source);
    walk(link_, source);
}

}  // namespace osc
