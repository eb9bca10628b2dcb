// One query of a probe: a UDP socket connected to the target, so that only the target's datagrams
// are judged and an unreachable port (ICMP) ends the wait at once.
#pragma once

#include <cstdint>

#include "net/slot_table.h"
#include "platform/sockets.h"

namespace tarvelon {

// True with the reply's records when the target sent a full reply within waitMs.
bool queryProbeTarget(const IpAddress& address, uint16_t port, uint32_t waitMs, uint8_t sequence,
                      SlotRecords* records);

}  // namespace tarvelon
