#include "history/history_ring.h"

#include <cstring>

namespace tarvelon {
namespace {

constexpr uint16_t kGapWord = 0xFFFF;

bool isWide(int figure) {
    return figure == 4 || figure == 5;
}

int slotOf(int64_t second) {
    const int64_t slot = second % kHistorySeconds;
    return static_cast<int>(slot < 0 ? slot + kHistorySeconds : slot);
}

void setGap(HistorySample& sample) {
    std::memset(&sample, 0xFF, sizeof sample);
}

// Gaps for the seconds after the newest up to and excluding second, which becomes the newest; after
// a step back, gaps for the seconds from second on that were recorded ahead of it.
void advanceTo(HistoryRing& ring, int64_t second) {
    if (ring.newest != kNoHistory && second < ring.newest) {
        const int64_t ahead = ring.newest - second < kHistorySeconds ? ring.newest - second : kHistorySeconds;
        for (int64_t s = 1; s <= ahead; ++s) setGap(ring.samples[slotOf(second + s)]);
    } else if (ring.newest != kNoHistory) {
        const int64_t skipped = second - ring.newest - 1;
        const int64_t gaps = skipped < kHistorySeconds ? skipped : kHistorySeconds;
        for (int64_t s = 1; s <= gaps; ++s) setGap(ring.samples[slotOf(ring.newest + s)]);
    }
    ring.newest = second;
}

}  // namespace

void clearHistory(HistoryRing& ring) {
    ring.newest = kNoHistory;
    for (HistorySample& sample : ring.samples) setGap(sample);
}

void recordHistory(HistoryRing& ring, int64_t second, const HistoryFigures& figures) {
    advanceTo(ring, second);
    HistorySample& sample = ring.samples[slotOf(second)];
    for (int f = 0; f < kHistoryFigures; ++f) {
        const uint32_t value = figures[f];
        if (isWide(f)) {
            const uint32_t kept = value == 0xFFFFFFFFu ? value - 1 : value;
            sample.low[f] = static_cast<uint16_t>(kept);
            sample.high[f - 4] = static_cast<uint16_t>(kept >> 16);
        } else {
            sample.low[f] = static_cast<uint16_t>(value >= kGapWord ? kGapWord - 1 : value);
        }
    }
}

void recordHistoryGap(HistoryRing& ring, int64_t second) {
    advanceTo(ring, second);
    setGap(ring.samples[slotOf(second)]);
}

bool historyValue(const HistoryRing& ring, int64_t second, int figure, uint32_t* value) {
    if (ring.newest == kNoHistory || second > ring.newest || second <= ring.newest - kHistorySeconds) return false;
    const HistorySample& sample = ring.samples[slotOf(second)];
    const uint16_t low = sample.low[figure];
    if (!isWide(figure)) {
        if (low == kGapWord) return false;
        *value = low;
        return true;
    }
    const uint16_t high = sample.high[figure - 4];
    if (low == kGapWord && high == kGapWord) return false;
    *value = uint32_t{high} << 16 | low;
    return true;
}

HistoryStats historyStats(const HistoryRing& ring, int figure, int64_t end, int32_t spanSeconds) {
    HistoryStats stats{0, 0, 0, 0};
    uint64_t sum = 0;
    for (int64_t second = end - spanSeconds + 1; second <= end; ++second) {
        uint32_t value = 0;
        if (!historyValue(ring, second, figure, &value)) continue;
        if (stats.count == 0 || value < stats.minimum) stats.minimum = value;
        if (stats.count == 0 || value > stats.maximum) stats.maximum = value;
        sum += value;
        ++stats.count;
    }
    if (stats.count != 0) stats.average = static_cast<uint32_t>((sum + stats.count / 2) / stats.count);
    return stats;
}

}  // namespace tarvelon
