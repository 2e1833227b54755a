#include "core/link/link_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace osc {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The fields in one line: "U SNRM P a=3/1 c=1 i=0", "I 3/5 a=0205/2 c=2 i=1", "-" when not
// valid.
std::string describe(const LinkFields& f) {
    if (!f.valid()) {
        return "-";
    }
    char buf[64];
    std::string out(linkTypeName(f.type));
    if (f.type == LinkType::I) {
        out += ' ' + std::to_string(f.ns) + '/' + std::to_string(f.nr);
    } else if (f.type == LinkType::S) {
        out += ' ' + std::string(linkCommandName(f.command)) + ' ' + std::to_string(f.nr);
    } else {
        out += ' ' + (f.command == LinkCommand::None ? std::string("?")
                                                     : std::string(linkCommandName(f.command)));
    }
    out += f.pf ? " P" : "";
    std::snprintf(buf, sizeof buf, " a=%X/%d c=%d i=%u", f.address, f.addressBytes, f.controlBytes,
                  f.infoLength);
    return out + buf;
}

LinkOptions with(AddressMode address, int modulo = 8) {
    LinkOptions o;
    o.address = address;
    o.modulo = modulo;
    return o;
}

TEST(LinkFields, Layouts) {
    struct Row {
        const char* name;
        LinkOptions options;
        Bytes payload;
        const char* expected;
    };
    const LinkOptions one;
    const Row rows[] = {
        {"I frame, poll", one, {0x03, 0xBA, 0x11, 0x22}, "I 5/5 P a=3/1 c=1 i=2"},
        {"I frame, no poll", one, {0x03, 0x06}, "I 3/0 a=3/1 c=1 i=0"},
        {"RR", one, {0x01, 0x51}, "S RR 2 P a=1/1 c=1 i=0"},
        {"RNR", one, {0x01, 0xE5}, "S RNR 7 a=1/1 c=1 i=0"},
        {"REJ", one, {0x01, 0x29}, "S REJ 1 a=1/1 c=1 i=0"},
        {"SREJ", one, {0x01, 0x0D}, "S SREJ 0 a=1/1 c=1 i=0"},
        {"SNRM with poll", one, {0xFF, 0x93}, "U SNRM P a=FF/1 c=1 i=0"},
        {"UI with information", one, {0x05, 0x03, 0xAA}, "U UI a=5/1 c=1 i=1"},
        {"unknown unnumbered code", one, {0x05, 0x0B}, "U ? a=5/1 c=1 i=0"},
        {"address only", one, {0x05}, "-"},
        {"nothing", one, {}, "-"},
        {"no address", with(AddressMode::None), {0x10}, "I 0/0 P a=0/0 c=1 i=0"},
        {"no address, nothing", with(AddressMode::None), {}, "-"},
        {"two-byte address", with(AddressMode::Two), {0x12, 0x34, 0x63}, "U UA a=1234/2 c=1 i=0"},
        {"two-byte address cut", with(AddressMode::Two), {0x12, 0x34}, "-"},
        {"extended, one byte", with(AddressMode::Extended), {0x03, 0x00}, "I 0/0 a=3/1 c=1 i=0"},
        {"extended, two bytes",
         with(AddressMode::Extended),
         {0x02, 0x05, 0x22, 0x01},
         "I 1/1 a=205/2 c=1 i=1"},
        {"extended, four bytes",
         with(AddressMode::Extended),
         {0x02, 0x04, 0x06, 0x09, 0x01},
         "S RR 0 a=2040609/4 c=1 i=0"},
        {"extended, no last byte within four",
         with(AddressMode::Extended),
         {0x02, 0x04, 0x06, 0x08, 0x09, 0x01},
         "-"},
        {"extended, runs out", with(AddressMode::Extended), {0x02, 0x04}, "-"},
        {"modulo 128 I",
         with(AddressMode::One, 128),
         {0x07, 0xF4, 0x25, 0x99},
         "I 122/18 P a=7/1 c=2 i=1"},
        {"modulo 128 REJ",
         with(AddressMode::One, 128),
         {0x07, 0x09, 0xFE},
         "S REJ 127 a=7/1 c=2 i=0"},
        {"modulo 128 U keeps one byte",
         with(AddressMode::One, 128),
         {0x07, 0x73, 0x00},
         "U UA P a=7/1 c=1 i=1"},
        {"modulo 128 I cut", with(AddressMode::One, 128), {0x07, 0xF4}, "-"},
        {"modulo 128, extended address",
         with(AddressMode::Extended, 128),
         {0x00, 0x01, 0x02, 0x03},
         "I 1/1 P a=1/2 c=2 i=0"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(describe(linkFields(row.payload, LinkRole::Command, row.options)), row.expected)
            << row.name;
    }
}

// Every unnumbered code and supervisory kind in both roles, with and without the P/F bit, in
// both control field sizes.
TEST(LinkFields, EveryCodeInBothRoles) {
    struct Code {
        std::uint8_t code;
        const char* command;
        const char* response;
    };
    const Code codes[] = {
        {0x83, "SNRM", "SNRM"},   {0xCF, "SNRME", "SNRME"}, {0x0F, "SARM", "DM"},
        {0x4F, "SARME", "SARME"}, {0x2F, "SABM", "SABM"},   {0x6F, "SABME", "SABME"},
        {0x43, "DISC", "RD"},     {0x63, "UA", "UA"},       {0x87, "FRMR", "FRMR"},
        {0x03, "UI", "UI"},       {0xAF, "XID", "XID"},     {0xE3, "TEST", "TEST"},
        {0x8F, "RSET", "RSET"},   {0x07, "SIM", "RIM"},     {0x23, "UP", "UP"},
        {0x0B, "", ""},           {0xC7, "", ""},           {0xEF, "", ""},
        {0x27, "", ""},
    };
    for (const int modulo : {8, 128}) {
        for (const Code& c : codes) {
            for (const int pf : {0, 1}) {
                const auto control = static_cast<std::uint8_t>(c.code | (pf << 4));
                for (const LinkRole role : {LinkRole::Command, LinkRole::Response}) {
                    const LinkFields f =
                        linkFields(Bytes{0x21, control}, role, with(AddressMode::One, modulo));
                    const std::string want = role == LinkRole::Command ? c.command : c.response;
                    const std::string where = std::to_string(c.code) + " " +
                                              std::string(linkRoleName(role)) + " pf " +
                                              std::to_string(pf) + " mod " + std::to_string(modulo);
                    ASSERT_EQ(f.type, LinkType::U) << where;
                    EXPECT_EQ(linkCommandName(f.command), want) << where;
                    EXPECT_EQ(f.pf, pf == 1) << where;
                    EXPECT_EQ(f.code, c.code) << where;
                    EXPECT_EQ(f.controlBytes, 1) << where;
                    EXPECT_EQ(unnumberedCommand(control, role), f.command) << where;
                    if (!want.empty()) {
                        EXPECT_EQ(linkCommandFromName(want), f.command) << where;
                    }
                }
            }
        }
    }
    const char* const kinds[] = {"RR", "RNR", "REJ", "SREJ"};
    for (int kind = 0; kind < 4; ++kind) {
        for (const LinkRole role : {LinkRole::Command, LinkRole::Response}) {
            for (const int pf : {0, 1}) {
                const LinkFields f8 =
                    linkFields(Bytes{0x21, static_cast<std::uint8_t>(0xC1 | kind << 2 | pf << 4)},
                               role, with(AddressMode::One, 8));
                EXPECT_EQ(f8.type, LinkType::S);
                EXPECT_EQ(linkCommandName(f8.command), kinds[kind]);
                EXPECT_EQ(f8.nr, 6);
                EXPECT_EQ(f8.pf, pf == 1);
                const LinkFields f128 =
                    linkFields(Bytes{0x21, static_cast<std::uint8_t>(0x01 | kind << 2),
                                     static_cast<std::uint8_t>(100 << 1 | pf)},
                               role, with(AddressMode::One, 128));
                EXPECT_EQ(f128.type, LinkType::S);
                EXPECT_EQ(linkCommandName(f128.command), kinds[kind]);
                EXPECT_EQ(f128.nr, 100);
                EXPECT_EQ(f128.pf, pf == 1);
                EXPECT_EQ(f128.controlBytes, 2);
            }
        }
    }
    EXPECT_EQ(linkCommandFromName("snrm"), LinkCommand::SNRM);
    EXPECT_EQ(linkCommandFromName("SNR"), LinkCommand::None);
    EXPECT_EQ(linkCommandFromName(""), LinkCommand::None);
}

TEST(LinkFields, FramesRolesAndTexts) {
    Frame f;
    f.channel = 2;
    f.bytes = {0x05, 0x30, 0xAA, 0x12, 0x34};  // I 0/1 F, one byte of information, the check
    f.status = CheckStatus::Good;
    f.check = FrameCheck::X25;
    const LinkOptions o;
    LinkFields fields = linkFields(f, o);
    EXPECT_EQ(fields.role, LinkRole::Response);
    EXPECT_EQ(fields.infoLength, 1u);
    EXPECT_EQ(fields.infoOffset(), 2u);
    EXPECT_EQ(linkTypeText(fields), "I 0/1 F");
    EXPECT_EQ(linkTypeText(fields, true), "I 0/1");

    f.channel = 1;
    EXPECT_EQ(linkTypeText(linkFields(f, o)), "I 0/1 P");
    LinkOptions primary3 = o;
    primary3.primary = 3;
    EXPECT_EQ(linkFields(f, primary3).role, LinkRole::Response);
    f.channel = 3;
    EXPECT_EQ(linkFields(f, primary3).role, LinkRole::Command);
    f.channel = 0;
    EXPECT_EQ(linkFields(f, o).role, LinkRole::None);
    EXPECT_TRUE(linkFields(f, o).valid());

    f.error = FrameError::BadCheck;
    f.status = CheckStatus::Bad;
    EXPECT_FALSE(linkFields(f, o).valid());
    f.error = FrameError::None;
    f.status = CheckStatus::None;  // no check: every byte is payload
    f.check = FrameCheck::None;
    EXPECT_EQ(linkFields(f, o).infoLength, 3u);

    struct Text {
        Bytes payload;
        LinkRole role;
        const char* full;
        const char* brief;
    };
    const Text texts[] = {
        {{0x01, 0xBA}, LinkRole::Command, "I 5/5 P", "I 5/5"},
        {{0x01, 0x51}, LinkRole::Response, "RR 2 F", "RR"},
        {{0x01, 0x41}, LinkRole::Response, "RR 2", "RR"},
        {{0x01, 0x93}, LinkRole::Command, "SNRM P", "SNRM"},
        {{0x01, 0x1F}, LinkRole::Response, "DM F", "DM"},
        {{0x01, 0x0B}, LinkRole::Command, "U 0B", "U 0B"},
        {{0x01}, LinkRole::Command, "", ""},
    };
    for (const Text& t : texts) {
        const LinkFields lf = linkFields(t.payload, t.role, o);
        EXPECT_EQ(linkTypeText(lf), t.full);
        EXPECT_EQ(linkTypeText(lf, true), t.brief);
    }
}

}  // namespace
}  // namespace osc
