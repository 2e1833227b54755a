// The pcapng writer, read back block by block with a reader written from the format's
// description: the blocks and their lengths, the interfaces, every packet's bytes, time,
// direction, error bits and comment, for good and bad frames, with and without a bit rate.

#include "core/files/pcapng_export.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace osc {
namespace {

struct Packet {
    std::uint32_t interface = 0;
    std::uint64_t time = 0;
    std::vector<std::uint8_t> bytes;
    std::uint32_t originalLength = 0;
    std::vector<std::string> comments;
    std::optional<std::uint32_t> flags;
};

struct Interface {
    std::uint16_t linkType = 0;
    std::uint32_t snapLength = 0;
    std::string name;
    std::string resolution;  // if_tsresol's value
};

struct File {
    std::string application;
    std::vector<Interface> interfaces;
    std::vector<Packet> packets;
    std::string error;  // what was wrong with the bytes, empty when nothing
};

class Reader {
  public:
    explicit Reader(const std::string& bytes) : b_(bytes) {}

    File read() {
        File f;
        if (!readSection(f)) {
            return f;
        }
        while (at_ < b_.size() && f.error.empty()) {
            const std::size_t start = at_;
            const std::uint32_t type = u32();
            const std::uint32_t length = u32();
            if (length < 12 || length % 4 != 0 || start + length > b_.size()) {
                f.error = "block length " + std::to_string(length) + " at " + std::to_string(start);
                return f;
            }
            const std::size_t end = start + length - 4;
            if (type == 1) {
                Interface i;
                i.linkType = u16();
                if (u16() != 0) {
                    f.error = "reserved field of an interface";
                }
                i.snapLength = u32();
                options(end, [&](std::uint16_t code, const std::string& v) {
                    if (code == 2) {
                        i.name = v;
                    } else if (code == 9) {
                        i.resolution = v;
                    }
                });
                f.interfaces.push_back(i);
            } else if (type == 6) {
                Packet p;
                p.interface = u32();
                p.time = std::uint64_t{u32()} << 32;
                p.time |= u32();
                const std::uint32_t captured = u32();
                p.originalLength = u32();
                for (std::uint32_t k = 0; k < captured; ++k) {
                    p.bytes.push_back(static_cast<std::uint8_t>(b_[at_ + k]));
                }
                for (std::uint32_t k = captured; k % 4 != 0; ++k) {
                    if (b_[at_ + k] != 0) {
                        f.error = "padding not zero";
                    }
                }
                at_ += std::size_t{(captured + 3) / 4} * 4;
                options(end, [&](std::uint16_t code, const std::string& v) {
                    if (code == 1) {
                        p.comments.push_back(v);
                    } else if (code == 2 && v.size() == 4) {
                        p.flags = little32(v, 0);
                    }
                });
                f.packets.push_back(p);
            } else {
                f.error = "unexpected block type " + std::to_string(type);
            }
            if (at_ != end) {
                f.error =
                    "block body ends at " + std::to_string(at_) + ", not " + std::to_string(end);
                return f;
            }
            if (u32() != length) {
                f.error = "trailing length differs at " + std::to_string(start);
            }
        }
        return f;
    }

  private:
    static std::uint32_t little32(const std::string& s, std::size_t at) {
        std::uint32_t v = 0;
        for (int k = 3; k >= 0; --k) {
            v = (v << 8) | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(k)]);
        }
        return v;
    }
    std::uint32_t u32() {
        const std::uint32_t v = little32(b_, at_);
        at_ += 4;
        return v;
    }
    std::uint16_t u16() {
        const auto v = static_cast<std::uint16_t>(static_cast<std::uint8_t>(b_[at_]) |
                                                  static_cast<std::uint8_t>(b_[at_ + 1]) << 8);
        at_ += 2;
        return v;
    }
    // Options up to end, each padded to 4 bytes, closed by opt_endofopt.
    template <class F>
    void options(std::size_t end, F&& take) {
        while (at_ + 4 <= end) {
            const std::uint16_t code = u16();
            const std::uint16_t length = u16();
            if (code == 0) {
                EXPECT_EQ(length, 0);
                return;
            }
            take(code, b_.substr(at_, length));
            at_ += std::size_t{(length + 3u) / 4} * 4;
        }
        ADD_FAILURE() << "options without opt_endofopt";
    }
    bool readSection(File& f) {
        if (b_.size() < 28 || u32() != 0x0A0D0D0A) {
            f.error = "no section header";
            return false;
        }
        const std::uint32_t length = u32();
        if (u32() != 0x1A2B3C4D || u16() != 1 || u16() != 0) {
            f.error = "byte order or version";
            return false;
        }
        if (u32() != 0xFFFFFFFF || u32() != 0xFFFFFFFF) {
            f.error = "section length should be unknown";
        }
        options(length - 4, [&](std::uint16_t code, const std::string& v) {
            if (code == 4) {
                f.application = v;
            }
        });
        if (at_ != length - 4 || u32() != length) {
            f.error = "section header length";
            return false;
        }
        return true;
    }

    const std::string& b_;
    std::size_t at_ = 0;
};

Frame frame(int channel, Tick start, const std::vector<std::uint8_t>& bytes, FrameError error,
            CheckStatus status = CheckStatus::Good) {
    Frame f;
    f.channel = channel;
    f.start = start;
    f.end = start + 256 * static_cast<Tick>(bytes.size() * 8 + 16);
    f.bytes = bytes;
    f.bitCount = static_cast<std::uint32_t>(bytes.size() * 8);
    f.check = FrameCheck::X25;
    f.status = error == FrameError::BadCheck ? CheckStatus::Bad : status;
    f.error = error;
    return f;
}

// Frames of every kind on three lines, in order of start.
std::vector<Frame> mixedFrames() {
    return {
        frame(1, 6528, {0x01, 0x30, 0x1C, 0x27}, FrameError::None),               // 1 command
        frame(2, 20352, {0x01, 0x30, 0x38, 0x0C, 0xC5, 0xD4}, FrameError::None),  // 2 answer
        frame(3, 20352, {0x02, 0x11, 0x22, 0x33, 0x44}, FrameError::BadCheck),    // 3
        frame(2, 30000, {0x01, 0x32, 0x7D}, FrameError::Misaligned, CheckStatus::None),  // 4
        frame(1, 40000, {0x05}, FrameError::TooShort, CheckStatus::None),                // 5
        frame(0, 50000, {0x09, 0x09, 0x00, 0x00}, FrameError::None),  // 6: strobe, not decoded
        frame(3, 60000, {0x02, 0x33, 0x09, 0x81, 0x65, 0x08, 0xF1}, FrameError::None),   // 7
        frame(1, 70000, {0x01, 0x34, 0x03}, FrameError::Unfinished, CheckStatus::None),  // 8
        frame(2, 80000, {0x01, 0x10, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}, FrameError::TooLong,
              CheckStatus::None),                         // 9
        frame(3, 90000, {0x03, 0x13}, FrameError::None),  // 10: the check alone: no bytes
    };
}

TEST(PcapngExport, BlocksReadBackByteByByte) {
    struct Expected {
        std::uint32_t interface;
        std::vector<std::uint8_t> bytes;
        std::uint32_t flags;
        std::string comment;
    };
    const std::vector<Frame> frames = mixedFrames();
    struct Row {
        const char* name;
        bool allFrames;
        std::vector<Expected> packets;
    };
    const std::vector<Expected> good = {
        {0, {0x01, 0x30}, 2, "frame 1"},
        {1, {0x01, 0x30, 0x38, 0x0C}, 1, "frame 2"},
        {2, {0x02, 0x33, 0x09, 0x81, 0x65}, 1, "frame 7"},
        {2, {}, 1, "frame 10"},
    };
    const Row rows[] = {
        {"good frames only", false, good},
        {"bad frames too, with their error and its flag",
         true,
         {
             good[0],
             good[1],
             {2, {0x02, 0x11, 0x22}, 1 | 1u << 24, "frame 3: bad check"},
             {1, {0x01, 0x32, 0x7D}, 1 | 1u << 28, "frame 4: misaligned"},
             {0, {0x05}, 2 | 1u << 26, "frame 5: too short"},
             good[2],
             {0, {0x01, 0x34, 0x03}, 2, "frame 8: unfinished"},
             {1, {0x01, 0x10, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}, 1 | 1u << 25, "frame 9: too long"},
             good[3],
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PcapngOptions options;
        options.allFrames = row.allFrames;
        const File f = Reader(pcapngFile(frames, options)).read();
        ASSERT_EQ(f.error, "");
        EXPECT_EQ(f.application, "morvelip-osc");
        ASSERT_EQ(f.interfaces.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(f.interfaces[i].linkType, 268);
            EXPECT_EQ(f.interfaces[i].snapLength, 0u);
            EXPECT_EQ(f.interfaces[i].name, kChannels[i + 1].name);
            EXPECT_EQ(f.interfaces[i].resolution, std::string(1, '\x09'));
        }
        ASSERT_EQ(f.packets.size(), row.packets.size());
        for (std::size_t k = 0; k < row.packets.size(); ++k) {
            SCOPED_TRACE(row.packets[k].comment);
            const Packet& p = f.packets[k];
            EXPECT_EQ(p.interface, row.packets[k].interface);
            EXPECT_EQ(p.bytes, row.packets[k].bytes);
            EXPECT_EQ(p.originalLength, p.bytes.size());
            EXPECT_EQ(p.flags, row.packets[k].flags);
            EXPECT_EQ(p.comments, std::vector<std::string>{row.packets[k].comment});
        }
    }
}

// Times: the frame's start at the bit rate, one bit a microsecond without one, rounded to the
// nanosecond; the primary's line goes out whichever it is; the decoded channels make the
// interfaces.
TEST(PcapngExport, TimesDirectionsAndInterfaces) {
    const std::vector<Frame> frames = {
        frame(1, 0, {0x01, 0x30, 0, 0}, FrameError::None),
        frame(2, 256, {0x01, 0x30, 0, 0}, FrameError::None),
        frame(3, 1000, {0x01, 0x30, 0, 0}, FrameError::None),
        frame(0, 256LL * 115200 * 3600, {0x01, 0x30, 0, 0}, FrameError::None),  // an hour on
    };
    struct Row {
        const char* name;
        std::optional<double> rate;
        unsigned channels;
        int primary;
        std::vector<std::uint64_t> times;
        std::vector<std::uint32_t> directions;
        std::vector<std::uint32_t> interfaces;
    };
    const Row rows[] = {
        {"no bit rate", std::nullopt, kDataChannels, 1, {0, 1000, 3906}, {2, 1, 1}, {0, 1, 2}},
        {"115200 bit/s",
         115200,
         0b1111,
         1,
         {0, 8681, 33908, 3600'000'000'000},
         {2, 1, 1, 1},
         {1, 2, 3, 0}},
        {"another primary", 1, 0b1010, 3, {0, 3'906'250'000}, {1, 2}, {0, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PcapngOptions options;
        options.bitRate = row.rate;
        options.channels = row.channels;
        options.primaryChannel = row.primary;
        const File f = Reader(pcapngFile(frames, options)).read();
        ASSERT_EQ(f.error, "");
        ASSERT_EQ(f.packets.size(), row.times.size());
        for (std::size_t k = 0; k < row.times.size(); ++k) {
            EXPECT_EQ(f.packets[k].time, row.times[k]) << k;
            EXPECT_EQ(f.packets[k].flags, row.directions[k]) << k;
            EXPECT_EQ(f.packets[k].interface, row.interfaces[k]) << k;
        }
    }
}

// Packets of every length pad to whole words; a sink of any size gives the same file.
TEST(PcapngExport, PaddingAndSinkSizes) {
    std::vector<Frame> frames;
    for (std::size_t n = 0; n < 40; ++n) {
        std::vector<std::uint8_t> bytes(n + 2);
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            bytes[k] = static_cast<std::uint8_t>(n * 7 + k);
        }
        frames.push_back(frame(1 + static_cast<int>(n % 3), static_cast<Tick>(n) * 3000, bytes,
                               FrameError::None));
    }
    PcapngOptions options;
    const std::string whole = pcapngFile(frames, options);
    const File f = Reader(whole).read();
    ASSERT_EQ(f.error, "");
    ASSERT_EQ(f.packets.size(), frames.size());
    for (std::size_t n = 0; n < frames.size(); ++n) {
        EXPECT_EQ(f.packets[n].bytes.size(), n);
    }
    for (const std::size_t capacity : {1, 5, 64, 1000}) {
        SpanFrameWalk walk(frames);
        std::string joined;
        std::size_t largest = 0;
        OutputSink sink(
            [&](std::string_view b) {
                joined += b;
                largest = std::max(largest, b.size());
            },
            capacity);
        ASSERT_TRUE(writePcapng(walk, options, sink));
        EXPECT_EQ(joined, whole) << capacity;
        EXPECT_LT(largest, capacity + 200) << capacity;  // a buffer and one block at most
    }
}

}  // namespace
}  // namespace osc
