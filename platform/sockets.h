// UDP sockets and name resolution with Windows Sockets semantics on every build: a failed call returns
// an invalid socket or -1 and leaves a Winsock error number (10038, 10040, 10048, 10054, 10060, ...)
// for lastSocketError(), which reads 0 after a call that succeeded. A datagram longer than the
// receive size is reported as too long (10040) everywhere, so callers decide the same way on Windows
// and natively.
#pragma once

#include <cstdint>

namespace tarvelon {

// Winsock error numbers that callers decide on.
constexpr int32_t kSocketErrorNotSocket = 10038;        // WSAENOTSOCK
constexpr int32_t kSocketErrorMessageSize = 10040;      // WSAEMSGSIZE
constexpr int32_t kSocketErrorAddressInUse = 10048;     // WSAEADDRINUSE
constexpr int32_t kSocketErrorConnectionReset = 10054;  // WSAECONNRESET
constexpr int32_t kSocketErrorTimedOut = 10060;         // WSAETIMEDOUT

using SocketHandle = uintptr_t;
constexpr SocketHandle kNoSocket = ~static_cast<SocketHandle>(0);  // INVALID_SOCKET

enum class IpFamily { IPv4, IPv6 };

// A numeric address without a port: 4 (IPv4) or 16 (IPv6) bytes in network order and, for IPv6, the
// scope (interface index) of a link-local address. All zero bytes are the family's wildcard address.
struct IpAddress {
    IpFamily family;
    uint8_t bytes[16];
    uint32_t scopeId;
};

// A socket address in the platform's own layout (sockaddr_in: 16 bytes, sockaddr_in6: 28 bytes).
struct SocketAddress {
    alignas(8) uint8_t bytes[28];
    int32_t length;  // capacity on the way into a receive, the sender's length on the way out
};

// The first entry of a name resolution: what is needed to create a socket and send to it. The
// family, socket type and protocol are the platform's own numbers.
struct ResolvedAddress {
    int32_t family;
    int32_t socketType;
    int32_t protocol;
    int32_t length;
    alignas(8) uint8_t bytes[28];
};

// Starts the socket library (Windows Sockets version 2.0); natively always succeeds.
bool startSockets(int32_t* errorCode);

// The error number of this thread's last socket call; 0 after a call that succeeded.
int32_t lastSocketError();

SocketHandle openUdpSocket(IpFamily family);
SocketHandle openSocket(int32_t family, int32_t socketType, int32_t protocol);
void closeSocket(SocketHandle socket);

void setReceiveTimeout(SocketHandle socket, uint32_t milliseconds);
// IPv6 sockets only: no IPv4-mapped traffic, so an IPv4 socket can share the port.
void setIPv6Only(SocketHandle socket);

// Binds to the address and port; 0, or -1 on failure.
int bindIpAddress(SocketHandle socket, const IpAddress& address, uint16_t port);
// The platform's socket address of an address and port, with its length.
SocketAddress socketAddressOf(const IpAddress& address, uint16_t port);
// Binds to the wildcard address (0.0.0.0 or ::) of the family; 0, or -1 on failure.
int bindWildcard(SocketHandle socket, IpFamily family, uint16_t port);
// Binds to the loopback address (127.0.0.1 or ::1); port 0 picks a free one.
int bindLoopback(SocketHandle socket, IpFamily family, uint16_t port);
// The local port a socket is bound to, or 0.
uint16_t boundPort(SocketHandle socket);

// Receives one datagram of at most maxBytes (peek leaves it queued). Returns its length, or -1: on a
// time-out (10060), on a datagram longer than maxBytes (10040; the buffer then holds its first
// maxBytes bytes and, unless peeking, the datagram is gone) and on every other failure. from->length
// must hold the capacity to use (16 or 28) and receives the sender's address length.
int receiveFrom(SocketHandle socket, uint8_t* buffer, int maxBytes, bool peek, SocketAddress* from);
// Sends one datagram; its length, or -1.
int sendTo(SocketHandle socket, const uint8_t* bytes, int length, const SocketAddress& to);
int sendTo(SocketHandle socket, const uint8_t* bytes, int length, const ResolvedAddress& to);

// Resolves host and service (decimal port) for UDP, family unspecified, and keeps the first entry.
// Returns 0, or the resolver's error.
int32_t resolveUdpAddress(const char16_t* host, const char16_t* service, ResolvedAddress* first);
bool isIPv4Address(const ResolvedAddress& address);
// True when host is a numeric IPv4 or IPv6 address, not a name; asks no name service.
bool isNumericHost(const char16_t* host);
// A received sender's address without its port; false, leaving out as it was, for an address of
// neither family.
bool senderIpAddress(const SocketAddress& from, IpAddress* out);
// The port of an address of either family; 0 for any other.
uint16_t socketAddressPort(const SocketAddress& address);
// A resolved address as a socket address, to compare with a sender's.
SocketAddress socketAddressOf(const ResolvedAddress& address);
// The address as text with its port, "127.0.0.1:8221" or "[::1]:8221"; empty if it cannot be shown.
void addressToText(const ResolvedAddress& address, char16_t* out, int capacity);

}  // namespace tarvelon
