// tarvelon-alarms.csv: one line per raise and clear, appended in the CSV log folder by a thread of its
// own, so that a slow or hanging disk never holds up the panel. The queue holds a few lines; past
// that, lines are dropped.
#pragma once

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

    // Queues line for the file in folder; false when the queue is full. Never waits for a write.
    bool push(const std::u16string& folder, const std::string& line) { return queue_.push({folder, line}); }
    // Waits until every queued line has been handled; for tests.
    void drain() { queue_.drain(); }

  private:
    WriteQueue<AlarmLogLine, kAlarmLogQueue> queue_;
};

// Appends line to folder\tarvelon-alarms.csv, with the header first when the file is new.
bool appendAlarmLine(const std::u16string& folder, const std::string& line);

}  // namespace tarvelon
