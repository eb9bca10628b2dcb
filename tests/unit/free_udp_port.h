// Free UDP ports for loopback servers that bind the wildcard address of both families, shared by the
// tests and the benches (no test framework here): a port free on 127.0.0.1 alone may be held on another
// loopback address.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace tarvelon {
namespace testing_net {

// True when the wildcard address of both families can be bound on the port right now.
inline bool portFree(uint16_t port) {
    const SocketHandle ipv4 = openUdpSocket(IpFamily::IPv4);
    const SocketHandle ipv6 = openUdpSocket(IpFamily::IPv6);
    setIPv6Only(ipv6);
    const bool free =
        bindWildcard(ipv4, IpFamily::IPv4, port) == 0 && bindWildcard(ipv6, IpFamily::IPv6, port) == 0;
    closeSocket(ipv4);
    closeSocket(ipv6);
    return free;
}

// A port the system just handed out and that both families can bind; 0 when none turns up.
inline uint16_t findFreeUdpPort() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const SocketHandle probe = openUdpSocket(IpFamily::IPv4);
        bindWildcard(probe, IpFamily::IPv4, 0);
        const uint16_t port = boundPort(probe);
        closeSocket(probe);
        if (port != 0 && portFree(port)) return port;
    }
    return 0;
}

}  // namespace testing_net
}  // namespace tarvelon
