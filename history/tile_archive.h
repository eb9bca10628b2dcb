// One tile's archive on disk: its file name, opening it for writing (a file that does not read as an
// archive of this layout is set aside under another name and started afresh), writing seconds in
// place, and the minute and hour slots rebuilt from the seconds they cover.
#pragma once

#include <cstdint>
#include <string>

#include "history/history_read.h"
#include "platform/files.h"

namespace tarvelon {

// "local.tvh", "local-gpu-0100.tvh", "gpu-box-7000.tvh", "gpu-box-7000-gpu-0100.tvh": letters, digits,
// '.' and '-' of the host as they are, any other unit as "_XXXX".
std::u16string archiveName(const TileKey& key);
// The names a set-aside archive gets: "NAME.unreadable-SECOND".
std::u16string asideName(const std::u16string& name, int64_t second);
constexpr char16_t kArchiveSuffix[] = u".tvh";

// The tile's archive, ready to write: created when missing, set aside and created afresh when it does
// not read. Null when the folder or the file cannot be written.
PlacedFile* openArchive(const std::u16string& folder, const TileKey& key, int64_t now);

// Writes count seconds (ascending) with their figures into the seconds tier.
bool writeSeconds(PlacedFile* file, const int64_t* seconds, const HistoryFigures* figures, int32_t count);
// Recomputes the minute slots of the minutes that hold these seconds (in any order: the clock may
// have been set back), from the seconds the file holds, and the hour slots of their hours from the
// minutes. No other period is touched: its finer slots may hold later periods by now.
bool rebuildPeriods(PlacedFile* file, const int64_t* seconds, int32_t count);
// The newest second the seconds tier holds, or kNoHistory.
int64_t newestArchivedSecond(PlacedFile* file);

// readTileRange for the archive at path.
bool readArchiveRange(const std::u16string& path, HistoryTier tier, int64_t second, int32_t count,
                      PeriodFigures* periods);
// Reads count periods of tier from an open archive, as readTileRange does.
bool readPeriods(PlacedFile* file, HistoryTier tier, int64_t second, int32_t count, PeriodFigures* periods);

}  // namespace tarvelon
