// The seven integers a tile shows, in row order, before they are formatted: what the history keeps
// and the CSV log writes.
#pragma once

#include "history/history_ring.h"
#include "telemetry/records.h"

namespace tarvelon {

void hostFigures(const HostRecord& host, HistoryFigures& figures);
void gpuFigures(const GpuRecord& gpu, HistoryFigures& figures);

}  // namespace tarvelon
