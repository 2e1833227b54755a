#pragma once
// The link-layer fields of a frame on a polled link: address, control (frame type, send and
// receive sequence numbers, the supervisory kind or the unnumbered command, the poll/final
// bit), the role that the frame's line gives it and where its information field lies. One
// reading for the frames table, the bands on the traces, the command-line tool and the filter.
//
// Only good frames are read (a frame with an error has no fields). Reading a frame is a few
// byte reads and a table look-up: O(address length), no allocation.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/frames/frame_decoder.h"

namespace osc {

// How the address field is laid out.
enum class AddressMode : std::uint8_t {
    None,      // no address field
    One,       // one byte (the default)
    Two,       // two bytes, the first one the high byte of the value
    Extended,  // bytes up to the first one whose low bit is 1 (at most kMaxExtendedAddress)
};
inline constexpr int kMaxExtendedAddress = 4;

// The options of the link layer and of its answers, stored with the window's settings.
struct LinkOptions {
    AddressMode address = AddressMode::One;
    // 8: one control byte; 128: two bytes for I and S frames (U frames keep one).
    int modulo = 8;
    // The primary station's line (its frames are commands; frames on the other data lines
    // are responses). "Передача" by default.
    int primary = 1;
    // Bits after a command's end within which its answer must start (a later one is not its
    // answer, and the command gets no_answer at that time); 0: no timeout, the window of a
    // command lasts until the next command starts. Up to kMaxAnswerTimeout.
    std::uint64_t answerTimeout = 0;
    bool operator==(const LinkOptions&) const = default;
};
inline constexpr std::uint64_t kMaxAnswerTimeout = std::uint64_t{1} << 40;

enum class LinkType : std::uint8_t { None, I, S, U };  // None: no fields (see LinkFields)
enum class LinkRole : std::uint8_t { None, Command, Response };

// The supervisory kinds and the names of the unnumbered commands and responses. Codes that
// mean different things as command and as response get a name per role: 0x0F SARM / DM, 0x07
// SIM / RIM, 0x43 DISC / RD (the control byte with the P/F bit 0x10 cleared).
enum class LinkCommand : std::uint8_t {
    None,  // an I frame, or an unnumbered code that is none of these
    RR,
    RNR,
    REJ,
    SREJ,
    SNRM,
    SNRME,
    SARM,
    SARME,
    SABM,
    SABME,
    DISC,
    UA,
    DM,
    FRMR,
    UI,
    XID,
    TEST,
    RSET,
    SIM,
    RIM,
    RD,
    UP,
};
inline constexpr int kLinkCommandCount = 23;

struct LinkFields {
    LinkType type = LinkType::None;
    LinkRole role = LinkRole::None;
    LinkCommand command = LinkCommand::None;
    bool pf = false;        // the poll bit of a command, the final bit of a response
    std::uint8_t ns = 0;    // I frames
    std::uint8_t nr = 0;    // I and S frames
    std::uint8_t code = 0;  // U frames: the control byte with the P/F bit cleared
    std::uint8_t addressBytes = 0;
    std::uint8_t controlBytes = 0;
    std::uint32_t address = 0;     // the address bytes as one number, the first byte highest
    std::uint32_t infoLength = 0;  // bytes of the information field (from addressBytes +
                                   // controlBytes on, up to the check)

    bool valid() const { return type != LinkType::None; }
    bool hasAddress() const { return valid() && addressBytes > 0; }
    bool hasNs() const { return type == LinkType::I; }
    bool hasNr() const { return type == LinkType::I || type == LinkType::S; }
    std::size_t infoOffset() const { return std::size_t{addressBytes} + controlBytes; }
    bool operator==(const LinkFields&) const = default;
};

// The role of a line: the primary's line carries commands, the other data lines (1 to 3)
// responses; the strobe line, unless it is the primary's, none.
LinkRole lineRole(int channel, const LinkOptions& options);

// The unnumbered command or response of a control byte (P/F cleared) in a role (None reads as
// a command); LinkCommand::None for a code that has no name.
LinkCommand unnumberedCommand(std::uint8_t code, LinkRole role);
// A supervisory kind from its two bits (0 RR, 1 RNR, 2 REJ, 3 SREJ).
inline LinkCommand supervisoryKind(int bits) {
    return static_cast<LinkCommand>(static_cast<int>(LinkCommand::RR) + (bits & 3));
}

// The bytes of a frame before its check (none when it has fewer bytes than its check).
inline std::span<const std::uint8_t> framePayload(const Frame& frame) {
    const std::size_t check = frame.checkBytes();
    return {frame.bytes.data(), frame.bytes.size() > check ? frame.bytes.size() - check : 0};
}

// The fields of a good frame, its role from its channel. A frame with an error, or one too
// short for its address and control field (or whose extended address runs past
// kMaxExtendedAddress bytes), gets fields that are not valid, role aside.
LinkFields linkFields(const Frame& frame, const LinkOptions& options);
// The same over the bytes between address and check (the frame's bytes without its check).
// Inline: the link analysis reads every frame through it.
LinkFields linkFields(std::span<const std::uint8_t> payload, LinkRole role,
                      const LinkOptions& options);

// "RR", "SNRM", ...; "" for None. Names read back with linkCommandFromName (exact spelling,
// any letter case); None for an unknown name.
std::string_view linkCommandName(LinkCommand command);
LinkCommand linkCommandFromName(std::string_view name);
std::string_view linkTypeName(LinkType type);  // "I", "S", "U"; "" for None
std::string_view linkRoleName(LinkRole role);  // "command", "response"; "" for None

// Whether a command (re)sets the link: SNRM, SNRME, SARM, SARME, SABM, SABME.
bool setsMode(LinkCommand command);

// The frame's type as the table shows it: "I 3/5 P", "RR 2 F", "SNRM P", "U 0B" for an unknown
// unnumbered code (P for a command's poll bit, F for a response's final bit). With brief, as
// the bands on the traces show it: "I 3/5", "RR", "SNRM". Empty for fields that are not valid.
std::string linkTypeText(const LinkFields& fields, bool brief = false);

namespace detail {
inline LinkFields noFields(LinkRole role) {
    LinkFields f;
    f.role = role;
    return f;
}
}  // namespace detail

inline LinkFields linkFields(std::span<const std::uint8_t> payload, LinkRole role,
                             const LinkOptions& options) {
    LinkFields f;
    f.role = role;
    std::size_t at = 0;
    const std::size_t n = payload.size();
    switch (options.address) {
        case AddressMode::None:
            break;
        case AddressMode::One:
            if (n < 1) {
                return f;
            }
            f.address = payload[0];
            at = 1;
            break;
        case AddressMode::Two:
            if (n < 2) {
                return f;
            }
            f.address = static_cast<std::uint32_t>(payload[0]) << 8 | payload[1];
            at = 2;
            break;
        case AddressMode::Extended:
            for (;;) {
                if (at >= n || at >= static_cast<std::size_t>(kMaxExtendedAddress)) {
                    return detail::noFields(role);
                }
                const std::uint8_t b = payload[at++];
                f.address = f.address << 8 | b;
                if ((b & 1) != 0) {
                    break;
                }
            }
            break;
    }
    if (at >= n) {
        return detail::noFields(role);
    }
    const std::uint8_t c = payload[at];
    const bool extended = options.modulo == 128;
    if ((c & 0x03) == 0x03) {
        f.type = LinkType::U;
        f.code = static_cast<std::uint8_t>(c & ~0x10u);
        f.pf = (c & 0x10) != 0;
        f.command = unnumberedCommand(f.code, role);
        f.controlBytes = 1;
    } else if (!extended) {
        f.type = (c & 1) == 0 ? LinkType::I : LinkType::S;
        if (f.type == LinkType::I) {
            f.ns = static_cast<std::uint8_t>((c >> 1) & 7);
        } else {
            f.command = supervisoryKind(c >> 2);
        }
        f.pf = (c & 0x10) != 0;
        f.nr = static_cast<std::uint8_t>(c >> 5);
        f.controlBytes = 1;
    } else {
        if (at + 1 >= n) {
            return detail::noFields(role);
        }
        const std::uint8_t c2 = payload[at + 1];
        f.type = (c & 1) == 0 ? LinkType::I : LinkType::S;
        if (f.type == LinkType::I) {
            f.ns = static_cast<std::uint8_t>(c >> 1);
        } else {
            f.command = supervisoryKind(c >> 2);
        }
        f.pf = (c2 & 1) != 0;
        f.nr = static_cast<std::uint8_t>(c2 >> 1);
        f.controlBytes = 2;
    }
    f.addressBytes = static_cast<std::uint8_t>(at);
    f.infoLength = static_cast<std::uint32_t>(n - at - f.controlBytes);
    return f;
}

}  // namespace osc
