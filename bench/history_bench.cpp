// The archives' cost: an hour of seconds for 17 tiles (this PC and a server, each a host and 8 GPUs
// but one), handed over as the panel does and written every 5 seconds, in CPU time of the whole
// process (the writing thread's included), and the disk each tile takes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "history/archive_layout.h"
#include "history/archive_worker.h"
#include "history/tile_archive.h"
#include "platform/files.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr int kTiles = 17;

void BM_ArchiveHourOf17Tiles(benchmark::State& bench) {
    char pattern[] = "/tmp/tarvelon-history-bench-XXXXXX";
    const std::string root = mkdtemp(pattern);
    const std::u16string folder = fromUtf8(root);
    TileKey keys[kTiles];
    for (int t = 0; t < kTiles; ++t) setTileKey(keys[t], t < 9 ? u"" : u"gpu-box", t < 9 ? 0 : 7000, t % 9 - 1);
    int64_t second = 1'765'000'000;
    for (auto _ : bench) {
        ArchiveWorker worker(folder);
        for (int flush = 0; flush < 3600 / kArchiveFlushSeconds; ++flush) {
            for (int s = 0; s < kArchiveFlushSeconds; ++s, ++second) {
                for (int t = 0; t < kTiles; ++t) {
                    const HistoryFigures figures{static_cast<uint32_t>(second % 100), 1500, 6000, 4096, 1472, 65, 60};
                    worker.record(keys[t], second, figures);
                }
            }
            worker.flush();
        }
    }
    int64_t total = 0;
    for (const TileKey& key : keys) total += fileSize((folder + u"/" + archiveName(key)).c_str());
    bench.counters["disk_bytes_per_tile"] = static_cast<double>(total) / kTiles;
    bench.counters["budget_bytes_per_tile"] = 1 << 20;
    std::system(("rm -rf " + root).c_str());
}
BENCHMARK(BM_ArchiveHourOf17Tiles)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace tarvelon

BENCHMARK_MAIN();
