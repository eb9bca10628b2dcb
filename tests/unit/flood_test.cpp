// The real query server under floods over loopback: garbage fired as fast as one sender can must not
// cost a polite client a single answer nor stop the server, and queries under one (forged) address are
// cut to that address's reply budget while other senders are still served.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "net/query_server.h"
#include "net/reply_budget.h"
#include "platform/clock.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "unit/net_test_support.h"

namespace tarvelon {
namespace {

using namespace testing_net;

constexpr int kPoliteQueries = 6;
constexpr uint64_t kFloodCountLimit = 50000000;  // the flood stops at this count or when told to

constexpr IpAddress kLoopbackIPv4 = {IpFamily::IPv4, {127, 0, 0, 1}, 0};
constexpr IpAddress kLoopbackIPv6 = {IpFamily::IPv6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0};

IpAddress loopbackIPv4(uint8_t last) {
    return {IpFamily::IPv4, {127, 0, 0, last}, 0};
}

// A socket bound to the given local address, sending from it to the server.
struct Sender {
    SocketHandle socket;
    ResolvedAddress server;

    Sender(const IpAddress& local, uint16_t serverPort, uint32_t receiveTimeoutMs)
        : socket(openUdpSocket(local.family)), server(loopbackAddress(local.family, serverPort)) {
        EXPECT_EQ(bindIpAddress(socket, local, 0), 0);
        setReceiveTimeout(socket, receiveTimeoutMs);
    }
    ~Sender() { closeSocket(socket); }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    void send(const uint8_t* bytes, int length) const { sendTo(socket, bytes, length, server); }
    // The next datagram's length (into buffer), or -1 after the receive time-out.
    int receive(std::vector<uint8_t>& buffer) const {
        SocketAddress from{};
        from.length = 28;
        return receiveFrom(socket, buffer.data(), static_cast<int>(buffer.size()), false, &from);
    }
};

using Datagrams = std::vector<std::vector<uint8_t>>;

// Sends the same round of datagrams again and again from its own thread, as fast as the server takes
// them, and reads what comes back. A sender that outran the socket's queue would measure the kernel,
// not the server: what does not fit is dropped before the server sees it, polite queries included,
// whatever the server does. So each round ends with a probe, whose answer tells that the server has
// been through the round, and at most two rounds are in flight: while the flood runs the queue is
// never empty, and it never overflows.
class RoundFlood {
  public:
    RoundFlood(const IpAddress& local, uint16_t port, Datagrams round)
        : sender_(local, port, 2000), round_(std::move(round)), thread_([this] { run(); }) {}
    ~RoundFlood() { stop(); }

    void stop() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    uint64_t sent() const { return sent_.load(); }
    uint64_t fullReplies() const { return fullReplies_.load(); }
    uint64_t probesAnswered() const { return probesAnswered_.load(); }
    uint64_t lostRounds() const { return lostRounds_.load(); }
    uint64_t elapsedMs() const { return elapsedMs_.load(); }

  private:
    void sendRound(uint8_t number) {
        for (const std::vector<uint8_t>& datagram : round_) {
            sender_.send(datagram.data(), static_cast<int>(datagram.size()));
        }
        const uint8_t probe[kRequestBytes] = {1, number, kCodeProbe};
        sender_.send(probe, kRequestBytes);
        sent_.fetch_add(round_.size() + 1, std::memory_order_relaxed);
    }
    // Reads answers up to the probe answer of this round; false if it never came.
    bool awaitRound(uint8_t number, std::vector<uint8_t>& buffer) {
        for (;;) {
            const int received = sender_.receive(buffer);
            if (received < 0) return false;
            if (received >= kReplyGpuOffset && buffer[2] == kCodeFullReply) fullReplies_.fetch_add(1);
            if (received == kRequestBytes && buffer[1] == number && buffer[2] == kCodeProbeAnswer) {
                probesAnswered_.fetch_add(1);
                return true;
            }
        }
    }

    void run() {
        std::vector<uint8_t> buffer(kDatagramBufferBytes);
        const uint64_t start = tickCountMs();
        uint8_t number = 0;
        sendRound(number);
        while (!stop_.load() && sent_.load() < kFloodCountLimit) {
            sendRound(static_cast<uint8_t>(number + 1));
            if (!awaitRound(number, buffer)) lostRounds_.fetch_add(1);
            ++number;
        }
        if (!awaitRound(number, buffer)) lostRounds_.fetch_add(1);
        elapsedMs_.store(tickCountMs() - start);
    }

    Sender sender_;
    Datagrams round_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> sent_{0};
    std::atomic<uint64_t> fullReplies_{0};
    std::atomic<uint64_t> probesAnswered_{0};
    std::atomic<uint64_t> lostRounds_{0};
    std::atomic<uint64_t> elapsedMs_{0};
    std::thread thread_;
};

// Every kind of datagram that earns no answer or only a short one.
Datagrams garbageRound() {
    const std::vector<uint8_t> limit(kServerReadLimit, 0x31);
    const std::vector<uint8_t> oversize(kServerReadLimit + 100, 0x31);
    return {{},       {1},          {1, 1},       {1, 1, 0x31, 0}, limit,
            oversize, {1, 1, 0x41}, {9, 1, 0x31}, {1, 1, 0x12},    {1, 1, 0x02},
            {},       limit,        oversize,     {0, 0, 0},       {1, 1, 0x31, 1, 1}};
}

Datagrams queryRound() {
    Datagrams round;
    for (uint8_t sequence = 0; sequence < 15; ++sequence) round.push_back({1, sequence, kCodeQuery});
    return round;
}

// Asks for the records and waits, generously, for the reply carrying this sequence; earlier replies
// that arrive late are skipped. True when it came as a full reply.
bool queryAnswered(const Sender& client, uint8_t sequence, std::vector<uint8_t>& buffer, int limitMs) {
    uint8_t request[kRequestBytes];
    buildQueryRequest(sequence, request);
    client.send(request, kRequestBytes);
    const uint64_t deadline = tickCountMs() + static_cast<uint64_t>(limitMs);
    while (tickCountMs() < deadline) {
        const int received = client.receive(buffer);
        if (received >= kReplyGpuOffset && buffer[1] == sequence && buffer[2] == kCodeFullReply) return true;
    }
    return false;
}

// Probes until one is answered; returns how many replies came back (each one a counted request).
uint64_t probeUntilServing(IpFamily family, uint16_t port) {
    TestPeer peer(family, 250);
    uint64_t answered = 0;
    for (int sequence = 1; sequence < 250; ++sequence) {
        peer.send({1, static_cast<uint8_t>(sequence), 0x11}, port);
        for (std::vector<uint8_t> reply = peer.receive(); !reply.empty(); reply = peer.receive()) {
            ++answered;
            if (reply[1] == sequence) return answered;
        }
    }
    ADD_FAILURE() << "the server never answered";
    return answered;
}

class Flood : public testing::TestWithParam<IpFamily> {
  protected:
    void SetUp() override {
        startSocketsForTests();
        settings.networkServerEnabled = 0;
        startQueryServer();
        port = freeUdpPort();
        settings.networkServerPort = port;
        counted[0] = requestCountIPv4.load();
        counted[1] = requestCountIPv6.load();
        settings.networkServerEnabled = 1;
        counted[0] += probeUntilServing(IpFamily::IPv4, port);
        counted[1] += probeUntilServing(IpFamily::IPv6, port);
    }
    void TearDown() override {
        settings.networkServerEnabled = 0;
        EXPECT_TRUE(waitFor([this] { return serverState.load() != kServerShutdown && portFree(port); }));
    }

    // The family's counter reaches the requests answered since SetUp, and goes no further.
    void expectCounted(IpFamily family, uint64_t answered) {
        const uint64_t expected = counted[family == IpFamily::IPv4 ? 0 : 1] + answered;
        std::atomic<uint64_t>& counter = family == IpFamily::IPv4 ? requestCountIPv4 : requestCountIPv6;
        EXPECT_TRUE(waitFor([&] { return counter.load() >= expected; }));
        EXPECT_EQ(counter.load(), expected);
    }
    const IpAddress& loopback() const { return GetParam() == IpFamily::IPv4 ? kLoopbackIPv4 : kLoopbackIPv6; }

    uint16_t port = 0;
    uint64_t counted[2] = {0, 0};
};

// The polite client: a query a second, each awaited (generously) for its reply.
int politeQueriesAnswered(const Sender& client) {
    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    int answered = 0;
    for (int sequence = 1; sequence <= kPoliteQueries; ++sequence) {
        if (queryAnswered(client, static_cast<uint8_t>(sequence), buffer, 10000)) ++answered;
        sleepMs(1000);
    }
    return answered;
}

TEST_P(Flood, GarbageAtFullSpeedCostsAPoliteClientNoAnswer) {
    RoundFlood flood(loopback(), port, garbageRound());
    ASSERT_TRUE(waitFor([&] { return flood.sent() > 1000; }));
    Sender client(loopback(), port, 200);
    const int answered = politeQueriesAnswered(client);
    flood.stop();

    EXPECT_EQ(answered, kPoliteQueries);
    EXPECT_EQ(flood.lostRounds(), 0u);
    EXPECT_EQ(serverState.load(), kServerRunning);
    char16_t message[kServerMessageUnits];
    copyServerMessage(message);
    EXPECT_EQ(toUtf8(message), "Server goes into wait for query loop and wait for queries");
    std::printf("garbage flood: %.0f datagrams/s for %.1f s; polite client: %d of %d answered\n",
                static_cast<double>(flood.sent()) * 1000.0 / static_cast<double>(flood.elapsedMs()),
                static_cast<double>(flood.elapsedMs()) / 1000.0, answered, kPoliteQueries);
}

TEST_P(Flood, ForgedQueriesAreCutToTheBudgetWhileOthersAreServed) {
    // On loopback any 127.x.y.z is ours; ::1 is the only IPv6 loopback, so there the flood has it and
    // the polite client asks over IPv4, through the other thread and its own table.
    const bool ipv4 = GetParam() == IpFamily::IPv4;
    RoundFlood forged(ipv4 ? loopbackIPv4(2) : kLoopbackIPv6, port, queryRound());
    Sender polite(ipv4 ? loopbackIPv4(3) : kLoopbackIPv4, port, 200);
    const int answered = politeQueriesAnswered(polite);
    forged.stop();

    EXPECT_EQ(answered, kPoliteQueries);
    EXPECT_EQ(forged.lostRounds(), 0u);
    const uint64_t ceiling = kReplyBurst + forged.elapsedMs() * kRepliesPerSecond / 1000 + 1;
    EXPECT_GE(forged.fullReplies(), static_cast<uint64_t>(kReplyBurst));
    EXPECT_LE(forged.fullReplies(), ceiling);
    // A refused query is not counted.
    const uint64_t forgedCounted = forged.fullReplies() + forged.probesAnswered();
    if (ipv4) {
        expectCounted(IpFamily::IPv4, forgedCounted + static_cast<uint64_t>(answered));
    } else {
        expectCounted(IpFamily::IPv6, forgedCounted);
        expectCounted(IpFamily::IPv4, static_cast<uint64_t>(answered));
    }
    std::printf(
        "forged queries: %llu sent in %.1f s, %llu answered (ceiling %llu); polite client: %d of %d\n",
        static_cast<unsigned long long>(forged.sent() - forged.probesAnswered()),
        static_cast<double>(forged.elapsedMs()) / 1000.0,
        static_cast<unsigned long long>(forged.fullReplies()), static_cast<unsigned long long>(ceiling),
        answered, kPoliteQueries);
}

INSTANTIATE_TEST_SUITE_P(Loopback, Flood, testing::Values(IpFamily::IPv4, IpFamily::IPv6),
                         [](const testing::TestParamInfo<IpFamily>& info) {
                             return info.param == IpFamily::IPv4 ? "IPv4" : "IPv6";
                         });

}  // namespace
}  // namespace tarvelon
