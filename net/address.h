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

namespace osc::net {

using Ipv4 = std::array<std::uint8_t, 4>;  // in the order written, a.b.c.d

// Rules 1 and 2; nothing when the address has to be looked up.
std::optional<Ipv4> literalAddress(std::string_view address);

// All three rules. Throws EndpointError "Cannot resolve host name '<name>': <reason>".
Ipv4 resolveAddress(const std::string& address);

std::string ipv4Text(const Ipv4& ip);

}  // namespace osc::net
