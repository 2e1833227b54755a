#include "net/address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/datagram_endpoint.h"

namespace osc::net {

namespace {

bool equalsLocalhost(std::string_view text) {
    static constexpr std::string_view kName = "LOCALHOST";
    if (text.size() != kName.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != kName[i]) {
            return false;
        }
    }
    return true;
}

std::optional<Ipv4> parseDotted(std::string_view text) {
    Ipv4 ip{};
    std::size_t part = 0;
    int value = -1;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = (value < 0 ? 0 : value) * 10 + (c - '0');
            if (value > 255) {
                return std::nullopt;
            }
        } else if (c == '.' && value >= 0 && part < 3) {
            ip[part++] = static_cast<std::uint8_t>(value);
            value = -1;
        } else {
            return std::nullopt;
        }
    }
    if (part != 3 || value < 0) {
        return std::nullopt;
    }
    ip[3] = static_cast<std::uint8_t>(value);
    return ip;
}

}  // namespace

std::optional<Ipv4> literalAddress(std::string_view address) {
    if (equalsLocalhost(address)) {
        return Ipv4{127, 0, 0, 1};
    }
    return parseDotted(address);
}

namespace {

// Rule 3: the lookup's IPv4 addresses, in its order without repeats; first only: the first.
std::vector<Ipv4> lookUp(const std::string& address, bool firstOnly) {
    if (address.find('\0') != std::string::npos) {
        throw EndpointError("Cannot resolve host name '" + address.substr(0, address.find('\0')) +
                            "...': the name holds a NUL character");
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* answer = nullptr;
    // The empty name is this computer, as a lookup of no name gives it (its loopback
    // address): commands sent before a device is chosen come back to the endpoint itself
    // instead of failing the action that sends them.
    const int rc = ::getaddrinfo(address.empty() ? nullptr : address.c_str(),
                                 address.empty() ? "0" : nullptr, &hints, &answer);
    if (rc != 0 || answer == nullptr) {
        std::string reason = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
        if (rc == 0) {
            reason = "no IPv4 address";
        }
        throw EndpointError("Cannot resolve host name '" + address + "': " + reason);
    }
    std::vector<Ipv4> found;
    for (addrinfo* a = answer; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr &&
            a->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in sin{};
            std::memcpy(&sin, a->ai_addr, sizeof sin);
            Ipv4 ip{};
            std::memcpy(ip.data(), &sin.sin_addr.s_addr, 4);
            if (std::find(found.begin(), found.end(), ip) == found.end()) {
                found.push_back(ip);
            }
            if (firstOnly) {
                break;
            }
        }
    }
    ::freeaddrinfo(answer);
    if (found.empty()) {
        throw EndpointError("Cannot resolve host name '" + address + "': no IPv4 address");
    }
    return found;
}

}  // namespace

Ipv4 resolveAddress(const std::string& address) {
    if (auto ip = literalAddress(address)) {
        return *ip;
    }
    return lookUp(address, true).front();
}

std::vector<Ipv4> resolveAllAddresses(const std::string& address) {
    if (auto ip = literalAddress(address)) {
        return {*ip};
    }
    return lookUp(address, false);
}

std::vector<SenderAddress> deviceSenderSet(const std::vector<Ipv4>& resolved, std::uint16_t port) {
    std::vector<SenderAddress> senders;
    bool loopback = false;
    for (const Ipv4& ip : resolved) {
        senders.push_back(SenderAddress{ip, port});
        loopback = loopback || ip[0] == 127;
    }
    const SenderAddress local{{127, 0, 0, 1}, port};
    if (loopback && std::find(senders.begin(), senders.end(), local) == senders.end()) {
        senders.push_back(local);
    }
    return senders;
}

std::string ipv4Text(const Ipv4& ip) {
    return std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
           std::to_string(ip[3]);
}

}  // namespace osc::net
