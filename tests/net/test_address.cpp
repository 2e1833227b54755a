#include "net/address.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "net/datagram_endpoint.h"

namespace osc::net {
namespace {

struct LiteralCase {
    const char* name;
    std::string address;
    std::optional<Ipv4> expected;  // nothing: looked up as a host name
};

TEST(LiteralAddress, Rules) {
    const std::vector<LiteralCase> rows{
        {"upper localhost", "LOCALHOST", Ipv4{127, 0, 0, 1}},
        {"lower localhost", "localhost", Ipv4{127, 0, 0, 1}},
        {"mixed localhost", "LocalHost", Ipv4{127, 0, 0, 1}},
        {"localhost with dot", "localhost.", std::nullopt},
        {"dotted", "10.0.0.5", Ipv4{10, 0, 0, 5}},
        {"extremes", "0.0.0.0", Ipv4{0, 0, 0, 0}},
        {"all 255", "255.255.255.255", Ipv4{255, 255, 255, 255}},
        {"leading zeros are decimal", "010.001.0.09", Ipv4{10, 1, 0, 9}},
        {"part above 255", "10.0.0.256", std::nullopt},
        {"long part", "10.0.0.0000000000000000001", Ipv4{10, 0, 0, 1}},
        {"huge part", "10.0.0.99999999999999999999", std::nullopt},
        {"three parts", "10.0.5", std::nullopt},
        {"five parts", "1.2.3.4.5", std::nullopt},
        {"empty part", "1..3.4", std::nullopt},
        {"trailing dot", "1.2.3.4.", std::nullopt},
        {"leading dot", ".1.2.3", std::nullopt},
        {"sign", "+1.2.3.4", std::nullopt},
        {"space", " 1.2.3.4", std::nullopt},
        {"hex", "0x7f.0.0.1", std::nullopt},
        {"empty", "", std::nullopt},
        {"name", "rtu-1.local", std::nullopt},
    };
    for (const LiteralCase& row : rows) {
        EXPECT_EQ(literalAddress(row.address), row.expected) << row.name;
    }
}

TEST(ResolveAddress, LiteralsNeedNoLookup) {
    EXPECT_EQ(resolveAddress("LOCALHOST"), (Ipv4{127, 0, 0, 1}));
    EXPECT_EQ(resolveAddress(""), (Ipv4{127, 0, 0, 1})) << "the empty name is this computer";
    EXPECT_EQ(resolveAddress("192.168.0.20"), (Ipv4{192, 168, 0, 20}));
}

TEST(ResolveAddress, UnresolvableNameSaysWhichAndWhy) {
    for (const std::string name : {"no-such-device.invalid", "10.0.0.300.invalid"}) {
        try {
            resolveAddress(name);
            FAIL() << name << " resolved";
        } catch (const EndpointError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find("Cannot resolve host name '" + name + "': "), std::string::npos)
                << text;
            EXPECT_GT(text.size(), name.size() + 30) << "no reason given: " << text;
        }
    }
}

TEST(ResolveAddress, NameWithNulIsRefusedNotTruncated) {
    const std::string name("localhost\0.invalid", 18);
    EXPECT_THROW(resolveAddress(name), EndpointError);
}

TEST(ResolveAllAddresses, LiteralsGiveOneAndNamesTheirAnswer) {
    EXPECT_EQ(resolveAllAddresses("10.0.0.5"), (std::vector<Ipv4>{{10, 0, 0, 5}}));
    EXPECT_EQ(resolveAllAddresses("localhost"), (std::vector<Ipv4>{{127, 0, 0, 1}}));
    EXPECT_EQ(resolveAllAddresses(""), (std::vector<Ipv4>{{127, 0, 0, 1}}));
    EXPECT_THROW(resolveAllAddresses("no-such-device.invalid"), EndpointError);
}

// The device's senders: each address it resolves to at its port, and 127.0.0.1 for a device on
// this computer (a program listening on all addresses answers loopback peers from there).
TEST(DeviceSenderSet, Rules) {
    struct Row {
        const char* name;
        std::vector<Ipv4> resolved;
        std::vector<SenderAddress> senders;
    };
    const std::vector<Row> rows{
        {"one remote address", {{10, 0, 0, 5}}, {{{10, 0, 0, 5}, 971}}},
        {"several addresses",
         {{10, 0, 0, 5}, {192, 168, 1, 9}},
         {{{10, 0, 0, 5}, 971}, {{192, 168, 1, 9}, 971}}},
        {"loopback, not 127.0.0.1",
         {{127, 0, 0, 11}},
         {{{127, 0, 0, 11}, 971}, {{127, 0, 0, 1}, 971}}},
        {"127.0.0.1 itself", {{127, 0, 0, 1}}, {{{127, 0, 0, 1}, 971}}},
        {"remote and loopback",
         {{10, 0, 0, 5}, {127, 1, 2, 3}},
         {{{10, 0, 0, 5}, 971}, {{127, 1, 2, 3}, 971}, {{127, 0, 0, 1}, 971}}},
        {"nothing resolved", {}, {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(deviceSenderSet(row.resolved, 971), row.senders) << row.name;
    }
}

TEST(Ipv4Text, Dotted) {
    EXPECT_EQ(ipv4Text({127, 0, 0, 255}), "127.0.0.255");
}

}  // namespace
}  // namespace osc::net
