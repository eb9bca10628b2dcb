// The periods a history window shows, read from a tile's archive (and its ring for the last hour) and
// kept until the tile, the tier, the range or the newest second it was read for moves on, so that a
// move of the mouse does not read the disk again.
#pragma once

#include <cstdint>
#include <vector>

#include "history/history_read.h"
#include "history/plot_columns.h"

namespace tarvelon {

struct RangeRead {
    bool done = false;  // false until the first read
    TileKey key{};
    HistoryTier tier = HistoryTier::seconds;
    int64_t stamp = 0;  // the newest second for seconds, its minute for the coarser tiers
    std::vector<PeriodFigures> periods;
    PeriodRun run{nullptr, 0, 0, 1};
};

// The periods of range for the tile of key, read again only when something they depend on moved.
// ring: the tile's last hour, or null.
const PeriodRun& readShownRange(RangeRead& read, const char16_t* folder, const TileKey& key,
                                const HistoryRing* ring, const PlotRange& range, int64_t newest);

}  // namespace tarvelon
