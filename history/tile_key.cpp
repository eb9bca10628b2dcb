#include "history/tile_key.h"

namespace tarvelon {

int32_t pciKey(uint8_t bus, uint8_t slot, int occurrence) {
    return occurrence << 16 | bus << 8 | slot;
}

void setTileKey(TileKey& key, const char16_t* host, int32_t port, int32_t gpu) {
    int i = 0;
    // A host that fills its field is cut one unit short: the key always ends within it.
    for (; host[i] != 0 && i < kSlotTextUnits - 1; ++i) key.host[i] = host[i];
    for (; i < kSlotTextUnits; ++i) key.host[i] = 0;
    key.port = port;
    key.gpu = gpu;
}

bool sameTile(const TileKey& a, const TileKey& b) {
    if (a.port != b.port || a.gpu != b.gpu) return false;
    for (int i = 0; i < kSlotTextUnits; ++i) {
        if (a.host[i] != b.host[i]) return false;
        if (a.host[i] == 0) return true;
    }
    return true;
}

}  // namespace tarvelon
