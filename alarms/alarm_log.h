// tarvelon-alarms.csv: one line per raise and clear, appended in the CSV log folder by a thread of its
// own, so that a slow or hanging disk never holds up the panel. The queue holds a few ticks' lines;
// past that, lines are dropped. A file that cannot be written (a spreadsheet holds it open) loses its
// lines too, and says so once until a write works again.
#pragma once

#include <atomic>
#include <string>

#include "history/write_queue.h"

namespace tarvelon {

constexpr int kAlarmLogQueue = 16;

struct AlarmLogLine {
    std::u16string folder;
    std::string line;
};

class AlarmLogWorker {
  public:
    AlarmLogWorker();

    // Queues lines (one tick's) for the file in folder; false when the queue is full. Never waits for
    // a write.
    bool push(const std::u16string& folder, const std::string& lines) { return queue_.push({folder, lines}); }
    // True once after a write failed where it had worked (or at the first failure): time for the notice.
    bool takeFailureNotice() { return failureNotice_.exchange(false); }
    // Waits until every queued line has been handled; for tests.
    void drain() { queue_.drain(); }

  private:
    std::atomic<bool> failureNotice_{false};
    bool failing_ = false;                            // the worker thread's only
    WriteQueue<AlarmLogLine, kAlarmLogQueue> queue_;  // last: its thread uses the members above
};

// Appends line to folder\tarvelon-alarms.csv, with the header first when the file is new.
bool appendAlarmLine(const std::u16string& folder, const std::string& line);

}  // namespace tarvelon
