// The query server's threads over loopback, on both families: answers, counters, state changes and
// the datagrams that must not disturb it. The server is a process-wide singleton, so each test switches
// it on at a free port and leaves it switched off with both sockets closed.
#include "net/query_server.h"

#include <gtest/gtest.h>

#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "net/protocol.h"
#include "net/reply_budget.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "unit/net_test_support.h"

namespace tarvelon {
namespace {

using namespace testing_net;

std::atomic<uint64_t>& counterOf(IpFamily family) {
    return family == IpFamily::IPv4 ? requestCountIPv4 : requestCountIPv6;
}

std::string serverMessageText() {
    char16_t message[kServerMessageUnits];
    copyServerMessage(message);
    return toUtf8(message);
}

// Sends probes until one is answered and returns how many replies came back, so that the caller knows
// exactly how many requests the server counted. Replies come back in order, so once the last probe is
// answered no earlier one is still pending.
int waitUntilServing(IpFamily family, uint16_t port) {
    TestPeer peer(family, 250);
    int answered = 0;
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

class ServerTest : public testing::Test {
  protected:
    void SetUp() override {
        startSocketsForTests();
        settings.networkServerEnabled = 0;
        startQueryServer();
        port = freeUdpPort();
        settings.networkServerPort = port;
        baseline[0] = requestCountIPv4.load();
        baseline[1] = requestCountIPv6.load();
    }
    void TearDown() override { switchOff(); }

    void switchOn() {
        settings.networkServerEnabled = 1;
        baseline[0] += static_cast<uint64_t>(waitUntilServing(IpFamily::IPv4, port));
        baseline[1] += static_cast<uint64_t>(waitUntilServing(IpFamily::IPv6, port));
    }
    void switchOff() {
        settings.networkServerEnabled = 0;
        EXPECT_TRUE(waitFor([this] { return serverState.load() != kServerShutdown && portFree(port); }));
        EXPECT_TRUE(waitFor([] { return toUtf8(serverStateName()) == "Stopped"; }));
    }
    // The family's counter reaches the baseline plus answered, and goes no further.
    void expectCounted(IpFamily family, uint64_t answered) {
        const uint64_t expected = baseline[family == IpFamily::IPv4 ? 0 : 1] + answered;
        std::atomic<uint64_t>& counter = counterOf(family);
        EXPECT_TRUE(waitFor([&] { return counter.load() >= expected; }));
        EXPECT_EQ(counter.load(), expected);
    }

    uint16_t port = 0;
    uint64_t baseline[2] = {0, 0};
};

class ServerOnBothFamilies : public ServerTest, public testing::WithParamInterface<IpFamily> {};

TEST_P(ServerOnBothFamilies, AnswersEveryRowOfTheFailureTable) {
    switchOn();
    TestPeer peer(GetParam());
    struct Row {
        std::vector<uint8_t> request;
        std::vector<uint8_t> answer;  // empty: none
    };
    const std::vector<Row> rows = {
        {{}, {}},
        {{1}, {}},
        {{1, 1}, {}},
        {{1, 1, 0x31, 0}, {}},
        {std::vector<uint8_t>(1900, 1), {}},
        {{2, 7, 0x31}, {2, 7, 0x01}},
        {{1, 9, 0x11}, {1, 9, 0x12}},
        {{1, 9, 0x41}, {1, 9, 0x02}},
    };
    uint64_t answered = 0;
    for (const Row& row : rows) {
        peer.send(row.request, port);
        if (row.answer.empty()) {
            // The next reply must already be the one to this probe: the row itself got none.
            EXPECT_EQ(peer.ask({1, 77, 0x11}, port), (std::vector<uint8_t>{1, 77, 0x12}))
                << "a " << row.request.size() << "-byte datagram was answered";
        } else {
            EXPECT_EQ(peer.receive(), row.answer);
        }
        ++answered;
    }
    expectCounted(GetParam(), answered);
}

// What the allow list refuses spends none of the sender's full replies, and a stored list that no
// longer reads lets nobody in rather than everybody.
TEST_F(ServerTest, RefusedSendersSpendNoRepliesAndAnUnreadableStoredListAdmitsNobody) {
    switchOn();
    TestPeer peer(IpFamily::IPv4, 300);
    const auto allow = [](const char16_t* text) {
        writeSettingText(settings.networkServerAllow, text);
        applyStoredServerAllowList();
    };

    allow(u"192.0.2.0/24");
    for (int i = 0; i < 2 * kReplyBurst; ++i) peer.send({1, static_cast<uint8_t>(i), kCodeQuery}, port);
    EXPECT_TRUE(peer.receive().empty()) << "a sender outside the list was answered";

    // A refused query the server reaches only now is answered from the same allowance: count it too.
    allow(u"");
    int answered = 0;
    for (int i = 0; i < kReplyBurst; ++i)
        answered += peer.ask({1, static_cast<uint8_t>(100 + i), kCodeQuery}, port).empty() ? 0 : 1;
    while (!peer.receive().empty()) ++answered;
    EXPECT_GE(answered, kReplyBurst);

    allow(u"10.0.0.0/8, not a network");
    EXPECT_TRUE(peer.ask({1, 9, 0x11}, port).empty()) << "a list that does not read admitted a sender";
    allow(u"");
}

TEST_P(ServerOnBothFamilies, FullReplyCarriesTheLocalRecords) {
    LocalStore store{};
    copyText16(store.host.hostName, kRecordTextUnits, u"served-host");
    for (GpuRecord& gpu : store.gpus) gpu.present = 1;
    store.gpus[15].coreTempC = 71;
    publishLocalStore(store);
    switchOn();
    TestPeer peer(GetParam());

    const std::vector<uint8_t> reply = peer.ask({1, 0, 0x31}, port);
    ASSERT_EQ(reply.size(), 1859u);
    EXPECT_EQ(reply[1], 0);
    EXPECT_EQ(reply[2], 0x32);
    EXPECT_EQ(reply[3], 16);
    HostRecord host;
    std::memcpy(&host, reply.data() + 7, sizeof host);
    EXPECT_EQ(toUtf8(host.hostName), "served-host");
    EXPECT_EQ(reply[131 + 15 * 108 + 106], 71);
    expectCounted(GetParam(), 1);
    clearLocalStore();
}

std::atomic<int> sourceCalls{0};

LocalStore countingSource() {
    ++sourceCalls;
    LocalStore store{};
    copyText16(store.host.hostName, kRecordTextUnits, u"asked-host");
    return store;
}

TEST_P(ServerOnBothFamilies, OnlyFullRepliesAskTheRecordsSource) {
    sourceCalls = 0;  // the Windows build runs both families in one process
    setServerRecordsSource(countingSource);
    switchOn();  // short answers only
    EXPECT_EQ(sourceCalls.load(), 0);
    TestPeer peer(GetParam());
    const std::vector<uint8_t> reply = peer.ask({1, 3, 0x31}, port);
    ASSERT_EQ(reply.size(), 131u);
    HostRecord host;
    std::memcpy(&host, reply.data() + 7, sizeof host);
    EXPECT_EQ(toUtf8(host.hostName), "asked-host");
    EXPECT_EQ(sourceCalls.load(), 1);
    switchOff();
    setServerRecordsSource(readLocalStore);
}

int threeGpus(GpuProcessList (&lists)[kGpuSlots]) {
    for (int gpu = 0; gpu < 3; ++gpu) {
        lists[gpu] = GpuProcessList{};
        lists[gpu].pciBus = static_cast<uint8_t>(10 + gpu);
    }
    return 3;
}

TEST_P(ServerOnBothFamilies, ProcessesAreAnnouncedAndAnsweredOnlyWithASourceAndWithinTheAllowance) {
    switchOn();
    TestPeer peer(GetParam(), 250);
    EXPECT_EQ(peer.ask({1, 4, 0x31}, port)[4], 0);
    EXPECT_EQ(peer.ask({1, 5, 0x33}, port), (std::vector<uint8_t>{1, 5, 0x02}));
    switchOff();

    setServerProcessesSource(threeGpus);
    switchOn();
    EXPECT_EQ(peer.ask({1, 6, 0x31}, port)[4], 1);
    // One datagram a GPU, each naming its GPU; asked again and again, the allowance runs out long
    // before every answer is whole.
    constexpr int kQuestions = 30;
    for (int question = 0; question < kQuestions; ++question) peer.send({1, 7, 0x33}, port);
    std::vector<uint8_t> buses;
    int datagrams = 0;
    for (std::vector<uint8_t> reply = peer.receive(); !reply.empty(); reply = peer.receive()) {
        ASSERT_EQ(reply.size(), 16u);
        EXPECT_EQ(reply[2], 0x34);
        EXPECT_EQ(reply[4], 3);
        if (datagrams < 3) buses.push_back(reply[6]);
        ++datagrams;
    }
    EXPECT_EQ(buses, (std::vector<uint8_t>{10, 11, 12}));
    EXPECT_LT(datagrams, 3 * kQuestions);
    switchOff();
    setServerProcessesSource(nullptr);
}

TEST_P(ServerOnBothFamilies, OversizeDatagramIsDroppedAndServingGoesOn) {
    switchOn();
    TestPeer peer(GetParam());
    peer.send(std::vector<uint8_t>(2000, 0x31), port);
    EXPECT_EQ(peer.ask({1, 5, 0x11}, port), (std::vector<uint8_t>{1, 5, 0x12}));
    EXPECT_EQ(serverState.load(), kServerRunning);
    EXPECT_EQ(serverMessageText(), "Server goes into wait for query loop and wait for queries");
    expectCounted(GetParam(), 1);
}

TEST_P(ServerOnBothFamilies, JunkBurstDoesNotDelayTheNextQuery) {
    switchOn();
    TestPeer peer(GetParam(), 10000);
    const int lengths[] = {0, 1, 2, 4, 100, 1900};
    for (int i = 0; i < 60; ++i)
        peer.send(std::vector<uint8_t>(static_cast<size_t>(lengths[i % 6]), 1), port);
    // Pausing for each of them would keep the answer away for half a minute.
    const std::vector<uint8_t> reply = peer.ask({1, 42, 0x31}, port);
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[1], 42);
    EXPECT_EQ(reply[2], 0x32);
    expectCounted(GetParam(), 1);
}

TEST_F(ServerTest, TextsFollowTheStateWhileRunningAndAfterSwitchingOff) {
    switchOn();
    EXPECT_EQ(toUtf8(serverStateName()), "Running");
    const std::string uptime = toUtf8(serverUptimeText());
    EXPECT_NE(uptime.find(" seconds"), std::string::npos) << uptime;
    EXPECT_EQ(toUtf8(serverStatusReport()).rfind("Server Status: Server is running\r\n", 0), 0u);

    switchOff();
    EXPECT_EQ(serverMessageText(), "Server shutdowned, wait for activation");
    EXPECT_EQ(toUtf8(serverUptimeText()), "not running");
    const std::string report = toUtf8(serverStatusReport());
    EXPECT_EQ(report.rfind("Server Status: Server is stopped and not running\r\n", 0), 0u) << report;
    EXPECT_NE(report.find("Running Time: 0 seconds"), std::string::npos) << report;
}

IpFamily otherFamily(IpFamily family) {
    return family == IpFamily::IPv4 ? IpFamily::IPv6 : IpFamily::IPv4;
}

// Another program holds the port on one family: the other family serves all along, the shown state
// is the failing one's, and once the port is free the server runs on both by itself.
TEST_P(ServerOnBothFamilies, PortHeldOnOneFamilyLeavesTheOtherServingAndIsRetried) {
    const IpFamily held = GetParam();
    const SocketHandle holder = openUdpSocket(held);
    if (held == IpFamily::IPv6) setIPv6Only(holder);
    ASSERT_EQ(bindWildcard(holder, held, port), 0);

    settings.networkServerEnabled = 1;
    const std::string expected = std::string(held == IpFamily::IPv4 ? "IPv4" : "IPv6") +
                                 ": Could not bind to port.\r\nWSA Error Code : 10048";
    EXPECT_TRUE(waitFor([&] {
        return serverState.load() == kServerError && serverMessageText() == expected;
    })) << serverMessageText();
    baseline[otherFamily(held) == IpFamily::IPv4 ? 0 : 1] +=
        static_cast<uint64_t>(waitUntilServing(otherFamily(held), port));
    EXPECT_EQ(serverState.load(), kServerError);

    closeSocket(holder);
    EXPECT_TRUE(waitFor([] { return serverState.load() == kServerRunning; }));
    baseline[held == IpFamily::IPv4 ? 0 : 1] += static_cast<uint64_t>(waitUntilServing(held, port));
}

// The fault below is injected by replacing the server thread's descriptor from the test's thread,
// which ThreadSanitizer rightly reports as a race; the AddressSanitizer build runs it.
#if !defined(_WIN32) && !defined(__SANITIZE_THREAD__)
// The descriptor of this process's socket of the family bound to the port.
int socketBoundTo(IpFamily family, uint16_t port) {
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) continue;
        if (address.ss_family != (family == IpFamily::IPv4 ? AF_INET : AF_INET6)) continue;
        const uint16_t bound =
            ntohs(family == IpFamily::IPv4 ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                           : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
        if (bound == port) return fd;
    }
    return -1;
}

// A socket that stops working under the server (as after a sleep or an adapter reset) is replaced:
// the server shows the error, then opens and binds again by itself.
TEST_P(ServerOnBothFamilies, ReceiveFailureHealsWithoutSwitchingOffAndOn) {
    switchOn();
    const int fd = socketBoundTo(GetParam(), port);
    ASSERT_GE(fd, 0);
    const int notASocket = open("/dev/null", O_RDONLY);
    ASSERT_EQ(dup2(notASocket, fd), fd);  // the server's next receive fails with 10038
    close(notASocket);

    const std::string family = GetParam() == IpFamily::IPv4 ? "IPv4" : "IPv6";
    EXPECT_TRUE(waitFor([&] {
        return serverState.load() == kServerError &&
               serverMessageText().rfind(family + ": Could not receive UDP datas.\r\nWSA Error Code : 10038",
                                         0) == 0;
    })) << serverMessageText();
    EXPECT_TRUE(waitFor([] { return serverState.load() == kServerRunning; }));
    baseline[GetParam() == IpFamily::IPv4 ? 0 : 1] +=
        static_cast<uint64_t>(waitUntilServing(GetParam(), port));
}
#endif

INSTANTIATE_TEST_SUITE_P(Loopback, ServerOnBothFamilies, testing::Values(IpFamily::IPv4, IpFamily::IPv6),
                         [](const testing::TestParamInfo<IpFamily>& info) {
                             return info.param == IpFamily::IPv4 ? "IPv4" : "IPv6";
                         });

}  // namespace
}  // namespace tarvelon
