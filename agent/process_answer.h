// The agent's answer to the query server's processes question: the processes its last look found on
// each GPU, in the order of the full reply's GPU records, the busiest first, as the wire carries them.
#pragma once

#include <cstdint>
#include <vector>

#include "agent/gpu_processes.h"
#include "net/process_reply.h"
#include "telemetry/local_store.h"

namespace tarvelon {

// processes: by slot, as the look kept them; totals: how many each slot had before any were left
// out. One list per present GPU of the store; returns how many.
int processAnswerLists(const std::vector<GpuProcess>& processes, const uint16_t (&totals)[kGpuSlots],
                       const LocalStore& store, GpuProcessList (&lists)[kGpuSlots]);

}  // namespace tarvelon
