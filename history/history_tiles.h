// The last hour of every tile, named by what it watches (TileKey): a ring per tile, allocated when
// the tile is first recorded and freed once it has held nothing for an hour. A tile that is not
// recorded for a while (hidden, its server deactivated) keeps its ring; the seconds it missed read as
// gaps.
#pragma once

#include <cstdint>

#include "history/history_ring.h"
#include "history/tile_key.h"
#include "telemetry/records.h"

namespace tarvelon {

// This PC and every server, each with its host tile and its GPUs.
constexpr int kHistoryTiles = (1 + kServerSlots) * (1 + kGpuSlots);

struct HistoryTile {
    TileKey key;
    HistoryRing* ring;
};

// Zero at start.
struct HistoryTiles {
    int32_t count;
    int32_t next;  // where the search for the next key starts: tiles come in the same order each tick
    HistoryTile tiles[kHistoryTiles];
};

// Records second for the tile: its figures, or a gap when figures is null. The tile's ring is
// allocated when missing; a ring that cannot be allocated (or a full table) leaves the tile without
// history.
void recordTile(HistoryTiles& tiles, const TileKey& key, int64_t second, const HistoryFigures* figures);
// The tile's ring, or null.
const HistoryRing* tileHistory(const HistoryTiles& tiles, const TileKey& key);
// Frees the rings whose newest second is an hour or more before second: they hold only gaps.
void dropStaleTiles(HistoryTiles& tiles, int64_t second);
void freeTiles(HistoryTiles& tiles);

}  // namespace tarvelon
