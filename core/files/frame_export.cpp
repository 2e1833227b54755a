#include "core/files/frame_export.h"

#include <charconv>

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

std::string formatFrames(std::span<const Frame> frames, FrameListFormat format) {
    std::string out;
    if (format == FrameListFormat::Csv) {
        out += frameCsvHeader();
    } else if (format == FrameListFormat::Json) {
        out += "[";
    }
    std::uint64_t index = 0;
    for (const Frame& f : frames) {
        ++index;
        switch (format) {
            case FrameListFormat::Text:
                appendFrameText(out, index, f);
                break;
            case FrameListFormat::Csv:
                appendFrameCsvRow(out, index, f);
                break;
            case FrameListFormat::Json:
                out += index == 1 ? "\n{" : ",\n{";
                appendFrameJsonMembers(out, index, f);
                out += '}';
                break;
        }
    }
    if (format == FrameListFormat::Json) {
        out += index == 0 ? "]\n" : "\n]\n";
    }
    return out;
}

}  // namespace osc
