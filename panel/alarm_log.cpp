#include "panel/alarm_log.h"

#include "panel/alarm_command.h"
#include "platform/files.h"

namespace tarvelon {

bool appendAlarmLine(const std::u16string& folder, const std::string& line) {
    if (!createDirectories(folder.c_str())) return false;
    const std::u16string path = folder + u"/tarvelon-alarms.csv";
    const std::string text = fileSize(path.c_str()) > 0 ? line : alarmCsvHeader() + line;
    return appendToFile(path.c_str(), text.data(), text.size());
}

AlarmLogWorker::AlarmLogWorker() : thread_([this] { run(); }) {}

AlarmLogWorker::~AlarmLogWorker() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool AlarmLogWorker::push(const std::u16string& folder, const std::string& line) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (count_ == kAlarmLogQueue) return false;
        queue_[(first_ + count_) % kAlarmLogQueue] = {folder, line};
        ++count_;
    }
    wake_.notify_one();
    return true;
}

void AlarmLogWorker::drain() {
    std::unique_lock<std::mutex> guard(lock_);
    drained_.wait(guard, [this] { return count_ == 0 && !busy_; });
}

void AlarmLogWorker::run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || count_ != 0; });
        if (stopping_) return;
        const Entry entry = queue_[first_];
        first_ = (first_ + 1) % kAlarmLogQueue;
        --count_;
        busy_ = true;
        guard.unlock();
        appendAlarmLine(entry.folder, entry.line);
        guard.lock();
        busy_ = false;
        if (count_ == 0) drained_.notify_all();
    }
}

}  // namespace tarvelon
