#include "net/reply_budget.h"

#include <cstring>

namespace tarvelon {
namespace {

constexpr uint32_t kMilliTokensPerReply = 1000;
static_assert(kReplyBudgetSets * kReplyBudgetWays == kReplyBudgetEntries);
static_assert(kNetworkBudgetEntries % kReplyBudgetWays == 0);
static_assert(kNetworkReplyBurst * kRepliesPerSecond == kReplyBurst * kNetworkRepliesPerSecond,
              "a network refills in the time an address does, so one settled time serves both");

struct Rate {
    uint32_t fullMilliTokens;
    uint32_t perSecond;
};
constexpr Rate kAddressRate{kReplyBurst * kMilliTokensPerReply, kRepliesPerSecond};
constexpr Rate kNetworkRate{kNetworkReplyBurst * kMilliTokensPerReply, kNetworkRepliesPerSecond};

int bytesOf(const IpAddress& sender) {
    return sender.family == IpFamily::IPv4 ? 4 : 16;
}

uint32_t setOf(uint32_t hashKey, const IpAddress& sender, int sets) {
    uint32_t hash = 2166136261u ^ hashKey;  // FNV-1a over the hash key and the address
    auto mix = [&hash](uint8_t byte) {
        hash ^= byte;
        hash *= 16777619u;
    };
    for (int i = 0; i < bytesOf(sender); ++i) mix(sender.bytes[i]);
    for (int shift = 0; shift < 32; shift += 8) mix(static_cast<uint8_t>(sender.scopeId >> shift));
    hash ^= hash >> 15;
    hash *= 0x2C1B3C6Du;
    hash ^= hash >> 12;
    return hash % static_cast<uint32_t>(sets);
}

bool holds(const ReplyBudgetEntry& entry, const IpAddress& sender) {
    return entry.inUse && entry.sender.family == sender.family && entry.sender.scopeId == sender.scopeId &&
           std::memcmp(entry.sender.bytes, sender.bytes, static_cast<size_t>(bytesOf(sender))) == 0;
}

// An entry that would have refilled completely by now is worth nothing: taking it loses no history.
bool isSettled(const ReplyBudgetEntry& entry, uint64_t nowMs) {
    return !entry.inUse || (nowMs >= entry.lastSeenMs && nowMs - entry.lastSeenMs >= kFullRefillMs);
}

ReplyBudgetEntry& claimEntry(ReplyBudgetEntry* set, const IpAddress& sender, const Rate& rate, uint64_t nowMs) {
    ReplyBudgetEntry* oldest = &set[0];
    for (int way = 1; way < kReplyBudgetWays && oldest->inUse; ++way) {
        if (!set[way].inUse || set[way].lastSeenMs < oldest->lastSeenMs) oldest = &set[way];
    }
    // When the set is too small for the senders of the last seconds, a returning sender cannot be told
    // from a new one; a fresh entry then gets one reply, not a burst, so that cycling through many
    // forged addresses does not renew one victim's allowance.
    const uint32_t start = isSettled(*oldest, nowMs) ? rate.fullMilliTokens : kMilliTokensPerReply;
    oldest->sender = sender;
    oldest->inUse = true;
    oldest->milliTokens = start;
    oldest->lastSeenMs = nowMs;
    return *oldest;
}

void refill(ReplyBudgetEntry& entry, const Rate& rate, uint64_t nowMs) {
    if (nowMs > entry.lastSeenMs) {  // a clock that stepped back refills nothing
        const uint64_t elapsed = nowMs - entry.lastSeenMs;
        const uint64_t added = elapsed >= kFullRefillMs ? rate.fullMilliTokens : elapsed * rate.perSecond;
        const uint64_t tokens = entry.milliTokens + added;
        entry.milliTokens = static_cast<uint32_t>(tokens < rate.fullMilliTokens ? tokens : rate.fullMilliTokens);
    }
    entry.lastSeenMs = nowMs;
}

// The entry of a sender in a table of count entries, refilled to now.
ReplyBudgetEntry& allowance(uint32_t hashKey, ReplyBudgetEntry* table, int count, const IpAddress& sender,
                            const Rate& rate, uint64_t nowMs) {
    ReplyBudgetEntry* set = &table[setOf(hashKey, sender, count / kReplyBudgetWays) * kReplyBudgetWays];
    for (int way = 0; way < kReplyBudgetWays; ++way) {
        if (holds(set[way], sender)) {
            refill(set[way], rate, nowMs);
            return set[way];
        }
    }
    return claimEntry(set, sender, rate, nowMs);
}

}  // namespace

void resetReplyBudget(ReplyBudget& budget, uint32_t hashKey) {
    std::memset(&budget, 0, sizeof budget);
    budget.hashKey = hashKey;
}

bool takeFullReply(ReplyBudget& budget, const IpAddress& sender, uint64_t nowMs) {
    ReplyBudgetEntry& entry =
        allowance(budget.hashKey, budget.entries, kReplyBudgetEntries, sender, kAddressRate, nowMs);
    if (entry.milliTokens < kMilliTokensPerReply) return false;
    entry.milliTokens -= kMilliTokensPerReply;
    return true;
}

bool takeSenderReply(ReplyBudget& budget, const IpAddress& sender, uint64_t nowMs) {
    if (sender.family != IpFamily::IPv6) return takeFullReply(budget, sender, nowMs);
    IpAddress network = sender;
    std::memset(network.bytes + 8, 0, 8);
    ReplyBudgetEntry& whole =
        allowance(budget.hashKey, budget.networks, kNetworkBudgetEntries, network, kNetworkRate, nowMs);
    ReplyBudgetEntry& own =
        allowance(budget.hashKey, budget.entries, kReplyBudgetEntries, sender, kAddressRate, nowMs);
    if (whole.milliTokens < kMilliTokensPerReply || own.milliTokens < kMilliTokensPerReply) return false;
    whole.milliTokens -= kMilliTokensPerReply;
    own.milliTokens -= kMilliTokensPerReply;
    return true;
}

}  // namespace tarvelon
