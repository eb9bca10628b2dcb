// The CSV log's own thread: the panel hands it a line a second and never waits for the disk. The
// queue holds a few lines; while a write hangs (a stalled network drive) further lines are dropped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "history/csv_log.h"

namespace tarvelon {

constexpr int kCsvQueueLines = 8;

class CsvLogWorker {
  public:
    CsvLogWorker();
    ~CsvLogWorker();
    CsvLogWorker(const CsvLogWorker&) = delete;
    CsvLogWorker& operator=(const CsvLogWorker&) = delete;

    // Queues line; false when the queue is full and the line was dropped. Never waits for a write.
    bool push(const CsvLine& line);
    // True once after a write failed where it had worked (or at the first failure): time for the notice.
    bool takeFailureNotice() { return failureNotice_.exchange(false); }
    // Waits until every queued line has been handled; for tests.
    void drain();

  private:
    void run();

    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    CsvLine queue_[kCsvQueueLines];
    int first_ = 0;
    int count_ = 0;
    bool busy_ = false;
    bool stopping_ = false;
    std::atomic<bool> failureNotice_{false};
    CsvLogState state_;  // the worker thread's only
    std::thread thread_;
};

}  // namespace tarvelon
