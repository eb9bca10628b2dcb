// How the metrics endpoint shares its connections among clients (an IPv4 address, an IPv6 /64).
// Prometheus keeps one connection per target open between scrapes and probes every target of a
// probe job at once, so a client may hold a connection for each probe in flight and a few more.
// When every connection is taken, a newcomer takes the place of a connection that waits for its next
// request, from the client holding the most: clients that hoard idle connections cannot lock out a
// scraper, however many addresses they use.
#pragma once

#include <cstddef>

#include "agent/metrics_probe.h"
#include "platform/sockets.h"

namespace tarvelon {

constexpr unsigned kConnectionsPerClient = kMostProbesInFlight + 8;
constexpr unsigned kMostConnections = 4 * kConnectionsPerClient;

struct HeldConnection {
    IpAddress client;  // addressGroup of its address
    bool waiting;      // for its next request (or its first): no request of it is being read or answered
};

enum class Admission {
    Admit,
    AdmitInPlace,  // once the connection named by replaced is closed
    ClientFull,    // the client holds kConnectionsPerClient already
    AllBusy,       // every connection is taken, none can give way
};

struct AdmissionDecision {
    Admission admission;
    size_t replaced;  // index into held, for AdmitInPlace
};

// Whether a connection of client may be opened beside the count connections held.
AdmissionDecision admitConnection(const HeldConnection* held, size_t count, const IpAddress& client);

}  // namespace tarvelon
