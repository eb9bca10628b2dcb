// How many full replies each sender (an IPv4 address, or an IPv6 /64) may still be sent. A 3-byte
// query earns up to 1859 bytes, so anyone who forges a victim's address could use the server as an
// amplifier; a small token bucket per sender, in a fixed table, caps what one sender receives while
// leaving every honest poller (about one query per 0.9 s) untouched. The clock is passed in, so the
// rules are tested without waiting.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace tarvelon {

// A poll thread asks about 1.1 times a second; ten a second lets nine of them share one address (a
// terminal server, a NAT) and the burst absorbs a restart of every poll thread at once. One forged
// address then draws at most about 18 KB/s, instead of as much as the server can send.
constexpr int kReplyBurst = 20;
constexpr int kRepliesPerSecond = 10;
constexpr uint64_t kFullRefillMs = 1000 * kReplyBurst / kRepliesPerSecond;

constexpr int kReplyBudgetEntries = 256;
constexpr int kReplyBudgetWays = 8;  // an address hashes to one set of this many entries
constexpr int kReplyBudgetSets = kReplyBudgetEntries / kReplyBudgetWays;

struct ReplyBudgetEntry {
    IpAddress sender;
    bool inUse;
    uint32_t milliTokens;
    uint64_t lastSeenMs;
};

// One per server thread, touched by that thread alone.
struct ReplyBudget {
    uint32_t hashKey;  // unknown to remote senders, so they cannot aim many addresses at one set
    ReplyBudgetEntry entries[kReplyBudgetEntries];
};

void resetReplyBudget(ReplyBudget& budget, uint32_t hashKey);

// The sender a query server keeps an allowance for: a host may send from any address of its IPv6 /64,
// so the /64 stands for it; an IPv4 sender is its address.
IpAddress replyBudgetSender(const IpAddress& address);

// Takes one full reply from the sender's allowance; false when it has none left. A sender not in the
// table takes the least recently seen entry of its set.
bool takeFullReply(ReplyBudget& budget, const IpAddress& sender, uint64_t nowMs);

}  // namespace tarvelon
