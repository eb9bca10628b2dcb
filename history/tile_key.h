// What a tile watches, which names its history wherever the tile sits: this PC or a server by the host
// and port entered in Network Setup, and a GPU by its PCI bus and slot within that host. Move UP/DOWN,
// the removal of other servers or a GPU dropping out before it leave the name as it was.
#pragma once

#include <cstdint>

#include "settings/stored_slot.h"

namespace tarvelon {

struct TileKey {
    char16_t host[kSlotTextUnits];  // empty for this PC
    int32_t port;                   // 0 for this PC
    int32_t gpu;                    // -1 for the host tile, else the GPU's pciKey
};

// PCI bus and slot in one number; occurrence (0 for the first GPU of a host with that bus and slot)
// keeps two GPUs that report the same apart.
int32_t pciKey(uint8_t bus, uint8_t slot, int occurrence);

// key for this PC (host empty) or a server, with gpu as given.
void setTileKey(TileKey& key, const char16_t* host, int32_t port, int32_t gpu);
bool sameTile(const TileKey& a, const TileKey& b);

}  // namespace tarvelon
