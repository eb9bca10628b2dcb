// Sharing the metrics endpoint's connections among clients: a share per IPv4 address and per IPv6
// /64, and room made from the idle connections of whoever holds the most.
#include <gtest/gtest.h>

#include <vector>

#include "agent/address_group.h"
#include "agent/agent_options.h"
#include "agent/connection_admission.h"

namespace tarvelon {
namespace {

IpAddress address(const char* text) {
    IpAddress parsed{};
    EXPECT_TRUE(parseListenAddress(text, &parsed)) << text;
    return addressGroup(parsed);
}

TEST(AddressGroup, IPv4ByAddressIPv6ByItsSlash64MappedAsIPv4) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"2001:db8::1", "2001:db8::ffff:2", true}, {"2001:db8::1", "2001:db8:0:1::1", false},
        {"::ffff:192.0.2.7", "192.0.2.7", true},   {"192.0.2.7", "192.0.2.8", false},
        {"fe80::1%1", "fe80::2%2", true},
    };
    for (const auto& c : cases) EXPECT_EQ(sameGroup(address(c.a), address(c.b)), c.same) << c.a << " " << c.b;
}

std::vector<HeldConnection> held(const char* client, unsigned count, bool waiting) {
    return std::vector<HeldConnection>(count, HeldConnection{address(client), waiting});
}

std::vector<HeldConnection> operator+(std::vector<HeldConnection> a, const std::vector<HeldConnection>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ConnectionAdmission, EachClientHasItsShareAndHoardersGiveWayWhenAllAreTaken) {
    const std::vector<HeldConnection> fourHoarders =
        held("192.0.2.1", 72, true) + held("192.0.2.2", 72, true) + held("2001:db8::1", 72, true) +
        held("192.0.2.4", 72, true);
    const std::vector<HeldConnection> busyHoarders =
        held("192.0.2.1", 72, false) + held("192.0.2.2", 72, false) + held("2001:db8::1", 72, false) +
        held("192.0.2.4", 71, false) + held("192.0.2.4", 1, true);
    const std::vector<HeldConnection> evenlyShared =
        held("192.0.2.1", 2, true) + held("192.0.2.2", 286, false);
    const struct {
        const char* name;
        std::vector<HeldConnection> held;
        const char* client;
        Admission admission;
        size_t replaced;
    } cases[] = {
        {"room left", held("192.0.2.1", 10, true), "192.0.2.2", Admission::Admit, 0},
        {"a client's share", held("192.0.2.1", 72, false), "192.0.2.1", Admission::ClientFull, 0},
        {"a /64's share", held("2001:db8::1", 72, false), "2001:db8::ffff:1", Admission::ClientFull, 0},
        {"a mapped address's share", held("192.0.2.1", 72, false), "::ffff:192.0.2.1", Admission::ClientFull,
         0},
        {"hoarders idle", fourHoarders, "198.51.100.1", Admission::AdmitInPlace, 0},
        {"the one idle hoarder", busyHoarders, "198.51.100.1", Admission::AdmitInPlace, 287},
        {"every connection busy",
         held("192.0.2.1", 72, false) + held("192.0.2.2", 72, false) + held("192.0.2.3", 72, false) +
             held("192.0.2.4", 72, false),
         "198.51.100.1", Admission::AllBusy, 0},
        {"no turns between near equals",
         held("192.0.2.1", 72, true) + held("192.0.2.2", 72, true) + held("192.0.2.3", 72, true) +
             held("192.0.2.4", 71, true) + held("198.51.100.1", 1, true),
         "192.0.2.4", Admission::AllBusy, 0},
        {"only the busy one holds more", evenlyShared, "192.0.2.1", Admission::AllBusy, 0},
    };
    for (const auto& c : cases) {
        const AdmissionDecision decision = admitConnection(c.held.data(), c.held.size(), address(c.client));
        EXPECT_EQ(decision.admission, c.admission) << c.name;
        if (c.admission == Admission::AdmitInPlace) {
            EXPECT_EQ(decision.replaced, c.replaced) << c.name;
        }
    }
}

}  // namespace
}  // namespace tarvelon
