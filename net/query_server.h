// The query server: two threads, one on an IPv4 and one on an IPv6 UDP socket sharing the port of
// networkServerPort, that follow networkServerEnabled and answer every query with this machine's
// records; the shared state word, message, start time and request counters, and the texts the Network
// Setup dialog shows.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/server_rules.h"

namespace tarvelon {

extern std::atomic<int32_t> serverState;  // a ServerState, written by both threads
extern std::atomic<uint64_t> requestCountIPv4, requestCountIPv6;

// Clears the server state and starts the IPv4 thread, then the IPv6 thread. They run until the
// process ends; later calls do nothing.
void startQueryServer();

// The last message of either thread.
void copyServerMessage(char16_t (&out)[kServerMessageUnits]);

// Texts in static buffers, for the user-interface thread only.
const char16_t* serverStatusReport();
const char16_t* serverStateName();
const char16_t* serverUptimeText();

}  // namespace tarvelon
