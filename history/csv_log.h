// The CSV log's decisions, one line at a time: which file a line goes to (a new one each local day),
// when a header starts a block (a new file, the first line this run, another set of GPUs), and what
// happens when the folder cannot be written: one notice, then the log pauses and tries again each
// minute. File access goes through platform/files.h; the worker thread calls this.
#pragma once

#include <cstdint>
#include <string>

#include "history/history_ring.h"
#include "platform/local_time.h"
#include "settings/settings.h"
#include "telemetry/records.h"

namespace tarvelon {

constexpr int64_t kCsvRetrySeconds = 60;
// A folder typed into General Setup is used once it has stood this many ticks, so the letters on the
// way to it ("C", "C:") are never written to.
constexpr int kCsvFolderSettleTicks = 3;

// One second of the local tiles, as the panel took it.
struct CsvLine {
    LocalTime time;
    int64_t tick;  // monotonic seconds, for the retry policy
    char16_t directory[kSettingTextUnits];
    int32_t gpuCount;
    uint16_t gpuKeys[kGpuSlots];  // PCI bus and slot of each GPU: the set of GPUs
    HistoryFigures figures[1 + kGpuSlots];  // the host's, then each GPU's
};

enum class CsvOutcome : uint8_t {
    written,
    paused,      // dropped: a failure less than a minute ago
    failed,      // the first failure after writing worked: time for the one notice
    failedAgain, // a retry failed
};

struct CsvFolderSettle {
    std::u16string typed;
    int ticks = 0;
};

// Once a tick with the folder setting: true when it is set and has stood long enough to be used.
bool csvFolderSettled(CsvFolderSettle& settle, const char16_t* folder);

struct CsvLogState {
    std::u16string file;  // the file the last block was started in; empty: none yet
    int32_t gpuCount = -1;
    uint16_t gpuKeys[kGpuSlots] = {};
    bool paused = false;
    int64_t retryTick = 0;
    std::u16string failedFolder;  // the pause holds for this folder only
};

// The file's path for line: its folder and the day's file name.
std::u16string csvLogPath(const CsvLine& line);
CsvOutcome writeCsvLine(CsvLogState& state, const CsvLine& line);

}  // namespace tarvelon
