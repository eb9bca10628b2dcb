// The query client over loopback: one exchange against scripted servers, then the client manager and
// its poll threads for real (statuses, details, deactivation, removal and the move handshake). The
// manager is a process-wide singleton; every test uses slots of its own and removes them at the end.
#include "net/query_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "net/allow_list.h"
#include "net/name_resolution.h"
#include "net/poll_exchange.h"
#include "net/slot_table.h"
#include "panel/network_setup.h"
#include "platform/clock.h"
#include "platform/store.h"
#include "settings/settings.h"
#include "unit/net_test_support.h"

namespace tarvelon {
namespace {

using namespace testing_net;

int answerBadVersion(uint8_t* buffer, int received) {
    if (received != kRequestBytes) return 0;
    buffer[2] = kCodeBadVersion;
    return kRequestBytes;
}

int answerNothing(uint8_t*, int) {
    return 0;
}

std::string hostNameOf(ServerSlot& slot) {
    return toUtf8(readSlotRecords(slot).host.hostName);
}

// ---- One exchange -------------------------------------------------------------------------------

class Exchange : public testing::TestWithParam<IpFamily> {
  protected:
    void SetUp() override {
        startSocketsForTests();
        slot = std::make_unique<ServerSlot>();
        updateSlotRecords(*slot, [](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
            copyText16(host.hostName, kRecordTextUnits, u"previous");
            gpus[0].present = 1;
        });
    }
    void exchange(const ScriptedServer& server, uint8_t sequence) {
        exchangeWithServer(*slot, loopbackAddress(GetParam(), server.port()), sequence, buffer.data());
    }
    std::unique_ptr<ServerSlot> slot;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kDatagramBufferBytes);
};

TEST_P(Exchange, AcceptedReplyIsStoredWithStatusOk) {
    ScriptedServer server(GetParam(), answerFrom(storeNamed(u"alpha", 2)));
    exchange(server, 1);
    EXPECT_EQ(slot->Status.load(), kStatusOk);
    const SlotRecords records = readSlotRecords(*slot);
    EXPECT_EQ(toUtf8(records.host.hostName), "alpha");
    EXPECT_EQ(records.host.changed, 1);
    EXPECT_EQ(records.gpus[1].present, 1);
    EXPECT_EQ(records.gpus[1].coreTempC, 41);
    EXPECT_EQ(records.gpus[2].present, 0);
    EXPECT_LT(slot->LatencyMs.load(), kReceiveTimeoutMs + 1000);
}

TEST_P(Exchange, SequenceZeroAfterTheWrapIsAnsweredAndAccepted) {
    ScriptedServer server(GetParam(), answerFrom(storeNamed(u"alpha", 0)));
    exchange(server, 0);
    EXPECT_EQ(slot->Status.load(), kStatusOk);
    EXPECT_EQ(server.sequences(), std::vector<uint8_t>{0});
}

TEST_P(Exchange, FailuresChangeOnlyTheStatus) {
    struct Case {
        const char* name;
        ScriptedServer::Answer answer;
        int32_t status;
    };
    const Case cases[] = {
        {"silent", answerNothing, kStatusNoResponse},
        {"version mismatch", answerBadVersion, kStatusVersionMismatch},
        {"wrong sequence",
         [](uint8_t* buffer, int received) {
             const int length = buildAnswer(buffer, received, storeNamed(u"alpha", 1));
             buffer[1] = static_cast<uint8_t>(buffer[1] + 1);
             return length;
         },
         kStatusVersionMismatch},
        {"two bytes", [](uint8_t*, int) { return 2; }, kStatusNoResponse},
        {"truncated",
         [](uint8_t* buffer, int received) {
             buildAnswer(buffer, received, storeNamed(u"alpha", 5));
             return 239;  // announces five records, carries one
         },
         kStatusVersionMismatch},
    };
    for (const Case& c : cases) {
        ScriptedServer server(GetParam(), c.answer);
        exchange(server, 9);
        EXPECT_EQ(slot->Status.load(), c.status) << c.name;
        const SlotRecords records = readSlotRecords(*slot);
        EXPECT_EQ(toUtf8(records.host.hostName), "previous") << c.name;
        EXPECT_EQ(records.gpus[0].present, 1) << c.name;
    }
}

// Someone else on the network answers first, in the server's name and with its sequence, after a
// datagram too long for a reply: only the server's own reply is taken.
TEST_P(Exchange, RepliesFromAnotherPortAreDroppedAndCounted) {
    TestPeer forger(GetParam());
    ScriptedServer server(GetParam(), answerFrom(storeNamed(u"alpha", 0)),
                          [&forger](const uint8_t* request, const SocketAddress& client) {
                              std::vector<uint8_t> forged(kDatagramBufferBytes + 100);
                              sendTo(forger.socket, forged.data(), static_cast<int>(forged.size()), client);
                              std::copy(request, request + kRequestBytes, forged.begin());
                              const int length = buildAnswer(forged.data(), kRequestBytes, storeNamed(u"forged", 1));
                              sendTo(forger.socket, forged.data(), length, client);
                          });
    const uint64_t before = strayReplyCount.load();
    exchange(server, 3);
    EXPECT_EQ(slot->Status.load(), kStatusOk);
    EXPECT_EQ(hostNameOf(*slot), "alpha");
    EXPECT_EQ(strayReplyCount.load(), before + 2);
}

TEST_P(Exchange, NobodyListeningIsNoResponse) {
    const uint16_t port = freeUdpPort();
    exchangeWithServer(*slot, loopbackAddress(GetParam(), port), 1, buffer.data());
    EXPECT_EQ(slot->Status.load(), kStatusNoResponse);
}

INSTANTIATE_TEST_SUITE_P(Loopback, Exchange, testing::Values(IpFamily::IPv4, IpFamily::IPv6),
                         [](const testing::TestParamInfo<IpFamily>& info) {
                             return info.param == IpFamily::IPv4 ? "IPv4" : "IPv6";
                         });

TEST(ReplySender, OnlyTheAddressAndPortAskedAnswer) {
    struct Case {
        const char16_t* asked;
        uint16_t askedPort;
        const char16_t* from;
        uint16_t fromPort;
        uint32_t fromScope;
        bool taken;
    };
    const Case cases[] = {
        {u"192.0.2.7", 8221, u"192.0.2.7", 8221, 0, true},
        {u"192.0.2.7", 8221, u"192.0.2.7", 8222, 0, false},
        {u"192.0.2.7", 8221, u"192.0.2.8", 8221, 0, false},
        {u"192.0.2.7", 8221, u"::ffff:192.0.2.7", 8221, 0, true},
        {u"::ffff:192.0.2.7", 8221, u"192.0.2.7", 8221, 0, true},
        {u"192.0.2.7", 8221, u"::c000:207", 8221, 0, false},  // the same four bytes, not mapped
        {u"2001:db8::1", 8221, u"2001:db8::1", 8221, 0, true},
        {u"2001:db8::1", 8221, u"2001:db8::2", 8221, 0, false},
        {u"fe80::1", 8221, u"fe80::1", 8221, 3, false},  // asked on interface 2
    };
    for (const Case& c : cases) {
        IpAddress asked{};
        IpAddress from{};
        ASSERT_TRUE(parseIpText(c.asked, static_cast<int>(std::char_traits<char16_t>::length(c.asked)), &asked));
        ASSERT_TRUE(parseIpText(c.from, static_cast<int>(std::char_traits<char16_t>::length(c.from)), &from));
        if (asked.family == IpFamily::IPv6 && asked.bytes[0] == 0xFE) asked.scopeId = 2;
        from.scopeId = c.fromScope;
        EXPECT_EQ(isFromAskedServer(socketAddressOf(from, c.fromPort), socketAddressOf(asked, c.askedPort)),
                  c.taken)
            << toUtf8(c.from) << " for " << toUtf8(c.asked);
    }
}

// ---- The client manager and its poll threads ------------------------------------------------------

class Client : public testing::Test {
  protected:
    void SetUp() override {
        startSocketsForTests();
#ifndef _WIN32
        static const std::string directory = [] {
            char pattern[] = "/tmp/tarvelon-client-XXXXXX";
            return std::string(mkdtemp(pattern));
        }();
        setenv("TARVELON_STORE_DIR", directory.c_str(), 1);
#endif
        startQueryClient();
    }
    void TearDown() override {
        for (int index : used) remove(index);
        deleteSettingsKey();
    }

    // As the Network Setup dialog adds a server: configuration first, the start request last.
    ServerSlot& add(int index, const char16_t* host, uint16_t port, int32_t request = kStateStartEnabled) {
        used.push_back(index);
        ServerSlot& slot = slotTable[index];
        copyText16(slot.Hostname, kSlotTextUnits, host);
        slot.Active = 1;
        slot.Enabled = request == kStateStartEnabled ? 1 : 0;
        slot.Port = port;
        slot.State = request;
        EXPECT_TRUE(waitFor([&] { return slot.State.load() == kStateStarted; }));
        return slot;
    }
    void remove(int index) {
        slotTable[index].State = kStateRemoveRequest;
        EXPECT_TRUE(waitFor([index] { return slotTable[index].State.load() == kStateRemoved; }));
    }
    // As the dialog moves an entry: stop all, exchange, mark both changed, restart.
    void move(int a, int b) {
        slotTableCommand = kCommandStopAll;
        ASSERT_TRUE(waitFor([] { return slotTableCommand.load() == kCommandStopped; }));
        exchangeSlots(a, b);
        for (int index : {a, b}) {
            updateSlotRecords(slotTable[index],
                              [](HostRecord& host, GpuRecord(&)[kGpuSlots]) { host.changed = 1; });
        }
        slotTableCommand = kCommandRestart;
        ASSERT_TRUE(waitFor([] { return slotTableCommand.load() == kCommandNone; }));
    }

    std::vector<int> used;
};

std::vector<std::string> detailLines(int index) {
    std::vector<std::string> lines;
    const std::string text = toUtf8(slotDetailsText(index));
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

TEST_F(Client, UnresolvableNameStaysUnresolved) {
    ServerSlot& slot = add(1, u"no..such", 8221);
    EXPECT_TRUE(waitFor([&] { return wallClockSeconds() - slot.LastQueryTime.load() < 100; }));  // attempted
    EXPECT_EQ(slot.Status.load(), kStatusUnresolvable);
    EXPECT_EQ(toUtf8(slotStatusText(slot)), "Unresolvable (delay 120s)");
    const std::vector<std::string> lines = detailLines(1);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Server is enabled");
    EXPECT_EQ(lines[1], "Server Address : no..such");
    EXPECT_EQ(lines[2], "Server Port : 8221");
    EXPECT_EQ(lines[7], "Address is not resolved");
}

class ClientOnBothFamilies : public Client, public testing::WithParamInterface<IpFamily> {};

TEST_P(ClientOnBothFamilies, GoodServerIsPolledAndDetailed) {
    ScriptedServer server(GetParam(), answerFrom(storeNamed(u"alpha", 2)));
    ServerSlot& slot = add(GetParam() == IpFamily::IPv4 ? 2 : 3, loopbackName(GetParam()), server.port());
    const int index = static_cast<int>(&slot - slotTable);
    EXPECT_TRUE(waitFor([&] { return server.requests() >= 3; }));
    EXPECT_EQ(slot.Status.load(), kStatusOk);
    EXPECT_EQ(hostNameOf(slot), "alpha");
    // Each request carries the next sequence, wrapping after 255.
    const std::vector<uint8_t> sequences = server.sequences();
    EXPECT_EQ(static_cast<uint8_t>(sequences[1] - sequences[0]), 1);
    EXPECT_EQ(static_cast<uint8_t>(sequences[2] - sequences[1]), 1);

    const std::vector<std::string> lines = detailLines(index);
    ASSERT_EQ(lines.size(), 10u);
    const std::string host = toUtf8(loopbackName(GetParam()));
    const std::string port = std::to_string(server.port());
    EXPECT_EQ(lines[0], "Server is enabled");
    EXPECT_EQ(lines[1], "Server Address : " + host);
    EXPECT_EQ(lines[2], "Server Port : " + port);
    EXPECT_EQ(lines[3], "Server Status : OK");
    EXPECT_EQ(lines[4].rfind("Last Query : ", 0), 0u);
    EXPECT_EQ(lines[5].rfind("Current latency : ", 0), 0u);
    EXPECT_EQ(lines[6], "Latency Setup : normal");
    EXPECT_EQ(lines[7], "Resolved IP : " +
                            (GetParam() == IpFamily::IPv4 ? host + ":" + port : "[" + host + "]:" + port));
    EXPECT_EQ(lines[8], "Reported servername : alpha");
    EXPECT_EQ(lines[9], "Reported NVidia GPUs : 2");
}

TEST_P(ClientOnBothFamilies, StatusesFollowTheServersAnswers) {
    struct Case {
        const char* name;
        ScriptedServer::Answer answer;
        const char* status;
    };
    const Case cases[] = {
        {"silent", answerNothing, "No Response (delay 15s)"},
        {"version mismatch", answerBadVersion, "Version mismatch (delay 15s)"},
    };
    int index = GetParam() == IpFamily::IPv4 ? 4 : 6;
    for (const Case& c : cases) {
        ScriptedServer server(GetParam(), c.answer);
        ServerSlot& slot = add(index++, loopbackName(GetParam()), server.port());
        EXPECT_TRUE(waitFor([&] { return server.requests() >= 2; })) << c.name;
        EXPECT_TRUE(waitFor([&] { return toUtf8(slotStatusText(slot)) == c.status; })) << c.name;
        EXPECT_EQ(hostNameOf(slot), "") << c.name;  // nothing stored
    }
}

INSTANTIATE_TEST_SUITE_P(Loopback, ClientOnBothFamilies, testing::Values(IpFamily::IPv4, IpFamily::IPv6),
                         [](const testing::TestParamInfo<IpFamily>& info) {
                             return info.param == IpFamily::IPv4 ? "IPv4" : "IPv6";
                         });

// A forger who cannot see the requests must not know the sequence to echo: neither the slot nor
// anything else he can count on may fix where a poll thread starts. The same four slots started twice
// begin alike by chance once in 256^4.
TEST_F(Client, PollThreadsStartTheirSequencesUnpredictably) {
    std::vector<uint8_t> firsts[2];
    for (std::vector<uint8_t>& round : firsts) {
        std::vector<std::unique_ptr<ScriptedServer>> servers;
        for (int index = 16; index < 20; ++index) {
            servers.push_back(
                std::make_unique<ScriptedServer>(IpFamily::IPv4, answerFrom(storeNamed(u"alpha", 0))));
            add(index, u"127.0.0.1", servers.back()->port());
        }
        for (const auto& server : servers) {
            ASSERT_TRUE(waitFor([&] { return server->requests() >= 1; }));
            round.push_back(server->sequences()[0]);
        }
        for (int index = 16; index < 20; ++index) remove(index);
        used.clear();
    }
    EXPECT_NE(firsts[0], firsts[1]) << "the slots started where they started before";
}

TEST_F(Client, DeactivatedSlotIsNotQueriedUntilActivated) {
    ScriptedServer server(IpFamily::IPv4, answerFrom(storeNamed(u"alpha", 0)));
    ServerSlot& slot = add(8, u"127.0.0.1", server.port(), kStateStartDeactivated);
    EXPECT_EQ(slot.Enabled.load(), 0);
    EXPECT_EQ(toUtf8(slotStatusText(slot)), "deactivated");
    const std::vector<std::string> lines = detailLines(8);
    EXPECT_EQ(lines[0], "Server is enabled");
    const long long ago = std::stoll(lines[4].substr(std::string("Last Query : ").size()));
    EXPECT_GE(ago, 10000);
    EXPECT_LT(ago, 10100);

    sleepMs(2500);
    EXPECT_EQ(server.requests(), 0);
    slot.Enabled = 1;
    EXPECT_TRUE(waitFor([&] { return server.requests() >= 1 && slot.Status.load() == kStatusOk; }));
}

TEST_F(Client, RemovalStopsPollingKeepsRecordsAndDeletesStoredValues) {
    ScriptedServer server(IpFamily::IPv4, answerFrom(storeNamed(u"alpha", 1)));
    ServerSlot& slot = add(9, u"127.0.0.1", server.port());
    saveSettings();
    ASSERT_TRUE(waitFor([&] { return hostNameOf(slot) == "alpha"; }));

    used.clear();
    remove(9);
    EXPECT_EQ(slot.Active.load(), 0);
    EXPECT_EQ(slot.Enabled.load(), 0);
    EXPECT_EQ(slot.Status.load(), kStatusUnresolvable);
    ResolvedAddress address;
    EXPECT_FALSE(readSlotAddress(slot, &address));
    EXPECT_EQ(toUtf8(slot.Hostname), "127.0.0.1");
    EXPECT_EQ(slot.Port, server.port());
    EXPECT_EQ(hostNameOf(slot), "alpha");

    StoreKey* key = openUserKey(kSettingsKeyPath, StoreAccess::Read);
    ASSERT_NE(key, nullptr);
    uint8_t value[4];
    uint32_t size = sizeof value;
    uint32_t type = 0;
    EXPECT_EQ(readStoreValue(key, u"networkServerList_09_Active", value, &size, &type),
              StoreStatus::NotFound);
    closeUserKey(key);

    const int requests = server.requests();
    sleepMs(2000);
    EXPECT_EQ(server.requests(), requests);  // the poll thread is gone
}

TEST_F(Client, MovedSlotsKeepPollingTheirOwnServers) {
    ScriptedServer alpha(IpFamily::IPv4, answerFrom(storeNamed(u"alpha", 1)));
    ScriptedServer beta(IpFamily::IPv6, answerFrom(storeNamed(u"beta", 2)));
    ServerSlot& first = add(10, u"127.0.0.1", alpha.port());
    ServerSlot& second = add(11, u"::1", beta.port());
    ASSERT_TRUE(waitFor([&] { return hostNameOf(first) == "alpha" && hostNameOf(second) == "beta"; }));

    move(10, 11);
    EXPECT_EQ(toUtf8(first.Hostname), "::1");
    EXPECT_EQ(first.Port, beta.port());
    const int alphaBefore = alpha.requests();
    const int betaBefore = beta.requests();
    EXPECT_TRUE(
        waitFor([&] { return alpha.requests() > alphaBefore + 1 && beta.requests() > betaBefore + 1; }));
    EXPECT_EQ(hostNameOf(first), "beta");
    EXPECT_EQ(hostNameOf(second), "alpha");
    EXPECT_EQ(first.Status.load(), kStatusOk);
    EXPECT_EQ(second.Status.load(), kStatusOk);
    // The panel has not consumed the flags the move raised; new replies must not clear them.
    EXPECT_EQ(readSlotRecords(first).host.changed, 1);
    uint8_t taken = 0;
    takeSlotRecords(second,
                    [&](const HostRecord& host, const GpuRecord(&)[kGpuSlots]) { taken = host.changed; });
    EXPECT_EQ(taken, 1);
    EXPECT_TRUE(waitFor([&] { return alpha.requests() > alphaBefore + 3; }));
    EXPECT_EQ(readSlotRecords(second).host.changed, 0);
}

std::atomic<int> slowResolutions{0};

// A name server that takes seconds to answer; the name then stands for loopback.
int32_t slowResolver(const char16_t*, const char16_t* service, ResolvedAddress* first) {
    slowResolutions.fetch_add(1);
    sleepMs(4000);
    slowResolutions.fetch_sub(1);
    return resolveUdpAddress(u"127.0.0.1", service, first);
}

TEST_F(Client, RemoveAndMoveAreAnsweredPromptlyBesideASilentServerAndASlowName) {
    setSlotResolver(slowResolver);
    ScriptedServer silent(IpFamily::IPv4, answerNothing);
    slotTable[12].HighLatency = 1;  // its poll thread waits 9 s for each reply
    add(12, u"127.0.0.1", silent.port());
    add(13, u"slow.name", silent.port());  // and a resolution is always under way
    auto waitForQuery = [&] {
        const int asked = silent.requests();
        ASSERT_TRUE(waitFor([&] { return silent.requests() > asked; }));
    };
    // The dialog's own waits, bounded at two seconds: a late answer shows "Client Manager Busy".
    for (int round = 0; round < 3; ++round) {
        waitForQuery();
        const DialogMessage moved = moveServerEntries(12, 13, 2000);
        EXPECT_EQ(moved.caption, nullptr) << "move " << round;
    }
    waitForQuery();
    used.clear();
    EXPECT_EQ(removeServerEntry(12, 2000).caption, nullptr);
    EXPECT_EQ(removeServerEntry(13, 2000).caption, nullptr);
    setSlotResolver(resolveUdpAddress);
    EXPECT_TRUE(waitFor([] { return slowResolutions.load() == 0; }));  // leave no resolver thread behind
}

TEST(ResolveAgain, OnlyWhileTheServerHasNotAnsweredForAMinute) {
    struct Case {
        int32_t status;
        int64_t lastAnswer, lastResolution;
        bool due;
    };
    const Case cases[] = {
        {kStatusNoResponse, 940, 0, true},
        {kStatusNoResponse, 941, 0, false},
        {kStatusNoResponse, 0, 941, false},
        {kStatusNoResponse, 0, 940, true},
        {kStatusVersionMismatch, 0, 0, true},
        {kStatusSendToError, 0, 0, true},
        {kStatusOk, 0, 0, false},
        {kStatusUnresolvable, 0, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(resolveAgainDue(c.status, 1000, c.lastAnswer, c.lastResolution), c.due)
            << c.status << " " << c.lastAnswer << " " << c.lastResolution;
    }
}

std::atomic<uint16_t> movingNamePort{0};
std::atomic<uint16_t> steadyNamePort{0};
std::atomic<bool> movingNameSlow{false};
std::atomic<int> movingNameLookups{0};

// "moving.name" stands for whichever server movingNamePort names, and takes seconds to resolve once
// movingNameSlow is set; any other name stands for the server of steadyNamePort, at once.
int32_t movingNameResolver(const char16_t* host, const char16_t*, ResolvedAddress* first) {
    const bool moving = std::u16string(host) == u"moving.name";
    if (moving && movingNameSlow.load()) {
        movingNameLookups.fetch_add(1);
        sleepMs(3000);
        movingNameLookups.fetch_sub(1);
    }
    char16_t service[16];
    format16(service, 16, u"%d", (moving ? movingNamePort : steadyNamePort).load());
    return resolveUdpAddress(u"127.0.0.1", service, first);
}

int addressPort(ServerSlot& slot) {
    ResolvedAddress address;
    if (!readSlotAddress(slot, &address)) return -1;
    return address.bytes[2] << 8 | address.bytes[3];  // same place in both families' addresses
}

// The name's server moves away while the slot is moved to another place in the list: the resolution
// under way at the move must not land in the slot that took its place.
TEST_F(Client, NameIsResolvedAgainWhileItsServerDoesNotAnswer) {
    setSlotResolver(movingNameResolver);
    movingNameSlow = false;
    auto before = std::make_unique<ScriptedServer>(IpFamily::IPv4, answerFrom(storeNamed(u"alpha", 0)));
    ScriptedServer steady(IpFamily::IPv4, answerFrom(storeNamed(u"gamma", 0)));
    movingNamePort = before->port();
    steadyNamePort = steady.port();
    ServerSlot& slot = add(14, u"moving.name", 8221);
    ServerSlot& neighbour = add(15, u"steady.name", 8221);
    ASSERT_TRUE(waitFor([&] { return hostNameOf(slot) == "alpha" && hostNameOf(neighbour) == "gamma"; }));

    before.reset();
    ScriptedServer after(IpFamily::IPv4, answerFrom(storeNamed(u"beta", 0)));
    movingNamePort = after.port();
    movingNameSlow = true;
    ASSERT_TRUE(waitFor([&] { return slot.Status.load() == kStatusNoResponse; }));
    // As if the server had been silent for a minute.
    slot.LastAnswerTime = wallClockSeconds() - 61;
    slot.LastResolutionTime = wallClockSeconds() - 61;
    ASSERT_TRUE(waitFor([] { return movingNameLookups.load() > 0; }));

    move(14, 15);
    EXPECT_TRUE(waitFor([&] { return hostNameOf(neighbour) == "beta"; }));
    EXPECT_EQ(addressPort(neighbour), after.port());
    // The lookup begun before the move has ended by now; the slot that took the place kept its address.
    EXPECT_TRUE(waitFor([] { return movingNameLookups.load() == 0; }));
    sleepMs(2000);
    EXPECT_EQ(addressPort(slot), steady.port());
    EXPECT_EQ(hostNameOf(slot), "gamma");
    movingNameSlow = false;
    setSlotResolver(resolveUdpAddress);
}

}  // namespace
}  // namespace tarvelon
