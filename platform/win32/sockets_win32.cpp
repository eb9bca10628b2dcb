// Windows Sockets 2 behind the portable socket interface. Winsock already speaks the numbers callers
// decide on; this layer only clears the error after a call that succeeded, so that reading it then
// gives 0 as it does natively.
#include <cstring>

#include "platform/socket_native.h"

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

}  // namespace

int bindSocketAddress(SocketHandle socket, const SocketAddress& address) {
    if (bind(native(socket), reinterpret_cast<const sockaddr*>(address.bytes), address.length) == SOCKET_ERROR)
        return failed();
    return succeeded(0);
}

int sendBytes(SocketHandle socket, const uint8_t* bytes, int length, const void* address, int addressLength) {
    const int sent = sendto(native(socket), reinterpret_cast<const char*>(bytes), length, 0,
                            static_cast<const sockaddr*>(address), addressLength);
    if (sent == SOCKET_ERROR) return failed();
    return succeeded(sent);
}

bool localSocketAddress(SocketHandle socket, SocketAddress* out) {
    int length = out->length;
    if (getsockname(native(socket), reinterpret_cast<sockaddr*>(out->bytes), &length) != 0) return false;
    out->length = length;
    return true;
}

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
    const bool kept = list != nullptr && keepResolvedEntry(list->ai_family, list->ai_socktype, list->ai_protocol,
                                                           list->ai_addr, list->ai_addrlen, first);
    if (list != nullptr) FreeAddrInfoW(list);
    return kept ? 0 : WSANO_RECOVERY;
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
