#include "panel/history_feed.h"

#include "history/history_export.h"
#include "history/tile_archive.h"
#include "history/tile_figures.h"
#include "net/slot_table.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

// Earlier GPUs of the group with the same bus and slot as GPU gpu.
int occurrence(const PanelGroup& group, int32_t gpu) {
    int same = 0;
    const GpuRecord& record = group.gpuRecords[gpu];
    for (int k = 0; k < gpu; ++k) {
        same += group.gpuRecords[k].pciBus == record.pciBus && group.gpuRecords[k].pciSlot == record.pciSlot;
    }
    return same;
}

}  // namespace

TileKey tileKeyOf(const PanelGroup& group, int32_t gpu) {
    TileKey key;
    const int32_t pci =
        gpu < 0 ? -1 : pciKey(group.gpuRecords[gpu].pciBus, group.gpuRecords[gpu].pciSlot, occurrence(group, gpu));
    if (group.source == kLocalSource) {
        setTileKey(key, u"", 0, pci);
    } else {
        // The list is built and read within one tick, between which no move can run.
        const ServerSlot& slot = slotTable[group.source];
        setTileKey(key, slot.Hostname, slot.Port, pci);
    }
    return key;
}

bool shownTileKey(const PanelList& shown, TileId tile, TileKey* key) {
    for (const PanelGroup& group : shown.groups) {
        if (group.host.present == 0 || group.source != tile.source) continue;
        if (tile.gpu >= kGpuSlots || tile.gpu < -1 || (tile.gpu >= 0 && group.gpus[tile.gpu].present == 0)) {
            return false;
        }
        *key = tileKeyOf(group, tile.gpu);
        return true;
    }
    return false;
}

bool shownTileOf(const PanelList& shown, const TileKey& key, TileId* tile) {
    for (const PanelGroup& group : shown.groups) {
        if (group.host.present == 0) continue;
        for (int32_t k = -1; k < kGpuSlots && (k < 0 || group.gpus[k].present != 0); ++k) {
            if (!sameTile(tileKeyOf(group, k), key)) continue;
            *tile = {group.source, k};
            return true;
        }
    }
    return false;
}

void recordShownTiles(HistoryTiles& tiles, const PanelList& shown, int64_t second, ArchiveWorker* archive) {
    HistoryFigures figures;
    const auto record = [&](const TileKey& key, bool live) {
        recordTile(tiles, key, second, live ? &figures : nullptr);
        if (live && archive != nullptr) archive->record(key, second, figures);
    };
    for (const PanelGroup& group : shown.groups) {
        if (group.host.present == 0) continue;
        // A deactivated server still shown holds its last record: that is no measurement.
        const bool live = group.host.status == kStatusOk && group.host.enabled != 0;
        // The host's key once; a GPU's differs only in its PCI number.
        TileKey key = tileKeyOf(group, -1);
        hostFigures(group.hostRecord, figures);
        record(key, live);
        for (int k = 0; k < kGpuSlots && group.gpus[k].present != 0; ++k) {
            const GpuRecord& gpu = group.gpuRecords[k];
            key.gpu = pciKey(gpu.pciBus, gpu.pciSlot, occurrence(group, k));
            gpuFigures(gpu, figures);
            record(key, live);
        }
    }
    dropStaleTiles(tiles, second);
}

int32_t configuredHostKeys(TileKey (&keys)[kServerSlots + 1]) {
    setTileKey(keys[0], u"", 0, -1);
    int32_t count = 1;
    for (const ServerSlot& slot : slotTable) {
        if (slot.Active.load() != 0) setTileKey(keys[count++], slot.Hostname, slot.Port, -1);
    }
    return count;
}

std::string shownTileIndex(const PanelList& shown) {
    std::string index;
    for (const PanelGroup& group : shown.groups) {
        if (group.host.present == 0) continue;
        std::u16string name = u"local";
        if (group.source != kLocalSource) {
            const ServerSlot& slot = slotTable[group.source];
            char16_t port[8];
            format16(port, 8, u":%d", static_cast<int>(slot.Port));
            name = slot.Hostname + std::u16string(port);
        }
        index += tileIndexLine(name, archiveName(tileKeyOf(group, -1)));
        for (int k = 0; k < kGpuSlots && group.gpus[k].present != 0; ++k) {
            char16_t gpu[16];
            format16(gpu, 16, u"/gpu%d", k);
            index += tileIndexLine(name + gpu, archiveName(tileKeyOf(group, k)));
        }
    }
    return index;
}

void fillCsvLine(const PanelGroup& local, CsvLine& line) {
    hostFigures(local.hostRecord, line.figures[0]);
    int count = 0;
    for (; count < kGpuSlots && local.gpus[count].present != 0; ++count) {
        const GpuRecord& gpu = local.gpuRecords[count];
        gpuFigures(gpu, line.figures[1 + count]);
        line.gpuKeys[count] = static_cast<uint16_t>(gpu.pciBus << 8 | gpu.pciSlot);
    }
    line.gpuCount = count;
}

}  // namespace tarvelon
