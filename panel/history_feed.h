// The history's view of the panel: the key of each shown tile, and once a tick the seconds of the shown
// tiles into the rings and the local tiles into a CSV line. A server that does not answer, or is
// deactivated, records gaps rather than its last values.
#pragma once

#include <cstdint>
#include <string>

#include "history/archive_worker.h"
#include "history/csv_log.h"
#include "history/history_tiles.h"
#include "panel/panel_list.h"

namespace tarvelon {

// A tile by where it sits now: the group's source (kLocalSource or a slot index) and the GPU
// position, -1 for the host.
struct TileId {
    int32_t source;
    int32_t gpu;
};

// The key of the tile at gpu (-1: the host tile) of group.
TileKey tileKeyOf(const PanelGroup& group, int32_t gpu);
// The key of the tile shown at tile; false when no such tile is shown.
bool shownTileKey(const PanelList& shown, TileId tile, TileKey* key);

// Where the tile of key is shown now; false when it is not shown.
bool shownTileOf(const PanelList& shown, const TileKey& key, TileId* tile);

// Records second for every shown tile and lets rings idle for an hour go; hands the archives the
// seconds with figures when archive is set.
void recordShownTiles(HistoryTiles& tiles, const PanelList& shown, int64_t second, ArchiveWorker* archive);

// The host keys of this PC and of every server on the list, shown or not; their count.
int32_t configuredHostKeys(TileKey (&keys)[kServerSlots + 1]);

// The index of the tiles shown, for `--export-history` (see history_export.h).
std::string shownTileIndex(const PanelList& shown);

// The figures and the set of GPUs of the local group (group 0 of the shown list) into line.
void fillCsvLine(const PanelGroup& local, CsvLine& line);

}  // namespace tarvelon
