// Reading a tile's history back from its archive: a range of periods at one tier, each with the
// minimum, average and maximum of every figure, or a gap. The history window and the export read
// through this; the archive's file layout stays behind it.
#pragma once

#include <cstdint>

#include "history/history_ring.h"
#include "history/tile_key.h"

namespace tarvelon {

// Seconds for the last hour, minutes for 7 days, hours for 366 days.
enum class HistoryTier : int32_t { seconds = 0, minutes = 1, hours = 2 };
constexpr int kHistoryTiers = 3;
constexpr int32_t kTierPeriodSeconds[kHistoryTiers] = {1, 60, 3600};
constexpr int32_t kTierPeriods[kHistoryTiers] = {3600, 7 * 24 * 60, 366 * 24};

struct PeriodFigures {
    int64_t start;    // the period's first second (wall clock)
    int32_t seconds;  // seconds recorded in it; 0: a gap, the figures mean nothing
    uint32_t minimum[kHistoryFigures];
    uint32_t average[kHistoryFigures];
    uint32_t maximum[kHistoryFigures];
};

// The finest tier that holds spanSeconds back from now.
HistoryTier tierForSpan(int64_t spanSeconds);

// count periods of the tile's archive in folder at tier, the first being the one second falls in.
// Periods the archive does not hold (not recorded, overwritten, torn) are gaps. False when the
// archive cannot be read at all (none yet, or not a history file): every period is a gap then.
bool readTileRange(const char16_t* folder, const TileKey& key, HistoryTier tier, int64_t second, int32_t count,
                   PeriodFigures* periods);

}  // namespace tarvelon
