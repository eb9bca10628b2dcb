// The socket code that is the same on every system: socket addresses built and read in the system's
// own layout, binding to the usual addresses, sending, and keeping a resolution's first entry.
#include <cstring>

#include "platform/socket_native.h"

namespace tarvelon {
namespace {

int familyNumber(IpFamily family) {
    return family == IpFamily::IPv4 ? AF_INET : AF_INET6;
}

IpAddress loopbackOf(IpFamily family) {
    IpAddress loopback{family, {}, 0};
    if (family == IpFamily::IPv4) {
        loopback.bytes[0] = 127;
        loopback.bytes[3] = 1;
    } else {
        loopback.bytes[15] = 1;
    }
    return loopback;
}

}  // namespace

static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr_in6) == 28);

SocketAddress socketAddressOf(const IpAddress& ip, uint16_t port) {
    SocketAddress address{};
    if (ip.family == IpFamily::IPv4) {
        sockaddr_in ipv4{};
        ipv4.sin_family = AF_INET;
        ipv4.sin_port = htons(port);
        std::memcpy(&ipv4.sin_addr, ip.bytes, 4);
        std::memcpy(address.bytes, &ipv4, sizeof ipv4);
        address.length = sizeof ipv4;
    } else {
        sockaddr_in6 ipv6{};
        ipv6.sin6_family = AF_INET6;
        ipv6.sin6_port = htons(port);
        std::memcpy(&ipv6.sin6_addr, ip.bytes, 16);
        ipv6.sin6_scope_id = ip.scopeId;
        std::memcpy(address.bytes, &ipv6, sizeof ipv6);
        address.length = sizeof ipv6;
    }
    return address;
}

SocketHandle openUdpSocket(IpFamily family) {
    return openSocket(familyNumber(family), SOCK_DGRAM, 0);
}

int bindIpAddress(SocketHandle socket, const IpAddress& address, uint16_t port) {
    return bindSocketAddress(socket, socketAddressOf(address, port));
}

int bindWildcard(SocketHandle socket, IpFamily family, uint16_t port) {
    return bindIpAddress(socket, IpAddress{family, {}, 0}, port);
}

int bindLoopback(SocketHandle socket, IpFamily family, uint16_t port) {
    return bindIpAddress(socket, loopbackOf(family), port);
}

uint16_t boundPort(SocketHandle socket) {
    SocketAddress address{};
    address.length = sizeof address.bytes;
    if (!localSocketAddress(socket, &address)) return 0;
    return socketAddressPort(address);
}

int sendTo(SocketHandle socket, const uint8_t* bytes, int length, const SocketAddress& to) {
    return sendBytes(socket, bytes, length, to.bytes, to.length);
}

int sendTo(SocketHandle socket, const uint8_t* bytes, int length, const ResolvedAddress& to) {
    return sendBytes(socket, bytes, length, to.bytes, to.length);
}

bool isIPv4Address(const ResolvedAddress& address) {
    return address.family == AF_INET;
}

bool senderIpAddress(const SocketAddress& from, IpAddress* out) {
    const auto* address = reinterpret_cast<const sockaddr*>(from.bytes);
    if (address->sa_family == AF_INET && from.length >= static_cast<int32_t>(sizeof(sockaddr_in))) {
        *out = IpAddress{IpFamily::IPv4, {}, 0};
        std::memcpy(out->bytes, &reinterpret_cast<const sockaddr_in*>(from.bytes)->sin_addr, 4);
        return true;
    }
    if (address->sa_family == AF_INET6 && from.length >= static_cast<int32_t>(sizeof(sockaddr_in6))) {
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(from.bytes);
        *out = IpAddress{IpFamily::IPv6, {}, static_cast<uint32_t>(ipv6->sin6_scope_id)};
        std::memcpy(out->bytes, &ipv6->sin6_addr, 16);
        return true;
    }
    return false;
}

uint16_t socketAddressPort(const SocketAddress& address) {
    const auto* any = reinterpret_cast<const sockaddr*>(address.bytes);
    if (any->sa_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(address.bytes)->sin_port);
    if (any->sa_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(address.bytes)->sin6_port);
    return 0;
}

SocketAddress socketAddressOf(const ResolvedAddress& address) {
    SocketAddress out{};
    std::memcpy(out.bytes, address.bytes, sizeof out.bytes);
    out.length = address.length;
    return out;
}

bool keepResolvedEntry(int family, int socketType, int protocol, const void* address, size_t length,
                       ResolvedAddress* first) {
    if (length > sizeof first->bytes) return false;
    std::memset(first, 0, sizeof *first);
    first->family = family;
    first->socketType = socketType;
    first->protocol = protocol;
    first->length = static_cast<int32_t>(length);
    std::memcpy(first->bytes, address, length);
    return true;
}

}  // namespace tarvelon
