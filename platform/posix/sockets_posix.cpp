// BSD sockets behind the Winsock-shaped interface: errno becomes the matching Winsock number, a receive
// time-out reads as 10060 and a datagram longer than the receive size as 10040 (MSG_TRUNC tells the
// real length, which Linux would otherwise hide by truncating silently).
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/sockets.h"
#include "telemetry/text16.h"

namespace tarvelon {
namespace {

thread_local int32_t lastError = 0;

struct ErrnoToWinsock {
    int errnoValue;
    int32_t winsock;
};

constexpr ErrnoToWinsock kErrorTable[] = {
    {EINTR, 10004},
    {EBADF, kSocketErrorNotSocket},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {ENFILE, 10024},
    {EAGAIN, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, kSocketErrorNotSocket},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, kSocketErrorMessageSize},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, kSocketErrorAddressInUse},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, kSocketErrorConnectionReset},
    {ENOBUFS, 10055},
    {ENOMEM, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ETIMEDOUT, kSocketErrorTimedOut},
    {ECONNREFUSED, 10061},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
};

int32_t winsockError(int errnoValue) {
    for (const ErrnoToWinsock& entry : kErrorTable) {
        if (entry.errnoValue == errnoValue) return entry.winsock;
    }
    return 10107;  // WSASYSCALLFAILURE
}

int fail(int32_t error) {
    lastError = error;
    return -1;
}

int succeed(int result) {
    lastError = 0;
    return result;
}

int descriptor(SocketHandle socket) {
    return static_cast<int>(static_cast<intptr_t>(socket));
}

int familyNumber(IpFamily family) {
    return family == IpFamily::IPv4 ? AF_INET : AF_INET6;
}

int bindTo(SocketHandle socket, const IpAddress& ip, uint16_t port) {
    const SocketAddress address = socketAddressOf(ip, port);
    if (bind(descriptor(socket), reinterpret_cast<const sockaddr*>(address.bytes),
             static_cast<socklen_t>(address.length)) != 0) {
        return fail(winsockError(errno));
    }
    return succeed(0);
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

int sendBytes(SocketHandle socket, const uint8_t* bytes, int length, const void* address, int addressLength) {
    const ssize_t sent = sendto(descriptor(socket), bytes, static_cast<size_t>(length), MSG_NOSIGNAL,
                                static_cast<const sockaddr*>(address), static_cast<socklen_t>(addressLength));
    if (sent < 0) return fail(winsockError(errno));
    return succeed(static_cast<int>(sent));
}

}  // namespace

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

static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr_in6) == 28);

bool startSockets(int32_t* errorCode) {
    *errorCode = 0;
    return true;
}

int32_t lastSocketError() {
    return lastError;
}

SocketHandle openSocket(int32_t family, int32_t socketType, int32_t protocol) {
    const int fd = socket(family, socketType | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        fail(winsockError(errno));
        return kNoSocket;
    }
    succeed(0);
    return static_cast<SocketHandle>(fd);
}

SocketHandle openUdpSocket(IpFamily family) {
    return openSocket(familyNumber(family), SOCK_DGRAM, 0);
}

void closeSocket(SocketHandle socket) {
    if (socket != kNoSocket) close(descriptor(socket));
}

void setReceiveTimeout(SocketHandle socket, uint32_t milliseconds) {
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
    timeout.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    setsockopt(descriptor(socket), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

void setIPv6Only(SocketHandle socket) {
    const int on = 1;
    setsockopt(descriptor(socket), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
}

int bindIpAddress(SocketHandle socket, const IpAddress& address, uint16_t port) {
    return bindTo(socket, address, port);
}

int bindWildcard(SocketHandle socket, IpFamily family, uint16_t port) {
    return bindTo(socket, IpAddress{family, {}, 0}, port);
}

int bindLoopback(SocketHandle socket, IpFamily family, uint16_t port) {
    return bindTo(socket, loopbackOf(family), port);
}

uint16_t boundPort(SocketHandle socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(descriptor(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return 0;
}

int receiveFrom(SocketHandle socket, uint8_t* buffer, int maxBytes, bool peek, SocketAddress* from) {
    socklen_t length = static_cast<socklen_t>(from->length);
    const int flags = MSG_TRUNC | (peek ? MSG_PEEK : 0);
    const ssize_t received = recvfrom(descriptor(socket), buffer, static_cast<size_t>(maxBytes), flags,
                                      reinterpret_cast<sockaddr*>(from->bytes), &length);
    if (received < 0) {
        // SO_RCVTIMEO expiring on a blocking socket shows as EAGAIN; Winsock calls it a time-out.
        const int error = errno;
        return fail(error == EAGAIN || error == EWOULDBLOCK ? kSocketErrorTimedOut : winsockError(error));
    }
    from->length = static_cast<int32_t>(length);
    if (received > maxBytes) return fail(kSocketErrorMessageSize);
    return succeed(static_cast<int>(received));
}

int sendTo(SocketHandle socket, const uint8_t* bytes, int length, const SocketAddress& to) {
    return sendBytes(socket, bytes, length, to.bytes, to.length);
}

int sendTo(SocketHandle socket, const uint8_t* bytes, int length, const ResolvedAddress& to) {
    return sendBytes(socket, bytes, length, to.bytes, to.length);
}

int32_t resolveUdpAddress(const char16_t* host, const char16_t* service, ResolvedAddress* first) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* list = nullptr;
    const std::string node = toUtf8(host);
    const std::string port = toUtf8(service);
    const int result = getaddrinfo(node.c_str(), port.c_str(), &hints, &list);
    if (result != 0) {
        if (list != nullptr) freeaddrinfo(list);
        return result;
    }
    if (list == nullptr || list->ai_addrlen > sizeof first->bytes) {
        if (list != nullptr) freeaddrinfo(list);
        return EAI_FAIL;
    }
    std::memset(first, 0, sizeof *first);
    first->family = list->ai_family;
    first->socketType = list->ai_socktype;
    first->protocol = list->ai_protocol;
    first->length = static_cast<int32_t>(list->ai_addrlen);
    std::memcpy(first->bytes, list->ai_addr, list->ai_addrlen);
    freeaddrinfo(list);
    return 0;
}

bool isNumericHost(const char16_t* host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    const int result = getaddrinfo(toUtf8(host).c_str(), nullptr, &hints, &list);
    if (list != nullptr) freeaddrinfo(list);
    return result == 0;
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

void addressToText(const ResolvedAddress& address, char16_t* out, int capacity) {
    char host[INET6_ADDRSTRLEN] = {};
    char text[96] = {};
    if (address.family == AF_INET && address.length >= static_cast<int32_t>(sizeof(sockaddr_in))) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address.bytes);
        inet_ntop(AF_INET, &ipv4->sin_addr, host, sizeof host);
        const unsigned port = ntohs(ipv4->sin_port);
        if (port != 0) {
            std::snprintf(text, sizeof text, "%s:%u", host, port);
        } else {
            std::snprintf(text, sizeof text, "%s", host);
        }
    } else if (address.family == AF_INET6 && address.length >= static_cast<int32_t>(sizeof(sockaddr_in6))) {
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address.bytes);
        inet_ntop(AF_INET6, &ipv6->sin6_addr, host, sizeof host);
        char scoped[INET6_ADDRSTRLEN + 16] = {};
        if (ipv6->sin6_scope_id != 0) {
            std::snprintf(scoped, sizeof scoped, "%s%%%u", host, static_cast<unsigned>(ipv6->sin6_scope_id));
        } else {
            std::snprintf(scoped, sizeof scoped, "%s", host);
        }
        const unsigned port = ntohs(ipv6->sin6_port);
        if (port != 0) {
            std::snprintf(text, sizeof text, "[%s]:%u", scoped, port);
        } else {
            std::snprintf(text, sizeof text, "%s", scoped);
        }
    }
    copyBytesToText16(out, static_cast<size_t>(capacity), text);
}

}  // namespace tarvelon
