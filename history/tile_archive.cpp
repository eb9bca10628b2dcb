#include "history/tile_archive.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "history/archive_layout.h"

namespace tarvelon {
namespace {

void appendHex(std::u16string& text, uint32_t value, int digits) {
    for (int d = digits - 1; d >= 0; --d) text += u"0123456789ABCDEF"[(value >> (4 * d)) & 15];
}

bool plainUnit(char16_t unit) {
    return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') || (unit >= u'0' && unit <= u'9') ||
           unit == u'.' || unit == u'-';
}

std::u16string decimal(int64_t value) {
    std::u16string text;
    const bool negative = value < 0;
    uint64_t rest = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        text.insert(text.begin(), static_cast<char16_t>(u'0' + rest % 10));
        rest /= 10;
    } while (rest != 0);
    return negative ? u"-" + text : text;
}

bool readsAsArchive(PlacedFile* file) {
    uint8_t expected[kArchiveHeaderBytes];
    uint8_t header[kArchiveHeaderBytes];
    archiveHeader(expected);
    return placedFileSize(file) == archiveBytes() && readPlaced(file, 0, header, sizeof header) &&
           std::memcmp(header, expected, sizeof header) == 0;
}

bool startAfresh(PlacedFile* file) {
    uint8_t header[kArchiveHeaderBytes];
    archiveHeader(header);
    // Zeros read as slots of no period: every period a gap.
    return resizePlaced(file, 0) && resizePlaced(file, archiveBytes()) &&
           writePlaced(file, 0, header, sizeof header);
}

// Slots of tier for count periods from the one second falls in, read in runs that do not wrap.
bool readSlots(PlacedFile* file, HistoryTier tier, int64_t second, int32_t count, std::vector<uint8_t>& bytes) {
    const int t = static_cast<int>(tier);
    const int32_t size = tierSlotBytes(tier);
    bytes.resize(static_cast<size_t>(count) * size);
    int32_t done = 0;
    while (done < count) {
        const int64_t at = periodStart(tier, second) + int64_t{done} * kTierPeriodSeconds[t];
        const int64_t offset = slotOffset(tier, at);
        const int64_t index = (offset - tierOffset(tier)) / size;
        const int32_t run = static_cast<int32_t>(std::min<int64_t>(count - done, kTierPeriods[t] - index));
        if (!readPlaced(file, offset, bytes.data() + static_cast<size_t>(done) * size, static_cast<size_t>(run) * size)) {
            return false;
        }
        done += run;
    }
    return true;
}

// The period of coarse starting at start, from the finer tier's slots it covers.
bool rebuildPeriod(PlacedFile* file, HistoryTier fine, HistoryTier coarse, int64_t start) {
    const int32_t parts = kTierPeriodSeconds[static_cast<int>(coarse)] / kTierPeriodSeconds[static_cast<int>(fine)];
    std::vector<PeriodFigures> periods(static_cast<size_t>(parts));
    if (!readPeriods(file, fine, start, parts, periods.data())) return false;
    PeriodSum sum;
    clearPeriodSum(sum);
    for (const PeriodFigures& period : periods) addPeriod(sum, period);
    uint8_t slot[kPeriodSlotBytes];
    encodePeriod(finishPeriod(sum, start), slot);
    return writePlaced(file, slotOffset(coarse, start), slot, sizeof slot);
}

}  // namespace

std::u16string archiveName(const TileKey& key) {
    std::u16string name;
    if (key.host[0] == 0) {
        name = u"local";
    } else {
        for (int i = 0; i < kSlotTextUnits && key.host[i] != 0; ++i) {
            if (plainUnit(key.host[i])) {
                name += key.host[i];
            } else {
                name += u'_';
                appendHex(name, key.host[i], 4);
            }
        }
        name += u"-" + decimal(key.port);
    }
    if (key.gpu >= 0) {
        name += u"-gpu-";
        appendHex(name, static_cast<uint32_t>(key.gpu), key.gpu > 0xFFFF ? 6 : 4);
    }
    return name + kArchiveSuffix;
}

std::u16string asideName(const std::u16string& name, int64_t second) {
    return name + u".unreadable-" + decimal(second);
}

PlacedFile* openArchive(const std::u16string& folder, const TileKey& key, int64_t now) {
    const std::u16string path = folder + u"/" + archiveName(key);
    const bool existed = fileSize(path.c_str()) >= 0;
    if (!existed && !createDirectories(folder.c_str())) return nullptr;
    PlacedFile* file = openPlacedFile(path.c_str(), true);
    if (file == nullptr) return nullptr;
    if (existed && readsAsArchive(file)) return file;
    if (existed && placedFileSize(file) > 0) {
        // Never deleted: what it held may still matter to someone.
        closePlacedFile(file);
        if (!renameFile(path.c_str(), (folder + u"/" + asideName(archiveName(key), now)).c_str())) return nullptr;
        file = openPlacedFile(path.c_str(), true);
        if (file == nullptr) return nullptr;
    }
    if (startAfresh(file)) return file;
    closePlacedFile(file);
    return nullptr;
}

bool writeSeconds(PlacedFile* file, const int64_t* seconds, const HistoryFigures* figures, int32_t count) {
    uint8_t slot[kSecondSlotBytes];
    for (int32_t i = 0; i < count; ++i) {
        encodeSecond(seconds[i], figures[i], slot);
        if (!writePlaced(file, slotOffset(HistoryTier::seconds, seconds[i]), slot, sizeof slot)) return false;
    }
    return true;
}

bool rebuildPeriods(PlacedFile* file, const int64_t* seconds, int32_t count) {
    // Only the periods the seconds fall in: a clock stepped forward between two of them must not
    // sum (and write) every period in between.
    std::vector<int64_t> minutes;
    std::vector<int64_t> hours;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t minute = periodStart(HistoryTier::minutes, seconds[i]);
        const int64_t hour = periodStart(HistoryTier::hours, seconds[i]);
        if (std::find(minutes.begin(), minutes.end(), minute) == minutes.end()) minutes.push_back(minute);
        if (std::find(hours.begin(), hours.end(), hour) == hours.end()) hours.push_back(hour);
    }
    for (const int64_t minute : minutes) {
        if (!rebuildPeriod(file, HistoryTier::seconds, HistoryTier::minutes, minute)) return false;
    }
    for (const int64_t hour : hours) {
        if (!rebuildPeriod(file, HistoryTier::minutes, HistoryTier::hours, hour)) return false;
    }
    return true;
}

int64_t newestArchivedSecond(PlacedFile* file) {
    std::vector<uint8_t> bytes(static_cast<size_t>(kTierPeriods[0]) * kSecondSlotBytes);
    if (!readPlaced(file, tierOffset(HistoryTier::seconds), bytes.data(), bytes.size())) return kNoHistory;
    int64_t newest = kNoHistory;
    for (int32_t i = 0; i < kTierPeriods[0]; ++i) {
        int64_t second = 0;
        if (secondOfSlot(bytes.data() + static_cast<size_t>(i) * kSecondSlotBytes, &second) && second > newest) {
            newest = second;
        }
    }
    return newest;
}

bool readPeriods(PlacedFile* file, HistoryTier tier, int64_t second, int32_t count, PeriodFigures* periods) {
    std::vector<uint8_t> bytes;
    const bool read = file != nullptr && readSlots(file, tier, second, count, bytes);
    const int32_t size = tierSlotBytes(tier);
    const int64_t period = kTierPeriodSeconds[static_cast<int>(tier)];
    const int64_t first = periodStart(tier, second);
    for (int32_t i = 0; i < count; ++i) {
        const int64_t start = first + i * period;
        // A period further back than the tier reaches may find a later one in its slot: still a gap.
        if (!read || !decodeSlot(tier, bytes.data() + static_cast<size_t>(i) * size, start, periods[i])) {
            periods[i] = PeriodFigures{};
            periods[i].start = start;
        }
    }
    return read;
}

bool readTileRange(const char16_t* folder, const TileKey& key, HistoryTier tier, int64_t second, int32_t count,
                   PeriodFigures* periods) {
    return readArchiveRange(std::u16string(folder) + u"/" + archiveName(key), tier, second, count, periods);
}

bool readArchiveRange(const std::u16string& path, HistoryTier tier, int64_t second, int32_t count,
                      PeriodFigures* periods) {
    PlacedFile* file = openPlacedFile(path.c_str(), false);
    bool read = file != nullptr && readsAsArchive(file);
    read = readPeriods(read ? file : nullptr, tier, second, count, periods) && read;
    closePlacedFile(file);
    return read;
}

HistoryTier tierForSpan(int64_t spanSeconds) {
    if (spanSeconds <= kTierPeriods[0]) return HistoryTier::seconds;
    if (spanSeconds <= int64_t{kTierPeriods[1]} * 60) return HistoryTier::minutes;
    return HistoryTier::hours;
}

}  // namespace tarvelon
