#include "alarms/alarm_log.h"

#include "alarms/alarm_command.h"
#include "platform/files.h"

namespace tarvelon {

bool appendAlarmLine(const std::u16string& folder, const std::string& line) {
    if (!createDirectories(folder.c_str())) return false;
    const std::u16string path = folder + u"/tarvelon-alarms.csv";
    const std::string text = fileSize(path.c_str()) > 0 ? line : alarmCsvHeader() + line;
    return appendToFile(path.c_str(), text.data(), text.size());
}

AlarmLogWorker::AlarmLogWorker()
    : queue_([this](const AlarmLogLine& entry) {
          const bool written = appendAlarmLine(entry.folder, entry.line);
          if (!written && !failing_) failureNotice_.store(true);
          failing_ = !written;
      }) {}

}  // namespace tarvelon
