// The desk's answer to the processes question: each question asks the sampler to read the processes
// of every present local GPU (as an open history window does, so the reading stops soon after the
// questions do) and answers with the rows it last read, in the order of the full reply's GPU records.
#pragma once

#include <cstdint>

#include "net/process_reply.h"
#include "telemetry/gpu_processes.h"
#include "telemetry/local_store.h"

namespace tarvelon {

// One GPU's ranked rows (count of them, -1 when none were read yet) as the wire carries them: the
// first kMostWireProcesses, with the number of rows as the total.
GpuProcessList wireListOfRows(const GpuRecord& gpu, const GpuProcessRow* rows, int32_t count);

// The server's source on the desk.
int localProcessLists(GpuProcessList (&lists)[kGpuSlots]);

}  // namespace tarvelon
