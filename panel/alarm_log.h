// tarvelon-alarms.csv: one line per raise and clear, appended in the CSV log folder by a thread of its
// own, so that a slow or hanging disk never holds up the panel. The queue holds a few lines; past
// that, lines are dropped.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarvelon {

constexpr int kAlarmLogQueue = 16;

class AlarmLogWorker {
  public:
    AlarmLogWorker();
    ~AlarmLogWorker();
    AlarmLogWorker(const AlarmLogWorker&) = delete;
    AlarmLogWorker& operator=(const AlarmLogWorker&) = delete;

    // Queues line for the file in folder; false when the queue is full. Never waits for a write.
    bool push(const std::u16string& folder, const std::string& line);
    // Waits until every queued line has been handled; for tests.
    void drain();

  private:
    void run();

    struct Entry {
        std::u16string folder;
        std::string line;
    };
    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    Entry queue_[kAlarmLogQueue];
    int first_ = 0;
    int count_ = 0;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

// Appends line to folder\tarvelon-alarms.csv, with the header first when the file is new.
bool appendAlarmLine(const std::u16string& folder, const std::string& line);

}  // namespace tarvelon
