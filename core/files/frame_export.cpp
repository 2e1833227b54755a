#include "core/files/frame_export.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "core/view/plot_labels.h"

namespace osc {

namespace {

void appendNumber(std::string& out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

const char* channelName(int channel) {
    return channel >= 0 && channel < kChannelCount
               ? kChannels[static_cast<std::size_t>(channel)].name
               : "?";
}

}  // namespace

void appendFrameText(std::string& out, std::uint64_t index, const Frame& f) {
    // 12  1 Передача  24 + 128/256 .. 72 + 128/256  48 bits  01 30 0B 9F  x25 good
    appendNumber(out, static_cast<long long>(index));
    out += "  ";
    appendNumber(out, f.channel);
    out += ' ';
    out += channelName(f.channel);
    out += "  " + TicksToBitText(f.start) + " .. " + TicksToBitText(f.end) + "  ";
    appendNumber(out, f.bitCount);
    out += " bits  " + frameBytesHex(f.bytes) + "  ";
    out += frameCheckName(f.check);
    out += ' ';
    out += checkStatusName(f.status);
    if (!f.good()) {
        out += "  ";
        out += frameErrorName(f.error);
    }
    out += '\n';
}

void appendFrameJsonMembers(std::string& out, std::uint64_t index, const Frame& f) {
    out += "\"index\":";
    appendNumber(out, static_cast<long long>(index));
    out += ",\"channel\":";
    appendNumber(out, f.channel);
    out += ",\"name\":\"";
    out += channelName(f.channel);
    out += "\",\"start\":\"" + TicksToBitText(f.start) + "\",\"end\":\"" + TicksToBitText(f.end) +
           "\",\"start_ticks\":";
    appendNumber(out, f.start);
    out += ",\"end_ticks\":";
    appendNumber(out, f.end);
    out += ",\"bits\":";
    appendNumber(out, f.bitCount);
    out += ",\"bytes\":\"" + frameBytesHex(f.bytes) + "\",\"check\":\"";
    out += frameCheckName(f.check);
    out += "\",\"status\":\"";
    out += checkStatusName(f.status);
    out += "\",\"error\":\"";
    out += frameErrorName(f.error);
    out += '"';
}

std::string frameBytesHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        if (!out.empty()) {
            out += ' ';
        }
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string frameCsvHeader() {
    return "index,channel,name,start,end,start_ticks,end_ticks,bits,bytes,check,status,error\n";
}

void appendFrameCsvRow(std::string& out, std::uint64_t index, const Frame& f) {
    appendFrameCsvCells(out, index, f);
    out += '\n';
}

void appendFrameCsvCells(std::string& out, std::uint64_t index, const Frame& f) {
    appendNumber(out, static_cast<long long>(index));
    out += ',';
    appendNumber(out, f.channel);
    out += ',';
    out += channelName(f.channel);
    out += ',' + TicksToBitText(f.start) + ',' + TicksToBitText(f.end) + ',';
    appendNumber(out, f.start);
    out += ',';
    appendNumber(out, f.end);
    out += ',';
    appendNumber(out, f.bitCount);
    out += ',' + frameBytesHex(f.bytes) + ',';
    out += frameCheckName(f.check);
    out += ',';
    out += checkStatusName(f.status);
    out += ',';
    out += frameErrorName(f.error);
}

const Frame* SpanFrameWalk::next(std::uint64_t& number) {
    if (at_ >= frames_.size()) {
        return nullptr;
    }
    number = at_ + 1;
    return &frames_[at_++];
}

CaptureFrameWalk::CaptureFrameWalk(const CaptureFrames& frames,
                                   std::optional<ExportStretch> stretch)
    : frames_(frames) {
    for (int c = 0; c < kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const FrameSequence& list = frames.frames(c);
        end_[i] = list.size();
        if (stretch) {
            auto startsBefore = [](const Frame& f, Tick x) { return f.start < x; };
            at_[i] = static_cast<std::size_t>(
                std::lower_bound(list.begin(), list.end(), stretch->from, startsBefore) -
                list.begin());
            end_[i] = std::max(
                at_[i], static_cast<std::size_t>(
                            std::lower_bound(list.begin(), list.end(), stretch->to, startsBefore) -
                            list.begin()));
        }
        // In order of start, the frames that start before the stretch come before all of it.
        number_ += at_[i];
        total_ += end_[i] - at_[i];
    }
}

const Frame* CaptureFrameWalk::next(std::uint64_t& number) {
    const Frame* best = nullptr;
    std::size_t bestChannel = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (at_[i] >= end_[i]) {
            continue;
        }
        const FrameSequence& list = frames_.frames(c);
        if (list.size() < end_[i]) {
            throw std::runtime_error("The frames were decoded anew during the export");
        }
        const Frame& f = list[at_[i]];
        if (best == nullptr || f.start < best->start) {
            best = &f;
            bestChannel = i;
        }
    }
    if (best != nullptr) {
        ++at_[bestChannel];
        number = ++number_;
    }
    return best;
}

bool writeFrameList(FrameWalk& frames, FrameListFormat format, OutputSink& sink,
                    const WriteProgress& progress) {
    constexpr std::uint64_t kFramesPerStep = 4096;
    std::string& out = sink.buffer();
    if (format == FrameListFormat::Csv) {
        out += frameCsvHeader();
    } else if (format == FrameListFormat::Json) {
        out += "[";
    }
    const std::uint64_t total = frames.total();
    std::uint64_t written = 0;
    std::uint64_t index = 0;
    while (const Frame* f = frames.next(index)) {
        switch (format) {
            case FrameListFormat::Text:
                appendFrameText(out, index, *f);
                break;
            case FrameListFormat::Csv:
                appendFrameCsvRow(out, index, *f);
                break;
            case FrameListFormat::Json:
                out += written == 0 ? "\n{" : ",\n{";
                appendFrameJsonMembers(out, index, *f);
                out += '}';
                break;
        }
        sink.spill();
        if (++written % kFramesPerStep == 0 && progress &&
            !progress(static_cast<double>(written) /
                      static_cast<double>(std::max(total, written)))) {
            return false;
        }
    }
    if (format == FrameListFormat::Json) {
        out += written == 0 ? "]\n" : "\n]\n";
    }
    sink.flush();
    return !progress || progress(1);
}

std::string formatFrames(std::span<const Frame> frames, FrameListFormat format) {
    SpanFrameWalk walk(frames);
    return collectText([&](OutputSink& sink) { writeFrameList(walk, format, sink); });
}

}  // namespace osc
