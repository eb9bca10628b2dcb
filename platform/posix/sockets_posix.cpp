// BSD sockets behind the Winsock-shaped interface: errno becomes the matching Winsock number, a receive
// time-out reads as 10060 and a datagram longer than the receive size as 10040 (MSG_TRUNC tells the
// real length, which Linux would otherwise hide by truncating silently).
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/socket_native.h"
#include "platform/text16.h"

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

}  // namespace

int bindSocketAddress(SocketHandle socket, const SocketAddress& address) {
    if (bind(descriptor(socket), reinterpret_cast<const sockaddr*>(address.bytes),
             static_cast<socklen_t>(address.length)) != 0) {
        return fail(winsockError(errno));
    }
    return succeed(0);
}

int sendBytes(SocketHandle socket, const uint8_t* bytes, int length, const void* address, int addressLength) {
    const ssize_t sent = sendto(descriptor(socket), bytes, static_cast<size_t>(length), MSG_NOSIGNAL,
                                static_cast<const sockaddr*>(address), static_cast<socklen_t>(addressLength));
    if (sent < 0) return fail(winsockError(errno));
    return succeed(static_cast<int>(sent));
}

bool localSocketAddress(SocketHandle socket, SocketAddress* out) {
    socklen_t length = static_cast<socklen_t>(out->length);
    if (getsockname(descriptor(socket), reinterpret_cast<sockaddr*>(out->bytes), &length) != 0) return false;
    out->length = static_cast<int32_t>(length);
    return true;
}

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
    const bool kept = list != nullptr && keepResolvedEntry(list->ai_family, list->ai_socktype, list->ai_protocol,
                                                           list->ai_addr, list->ai_addrlen, first);
    if (list != nullptr) freeaddrinfo(list);
    return kept ? 0 : EAI_FAIL;
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
