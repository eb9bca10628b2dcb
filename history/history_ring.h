// The last hour of one tile: its seven figures, one sample a second, in a fixed ring that never grows.
// Seconds without a value are gaps, which read back as "no value" rather than as zeros.
#pragma once

#include <cstdint>

namespace tarvelon {

constexpr int kHistoryFigures = 7;
constexpr int kHistorySeconds = 3600;

// Figures 4 and 5 keep 32 bits (the host's free memory in MB can pass 65535); the rest keep 16,
// which every other figure fits. All ones stands for a gap, so the largest value of each width is
// kept one less.
struct HistorySample {
    uint16_t low[kHistoryFigures];
    uint16_t high[2];  // of figures 4 and 5
};

struct HistoryRing {
    int64_t newest;  // the second of the newest sample; kNoHistory before the first
    HistorySample samples[kHistorySeconds];
};
static_assert(sizeof(HistoryRing) <= 64 * 1024, "a tile's history must stay within 64 KB");

constexpr int64_t kNoHistory = INT64_MIN;

using HistoryFigures = uint32_t[kHistoryFigures];

// All gaps.
void clearHistory(HistoryRing& ring);
// Stores the figures as the sample of second, and gaps for any seconds skipped since the newest. A
// second older than the newest (the clock was set back) becomes the newest: the seconds after it
// become gaps, so that the hour before it never shows what was recorded ahead of it.
void recordHistory(HistoryRing& ring, int64_t second, const HistoryFigures& figures);
// A gap for second.
void recordHistoryGap(HistoryRing& ring, int64_t second);

// The value of figure at second; false for a gap or a second outside the hour the ring holds.
bool historyValue(const HistoryRing& ring, int64_t second, int figure, uint32_t* value);

struct HistoryStats {
    int32_t count;  // seconds with a value; the rest is meaningless when 0
    uint32_t minimum;
    uint32_t maximum;
    uint32_t average;  // rounded to the nearest integer
};

// Over the spanSeconds seconds that end with end (inclusive).
HistoryStats historyStats(const HistoryRing& ring, int figure, int64_t end, int32_t spanSeconds);

}  // namespace tarvelon
