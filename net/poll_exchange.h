// One exchange of a poll thread with its server: a fresh socket, the query, the reply judged and,
// when accepted, stored in the slot; the slot's Status and LatencyMs tell the outcome.
#pragma once

#include <cstdint>

#include "net/slot_table.h"

namespace tarvelon {

constexpr uint32_t kReceiveTimeoutMs = 900;
constexpr uint32_t kHighLatencyReceiveTimeoutMs = 9000;

// buffer: the poll thread's kDatagramBufferBytes receive buffer.
void exchangeWithServer(ServerSlot& slot, const ResolvedAddress& address, uint8_t sequence, uint8_t* buffer);

}  // namespace tarvelon
