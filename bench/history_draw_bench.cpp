// Drawing a GPU tile's history in a 480 x 640 window with the alarm line: the 60-minute span from
// the seconds, and the year span from the hours (8761 periods into some 400 columns), with and
// without the readout under the mouse; and reading the year's hours from an archive file. The goal:
// reading and drawing the year within 20 ms.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "history/tile_archive.h"
#include "panel/history_draw.h"
#include "panel/recording_surface.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr int64_t kNewest = 1800000000;

void drawSpan(benchmark::State& bench, int32_t span, HistoryTier tier, int32_t hoverX) {
    const PlotRange range = plotRange(spanView(span), kNewest);
    const int32_t count = periodsCovering(range, tier);
    std::vector<PeriodFigures> periods(static_cast<size_t>(count));
    const PeriodRun run = periodsFor(range, tier, periods.data());
    for (int32_t i = 0; i < count; ++i) {
        PeriodFigures& period = periods[static_cast<size_t>(i)];
        period.start = run.start + int64_t{i} * run.periodSeconds;
        period.seconds = i % 500 == 7 ? 0 : run.periodSeconds;  // a gap now and then
        const uint32_t wave = static_cast<uint32_t>(i % 97);
        const uint32_t figures[kHistoryFigures] = {wave, 1500 + wave,   6000, 4000 + wave * 10,
                                                   1500, 50 + wave / 3, 70};
        for (int f = 0; f < kHistoryFigures; ++f) {
            period.minimum[f] = figures[f] / 2;
            period.average[f] = figures[f];
            period.maximum[f] = figures[f] + figures[f] / 4;
        }
    }
    RecordingSurface surface({0, 0, 480, 640});
    const HistoryView view{&run, nullptr, true, range, kNewest, 75, 12, {0, 30, 480, 640}, hoverX, -1};
    for (auto _ : bench) {
        surface.clearRecords();
        drawHistory(view, surface);
    }
}

void BM_DrawHistoryHour(benchmark::State& bench) {
    drawSpan(bench, 3, HistoryTier::seconds, -1);
}
BENCHMARK(BM_DrawHistoryHour)->Unit(benchmark::kMillisecond);

void BM_DrawHistoryYear(benchmark::State& bench) {
    drawSpan(bench, 8, HistoryTier::hours, static_cast<int32_t>(bench.range(0)));
}
BENCHMARK(BM_DrawHistoryYear)->Arg(-1)->Arg(200)->Unit(benchmark::kMillisecond);

// Every slot of the hour tier is read and checked, recorded or not: an empty archive costs the same.
void BM_ReadHistoryYear(benchmark::State& bench) {
    char folder[] = "/tmp/tarvelon-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return bench.SkipWithError("no temporary folder");
    TileKey key;
    setTileKey(key, u"", 0, pciKey(1, 0, 0));
    const std::u16string path = fromUtf8(folder);
    closePlacedFile(openArchive(path, key, kNewest));
    const PlotRange range = plotRange(spanView(8), kNewest);
    std::vector<PeriodFigures> periods(static_cast<size_t>(periodsCovering(range, HistoryTier::hours)));
    for (auto _ : bench) {
        readTileRange(path.c_str(), key, HistoryTier::hours, range.first,
                      static_cast<int32_t>(periods.size()), periods.data());
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ReadHistoryYear)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvelon

BENCHMARK_MAIN();
