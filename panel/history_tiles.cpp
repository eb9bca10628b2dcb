#include "panel/history_tiles.h"

#include <new>

#include "net/slot_table.h"
#include "panel/tile_figures.h"

namespace tarvelon {
namespace {

HistoryRing* ringFor(HistoryRing*& ring) {
    if (ring == nullptr) {
        ring = new (std::nothrow) HistoryRing;
        if (ring != nullptr) clearHistory(*ring);
    }
    return ring;
}

bool validTile(TileId tile) {
    return tile.source >= kLocalSource && tile.source < kPanelGroups - 1 && tile.gpu >= -1 && tile.gpu < kGpuSlots;
}

}  // namespace

void recordTiles(HistoryTiles& tiles, const PanelList& shown, int64_t second) {
    bool seen[kPanelGroups][1 + kGpuSlots] = {};
    HistoryFigures figures;
    for (int g = 0; g < kPanelGroups; ++g) {
        const PanelGroup& group = shown.groups[g];
        if (group.host.present == 0) continue;
        const int row = group.source + 1;
        const bool answering = group.host.status == kStatusOk;
        seen[row][0] = true;
        if (HistoryRing* ring = ringFor(tiles.rings[row][0]); ring != nullptr) {
            if (answering) {
                hostFigures(group.hostRecord, figures);
                recordHistory(*ring, second, figures);
            } else {
                recordHistoryGap(*ring, second);
            }
        }
        for (int k = 0; k < kGpuSlots && group.gpus[k].present != 0; ++k) {
            seen[row][1 + k] = true;
            HistoryRing* ring = ringFor(tiles.rings[row][1 + k]);
            if (ring == nullptr) continue;
            if (answering) {
                gpuFigures(group.gpuRecords[k], figures);
                recordHistory(*ring, second, figures);
            } else {
                recordHistoryGap(*ring, second);
            }
        }
    }
    for (int row = 0; row < kPanelGroups; ++row) {
        for (int t = 0; t <= kGpuSlots; ++t) {
            if (seen[row][t] || tiles.rings[row][t] == nullptr) continue;
            delete tiles.rings[row][t];
            tiles.rings[row][t] = nullptr;
        }
    }
}

const HistoryRing* tileHistory(const HistoryTiles& tiles, TileId tile) {
    if (!validTile(tile)) return nullptr;
    return tiles.rings[tile.source + 1][tile.gpu + 1];
}

void freeTiles(HistoryTiles& tiles) {
    for (auto& row : tiles.rings) {
        for (HistoryRing*& ring : row) {
            delete ring;
            ring = nullptr;
        }
    }
}

}  // namespace tarvelon
