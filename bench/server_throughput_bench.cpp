// Load generator: queries answered per second by one query server thread over IPv4 loopback, next to a
// bare recvfrom/sendto echo loop that sends back replies of the same length, measured in the same run.
// The echo is the limit of the path; the ratio says how much of it the server keeps. The server answers
// one address about ten full replies a second, so the queries go out from many loopback addresses in
// turn; then one address alone shows that limit.
//   server_throughput_bench [seconds per measurement, default 5]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "bench/loopback_load.h"
#include "net/protocol.h"
#include "net/query_server.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "telemetry/text16.h"

using namespace tarvelon;

namespace {

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

    const std::vector<SocketHandle> sources = openLoopbackSources(kLoadSources);
    if (sources.size() < static_cast<size_t>(kLoadWindow)) {
        std::printf("could not bind %d loopback sources\n", kLoadWindow);
        return 1;
    }
    settings.networkServerPort = freePort();
    settings.networkServerEnabled = 1;
    startQueryServer();
    while (serverState.load() != kServerRunning) sleepMs(10);
    const uint16_t serverPort = static_cast<uint16_t>(settings.networkServerPort.load());
    measureLoad(sources, serverPort, 0.5);  // warm-up

    const LoadResult server = measureLoad(sources, serverPort, seconds);
    LoadResult echo{};
    {
        EchoLoop loop(replyBytes);
        echo = measureLoad(sources, loop.port, seconds);
    }
    sleepMs(2500);  // the address below starts with a full allowance
    const LoadResult one = measureLoad({sources.front()}, serverPort, seconds);
    std::printf("reply size                  %d bytes, %d queries in flight, %.1f s each\n", replyBytes,
                kLoadWindow, seconds);
    std::printf("query server (one thread)   %10.0f queries/s from %zu addresses, %llu unanswered\n",
                server.repliesPerSecond, sources.size(), static_cast<unsigned long long>(server.unanswered));
    std::printf("bare recvfrom/sendto echo   %10.0f datagrams/s\n", echo.repliesPerSecond);
    std::printf("server / echo               %10.2f\n",
                echo.repliesPerSecond > 0 ? server.repliesPerSecond / echo.repliesPerSecond : 0.0);
    std::printf("one address alone           %10.1f replies/s (its reply budget)\n", one.repliesPerSecond);
    std::fflush(stdout);
    std::_Exit(0);  // the server threads run until the process ends
}
