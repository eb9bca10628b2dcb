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
    if (now - prunedAt_ >= 24 * 3600) {
        pruneArchives(folder_, now);
        prunedAt_ = now;
    }
}

void ArchiveWorker::writeTile(const ArchiveTile& tile) {
    const int64_t newest = tile.seconds[tile.count - 1];
    PlacedFile* file = openArchive(folder_, tile.key, newest);
    if (file == nullptr) return;  // tried again with the next seconds
    int64_t first = tile.seconds[0];
    bool seen = false;
    for (int i = 0; i < seenCount_ && !seen; ++i) seen = sameTile(seen_[i], tile.key);
    if (!seen && seenCount_ < kHistoryTiles) {
        seen_[seenCount_++] = tile.key;
        // The periods open when the program last stopped may lack their last seconds: all that the
        // seconds tier still holds is summed again.
        first = newest - kTierPeriods[0] + 1;
    }
    if (writeSeconds(file, tile.seconds, tile.figures, tile.count)) rebuildPeriods(file, first, newest);
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

void pruneArchives(const std::u16string& folder, int64_t now) {
    constexpr int kListed = 4096;
    std::unique_ptr<FolderFile[]> files(new FolderFile[kListed]);
    const int count = listFolder(folder.c_str(), files.get(), kListed);
    const std::u16string suffix(kArchiveSuffix);
    for (int i = 0; i < count; ++i) {
        const std::u16string name(files[i].name);
        const bool archive = name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
        if (archive && now - files[i].written >= kArchiveKeptSeconds) deleteFile((folder + u"/" + name).c_str());
    }
}

}  // namespace tarvelon
