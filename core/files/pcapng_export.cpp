#include "core/files/pcapng_export.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace osc {

namespace {

constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescription = 1;
constexpr std::uint32_t kEnhancedPacket = 6;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr std::uint16_t kOptEnd = 0;
constexpr std::uint16_t kOptComment = 1;
constexpr std::uint16_t kShbUserAppl = 4;
constexpr std::uint16_t kIfName = 2;
constexpr std::uint16_t kIfTsresol = 9;
constexpr std::uint16_t kEpbFlags = 2;

constexpr std::uint32_t kInbound = 1;
constexpr std::uint32_t kOutbound = 2;

constexpr std::string_view kApplication = "morvelip-osc";

void put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void put32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>((v >> shift) & 0xFF);
    }
}

void pad(std::string& out, std::size_t length) {
    out.append((4 - length % 4) % 4, '\0');
}

void option(std::string& out, std::uint16_t code, std::string_view value) {
    put16(out, code);
    put16(out, static_cast<std::uint16_t>(value.size()));
    out += value;
    pad(out, value.size());
}

// Starts a block at out's end; finish() writes its length into both places.
class Block {
  public:
    Block(std::string& out, std::uint32_t type) : out_(out), start_(out.size()) {
        put32(out, type);
        put32(out, 0);
    }
    void finish() {
        const auto length = static_cast<std::uint32_t>(out_.size() - start_ + 4);
        put32(out_, length);
        for (int k = 0; k < 4; ++k) {
            out_[start_ + 4 + static_cast<std::size_t>(k)] =
                static_cast<char>((length >> (8 * k)) & 0xFF);
        }
    }

  private:
    std::string& out_;
    std::size_t start_;
};

// The error bits of epb_flags (link-layer errors) that a frame's error names.
std::uint32_t errorFlags(FrameError error) {
    switch (error) {
        case FrameError::BadCheck:
            return 1u << 24;  // CRC error
        case FrameError::TooLong:
            return 1u << 25;
        case FrameError::TooShort:
            return 1u << 26;
        case FrameError::Misaligned:
            return 1u << 28;  // unaligned frame
        case FrameError::None:
        case FrameError::Abort:
        case FrameError::Unfinished:
            break;
    }
    return 0;
}

// A frame's start in nanoseconds (rounded), within the 64 bits of a timestamp.
std::uint64_t nanosecondsOf(Tick tick, long double nsPerTick) {
    const long double ns = std::nearbyint(static_cast<long double>(tick) * nsPerTick);
    if (!(ns > 0)) {
        return 0;
    }
    constexpr long double kLast = 18446744073709549568.0L;  // the last double below 2^64
    return static_cast<std::uint64_t>(std::min(ns, kLast));
}

}  // namespace

std::span<const std::uint8_t> pcapngPacketBytes(const Frame& frame) {
    const std::span<const std::uint8_t> bytes = frame.bytes.span();
    return bytes.first(bytes.size() - std::min(bytes.size(), frame.checkBytes()));
}

bool writePcapng(FrameWalk& frames, const PcapngOptions& options, OutputSink& sink,
                 const WriteProgress& progress) {
    constexpr std::uint64_t kFramesPerStep = 4096;
    const long double nsPerTick =
        1e9L / (static_cast<long double>(options.bitRate.value_or(1e6)) * kTicksPerBit);
    std::string& out = sink.buffer();

    Block header(out, kSectionHeader);
    put32(out, kByteOrderMagic);
    put16(out, 1);  // version 1.0
    put16(out, 0);
    put32(out, 0xFFFFFFFF);  // the section's length: not known while it is written
    put32(out, 0xFFFFFFFF);
    option(out, kShbUserAppl, kApplication);
    option(out, kOptEnd, {});
    header.finish();

    std::array<int, kChannelCount> interfaceOf{};
    interfaceOf.fill(-1);
    int interfaces = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        if ((options.channels & (1u << c)) == 0) {
            continue;
        }
        interfaceOf[static_cast<std::size_t>(c)] = interfaces++;
        Block idb(out, kInterfaceDescription);
        put16(out, kLinkTypeSdlc);
        put16(out, 0);
        put32(out, 0);  // no snapshot length
        option(out, kIfName, kChannels[static_cast<std::size_t>(c)].name);
        option(out, kIfTsresol, std::string_view("\x09", 1));  // 10^-9 s
        option(out, kOptEnd, {});
        idb.finish();
    }
    sink.spill();

    const std::uint64_t total = frames.total();
    std::uint64_t walked = 0;
    std::uint64_t number = 0;
    std::string comment;
    while (const Frame* f = frames.next(number)) {
        ++walked;
        const int interface = f->channel >= 0 && f->channel < kChannelCount
                                  ? interfaceOf[static_cast<std::size_t>(f->channel)]
                                  : -1;
        if (interface >= 0 && (f->good() || options.allFrames)) {
            const std::span<const std::uint8_t> bytes = pcapngPacketBytes(*f);
            const std::uint64_t time = nanosecondsOf(f->start, nsPerTick);
            Block epb(out, kEnhancedPacket);
            put32(out, static_cast<std::uint32_t>(interface));
            put32(out, static_cast<std::uint32_t>(time >> 32));
            put32(out, static_cast<std::uint32_t>(time & 0xFFFFFFFF));
            put32(out, static_cast<std::uint32_t>(bytes.size()));
            put32(out, static_cast<std::uint32_t>(bytes.size()));
            out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            pad(out, bytes.size());
            comment = "frame " + std::to_string(number);
            if (!f->good()) {
                comment += ": ";
                comment += frameErrorName(f->error);
            }
            option(out, kOptComment, comment);
            std::string flags;
            put32(flags, (f->channel == options.primaryChannel ? kOutbound : kInbound) |
                             errorFlags(f->error));
            option(out, kEpbFlags, flags);
            option(out, kOptEnd, {});
            epb.finish();
            sink.spill();
        }
        if (walked % kFramesPerStep == 0 && progress &&
            !progress(static_cast<double>(walked) / static_cast<double>(std::max(total, walked)))) {
            return false;
        }
    }
    sink.flush();
    return !progress || progress(1);
}

std::string pcapngFile(std::span<const Frame> frames, const PcapngOptions& options) {
    SpanFrameWalk walk(frames);
    return collectText([&](OutputSink& sink) { writePcapng(walk, options, sink); });
}

}  // namespace osc
