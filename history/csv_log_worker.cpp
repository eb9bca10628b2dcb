#include "history/csv_log_worker.h"

namespace tarvelon {

CsvLogWorker::CsvLogWorker()
    : queue_([this](const CsvLine& line) {
          if (writeCsvLine(state_, line) == CsvOutcome::failed) failureNotice_.store(true);
      }) {}

}  // namespace tarvelon
