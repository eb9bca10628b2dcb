#include "alarms/server_identity.h"

namespace tarvelon {

uint32_t serverIdentity(const ServerSlot& slot) {
    if (slot.Active.load() == 0) return 0;
    uint32_t hash = 2166136261u;
    const auto mix = [&hash](uint32_t unit) { hash = (hash ^ unit) * 16777619u; };
    for (int i = 0; i < kSlotTextUnits && slot.Hostname[i] != 0; ++i) mix(slot.Hostname[i]);
    mix(static_cast<uint32_t>(slot.Port));
    return hash != 0 ? hash : 1;
}

}  // namespace tarvelon
