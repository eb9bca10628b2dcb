// The panel built and drawn from any local records, any server slots in any state and any font
// size, layout and filters, over a run of full and tick passes with changes in between. Whatever the
// input, the window stays within what GDI coordinates hold, every fill and every text lies inside
// it, and in the two real layouts no two panels share a cell.
//
// Input: fontsize (i32), layout (i32), filters (u8), slotTableCommand (u8), the window's left, top,
// width and height (u16 each), local GPU mask (u16), local change flag (u8), slot count (u8) and per
// slot {index, Active, State, Status, Enabled (u8 each), GPU mask (u16), change flag (u8)}, pass
// count (u8) and per pass {op (u8), argument (i32)}; then the bytes of the records in that order.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "net/slot_table.h"
#include "panel/panel.h"
#include "panel/recording_surface.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"

using namespace tarvelon;

namespace {

constexpr int kMaxPasses = 8;

struct SlotPlan {
    int index;
    uint16_t gpuMask;
    uint8_t changed;
};

void readGpus(FuzzInput& input, uint16_t mask, GpuRecord (&gpus)[kGpuSlots]) {
    for (int k = 0; k < kGpuSlots; ++k) {
        gpus[k] = GpuRecord{};
        if ((mask >> k & 1) == 0) continue;
        input.bytes(&gpus[k], sizeof gpus[k]);
        if (gpus[k].present == 0) gpus[k].present = 1;
    }
}

void applyChange(uint8_t op, int32_t argument) {
    ServerSlot& slot = slotTable[static_cast<uint32_t>(argument) % kServerSlots];
    switch (op >> 1 & 7) {
        case 1:
            settings.fontsize.store(argument);
            break;
        case 2:
            settings.layout.store(argument);
            break;
        case 3:
            settings.removeDeadServer.store(argument & 1);
            settings.removeDeactivatedServer.store(argument >> 1 & 1);
            break;
        case 4:
            slotTableCommand.store(argument & 3);
            break;
        case 5:
            slot.Status.store(static_cast<int8_t>(argument >> 8));
            break;
        case 6:
            slot.Enabled.store(argument >> 8 & 1);
            break;
        case 7:
            slot.Active.store(argument >> 8 & 1);
            markLocalStoreChanged(static_cast<uint8_t>(argument >> 16));
            break;
        default:
            break;
    }
}

bool inside(int32_t value, int32_t limit) {
    return value >= 0 && value <= limit;
}

void checkPicture(const RecordingSurface& surface, const PanelState& state, int32_t width, int32_t height) {
    const PanelMetrics& m = state.metrics;
    FUZZ_CHECK(m.lineHeight >= 1);
    FUZZ_CHECK(width == m.windowWidth && height == m.windowHeight);
    FUZZ_CHECK(width >= 1 && width <= kMaxWindowExtent && height >= 1 && height <= kMaxWindowExtent);
    for (int32_t lineHeight : surface.fontHeights) FUZZ_CHECK(lineHeight == m.lineHeight);
    for (const RecordedFill& fill : surface.fills) {
        const PixelRect& r = fill.rect;
        FUZZ_CHECK(r.left <= r.right && r.top <= r.bottom);
        FUZZ_CHECK(inside(r.left, width) && inside(r.right, width));
        FUZZ_CHECK(inside(r.top, height) && inside(r.bottom, height));
    }
    for (const RecordedText& text : surface.texts) {
        // At line height 1 the last host row starts on the bottom edge itself.
        FUZZ_CHECK(inside(text.x, width) && inside(text.y, height));
    }
}

// In layouts 1 and 2 every panel has a grid cell of its own.
void checkCells(const PanelState& state, int32_t layout) {
    if (layout != 1 && layout != 2) return;
    const PanelMetrics& m = state.metrics;
    std::vector<std::pair<int32_t, int32_t>> cells;
    auto add = [&](const PanelEntry& entry) {
        FUZZ_CHECK(entry.x % m.panelWidth == 0 && entry.y % m.panelHeight == 0);
        cells.emplace_back(entry.x, entry.y);
    };
    for (int g = 0; g < kPanelGroups; ++g) {
        const PanelGroup& group = state.shown.groups[g];
        if (g != 0 && group.host.present == 0) continue;
        add(group.host);
        for (const PanelEntry& gpu : group.gpus) {
            if (gpu.present != 0) add(gpu);
        }
    }
    std::sort(cells.begin(), cells.end());
    FUZZ_CHECK(std::adjacent_find(cells.begin(), cells.end()) == cells.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static PanelState* const state = new PanelState;
    std::memset(state, 0, sizeof *state);
    clearLocalStore();
    clearSlotTable();
    clearSettings();
    setDefaultSettings(1920, 1080);

    FuzzInput input(data, size);
    settings.fontsize.store(input.i32());
    settings.layout.store(input.i32());
    const uint8_t filters = input.u8();
    settings.removeDeadServer.store(filters & 1);
    settings.removeDeactivatedServer.store(filters >> 1 & 1);
    slotTableCommand.store(input.u8() & 3);
    const int32_t left = static_cast<int16_t>(input.u16());
    const int32_t top = static_cast<int16_t>(input.u16());
    const int32_t width = input.u16();
    const int32_t height = input.u16();
    RecordingSurface surface({left, top, left + width, top + height});

    const uint16_t localGpuMask = input.u16();
    const uint8_t localChanged = input.u8();
    std::vector<SlotPlan> plans(input.u8() % (kServerSlots + 1));
    for (SlotPlan& plan : plans) {
        plan.index = input.u8() % kServerSlots;
        ServerSlot& slot = slotTable[plan.index];
        slot.Active.store(input.u8());
        slot.State.store(input.u8() % 9);
        slot.Status.store(static_cast<int8_t>(input.u8()));
        slot.Enabled.store(input.u8());
        plan.gpuMask = input.u16();
        plan.changed = input.u8();
    }
    std::vector<std::pair<uint8_t, int32_t>> passes(input.u8() % (kMaxPasses + 1));
    for (auto& pass : passes) {
        pass.first = input.u8();
        pass.second = input.i32();
    }

    LocalStore local;
    input.bytes(&local.host, sizeof local.host);
    readGpus(input, localGpuMask, local.gpus);
    publishLocalStore(local);
    markLocalStoreChanged(localChanged);
    for (const SlotPlan& plan : plans) {
        updateSlotRecords(slotTable[plan.index], [&](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
            input.bytes(&host, sizeof host);
            host.changed = plan.changed;
            readGpus(input, plan.gpuMask, gpus);
        });
    }

    // The first pass is always a full one, as the window's first paint.
    fullPass(*state, surface);
    checkPicture(surface, *state, surface.clientRect().right, surface.clientRect().bottom);
    checkCells(*state, settings.layout.load());
    for (const auto& [op, argument] : passes) {
        applyChange(op, argument);
        surface.clearRecords();
        if ((op & 1) == 0) {
            fullPass(*state, surface);
        } else {
            tickPass(*state, surface);
        }
        checkPicture(surface, *state, surface.clientRect().right, surface.clientRect().bottom);
        if ((op & 1) == 0) checkCells(*state, settings.layout.load());
    }
    return 0;
}
