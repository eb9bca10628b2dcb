#include "agent/probe_exchange.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "net/protocol.h"
#include "platform/clock.h"

namespace tarvelon {
namespace {

struct Socket {
    int fd;
    ~Socket() {
        if (fd >= 0) close(fd);
    }
};

}  // namespace

bool queryProbeTarget(const IpAddress& address, uint16_t port, uint32_t waitMs, uint8_t sequence,
                      SlotRecords* records) {
    const SocketAddress target = socketAddressOf(address, port);
    const Socket socket{
        ::socket(address.family == IpFamily::IPv4 ? AF_INET : AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    if (socket.fd < 0 || connect(socket.fd, reinterpret_cast<const sockaddr*>(target.bytes),
                                 static_cast<socklen_t>(target.length)) != 0)
        return false;
    uint8_t request[kRequestBytes];
    buildQueryRequest(sequence, request);
    if (send(socket.fd, request, kRequestBytes, 0) != kRequestBytes) return false;

    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    const uint64_t deadline = tickCountMs() + waitMs;
    for (;;) {
        const uint64_t now = tickCountMs();
        if (now >= deadline) return false;
        pollfd readable{socket.fd, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(deadline - now));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        std::fill(buffer.begin(), buffer.end(), 0);
        // MSG_TRUNC gives a longer datagram's whole length, which judgeReply refuses.
        const ssize_t received = recv(socket.fd, buffer.data(), kClientReadLimit, MSG_TRUNC);
        if (received < 0) return false;  // ECONNREFUSED: nothing listens on the port
        const int length = received > kClientReadLimit ? -1 : static_cast<int>(received);
        switch (judgeReply(buffer.data(), length, sequence)) {
            case ReplyVerdict::Accepted:
                storeReply(buffer.data(), records->host, records->gpus);
                return true;
            case ReplyVerdict::Rejected:
                return false;
            case ReplyVerdict::Unanswered:
                break;  // a stray short datagram; the reply may still come
        }
    }
}

}  // namespace tarvelon
