// Which processes use a GPU and how much: one sample of each process's engine running times and
// dedicated memory on one adapter, and the ranking of two samples into rows. A process is known by
// its id and its start time together, so an id the system handed to a new process never carries the
// old one's name or has its share measured against the old one's counters. Processes that could not
// be opened share one row without a name: what the adapter's own figures show beyond the named ones.
#pragma once

#include <cstdint>

#include "platform/processes.h"

namespace tarvelon {

constexpr int kMaxSampledProcesses = 128;  // processes with figures on one adapter
constexpr int kMaxProcessNodes = 32;       // engines counted per process
constexpr int kMaxProcessRows = 129;       // every sampled process and the unnamed row

struct ProcessOnGpu {
    uint32_t pid;
    uint64_t startTime;
    char16_t name[kProcessNameUnits];  // empty when the image's name could not be read
    int32_t nodeCount;
    bool nodeRead[kMaxProcessNodes];
    int64_t runningTimes[kMaxProcessNodes];  // 100 ns units
    uint64_t dedicatedBytes;                 // committed in the adapter's own (non-aperture) segments
};

struct GpuProcessSample {
    bool taken;
    uint64_t takenAt;  // monotonic, 100 ns units
    int32_t count;     // processes kept; those beyond the table are left out
    ProcessOnGpu processes[kMaxSampledProcesses];
    int32_t unopened;   // processes that could not be opened
    int32_t nodeCount;  // the adapter's own figures, for the unnamed row
    bool nodeRead[kMaxProcessNodes];
    int64_t runningTimes[kMaxProcessNodes];
    bool dedicatedRead;
    uint64_t dedicatedBytes;
};

struct GpuProcessRow {
    bool unnamed;  // the processes that could not be opened
    uint32_t pid;
    char16_t name[kProcessNameUnits];
    int32_t loadPct;  // the busiest engine's share of the time between the samples, 0 to 100
    uint64_t memoryBytes;
};

// The rows of the current sample with load or memory above 0, by load then memory, highest first
// (then by id), at most capacity of them; previous is the sample a second or so before it. Returns
// the number of rows.
int32_t rankGpuProcesses(const GpuProcessSample& previous, const GpuProcessSample& current,
                         GpuProcessRow* rows, int32_t capacity);

}  // namespace tarvelon
