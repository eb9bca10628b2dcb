// --export-history against a scratch history folder: which tier each span reads, the columns of
// each, and the outcomes for an unknown tile, a bad span and a file that cannot be written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "history/history_export.h"
#include "history/tile_archive.h"
#include "platform/files.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr int64_t kNow = 1'765'000'019;  // the last second of a minute

class HistoryExport : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvelon-export-XXXXXX";
        root = mkdtemp(pattern);
        folder = fromUtf8(root);
        TileKey key;
        for (int32_t gpu : {-1, 0x0100}) {
            setTileKey(key, u"", 0, gpu);
            PlacedFile* file = openArchive(folder, key, kNow);
            ASSERT_NE(file, nullptr);
            // Seconds 0, 2 and 4 before now, and one 90 seconds before (in the minute before the last).
            for (int64_t back : {0, 2, 4, 90}) {
                const int64_t second = kNow - back;
                const HistoryFigures figures{static_cast<uint32_t>(back), 1, 2, 3, 4, 5, 6};
                writeSeconds(file, &second, &figures, 1);
                rebuildPeriods(file, &second, 1);
            }
            closePlacedFile(file);
        }
        const std::string index = tileIndexLine(u"local", u"local.tvh") + tileIndexLine(u"local/gpu0", u"local-gpu-0100.tvh");
        replaceFile((folder + u"/" + kTileIndexName).c_str(), index.data(), index.size());
    }
    void TearDown() override { std::system(("rm -rf " + root).c_str()); }

    std::string root;
    std::u16string folder;
};

TEST_F(HistoryExport, EachSpanReadsItsTierWithItsColumns) {
    struct Case {
        const char16_t* tile;
        const char16_t* minutes;
        ExportOutcome outcome;
        const char* header;  // its start
        int rows;
        const char* lastRow;  // after its time
    };
    const Case cases[] = {
        {u"local", u"1", ExportOutcome::written, "time,cpu_load_pct,cpu_mhz,", 3, ",0,1,2,3,4,5,6"},
        {u"local/gpu0", u"60", ExportOutcome::written, "time,gpu0_load_pct,gpu0_core_mhz,", 4, ",0,1,2,3,4,5,6"},
        {u"local", u"61", ExportOutcome::written, "time,cpu_load_pct_min,cpu_load_pct_avg,cpu_load_pct_max,cpu_mhz_min,",
         2, ",0,2,4,1,1,1,2,2,2,3,3,3,4,4,4,5,5,5,6,6,6"},
        {u"local/gpu0", u"10081", ExportOutcome::written, "time,gpu0_load_pct_min,gpu0_load_pct_avg,gpu0_load_pct_max,",
         1, ",0,24,90,"},
        {u"local/gpu1", u"1", ExportOutcome::unknownTile, "", 0, ""},
        {u"gpu-box:7000", u"1", ExportOutcome::unknownTile, "", 0, ""},
        {u"local", u"0", ExportOutcome::badSpan, "", 0, ""},
        {u"local", u"527041", ExportOutcome::badSpan, "", 0, ""},
        {u"local", u"5m", ExportOutcome::badSpan, "", 0, ""},
    };
    for (const Case& c : cases) {
        const std::string path = root + "/out.csv";
        std::remove(path.c_str());
        EXPECT_EQ(exportHistory(folder, c.tile, c.minutes, fromUtf8(path), kNow), c.outcome) << toUtf8(c.minutes);
        if (c.outcome != ExportOutcome::written) continue;
        std::ifstream file(path, std::ios::binary);
        std::string header;
        std::getline(file, header);
        EXPECT_EQ(header.rfind(c.header, 0), 0u) << header;
        int rows = 0;
        std::string row;
        std::string last;
        while (std::getline(file, row)) {
            ++rows;
            last = row;
        }
        EXPECT_EQ(rows, c.rows) << toUtf8(c.minutes);
        EXPECT_NE(last.find(c.lastRow, 19), std::string::npos) << last;  // after "YYYY-MM-DD HH:MM:SS"
    }
    EXPECT_EQ(exportHistory(folder, u"local", u"1", folder + u"/missing/out.csv", kNow), ExportOutcome::cannotWrite);
}

// The GPU's position comes from the tile's last "/gpuN" alone: a host may hold "/gpu" in its name.
TEST(HistoryExportTile, AHostNamedWithGpuInItIsAHostTile) {
    const std::string index = tileIndexLine(u"rack/gpux:8221", u"rack_002Fgpux-8221.tvh") +
                              tileIndexLine(u"rack/gpu2:8221", u"rack_002Fgpu2-8221.tvh") +
                              tileIndexLine(u"rack/gpu2:8221/gpu1", u"rack_002Fgpu2-8221-gpu-0200.tvh");
    const std::pair<const char16_t*, int32_t> cases[] = {
        {u"rack/gpux:8221", -1}, {u"rack/gpu2:8221", -1}, {u"rack/gpu2:8221/gpu1", 1}};
    for (const auto& [tile, gpu] : cases) {
        ExportTile found{};
        ASSERT_TRUE(findExportTile(tile, index, &found)) << toUtf8(tile);
        EXPECT_EQ(found.gpu, gpu) << toUtf8(tile);
    }
}

}  // namespace
}  // namespace tarvelon
