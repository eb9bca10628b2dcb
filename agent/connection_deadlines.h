// Deadlines for the connections of the metrics endpoint, which libmicrohttpd bounds only by idle
// time: a client that trickles its headers a byte at a time would otherwise hold its connection
// for ever. Each connection must finish its next request's headers by its deadline; a watchdog
// shuts down the socket of one that is late, and the library then closes it. The same list of
// connections decides whether a new one is admitted (connection_admission).
#pragma once

#include <chrono>
#include <cstdint>

#include "agent/connection_admission.h"

namespace tarvelon {

using DeadlineClock = std::chrono::steady_clock;

// A kept-alive connection waits this long for its next request (Prometheus scrapes once a minute
// by default), and a request's headers must then arrive within kHeaderSeconds of its first line.
constexpr int kIdleSecondsBeforeClose = 90;
constexpr int kHeaderSeconds = 10;

struct ConnectionDeadline;

// Whether a connection from client (its addressGroup) may be opened now; for AdmitInPlace the
// connection giving way is already being shut down.
Admission admitClient(const IpAddress& client);

// socketFd: the connection's socket, duplicated so that shutting it down can never reach a
// descriptor the library has closed and reused. Null when the descriptor cannot be duplicated.
ConnectionDeadline* watchConnection(int socketFd, const IpAddress& client);
void forgetConnection(ConnectionDeadline* connection);
// The request line has arrived: its headers are due within kHeaderSeconds.
void requestBegun(ConnectionDeadline* connection);
// The headers are complete: no deadline while the request is answered.
void requestRead(ConnectionDeadline* connection);
// The answer is sent: the connection may wait kIdleSecondsBeforeClose for its next request.
void requestAnswered(ConnectionDeadline* connection);

// Starts the watchdog thread once; it checks every quarter of a second.
void startDeadlineWatchdog();

}  // namespace tarvelon
