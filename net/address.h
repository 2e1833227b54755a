#pragma once
// Resolution of a device address to an IPv4 destination, done anew at every send:
//   1. "LOCALHOST" in any letter case: 127.0.0.1;
//   2. a dotted address (exactly four parts separated by ".", each decimal digits with a
//      value of 0 to 255; leading zeros are decimal, "010" is 10): used as written;
//   3. anything else: looked up as a host name (IPv4 only), the first address of the answer;
//      the empty text is looked up as no name at all, which gives this computer (127.0.0.1),
//      so that commands sent before a device is chosen come back to the endpoint itself.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/datagram_queue.h"

namespace osc::net {

using Ipv4 = std::array<std::uint8_t, 4>;  // in the order written, a.b.c.d

// Rules 1 and 2; nothing when the address has to be looked up.
std::optional<Ipv4> literalAddress(std::string_view address);

// All three rules. Throws EndpointError "Cannot resolve host name '<name>': <reason>".
Ipv4 resolveAddress(const std::string& address);

// Every IPv4 address the rules give: the one address of rules 1 and 2, else all the addresses of
// the lookup's answer in its order, without repeats. Throws as resolveAddress.
std::vector<Ipv4> resolveAllAddresses(const std::string& address);

// The senders whose datagrams are a device's, given the addresses its address resolves to and
// its port: each of them at that port. A device at a loopback address (127.0.0.0/8) runs on
// this computer, and a program there that listens on all addresses answers a loopback peer from
// 127.0.0.1: that address at the port counts too.
std::vector<SenderAddress> deviceSenderSet(const std::vector<Ipv4>& resolved, std::uint16_t port);

std::string ipv4Text(const Ipv4& ip);

}  // namespace osc::net
