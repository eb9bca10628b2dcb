// One exchange of a poll thread with its server: a fresh socket, the query, the reply judged and,
// when accepted, stored in the slot; the slot's Status, LatencyMs and LastAnswerTime tell the outcome.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/process_reply.h"
#include "net/slot_table.h"
#include "platform/sockets.h"

namespace tarvelon {

constexpr uint32_t kReceiveTimeoutMs = 900;
constexpr uint32_t kHighLatencyReceiveTimeoutMs = 9000;
// The wait for the reply is cut into slices of at most this, so that a stop request is seen soon.
constexpr uint32_t kReceiveSliceMs = 250;

// Replies that came from another address or port than the one asked, since the start: someone on
// the network answering in a server's name. They are dropped and the wait goes on.
extern std::atomic<uint64_t> strayReplyCount;

// True when a reply from `from` comes from `asked`: same port and same address, an IPv4-mapped IPv6
// address being the IPv4 address it carries.
bool isFromAskedServer(const SocketAddress& from, const SocketAddress& asked);

// buffer: the poll thread's kDatagramBufferBytes receive buffer. Once stopRequested (if given) is
// set, the exchange ends within one slice and leaves the slot as it was.
void exchangeWithServer(ServerSlot& slot, const ResolvedAddress& address, uint8_t sequence, uint8_t* buffer,
                        const std::atomic<bool>* stopRequested = nullptr);

// The datagrams of one answer to the processes question, each kept where its GPU index says.
struct ProcessAnswer {
    int gpuCount;  // as the datagrams tell it; 0 when none arrived
    bool arrived[kGpuSlots];
    GpuProcessList lists[kGpuSlots];
};

// Asks a server that announced it for the processes using its GPUs and gathers the datagrams of the
// answer until every GPU's has come or timeoutMs has passed; datagrams of other questions, from
// other senders or that do not read are dropped. False when the question could not be sent.
bool exchangeProcesses(const ResolvedAddress& address, uint8_t sequence, uint32_t timeoutMs, uint8_t* buffer,
                       ProcessAnswer* answer);

}  // namespace tarvelon
