#include "panel/panel_list.h"

#include "net/slot_table.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"

namespace tarvelon {
namespace {

// Field by field into the list: an entry built aside and copied in whole is read back before its
// bytes have settled, which stalls the copy of every panel.
void setEntry(PanelEntry& entry, uint8_t changed, int32_t enabled, int32_t status) {
    entry.present = 1;
    entry.x = 0;
    entry.y = 0;
    entry.changed = changed;
    entry.enabled = enabled;
    entry.status = status;
}

void fillGroup(PanelGroup& group, int32_t source, const HostRecord& host, const GpuRecord (&gpus)[kGpuSlots],
               int32_t enabled, int32_t status) {
    group.source = source;
    setEntry(group.host, host.changed, enabled, status);
    group.hostRecord = host;
    int packed = 0;
    for (const GpuRecord& gpu : gpus) {
        if (gpu.present == 0) continue;
        setEntry(group.gpus[packed], gpu.changed, enabled, status);
        group.gpuRecords[packed] = gpu;
        ++packed;
    }
    // The records of absent panels are never read (see clearGroup).
    for (; packed < kGpuSlots; ++packed) group.gpus[packed] = PanelEntry{};
}

// An empty group. Only its entries are read (never the records of an absent panel), so only they are
// cleared: with few servers shown, zeroing the records of every empty group was most of the build.
void clearGroup(PanelGroup& group) {
    group.source = 0;
    group.host = PanelEntry{};
    for (PanelEntry& gpu : group.gpus) gpu = PanelEntry{};
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
        PanelGroup& group = current.groups[(*next)++];
        takeSlotRecords(slot, [&](const HostRecord& host, const GpuRecord(&gpus)[kGpuSlots]) {
            fillGroup(group, i, host, gpus, enabled, status);
        });
    }
}

}  // namespace

void buildPanelList(PanelList& current) {
    const LocalStore local = takeLocalStore();
    fillGroup(current.groups[0], kLocalSource, local.host, local.gpus, 1, kStatusOk);
    int next = 1;
    fillServerGroups(current, &next);
    for (int g = next; g < kPanelGroups; ++g) clearGroup(current.groups[g]);
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
    // Same composition, so the entries already agree but for their positions (every change flag is
    // clear, or the test would have fired), and the records of absent panels are never read: only
    // the shown panels' records and sources are fresh.
    for (int g = 0; g < kPanelGroups; ++g) {
        const PanelGroup& source = current.groups[g];
        if (g != 0 && source.host.present == 0) break;  // groups are packed
        PanelGroup& target = shown.groups[g];
        target.source = source.source;
        target.hostRecord = source.hostRecord;
        for (int k = 0; k < kGpuSlots && source.gpus[k].present != 0; ++k) {
            target.gpuRecords[k] = source.gpuRecords[k];
        }
    }
    return false;
}

}  // namespace tarvelon
