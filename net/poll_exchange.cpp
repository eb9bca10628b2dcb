#include "net/poll_exchange.h"

#include <cstring>

#include "net/allow_list.h"
#include "net/protocol.h"
#include "platform/clock.h"
#include "platform/sockets.h"

namespace tarvelon {

std::atomic<uint64_t> strayReplyCount{0};

namespace {

constexpr int kStopped = -2;

// Receives the reply from asked within timeoutMs, a slice at a time; kStopped once a stop is
// requested. Datagrams from anyone else, of any length, are counted and dropped.
int receiveReply(SocketHandle socket, uint8_t* buffer, const SocketAddress& asked, uint32_t timeoutMs,
                 const std::atomic<bool>* stopRequested) {
    const uint64_t deadline = tickCountMs() + timeoutMs;
    for (;;) {
        const uint64_t now = tickCountMs();
        if (now >= deadline) return -1;
        const uint64_t left = deadline - now;
        setReceiveTimeout(socket, static_cast<uint32_t>(left < kReceiveSliceMs ? left : kReceiveSliceMs));
        SocketAddress from{};
        from.length = asked.length;
        const int received = receiveFrom(socket, buffer, kClientReadLimit, false, &from);
        const int32_t error = received >= 0 ? 0 : lastSocketError();
        // A datagram too long to be a reply has a sender too: from anyone else it ends nothing.
        const bool arrived = received >= 0 || error == kSocketErrorMessageSize;
        if (arrived && !isFromAskedServer(from, asked)) {
            strayReplyCount.fetch_add(1);
            std::memset(buffer, 0, kDatagramBufferBytes);
        } else if (received >= 0 || error != kSocketErrorTimedOut) {
            return received;
        }
        // A stop is seen within a slice, strays or not.
        if (stopRequested != nullptr && stopRequested->load()) return kStopped;
    }
}

}  // namespace

bool isFromAskedServer(const SocketAddress& from, const SocketAddress& asked) {
    IpAddress sender{};
    IpAddress server{};
    if (!senderIpAddress(from, &sender) || !senderIpAddress(asked, &server)) return false;
    if (socketAddressPort(from) != socketAddressPort(asked)) return false;
    sender = unmappedIPv4(sender);
    server = unmappedIPv4(server);
    const int bytes = sender.family == IpFamily::IPv4 ? 4 : 16;
    // A link-local address names a host only together with its interface.
    const bool sameScope = sender.scopeId == 0 || server.scopeId == 0 || sender.scopeId == server.scopeId;
    return sender.family == server.family && std::memcmp(sender.bytes, server.bytes, bytes) == 0 && sameScope;
}

void exchangeWithServer(ServerSlot& slot, const ResolvedAddress& address, uint8_t sequence, uint8_t* buffer,
                        const std::atomic<bool>* stopRequested) {
    const SocketHandle socket = openSocket(address.family, address.socketType, address.protocol);
    if (socket == kNoSocket) {
        slot.Status.store(kStatusSocketError);
        return;
    }
    const uint64_t start = tickCountMs();
    uint8_t request[kRequestBytes];
    buildQueryRequest(sequence, request);
    if (sendTo(socket, request, kRequestBytes, address) < 0) {
        slot.Status.store(kStatusSendToError);
        closeSocket(socket);
        return;
    }
    std::memset(buffer, 0, kDatagramBufferBytes);
    const uint32_t timeoutMs =
        slot.HighLatency.load() != 0 ? kHighLatencyReceiveTimeoutMs : kReceiveTimeoutMs;
    const int received = receiveReply(socket, buffer, socketAddressOf(address), timeoutMs, stopRequested);
    if (received == kStopped) {
        closeSocket(socket);
        return;
    }
    switch (judgeReply(buffer, received, sequence)) {
        case ReplyVerdict::Unanswered:
            slot.Status.store(kStatusNoResponse);
            closeSocket(socket);
            return;
        case ReplyVerdict::Rejected:
            slot.Status.store(kStatusVersionMismatch);
            closeSocket(socket);
            return;
        case ReplyVerdict::Accepted:
            break;
    }
    slot.Status.store(kStatusOk);
    slot.LastAnswerTime.store(wallClockSeconds());
    slot.AnnouncesProcesses.store(announcesProcesses(buffer) ? 1 : 0);
    updateSlotRecords(
        slot, [buffer](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) { storeReply(buffer, host, gpus); });
    closeSocket(socket);
    slot.LatencyMs.store(static_cast<uint32_t>(tickCountMs() - start));
}

bool exchangeProcesses(const ResolvedAddress& address, uint8_t sequence, uint32_t timeoutMs, uint8_t* buffer,
                       ProcessAnswer* answer) {
    *answer = ProcessAnswer{};
    const SocketHandle socket = openSocket(address.family, address.socketType, address.protocol);
    if (socket == kNoSocket) return false;
    uint8_t request[kRequestBytes];
    buildQueryRequest(sequence, request, kCodeProcesses);
    if (sendTo(socket, request, kRequestBytes, address) < 0) {
        closeSocket(socket);
        return false;
    }
    const uint64_t deadline = tickCountMs() + timeoutMs;
    int gathered = 0;
    for (uint64_t now = tickCountMs(); now < deadline && (gathered == 0 || gathered < answer->gpuCount);
         now = tickCountMs()) {
        std::memset(buffer, 0, kDatagramBufferBytes);
        const int received = receiveReply(socket, buffer, socketAddressOf(address),
                                          static_cast<uint32_t>(deadline - now), nullptr);
        GpuProcessList list;
        int index = 0, gpus = 0;
        if (received < 0) break;
        if (!readProcessReply(buffer, received, sequence, &list, &index, &gpus)) continue;
        // The first datagram tells how many follow; one that disagrees belongs to no answer of this one.
        if (gathered > 0 && gpus != answer->gpuCount) continue;
        answer->gpuCount = gpus;
        if (answer->arrived[index]) continue;
        answer->arrived[index] = true;
        answer->lists[index] = list;
        ++gathered;
    }
    closeSocket(socket);
    return true;
}

}  // namespace tarvelon
