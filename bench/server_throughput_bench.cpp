// Load generator: queries answered per second by one query server thread over IPv4 loopback, next to a
// bare recvfrom/sendto echo loop that sends back replies of the same length, measured in the same run.
// The echo is the limit of the path; the ratio says how much of it the server keeps. The server answers
// one address about ten full replies a second, so the queries go out from many loopback addresses in
// turn; then one address alone shows that limit.
//   server_throughput_bench [seconds per measurement, default 5]
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "net/protocol.h"
#include "net/query_server.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "telemetry/text16.h"

using namespace tarvelon;

namespace {

constexpr int kWindow = 8;  // requests kept in flight, so neither side waits on a round trip
// Far more addresses than the server's reply budget remembers (256): each query then comes from an
// address the budget has just forgotten, its dearest case, and none is ever refused.
constexpr int kSources = 2048;

ResolvedAddress resolved(const char16_t* host, uint16_t port) {
    ResolvedAddress address{};
    char16_t service[16];
    format16(service, 16, u"%d", port);
    resolveUdpAddress(host, service, &address);
    return address;
}

// Sockets bound to 127.0.1.1, 127.0.1.2, ...: one per source address.
std::vector<SocketHandle> openSources(int count) {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    std::vector<SocketHandle> sources;
    for (int i = 0; i < count; ++i) {
        char16_t host[32];
        format16(host, 32, u"127.0.%d.%d", 1 + i / 250, 1 + i % 250);
        const SocketHandle socket = openUdpSocket(IpFamily::IPv4);
        if (socket == kNoSocket || bindAddress(socket, resolved(host, 0)) != 0) {
            closeSocket(socket);
            break;
        }
        setReceiveTimeout(socket, 200);
        sources.push_back(socket);
    }
    return sources;
}

struct Measured {
    double repliesPerSecond;
    uint64_t lost;
};

// Replies per second from the port, keeping kWindow queries in flight for the given time; query k
// goes out from sources[k % sources.size()], where its reply then arrives.
Measured measure(const std::vector<SocketHandle>& sources, uint16_t port, double seconds) {
    const ResolvedAddress to = resolved(u"127.0.0.1", port);
    const size_t count = sources.size();
    uint8_t request[kRequestBytes];
    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    uint64_t sent = 0;
    uint64_t awaited = 0;
    uint64_t replies = 0;
    auto sendOne = [&] {
        buildQueryRequest(static_cast<uint8_t>(sent), request);
        sendTo(sources[sent % count], request, kRequestBytes, to);
        ++sent;
    };
    const uint64_t start = tickCountMs();
    const uint64_t end = start + static_cast<uint64_t>(seconds * 1000);
    while (sent < kWindow && sent < count) sendOne();
    while (tickCountMs() < end) {
        SocketAddress from{};
        from.length = 16;
        if (receiveFrom(sources[awaited % count], buffer.data(), kClientReadLimit, false, &from) > 0)
            ++replies;
        ++awaited;
        sendOne();
    }
    const double elapsed = static_cast<double>(tickCountMs() - start) / 1000.0;
    return {static_cast<double>(replies) / elapsed, awaited - replies};
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

uint16_t freePort() {
    const SocketHandle probe = openUdpSocket(IpFamily::IPv4);
    bindLoopback(probe, IpFamily::IPv4, 0);
    const uint16_t port = boundPort(probe);
    closeSocket(probe);
    return port;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    int32_t error = 0;
    if (!startSockets(&error)) return 1;

    LocalStore store{};
    copyText16(store.host.hostName, kRecordTextUnits, u"bench-host");
    store.gpus[0].present = 1;
    store.gpus[1].present = 1;
    publishLocalStore(store);
    uint8_t probe[kDatagramBufferBytes] = {1, 0, kCodeQuery};
    const int replyBytes = buildAnswer(probe, kRequestBytes, store);

    const std::vector<SocketHandle> sources = openSources(kSources);
    if (sources.size() < static_cast<size_t>(kWindow)) {
        std::printf("could not bind %d loopback sources\n", kWindow);
        return 1;
    }
    settings.networkServerPort = freePort();
    settings.networkServerEnabled = 1;
    startQueryServer();
    while (serverState.load() != kServerRunning) sleepMs(10);
    const uint16_t serverPort = static_cast<uint16_t>(settings.networkServerPort.load());
    measure(sources, serverPort, 0.5);  // warm-up

    const Measured server = measure(sources, serverPort, seconds);
    Measured echo{};
    {
        EchoLoop loop(replyBytes);
        echo = measure(sources, loop.port, seconds);
    }
    sleepMs(2500);  // the address below starts with a full allowance
    const Measured one = measure({sources.front()}, serverPort, seconds);
    std::printf("reply size                  %d bytes, %d queries in flight, %.1f s each\n", replyBytes,
                kWindow, seconds);
    std::printf("query server (one thread)   %10.0f queries/s from %zu addresses, %llu unanswered\n",
                server.repliesPerSecond, sources.size(), static_cast<unsigned long long>(server.lost));
    std::printf("bare recvfrom/sendto echo   %10.0f datagrams/s\n", echo.repliesPerSecond);
    std::printf("server / echo               %10.2f\n",
                echo.repliesPerSecond > 0 ? server.repliesPerSecond / echo.repliesPerSecond : 0.0);
    std::printf("one address alone           %10.1f replies/s (its reply budget)\n", one.repliesPerSecond);
    std::fflush(stdout);
    std::_Exit(0);  // the server threads run until the process ends
}
