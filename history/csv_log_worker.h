// The CSV log's own thread: the panel hands it a line a second and never waits for the disk.
#pragma once

#include <atomic>

#include "history/csv_log.h"
#include "history/write_queue.h"

namespace tarvelon {

constexpr int kCsvQueueLines = 8;

class CsvLogWorker {
  public:
    CsvLogWorker();

    // Queues line; false when the queue is full and the line was dropped. Never waits for a write.
    bool push(const CsvLine& line) { return queue_.push(line); }
    // True once after a write failed where it had worked (or at the first failure): time for the notice.
    bool takeFailureNotice() { return failureNotice_.exchange(false); }
    // Waits until every queued line has been handled; for tests.
    void drain() { queue_.drain(); }

  private:
    std::atomic<bool> failureNotice_{false};
    CsvLogState state_;                          // the worker thread's only
    WriteQueue<CsvLine, kCsvQueueLines> queue_;  // last: its thread uses the members above
};

}  // namespace tarvelon
