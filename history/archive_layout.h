// The bytes of a tile's archive file, which never grows: a header naming the layout, then the three
// tiers as rings of fixed-size slots, each found by arithmetic on its period's start. Every slot
// carries that start and a check word, so a slot of another period (overwritten, never written) or a
// torn one reads as a gap. Tiers above seconds keep each figure's minimum, average and maximum in 16
// bits: exact below 32768, in steps of 64 above (free memory in MB past 32 GB).
#pragma once

#include <cstdint>

#include "history/history_read.h"

namespace tarvelon {

constexpr int32_t kArchiveHeaderBytes = 64;
constexpr int32_t kSecondSlotBytes = 24;
constexpr int32_t kPeriodSlotBytes = 50;

int32_t tierSlotBytes(HistoryTier tier);
int64_t tierOffset(HistoryTier tier);
int64_t archiveBytes();
// The period of tier that second falls in: its start, and its slot's offset in the file.
int64_t periodStart(HistoryTier tier, int64_t second);
int64_t slotOffset(HistoryTier tier, int64_t second);

// The header every archive of this layout starts with.
void archiveHeader(uint8_t (&header)[kArchiveHeaderBytes]);

// A second's figures into its slot (kSecondSlotBytes).
void encodeSecond(int64_t second, const HistoryFigures& figures, uint8_t* slot);
// A period's figures into its slot (kPeriodSlotBytes).
void encodePeriod(const PeriodFigures& period, uint8_t* slot);
// The slot of tier back into period, whose start is set: false (and period a gap) when the slot holds
// another period or is torn. A second reads as a period of one with minimum, average and maximum equal.
bool decodeSlot(HistoryTier tier, const uint8_t* slot, int64_t start, PeriodFigures& period);

// The second a seconds slot holds; false for a slot never written or torn.
bool secondOfSlot(const uint8_t* slot, int64_t* second);

// Gathers seconds and periods into one larger period: minimum of minima, maximum of maxima and the
// average weighted by seconds.
struct PeriodSum {
    int32_t seconds;
    uint32_t minimum[kHistoryFigures];
    uint32_t maximum[kHistoryFigures];
    uint64_t total[kHistoryFigures];
};
void clearPeriodSum(PeriodSum& sum);
void addPeriod(PeriodSum& sum, const PeriodFigures& period);
PeriodFigures finishPeriod(const PeriodSum& sum, int64_t start);

}  // namespace tarvelon
