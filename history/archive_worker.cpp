#include "history/archive_worker.h"

#include <chrono>
#include <utility>

#include "history/history_export.h"
#include "history/tile_archive.h"
#include "platform/clock.h"

namespace tarvelon {

ArchiveWorker::ArchiveWorker(std::u16string folder)
    : folder_(std::move(folder)),
      incoming_(new ArchiveTile[kHistoryTiles]),
      configured_(new TileKey[kServerSlots + 1]),
      writing_(new ArchiveTile[kHistoryTiles]),
      seen_(new TileKey[kHistoryTiles]),
      thread_([this] { run(); }) {}

ArchiveWorker::~ArchiveWorker() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void ArchiveWorker::record(const TileKey& key, int64_t second, const HistoryFigures& figures) {
    std::lock_guard<std::mutex> guard(lock_);
    // Tiles come in the same order each tick: the search starts after the last one found.
    ArchiveTile* tile = nullptr;
    for (int n = 0; n < incomingCount_ && tile == nullptr; ++n) {
        const int i = (incomingNext_ + n) % incomingCount_;
        if (sameTile(incoming_[i].key, key)) {
            tile = &incoming_[i];
            incomingNext_ = i + 1;
        }
    }
    if (tile == nullptr) {
        if (incomingCount_ == kHistoryTiles) {
            // Tiles that have gone (a server renamed, taken off the list) make room for new ones.
            int kept = 0;
            for (int i = 0; i < incomingCount_; ++i) {
                if (incoming_[i].count != 0) incoming_[kept++] = incoming_[i];
            }
            incomingCount_ = kept;
            incomingNext_ = 0;
            if (incomingCount_ == kHistoryTiles) return;
        }
        tile = &incoming_[incomingCount_++];
        tile->key = key;
        tile->count = 0;
    }
    if (tile->count == kArchivePending) return;
    tile->seconds[tile->count] = second;
    std::copy(figures, figures + kHistoryFigures, tile->figures[tile->count]);
    ++tile->count;
}

void ArchiveWorker::setTileIndex(const std::string& index) {
    std::lock_guard<std::mutex> guard(lock_);
    if (index == index_) return;
    index_ = index;
    indexChanged_ = true;
}

void ArchiveWorker::setConfiguredHosts(const TileKey* hosts, int32_t count) {
    std::lock_guard<std::mutex> guard(lock_);
    configuredCount_ = count < kServerSlots + 1 ? count : kServerSlots + 1;
    std::copy(hosts, hosts + configuredCount_, configured_.get());
}

void ArchiveWorker::flush(int32_t patienceMs) {
    std::unique_lock<std::mutex> guard(lock_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    // A flush under way may have taken its seconds before the last ones came: two more end it.
    const uint64_t until = flushes_ + 2;
    while (flushes_ < until) {
        flushAsked_ = true;
        wake_.notify_one();
        if (patienceMs < 0) {
            flushed_.wait(guard);
        } else if (flushed_.wait_until(guard, deadline) == std::cv_status::timeout) {
            return;
        }
    }
}

void ArchiveWorker::run() {
    std::unique_lock<std::mutex> guard(lock_);
    while (true) {
        wake_.wait_for(guard, std::chrono::seconds(kArchiveFlushSeconds), [&] { return stopping_ || flushAsked_; });
        flushAsked_ = false;
        // Take what has come; tiles with nothing stay listed for the search, with nothing to write.
        writingCount_ = 0;
        for (int i = 0; i < incomingCount_; ++i) {
            if (incoming_[i].count == 0) continue;
            writing_[writingCount_++] = incoming_[i];
            incoming_[i].count = 0;
        }
        const bool stopping = stopping_;
        const bool indexChanged = indexChanged_;
        if (indexChanged) writtenIndex_ = index_;
        indexChanged_ = false;
        guard.unlock();
        writeAll();
        if (indexChanged) writeIndex();
        guard.lock();
        ++flushes_;
        flushed_.notify_all();
        if (stopping) return;
    }
}

void ArchiveWorker::writeAll() {
    for (int i = 0; i < writingCount_; ++i) writeTile(writing_[i]);
    const int64_t now = wallClockSeconds();
    if (!pruneDue(pruneSchedule_, now, static_cast<int64_t>(tickCountMs()))) return;
    std::unique_ptr<TileKey[]> configured(new TileKey[kServerSlots + 1]);
    int32_t count = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        count = configuredCount_;
        std::copy(configured_.get(), configured_.get() + count, configured.get());
    }
    pruneArchives(folder_, now, configured.get(), count);
}

void ArchiveWorker::writeTile(const ArchiveTile& tile) {
    PlacedFile* file = openArchive(folder_, tile.key, tile.seconds[tile.count - 1]);
    if (file == nullptr) return;  // tried again with the next seconds
    bool seen = false;
    for (int i = 0; i < seenCount_ && !seen; ++i) seen = sameTile(seen_[i], tile.key);
    if (!seen && seenCount_ < kHistoryTiles) {
        seen_[seenCount_++] = tile.key;
        // Killed between its seconds and their periods, the last run left the periods of its last
        // seconds short: they are summed again, whenever the clock now says it is.
        const int64_t last = newestArchivedSecond(file);
        if (last != kNoHistory) {
            const int64_t lastWritten[] = {last - kArchivePending + 1, last};
            rebuildPeriods(file, lastWritten, 2);
        }
    }
    if (writeSeconds(file, tile.seconds, tile.figures, tile.count)) rebuildPeriods(file, tile.seconds, tile.count);
    closePlacedFile(file);
}

// Replaced whole, through a file beside it, so that an export never reads half an index.
void ArchiveWorker::writeIndex() {
    const std::u16string path = folder_ + u"/" + kTileIndexName;
    const std::u16string next = path + u".new";
    if (!createDirectories(folder_.c_str()) || !replaceFile(next.c_str(), writtenIndex_.data(), writtenIndex_.size()) ||
        !renameFile(next.c_str(), path.c_str())) {
        std::lock_guard<std::mutex> guard(lock_);
        indexChanged_ = true;  // tried again with the next write
    }
}

bool pruneDue(PruneSchedule& schedule, int64_t wallSeconds, int64_t tickMs) {
    if (!schedule.started) {
        schedule = {true, wallSeconds, tickMs, tickMs + kPruneFirstMs};
        return false;
    }
    const int64_t drift = (wallSeconds - schedule.lastWall) - (tickMs - schedule.lastTickMs) / 1000;
    schedule.lastWall = wallSeconds;
    schedule.lastTickMs = tickMs;
    if (drift > kClockStepSeconds || drift < -kClockStepSeconds) {
        if (schedule.dueTickMs < tickMs + kPruneFirstMs) schedule.dueTickMs = tickMs + kPruneFirstMs;
        return false;
    }
    if (tickMs < schedule.dueTickMs) return false;
    schedule.dueTickMs = tickMs + kPruneEveryMs;
    return true;
}

bool archiveOfHost(const std::u16string& fileName, const TileKey& host) {
    const std::u16string name = archiveName(host);
    const std::u16string gpus = name.substr(0, name.size() - std::u16string(kArchiveSuffix).size()) + u"-gpu-";
    return fileName == name || fileName.compare(0, gpus.size(), gpus) == 0;
}

void pruneArchives(const std::u16string& folder, int64_t now, const TileKey* configured, int32_t configuredCount) {
    constexpr int kListed = 4096;
    std::unique_ptr<FolderFile[]> files(new FolderFile[kListed]);
    const int count = listFolder(folder.c_str(), files.get(), kListed);
    const std::u16string suffix(kArchiveSuffix);
    for (int i = 0; i < count; ++i) {
        const std::u16string name(files[i].name);
        const bool archive = name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
        if (!archive || now - files[i].written < kArchiveKeptSeconds) continue;
        bool kept = false;
        for (int32_t c = 0; c < configuredCount && !kept; ++c) kept = archiveOfHost(name, configured[c]);
        if (!kept) deleteFile((folder + u"/" + name).c_str());
    }
}

}  // namespace tarvelon
