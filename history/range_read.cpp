#include "history/range_read.h"

#include <cstddef>

namespace tarvelon {

const PeriodRun& readShownRange(RangeRead& read, const char16_t* folder, const TileKey& key,
                                const HistoryRing* ring, const PlotRange& range, int64_t newest) {
    const HistoryTier tier = plotTier(range, newest);
    const int32_t count = periodsCovering(range, tier);
    const int64_t stamp = tier == HistoryTier::seconds ? newest : newest / 60;
    const PeriodRun wanted = periodsFor(range, tier, nullptr);
    if (read.done && sameTile(read.key, key) && tier == read.tier && wanted.start == read.run.start &&
        count == read.run.count && stamp == read.stamp) {
        return read.run;
    }
    read.periods.assign(static_cast<size_t>(count), PeriodFigures{});
    readTileRange(folder, key, tier, range.first, count, read.periods.data());
    if (tier == HistoryTier::seconds && ring != nullptr) takeRingSeconds(*ring, read.periods.data(), count, wanted.start);
    read.run = {read.periods.data(), count, wanted.start, wanted.periodSeconds};
    read.done = true;
    read.key = key;
    read.tier = tier;
    read.stamp = stamp;
    return read.run;
}

}  // namespace tarvelon
