// `--export-history TILE MINUTES FILE`: the last MINUTES of a tile's archive as CSV, read beside a
// running panel. TILE is `local`, `local/gpuN`, `HOST:PORT` or `HOST:PORT/gpuN`, N the GPU's position
// as the panel shows it now, which the panel keeps in the index file of the history folder.
#pragma once

#include <cstdint>
#include <string>

#include "history/history_read.h"

namespace tarvelon {

constexpr char16_t kTileIndexName[] = u"tiles.txt";
constexpr int32_t kExportMostMinutes = 366 * 24 * 60;

enum class ExportOutcome : int32_t { written = 0, usage = 1, unknownTile = 2, badSpan = 3, cannotWrite = 4 };

// One line of the index: the tile as TILE names it, a tab, its archive's file name; CRLF at the end.
std::string tileIndexLine(const std::u16string& tile, const std::u16string& archive);

struct ExportTile {
    std::u16string archive;  // the archive's file name
    int32_t gpu;             // the GPU's position for the column names; -1 for a host
};
// TILE by the index's text (UTF-8); a host tile not in the index is still found by its name.
bool findExportTile(const std::u16string& tile, const std::string& index, ExportTile* found);
// MINUTES: a whole number from 1 to kExportMostMinutes.
bool parseExportMinutes(const std::u16string& text, int32_t* minutes);

// The whole export against the history folder, now being the wall clock's second.
ExportOutcome exportHistory(const std::u16string& folder, const std::u16string& tile, const std::u16string& minutes,
                            const std::u16string& file, int64_t now);
// The message for the console.
const char* exportMessage(ExportOutcome outcome);

}  // namespace tarvelon
