// How many full replies each sender (an address, and for IPv6 also its /64 as a whole) may still be sent. A 3-byte
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
// A host may send from any address of its IPv6 /64, so the /64 as a whole has an allowance too: eight
// addresses' worth, enough for an office LAN of desktops polling once a second, while a sender
// rotating through its /64 still draws no more than this.
constexpr int kNetworkReplyBurst = 160;
constexpr int kNetworkRepliesPerSecond = 80;

constexpr int kReplyBudgetEntries = 256;
constexpr int kReplyBudgetWays = 8;  // an address hashes to one set of this many entries
constexpr int kReplyBudgetSets = kReplyBudgetEntries / kReplyBudgetWays;
// The /64 allowances sit in a table of their own, so no flood of single addresses pushes one out.
constexpr int kNetworkBudgetEntries = 64;

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
    ReplyBudgetEntry networks[kNetworkBudgetEntries];  // IPv6 /64s as a whole
};

void resetReplyBudget(ReplyBudget& budget, uint32_t hashKey);

// Takes one full reply from the allowance of this exact address; false when it has none left. An
// address not in the table takes the least recently seen entry of its set.
bool takeFullReply(ReplyBudget& budget, const IpAddress& sender, uint64_t nowMs);

// A query server's reply to a sender: from its address's allowance and, for IPv6, from its /64's as
// well; false, taking nothing, when either has none left.
bool takeSenderReply(ReplyBudget& budget, const IpAddress& sender, uint64_t nowMs);

}  // namespace tarvelon
