// Load generator: queries answered per second by one query server thread over IPv4 loopback, next to a
// bare recvfrom/sendto echo loop that sends back replies of the same length, measured in turns in the
// same run. The echo is the limit of the path; the ratio says how much of it the server keeps. Each
// figure is the median of the rounds, with the lowest and highest beside it. The server answers one
// address about ten full replies a second, so the queries go out from many loopback addresses in turn;
// then one address alone shows that limit.
//   server_throughput_bench [seconds per round, default 2] [rounds, default 5]
#include <algorithm>
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
#include "platform/text16.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"

using namespace tarvelon;

namespace {

// Running is the state either family's thread reaches first; the IPv4 thread is ready once it answers.
bool answersOverIPv4(uint16_t port) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (askOnce(port, 200) > 0) return true;
    }
    return false;
}

struct Spread {
    double median, low, high;
};

Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

void printSpread(const char* what, const std::vector<double>& values, const char* unit) {
    const Spread spread = spreadOf(values);
    std::printf("%-28s %10.0f %10.0f %10.0f  %s\n", what, spread.median, spread.low, spread.high, unit);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 5);
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
    const uint16_t serverPort = testing_net::findFreeUdpPort();
    settings.networkServerPort = serverPort;
    settings.networkServerEnabled = 1;
    startQueryServer();
    if (serverPort == 0 || !answersOverIPv4(serverPort)) {
        std::printf("the query server does not answer on port %u: %s\n", serverPort,
                    toUtf8(serverStatusReport()).c_str());
        return 1;
    }
    uint64_t nextQuery = 0;
    measureLoad(sources, serverPort, 0.5, nextQuery);  // warm-up

    std::vector<double> server, echo, ratio;
    uint64_t unanswered = 0;
    {
        EchoLoop loop(replyBytes);
        for (int round = 0; round < rounds; ++round) {
            const LoadResult served = measureLoad(sources, serverPort, seconds, nextQuery);
            const LoadResult echoed = measureLoad(sources, loop.port, seconds, nextQuery);
            server.push_back(served.repliesPerSecond);
            echo.push_back(echoed.repliesPerSecond);
            ratio.push_back(echoed.repliesPerSecond > 0 ? served.repliesPerSecond / echoed.repliesPerSecond : 0);
            unanswered += served.unanswered;
        }
    }
    sleepMs(2500);  // the address below starts with a full allowance
    const LoadResult one = measureLoad({sources.front()}, serverPort, seconds, nextQuery);

    std::printf("reply size %d bytes, %d queries in flight, from %zu addresses; %d rounds of %.1f s\n",
                replyBytes, kLoadWindow, sources.size(), rounds, seconds);
    std::printf("%-28s %10s %10s %10s\n", "", "median", "lowest", "highest");
    printSpread("query server (one thread)", server, "queries/s");
    printSpread("bare recvfrom/sendto echo", echo, "datagrams/s");
    const Spread share = spreadOf(ratio);
    std::printf("%-28s %10.2f %10.2f %10.2f\n", "server / echo", share.median, share.low, share.high);
    std::printf("unanswered queries to the server, all rounds: %llu\n", static_cast<unsigned long long>(unanswered));
    std::printf("one address alone           %10.1f replies/s (its reply budget)\n", one.repliesPerSecond);
    std::fflush(stdout);
    const bool allAnswered = std::all_of(server.begin(), server.end(), [](double rate) { return rate > 0; });
    if (!allAnswered) std::printf("a round of the query server got no answer at all\n");
    std::fflush(stdout);
    std::_Exit(allAnswered ? 0 : 1);  // the server threads run until the process ends
}
