#include "history/csv_log_worker.h"

namespace tarvelon {

CsvLogWorker::CsvLogWorker() : thread_([this] { run(); }) {}

CsvLogWorker::~CsvLogWorker() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool CsvLogWorker::push(const CsvLine& line) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (count_ == kCsvQueueLines) return false;
        queue_[(first_ + count_) % kCsvQueueLines] = line;
        ++count_;
    }
    wake_.notify_one();
    return true;
}

void CsvLogWorker::drain() {
    std::unique_lock<std::mutex> guard(lock_);
    drained_.wait(guard, [this] { return count_ == 0 && !busy_; });
}

void CsvLogWorker::run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || count_ != 0; });
        if (stopping_) return;
        const CsvLine line = queue_[first_];
        first_ = (first_ + 1) % kCsvQueueLines;
        --count_;
        busy_ = true;
        guard.unlock();
        if (writeCsvLine(state_, line) == CsvOutcome::failed) failureNotice_.store(true);
        guard.lock();
        busy_ = false;
        if (count_ == 0) drained_.notify_all();
    }
}

}  // namespace tarvelon
