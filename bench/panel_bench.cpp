// The panel's work on an unchanged tick with every group in use (the local machine and 64 servers,
// 16 GPUs each): rebuilding the list, the change test, and drawing the values, onto a recording
// surface and onto one that draws nothing (the list and formatting work alone). Beside it, the
// history: recording every tile's second (its drawing is in history_draw_bench.cpp).
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/null_surface.h"
#include "history/history_tiles.h"
#include "net/slot_table.h"
#include "panel/history_feed.h"
#include "panel/panel.h"
#include "panel/recording_surface.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"

namespace tarvelon {
namespace {

// Fills every group and lays it out once, as the window would have done before the ticks.
std::unique_ptr<PanelState> fullWorld(Surface& surface) {
    clearSettings();
    setDefaultSettings(1920, 1080);
    settings.fontsize = 8;
    clearSlotTable();
    LocalStore local{};
    for (GpuRecord& gpu : local.gpus) gpu.present = 1;
    publishLocalStore(local);
    for (int s = 0; s < kServerSlots; ++s) {
        ServerSlot& slot = slotTable[s];
        slot.Active = 1;
        slot.Enabled = 1;
        slot.Status = kStatusOk;
        slot.State = kStateStarted;
        updateSlotRecords(slot, [&](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
            host.hostName[0] = u'a' + s % 26;
            host.physFreeMb = 123456;
            for (GpuRecord& gpu : gpus) gpu.present = 1;
        });
    }
    auto state = std::make_unique<PanelState>();
    fullPass(*state, surface);
    return state;
}

void BM_BuildPanelList(benchmark::State& bench) {
    NullSurface surface;
    auto state = fullWorld(surface);
    for (auto _ : bench) {
        buildPanelList(state->current);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildPanelList);

void BM_ChangeTest(benchmark::State& bench) {
    NullSurface surface;
    auto state = fullWorld(surface);
    buildPanelList(state->current);
    for (auto _ : bench) benchmark::DoNotOptimize(takePanelList(state->current, state->shown));
}
BENCHMARK(BM_ChangeTest);

void BM_DrawValuesNull(benchmark::State& bench) {
    NullSurface surface;
    auto state = fullWorld(surface);
    for (auto _ : bench) drawPanelValues(state->shown, state->metrics, surface);
}
BENCHMARK(BM_DrawValuesNull);

void BM_DrawValuesRecording(benchmark::State& bench) {
    RecordingSurface surface;
    auto state = fullWorld(surface);
    for (auto _ : bench) {
        surface.clearRecords();
        drawPanelValues(state->shown, state->metrics, surface);
    }
}
BENCHMARK(BM_DrawValuesRecording);

// The whole unchanged tick as the timer runs it.
void BM_UnchangedTick(benchmark::State& bench) {
    NullSurface surface;
    auto state = fullWorld(surface);
    for (auto _ : bench) tickPass(*state, surface);
}
BENCHMARK(BM_UnchangedTick);

// Every tile shown, one second each, with the local machine and range(0) servers of 16 GPUs (64: all
// 1105 tiles); the rings exist from the first tick on.
void BM_RecordAllTiles(benchmark::State& bench) {
    NullSurface surface;
    auto state = fullWorld(surface);
    for (int s = static_cast<int>(bench.range(0)); s < kServerSlots; ++s) slotTable[s].Active = 0;
    buildPanelList(state->current);
    takePanelList(state->current, state->shown);
    auto tiles = std::make_unique<HistoryTiles>();
    int64_t second = 1;
    recordShownTiles(*tiles, state->shown, second, nullptr);
    for (auto _ : bench) recordShownTiles(*tiles, state->shown, ++second, nullptr);
    freeTiles(*tiles);
}
BENCHMARK(BM_RecordAllTiles)->Arg(0)->Arg(4)->Arg(16)->Arg(64);

}  // namespace
}  // namespace tarvelon

BENCHMARK_MAIN();
