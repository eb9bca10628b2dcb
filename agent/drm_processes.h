// The processes using the agent's AMD and Intel GPUs, from /proc/PID/fdinfo: every DRM client whose
// drm-pdev is one of the GPUs, counted once however many descriptors (or processes) share it, its
// memory as told and its busy share from how far its engine counters moved since the last walk.
// Walking /proc costs a directory listing a process, so it runs only when a scrape asks for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/gpu_processes.h"

namespace tarvelon {

// A client as the last walk saw it: whose it was and where its counters stood.
struct DrmClientSeen {
    std::string pdev;
    uint64_t clientId;
    uint32_t pid;
    int engineCount;
    DrmEngineTime engines[kMostDrmEngines];
};

struct DrmProcessWalk {
    std::string root;  // prefix of /proc, "" for the machine itself
    bool walked;
    uint64_t walkedAtNs;  // monotonic
    std::vector<DrmClientSeen> seen;
    std::string text;  // the read buffer
};

DrmProcessWalk makeDrmProcessWalk(const std::string& root);

// The GPU at each address fills slot firstSlot + its index. Appends one GpuProcess per process
// and GPU; the busy share is there from the second walk on, over the time between the two.
void walkDrmProcesses(DrmProcessWalk& walk, const std::vector<std::string>& addresses, int firstSlot,
                      uint64_t nowNs, std::vector<GpuProcess>* processes);

}  // namespace tarvelon
