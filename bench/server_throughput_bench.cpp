// Load generator: queries answered per second by one query server thread over IPv4 loopback, next to a
// bare recvfrom/sendto echo loop that sends back replies of the same length, measured in the same run.
// The echo is the limit of the path; the ratio says how much of it the server keeps.
//   server_throughput_bench [seconds per measurement, default 5]
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

ResolvedAddress loopback(uint16_t port) {
    ResolvedAddress address{};
    char16_t service[16];
    format16(service, 16, u"%d", port);
    resolveUdpAddress(u"127.0.0.1", service, &address);
    return address;
}

// Replies per second from the port, keeping kWindow queries in flight for the given time.
double measure(uint16_t port, double seconds) {
    const SocketHandle socket = openUdpSocket(IpFamily::IPv4);
    bindLoopback(socket, IpFamily::IPv4, 0);
    setReceiveTimeout(socket, 200);
    const ResolvedAddress to = loopback(port);
    uint8_t request[kRequestBytes];
    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    uint64_t replies = 0;
    uint8_t sequence = 0;
    const uint64_t start = tickCountMs();
    const uint64_t end = start + static_cast<uint64_t>(seconds * 1000);
    auto sendOne = [&] {
        buildQueryRequest(++sequence, request);
        sendTo(socket, request, kRequestBytes, to);
    };
    for (int i = 0; i < kWindow; ++i) sendOne();
    while (tickCountMs() < end) {
        SocketAddress from{};
        from.length = 16;
        if (receiveFrom(socket, buffer.data(), kClientReadLimit, false, &from) > 0) {
            ++replies;
            sendOne();
        } else {
            for (int i = 0; i < kWindow; ++i) sendOne();  // lost in flight: refill the window
        }
    }
    const double elapsed = static_cast<double>(tickCountMs() - start) / 1000.0;
    closeSocket(socket);
    return static_cast<double>(replies) / elapsed;
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

    settings.networkServerPort = freePort();
    settings.networkServerEnabled = 1;
    startQueryServer();
    while (serverState.load() != kServerRunning) sleepMs(10);
    const uint16_t serverPort = static_cast<uint16_t>(settings.networkServerPort.load());
    measure(serverPort, 0.5);  // warm-up

    const double server = measure(serverPort, seconds);
    double echo = 0;
    {
        EchoLoop loop(replyBytes);
        echo = measure(loop.port, seconds);
    }
    std::printf("reply size                  %d bytes, %d queries in flight, %.1f s each\n", replyBytes,
                kWindow, seconds);
    std::printf("query server (one thread)   %10.0f queries/s\n", server);
    std::printf("bare recvfrom/sendto echo   %10.0f datagrams/s\n", echo);
    std::printf("server / echo               %10.2f\n", echo > 0 ? server / echo : 0.0);
    std::fflush(stdout);
    std::_Exit(0);  // the server threads run until the process ends
}
