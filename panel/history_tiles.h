// The history of every tile the panel shows: a ring per tile, allocated when the tile appears and
// freed when it goes, filled once a tick from the shown list. A server that does not answer records
// gaps, not its last values.
#pragma once

#include <cstdint>

#include "panel/history_ring.h"
#include "panel/panel_list.h"

namespace tarvelon {

// A tile: the group's source (kLocalSource or a slot index) and the GPU position, -1 for the host.
struct TileId {
    int32_t source;
    int32_t gpu;
};

// Zero at start. Indexed by source + 1, then 0 for the host tile and 1 + k for GPU k.
struct HistoryTiles {
    HistoryRing* rings[kPanelGroups][1 + kGpuSlots];
};

// Records second for every shown tile, allocating rings of new tiles and freeing those of tiles no
// longer shown. A ring that cannot be allocated leaves its tile without history.
void recordTiles(HistoryTiles& tiles, const PanelList& shown, int64_t second);
// The tile's ring, or null.
const HistoryRing* tileHistory(const HistoryTiles& tiles, TileId tile);
void freeTiles(HistoryTiles& tiles);

}  // namespace tarvelon
