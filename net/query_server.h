// The query server: two threads, one on an IPv4 and one on an IPv6 UDP socket sharing the port of
// networkServerPort, that follow networkServerEnabled and answer every query with this machine's
// records; each thread's own state, the one state word and message shown for both (the worse of the
// two), the start time and request counters, and the texts the Network Setup dialog shows.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/allow_list.h"
#include "net/process_reply.h"
#include "net/server_rules.h"
#include "platform/sockets.h"
#include "telemetry/local_store.h"

namespace tarvelon {

extern std::atomic<int32_t> serverState;  // a ServerState: the worse of the two threads' states
extern std::atomic<uint64_t> requestCountIPv4, requestCountIPv6;

// Which families the server serves and the address each one binds. The default, both families on
// their wildcard addresses, is the panel program's; a host that should answer on one interface only
// narrows it. A family left out gets no thread. Set before startQueryServer.
struct ServerListen {
    bool serveIPv4;
    bool serveIPv6;
    IpAddress ipv4;
    IpAddress ipv6;
    // How long a thread waits for a datagram before it looks at networkServerEnabled again: the
    // panel's dialog switches the server off; the agent never does, and with 0 its threads wait for
    // a datagram without limit, so they never wake for nothing.
    uint32_t enabledCheckMs = 1000;
};
void setServerListen(const ServerListen& listen);

// Who may ask from now on; a query from anyone else gets no reply and costs no reply budget. Any
// thread, any time; empty (everyone) until set.
void setServerAllowList(const AllowList& list);
// Puts the stored networkServerAllow in force. A stored list that does not read (damaged by hand) lets
// no one ask rather than everyone, since its owner meant to narrow who may.
void applyStoredServerAllowList();
// Where a full reply takes its records from, called on a server thread for each query about to be
// answered in full. The panel program's sampler keeps the local store filled, so by default the store
// is sent as it is; the agent gathers its figures when asked and refreshes them first. Set while no
// thread serves (before startQueryServer, or with the server switched off).
void setServerRecordsSource(LocalStore (*source)());

// Where the answer to the processes question comes from: fills one list per GPU, in the order of the
// GPU records of a full reply, and returns how many. Called on a server thread for each such question
// about to be answered. Until one is set the server neither announces the question nor answers it (a
// short answer, as to any unknown code). Set while no thread serves.
using ProcessesSource = int (*)(GpuProcessList (&lists)[kGpuSlots]);
void setServerProcessesSource(ProcessesSource source);

// Called on a server thread, outside the server's locks, whenever a thread has set its state (and
// message), so a watcher need not poll. Set before startQueryServer.
void setServerStateListener(void (*listener)());

// Clears the server state and starts the IPv4 thread, then the IPv6 thread, of the families served. They run
// until the process ends; later calls do nothing.
void startQueryServer();

// The message of the thread whose state serverState shows.
void copyServerMessage(char16_t (&out)[kServerMessageUnits]);

// Texts in static buffers, for the user-interface thread only.
const char16_t* serverStatusReport();
const char16_t* serverStateName();
const char16_t* serverUptimeText();

}  // namespace tarvelon
