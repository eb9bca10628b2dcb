#include "net/poll_exchange.h"

#include <cstring>

#include "net/protocol.h"
#include "platform/clock.h"
#include "platform/sockets.h"

namespace tarvelon {

void exchangeWithServer(ServerSlot& slot, const ResolvedAddress& address, uint8_t sequence, uint8_t* buffer) {
    const SocketHandle socket = openSocket(address.family, address.socketType, address.protocol);
    if (socket == kNoSocket) {
        slot.Status.store(kStatusSocketError);
        return;
    }
    const uint64_t start = tickCountMs();
    setReceiveTimeout(socket,
                      slot.HighLatency.load() != 0 ? kHighLatencyReceiveTimeoutMs : kReceiveTimeoutMs);
    uint8_t request[kRequestBytes];
    buildQueryRequest(sequence, request);
    if (sendTo(socket, request, kRequestBytes, address) < 0) {
        slot.Status.store(kStatusSendToError);
        closeSocket(socket);
        return;
    }
    std::memset(buffer, 0, kDatagramBufferBytes);
    SocketAddress from{};
    from.length = isIPv4Address(address) ? 16 : 28;
    const int received = receiveFrom(socket, buffer, kClientReadLimit, false, &from);
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
    updateSlotRecords(
        slot, [buffer](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) { storeReply(buffer, host, gpus); });
    closeSocket(socket);
    slot.LatencyMs.store(static_cast<uint32_t>(tickCountMs() - start));
}

}  // namespace tarvelon
