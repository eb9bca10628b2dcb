// The five stored fields of a server slot (networkServerList_NN_Active, _Enabled, _Hostname, _Port and
// _HighLatency), which loadSettings and saveSettings read and write. The slot table that the query
// client runs on builds its slots on this record and lists them in storedSlots when the program starts,
// so the settings need to know nothing about polling.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarvelon {

constexpr int kServerSlots = 64;
constexpr int kSlotTextUnits = 128;

struct StoredSlot {
    std::atomic<int32_t> Active;
    std::atomic<int32_t> Enabled;
    std::atomic<int32_t> HighLatency;
    char16_t Hostname[kSlotTextUnits];
    int32_t Port;
};

// The slot at each index, set before main by the slot table; a program without one stores no slots.
extern StoredSlot* storedSlots[kServerSlots];

}  // namespace tarvelon
