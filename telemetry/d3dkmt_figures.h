// How one adapter's answers to the kernel-thunk queries become the figures of its GpuRecord, the same
// record an NVIDIA GPU fills, so every reader of the record works for it unchanged. A figure the
// driver does not give (its query failed, or it answered 0 or a number no GPU can show) is left as an
// NVIDIA GPU's unreported figure is: 0, and a clock keeps its last value.
#pragma once

#include <cstdint>

#include "telemetry/d3dkmt_types.h"
#include "telemetry/records.h"

namespace tarvelon {

constexpr int kMaxAdapterNodes = 64;     // engines; a driver counting more is not believed
constexpr int kMaxAdapterSegments = 32;  // memory segments, likewise
// Dedicated memory below this is a carve-out of an integrated GPU, which works in shared memory.
constexpr uint64_t kCarveOutBytes = 512ull << 20;

// Load is measured over at least this much wall time (100 ns units): over less, the moments at
// which the two samples were taken weigh too much.
constexpr uint64_t kMinLoadWindow100ns = 2'500'000;

// One node's running time as a pass read it, beside the baseline it is measured from. Times are
// on the monotonic clock, in the 100 ns units the running time counts.
struct NodeRunningTime {
    bool read;
    int64_t runningTime;
    uint64_t readAt;
    bool previousRead;
    int64_t previousRunningTime;
    uint64_t previousReadAt;
};

// One segment's statistics as the pass read them.
struct SegmentReading {
    bool read;
    bool aperture;
    uint64_t bytesResident;
};

// What one pass asked of one adapter. Counts beyond the tables' size were refused when the adapter
// was scanned (nodeCount or segmentCount is then -1: not given).
struct D3dkmtReadings {
    const char16_t* name;  // AdapterString as the driver gave it, not necessarily terminated
    int32_t nameUnits;     // units of name that may be read
    D3dkmtAdapterAddress address;
    int32_t nodeCount;
    NodeRunningTime nodes[kMaxAdapterNodes];
    bool segmentSizeRead;
    D3dkmtSegmentSizeInfo segmentSize;
    int32_t segmentCount;
    SegmentReading segments[kMaxAdapterSegments];
    bool nodePerfRead;  // of the 3D engine
    D3dkmtNodePerfData nodePerf;
    bool adapterPerfRead;
    D3dkmtAdapterPerfData adapterPerf;
};

// The clocks an adapter last gave, kept with the adapter rather than in a slot, since an adapter's
// slot moves when another adapter goes.
struct KeptClocks {
    uint16_t coreBoostMhz;
    uint16_t coreMhz;
    uint16_t memBoostMhz;
    uint16_t memMhz;
};

// Fills gpu from readings; kept gains every clock this pass gave.
void fillD3dkmtRecord(GpuRecord& gpu, const D3dkmtReadings& readings, KeptClocks& kept);

// The busiest engine's share of the wall time since its baseline, 0 to 100; -1 when no engine gave
// a sound figure.
int32_t busiestEngineLoad(const D3dkmtReadings& readings);

// Whether a node's reading becomes the baseline of the next pass: not when the read failed, nor while
// its window is still too short to measure, so that the next pass measures over a longer one.
bool startsNewBaseline(const NodeRunningTime& node);

}  // namespace tarvelon
