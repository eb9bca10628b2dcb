// The per-address reply budget with a clock of our own: bursts, refill, honest pollers, independent
// addresses, and what cycling through many forged addresses buys.
#include "net/reply_budget.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tarvelon {
namespace {

IpAddress ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return {IpFamily::IPv4, {a, b, c, d}, 0};
}

// Distinct addresses 10.x.y.z, numbered.
IpAddress numbered(uint32_t n) {
    return ipv4(10, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n));
}

class Budget : public testing::Test {
  protected:
    void SetUp() override { resetReplyBudget(*budget, 0x5EED); }

    bool take(const IpAddress& sender, uint64_t nowMs) { return takeSenderReply(*budget, sender, nowMs); }
    // How many of `count` requests at one instant are granted.
    int granted(const IpAddress& sender, int count, uint64_t nowMs) {
        int answered = 0;
        for (int i = 0; i < count; ++i) answered += take(sender, nowMs) ? 1 : 0;
        return answered;
    }

    std::unique_ptr<ReplyBudget> budget = std::make_unique<ReplyBudget>();
    const IpAddress victim = ipv4(192, 0, 2, 7);
};

TEST_F(Budget, NewSenderGetsTheBurstThenTheRefillRate) {
    const uint64_t t0 = 1000000;
    EXPECT_EQ(granted(victim, 100, t0), kReplyBurst);
    EXPECT_FALSE(take(victim, t0 + 99));  // 0.99 of a reply refilled
    EXPECT_TRUE(take(victim, t0 + 100));
    EXPECT_FALSE(take(victim, t0 + 100));
    // A request every millisecond for ten seconds draws exactly the refill rate.
    int answered = 0;
    for (uint64_t t = t0 + 101; t <= t0 + 10100; ++t) answered += take(victim, t) ? 1 : 0;
    EXPECT_EQ(answered, 10 * kRepliesPerSecond);
}

TEST_F(Budget, IdleTimeRefillsNoMoreThanTheBurst) {
    struct Case {
        int takenFirst;
        uint64_t idleMs;
    };
    const Case cases[] = {{kReplyBurst, 3600 * 1000}, {1, 3600 * 1000}, {1, 150}, {0, 5000}};
    for (const Case& c : cases) {
        resetReplyBudget(*budget, 0x5EED);
        EXPECT_EQ(granted(victim, c.takenFirst, 5000), c.takenFirst);
        EXPECT_EQ(granted(victim, 100, 5000 + c.idleMs), kReplyBurst) << c.takenFirst << " " << c.idleMs;
    }
}

TEST_F(Budget, HonestPollersSharingOneAddressAreNeverRefused) {
    struct Case {
        int pollers;
        bool refusedSometime;
    };
    // Each poller asks every 900 ms, the pollers evenly spread over the cycle.
    const Case cases[] = {{1, false}, {4, false}, {9, false}, {12, true}};
    for (const Case& c : cases) {
        resetReplyBudget(*budget, 0x5EED);
        int refused = 0;
        for (uint64_t cycle = 0; cycle < 2000; ++cycle) {
            for (int p = 0; p < c.pollers; ++p) {
                const uint64_t t = 777 + cycle * 900 + static_cast<uint64_t>(p) * 900 / c.pollers;
                refused += take(victim, t) ? 0 : 1;
            }
        }
        EXPECT_EQ(refused > 0, c.refusedSometime) << c.pollers << " pollers, " << refused << " refused";
    }
}

TEST_F(Budget, AddressesHaveAllowancesOfTheirOwn) {
    const IpAddress fe80 = {IpFamily::IPv6, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 2};
    const IpAddress others[] = {
        ipv4(192, 0, 2, 8),                                                       // the neighbour
        {IpFamily::IPv6, {192, 0, 2, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},  // the same leading bytes
        {IpFamily::IPv6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0},
        fe80,
        {IpFamily::IPv6, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 3},  // on another link
    };
    EXPECT_EQ(granted(victim, 100, 1000), kReplyBurst);
    for (const IpAddress& other : others) EXPECT_EQ(granted(other, 100, 1000), kReplyBurst);
    EXPECT_FALSE(take(victim, 1000));
    EXPECT_FALSE(take(fe80, 1000));
}

TEST_F(Budget, IPv6AddressesHaveTheirOwnAllowanceAndTheirSlash64AWiderOne) {
    auto in64 = [](uint8_t subnet, uint8_t host) {
        return IpAddress{
            IpFamily::IPv6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, subnet, 0, 0, 0, 0, 0x5e, 0, 0, host}, 0};
    };
    // One address: its own burst.
    EXPECT_EQ(granted(in64(1, 1), 100, 1000), 20);
    // An office of 50 desktops in one /64, each asking once a second for a minute: all answered.
    int answered = 0;
    for (uint64_t second = 1; second <= 60; ++second) {
        for (uint8_t host = 10; host < 60; ++host) answered += take(in64(2, host), 1000 * second) ? 1 : 0;
    }
    EXPECT_EQ(answered, 3000);
    // Rotating through a /64 draws the network's burst, then its rate: 80 in the next second.
    answered = 0;
    for (int host = 0; host < 250; ++host) answered += take(in64(3, static_cast<uint8_t>(host)), 1000) ? 1 : 0;
    EXPECT_EQ(answered, 160);
    answered = 0;
    for (int host = 0; host < 250; ++host) answered += take(in64(3, static_cast<uint8_t>(host)), 2000) ? 1 : 0;
    EXPECT_EQ(answered, 80);
    // A probe's targets are servers of their own: exact addresses, no network allowance.
    EXPECT_FALSE(take(in64(3, 252), 2000));
    EXPECT_TRUE(takeFullReply(*budget, in64(3, 252), 2000));
}

TEST_F(Budget, IPv4SenderIsKnownByItsFourBytesAlone) {
    IpAddress withLeftovers = victim;
    withLeftovers.bytes[9] = 0xAA;  // beyond an IPv4 address: not part of it
    EXPECT_EQ(granted(victim, kReplyBurst, 1000), kReplyBurst);
    EXPECT_FALSE(take(withLeftovers, 1000));
}

TEST_F(Budget, ClockSteppingBackRefillsNothing) {
    EXPECT_EQ(granted(victim, kReplyBurst, 50000), kReplyBurst);
    EXPECT_FALSE(take(victim, 1000));
    EXPECT_FALSE(take(victim, 1050));  // measured from the step back, not from 50000
    EXPECT_TRUE(take(victim, 1100));
}

TEST_F(Budget, CyclingThroughForgedAddressesDoesNotRenewTheVictimsBurst) {
    uint64_t t = 1000;
    EXPECT_EQ(granted(victim, 100, t), kReplyBurst);
    // Thousands of other forged senders within a second push the victim out of the table.
    int othersAnswered = 0;
    for (uint32_t n = 0; n < 4000; ++n) othersAnswered += take(numbered(n), t + n / 8) ? 1 : 0;
    EXPECT_EQ(othersAnswered, 4000);  // each still gets its one reply
    t += 600;
    // Remembered, the victim would have 6 replies refilled; forgotten, it may have only one.
    EXPECT_LE(granted(victim, 100, t), 6);
}

TEST_F(Budget, SenderForgottenAfterQuietTimeStartsWithAFullBurst) {
    EXPECT_EQ(granted(victim, 100, 1000), kReplyBurst);
    for (uint32_t n = 0; n < 4000; ++n) take(numbered(n), 1000);
    EXPECT_EQ(granted(victim, 100, 1000 + kFullRefillMs + 1), kReplyBurst);
}

TEST_F(Budget, ManyHonestPollersAreAllAnsweredEvenWhenTheTableOverflows) {
    // 1000 machines each polling every 900 ms: four times the table, every set overflowing.
    int refused = 0;
    for (uint64_t cycle = 0; cycle < 20; ++cycle) {
        for (uint32_t n = 0; n < 1000; ++n) {
            refused += take(numbered(n), 500 + cycle * 900 + n * 900 / 1000) ? 0 : 1;
        }
    }
    EXPECT_EQ(refused, 0);
}

}  // namespace
}  // namespace tarvelon
