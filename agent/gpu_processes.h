// Which processes use each GPU, as /metrics shows them: the text of a DRM client's fdinfo entry
// (amdgpu, i915, xe) parsed into its GPU, client and counters, the busy share of an engine from two
// readings of its counter, and the choice of the processes a GPU's series name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvelon {

// More processes a GPU than this would make a series set no dashboard can show.
constexpr size_t kMostProcessesPerGpu = 20;
// Engines a client tells of: amdgpu has the most (gfx, compute, dma, dec, enc, enc_1, jpeg, vpe).
constexpr int kMostDrmEngines = 12;
constexpr size_t kDrmEngineNameBytes = 24;

struct DrmEngineTime {
    char name[kDrmEngineNameBytes];
    uint64_t busyNs;    // drm-engine-NAME
    uint32_t capacity;  // drm-engine-capacity-NAME: engines of the class, 1 when not told
};

// One DRM file's usage as its fdinfo entry tells it; a key that does not read is as if absent.
struct DrmClientUsage {
    std::string pdev;  // drm-pdev, the GPU's PCI address
    bool clientIdRead;
    uint64_t clientId;  // drm-client-id: unique per open file, shared by every descriptor of it
    bool memoryRead;
    uint64_t memoryBytes;  // drm-memory-vram, else drm-resident-vram0, else drm-resident-local0
    int engineCount;
    DrmEngineTime engines[kMostDrmEngines];
};

// False when the entry is not a DRM client (no drm-pdev or drm-client-id that reads).
bool parseDrmFdinfo(const std::string& text, DrmClientUsage* usage);

// The share of wallNs an engine class of capacity engines was busy, from its counter at two
// readings; false when it has none (no time passed, the counter went back: the file is another one).
bool engineBusyShare(uint64_t beforeNs, uint64_t afterNs, uint64_t wallNs, uint32_t capacity, double* share);

struct GpuProcess {
    int slot;  // the index the other GPU series use
    uint32_t pid;
    std::string command;  // /proc/PID/comm, UTF-8
    bool memoryRead;
    uint64_t memoryBytes;
    bool busyRead;
    double busyRatio;  // 0 to 1
};

// Keeps the kMostProcessesPerGpu of each slot with the most memory, then the busiest, and orders
// them by slot, then so.
void keepTopProcesses(std::vector<GpuProcess>& processes);

// A /proc/PID/comm text as a label value: its line, cleaned to UTF-8.
std::string commandName(const std::string& comm);

}  // namespace tarvelon
