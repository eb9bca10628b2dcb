// What each operating system's socket file supplies to the shared socket code (sockets.cpp), and the
// system headers that define the socket address layouts both use.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstddef>

#include "platform/sockets.h"

namespace tarvelon {

// Binds to a socket address; 0, or -1 leaving the error for lastSocketError().
int bindSocketAddress(SocketHandle socket, const SocketAddress& address);
// Sends one datagram to an address of addressLength bytes; its length, or -1.
int sendBytes(SocketHandle socket, const uint8_t* bytes, int length, const void* address, int addressLength);
// The address a socket is bound to; false when the system cannot tell.
bool localSocketAddress(SocketHandle socket, SocketAddress* out);

// Keeps one resolver entry as the first result; false when its address does not fit.
bool keepResolvedEntry(int family, int socketType, int protocol, const void* address, size_t length,
                       ResolvedAddress* first);

}  // namespace tarvelon
