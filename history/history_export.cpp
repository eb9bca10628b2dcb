#include "history/history_export.h"

#include <algorithm>
#include <vector>

#include "history/archive_layout.h"
#include "history/csv_text.h"
#include "history/tile_archive.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

// "HOST:PORT" (the last colon, as IPv6 hosts hold more) into a key of the host tile.
bool parseServer(const std::u16string& text, TileKey* key) {
    const size_t colon = text.rfind(u':');
    if (colon == std::u16string::npos || colon == 0 || colon + 1 == text.size() || colon >= kSlotTextUnits) {
        return false;
    }
    int32_t port = 0;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9' || port > 6553) return false;
        port = port * 10 + (text[i] - u'0');
    }
    if (port < 1 || port > 65535) return false;
    setTileKey(*key, text.substr(0, colon).c_str(), port, -1);
    return true;
}

// N of a tile ending in "/gpuN"; -1 for a host tile, whose text ends in its port (a host's name may
// hold "/gpu" itself).
int32_t gpuPosition(const std::u16string& tile) {
    const size_t at = tile.rfind(u"/gpu");
    if (at == std::u16string::npos || at + 4 == tile.size() || tile.size() - at > 6) return -1;
    int32_t position = 0;
    for (size_t i = at + 4; i < tile.size(); ++i) {
        if (tile[i] < u'0' || tile[i] > u'9') return -1;
        position = position * 10 + (tile[i] - u'0');
    }
    return position;
}

std::string readIndex(const std::u16string& folder) {
    const std::u16string path = folder + u"/" + kTileIndexName;
    PlacedFile* file = openPlacedFile(path.c_str(), false);
    if (file == nullptr) return {};
    std::string text(static_cast<size_t>(std::max<int64_t>(placedFileSize(file), 0)), '\0');
    if (!readPlaced(file, 0, text.data(), text.size())) text.clear();
    closePlacedFile(file);
    return text;
}

}  // namespace

std::string tileIndexLine(const std::u16string& tile, const std::u16string& archive) {
    return toUtf8(tile.c_str()) + "\t" + toUtf8(archive.c_str()) + "\r\n";
}

bool findExportTile(const std::u16string& tile, const std::string& index, ExportTile* found) {
    const std::string wanted = toUtf8(tile.c_str()) + "\t";
    for (size_t at = 0; at < index.size();) {
        const size_t end = std::min(index.find("\r\n", at), index.size());
        if (index.compare(at, wanted.size(), wanted) == 0) {
            found->archive = fromUtf8(index.substr(at + wanted.size(), end - at - wanted.size()));
            found->gpu = gpuPosition(tile);
            return !found->archive.empty();
        }
        at = end + 2;
    }
    // A host tile's archive is named by the tile alone, shown now or not.
    TileKey key;
    if (tile == u"local") {
        setTileKey(key, u"", 0, -1);
    } else if (tile.find(u'/') != std::u16string::npos || !parseServer(tile, &key)) {
        return false;
    }
    found->archive = archiveName(key);
    found->gpu = -1;
    return true;
}

bool parseExportMinutes(const std::u16string& text, int32_t* minutes) {
    if (text.empty() || text.size() > 7) return false;
    int32_t value = 0;
    for (char16_t unit : text) {
        if (unit < u'0' || unit > u'9') return false;
        value = value * 10 + (unit - u'0');
    }
    if (value < 1 || value > kExportMostMinutes) return false;
    *minutes = value;
    return true;
}

ExportOutcome exportHistory(const std::u16string& folder, const std::u16string& tile, const std::u16string& minutes,
                            const std::u16string& file, int64_t now) {
    ExportTile found;
    if (!findExportTile(tile, readIndex(folder), &found)) return ExportOutcome::unknownTile;
    const std::u16string path = folder + u"/" + found.archive;
    if (fileSize(path.c_str()) < 0) return ExportOutcome::unknownTile;
    int32_t span = 0;
    if (!parseExportMinutes(minutes, &span)) return ExportOutcome::badSpan;
    const int64_t spanSeconds = int64_t{span} * 60;
    const HistoryTier tier = tierForSpan(spanSeconds);
    const int64_t period = kTierPeriodSeconds[static_cast<int>(tier)];
    const int64_t first = now - spanSeconds + 1;
    const auto count = static_cast<int32_t>((periodStart(tier, now) - periodStart(tier, first)) / period + 1);
    std::vector<PeriodFigures> periods(static_cast<size_t>(count));
    readArchiveRange(path, tier, first, count, periods.data());
    const std::string text = csvPeriods(tier, found.gpu, periods.data(), count, localTimeOf);
    return replaceFile(file.c_str(), text.data(), text.size()) ? ExportOutcome::written : ExportOutcome::cannotWrite;
}

const char* exportMessage(ExportOutcome outcome) {
    switch (outcome) {
        case ExportOutcome::written:
            return "History written.";
        case ExportOutcome::usage:
            return "Usage: tarvelon.exe --export-history TILE MINUTES FILE\r\n"
                   "TILE: local, local/gpuN, HOST:PORT or HOST:PORT/gpuN";
        case ExportOutcome::unknownTile:
            return "No history is kept for that tile.";
        case ExportOutcome::badSpan:
            return "MINUTES must be a whole number from 1 to 527040.";
        case ExportOutcome::cannotWrite:
            return "The file cannot be written.";
    }
    return "";
}

}  // namespace tarvelon
