// A configured server by its address and port, so that its alarms follow it when it moves to another
// slot and a server entered twice is one server.
#pragma once

#include <cstdint>

#include "net/slot_table.h"

namespace tarvelon {

// 0 for a free slot.
uint32_t serverIdentity(const ServerSlot& slot);

}  // namespace tarvelon
