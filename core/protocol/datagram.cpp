#include "core/protocol/datagram.h"

#include <algorithm>

namespace osc {

std::array<std::uint8_t, 2> identityRequest() {
    return {'G', 'D'};
}

static std::array<std::uint8_t, 9> command(const DeviceId& id, std::uint8_t code) {
    std::array<std::uint8_t, 9> out{};
    out[0] = 'D';
    out[1] = 'D';
    std::copy(id.begin(), id.end(), out.begin() + 2);
    out[8] = code;
    return out;
}

std::array<std::uint8_t, 9> startCommand(const DeviceId& id) {
    return command(id, '6');
}
std::array<std::uint8_t, 9> stopCommand(const DeviceId& id) {
    return command(id, '7');
}

DatagramKind classifyDatagram(std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return DatagramKind::Ignored;
    }
    if (data[0] == 'G') {
        return data.size() >= 8 ? DatagramKind::IdentityReply : DatagramKind::Ignored;
    }
    if (data[0] == '#' && data.size() >= 2 && (data[1] == 0x08 || data[1] == 0x09)) {
        return DatagramKind::Sample;
    }
    return DatagramKind::Ignored;
}

DeviceId identityOf(std::span<const std::uint8_t> reply) {
    DeviceId id{};
    std::copy(reply.begin() + 2, reply.begin() + 8, id.begin());
    return id;
}

std::string peerText(const PeerAddress& peer) {
    return std::to_string(peer.ip[0]) + "." + std::to_string(peer.ip[1]) + "." +
           std::to_string(peer.ip[2]) + "." + std::to_string(peer.ip[3]) + ":" +
           std::to_string(peer.port);
}

std::string deviceIdText(const DeviceId& id) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (i > 0) {
            text += ':';
        }
        text += kHex[id[i] >> 4];
        text += kHex[id[i] & 0x0F];
    }
    return text;
}

bool isZero(const DeviceId& id) {
    return std::all_of(id.begin(), id.end(), [](std::uint8_t b) { return b == 0; });
}

int MemDiffers(const std::uint8_t* a, const std::uint8_t* b, int n) {
    for (int i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            return 1;
        }
    }
    return 0;
}

}  // namespace osc
