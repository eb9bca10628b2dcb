#include "history/archive_layout.h"

#include <cstring>

namespace tarvelon {
namespace {

constexpr char kMagic[8] = {'T', 'V', 'H', 'I', 'S', 'T', 0, 1};
constexpr uint32_t kLayoutVersion = 1;
constexpr uint16_t kCheckSeed = 0xA5A5;  // an all-zero slot, never written, fails its check

bool isWide(int figure) {
    return figure == 4 || figure == 5;
}

void put16(uint8_t* at, uint16_t value) {
    std::memcpy(at, &value, 2);
}
void put32(uint8_t* at, uint32_t value) {
    std::memcpy(at, &value, 4);
}
uint16_t get16(const uint8_t* at) {
    uint16_t value;
    std::memcpy(&value, at, 2);
    return value;
}
uint32_t get32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

// Fletcher's sum over the slot but its last two bytes, which hold it.
uint16_t check(const uint8_t* slot, int32_t bytes) {
    uint32_t a = 0;
    uint32_t b = 0;
    for (int32_t i = 0; i < bytes - 2; ++i) {
        a = (a + slot[i]) % 255;
        b = (b + a) % 255;
    }
    return static_cast<uint16_t>((b << 8 | a) ^ kCheckSeed);
}

void seal(uint8_t* slot, int32_t bytes) {
    put16(slot + bytes - 2, check(slot, bytes));
}

uint16_t compact(uint32_t value) {
    if (value < 0x8000) return static_cast<uint16_t>(value);
    const uint32_t steps = value >> 6;
    return static_cast<uint16_t>(0x8000 | (steps > 0x7FFF ? 0x7FFF : steps));
}

uint32_t expand(uint16_t code) {
    return (code & 0x8000) != 0 ? uint32_t{code & 0x7FFFu} << 6 : code;
}

}  // namespace

int32_t tierSlotBytes(HistoryTier tier) {
    return tier == HistoryTier::seconds ? kSecondSlotBytes : kPeriodSlotBytes;
}

int64_t tierOffset(HistoryTier tier) {
    int64_t offset = kArchiveHeaderBytes;
    for (int t = 0; t < static_cast<int>(tier); ++t) {
        offset += int64_t{kTierPeriods[t]} * tierSlotBytes(static_cast<HistoryTier>(t));
    }
    return offset;
}

int64_t archiveBytes() {
    return tierOffset(HistoryTier::hours) + int64_t{kTierPeriods[2]} * kPeriodSlotBytes;
}

int64_t periodStart(HistoryTier tier, int64_t second) {
    const int64_t period = kTierPeriodSeconds[static_cast<int>(tier)];
    const int64_t rest = second % period;
    return second - (rest < 0 ? rest + period : rest);
}

int64_t slotOffset(HistoryTier tier, int64_t second) {
    const int t = static_cast<int>(tier);
    int64_t index = (periodStart(tier, second) / kTierPeriodSeconds[t]) % kTierPeriods[t];
    if (index < 0) index += kTierPeriods[t];
    return tierOffset(tier) + index * tierSlotBytes(tier);
}

void archiveHeader(uint8_t (&header)[kArchiveHeaderBytes]) {
    std::memset(header, 0, sizeof header);
    std::memcpy(header, kMagic, sizeof kMagic);
    uint32_t fields[] = {kLayoutVersion,        kArchiveHeaderBytes, kSecondSlotBytes, kPeriodSlotBytes,
                         kHistoryFigures,       kTierPeriods[0],     kTierPeriods[1],  kTierPeriods[2],
                         static_cast<uint32_t>(archiveBytes())};
    std::memcpy(header + sizeof kMagic, fields, sizeof fields);
}

void encodeSecond(int64_t second, const HistoryFigures& figures, uint8_t* slot) {
    put32(slot, static_cast<uint32_t>(second));
    for (int f = 0; f < kHistoryFigures; ++f) {
        const uint32_t value = figures[f];
        if (isWide(f)) {
            put16(slot + 4 + 2 * f, static_cast<uint16_t>(value));
            put16(slot + 18 + 2 * (f - 4), static_cast<uint16_t>(value >> 16));
        } else {
            put16(slot + 4 + 2 * f, static_cast<uint16_t>(value > 0xFFFF ? 0xFFFF : value));
        }
    }
    seal(slot, kSecondSlotBytes);
}

void encodePeriod(const PeriodFigures& period, uint8_t* slot) {
    put32(slot, static_cast<uint32_t>(period.start));
    put16(slot + 4, static_cast<uint16_t>(period.seconds));
    for (int f = 0; f < kHistoryFigures; ++f) {
        put16(slot + 6 + 6 * f, compact(period.minimum[f]));
        put16(slot + 8 + 6 * f, compact(period.average[f]));
        put16(slot + 10 + 6 * f, compact(period.maximum[f]));
    }
    seal(slot, kPeriodSlotBytes);
}

bool decodeSlot(HistoryTier tier, const uint8_t* slot, int64_t start, PeriodFigures& period) {
    const int32_t bytes = tierSlotBytes(tier);
    period = PeriodFigures{};
    period.start = start;
    if (get32(slot) != static_cast<uint32_t>(start) || get16(slot + bytes - 2) != check(slot, bytes)) return false;
    if (tier == HistoryTier::seconds) {
        period.seconds = 1;
        for (int f = 0; f < kHistoryFigures; ++f) {
            uint32_t value = get16(slot + 4 + 2 * f);
            if (isWide(f)) value |= uint32_t{get16(slot + 18 + 2 * (f - 4))} << 16;
            period.minimum[f] = period.average[f] = period.maximum[f] = value;
        }
        return true;
    }
    period.seconds = get16(slot + 4);
    for (int f = 0; f < kHistoryFigures; ++f) {
        period.minimum[f] = expand(get16(slot + 6 + 6 * f));
        period.average[f] = expand(get16(slot + 8 + 6 * f));
        period.maximum[f] = expand(get16(slot + 10 + 6 * f));
    }
    return period.seconds > 0;
}

bool secondOfSlot(const uint8_t* slot, int64_t* second) {
    if (get16(slot + kSecondSlotBytes - 2) != check(slot, kSecondSlotBytes)) return false;
    *second = get32(slot);
    return true;
}

void clearPeriodSum(PeriodSum& sum) {
    sum = PeriodSum{};
}

void addPeriod(PeriodSum& sum, const PeriodFigures& period) {
    if (period.seconds <= 0) return;
    for (int f = 0; f < kHistoryFigures; ++f) {
        if (sum.seconds == 0 || period.minimum[f] < sum.minimum[f]) sum.minimum[f] = period.minimum[f];
        if (sum.seconds == 0 || period.maximum[f] > sum.maximum[f]) sum.maximum[f] = period.maximum[f];
        sum.total[f] += uint64_t{period.average[f]} * static_cast<uint32_t>(period.seconds);
    }
    sum.seconds += period.seconds;
}

PeriodFigures finishPeriod(const PeriodSum& sum, int64_t start) {
    PeriodFigures period{};
    period.start = start;
    period.seconds = sum.seconds;
    if (sum.seconds == 0) return period;
    const auto seconds = static_cast<uint64_t>(sum.seconds);
    for (int f = 0; f < kHistoryFigures; ++f) {
        period.minimum[f] = sum.minimum[f];
        period.maximum[f] = sum.maximum[f];
        period.average[f] = static_cast<uint32_t>((sum.total[f] + seconds / 2) / seconds);
    }
    return period;
}

}  // namespace tarvelon
