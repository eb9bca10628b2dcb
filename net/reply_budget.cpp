#include "net/reply_budget.h"

#include <cstring>

namespace tarvelon {
namespace {

constexpr uint32_t kMilliTokensPerReply = 1000;
constexpr uint32_t kFullMilliTokens = kReplyBurst * kMilliTokensPerReply;
static_assert(kReplyBudgetSets * kReplyBudgetWays == kReplyBudgetEntries);

// The address bytes padded with zeros, and how many of them there are.
struct HostKey {
    uint8_t bytes[16];
    uint8_t length;
};

uint32_t setOf(uint32_t hashKey, const HostKey& key) {
    uint32_t hash = 2166136261u ^ hashKey;  // FNV-1a over the hash key and the address
    for (uint8_t byte : key.bytes) {
        hash ^= byte;
        hash *= 16777619u;
    }
    hash ^= key.length;
    hash *= 16777619u;
    hash ^= hash >> 15;
    hash *= 0x2C1B3C6Du;
    hash ^= hash >> 12;
    return hash % kReplyBudgetSets;
}

bool holds(const ReplyBudgetEntry& entry, const HostKey& key) {
    return entry.inUse != 0 && entry.hostBytes == key.length && std::memcmp(entry.host, key.bytes, 16) == 0;
}

// An entry that would have refilled completely by now is worth nothing: taking it loses no history.
bool isSettled(const ReplyBudgetEntry& entry, uint64_t nowMs) {
    return entry.inUse == 0 || (nowMs >= entry.lastSeenMs && nowMs - entry.lastSeenMs >= kFullRefillMs);
}

ReplyBudgetEntry& claimEntry(ReplyBudgetEntry* set, const HostKey& key, uint64_t nowMs) {
    ReplyBudgetEntry* oldest = &set[0];
    for (int way = 1; way < kReplyBudgetWays && oldest->inUse != 0; ++way) {
        if (set[way].inUse == 0 || set[way].lastSeenMs < oldest->lastSeenMs) oldest = &set[way];
    }
    // When the set is too small for the senders of the last seconds, a returning sender cannot be told
    // from a new one; a fresh entry then gets one reply, not a burst, so that cycling through many
    // forged addresses does not renew one victim's allowance.
    const uint32_t start = isSettled(*oldest, nowMs) ? kFullMilliTokens : kMilliTokensPerReply;
    std::memcpy(oldest->host, key.bytes, 16);
    oldest->hostBytes = key.length;
    oldest->inUse = 1;
    oldest->milliTokens = start;
    oldest->lastSeenMs = nowMs;
    return *oldest;
}

void refill(ReplyBudgetEntry& entry, uint64_t nowMs) {
    if (nowMs > entry.lastSeenMs) {  // a clock that stepped back refills nothing
        const uint64_t elapsed = nowMs - entry.lastSeenMs;
        const uint64_t added = elapsed >= kFullRefillMs ? kFullMilliTokens : elapsed * kRepliesPerSecond;
        const uint64_t tokens = entry.milliTokens + added;
        entry.milliTokens = static_cast<uint32_t>(tokens < kFullMilliTokens ? tokens : kFullMilliTokens);
    }
    entry.lastSeenMs = nowMs;
}

}  // namespace

void resetReplyBudget(ReplyBudget& budget, uint32_t hashKey) {
    std::memset(&budget, 0, sizeof budget);
    budget.hashKey = hashKey;
}

bool takeFullReply(ReplyBudget& budget, const uint8_t* host, int hostBytes, uint64_t nowMs) {
    HostKey key{};
    if (hostBytes > 0 && hostBytes <= 16) {
        std::memcpy(key.bytes, host, static_cast<size_t>(hostBytes));
        key.length = static_cast<uint8_t>(hostBytes);
    }
    ReplyBudgetEntry* set = &budget.entries[setOf(budget.hashKey, key) * kReplyBudgetWays];
    ReplyBudgetEntry* entry = nullptr;
    for (int way = 0; way < kReplyBudgetWays && entry == nullptr; ++way) {
        if (holds(set[way], key)) entry = &set[way];
    }
    if (entry != nullptr) {
        refill(*entry, nowMs);
    } else {
        entry = &claimEntry(set, key, nowMs);
    }
    if (entry->milliTokens < kMilliTokensPerReply) return false;
    entry->milliTokens -= kMilliTokensPerReply;
    return true;
}

}  // namespace tarvelon
