// Queries kept in flight against a server over IPv4 loopback, each sent from the next of many loopback
// addresses. A query server answers one address only about ten full replies a second; with far more
// addresses than its reply budget remembers (256), each query comes from an address the budget has
// just forgotten, its dearest case, and none is refused for the budget. Beside them, a bare echo loop:
// the limit of the loopback path that the figures are measured against.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "net/protocol.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/text16.h"
#include "tests/unit/free_udp_port.h"

namespace tarvelon {

constexpr int kLoadWindow = 8;  // queries kept in flight, so neither side waits on a round trip
constexpr int kLoadSources = 2048;

inline ResolvedAddress resolvedLoopback(const char16_t* host, uint16_t port) {
    ResolvedAddress address{};
    char16_t service[16];
    format16(service, 16, u"%d", port);
    resolveUdpAddress(host, service, &address);
    return address;
}

// One query from a fresh IPv4 loopback socket and its reply; the reply's length, or -1 when none
// comes within the time.
inline int askOnce(uint16_t port, uint32_t timeoutMs) {
    const SocketHandle socket = openUdpSocket(IpFamily::IPv4);
    bindLoopback(socket, IpFamily::IPv4, 0);
    setReceiveTimeout(socket, timeoutMs);
    uint8_t request[kRequestBytes];
    buildQueryRequest(1, request);
    sendTo(socket, request, kRequestBytes, resolvedLoopback(u"127.0.0.1", port));
    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    SocketAddress from{};
    from.length = 16;
    const int received = receiveFrom(socket, buffer.data(), kClientReadLimit, false, &from);
    closeSocket(socket);
    return received;
}

// Sockets bound to 127.0.1.1, 127.0.1.2, ...: one per source address (fewer if the system refuses).
inline std::vector<SocketHandle> openLoopbackSources(int count) {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    std::vector<SocketHandle> sources;
    for (int i = 0; i < count; ++i) {
        const IpAddress source = {
            IpFamily::IPv4,
            {127, 0, static_cast<uint8_t>(1 + i / 250), static_cast<uint8_t>(1 + i % 250)},
            0};
        const SocketHandle socket = openUdpSocket(IpFamily::IPv4);
        if (socket == kNoSocket || bindIpAddress(socket, source, 0) != 0) {
            closeSocket(socket);
            break;
        }
        setReceiveTimeout(socket, 200);
        sources.push_back(socket);
    }
    return sources;
}

struct LoadResult {
    double repliesPerSecond;
    uint64_t unanswered;
};

// Replies per second from the port for the given time; query k goes out from sources[k % count],
// where its reply then arrives. k goes on from nextQuery, where the last measurement stopped: starting
// over at the first address would send again from addresses the server answered a moment ago and
// still remembers with their allowance spent, and those queries would go unanswered. The replies
// still on their way at the end are received before it returns, so that none is left for the next.
inline LoadResult measureLoad(const std::vector<SocketHandle>& sources, uint16_t port, double seconds,
                              uint64_t& nextQuery) {
    const ResolvedAddress to = resolvedLoopback(u"127.0.0.1", port);
    const size_t count = sources.size();
    uint8_t request[kRequestBytes];
    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    uint64_t sent = nextQuery;
    uint64_t awaited = nextQuery;
    uint64_t replies = 0;
    auto sendOne = [&] {
        buildQueryRequest(static_cast<uint8_t>(sent), request);
        sendTo(sources[sent % count], request, kRequestBytes, to);
        ++sent;
    };
    auto awaitOne = [&] {
        SocketAddress from{};
        from.length = 16;
        const bool replied =
            receiveFrom(sources[awaited % count], buffer.data(), kClientReadLimit, false, &from) > 0;
        ++awaited;
        return replied;
    };
    const uint64_t start = tickCountMs();
    const uint64_t end = start + static_cast<uint64_t>(seconds * 1000);
    while (sent - nextQuery < std::min<uint64_t>(kLoadWindow, count)) sendOne();
    while (tickCountMs() < end) {
        replies += awaitOne() ? 1 : 0;
        sendOne();
    }
    const double elapsed = static_cast<double>(tickCountMs() - start) / 1000.0;
    const uint64_t measured = awaited - nextQuery;
    while (awaited < sent) awaitOne();
    nextQuery = sent;
    return {static_cast<double>(replies) / elapsed, measured - replies};
}

// A bare echo: every datagram is answered with replyBytes bytes, nothing else happens.
struct EchoLoop {
    SocketHandle socket = openUdpSocket(IpFamily::IPv4);
    std::atomic<bool> stop{false};
    std::thread thread;
    uint16_t port = 0;

    explicit EchoLoop(int replyBytes) {
        bindLoopback(socket, IpFamily::IPv4, 0);
        setReceiveTimeout(socket, 100);
        port = boundPort(socket);
        thread = std::thread([this, replyBytes] {
            std::vector<uint8_t> buffer(kDatagramBufferBytes);
            while (!stop.load()) {
                SocketAddress from{};
                from.length = 16;
                if (receiveFrom(socket, buffer.data(), kServerReadLimit, false, &from) >= 0) {
                    sendTo(socket, buffer.data(), replyBytes, from);
                }
            }
        });
    }
    ~EchoLoop() {
        stop.store(true);
        thread.join();
        closeSocket(socket);
    }
};

}  // namespace tarvelon
