// A probe target's name resolved within the scrape's time limit: getaddrinfo cannot be interrupted,
// so a name is resolved on a thread of its own that the probe stops waiting for. Numeric addresses
// are read at once, without a thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sockets.h"

namespace tarvelon {

// Resolver threads that may still be running after their probes gave up on them; beyond this a
// name probe fails at once, so a hung resolver cannot pile up threads.
constexpr int kMostPendingResolutions = 64;

// Every address of host in the resolver's order (an IPv4-mapped address as the IPv4 address it
// carries), or empty when it does not resolve within waitMs.
std::vector<IpAddress> resolveProbeHost(const std::string& host, uint32_t waitMs);

}  // namespace tarvelon
