// The display list: which panels are shown, built afresh every pass from the local store and the
// shown server slots, and the change test that decides between a full redraw and a values-only one.
//
// The list keeps its own copies of the records, taken under their locks, so drawing never reads a
// record that another thread is writing, and each producer's change flag is consumed exactly once.
#pragma once

#include <cstdint>

#include "telemetry/records.h"

namespace tarvelon {

constexpr int kPanelGroups = 65;  // the local machine and up to 64 servers
constexpr int32_t kLocalSource = -1;

// One panel. Its record lives beside it in the group (hostRecord, or gpuRecords at the same index).
struct PanelEntry {
    uint8_t present;
    int32_t x;        // left edge in client pixels, set by computeLayout
    int32_t y;        // top edge
    uint8_t changed;  // the record's change flag when the list was built
    int32_t enabled;  // 1 for local panels, the slot's Enabled for remote ones
    int32_t status;   // 3 (OK) for local panels, the slot's Status for remote ones
};

// One host: its panel followed by its GPU panels, present ones packed first in record order.
struct PanelGroup {
    int32_t source;  // kLocalSource, or the index of the ServerSlot the records came from
    PanelEntry host;
    PanelEntry gpus[kGpuSlots];
    HostRecord hostRecord;
    GpuRecord gpuRecords[kGpuSlots];
};

// Group 0 is the local machine; shown servers follow packed in slot order; the rest are empty.
struct PanelList {
    PanelGroup groups[kPanelGroups];
};

// Fills current from the local store and the shown slots, consuming their change flags. A slot is
// shown when it is Active and started (State 6), passes both display filters of Settings, and the
// slot table is not being reordered (slotTableCommand 0).
void buildPanelList(PanelList& current);

// True when the composition of the list or a server's state differs, or a record's change flag is set.
bool panelListChanged(const PanelList& current, const PanelList& shown);

// Runs the change test. On a change the whole current list replaces the shown one (positions
// included, so they are 0 until the next layout); otherwise the shown list takes the fresh records
// and keeps its positions. Returns the test result.
bool takePanelList(const PanelList& current, PanelList& shown);

}  // namespace tarvelon
