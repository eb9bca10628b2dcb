// The agent's sampler: one pass over the host's files and the GPUs, computed on a copy of the local
// store and published whole, run when figures are asked for rather than on a clock. A question (a
// UDP query, a scrape) that finds the figures older than kFiguresFreshMs runs one pass on its own
// thread; questions arriving while it runs wait for it and take its figures. While nobody asks,
// nothing runs. Rates are over the time since the previous pass: the last second for anyone asking
// once a second or faster, the whole silence for the first question after one.
#pragma once

#include <cstdint>
#include <mutex>

#include "agent/drm_gpus.h"
#include "agent/drm_processes.h"
#include "agent/linux_host.h"
#include "agent/machine_figures.h"
#include "agent/nvml_gpus.h"
#include "agent/nvml_processes.h"
#include "net/process_reply.h"

namespace tarvelon {

// A desktop asks every 900 ms plus the round trip, so each of its questions finds figures this old
// and gets a pass of its own.
constexpr uint64_t kFiguresFreshMs = 900;

struct AgentSampler {
    LinuxHostSampler host;
    NvmlGpus gpus;
    DrmGpus drm;            // AMD's and Intel's, after NVIDIA's
    HostSourceGaps gaps;    // as the last pass found them
    bool keepFigures;       // for the metrics endpoint; set before the first pass
    bool collectProcesses;  // the metrics endpoint names the processes using each GPU
    DrmProcessWalk drmProcesses;
    NvmlProcessReader nvmlProcesses;
    bool processesWalked;
    uint64_t processesWalkedMs;
    uint16_t processTotals[kGpuSlots];  // processes the last look found on each slot, kept or not
    // Held for a whole pass, so one pass runs at a time and those who asked meanwhile find it done.
    std::mutex passLock;
    bool passed;      // a pass has run
    uint64_t passMs;  // when the last one ran (monotonic)
    AgentPassFigures figures;
};

// Runs a pass at nowMs (monotonic) unless the last one is fresh: younger than kFiguresFreshMs, or
// run after nowMs by another asker that got there first. True when this call ran it. Logs the host
// sources that went missing or came back.
bool refreshAgentFigures(AgentSampler& sampler, uint64_t nowMs);

// Refreshes as above, then a copy of what the last pass saw, for the metrics endpoint; with
// collectProcesses, the processes using the GPUs too, looked for again when the last look is as old
// as a pass may be.
AgentPassFigures freshPassFigures(AgentSampler& sampler, uint64_t nowMs);

// The query server's processes question: refreshes as above, looks for the processes using the GPUs
// when the last look is as old as a pass may be (so however often it is asked, /proc is walked at most
// once in kFiguresFreshMs), and fills one list per GPU of the full reply; returns how many.
int processListsForQuery(AgentSampler& sampler, uint64_t nowMs, GpuProcessList (&lists)[kGpuSlots]);

}  // namespace tarvelon
