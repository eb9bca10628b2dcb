#include "panel/panel_list.h"

#include <cstring>

#include "net/slot_table.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"

namespace tarvelon {
namespace {

PanelEntry entryFor(uint8_t changed, int32_t enabled, int32_t status) {
    PanelEntry entry{};
    entry.present = 1;
    entry.changed = changed;
    entry.enabled = enabled;
    entry.status = status;
    return entry;
}

void fillGroup(PanelGroup& group, int32_t source, const HostRecord& host, const GpuRecord (&gpus)[kGpuSlots],
               int32_t enabled, int32_t status) {
    group.source = source;
    group.host = entryFor(host.changed, enabled, status);
    group.hostRecord = host;
    int packed = 0;
    for (const GpuRecord& gpu : gpus) {
        if (gpu.present == 0) continue;
        group.gpus[packed] = entryFor(gpu.changed, enabled, status);
        group.gpuRecords[packed] = gpu;
        ++packed;
    }
    for (; packed < kGpuSlots; ++packed) {
        group.gpus[packed] = PanelEntry{};
        group.gpuRecords[packed] = GpuRecord{};
    }
}

bool sameHostName(const HostRecord& a, const HostRecord& b) {
    // Bounded: a record's text is only trusted to end within its field.
    for (int i = 0; i < kRecordTextUnits; ++i) {
        if (a.hostName[i] != b.hostName[i]) return false;
        if (a.hostName[i] == 0) return true;
    }
    return true;
}

bool gpuPositionsChanged(const PanelGroup& current, const PanelGroup& shown) {
    for (int k = 0; k < kGpuSlots; ++k) {
        if (current.gpus[k].present != shown.gpus[k].present || current.gpus[k].changed != 0) return true;
    }
    return false;
}

// The shown slots from group 1 on; *next is the first group left unfilled.
void fillServerGroups(PanelList& current, int* next) {
    if (slotTableCommand.load(std::memory_order_acquire) != kCommandNone) return;

    const bool hideDead = settings.removeDeadServer.load(std::memory_order_relaxed) != 0;
    const bool hideDeactivated = settings.removeDeactivatedServer.load(std::memory_order_relaxed) != 0;
    for (int i = 0; i < kServerSlots; ++i) {
        ServerSlot& slot = slotTable[i];
        if (slot.Active.load(std::memory_order_acquire) == 0) continue;
        if (slot.State.load(std::memory_order_acquire) != kStateStarted) continue;
        const int32_t status = slot.Status.load(std::memory_order_acquire);
        const int32_t enabled = slot.Enabled.load(std::memory_order_acquire);
        if (hideDead && status != kStatusOk) continue;
        if (hideDeactivated && enabled == 0) continue;
        const SlotRecords records = takeSlotRecords(slot);
        fillGroup(current.groups[(*next)++], i, records.host, records.gpus, enabled, status);
    }
}

}  // namespace

void buildPanelList(PanelList& current) {
    // Every group is written whole: filled ones by fillGroup, the rest zeroed.
    const LocalStore local = takeLocalStore();
    fillGroup(current.groups[0], kLocalSource, local.host, local.gpus, 1, kStatusOk);
    int next = 1;
    fillServerGroups(current, &next);
    std::memset(static_cast<void*>(&current.groups[next]), 0, sizeof(PanelGroup) * (kPanelGroups - next));
}

bool panelListChanged(const PanelList& current, const PanelList& shown) {
    const PanelGroup& local = current.groups[0];
    if (local.host.present != shown.groups[0].host.present || local.host.changed != 0) return true;
    if (gpuPositionsChanged(local, shown.groups[0])) return true;

    for (int g = 1; g < kPanelGroups; ++g) {
        const PanelGroup& now = current.groups[g];
        const PanelGroup& before = shown.groups[g];
        if (now.host.present != before.host.present || now.host.enabled != before.host.enabled ||
            now.host.status != before.host.status) {
            return true;
        }
        if (now.host.present != 0 && before.host.present != 0 &&
            (now.hostRecord.gpuCount != before.hostRecord.gpuCount ||
             !sameHostName(now.hostRecord, before.hostRecord))) {
            return true;
        }
        if (now.host.changed != 0) return true;
        if (gpuPositionsChanged(now, before)) return true;
    }
    return false;
}

bool takePanelList(const PanelList& current, PanelList& shown) {
    if (panelListChanged(current, shown)) {
        shown = current;
        return true;
    }
    // Same composition: fresh records and state at the positions of the last layout.
    for (int g = 0; g < kPanelGroups; ++g) {
        PanelGroup& target = shown.groups[g];
        const PanelEntry host = target.host;
        PanelEntry gpus[kGpuSlots];
        std::memcpy(gpus, target.gpus, sizeof gpus);
        target = current.groups[g];
        target.host.x = host.x;
        target.host.y = host.y;
        for (int k = 0; k < kGpuSlots; ++k) {
            target.gpus[k].x = gpus[k].x;
            target.gpus[k].y = gpus[k].y;
        }
    }
    return false;
}

}  // namespace tarvelon
