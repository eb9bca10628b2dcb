// The archives' own thread: the panel hands it each tile's second and never waits for the disk. It
// writes what has come every few seconds (a killed program loses at most that much), rebuilds the
// minutes and hours those seconds fall in, and once a day deletes archives no tile has written for
// 30 days (a server taken off the list). A set-aside archive, and the archives of this PC and of the
// servers configured, are never deleted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "history/history_read.h"
#include "history/history_tiles.h"
#include "platform/files.h"

namespace tarvelon {

constexpr int32_t kArchiveFlushSeconds = 5;
constexpr int64_t kArchiveKeptSeconds = 30 * 24 * 3600;
// Seconds a tile may have waiting: a flush and some more while a write hangs; later ones are dropped.
constexpr int kArchivePending = 2 * kArchiveFlushSeconds;

// When to delete old archives, judged by the monotonic clock: not in the first hour of a run (servers
// that have not answered yet), then once a day, and never at a step of the wall clock (a file's age
// would be measured against a clock that jumped), only an hour after the last one seen.
constexpr int64_t kPruneFirstMs = 3600 * 1000;
constexpr int64_t kPruneEveryMs = 24 * 3600 * 1000;
constexpr int64_t kClockStepSeconds = 60;  // between two writes, more than the clock may drift
struct PruneSchedule {
    bool started = false;
    int64_t lastWall = 0;    // seconds
    int64_t lastTickMs = 0;  // of the same call
    int64_t dueTickMs = 0;
};
// Once at each write: true when archives are to be pruned now.
bool pruneDue(PruneSchedule& schedule, int64_t wallSeconds, int64_t tickMs);

// An archive of host (a host tile's key) or of one of its GPUs, by its file name (an archive's).
bool archiveOfHost(const std::u16string& fileName, const TileKey& host);

struct ArchiveTile {
    TileKey key;
    int32_t count;
    int64_t seconds[kArchivePending];
    HistoryFigures figures[kArchivePending];
};

class ArchiveWorker {
  public:
    explicit ArchiveWorker(std::u16string folder);
    ~ArchiveWorker();
    ArchiveWorker(const ArchiveWorker&) = delete;
    ArchiveWorker& operator=(const ArchiveWorker&) = delete;

    // One second of a tile, from the panel's tick. Never waits for a write.
    void record(const TileKey& key, int64_t second, const HistoryFigures& figures);
    // The index of the tiles shown (see history_export.h), written when it changes.
    void setTileIndex(const std::string& index);
    // The host tiles configured (this PC and every server on the list, shown or not), whose archives
    // are kept however old.
    void setConfiguredHosts(const TileKey* hosts, int32_t count);
    // Writes whatever has come and waits until it is written, or patienceMs at most (negative: as long
    // as it takes); for tests and the end of the program, which a hung disk must not hold up.
    void flush(int32_t patienceMs = -1);

  private:
    void run();
    void writeAll();
    void writeTile(const ArchiveTile& tile);
    void writeIndex();

    std::u16string folder_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable flushed_;
    std::unique_ptr<ArchiveTile[]> incoming_;  // guarded by lock_
    int32_t incomingCount_ = 0;
    int32_t incomingNext_ = 0;
    bool flushAsked_ = false;
    std::string index_;  // guarded by lock_
    bool indexChanged_ = false;
    std::unique_ptr<TileKey[]> configured_;  // guarded by lock_
    int32_t configuredCount_ = 0;
    uint64_t flushes_ = 0;  // writes done
    bool stopping_ = false;
    // The worker thread's only.
    std::unique_ptr<ArchiveTile[]> writing_;
    int32_t writingCount_ = 0;
    std::unique_ptr<TileKey[]> seen_;  // tiles written this run, whose last periods have been rebuilt
    int32_t seenCount_ = 0;
    PruneSchedule pruneSchedule_;
    std::string writtenIndex_;
    std::thread thread_;
};

// Deletes the archives in folder that were last written kArchiveKeptSeconds or more before now, but
// those of the configured hosts.
void pruneArchives(const std::u16string& folder, int64_t now, const TileKey* configured, int32_t configuredCount);

}  // namespace tarvelon
