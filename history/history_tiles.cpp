#include "history/history_tiles.h"

#include <new>

namespace tarvelon {
namespace {

HistoryTile* find(HistoryTiles& tiles, const TileKey& key) {
    for (int n = 0; n < tiles.count; ++n) {
        const int i = (tiles.next + n) % tiles.count;
        if (!sameTile(tiles.tiles[i].key, key)) continue;
        tiles.next = i + 1;
        return &tiles.tiles[i];
    }
    return nullptr;
}

HistoryRing* ringFor(HistoryTiles& tiles, const TileKey& key) {
    if (HistoryTile* tile = find(tiles, key); tile != nullptr) return tile->ring;
    if (tiles.count == kHistoryTiles) return nullptr;
    auto* ring = new (std::nothrow) HistoryRing;
    if (ring == nullptr) return nullptr;
    clearHistory(*ring);
    tiles.tiles[tiles.count++] = HistoryTile{key, ring};
    tiles.next = tiles.count;
    return ring;
}

}  // namespace

void recordTile(HistoryTiles& tiles, const TileKey& key, int64_t second, const HistoryFigures* figures) {
    HistoryRing* ring = ringFor(tiles, key);
    if (ring == nullptr) return;
    if (figures != nullptr) {
        recordHistory(*ring, second, *figures);
    } else {
        recordHistoryGap(*ring, second);
    }
}

const HistoryRing* tileHistory(const HistoryTiles& tiles, const TileKey& key) {
    for (int i = 0; i < tiles.count; ++i) {
        if (sameTile(tiles.tiles[i].key, key)) return tiles.tiles[i].ring;
    }
    return nullptr;
}

void dropStaleTiles(HistoryTiles& tiles, int64_t second) {
    int kept = 0;
    for (int i = 0; i < tiles.count; ++i) {
        HistoryTile& tile = tiles.tiles[i];
        if (tile.ring->newest != kNoHistory && tile.ring->newest > second - kHistorySeconds) {
            tiles.tiles[kept++] = tile;
        } else {
            delete tile.ring;
        }
    }
    tiles.count = kept;
    tiles.next = 0;
}

void freeTiles(HistoryTiles& tiles) {
    for (int i = 0; i < tiles.count; ++i) delete tiles.tiles[i].ring;
    tiles.count = 0;
    tiles.next = 0;
}

}  // namespace tarvelon
