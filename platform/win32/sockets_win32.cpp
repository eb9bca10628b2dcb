// Windows Sockets 2 behind the portable socket interface. Winsock already speaks the numbers callers
// decide on; this layer only clears the error after a call that succeeded, so that reading it then
// gives 0 as it does natively.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/sockets.h"

namespace tarvelon {
namespace {

SOCKET native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

int failed() {
    return -1;
}

int succeeded(int result) {
    WSASetLastError(0);
    return result;
}

int familyNumber(IpFamily family) {
    return family == IpFamily::IPv4 ? AF_INET : AF_INET6;
}

int bindTo(SocketHandle socket, const IpAddress& ip, uint16_t port) {
    const SocketAddress address = socketAddressOf(ip, port);
    if (bind(native(socket), reinterpret_cast<const sockaddr*>(address.bytes), address.length) == SOCKET_ERROR)
        return failed();
    return succeeded(0);
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
    const int sent = sendto(native(socket), reinterpret_cast<const char*>(bytes), length, 0,
                            static_cast<const sockaddr*>(address), addressLength);
    if (sent == SOCKET_ERROR) return failed();
    return succeeded(sent);
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
static_assert(sizeof(SOCKET) == sizeof(SocketHandle) && INVALID_SOCKET == kNoSocket);

bool startSockets(int32_t* errorCode) {
    WSADATA data;
    const int result = WSAStartup(2, &data);
    *errorCode = result;
    return result == 0;
}

int32_t lastSocketError() {
    return WSAGetLastError();
}

SocketHandle openSocket(int32_t family, int32_t socketType, int32_t protocol) {
    const SOCKET handle = socket(family, socketType, protocol);
    if (handle == INVALID_SOCKET) return kNoSocket;
    WSASetLastError(0);
    return static_cast<SocketHandle>(handle);
}

SocketHandle openUdpSocket(IpFamily family) {
    return openSocket(familyNumber(family), SOCK_DGRAM, 0);
}

void closeSocket(SocketHandle socket) {
    if (socket != kNoSocket) closesocket(native(socket));
}

void setReceiveTimeout(SocketHandle socket, uint32_t milliseconds) {
    const DWORD timeout = milliseconds;
    setsockopt(native(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
}

void setIPv6Only(SocketHandle socket) {
    const DWORD on = 1;
    setsockopt(native(socket), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on);
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
    int length = sizeof address;
    if (getsockname(native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return 0;
}

int receiveFrom(SocketHandle socket, uint8_t* buffer, int maxBytes, bool peek, SocketAddress* from) {
    int length = from->length;
    const int received = recvfrom(native(socket), reinterpret_cast<char*>(buffer), maxBytes,
                                  peek ? MSG_PEEK : 0, reinterpret_cast<sockaddr*>(from->bytes), &length);
    if (received == SOCKET_ERROR) {
        if (WSAGetLastError() == WSAEMSGSIZE) from->length = length;
        return failed();
    }
    from->length = length;
    return succeeded(received);
}

int sendTo(SocketHandle socket, const uint8_t* bytes, int length, const SocketAddress& to) {
    return sendBytes(socket, bytes, length, to.bytes, to.length);
}

int sendTo(SocketHandle socket, const uint8_t* bytes, int length, const ResolvedAddress& to) {
    return sendBytes(socket, bytes, length, to.bytes, to.length);
}

int32_t resolveUdpAddress(const char16_t* host, const char16_t* service, ResolvedAddress* first) {
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    ADDRINFOW* list = nullptr;
    const int result = GetAddrInfoW(reinterpret_cast<const wchar_t*>(host),
                                    reinterpret_cast<const wchar_t*>(service), &hints, &list);
    if (result != 0) {
        if (list != nullptr) FreeAddrInfoW(list);
        return result;
    }
    if (list == nullptr || list->ai_addrlen > sizeof first->bytes) {
        if (list != nullptr) FreeAddrInfoW(list);
        return WSANO_RECOVERY;
    }
    std::memset(first, 0, sizeof *first);
    first->family = list->ai_family;
    first->socketType = list->ai_socktype;
    first->protocol = list->ai_protocol;
    first->length = static_cast<int32_t>(list->ai_addrlen);
    std::memcpy(first->bytes, list->ai_addr, list->ai_addrlen);
    FreeAddrInfoW(list);
    return 0;
}

bool isNumericHost(const char16_t* host) {
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    ADDRINFOW* list = nullptr;
    const int result = GetAddrInfoW(reinterpret_cast<const wchar_t*>(host), nullptr, &hints, &list);
    if (list != nullptr) FreeAddrInfoW(list);
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
    DWORD length = static_cast<DWORD>(capacity);
    sockaddr_storage copy{};
    std::memcpy(&copy, address.bytes, sizeof address.bytes);
    if (WSAAddressToStringW(reinterpret_cast<sockaddr*>(&copy), static_cast<DWORD>(address.length), nullptr,
                            reinterpret_cast<wchar_t*>(out), &length) != 0 &&
        capacity > 0) {
        out[0] = 0;
    }
}

}  // namespace tarvelon
