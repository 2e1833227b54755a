#include "core/link/link_fields.h"

#include <array>

namespace osc {

namespace {

constexpr std::array<std::string_view, kLinkCommandCount> kNames = {
    "",   "RR", "RNR",  "REJ", "SREJ", "SNRM", "SNRME", "SARM", "SARME", "SABM", "SABME", "DISC",
    "UA", "DM", "FRMR", "UI",  "XID",  "TEST", "RSET",  "SIM",  "RIM",   "RD",   "UP",
};

// The unnumbered commands by control byte (P/F cleared), as a command and as a response.
struct Unnumbered {
    std::uint8_t code;
    LinkCommand command;
    LinkCommand response;
};
constexpr std::array<Unnumbered, 15> kUnnumbered{{
    {0x03, LinkCommand::UI, LinkCommand::UI},
    {0x07, LinkCommand::SIM, LinkCommand::RIM},
    {0x0F, LinkCommand::SARM, LinkCommand::DM},
    {0x23, LinkCommand::UP, LinkCommand::UP},
    {0x2F, LinkCommand::SABM, LinkCommand::SABM},
    {0x43, LinkCommand::DISC, LinkCommand::RD},
    {0x4F, LinkCommand::SARME, LinkCommand::SARME},
    {0x63, LinkCommand::UA, LinkCommand::UA},
    {0x6F, LinkCommand::SABME, LinkCommand::SABME},
    {0x83, LinkCommand::SNRM, LinkCommand::SNRM},
    {0x87, LinkCommand::FRMR, LinkCommand::FRMR},
    {0x8F, LinkCommand::RSET, LinkCommand::RSET},
    {0xAF, LinkCommand::XID, LinkCommand::XID},
    {0xCF, LinkCommand::SNRME, LinkCommand::SNRME},
    {0xE3, LinkCommand::TEST, LinkCommand::TEST},
}};

// Both roles' names of every control byte, so that reading a frame is one look-up.
struct UnnumberedTable {
    std::array<LinkCommand, 256> command{};
    std::array<LinkCommand, 256> response{};
};
constexpr UnnumberedTable makeTable() {
    UnnumberedTable t;
    for (const Unnumbered& u : kUnnumbered) {
        t.command[u.code] = u.command;
        t.response[u.code] = u.response;
    }
    return t;
}
constexpr UnnumberedTable kTable = makeTable();

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

LinkRole lineRole(int channel, const LinkOptions& options) {
    if (channel == options.primary) {
        return LinkRole::Command;
    }
    return channel >= 1 && channel < kChannelCount ? LinkRole::Response : LinkRole::None;
}

LinkCommand unnumberedCommand(std::uint8_t code, LinkRole role) {
    code = static_cast<std::uint8_t>(code & ~0x10u);
    return role == LinkRole::Response ? kTable.response[code] : kTable.command[code];
}

LinkFields linkFields(const Frame& frame, const LinkOptions& options) {
    const LinkRole role = lineRole(frame.channel, options);
    if (!frame.good()) {
        return detail::noFields(role);
    }
    return linkFields(framePayload(frame), role, options);
}

std::string_view linkCommandName(LinkCommand command) {
    const auto i = static_cast<std::size_t>(command);
    return i < kNames.size() ? kNames[i] : std::string_view();
}

LinkCommand linkCommandFromName(std::string_view name) {
    for (std::size_t i = 1; i < kNames.size(); ++i) {
        if (sameLetters(name, kNames[i])) {
            return static_cast<LinkCommand>(i);
        }
    }
    return LinkCommand::None;
}

std::string_view linkTypeName(LinkType type) {
    switch (type) {
        case LinkType::I:
            return "I";
        case LinkType::S:
            return "S";
        case LinkType::U:
            return "U";
        case LinkType::None:
            break;
    }
    return "";
}

std::string_view linkRoleName(LinkRole role) {
    switch (role) {
        case LinkRole::Command:
            return "command";
        case LinkRole::Response:
            return "response";
        case LinkRole::None:
            break;
    }
    return "";
}

bool setsMode(LinkCommand command) {
    switch (command) {
        case LinkCommand::SNRM:
        case LinkCommand::SNRME:
        case LinkCommand::SARM:
        case LinkCommand::SARME:
        case LinkCommand::SABM:
        case LinkCommand::SABME:
            return true;
        default:
            return false;
    }
}

std::string linkTypeText(const LinkFields& f, bool brief) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    switch (f.type) {
        case LinkType::None:
            return out;
        case LinkType::I:
            out = "I " + std::to_string(f.ns) + '/' + std::to_string(f.nr);
            break;
        case LinkType::S:
            out = linkCommandName(f.command);
            if (!brief) {
                out += ' ' + std::to_string(f.nr);
            }
            break;
        case LinkType::U:
            if (f.command != LinkCommand::None) {
                out = linkCommandName(f.command);
            } else {
                out = "U ";
                out += kHex[f.code >> 4];
                out += kHex[f.code & 15];
            }
            break;
    }
    if (!brief && f.pf) {
        out += f.role == LinkRole::Response ? " F" : " P";
    }
    return out;
}

}  // namespace osc
